#include "text/bounded_text.h"

#include <gtest/gtest.h>

#include <string>

TEST(CopyText, CutsToTheArrayAndAlwaysTerminates) {
    char buffer[5];
    EXPECT_TRUE(CopyText(buffer, sizeof buffer, "abcd"));
    EXPECT_STREQ("abcd", buffer);
    EXPECT_FALSE(CopyText(buffer, sizeof buffer, "abcde"));
    EXPECT_STREQ("abcd", buffer);
    EXPECT_TRUE(CopyText(buffer, sizeof buffer, ""));
    EXPECT_STREQ("", buffer);
}

TEST(FormatText, ReportsACutResult) {
    char buffer[8];
    EXPECT_TRUE(FormatText(buffer, sizeof buffer, "%d-%s", 42, "ab"));
    EXPECT_STREQ("42-ab", buffer);
    EXPECT_FALSE(FormatText(buffer, sizeof buffer, "%d", 123456789));
    EXPECT_STREQ("1234567", buffer);
}

TEST(FormFolderPath, JoinsAsGivenOrLeavesEmpty) {
    char path[260];
    EXPECT_TRUE(FormFolderPath(path, sizeof path, "C:\\Dock\\", "Docklets\\Tidewell\\", "Debug.log"));
    EXPECT_STREQ("C:\\Dock\\Docklets\\Tidewell\\Debug.log", path);
    EXPECT_TRUE(FormFolderPath(path, sizeof path, "", "", "Debug.log"));
    EXPECT_STREQ("Debug.log", path);

    // 259 characters fit; one more must not turn into a shorter, other name.
    std::string root(250, 'r');
    EXPECT_TRUE(FormFolderPath(path, sizeof path, root.c_str(), "", "Debug.log"));
    EXPECT_EQ(259u, std::string(path).size());
    root += 'r';
    EXPECT_FALSE(FormFolderPath(path, sizeof path, root.c_str(), "", "Debug.log"));
    EXPECT_STREQ("", path);
}

TEST(EqualsIgnoringCase, ComparesWholeNamesInAnyCase) {
    EXPECT_TRUE(EqualsIgnoringCase("imap", "IMAP"));
    EXPECT_TRUE(EqualsIgnoringCase("Pop", "POP"));
    EXPECT_TRUE(EqualsIgnoringCase("", ""));
    EXPECT_FALSE(EqualsIgnoringCase("POP3", "POP"));
    EXPECT_FALSE(EqualsIgnoringCase("PO", "POP"));
    EXPECT_FALSE(EqualsIgnoringCase("[", "{"));  // only letters fold
}
