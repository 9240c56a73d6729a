#include <gtest/gtest.h>

#include <climits>

#include "mail/pop_reply.h"

namespace {

TEST(IsPopOk, PositiveStatusWithOrWithoutText) {
    EXPECT_TRUE(IsPopOk("+OK Dovecot ready.\r\n"));
    EXPECT_TRUE(IsPopOk("+OK\r\n"));  // Dovecot's answer to USER
    EXPECT_TRUE(IsPopOk("+OK\n"));
    EXPECT_FALSE(IsPopOk("+ok Ready\r\n"));
    EXPECT_FALSE(IsPopOk("-ERR [AUTH] Authentication failed.\r\n"));
    EXPECT_FALSE(IsPopOk("+OKAY\r\n"));
    EXPECT_FALSE(IsPopOk("+OK"));  // cut before its line end: not a whole status
    EXPECT_FALSE(IsPopOk(" +OK x\r\n"));
    EXPECT_FALSE(IsPopOk(""));
}

TEST(FindPopContinuation, APlusAndASpaceButNeverOk) {
    const struct {
        const char* reply;
        const char* continuation;  // null: none
    } cases[] = {
        {"+ \r\n", "\r\n"},
        {"+\r\n", "\r\n"},
        {"+ eyJzdGF0dXMiOiI0MDEifQ==\r\n", "eyJzdGF0dXMiOiI0MDEifQ==\r\n"},
        {"+OK Logged in.\r\n", nullptr},
        {"-ERR [AUTH] Authentication failed.\r\n", nullptr},
        {"+", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        const char* found = FindPopContinuation(c.reply);
        EXPECT_EQ(c.continuation != nullptr, found != nullptr) << c.reply;
        if (found && c.continuation)
            EXPECT_STREQ(c.continuation, found);
    }
}

TEST(ParseStatCount, OnlyADecimalCountRightAfterTheStatus) {
    struct Case {
        const char* reply;
        StatCount result;
        int count;
    };
    const Case cases[] = {
        {"+OK 3 1520\r\n", kStatCounted, 3},
        {"+OK 0 0\r\n", kStatCounted, 0},
        {"+OK 2000 4000000\r\n", kStatCounted, 2000},
        {"+OK 12", kStatCounted, 12},
        {"+OK 5\r\n", kStatCounted, 5},
        {"+OK 2147483647 1\r\n", kStatCounted, INT_MAX},
        {"+OK 2147483648 1\r\n", kStatTooLarge, 0},
        {"+OK 4294967296 1\r\n", kStatTooLarge, 0},
        {"+OK 99999999999999999999999999999999 1\r\n", kStatTooLarge, 0},
        {"+OK\r\n", kStatNoCount, 0},
        {"+OK \r\n", kStatNoCount, 0},
        {"+OK  3 1520\r\n", kStatNoCount, 0},
        {"+OK abc\r\n", kStatNoCount, 0},
        {"+OK -3 100\r\n", kStatNoCount, 0},
        {"+OK +3 100\r\n", kStatNoCount, 0},
        {"+OK 3abc 100\r\n", kStatNoCount, 0},
        {"+OK 3,100\r\n", kStatNoCount, 0},
        // Digits after a bare status belong to whatever came next, not to it.
        {"+OK\n25 3120\r\n", kStatNoCount, 0},
        {"+OK\r7", kStatNoCount, 0},
    };
    for (const Case& c : cases) {
        int count = -7;
        EXPECT_EQ(c.result, ParseStatCount(c.reply, &count)) << c.reply;
        EXPECT_EQ(c.result == kStatCounted ? c.count : -7, count) << c.reply;
    }
}

}  // namespace
