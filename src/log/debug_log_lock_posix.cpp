#include <pthread.h>

#include "log/debug_log_lock.h"

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;

void LockDebugLog() { pthread_mutex_lock(&lock); }
void UnlockDebugLog() { pthread_mutex_unlock(&lock); }
