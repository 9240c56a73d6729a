#include "text/bounded_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "text/base64.h"
#include "text/percent_encoding.h"

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

TEST(CopyPrintable, ShowsEveryOtherByteAsAQuestionMark) {
    char buffer[6];
    EXPECT_TRUE(CopyPrintable(buffer, sizeof buffer, "a\0b\r\x7f", 5));
    EXPECT_STREQ("a?b??", buffer);
    EXPECT_FALSE(CopyPrintable(buffer, sizeof buffer, "\xc3\xa9~ abc", 8));
    EXPECT_STREQ("??~ a", buffer);
}

TEST(PercentEncoding, KeepsOnlyUnreservedAndDecodesQueryValues) {
    char out[32] = "q=";
    size_t used = 2;
    EXPECT_TRUE(AppendPercentEncoded(out, sizeof out, &used, "aZ09-._~ /+&=\xc3\xa9"));
    EXPECT_STREQ("q=aZ09-._~%20%2F%2B%26%3D%C3%A9", out);
    EXPECT_EQ(strlen(out), used);
    // What does not fit leaves the text as it was.
    EXPECT_FALSE(AppendPercentEncoded(out, sizeof out, &used, "!"));
    EXPECT_STREQ("q=aZ09-._~%20%2F%2B%26%3D%C3%A9", out);

    struct Case {
        const char* text;
        QueryDecoding result;
        const char* decoded;
    };
    const Case cases[] = {
        {"M.R3_b%2Fc+d%7e", kQueryDecoded, "M.R3_b/c d~"}, {"%C3%A9", kQueryDecoded, "\xc3\xa9"},
        {"%", kQueryBad, ""},          {"a%4", kQueryBad, ""},    {"a%g1", kQueryBad, ""},
        {"a%00b", kQueryBad, ""},      {"abcdefghijkl", kQueryTooLong, "abcdefghijk"},
        {"abcdefghij%41", kQueryDecoded, "abcdefghijA"}, {"abcdefghijk%41", kQueryTooLong, "abcdefghijk"},
        {"abcdefghijkl%zz", kQueryBad, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        char decoded[12];
        EXPECT_EQ(c.result, DecodeQueryValue(c.text, strlen(c.text), decoded, sizeof decoded));
        EXPECT_STREQ(c.decoded, decoded);
    }
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

TEST(Base64, RoundTripsAndRefusesWhatIsNone) {
    struct Case {
        std::string bytes;
        const char* text;
    };
    const Case cases[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                          {"foo", "Zm9v"},  {"foob", "Zm9vYg=="},  {std::string("\0\xff\xfe", 3), "AP/+"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        char text[16];
        EXPECT_TRUE(EncodeBase64(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size(), text,
                                 sizeof text));
        EXPECT_STREQ(c.text, text);
        unsigned char bytes[16];
        EXPECT_EQ(c.bytes.size(), DecodeBase64(text, strlen(text), bytes, sizeof bytes));
        EXPECT_EQ(c.bytes, std::string(reinterpret_cast<char*>(bytes), c.bytes.size()));
    }
    // Exactly 4 * ceil(n / 3) + 1 bytes of room; one less leaves nothing.
    char text[9] = "x";
    const unsigned char data[4] = {1, 2, 3, 4};
    EXPECT_FALSE(EncodeBase64(data, 4, text, 8));
    EXPECT_STREQ("", text);
    EXPECT_TRUE(EncodeBase64(data, 4, text, 9));
    EXPECT_TRUE(EncodeBase64(data, 3, text, 5));  // whole groups only
    EXPECT_STREQ("AQID", text);
    EXPECT_FALSE(EncodeBase64(data, 3, text, 4));
    unsigned char bytes[4];
    for (const char* none : {"Zm9v!", "Zg==Zg", "Zg===", "Zm9vYg=="}) {
        SCOPED_TRACE(none);
        // The last does not fit in three bytes.
        EXPECT_EQ(0u, DecodeBase64(none, strlen(none), bytes, 3));
    }
}

// base64url as JSON Web Tokens carry it: '-' and '_', no padding, no blanks.
TEST(Base64, UrlDecodesItsOwnAlphabetOnly) {
    const struct {
        const char* text;
        std::string bytes;  // empty: refused
    } cases[] = {
        {"Zg", "f"}, {"Zm8", "fo"}, {"Zm9v", "foo"}, {"AP_-", std::string("\0\xff\xfe", 3)},
        {"AP/+", ""}, {"Zg==", ""}, {"Zm9 v", ""}, {"Zm9vY", ""}, {"Zm9v\n", ""}, {"Zm9vYmFy", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        unsigned char bytes[5];
        const size_t length = DecodeBase64Url(c.text, strlen(c.text), bytes, sizeof bytes);
        EXPECT_EQ(c.bytes, std::string(reinterpret_cast<char*>(bytes), length));
    }
}
