#include "mail/registry_path.h"

#include <cstring>

#include "text/bounded_text.h"

namespace {

const char* const kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                  "HKEY_USERS"};

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// True when the first length characters of prefix equal the name or a leading part of it.
bool IsLeadingPartOf(const char* prefix, size_t length, const char* name) {
    if (length > strlen(name))
        return false;
    for (size_t i = 0; i < length; ++i)
        if (Upper(prefix[i]) != name[i])
            return false;
    return true;
}

void CopyPart(char* destination, size_t size, const char* begin, const char* end) {
    if (size == 0)
        return;
    size_t length = static_cast<size_t>(end - begin);
    if (length >= size)
        length = size - 1;
    memcpy(destination, begin, length);
    destination[length] = '\0';
}

}  // namespace

bool SplitRegistryPath(const char* path, RegistryRoot* root, char* subKey, size_t subKeySize,
                       char* valueName, size_t valueNameSize) {
    const char* first = strchr(path, '\\');
    if (!first)
        return false;
    size_t prefixLength = static_cast<size_t>(first - path);
    int found = -1;
    for (int i = 0; i < 4 && found < 0; ++i)
        if (IsLeadingPartOf(path, prefixLength, kRootNames[i]))
            found = i;
    if (found < 0)
        return false;
    *root = static_cast<RegistryRoot>(found);

    const char* last = strrchr(path, '\\');
    if (last == first)
        CopyPart(subKey, subKeySize, last, last);
    else
        CopyPart(subKey, subKeySize, first + 1, last);
    CopyText(valueName, valueNameSize, last + 1);
    return true;
}
