#pragma once
#include <cstdint>

#include "docklet/docklet_instance.h"

// One watcher thread per account with Idle=1 whose server offers IDLE: it
// logs in as a check does, shows the account's count, then waits in IDLE and
// shows each new count the moment the server announces a change. A broken
// connection is opened again after a pause of 10 s that doubles, up to
// DelaySecond, each time it breaks again before reaching IDLE; one that ends
// before IDLE shows the account as failed meanwhile. The watchers
// are started and stopped on the host's thread, with the periodic worker;
// their waits end on the item's stop event, so stopping them takes no longer
// than stopping a check.

// Starts a watcher for each IMAP account with Idle=1; a reason line for each
// other account with Idle=1.
void StartIdleWatchers(DockletInstance* instance);
// Sets the stop event and waits for every watcher to end.
void StopIdleWatchers(DockletInstance* instance);
// Frees the watch records once no worker of the item runs (OnDestroy).
void FreeIdleWatchers(DockletInstance* instance);

enum IdleAnswer {
    kIdleNotWatched, // no connection in IDLE for this account: check it as usual
    kIdleCountReady, // the connection is in IDLE and *count is its fresh count
    kIdleOpening,    // the watcher's first login is under way: its count shows when it comes
};

// What a check cycle on any worker does for account index. With CountNew,
// a click since the connection's last count makes that count 0, shown here.
IdleAnswer IdleCountOf(DockletInstance* instance, int32_t index, int32_t* count);
