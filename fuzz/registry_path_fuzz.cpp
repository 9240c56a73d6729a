// The registry path comes from the user's settings (RegKey) and is split
// into arrays whose sizes the input chooses here, each a heap block of
// exactly that size. Checked against the rule read plainly.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "mail/registry_path.h"

namespace {

struct Split {
    bool ok;
    int root;
    std::string subKey;
    std::string valueName;
};

Split ReferenceSplit(const std::string& path) {
    static const char* const kRoots[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                         "HKEY_USERS"};
    size_t first = path.find('\\');
    if (first == std::string::npos)
        return {false, 0, "", ""};
    std::string prefix = path.substr(0, first);
    for (char& c : prefix)
        c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    for (int root = 0; root < 4; ++root) {
        if (std::string(kRoots[root]).compare(0, prefix.size(), prefix) != 0)
            continue;
        size_t last = path.rfind('\\');
        return {true, root, last == first ? "" : path.substr(first + 1, last - first - 1),
                path.substr(last + 1)};
    }
    return {false, 0, "", ""};
}

// The text in a heap array of the given size: terminated inside it, and
// the expected text cut to fit.
bool Holds(const char* array, size_t size, std::string expected) {
    if (size == 0)
        return true;
    const char* terminator = static_cast<const char*>(memchr(array, '\0', size));
    if (expected.size() > size - 1)
        expected.resize(size - 1);
    return terminator && std::string(array, terminator) == expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const size_t subKeySize = input.ConsumeIntegralInRange<size_t>(0, 300);
    const size_t valueNameSize = input.ConsumeIntegralInRange<size_t>(0, 300);
    // A settings text ends at its first NUL.
    const std::string path = input.ConsumeRemainingBytesAsString().c_str();

    char* subKey = static_cast<char*>(malloc(subKeySize));
    char* valueName = static_cast<char*>(malloc(valueNameSize));
    RegistryRoot root = kClassesRoot;
    bool ok = SplitRegistryPath(path.c_str(), &root, subKey, subKeySize, valueName, valueNameSize);
    Split expected = ReferenceSplit(path);
    if (ok != expected.ok)
        abort();
    if (ok && (root != expected.root || !Holds(subKey, subKeySize, expected.subKey) ||
               !Holds(valueName, valueNameSize, expected.valueName)))
        abort();
    free(subKey);
    free(valueName);
    return 0;
}
