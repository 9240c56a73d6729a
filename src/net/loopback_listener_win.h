#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "net/request_head.h"

// The sign-in's redirect listener: TCP on 127.0.0.1 and, where the system
// has IPv6, on [::1] at the same port, never on any other address. A browser
// sent to "localhost" may try either address first; holding both, no other
// program can take the one left free. Clients are served side by side on the
// one thread that uses the listener: each has its own bound for sending its
// request head and for taking its answer, so one that stays silent, dawdles
// or sends too much holds up no other. At most kMaxHeldClients are held at
// once; a new one takes the place of the one that has waited longest for its
// head. Every wait ends at once when the stop event is set.

struct LoopbackListener;

const int kMaxHeldClients = 16;

enum ListenOutcome {
    kListenRequest,  // a request head came
    kListenTimedOut, // none came within the time given
    kListenStopped,  // the stop event was set
    kListenWoken,    // the wake event was set
};

// Listens on 127.0.0.1 and [::1] at a port the system chooses (or on
// 127.0.0.1 alone where [::1] cannot be had: WhyNotOnIpv6 says why); null,
// with why[whySize] saying what failed, when it cannot listen at all.
LoopbackListener* OpenLoopbackListener(char* why, size_t whySize);

// The port the system chose.
int32_t LoopbackPort(const LoopbackListener* listener);

// Null when the listener is on [::1] too; else why it is on 127.0.0.1 alone.
const char* WhyNotOnIpv6(const LoopbackListener* listener);

// Serves every client until one has sent a whole request head that fits
// request[size]: that head, NUL-terminated, its length in *length. A client
// whose request came last and was not answered is dropped first. Waits at
// most remainingMs in all; wakeEvent (auto-reset, or null) ends the wait
// without a request, leaving every client as it is.
ListenOutcome WaitForBrowserRequest(LoopbackListener* listener, HANDLE stopEvent, HANDLE wakeEvent,
                                    DWORD remainingMs, char* request, size_t size, size_t* length);

// Answers the client whose request came last with response (at most 4095
// bytes): as much goes out at once as the client takes, the rest while the
// listener waits on or closes, within a bound; then its connection ends.
void AnswerBrowser(LoopbackListener* listener, const char* response);

// Lets the answers still going out end (each within its bound, and no later
// than the last wait's stop event), then closes the listener and every
// client; safe on null.
void CloseLoopbackListener(LoopbackListener* listener);
