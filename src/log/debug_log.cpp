#include "log/debug_log.h"

#include <cstdarg>
#include <cstdio>

#include "log/debug_log_lock.h"

void WriteDebugLog(const DockletInstance* instance, const char* format, ...) {
    LockDebugLog();
    FILE* file = fopen(instance->logPath, "a+");
    if (file) {
        va_list arguments;
        va_start(arguments, format);
        vfprintf(file, format, arguments);
        va_end(arguments);
        fputs("\n", file);
        fclose(file);
    }
    UnlockDebugLog();
}
