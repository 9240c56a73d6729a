#pragma once
#include <cstddef>

#include "config/profile_reader.h"
#include "docklet/docklet_instance.h"

// The full path of TidewellDocklet.ini in the docklet folder (root folder,
// then relative folder, joined as the host gave them); false, and empty,
// when it does not fit: the file is then never read.
bool FormIniPath(char* path, size_t size, const char* rootFolder, const char* relativeFolder);

// Reads TidewellDocklet.ini from the docklet folder through reader, which
// reads that file, into the instance: debug flag, account count (at most
// 100), delay (10 s to a day), link, label texts, log path and the account
// array, which the instance then owns. Writes the start-up dump to Debug.log
// when Debug is 1, with a reason line for each text that lost a character to
// the code page and each key that does not apply to its account.
// Runs on the host's thread inside OnCreate, before any worker exists; reports
// nothing, and whatever is missing takes its default.
void ReadConfiguration(DockletInstance* instance, const char* rootFolder, const char* relativeFolder,
                       const ProfileReader* reader);
