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

const ProfileReader kWindowsProfileReader = {ReadProfileInt, ReadProfileText};
