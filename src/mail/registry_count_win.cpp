#include "mail/registry_count_win.h"

#include <windows.h>

#include <cstdint>
#include <cstring>

#include "mail/registry_path.h"

namespace {

HKEY RootKey(RegistryRoot root) {
    switch (root) {
    case kClassesRoot:
        return HKEY_CLASSES_ROOT;
    case kCurrentUser:
        return HKEY_CURRENT_USER;
    case kLocalMachine:
        return HKEY_LOCAL_MACHINE;
    case kUsers:
        return HKEY_USERS;
    }
    return HKEY_CURRENT_USER;
}

// Reads at most 256 bytes of the value's data into data.
bool ReadRegistryValue(const char* path, unsigned char (&data)[256]) {
    RegistryRoot root;
    char subKey[260];
    char valueName[260];
    if (!SplitRegistryPath(path, &root, subKey, sizeof subKey, valueName, sizeof valueName))
        return false;
    HKEY key;
    if (RegOpenKeyExA(RootKey(root), subKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD type;
    DWORD size = sizeof data;
    bool read = RegQueryValueExA(key, valueName, nullptr, &type, data, &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return read;
}

}  // namespace

int ReadRegistryCount(const char* path) {
    unsigned char data[256];
    memset(data, 0, sizeof data);
    if (!ReadRegistryValue(path, data))
        return -1;
    return static_cast<int>(static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                            static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24);
}
