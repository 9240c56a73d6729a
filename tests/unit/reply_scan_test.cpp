#include <gtest/gtest.h>

#include <string>

#include "net/reply_scan.h"

namespace {

// Feeds the reply in pieces of the given size and returns the state after
// each piece, e.g. "NNC".
std::string Feed(char tag, const std::string& reply, size_t piece) {
    ReplyScan scan = StartReplyScan(tag);
    std::string states;
    for (size_t length = piece; ; length += piece) {
        if (length > reply.size())
            length = reply.size();
        ReplyState state = ScanReply(&scan, reply.data(), length);
        states += state == kReplyComplete ? 'C' : state == kReplyNeedsMore ? 'N' : 'L';
        if (state != kReplyNeedsMore || length == reply.size())
            return states;
    }
}

TEST(ReplyScan, OneLineRepliesEndAtTheirFirstLineEnd) {
    EXPECT_EQ("C", Feed(0, "* OK ready\r\n", 100));
    EXPECT_EQ("N", Feed(0, "+OK 3 120", 100));
    EXPECT_EQ(std::string(10, 'N') + "C", Feed(0, "+OK 3 120\r\n", 1));
    EXPECT_EQ("C", Feed(0, "\n", 1));
}

TEST(ReplyScan, ImapRepliesEndWithTheirTaggedLine) {
    const std::string search = "* SEARCH 1 2 3\r\n3 OK Search completed.\r\n";
    EXPECT_EQ("C", Feed('3', search, search.size()));
    EXPECT_EQ(std::string(search.size() - 1, 'N') + "C", Feed('3', search, 1));
    EXPECT_EQ("NC", Feed('3', search, 20));
    EXPECT_EQ("C", Feed('1', "1 NO [AUTHENTICATIONFAILED] failed.\r\n", 64));
    // Another tag, an untagged line or a tag without its space ends nothing.
    EXPECT_EQ("N", Feed('2', "* 3 EXISTS\r\n1 OK\r\n22 OK\r\n2OK\r\n", 64));
    EXPECT_EQ("N", Feed('4', "* BYE Logging out\r\n4 OK", 64));
}

// A SASL step waits on the client after a continuation request: that line
// ends the reply as surely as tag 1's status line.
TEST(ReplyScan, SaslStepsEndAtAContinuationOrTagOne) {
    const struct {
        std::string reply;
        size_t piece;
        std::string states;
    } cases[] = {
        {"+ \r\n", 1, "NNNC"},
        {"+ eyJzdGF0dXMiOiI0MDEifQ==\r\n", 64, "C"},
        {"+\n", 1, "NC"},
        {"* CAPABILITY IMAP4rev1\r\n+ \r\n", 64, "C"},
        {"1 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n", 64, "C"},
        {"* OK [CAPABILITY IMAP4rev1] done\r\n1 OK\r\n", 64, "C"},
        // Other tags, an untagged line and a plus that is not first on its line end nothing.
        {"2 OK\r\n* 1 EXISTS\r\n* OK +\r\n +\r\n1OK\r\n", 64, "N"},
        {"+ go", 64, "N"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.states, Feed(kSaslReplyEnd, c.reply, c.piece)) << c.reply;
}

TEST(ReplyScan, RepliesPastTheBoundAreTooLong) {
    std::string endless(kMaxReplyLength + 1, 'x');
    ReplyScan scan = StartReplyScan('3');
    EXPECT_EQ(kReplyNeedsMore, ScanReply(&scan, endless.data(), kMaxReplyLength));
    EXPECT_EQ(kReplyTooLong, ScanReply(&scan, endless.data(), endless.size()));

    std::string lines;
    while (lines.size() <= kMaxReplyLength)
        lines += "* 1 FETCH (FLAGS ())\r\n";
    scan = StartReplyScan('3');
    EXPECT_EQ(kReplyTooLong, ScanReply(&scan, lines.data(), lines.size()));
    // A complete reply of exactly the bound is fine.
    std::string full(kMaxReplyLength - 8, 'x');
    full += "\r\n3 OK\r\n";
    scan = StartReplyScan('3');
    EXPECT_EQ(kReplyComplete, ScanReply(&scan, full.data(), full.size()));
    // One that ends just past it is too long, also when its end comes in
    // the same receive as the bytes that cross the bound.
    std::string over(kMaxReplyLength - 4, 'x');
    over += "\r\n3 OK\r\n";
    EXPECT_EQ("L", Feed('3', over, over.size()));
    EXPECT_EQ("NL", Feed('3', over, kMaxReplyLength - 8));
    EXPECT_EQ("L", Feed(0, std::string(kMaxReplyLength, 'x') + "\r\n", kMaxReplyLength + 2));
}

}  // namespace
