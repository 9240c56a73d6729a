#include "config/ini_value_edit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char kValue[] = "dpapi:QUJD";

// The text (ASCII) as a file of the encoding holds it, byte order mark first.
std::string Stored(IniEncoding encoding, const std::string& text) {
    const char* const marks[] = {"", "\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"};
    std::string bytes = marks[encoding];
    for (char c : text)
        bytes += encoding == kIniUtf16Le ? std::string{c, '\0'} : encoding == kIniUtf16Be ? std::string{'\0', c} : std::string{c};
    return bytes;
}

std::vector<IniValue> Find(const std::string& file) {
    std::vector<IniValue> values(8);
    values.resize(FindIniValues(file.data(), file.size(), "account0", "Password", values.data(), values.size()));
    return values;
}

// The file with every value of the key replaced.
std::string ReplaceAll(const std::string& file) {
    std::vector<IniReplacement> replacements;
    for (const IniValue& value : Find(file))
        replacements.push_back({value, kValue});
    std::string out(file.size() + 2 * sizeof kValue * replacements.size(), '?');
    size_t length = 0;
    EXPECT_TRUE(ReplaceIniValues(file.data(), file.size(), replacements.data(), replacements.size(), &out[0],
                                 out.size(), &length));
    return out.substr(0, length);
}

// Every copy of the key in every section of the name is replaced, quotes and
// all; every other byte stays; the same in every encoding.
TEST(IniValueEdit, ReplacesEveryCopyAndNothingElse) {
    struct Case {
        const char* name;
        std::string file;
        std::string expected;
    };
    const Case cases[] = {
        {"crlf", "[account0]\r\nLogin=me\r\nPassword=secret\r\nPort=1\r\n",
         "[account0]\r\nLogin=me\r\nPassword=dpapi:QUJD\r\nPort=1\r\n"},
        {"lf, comments and blanks kept", "; mine\n\n[account0]\n\n;Password=old\nPassword=secret\n\n",
         "; mine\n\n[account0]\n\n;Password=old\nPassword=dpapi:QUJD\n\n"},
        {"no final newline", "[account0]\r\nPassword=secret", "[account0]\r\nPassword=dpapi:QUJD"},
        {"spaces around", "  [Account0]  \r\n\tpassWORD \t= \t secret \t\r\n",
         "  [Account0]  \r\n\tpassWORD \t= \t dpapi:QUJD \t\r\n"},
        {"quotes", "[account0]\nPassword=\"secret\"\nPassword='old'\n",
         "[account0]\nPassword=dpapi:QUJD\nPassword=dpapi:QUJD\n"},
        {"sections of the name again", "[account0]\nLogin=a\n[account1]\nPassword=x\n[ACCOUNT0]\nPassword=secret\n",
         "[account0]\nLogin=a\n[account1]\nPassword=x\n[ACCOUNT0]\nPassword=dpapi:QUJD\n"},
        {"bare cr ends a line", "[account0]\rPassword=secret\rX=1", "[account0]\rPassword=dpapi:QUJD\rX=1"},
        {"empty and without =", "[account0]\nPassword\nPassword=\n", "[account0]\nPassword\nPassword=dpapi:QUJD\n"},
    };
    for (IniEncoding encoding : {kIniBytes, kIniUtf8, kIniUtf16Le, kIniUtf16Be}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " in encoding " + std::to_string(encoding));
            const std::string file = Stored(encoding, c.file);
            EXPECT_EQ(encoding, IniFileEncoding(file.data(), file.size()));
            EXPECT_EQ(Stored(encoding, c.expected), ReplaceAll(file));
        }
    }
}

// Which value the profile functions read, and where each copy stands.
TEST(IniValueEdit, MarksTheValueRead) {
    struct Case {
        const char* name;
        std::string file;
        std::vector<std::string> texts;  // every copy's text, in file order
        int read;                        // the index of the one read, or -1
        std::vector<size_t> lines;
    };
    const Case cases[] = {
        {"first key counts", "[account0]\nPassword=a\nPassword=b\n", {"a", "b"}, 0, {2, 3}},
        {"first section counts", "[account0]\nLogin=a\n[account0]\r\n\r\nPassword=b\n", {"b"}, -1, {5}},
        {"key without = is read", "[account0]\nPassword\nPassword=b\n", {"b"}, -1, {3}},
        {"empty value", "[account0]\nPassword=", {""}, 0, {2}},
        {"a quote alone", "[account0]\nPassword=\"\n", {"\""}, 0, {2}},
        {"quote on one side", "[account0]\nPassword='secret\n", {"'secret"}, 0, {2}},
        {"key before every section", "Password=secret\n[account0]\n", {}, -1, {}},
        {"no such section", "[account00]\nPassword=secret\n", {}, -1, {}},
        {"not a section", "[]\nPassword=a\n[account0\nPassword=b\n", {}, -1, {}},
        {"empty", "", {}, -1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<IniValue> values = Find(c.file);
        ASSERT_EQ(c.texts.size(), values.size());
        for (size_t i = 0; i < values.size(); ++i) {
            EXPECT_EQ(c.texts[i], c.file.substr(values[i].textBegin, values[i].textEnd - values[i].textBegin));
            EXPECT_EQ(static_cast<int>(i) == c.read, values[i].read);
            EXPECT_EQ(c.lines[i], values[i].line);
        }
    }
    // A last odd byte of UTF-16 is no character, and no part of a value.
    const std::string odd = Stored(kIniUtf16Le, "[account0]\nPassword=ab") + "c";
    ASSERT_EQ(1u, Find(odd).size());
    EXPECT_EQ(odd.size() - 1, Find(odd)[0].textEnd);

    const std::string file = "[account0]\nPassword=secret\n";
    const IniReplacement replacement = {Find(file)[0], kValue};
    std::string out(file.size() + 3, '?');
    size_t length = 0;
    EXPECT_FALSE(ReplaceIniValues(file.data(), file.size(), &replacement, 1, &out[0], out.size(), &length));
}

} // namespace

namespace {

// Notepad's UTF-8, with or without its mark, is read as UTF-8; anything else
// is left to the profile functions.
TEST(IniReading, WhichFilesAreReadAsUtf8) {
    const struct {
        const char* name;
        std::string file;
        bool utf8;
    } cases[] = {
        {"ASCII", "[common]\r\nstringNoMsg=None\r\n", false},
        {"empty", "", false},
        {"UTF-8", "[common]\r\nstringNoMsg=Re\xC3\xA7u\r\n", true},
        {"UTF-8 in a comment only", "; R\xC3\xA9glages\r\n[common]\r\n", true},
        {"ASCII after the mark", "\xEF\xBB\xBF[common]\r\n", true},
        {"the mark alone", "\xEF\xBB\xBF", true},
        {"four bytes", "x=\xF0\x9F\x98\x80", true},
        {"Windows-1252", "[common]\r\nstringNoMsg=Re\xE7u\r\n", false},
        {"mark, then Windows-1252", "\xEF\xBB\xBFx=Re\xE7u", false},
        {"a NUL", std::string("x=\xC3\xA9\0", 5), false},
        {"overlong", "x=\xC0\xAF", false},
        {"surrogate", "x=\xED\xA0\x80", false},
        {"above U+10FFFF", "x=\xF4\x90\x80\x80", false},
        {"cut at the end", "x=\xE2\x82", false},
        {"a lone continuation", "x=\x80", false},
        {"UTF-16 LE", Stored(kIniUtf16Le, "x=1"), false},
        {"UTF-16 BE", Stored(kIniUtf16Be, "x=1"), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.utf8, IniReadsAsUtf8(c.file.data(), c.file.size())) << c.name;
}

} // namespace
