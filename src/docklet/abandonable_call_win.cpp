#include "docklet/abandonable_call_win.h"

#include <cstdlib>
#include <cstring>

#include "docklet/worker_wait_win.h"
#include "text/bounded_text.h"

namespace {

// Room for any key the docklet uses (a DBX path, a registry path), terminator included.
const size_t kKeySize = 520;
// Keyed calls outstanding at once in the module; more are not started.
const int kMaxKeyedCalls = 32;

// Shared by the caller and the call's thread (and, for a keyed call, whoever
// waits for it to end); the last to let go frees it.
struct PendingCall {
    LONG references;
    HANDLE done;
    HMODULE module;  // this module, held loaded until the thread has ended
    bool keyed;      // listed in the keyed calls until it ends
    bool abandoned;  // its caller gave up waiting; under the keyed calls' lock
    char key[kKeySize];
    void (*call)(void* data);
    alignas(8) unsigned char data[1];  // size bytes follow
};

// The keyed calls that have not ended. An abandoned call may outlive the item
// that made it, but never the module, which its thread holds loaded: the
// list belongs to the module. Initialised while the module loads.
struct KeyedCalls {
    CRITICAL_SECTION lock;
    PendingCall* calls[kMaxKeyedCalls];
    KeyedCalls() : calls() { InitializeCriticalSection(&lock); }
    ~KeyedCalls() { DeleteCriticalSection(&lock); }
};

KeyedCalls keyedCalls;

void Release(PendingCall* pending) {
    if (InterlockedDecrement(&pending->references) == 0) {
        CloseHandle(pending->done);
        free(pending);
    }
}

// The listed call of this function and key, or null; under the lock.
PendingCall* FindKeyed(const char* key, void (*call)(void* data)) {
    for (PendingCall* listed : keyedCalls.calls) {
        if (listed && listed->call == call && strcmp(listed->key, key) == 0)
            return listed;
    }
    return nullptr;
}

// Lists the call; false when the list is full. Under the lock.
bool ListKeyed(PendingCall* pending) {
    for (PendingCall*& slot : keyedCalls.calls) {
        if (!slot) {
            slot = pending;
            pending->keyed = true;
            return true;
        }
    }
    return false;
}

void UnlistKeyed(PendingCall* pending) {
    EnterCriticalSection(&keyedCalls.lock);
    for (PendingCall*& slot : keyedCalls.calls) {
        if (slot == pending)
            slot = nullptr;
    }
    LeaveCriticalSection(&keyedCalls.lock);
}

DWORD WINAPI CallThread(void* parameter) {
    PendingCall* pending = static_cast<PendingCall*>(parameter);
    pending->call(pending->data);
    HMODULE module = pending->module;
    // The key is free before anyone waiting for the end learns of it.
    if (pending->keyed)
        UnlistKeyed(pending);
    SetEvent(pending->done);
    Release(pending);
    FreeLibraryAndExitThread(module, 0);
}

// A call ready to start, holding the module, or null.
PendingCall* PrepareCall(const char* key, void (*call)(void* data), const void* data, size_t size) {
    PendingCall* pending = static_cast<PendingCall*>(calloc(1, offsetof(PendingCall, data) + size));
    if (!pending)
        return nullptr;
    pending->references = 2;
    pending->call = call;
    CopyText(pending->key, sizeof pending->key, key);
    memcpy(pending->data, data, size);
    pending->done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!pending->done ||
        !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&CallThread),
                            &pending->module)) {
        if (pending->done)
            CloseHandle(pending->done);
        free(pending);
        return nullptr;
    }
    return pending;
}

// Ends a prepared call that never ran as if it had, for whoever waits for it.
void DiscardCall(PendingCall* pending) {
    if (pending->keyed)
        UnlistKeyed(pending);
    FreeLibrary(pending->module);
    SetEvent(pending->done);
    Release(pending);  // the thread's
    Release(pending);  // the caller's
}

// Starts the prepared call and waits for it, graceMs more once stopEvent is
// set; the caller's reference ends here.
CallOutcome RunCall(PendingCall* pending, void* data, size_t size, HANDLE stopEvent, DWORD timeoutMs,
                    DWORD graceMs) {
    HANDLE thread = CreateThread(nullptr, 0, CallThread, pending, 0, nullptr);
    if (!thread) {
        DiscardCall(pending);
        return kCallNotStarted;
    }
    CloseHandle(thread);

    CallOutcome outcome = kCallDone;
    WaitOutcome waited = WaitUnlessStopped(pending->done, stopEvent, timeoutMs);
    if (waited == kWaitStopped && graceMs > 0 && WaitForSingleObject(pending->done, graceMs) == WAIT_OBJECT_0)
        waited = kWaitSignalled;
    switch (waited) {
    case kWaitSignalled:
        memcpy(data, pending->data, size);
        break;
    case kWaitStopped:
        outcome = kCallStopped;
        break;
    case kWaitTimedOut:
        outcome = kCallTimedOut;
        break;
    }
    if (outcome != kCallDone && pending->keyed) {
        EnterCriticalSection(&keyedCalls.lock);
        pending->abandoned = true;
        LeaveCriticalSection(&keyedCalls.lock);
    }
    Release(pending);
    return outcome;
}

DWORD RemainingMs(DWORD start, DWORD timeoutMs) {
    DWORD spent = GetTickCount() - start;
    return spent >= timeoutMs ? 0 : timeoutMs - spent;
}

}  // namespace

CallOutcome CallUnlessStopped(void (*call)(void* data), void* data, size_t size, HANDLE stopEvent,
                              DWORD timeoutMs) {
    PendingCall* pending = PrepareCall("", call, data, size);
    if (!pending)
        return kCallNotStarted;
    return RunCall(pending, data, size, stopEvent, timeoutMs, 0);
}

CallOutcome CallOnceUnlessStopped(const char* key, void (*call)(void* data), void* data, size_t size,
                                  HANDLE stopEvent, DWORD timeoutMs) {
    return CallOnceWithGrace(key, call, data, size, stopEvent, timeoutMs, 0);
}

CallOutcome CallOnceWithGrace(const char* key, void (*call)(void* data), void* data, size_t size,
                              HANDLE stopEvent, DWORD timeoutMs, DWORD graceMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        EnterCriticalSection(&keyedCalls.lock);
        PendingCall* earlier = FindKeyed(key, call);
        if (!earlier) {
            PendingCall* pending = PrepareCall(key, call, data, size);
            bool listed = pending && ListKeyed(pending);
            LeaveCriticalSection(&keyedCalls.lock);
            if (!listed) {
                if (pending)
                    DiscardCall(pending);
                return kCallNotStarted;
            }
            return RunCall(pending, data, size, stopEvent, RemainingMs(start, timeoutMs), graceMs);
        }
        if (earlier->abandoned) {
            LeaveCriticalSection(&keyedCalls.lock);
            return kCallStillOutstanding;
        }
        InterlockedIncrement(&earlier->references);
        LeaveCriticalSection(&keyedCalls.lock);
        WaitOutcome waited = WaitUnlessStopped(earlier->done, stopEvent, RemainingMs(start, timeoutMs));
        Release(earlier);
        if (waited == kWaitStopped)
            return kCallStopped;
        if (waited == kWaitTimedOut)
            return kCallTimedOut;
    }
}
