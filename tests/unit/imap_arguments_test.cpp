#include <gtest/gtest.h>

#include <string>

#include "mail/imap_arguments.h"

namespace {

std::string Argument(const std::string& text, size_t size) {
    char argument[64];
    FormatImapArgument(argument, size, text.c_str());
    return argument;
}

TEST(FormatImapArgument, AtomsAsTheyStandOthersQuoted) {
    EXPECT_EQ("someone@example.org", Argument("someone@example.org", 64));
    EXPECT_EQ("p]w!#", Argument("p]w!#", 64));
    EXPECT_EQ("\"pass word\"", Argument("pass word", 64));
    EXPECT_EQ("\"a\\\"b\\\\c\"", Argument("a\"b\\c", 64));
    EXPECT_EQ("\"\"", Argument("", 64));
    EXPECT_EQ("\"%*\"", Argument("%*", 64));
}

TEST(FormatImapArgument, TwiceTheLengthAndThreeAlwaysSuffice) {
    // Every character escaped: 2 * 1 + 3 and 2 * 2 + 3 bytes.
    EXPECT_EQ("\"\\\"\"", Argument("\"", 5));
    EXPECT_EQ("\"\\\"\\\\\"", Argument("\"\\", 7));
    // Less room cuts before a character and its escape, never between them.
    EXPECT_EQ("\"\\\"\"", Argument("\"\\", 6));
    EXPECT_EQ("\"\"", Argument("\"", 4));
    EXPECT_EQ("\"a\"", Argument("a b", 4));
    EXPECT_EQ("", Argument("a b", 2));
}

TEST(NeedsImapLiteral, AnyByteOutsideSevenBitAscii) {
    EXPECT_FALSE(NeedsImapLiteral(""));
    EXPECT_FALSE(NeedsImapLiteral("pass word\"\\\x7F\x01"));
    EXPECT_TRUE(NeedsImapLiteral("caf\xC3\xA9"));
    EXPECT_TRUE(NeedsImapLiteral("\x80"));
    EXPECT_TRUE(NeedsImapLiteral("abc\xFF"));
}

}  // namespace
