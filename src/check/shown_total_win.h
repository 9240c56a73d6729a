#pragma once
#include <cstdint>

#include "docklet/docklet_instance.h"

// The total on the item comes from every account's last count, whoever
// counted it: the check cycle for all of them at once, an idle watcher for
// its own account whenever the server announces a change. Both show it
// through here, so that the label and the animator's mode always agree with
// the last counts and never go back to an older total.

// In a cycle's counts: the account kept its last count (an idle watcher's, or
// none yet while its connection opens).
const int32_t kCountKept = -2;

// The accounts' last counts, none yet; null when memory ran out (the cycle
// then shows its own counts alone, and watchers show nothing).
ShownTotal* MakeShownTotal(int32_t accountCount);
void FreeShownTotal(ShownTotal* shown);

// Records a whole cycle's counts (one per account: a count, -1 for a failed
// check, or kCountKept) and shows the total; returns it. On a check worker.
int32_t ShowCycleCounts(DockletInstance* instance, const int32_t* counts);

// Records one account's new count and shows the total; returns it. On its idle watcher.
int32_t ShowAccountCount(DockletInstance* instance, int32_t index, int32_t count);
