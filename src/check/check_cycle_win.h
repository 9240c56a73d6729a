#pragma once
#include "docklet/docklet_instance.h"

// One whole check cycle: shows the check text, asks every account in turn,
// adds up the counts above 0, selects the animation and sets the final label.
// Runs on a check worker and blocks on each server in turn. When the item is
// being destroyed it ends at the next step without touching the item again.
void CheckAllAccounts(DockletInstance* instance);
