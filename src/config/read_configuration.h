#pragma once
#include "config/profile_reader.h"
#include "docklet/docklet_instance.h"

// Reads TidewellDocklet.ini from the docklet folder (root folder, then relative
// folder, joined as the host gave them) into the instance: debug flag, account
// count (at most 100), delay (10 s to a day), link, label texts, log path and
// the account array, which the instance then owns. Writes the start-up dump to Debug.log when Debug is 1.
// Runs on the host's thread inside OnCreate, before any worker exists; reports
// nothing, and whatever is missing takes its default.
void ReadConfiguration(DockletInstance* instance, const char* rootFolder, const char* relativeFolder,
                       const ProfileReader* reader);
