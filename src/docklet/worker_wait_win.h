#pragma once
#include <windows.h>

// Waits for a worker thread to end. A worker may be inside a host call that
// the host forwards to this (its own) thread with SendMessage, so messages
// sent to this thread are dispatched while waiting: otherwise the two would
// wait on each other for ever.
void WaitForWorker(HANDLE thread);

enum WaitOutcome {
    kWaitSignalled,
    kWaitStopped,
    kWaitTimedOut,
};

// Waits on a worker thread for event, giving up as soon as stopEvent (which
// may be null) is set: the stop wins when both are.
WaitOutcome WaitUnlessStopped(HANDLE event, HANDLE stopEvent, DWORD timeoutMs);
