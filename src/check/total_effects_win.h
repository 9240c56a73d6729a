#pragma once
#include <cstdint>

#include "docklet/docklet_instance.h"

// What follows a new total once a check cycle has counted it: the badge on
// the new-mail frames takes the total, and the sound plays when the heard
// total rose above the one before (the first count above 0 included). The
// heard total is the shown one with each failed account at its last count:
// an account that fails and then answers again brings no news.
// Runs on the check worker that counted it, and waits for nothing but the
// look-up of a sound file, bounded by a quarter of a second and by the item's
// stop; the sound itself plays asynchronously. A sound that cannot play
// leaves its reason in Debug.log and changes nothing else.
void OnTotalShown(DockletInstance* instance, int32_t total, int32_t heard);
