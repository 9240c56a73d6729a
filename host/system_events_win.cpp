#include "system_events_win.h"

#include "import_patch_win.h"

namespace {

const UINT kBroadcastWaitMs = 5000;
const ULONG_PTR kStatusPending = 0x103;        // STATUS_PENDING
const ULONG_PTR kStatusCancelled = 0xC0000120; // STATUS_CANCELLED

struct PowerBroadcast {
    unsigned long code;
    int windows;
};

BOOL CALLBACK SendPower(HWND window, LPARAM parameter) {
    PowerBroadcast* broadcast = reinterpret_cast<PowerBroadcast*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId())
        return TRUE;
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(window, WM_POWERBROADCAST, broadcast->code, 0, SMTO_NORMAL,
                        kBroadcastWaitMs, &answer);
    ++broadcast->windows;
    return TRUE;
}

// The docklet's request for the next address change, while one waits. Its
// threads ask and cancel; the host's thread completes. Initialised while the
// host starts.
struct AddressRequest {
    CRITICAL_SECTION lock;
    OVERLAPPED* waiting;
    AddressRequest() : waiting() { InitializeCriticalSection(&lock); }
};

AddressRequest request;

DWORD WINAPI StandInNotifyAddrChange(HANDLE* handle, OVERLAPPED* overlapped) {
    // Without an OVERLAPPED the call would block until a change: the docklet never asks so.
    if (!overlapped)
        return ERROR_NOT_SUPPORTED;
    EnterCriticalSection(&request.lock);
    overlapped->Internal = kStatusPending;
    ResetEvent(overlapped->hEvent);
    request.waiting = overlapped;
    LeaveCriticalSection(&request.lock);
    if (handle)
        *handle = nullptr;
    return ERROR_IO_PENDING;
}

// Ends the request by name, as Windows does: its OVERLAPPED says so and its event is set.
void Complete(ULONG_PTR status) {
    request.waiting->Internal = status;
    request.waiting->InternalHigh = 0;
    SetEvent(request.waiting->hEvent);
    request.waiting = nullptr;
}

BOOL WINAPI StandInCancelIPChangeNotify(OVERLAPPED* overlapped) {
    EnterCriticalSection(&request.lock);
    const bool waiting = overlapped && request.waiting == overlapped;
    if (waiting)
        Complete(kStatusCancelled);
    LeaveCriticalSection(&request.lock);
    if (!waiting)
        SetLastError(ERROR_NOT_FOUND);
    return waiting;
}

} // namespace

int BroadcastPower(unsigned long code) {
    PowerBroadcast broadcast = {code, 0};
    EnumWindows(SendPower, reinterpret_cast<LPARAM>(&broadcast));
    return broadcast.windows;
}

bool StandInForAddressChanges(HMODULE docklet) {
    void* original = nullptr;
    return PatchImport(docklet, "iphlpapi.dll", "NotifyAddrChange",
                       reinterpret_cast<void*>(StandInNotifyAddrChange), &original) &&
           PatchImport(docklet, "iphlpapi.dll", "CancelIPChangeNotify",
                       reinterpret_cast<void*>(StandInCancelIPChangeNotify), &original);
}

bool DeliverAddressChange() {
    EnterCriticalSection(&request.lock);
    const bool waiting = request.waiting != nullptr;
    if (waiting)
        Complete(0);
    LeaveCriticalSection(&request.lock);
    return waiting;
}
