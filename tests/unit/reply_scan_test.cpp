#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#define TIDEWELL_ASAN 1
#endif
#endif

#include "net/http_response.h"
#include "net/reply.h"
#include "net/reply_scan.h"
#include "net/url_parts.h"

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
        char end = kSaslReplyEnd;
    } cases[] = {
        {"+ \r\n", 1, "NNNC"},
        // IDLE's start ends the same way, at tag 5 rather than tag 1.
        {"+ idling\r\n", 64, "C", kIdleReplyEnd},
        {"5 NO [LIMIT] Too many idlers\r\n", 64, "C", kIdleReplyEnd},
        {"1 OK\r\n* 1 EXISTS\r\n5 BAD\r\n", 64, "C", kIdleReplyEnd},
        {"1 OK\r\n5OK\r\n", 64, "N", kIdleReplyEnd},
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
        EXPECT_EQ(c.states, Feed(c.end, c.reply, c.piece)) << c.reply;
}

// RFC 1939 section 3: "-ERR" is one line; "+OK" runs to "." alone, and a
// line of the listing that begins with a dot has it doubled.
TEST(ReplyScan, PopListingsEndAtALoneDot) {
    const struct {
        std::string reply;
        size_t piece;
        std::string states;
    } cases[] = {
        {"-ERR no UIDL\r\n", 64, "C"},
        {"-ERR\n", 1, "NNNNC"},
        {"+OK\r\n.\r\n", 64, "C"},
        {"+OK\r\n.\r", 64, "N"},
        {"+OK 2 messages\r\n1 a\r\n2 .b\r\n.\r\n", 64, "C"},
        {"+OK\r\n1 x\r\n.\r\n", 3, "NNNNC"},
        {"+OK\n.\n", 1, "NNNNNC"},
        {"+OK\r\n..\r\n.x\r\n. \r\n", 64, "N"},
        // The status line itself never ends a listing, even as ".".
        {".\r\n", 64, "N"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.states, Feed(kPopListEnd, c.reply, c.piece)) << c.reply;
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

    // A POP3 listing holds an id per message the server keeps: it may run
    // far past the bound of other replies, up to its own.
    std::string listing = "+OK\r\n";
    while (listing.size() <= kMaxReplyLength)
        listing += "123456 0000000000000000000000000000000a\r\n";
    EXPECT_EQ("NC", Feed(kPopListEnd, listing + ".\r\n", listing.size()));
    EXPECT_EQ("L", Feed(kPopListEnd, std::string(kMaxListingLength - 3, 'x') + "\r\n.\r\n", kMaxListingLength + 2));
}

// HTTP responses, each complete exactly at its last byte: split at every
// byte, the scan must say so at that byte and not before.
TEST(ReplyScan, HttpResponsesEndWithTheBodyTheirHeadAnnounces) {
    const std::string kComplete[] = {
        "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello",
        "HTTP/1.1 204 No Content\r\n\r\n",
        "HTTP/1.1 200 OK\r\ncontent-length:0\r\n\r\n",
        "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n1a;x=y\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n",
        // A chunk holding what looks like a last chunk and a head's end.
        "HTTP/1.1 200 OK\nTransfer-Encoding: Chunked\n\n7\n0\r\n\r\n\r\n\n0\nX-Trailer: 1\n\n",
        // Malformed framing ends at the head; the judge refuses it.
        "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nfffffffffffffffffffff\r\n",
        "\r\n",
    };
    for (const std::string& reply : kComplete) {
        SCOPED_TRACE(reply);
        EXPECT_EQ(std::string(reply.size() - 1, 'N') + "C", Feed(kHttpReplyEnd, reply, 1));
        EXPECT_EQ("C", Feed(kHttpReplyEnd, reply, reply.size()));
        EXPECT_EQ("C", Feed(kHttpReplyEnd, reply + "HTTP/1.1 200 OK\r\n\r\n", reply.size() + 19));
    }
    // Bodies never ending within the bound are too long as soon as they pass it.
    const std::string kLong[] = {
        "HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\n",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nfffff\r\n",
        "HTTP/1.1 100 Continue\r\n\r\n",
    };
    for (const std::string& start : kLong) {
        std::string reply = start;
        while (reply.size() <= kMaxReplyLength)
            reply += start.back() == '\n' && start[9] == '1' ? start : std::string(4096, 'x');
        EXPECT_EQ("NL", Feed(kHttpReplyEnd, reply, kMaxReplyLength));
    }
    std::string exact = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kMaxReplyLength - 44) + "\r\n\r\n";
    exact += std::string(kMaxReplyLength - exact.size(), 'x');
    EXPECT_EQ("NC", Feed(kHttpReplyEnd, exact, kMaxReplyLength - 1));
    std::string over = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kMaxReplyLength - 43) + "\r\n\r\n";
    over += std::string(kMaxReplyLength + 1 - over.size(), 'x');
    EXPECT_EQ("NL", Feed(kHttpReplyEnd, over, kMaxReplyLength));
}

struct JudgeCase {
    const char* text;
    int status;          // 0: refused
    const char* result;  // the body, or a part of the reason
};

TEST(JudgeHttpResponse, DecodesTheBodyOrSaysWhatIsWrong) {
    const JudgeCase kCases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}trailing", 200, "{}"},
        {"HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n", 400, ""},
        {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 1\r\n\r\nx", 201, "x"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\n{\"a\r\nA;e=1\r\n\":\"012345\"\r\n1\r\n}\r\n0\r\nX: y\r\n\r\n",
         200, "{\"a\":\"012345\"}"},
        {"HTTP/1.1 304 Not Modified\r\n\r\n", 304, ""},
        {"HTTP/1.1 200 OK\r\n\r\n{}", 0, "neither Content-Length nor chunked"},
        {"HTTP/2 200 OK\r\nContent-Length: 0\r\n\r\n", 0, "status line"},
        {"HTTP/1.1 99 Low\r\nContent-Length: 0\r\n\r\n", 0, "status line"},
        {"HTTP/1.1 2000 OK\r\nContent-Length: 0\r\n\r\n", 0, "status line"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\ncontent-length: 2\r\n\r\n{}", 0, "more than one Content-Length"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 2, 2\r\n\r\n{}", 0, "not a number"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n", 0, "not a number"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n{}", 0, "cut short in its body"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 0, "both"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n", 0, "other than chunked"},
        {"HTTP/1.1 200 OK\r\nContent-Length : 0\r\n\r\n", 0, "no field"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10000000000000000\r\n", 0, "overflows"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", 0, "no hex number"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nab\r\n0\r\n\r\n", 0, "longer than its size"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab", 0, "cut short in a chunk"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n", 0, "trailer"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n", 0, "cut short in its head"},
        {"HTTP/1.1 100 Continue\r\n\r\n", 0, "cut short in its head"},
        {"HTTP/1.1 101 Switching Protocols\r\nContent-Length: 0\r\n\r\n", 0, "switching protocols"},
    };
    for (const JudgeCase& test : kCases) {
        SCOPED_TRACE(test.text);
        std::string text = test.text;
        text += '\0';
        HttpResponse response;
        char why[128] = "";
        bool judged = JudgeHttpResponse(&text[0], text.size() - 1, &response, why, sizeof why);
        ASSERT_EQ(test.status != 0, judged) << why;
        if (judged) {
            EXPECT_EQ(test.status, response.status);
            EXPECT_EQ(test.result, std::string(response.body, response.bodyLength));
            EXPECT_EQ('\0', response.body[response.bodyLength]);
        } else {
            EXPECT_EQ(0, strncmp(why, "HTTP reply ", 11));
            EXPECT_NE(nullptr, strstr(why, test.result));
        }
    }
    // A NUL in the body, and a reason phrase whose control bytes the log must not get.
    std::string nul("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\na\0b", 41);
    HttpResponse response;
    char why[128] = "";
    EXPECT_FALSE(JudgeHttpResponse(&nul[0], nul.size(), &response, why, sizeof why));
    EXPECT_STREQ("HTTP reply with a NUL in its body", why);
    std::string odd = "HTTP/1.1 200 O\x1b[2Jk\r\nContent-Length: 0\r\n\r\n";
    ASSERT_TRUE(JudgeHttpResponse(&odd[0], odd.size(), &response, why, sizeof why));
    EXPECT_STREQ("O?[2Jk", response.reason);
}

struct UrlCase {
    const char* url;
    const char* split;  // "tls host port target", or a part of the reason it is refused
};

TEST(SplitHttpUrl, AcceptsTheUrlsOfEndpointsOnly) {
    const UrlCase kCases[] = {
        {"https://login.microsoftonline.com/common/oauth2/v2.0/token",
         "1 login.microsoftonline.com 443 /common/oauth2/v2.0/token"},
        {"HTTPS://OAuth2.GoogleApis.com:8443", "1 oauth2.googleapis.com 8443 /"},
        {"https://example.com?a=1&b=%2F", "1 example.com 443 /?a=1&b=%2F"},
        {"http://127.0.0.1:65535/cb?x=@", "0 127.0.0.1 65535 /cb?x=@"},
        {"http://LOCALHOST/", "0 localhost 80 /"},
        {"https://10.0.0.1:1/", "1 10.0.0.1 1 /"},
        {"ftp://example.com/", "neither https:// nor http://"},
        {"https:/example.com/", "neither https:// nor http://"},
        {"http://example.com/token", "only for this machine"},
        {"http://127.0.0.2/", "only for this machine"},
        {"https://user:pw@example.com/", "names a user"},
        {"https://[::1]:443/", "IPv6"},
        {"https://example.com/#top", "fragment"},
        {"https:///path", "no host"},
        {"https://:443/", "no host"},
        {"https://example.com:0/", "port"},
        {"https://example.com:65536/", "port"},
        {"https://example.com:/", "port"},
        {"https://example.com:44a/", "port"},
        {"https://example.com:0000443/", "port"},
        {"https://exa_mple.com/", "not a name"},
        {"https://example.com/a b", "space"},
        {"https://example.com/\t", "control"},
        {"https://example.com/\x7f", "control"},
        {"https://ex\xc3\xa4mple.com/", "non-ASCII"},
    };
    for (const UrlCase& test : kCases) {
        SCOPED_TRACE(test.url);
        UrlParts parts;
        char why[128] = "";
        if (SplitHttpUrl(test.url, &parts, why, sizeof why)) {
            EXPECT_EQ(test.split, std::to_string(parts.tls) + " " + parts.host + " " + std::to_string(parts.port) +
                                      " " + parts.target);
        } else {
            EXPECT_NE(nullptr, strstr(why, test.split)) << why;
            EXPECT_TRUE(strchr(test.split, ' ') == nullptr || !isdigit(test.split[0])) << why;
        }
    }
    UrlParts parts;
    char why[128];
    const std::string host = "https://" + std::string(255, 'a');
    EXPECT_TRUE(SplitHttpUrl(host.c_str(), &parts, why, sizeof why));
    EXPECT_FALSE(SplitHttpUrl((host + "a").c_str(), &parts, why, sizeof why));
    const std::string target = "https://a/" + std::string(1022, 'p');
    EXPECT_TRUE(SplitHttpUrl(target.c_str(), &parts, why, sizeof why));
    EXPECT_FALSE(SplitHttpUrl((target + "p").c_str(), &parts, why, sizeof why));
    EXPECT_FALSE(SplitHttpUrl(("https://a/?" + std::string(2048, 'q')).c_str(), &parts, why, sizeof why));
    EXPECT_NE(nullptr, strstr(why, "longer than 2048"));
}

// A reply that grows leaves no copy of what it held: a token endpoint's
// reply carries tokens. The first array and each heap block it moves out of
// are wiped; ASan keeps freed blocks out of use for a while, so what was
// left in them can still be looked at (past the notes ASan keeps in their
// first 16 bytes).
TEST(Reply, GrowingLeavesNoCopyBehind) {
#ifndef TIDEWELL_ASAN
    GTEST_SKIP() << "needs ASan's quarantine of freed blocks";
#else
    const std::string secret = "{\"access_token\":\"" + std::string(20000, 'T') + "\"}";
    Reply reply;
    InitReply(&reply);
    for (size_t capacity : {2048, 4096, 16384}) {
        SCOPED_TRACE(capacity);
        reply.length = reply.capacity - 1;
        memcpy(reply.text, secret.data(), reply.length);
        reply.text[reply.length] = '\0';
        char* left = reply.text;
        const size_t leftSize = reply.capacity;
        const size_t notes = left == reply.initial ? 0 : 16;
        ASSERT_TRUE(GrowReply(&reply, capacity));
        EXPECT_EQ(secret.substr(0, reply.length), std::string(reply.text, reply.length));
        if (notes)
            __asan_unpoison_memory_region(left, leftSize);
        EXPECT_EQ(std::string(leftSize - notes, '\0'), std::string(left + notes, leftSize - notes));
        if (notes)
            __asan_poison_memory_region(left, leftSize);
    }
    FreeReply(&reply);
#endif
}

}  // namespace
