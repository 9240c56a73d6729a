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

TEST(ParseStatCount, FirstNumberRightAfterTheStatus) {
    EXPECT_EQ(3, ParseStatCount("+OK 3 1520\r\n"));
    EXPECT_EQ(0, ParseStatCount("+OK 0 0\r\n"));
    EXPECT_EQ(0, ParseStatCount("+OK  3 1520\r\n"));
    EXPECT_EQ(2000, ParseStatCount("+OK 2000 4000000\r\n"));
    EXPECT_EQ(0, ParseStatCount("+OK\r\n"));
    EXPECT_EQ(12, ParseStatCount("+OK 12"));
    // Digits after a bare status belong to whatever came next, not to it.
    EXPECT_EQ(0, ParseStatCount("+OK\n25 3120\r\n"));
    EXPECT_EQ(0, ParseStatCount("+OK\r7"));
    EXPECT_EQ(INT_MAX, ParseStatCount("+OK 2147483647 1\r\n"));
    EXPECT_EQ(INT_MAX, ParseStatCount("+OK 2147483648 1\r\n"));
    EXPECT_EQ(INT_MAX, ParseStatCount("+OK 99999999999999999999999999999999 1\r\n"));
}

}  // namespace
