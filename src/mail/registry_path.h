#pragma once
#include <cstddef>

enum RegistryRoot {
    kClassesRoot,
    kCurrentUser,
    kLocalMachine,
    kUsers,
};

// Splits "ROOT\sub\key\value" at its first and last backslash. ROOT is one of
// HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS or a
// leading part of one, in any case (the first in that order that fits; an
// empty root is the first). A path with one backslash names a value directly
// under the root, with an empty sub key. False when there is no backslash or
// no root fits; sub key and value name are cut to their buffers otherwise.
bool SplitRegistryPath(const char* path, RegistryRoot* root, char* subKey, size_t subKeySize,
                       char* valueName, size_t valueNameSize);
