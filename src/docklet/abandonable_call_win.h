#pragma once
#include <windows.h>

#include <cstddef>

// Calls that may block without end (a name lookup, a read from a share that
// hangs, a write to a full pipe) run through here, on a thread of their own,
// so that the check worker waiting for them can always give up: when
// stopEvent (which may be null) is set or timeoutMs runs out, the call is
// abandoned. The call works on a private copy of data[size], copied back only
// when it ended in time, so an abandoned call touches nothing of its caller;
// it ends by itself whenever it can and keeps this module loaded until it has.

enum CallOutcome {
    kCallDone,        // the call ended; data holds what it left there
    kCallStopped,     // stopEvent was set first; data is unchanged
    kCallTimedOut,    // timeoutMs ran out first; data is unchanged
    kCallNotStarted,  // no thread or memory for it; data is unchanged
};

// Runs call(copy of data) and waits for it as above. Runs on a check worker.
CallOutcome CallUnlessStopped(void (*call)(void* data), void* data, size_t size, HANDLE stopEvent,
                              DWORD timeoutMs);
