#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mail/idle_lines.h"
#include "mail/imap_reply.h"

namespace {

TEST(HasImapOk, CaseSensitiveSubstringOfTagSpaceOK) {
    EXPECT_TRUE(HasImapOk("* OK [CAPABILITY IMAP4rev1] Dovecot ready.\r\n", '*'));
    EXPECT_FALSE(HasImapOk("* PREAUTH [CAPABILITY IMAP4rev1] Logged in\r\n", '*'));
    EXPECT_TRUE(HasImapOk("1 OK Logged in\r\n", '1'));
    EXPECT_FALSE(HasImapOk("1 ok Logged in\r\n", '1'));
    EXPECT_FALSE(HasImapOk("1 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n", '1'));
    EXPECT_FALSE(HasImapOk("2 BAD Error in IMAP command\r\n", '2'));
    EXPECT_FALSE(HasImapOk("1 OK\r\n", '2'));
    // Anywhere in the reply counts, even after a line reporting a failure.
    EXPECT_TRUE(HasImapOk("* NO trouble\r\n3 OK Search completed\r\n", '3'));
    EXPECT_FALSE(HasImapOk("", '*'));
}

TEST(CountSearchResults, CountsTheItemsOfTheFirstSearchLine) {
    struct Case {
        const char* reply;
        int expected;
    };
    const Case cases[] = {
        {"* SEARCH\r\n3 OK Search completed.\r\n", 0},
        {"* SEARCH 4 7 9\r\n3 OK Search completed.\r\n", 3},
        {"* SEARCH 1 2 \r\n3 OK\r\n", 2},           // a space before the line end adds nothing
        {"* SEARCH 1  2\r\n3 OK\r\n", 3},           // two spaces: an empty item between
        {"* SEARCH  \r\n3 OK\r\n", 1},
        {"* SEARCH 5 6", 2},                        // cut short: counted to its end
        {"* SEARCH 1\r\n* SEARCH 2 3\r\n3 OK\r\n", 1},  // a second line adds nothing
        {"* SEARCH a b\nc", 2},
        {"3 OK Search completed.\r\n", -1},
        {"", -1},
        {"* SEARCH", 0},
        {"* OK x * SEARCH 8 9\r\n", 2},              // wherever it stands
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, CountSearchResults(c.reply)) << c.reply;
}

TEST(CountSearchResults, ThousandsOfMessages) {
    std::string reply = "* SEARCH";
    for (int i = 1; i <= 5000; ++i)
        reply += " " + std::to_string(i);
    reply += "\r\n3 OK Search completed (0.001 + 0.000 secs).\r\n";
    EXPECT_EQ(5000, CountSearchResults(reply.c_str()));
}

TEST(ReadImapCodeNumber, UidValidityAndUidNextOfAnExamine) {
    const char examined[] = "* 5 EXISTS\r\n* OK [UIDVALIDITY 1700000000] UIDs valid\r\n"
                            "* OK [UIDNEXT 42] Predicted next UID\r\n2 OK [READ-ONLY] done\r\n";
    const struct {
        const char* reply;
        const char* name;
        uint32_t number;  // 0: none read
    } cases[] = {
        {examined, "UIDVALIDITY", 1700000000},
        {examined, "UIDNEXT", 42},
        {examined, "HIGHESTMODSEQ", 0},
        {"* OK [UIDNEXT 4294967295] x\r\n", "UIDNEXT", 4294967295u},
        {"* OK [UIDNEXT 4294967296] x\r\n", "UIDNEXT", 0},
        {"* OK [UIDNEXT 0] x\r\n", "UIDNEXT", 0},
        {"* OK [UIDNEXT -3] x\r\n", "UIDNEXT", 0},
        {"* OK [UIDNEXT 12 ] x\r\n", "UIDNEXT", 0},
        {"* OK [UIDNEXT 12", "UIDNEXT", 0},
        // Only an untagged OK at the start of a line, never inside some text.
        {"2 OK [UIDNEXT 12] x\r\n", "UIDNEXT", 0},
        {"* NO said * OK [UIDNEXT 12] x\r\n", "UIDNEXT", 0},
        {"* OK [UIDNEXTX 12] x\r\n* OK [UIDNEXT 13] y\r\n", "UIDNEXT", 13},
    };
    for (const auto& c : cases) {
        uint32_t number = 0;
        EXPECT_EQ(c.number != 0, ReadImapCodeNumber(c.reply, c.name, &number)) << c.reply;
        EXPECT_EQ(c.number, number) << c.reply;
    }
}

TEST(CountUidsAbove, OnlyUidsAboveTheFloorAndTheLargestOfThem) {
    const struct {
        const char* reply;
        uint32_t floor;
        int count;
        uint32_t largest;  // starts at 7
    } cases[] = {
        {"* SEARCH 8 9 12\r\n3 OK\r\n", 7, 3, 12},
        {"* SEARCH\r\n3 OK\r\n", 7, 0, 7},
        // "8:*" when the last UID is 5: the server answers with UID 5.
        {"* SEARCH 5\r\n3 OK\r\n", 7, 0, 7},
        {"* SEARCH 12 3 9\r\n", 7, 2, 12},
        {"* SEARCH 4294967295\r\n", 4294967294u, 1, 4294967295u},
        {"* SEARCH 4294967296\r\n", 7, -1, 7},
        {"* SEARCH 8 x\r\n", 7, -1, 8},
        {"* SEARCH 8  9\r\n", 7, -1, 8},
        {"* SEARCH 0\r\n", 0, -1, 7},
        {"3 OK\r\n", 7, -1, 7},
    };
    for (const auto& c : cases) {
        uint32_t largest = 7;
        EXPECT_EQ(c.count, CountUidsAbove(c.reply, c.floor, &largest)) << c.reply;
        EXPECT_EQ(c.largest, largest) << c.reply;
    }
}

TEST(AnnouncesLiteralPlus, OnlyAsACapabilityOfItsOwn) {
    const struct {
        const char* reply;
        bool announced;
    } cases[] = {
        {"* OK [CAPABILITY IMAP4rev1 SASL-IR LITERAL+ ID] Dovecot ready.\r\n", true},
        {"* OK [CAPABILITY IMAP4rev1 literal+] ready\r\n", true},
        {"* OK [CAPABILITY IMAP4rev1 LITERAL+]\r\n", true},
        {"* CAPABILITY IMAP4rev1 LITERAL+\r\n1 OK done\r\n", true},
        {"* OK [CAPABILITY IMAP4rev1 LITERAL-] ready\r\n", false},
        {"* OK [CAPABILITY IMAP4rev1 LITERAL++ XLITERAL+] ready\r\n", false},
        {"* OK ready, LITERAL+ welcome\r\n", false},
        {"* OK [CAPABILITY IMAP4rev1]\r\n* OK LITERAL+\r\n", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.announced, AnnouncesLiteralPlus(c.reply)) << c.reply;
}

TEST(AnnouncesSaslIr, OnlyAsACapabilityOfItsOwn) {
    const struct {
        const char* reply;
        bool announced;
    } cases[] = {
        {"* OK [CAPABILITY IMAP4rev1 SASL-IR LITERAL+ ID] Dovecot ready.\r\n", true},
        {"* CAPABILITY IMAP4rev1 sasl-ir\r\n1 OK\r\n", true},
        {"* OK [CAPABILITY IMAP4rev1 SASL-IRX AUTH=XOAUTH2] ready\r\n", false},
        {"* OK ready for SASL-IR\r\n", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.announced, AnnouncesSaslIr(c.reply)) << c.reply;
}

TEST(AnnouncesIdle, OnlyAsACapabilityOfItsOwn) {
    const struct {
        const char* reply;
        bool announced;
    } cases[] = {
        {"* OK [CAPABILITY IMAP4rev1 SASL-IR ID ENABLE IDLE LITERAL+] Dovecot ready.\r\n", true},
        {"* CAPABILITY IMAP4rev1 idle\r\n7 OK\r\n", true},
        {"1 OK [CAPABILITY IMAP4rev1 IDLE] Logged in\r\n", true},
        {"* OK [CAPABILITY IMAP4rev1 IDLEX XIDLE] ready\r\n", false},
        {"* OK ready, IDLE welcome\r\n", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.announced, AnnouncesIdle(c.reply)) << c.reply;
}

// What ends a wait in IDLE: only an untagged number and one of the four words.
TEST(AnnouncesMailboxChange, UntaggedCountsOfTheFourKinds) {
    const struct {
        const char* reply;
        bool changed;
    } cases[] = {
        {"* 4 EXISTS\r\n", true},
        {"* 12 EXPUNGE\r\n", true},
        {"* 3 FETCH (FLAGS (\\Seen))\r\n", true},
        {"* 1 recent\r\n", true},
        {"* 0 RECENT", true},
        {"+ idling\r\n* 5 EXISTS\r\n", true},
        {"* OK Still here\r\n* 2 FETCH(FLAGS ())\r\n", true},
        {"* OK Still here\r\n", false},
        {"+ idling\r\n", false},
        {"5 OK Idle completed\r\n", false},
        {"* 4 EXISTSX\r\n", false},
        {"* EXISTS\r\n", false},
        {"* 4  EXISTS\r\n", false},
        {"*  4 EXISTS\r\n", false},
        {"1 4 EXISTS\r\n", false},
        {"* OK [ALERT] * 4 EXISTS\r\n", false},
        {"* 4 EXPUNGED\r\n", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.changed, AnnouncesMailboxChange(c.reply)) << c.reply;
}

// What a server says while idling, fed as the receives bring it: each
// answer with the offset past its line ("C12": a change, "T...": talking on),
// then "|" and the bytes kept at the end. No byte may be lost or used twice.
std::string ReadIdleStream(const std::vector<std::string>& receives) {
    IdleLines lines = StartIdleLines();
    std::string kept, used, answers;
    for (const std::string& received : receives) {
        kept += received;
        size_t whole = 0;
        for (IdleNews news = kIdleChanged; news != kIdleNoNews; kept.erase(0, whole)) {
            news = ReadIdleLines(&lines, kept.data(), kept.size(), &whole);
            used += kept.substr(0, whole);
            if (news != kIdleNoNews)
                answers += (news == kIdleChanged ? "C" : "T") + std::to_string(used.size());
        }
    }
    return answers + "|" + kept + "|" + used;
}

// Only whole lines are judged, alike however the receives split them.
TEST(ReadIdleLines, WholeLinesAnswerAlikeWhateverTheSplit) {
    std::string talk; // 3,856 lines of 17 bytes: the last passes 64 KiB
    while (talk.size() <= kMaxIdleTalk)
        talk += "* OK still here\r\n";
    const struct {
        std::string stream, answers, kept;
    } cases[] = {
        {"* OK still here\r\n* 4 EXISTS\r\n", "C29", ""},
        {"* 4 EXISTS\r\n* 1 recent\n* 1 EXPUNGE", "C12C23", "* 1 EXPUNGE"},
        {std::string("* 4 EXI\0STS\r\n* 4 EXISTSX\r\n", 26), "", ""},
        {talk + "* 9 EXISTS\r\n* OK\r\n",
         "T" + std::to_string(talk.size()) + "C" + std::to_string(talk.size() + 12) + "T" +
             std::to_string(talk.size() + 18), ""},
    };
    for (const auto& c : cases) {
        const std::string used = c.stream.substr(0, c.stream.size() - c.kept.size());
        const std::string read = c.answers + "|" + c.kept + "|" + used;
        EXPECT_EQ(read, ReadIdleStream({c.stream}));
        for (size_t split = 1; split < c.stream.size() && c.stream.size() < 100; ++split)
            EXPECT_EQ(read, ReadIdleStream({c.stream.substr(0, split), c.stream.substr(split)})) << split;
    }
}

// What ends an AUTHENTICATE step: a continuation request as the last line,
// or the tagged line, whose NO is told from OK and BAD.
TEST(FindContinuation, OnlyTheLastLineAndOnlyAPlus) {
    const struct {
        const char* reply;
        const char* continuation;  // null: none
        bool refused;              // "1 NO" at a line's start
    } cases[] = {
        {"+ \r\n", "\r\n", false},
        {"+\r\n", "\r\n", false},
        {"+ eyJzdGF0dXMiOiI0MDEifQ==\r\n", "eyJzdGF0dXMiOiI0MDEifQ==\r\n", false},
        {"* OK still there\r\n+ go\r\n", "go\r\n", false},
        {"+ go\r\n1 NO failed\r\n", nullptr, true},
        {"1 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n", nullptr, true},
        {"* NO trouble\r\n1 OK\r\n", nullptr, false},
        {"1 BAD Invalid SASL response\r\n", nullptr, false},
        {"2 NO\r\n", nullptr, false},
        {"* 1 NO x 1 NO\r\n", nullptr, false},
        {"+OK\r\n", nullptr, false},
        {"", nullptr, false},
    };
    for (const auto& c : cases) {
        const char* found = FindContinuation(c.reply);
        EXPECT_EQ(c.continuation != nullptr, found != nullptr) << c.reply;
        if (found && c.continuation)
            EXPECT_STREQ(c.continuation, found);
        EXPECT_EQ(c.refused, HasImapNo(c.reply, '1')) << c.reply;
    }
}

}  // namespace
