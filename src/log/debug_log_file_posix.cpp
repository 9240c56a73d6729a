#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include "log/debug_log_file.h"

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;

void AppendDebugLogLine(const char* path, const char* text, size_t length) {
    pthread_mutex_lock(&lock);
    int file = open(path, O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (file >= 0) {
        if (write(file, text, length) == static_cast<ssize_t>(length))
            (void)!write(file, "\n", 1);
        close(file);
    }
    pthread_mutex_unlock(&lock);
}
