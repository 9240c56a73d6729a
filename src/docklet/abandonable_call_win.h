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
// An abandoned call must not take a lock that anything else waits for: no C
// runtime streams, no debug log.

enum CallOutcome {
    kCallDone,              // the call ended; data holds what it left there
    kCallStopped,           // stopEvent was set first; data is unchanged
    kCallTimedOut,          // timeoutMs ran out first; data is unchanged
    kCallNotStarted,        // no thread or memory for it (or no room for its key); data is unchanged
    kCallStillOutstanding,  // the key's earlier call was abandoned and has not ended; data is unchanged
};

// Runs call(copy of data) and waits for it as above. Runs on a check worker.
CallOutcome CallUnlessStopped(void (*call)(void* data), void* data, size_t size, HANDLE stopEvent,
                              DWORD timeoutMs);

// The same for a call that may hang on whatever key names (a file's path):
// of the calls with this function and key, at most one runs at a time in the
// whole module, whichever item made it, so that a file that never answers
// holds one thread however many checks name it. While an earlier call is
// still waited for, this waits for it to end (within its own stop and
// time-out) and then makes its own; while an earlier call that was abandoned
// has not ended, it returns kCallStillOutstanding at once. Runs on a check worker.
CallOutcome CallOnceUnlessStopped(const char* key, void (*call)(void* data), void* data, size_t size,
                                  HANDLE stopEvent, DWORD timeoutMs);

// The same for a call whose end matters even when the item goes away (a
// file being written, which the process may not outlive by much): once
// stopEvent is set, the call is still waited for up to graceMs.
CallOutcome CallOnceWithGrace(const char* key, void (*call)(void* data), void* data, size_t size,
                              HANDLE stopEvent, DWORD timeoutMs, DWORD graceMs);
