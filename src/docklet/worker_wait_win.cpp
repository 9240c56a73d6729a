#include "docklet/worker_wait_win.h"

void WaitForWorker(HANDLE thread) {
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

WaitOutcome WaitUnlessStopped(HANDLE event, HANDLE stopEvent, DWORD timeoutMs) {
    HANDLE waits[2] = {stopEvent, event};
    DWORD first = stopEvent ? 0 : 1;
    DWORD result = WaitForMultipleObjects(2 - first, waits + first, FALSE, timeoutMs);
    if (result == WAIT_TIMEOUT)
        return kWaitTimedOut;
    if (stopEvent && result == WAIT_OBJECT_0)
        return kWaitStopped;
    return result == WAIT_OBJECT_0 + 1 - first ? kWaitSignalled : kWaitStopped;
}
