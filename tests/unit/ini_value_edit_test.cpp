#include "secrets/ini_value_edit.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char kValue[] = "dpapi:QUJD";

struct Edited {
    IniEdit outcome;
    std::string file;
};

Edited Edit(const std::string& file, const char* expected = "secret") {
    std::string out(file.size() + sizeof kValue, '?');
    size_t length = 0;
    IniEdit outcome = ReplaceIniValue(file.data(), file.size(), "account0", "Password", expected,
                                      kValue, &out[0], out.size(), &length);
    return {outcome, outcome == kIniValueReplaced ? out.substr(0, length) : file};
}

// Each file holds the value the profile functions read as "secret"; the
// edit must change that one and keep every other byte.
TEST(ReplaceIniValue, ChangesTheValueReadAndNothingElse) {
    struct Case {
        const char* name;
        std::string file;
        std::string expected;
    };
    const Case cases[] = {
        {"crlf", "[account0]\r\nLogin=me\r\nPassword=secret\r\nPort=1\r\n",
         "[account0]\r\nLogin=me\r\nPassword=dpapi:QUJD\r\nPort=1\r\n"},
        {"lf, comments and blanks kept",
         "; mine\n\n[account0]\n\n;Password=old\nPassword=secret\n\n",
         "; mine\n\n[account0]\n\n;Password=old\nPassword=dpapi:QUJD\n\n"},
        {"no final newline", "[account0]\r\nPassword=secret", "[account0]\r\nPassword=dpapi:QUJD"},
        {"spaces around", "  [Account0]  \r\n\tpassWORD \t= \t secret \t\r\n",
         "  [Account0]  \r\n\tpassWORD \t= \t dpapi:QUJD \t\r\n"},
        {"double quotes", "[account0]\nPassword=\"secret\"\n", "[account0]\nPassword=dpapi:QUJD\n"},
        {"single quotes", "[account0]\nPassword='secret'\n", "[account0]\nPassword=dpapi:QUJD\n"},
        {"first key counts", "[account0]\nPassword=secret\nPassword=secret\n",
         "[account0]\nPassword=dpapi:QUJD\nPassword=secret\n"},
        {"first section counts", "[account0]\nLogin=a\n[account0]\nPassword=secret\n",
         "[account0]\nLogin=a\n[account0]\nPassword=secret\n"},
        {"other sections' keys kept", "[account1]\nPassword=secret\n[account0]\nPassword=secret\n",
         "[account1]\nPassword=secret\n[account0]\nPassword=dpapi:QUJD\n"},
        {"bare cr ends a line", "[account0]\rPassword=secret\rX=1",
         "[account0]\rPassword=dpapi:QUJD\rX=1"},
        {"byte order mark", "\xEF\xBB\xBF[account0]\nPassword=secret\n",
         "\xEF\xBB\xBF[account0]\nPassword=dpapi:QUJD\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Where the key is not in the first section of the name, the file is left.
        Edited edited = Edit(c.file);
        EXPECT_EQ(c.file == c.expected ? kIniKeyMissing : kIniValueReplaced, edited.outcome);
        EXPECT_EQ(c.expected, edited.file);
    }
}

TEST(ReplaceIniValue, LeavesWhatIsNotTheValueRead) {
    struct Case {
        const char* name;
        std::string file;
        IniEdit outcome;
    };
    const Case cases[] = {
        {"changed since", "[account0]\nPassword=other\n", kIniValueChanged},
        {"longer", "[account0]\nPassword=secrets\n", kIniValueChanged},
        {"quote on one side", "[account0]\nPassword=\"secret\n", kIniValueChanged},
        {"key without =", "[account0]\nPassword\nPassword=secret\n", kIniValueChanged},
        {"no such key", "[account0]\nPass=secret\n", kIniKeyMissing},
        {"key before every section", "Password=secret\n[account0]\n", kIniKeyMissing},
        {"no such section", "[account00]\nPassword=secret\n", kIniKeyMissing},
        {"empty", "", kIniKeyMissing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.outcome, Edit(c.file).outcome);
    }
    std::string out(8, '?');
    size_t length = 0;
    const std::string file = "[account0]\nPassword=secret\n";
    EXPECT_EQ(kIniNoRoom, ReplaceIniValue(file.data(), file.size(), "account0", "Password",
                                          "secret", kValue, &out[0], out.size(), &length));
}

} // namespace
