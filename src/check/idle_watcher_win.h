#pragma once
#include <cstdint>

#include "docklet/docklet_instance.h"

// One watcher thread per account with Idle=1 whose server offers IDLE: it
// logs in as a check does, shows the account's count, then waits in IDLE and
// shows each new count the moment the server announces a change. After a
// minute without a word from the server it ends IDLE and begins it again,
// and a server that does not answer DONE or IDLE within the quick bound is
// dropped (check/idle_timing.h). A lost connection counts as failed until a
// count comes again, and is opened again after a pause (ReconnectPauseMs,
// made 20 % shorter or longer at random). The watchers are started and
// stopped on the host's thread, with the periodic worker; their waits end on
// the item's stop event, so stopping them takes no longer than stopping a
// check.

// Starts a watcher for each IMAP account with Idle=1; a reason line for each
// other account with Idle=1.
void StartIdleWatchers(DockletInstance* instance);
// Sets the stop event and waits for every watcher to end.
void StopIdleWatchers(DockletInstance* instance);
// Frees the watch records once no worker of the item runs (OnDestroy).
void FreeIdleWatchers(DockletInstance* instance);

// Has every idle watcher of the item let go of its connection at once,
// without a word to the server and without waiting for it, and open a new
// one at once (a watcher in its pause between connections ends the pause),
// with a reason line "Idle account N: WHY: ..." in Debug.log. For when the
// path the connections took may be gone: the machine resumed, its network
// changed. A login under way is let go of at its end. The account is not
// shown as failed for this; its count shows again once the new connection
// counts. why must live as long as the module (a string literal). Returns at
// once; may be called on any thread from OnCreate until OnDestroy begins.
void ReopenIdleConnections(DockletInstance* instance, const char* why);

enum IdleAnswer {
    kIdleNotWatched,    // no connection in IDLE for this account: check it as usual
    kIdleCountReady,    // the connection is in IDLE, proved alive within the bound asked; *count is
                        // its count
    kIdleCountVerified, // the connection counted again when asked: *count is that count
    kIdleNotVerified,   // asked to count again, the connection did not (it is dropped): check it as
                        // usual
    kIdleOpening,       // the watcher's first login is under way: its count shows when it comes
};

// What a check cycle on any worker does for account index: takes the count
// of a connection in IDLE whose server's last word is at most freshWithinMs
// old, else has it count again and waits for that (within the quick bound
// and the time-out). With CountNew, a click since the connection's last
// count makes that count 0, shown here.
IdleAnswer IdleCountOf(DockletInstance* instance, int32_t index, uint32_t freshWithinMs,
                       int32_t* count);
