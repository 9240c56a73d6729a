#include "config/read_configuration_win.h"

#include "config/profile_reader_win.h"
#include "config/read_configuration.h"

void ReadConfigurationFile(DockletInstance* instance, const char* rootFolder, const char* relativeFolder) {
    // A path that does not fit is empty: no file, and ReadConfiguration reads none either.
    char path[kPathSize];
    FormIniPath(path, sizeof path, rootFolder, relativeFolder);
    IniProfile profile;
    OpenIniProfile(&profile, path);
    ReadConfiguration(instance, rootFolder, relativeFolder, &profile.reader);
    CloseIniProfile(&profile);
}
