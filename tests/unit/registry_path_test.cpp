#include <gtest/gtest.h>

#include <string>

#include "mail/registry_path.h"

namespace {

struct Split {
    bool ok;
    RegistryRoot root;
    std::string subKey;
    std::string valueName;
};

Split Of(const char* path) {
    Split split{false, kClassesRoot, "", ""};
    char subKey[260] = "unset";
    char valueName[260] = "unset";
    split.ok = SplitRegistryPath(path, &split.root, subKey, sizeof subKey, valueName, sizeof valueName);
    if (split.ok) {
        split.subKey = subKey;
        split.valueName = valueName;
    }
    return split;
}

TEST(SplitRegistryPath, RootsByNameOrLeadingPart) {
    struct Case {
        const char* path;
        RegistryRoot root;
        const char* subKey;
        const char* valueName;
    };
    const Case cases[] = {
        {"HKEY_CURRENT_USER\\Software\\A\\B\\Count", kCurrentUser, "Software\\A\\B", "Count"},
        {"hkey_local_machine\\Software\\A\\Count", kLocalMachine, "Software\\A", "Count"},
        {"HKEY_C\\Software\\A\\Count", kClassesRoot, "Software\\A", "Count"},
        {"HKEY_CU\\Software\\A\\Count", kCurrentUser, "Software\\A", "Count"},
        {"HKEY_U\\Software\\A\\Count", kUsers, "Software\\A", "Count"},
        {"\\Software\\A\\Count", kClassesRoot, "Software\\A", "Count"},
        {"HKEY_CURRENT_USER\\Software\\A\\", kCurrentUser, "Software\\A", ""},
        {"HKEY_USERS\\Count", kUsers, "", "Count"},  // one backslash: a value right under the root
    };
    for (const Case& c : cases) {
        Split split = Of(c.path);
        ASSERT_TRUE(split.ok) << c.path;
        EXPECT_EQ(c.root, split.root) << c.path;
        EXPECT_EQ(c.subKey, split.subKey) << c.path;
        EXPECT_EQ(c.valueName, split.valueName) << c.path;
    }
}

TEST(SplitRegistryPath, UnknownRootsAndNoBackslashFail) {
    for (const char* path : {"HKCU\\Software\\A\\Count", "HKLM\\Software\\A\\Count",
                             "HKEY_USERSX\\Software\\A\\Count", "HKEY_CURRENT_USER", ""})
        EXPECT_FALSE(Of(path).ok) << path;
}

}  // namespace
