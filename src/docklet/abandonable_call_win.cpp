#include "docklet/abandonable_call_win.h"

#include <cstdlib>
#include <cstring>

#include "docklet/worker_wait_win.h"

namespace {

// Shared by the caller and the call's thread; the last of the two to let go frees it.
struct PendingCall {
    LONG references;
    HANDLE done;
    HMODULE module;  // this module, held loaded until the thread has ended
    void (*call)(void* data);
    alignas(8) unsigned char data[1];  // size bytes follow
};

void Release(PendingCall* pending) {
    if (InterlockedDecrement(&pending->references) == 0) {
        CloseHandle(pending->done);
        free(pending);
    }
}

DWORD WINAPI CallThread(void* parameter) {
    PendingCall* pending = static_cast<PendingCall*>(parameter);
    pending->call(pending->data);
    HMODULE module = pending->module;
    SetEvent(pending->done);
    Release(pending);
    FreeLibraryAndExitThread(module, 0);
}

}  // namespace

CallOutcome CallUnlessStopped(void (*call)(void* data), void* data, size_t size, HANDLE stopEvent,
                              DWORD timeoutMs) {
    PendingCall* pending = static_cast<PendingCall*>(calloc(1, offsetof(PendingCall, data) + size));
    if (!pending)
        return kCallNotStarted;
    pending->references = 2;
    pending->call = call;
    memcpy(pending->data, data, size);
    pending->done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!pending->done ||
        !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&CallThread),
                            &pending->module)) {
        if (pending->done)
            CloseHandle(pending->done);
        free(pending);
        return kCallNotStarted;
    }
    HANDLE thread = CreateThread(nullptr, 0, CallThread, pending, 0, nullptr);
    if (!thread) {
        FreeLibrary(pending->module);
        CloseHandle(pending->done);
        free(pending);
        return kCallNotStarted;
    }
    CloseHandle(thread);

    CallOutcome outcome = kCallDone;
    switch (WaitUnlessStopped(pending->done, stopEvent, timeoutMs)) {
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
    Release(pending);
    return outcome;
}
