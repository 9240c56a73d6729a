#pragma once
#include <cstddef>
#include <cstdint>

#include "docklet/docklet_instance.h"

// The total on the item comes from every account's last count, whoever
// counted it: the check cycle for all of them at once, an idle watcher for
// its own account whenever the server announces a change. Both show it
// through here, so that the label and the animator's mode always agree with
// the last counts and never go back to an older total. While an account's
// first count is not in yet the label keeps what it shows (the check text):
// no total is shown that takes that account for 0. An account whose last
// count is too old to be news (StaleAfterMs) shows as failed until it
// answers again.

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

// The account's server has just proved that it answers (its connection in
// IDLE): its count is as good as new. Any thread.
void NoteAccountHeard(DockletInstance* instance, int32_t index);

// Shows as failed every account whose last count (or last word, see above)
// is older than StaleAfterMs, each with a reason line saying since when.
// On a check worker, between checks.
void ShowStaleAccounts(DockletInstance* instance);

// "since HH:MM:SS" (local time) of the account's last count or last word,
// or "since the item started at HH:MM:SS" when none came yet; for reason lines.
void DescribeLastWord(DockletInstance* instance, int32_t index, char* text, size_t size);
