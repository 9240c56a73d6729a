#include <windows.h>

#include "log/debug_log_lock.h"

namespace {

// Initialised while the module loads, before any worker can exist.
struct DebugLogLock {
    CRITICAL_SECTION section;
    DebugLogLock() { InitializeCriticalSection(&section); }
    ~DebugLogLock() { DeleteCriticalSection(&section); }
};

DebugLogLock lock;

}  // namespace

void LockDebugLog() { EnterCriticalSection(&lock.section); }
void UnlockDebugLog() { LeaveCriticalSection(&lock.section); }
