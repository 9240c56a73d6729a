#include <windows.h>

#include "config/profile_reader_win.h"

static int32_t ReadProfileInt(const char* iniPath, const char* section, const char* key,
                              int32_t fallback) {
    return static_cast<int32_t>(GetPrivateProfileIntA(section, key, fallback, iniPath));
}

static void ReadProfileText(const char* iniPath, const char* section, const char* key,
                            char* buffer, uint32_t size) {
    GetPrivateProfileStringA(section, key, "", buffer, size, iniPath);
}

static bool ProfileSectionHasKeys(const char* iniPath, const char* section) {
    // A key is at least "k=" and its terminator: any of it shows one is there.
    char start[4];
    return GetPrivateProfileSectionA(section, start, sizeof start, iniPath) > 0;
}

const ProfileReader kWindowsProfileReader = {ReadProfileInt, ReadProfileText, ProfileSectionHasKeys};
