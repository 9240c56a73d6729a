#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

// The sign-in's redirect listener: a TCP socket on 127.0.0.1 (never any
// other address) at a port the system chooses, where the browser brings the
// authorization's answer. Clients are served one at a time; one that stays
// silent, dawdles or sends too much is dropped after a short bound and the
// wait goes on, so no client holds the sign-in. Every wait ends at once when
// the stop event is set. Used by one worker thread.

struct LoopbackListener;

enum ListenOutcome {
    kListenRequest,  // a request head came
    kListenTimedOut, // none came within the time given
    kListenStopped,  // the stop event was set
};

// Listens on 127.0.0.1 port 0; null, with why[whySize] saying what failed, when it cannot.
LoopbackListener* OpenLoopbackListener(char* why, size_t whySize);

// The port the system chose.
int32_t LoopbackPort(const LoopbackListener* listener);

// Accepts connections until one sends a request head (up to its empty line)
// that fits request[size], NUL-terminated, its length in *length; any client
// not yet answered is dropped first. Waits at most remainingMs in all.
ListenOutcome WaitForBrowserRequest(LoopbackListener* listener, HANDLE stopEvent, DWORD remainingMs,
                                    char* request, size_t size, size_t* length);

// Sends response whole to the client whose request came last, within a short
// bound and unless the last wait's stop event is set, then closes it.
void AnswerBrowser(LoopbackListener* listener, const char* response);

// Closes the listener and any client; safe on null.
void CloseLoopbackListener(LoopbackListener* listener);
