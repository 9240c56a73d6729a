#pragma once
#include "docklet/docklet_instance.h"

// ReadConfiguration with the reader that the INI file's text calls for (see
// IniProfile): what OnCreate does.
void ReadConfigurationFile(DockletInstance* instance, const char* rootFolder, const char* relativeFolder);
