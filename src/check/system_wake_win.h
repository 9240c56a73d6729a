#pragma once
#include "docklet/docklet_instance.h"

// Every item of the module checks at once when Windows resumes from sleep or
// the machine's network addresses change: connections kept from before may
// lead nowhere, and mail may have come meanwhile. One thread of the module,
// started with its first item and ended with its last, owns a hidden
// top-level window for the power broadcasts (a message-only window gets
// none) and a request to be told of address changes; each run of such
// events makes one check of every item (check/wake_coalescing.h) through
// CheckAtOnce (check/check_workers_win.h). When the window cannot be made
// (no display) or changes cannot be asked for, each item's debug log says so
// and everything else goes on as before.

// Adds the item, starting the thread with the first, and waits for the
// thread's set-up (milliseconds; at most 2 s), so that what could not be set
// up is the item's first log line after its settings. On the host's thread,
// in OnCreate, before the item's workers start.
void WatchSystemWake(DockletInstance* instance);

// Removes the item, first thing in OnDestroy: once this returns, the thread
// starts nothing more for it. With the last item the thread is told to end
// and left to it: this never waits for it. It ends within milliseconds,
// holding the module loaded until it has.
void UnwatchSystemWake(DockletInstance* instance);
