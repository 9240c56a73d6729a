#include "message_pump_win.h"

#include <windows.h>

#include "host_context_win.h"

namespace {

void DispatchWaitingMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

}  // namespace

bool PumpMessagesUntil(const std::function<bool()>& done, unsigned long ms) {
    const DWORD start = GetTickCount();
    // Asked before the first dispatch too: a host call already waiting may
    // change at once what held when the wait began.
    if (done())
        return true;
    while (true) {
        DispatchWaitingMessages();
        if (done())
            return true;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms || StopRequested())
            return false;
        HANDLE wakers[] = {LabelChangedEvent(), StopRequestedEvent()};
        MsgWaitForMultipleObjects(2, wakers, FALSE, ms - elapsed, QS_ALLINPUT);
    }
}

void PumpMessagesFor(unsigned long ms) {
    PumpMessagesUntil([] { return false; }, ms);
}
