#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "signin/token_file.h"
#include "signin/xoauth2.h"

namespace {

std::string Line(const char* prefix, const char* login, const std::string& token) {
    char why[200] = "";
    char* line = FormXoauth2Line(prefix, login, token.c_str(), why, sizeof why);
    std::string text = line ? line : std::string("<none> ") + why;
    FreeSecretLine(line);
    return text;
}

TEST(Xoauth2, TheLineCarriesLoginAndTokenOrIsNotFormed) {
    EXPECT_EQ("1 AUTHENTICATE XOAUTH2 dXNlcj1tZUBleGFtcGxlLm9yZwFhdXRoPUJlYXJlciB5YTI5LnRvawEB\r\n",
              Line("1 AUTHENTICATE XOAUTH2 ", "me@example.org", "ya29.tok"));
    EXPECT_EQ("dXNlcj1tZUBleGFtcGxlLm9yZwFhdXRoPUJlYXJlciB5YTI5LnRvawEB\r\n", Line("", "me@example.org", "ya29.tok"));
    // The longest token goes whole: 16406 bytes are 21876 in Base64.
    EXPECT_EQ(21878u, Line("", "me", std::string(16384, 'a')).size());
    const struct {
        const char* login;
        std::string token;
        const char* why;
    } refused[] = {
        {"me", "", "the access token cannot be sent: it is empty"},
        {"me", std::string(16385, 'a'), "the access token cannot be sent: it is longer than 16384 bytes"},
        // would end the message early
        {"me", "tok\x01" "auth=Bearer other", "the access token cannot be sent: it holds a control character"},
        {"me", "tok\r\n2 LOGOUT", "the access token cannot be sent: it holds a control character"},
        {"me\x01", "tok", "the account's Login holds a control character, which XOAUTH2 cannot carry"},
        {"me\tyou", "", "the account's Login holds a control character, which XOAUTH2 cannot carry"},
    };
    for (const auto& c : refused)
        EXPECT_EQ(std::string("<none> ") + c.why, Line("", c.login, c.token)) << c.token.size();
}

TEST(Xoauth2, AChallengeIsShownPrintableAndBounded) {
    const std::string longJson =
        "eyJzdGF0dXMiOiI0MDAiLCJzY2hlbWVzIjoiQmVhcmVyIiwic2NvcGUiOiJodHRwczovL21haWwuZ29vZ2xlLmNvbS8ifX" +
        std::string(300, 'h') + "4";
    const struct {
        std::string challenge;
        std::string reason;
    } cases[] = {
        {"eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIiwic2NvcGUiOiJtYWlsIn0=",
         "XOAUTH2 refused: {\"status\":\"401\",\"schemes\":\"bearer\",\"scope\":\"mail\"}"},
        {"AAF7ImFcIn3/", "XOAUTH2 refused: \\x00\\x01{\"a\\x5C\"}\\xFF"},
        {"", "XOAUTH2 refused (an empty challenge)"},
        {"not base64!\x1b", "XOAUTH2 refused, a challenge that is no Base64: not base64!\\x1B"},
    };
    for (const auto& c : cases) {
        char reason[256];
        DescribeXoauth2Challenge(c.challenge.data(), c.challenge.size(), reason, sizeof reason);
        EXPECT_EQ(c.reason, reason);
    }
    // A long challenge is cut with "...", within the reason's room.
    char reason[256];
    DescribeXoauth2Challenge(longJson.data(), longJson.size(), reason, sizeof reason);
    const std::string shown = reason;
    EXPECT_EQ(0u, shown.find("XOAUTH2 refused: {\"status\":\"400\",\"schemes\":\"Bearer\""));
    EXPECT_EQ(shown.size() - 3, shown.find("..."));
    EXPECT_LE(shown.size(), 17u + 160u + 3u);
    char small[24];
    DescribeXoauth2Challenge(longJson.data(), longJson.size(), small, sizeof small);
    EXPECT_EQ("XOAUTH2 refused: {\"s...", std::string(small));
}

// The file's head keeps each part apart: moving a character from one part
// into the next is another binding, never the same one.
TEST(TokenFile, HeadsAreJudgedAgainstTheBinding) {
    const TokenBinding ours = {"imap.example.org", "me@example.org", "client", "https://a/auth", "https://a/token"};
    const TokenBinding shifted = {"imap.example.orgm", "e@example.org", "client", "https://a/auth", "https://a/token"};
    char binding[kTokenBindingSize];
    size_t length = FormTokenBinding(&ours, binding, sizeof binding);
    ASSERT_GT(length, 0u);
    char head[kTokenBindingSize + 64];
    const std::string file = std::string(head, FormTokenFileHead(binding, length, head, sizeof head)) + "SEALED";
    char other[kTokenBindingSize];
    size_t otherLength = FormTokenBinding(&shifted, other, sizeof other);
    const struct {
        std::string bytes;
        TokenFileHead expected;
    } cases[] = {
        {file, kTokenHeadOurs},
        {std::string(head, FormTokenFileHead(other, otherLength, head, sizeof head)) + "SEALED", kTokenHeadOtherBinding},
        {file.substr(0, file.size() - 6), kTokenHeadNotOurs},  // nothing sealed
        {"Tidewell refresh token 2\n" + file.substr(25), kTokenHeadNotOurs},
        {file.substr(0, 30), kTokenHeadNotOurs},
        {"", kTokenHeadNotOurs},
    };
    for (const auto& c : cases) {
        size_t sealedAt = 0;
        EXPECT_EQ(c.expected, ReadTokenFileHead(c.bytes.data(), c.bytes.size(), binding, length, &sealedAt)) << c.bytes;
        if (c.expected == kTokenHeadOurs)
            EXPECT_EQ("SEALED", c.bytes.substr(sealedAt));
    }
    // A binding too long for its room is not formed at all.
    const std::string huge(kTokenBindingSize, 'x');
    const TokenBinding tooLong = {huge.c_str(), "", "", "", ""};
    EXPECT_EQ(0u, FormTokenBinding(&tooLong, other, sizeof other));

    const struct {
        std::string plain;
        const char* token;  // null: refused
    } sealed[] = {
        {std::string(binding, length) + "1//0refresh", "1//0refresh"},
        {std::string(binding, length), nullptr},
        {std::string(binding, length) + "two words", nullptr},
        {std::string(binding, length) + std::string(16385, 'r'), nullptr},
        {std::string(other, otherLength) + "1//0refresh", nullptr},
    };
    for (const auto& c : sealed) {
        char token[16385];
        EXPECT_EQ(c.token != nullptr, ReadSealedToken(c.plain.data(), c.plain.size(), binding, length, token, sizeof token));
        EXPECT_EQ(c.token ? c.token : "", std::string(token));
    }
}

}  // namespace
