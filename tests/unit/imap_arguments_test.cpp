#include <gtest/gtest.h>

#include <string>

#include "mail/imap_arguments.h"
#include "mail/mailbox_name.h"

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

namespace {

std::string MailboxName(const std::u16string& name, size_t size = 128) {
    char out[128];
    const bool fits = EncodeMailboxName(reinterpret_cast<const uint16_t*>(name.data()), name.size(), out, size);
    return fits ? std::string(out) : "(no fit) " + std::string(out);
}

TEST(EncodeMailboxName, ModifiedUtf7) {
    const struct {
        std::u16string name;
        const char* encoded;
    } cases[] = {
        {u"INBOX", "INBOX"},
        {u"", ""},
        {u"&", "&-"},
        {u"R&D", "R&-D"},
        {u"Entw\u00FCrfe", "Entw&APw-rfe"},  // Windows-1252 0xFC
        {u"caf\u00E9 & co", "caf&AOk- &- co"},
        {u"\u00C4rger.\u00D6l", "&AMQ-rger.&ANY-l"},
        {u"\u20AC", "&IKw-"},  // Windows-1252 0x80
        {u"~peter/mail/\u65E5\u672C\u8A9E/\u53F0\u5317", "~peter/mail/&ZeVnLIqe-/&U,BTFw-"},
        {u"\U0001F600", "&2D3eAA-"},  // a surrogate pair is one run
        {u"a\"b\\c d", "a\"b\\c d"},
        {u"\tx\x7F", "&AAk-x&AH8-"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.encoded, MailboxName(c.name)) << c.encoded;
}

TEST(EncodeMailboxName, WhatDoesNotFitIsEmptyNeverCut) {
    EXPECT_EQ("(no fit) ", MailboxName(u"INBOX", 5));
    EXPECT_EQ("INBOX", MailboxName(u"INBOX", 6));
    EXPECT_EQ("(no fit) ", MailboxName(u"\u00E9", 5));
    EXPECT_EQ("&AOk-", MailboxName(u"\u00E9", 6));
    EXPECT_EQ("(no fit) ", MailboxName(u"&", 2));
}

// A Folder from a UTF-8 file goes to the server whole, whatever Windows' code page.
TEST(EncodeMailboxName, FromUtf8) {
    for (const char* bad : {"Re\xE7u", "\xED\xA0\x80", "x\xC3"}) {
        char out[16] = "?";
        EXPECT_FALSE(EncodeUtf8MailboxName(bad, out, sizeof out)) << bad;
        EXPECT_STREQ("", out);
    }
    char out[32];
    EXPECT_TRUE(EncodeUtf8MailboxName("Re\xC3\xA7u &\xF0\x9F\x98\x80", out, sizeof out));
    EXPECT_STREQ("Re&AOc-u &-&2D3eAA-", out);
}

}  // namespace
