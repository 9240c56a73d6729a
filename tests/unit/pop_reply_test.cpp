#include <gtest/gtest.h>

#include <climits>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "check/seen_state.h"
#include "mail/pop_reply.h"
#include "text/bounded_text.h"

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

namespace {

std::string Ids(const UidSet& set) {
    std::string ids;
    for (size_t i = 0; i < set.count; ++i)
        ids += std::string(i ? " " : "") + (set.text + set.starts[i]);
    return ids;
}

TEST(ReadUidlListing, SortedIdsOrWhyNot) {
    const std::string longest(70, '~');
    const struct {
        std::string reply;
        UidlRead read;
        std::string ids;  // sorted
    } cases[] = {
        {"+OK\r\n1 whqtswO00WBw418f9t5JxYwZ\r\n2 QhdPYR:00WBw1Ph7x7\r\n.\r\n", kUidlRead,
         "QhdPYR:00WBw1Ph7x7 whqtswO00WBw418f9t5JxYwZ"},
        {"+OK 0 messages\r\n.\r\n", kUidlRead, ""},
        {"+OK\n1 b\n2 a\n.\n", kUidlRead, "a b"},
        {"+OK\r\n1 " + longest + "\r\n.\r\n", kUidlRead, longest},
        {"+OK\r\n1 " + longest + "~\r\n.\r\n", kUidlBad, ""},
        {"+OK\r\n1 a b\r\n.\r\n", kUidlBad, ""},
        {"+OK\r\n1\r\n.\r\n", kUidlBad, ""},
        {"+OK\r\nx a\r\n.\r\n", kUidlBad, ""},
        {"+OK\r\n1 caf\xC3\xA9\r\n.\r\n", kUidlBad, ""},
        {"+OK\r\n1 a\r\n", kUidlBad, ""},
        {"-ERR unknown command\r\n", kUidlBad, ""},
    };
    for (const auto& c : cases) {
        UidSet set = {};
        EXPECT_EQ(c.read, ReadUidlListing(c.reply.c_str(), c.reply.size(), &set, nullptr)) << c.reply;
        EXPECT_EQ(c.ids, Ids(set)) << c.reply;
        for (size_t i = 0; i < set.count; ++i)
            EXPECT_TRUE(UidSetHolds(&set, set.text + set.starts[i]));
        EXPECT_FALSE(UidSetHolds(&set, "zz"));
        FreeUidSet(&set);
    }
}

std::string Listing(const std::vector<std::string>& ids) {
    std::string listing = "+OK\r\n";
    for (size_t i = 0; i < ids.size(); ++i)
        listing += std::to_string(i + 1) + " " + ids[i] + "\r\n";
    return listing + ".\r\n";
}

TEST(CountIdsNotIn, IdsTheMarksDoNotHold) {
    const struct {
        std::vector<std::string> listing;
        std::vector<std::string> marks;
        size_t fresh;
    } cases[] = {
        {{"c", "a", "b"}, {}, 3},
        {{"c", "a", "b"}, {"b"}, 2},
        {{"b", "b"}, {"b"}, 0},
        {{"a", "c"}, {"b", "d"}, 2},
        {{}, {"a"}, 0},
        {{"z", "y", "x"}, {"a", "b", "x", "y", "z"}, 0},
        {{"ab", "a"}, {"abc"}, 2},
    };
    for (const auto& c : cases) {
        UidSet listing = {};
        UidSet marks = {};
        ASSERT_EQ(kUidlRead, ReadUidlListing(Listing(c.listing).c_str(), Listing(c.listing).size(), &listing, nullptr));
        ASSERT_EQ(kUidlRead, ReadUidlListing(Listing(c.marks).c_str(), Listing(c.marks).size(), &marks, nullptr));
        size_t fresh = 99;
        EXPECT_TRUE(CountIdsNotIn(&listing, &marks, nullptr, &fresh));
        EXPECT_EQ(c.fresh, fresh) << Listing(c.listing);
        FreeUidSet(&listing);
        FreeUidSet(&marks);
    }
}

MailAccount Account(const char* type, const char* login, const char* folder = "") {
    MailAccount account = {};
    CopyText(account.typeText, sizeof account.typeText, type);
    CopyText(account.address, sizeof account.address, "mail.example.org");
    CopyText(account.login, sizeof account.login, login);
    CopyText(account.folder, sizeof account.folder, folder);
    return account;
}

// Two IMAP accounts and a POP3 one, with keys.
struct Entries {
    SeenEntry entries[3] = {};
    Entries() {
        const MailAccount accounts[] = {Account("IMAP", "me", "Lists/T\xE9l \"x\""), Account("imap", "you"),
                                        Account("POP", "me")};
        for (int i = 0; i < 3; ++i) {
            FormSeenKey(&accounts[i], entries[i].key, sizeof entries[i].key);
            entries[i].pop = i == 2;
        }
    }
    ~Entries() {
        for (SeenEntry& entry : entries)
            FreeSeenMark(&entry.baseline);
    }
};

TEST(SeenFile, WrittenMarksReadBackUnderTheirKeys) {
    Entries written;
    written.entries[0].baseline = SeenMark{true, 1700000000, 41, UidSet{}};
    ASSERT_EQ(kUidlRead, ReadUidlListing(Listing({"b", "a"}).c_str(), Listing({"b", "a"}).size(), &written.entries[2].baseline.uids, nullptr));
    written.entries[2].baseline.known = true;
    size_t length = 0;
    char* text = FormSeenFile(written.entries, 3, &length);
    ASSERT_NE(nullptr, text);
    EXPECT_EQ("Tidewell seen 1\nimap imap%2Fmail.example.org%2Fme%2FLists%2FT%E9l%20%22x%22 1700000000 41\n"
              "pop pop%2Fmail.example.org%2Fme%2F 2\na\nb\n",
              std::string(text, length));
    // A copy of the marks, which the file is written from, writes the same.
    SeenEntry* copy = CopySeenBaselines(written.entries, 3);
    ASSERT_NE(nullptr, copy);
    FreeSeenMark(&written.entries[2].baseline);
    size_t copyLength = 0;
    char* copyText = FormSeenFile(copy, 3, &copyLength);
    FreeSeenEntries(copy, 3);
    EXPECT_EQ(std::string(text, length), std::string(copyText, copyLength));
    free(copyText);
    // Read by accounts listed in another order: the key finds each mark.
    Entries read;
    std::swap(read.entries[0], read.entries[1]);
    size_t badLine = 0;
    EXPECT_EQ(kSeenFileRead, ReadSeenFile(text, length, read.entries, 3, &badLine, nullptr));
    free(text);
    EXPECT_FALSE(read.entries[0].baseline.known);
    EXPECT_TRUE(read.entries[1].baseline.known);
    EXPECT_EQ(1700000000u, read.entries[1].baseline.validity);
    EXPECT_EQ(41u, read.entries[1].baseline.highest);
    EXPECT_EQ("a b", Ids(read.entries[2].baseline.uids));
}

TEST(SeenFile, DamageForgetsEveryMarkAndNamesItsLine) {
    const std::string head = "Tidewell seen 1\n";
    const std::string good = head + "pop pop%2Fmail.example.org%2Fme%2F 1\na\n";
    const struct {
        std::string text;
        size_t badLine;  // 0: read
    } cases[] = {
        {good, 0},
        {head, 0},
        {head + "imap elsewhere 1 2\n" + "pop pop%2Fmail.example.org%2Fme%2F 0\n", 0},
        {"", 1},
        {"Tidewell seen 2\n", 1},
        {good + "imap x 1\n", 4},
        {good + "imap x 1 2 3\n", 4},
        {good + "imap x 1 -2\n", 4},
        {good + "imap x 1 4294967296\n", 4},
        {good + "mbox x 1 2\n", 4},
        {good + "imap  1 2\n", 4},
        {head + "pop pop%2Fmail.example.org%2Fme%2F 3\na\nb\n", 5},
        {head + "pop pop%2Fmail.example.org%2Fme%2F 1\na b\n", 3},
        {head + "pop pop%2Fmail.example.org%2Fme%2F 1\n\n", 3},
        {good + std::string("imap x 1 2\0\n", 12), 4},
        {good + std::string("imap x\0 1 2\n", 12), 4},
        {good.substr(0, good.size() - 3), 3},
        {good.substr(0, good.size() - 1), 3},
        {head + "imap elsewhere 1 2", 2},
        {head.substr(0, head.size() - 1), 1},
    };
    for (const auto& c : cases) {
        Entries entries;
        size_t badLine = 0;
        EXPECT_EQ(c.badLine == 0 ? kSeenFileRead : kSeenFileDamaged,
                  ReadSeenFile(c.text.data(), c.text.size(), entries.entries, 3, &badLine, nullptr))
            << c.text;
        EXPECT_EQ(c.badLine, badLine) << c.text;
        EXPECT_EQ(c.badLine == 0 && c.text != head, entries.entries[2].baseline.known) << c.text;
        EXPECT_FALSE(entries.entries[0].baseline.known);
    }
}

// A probe that answers stop from its nth question on.
struct CountedProbe {
    int questions;
    int stopAt;
};

bool AskCounted(const void* context) {
    CountedProbe* probe = static_cast<CountedProbe*>(const_cast<void*>(context));
    return ++probe->questions >= probe->stopAt;
}

// A stop asked for while a large listing or file is read, sorted or
// compared ends the work, which leaves nothing behind it.
TEST(StopProbe, EndsTheWorkOnLargeListingsAndFiles) {
    std::vector<std::string> ids;
    std::string file = "Tidewell seen 1\npop pop%2Fmail.example.org%2Fme%2F 100000\n";
    for (int i = 0; i < 100000; ++i) {
        ids.push_back("id" + std::to_string(100000 + (i * 7919) % 100000));
        file += "id" + std::to_string(100000 + i) + "\n";
    }
    const std::string listing = Listing(ids);
    for (int stopAt : {1, 3}) {
        SCOPED_TRACE(stopAt);
        CountedProbe counted = {0, stopAt};
        const StopProbe stop = {AskCounted, &counted};
        UidSet set = {};
        EXPECT_EQ(kUidlStopped, ReadUidlListing(listing.c_str(), listing.size(), &set, &stop));
        EXPECT_EQ(0u, set.count);
        EXPECT_EQ(nullptr, set.text);

        counted.questions = 0;
        Entries entries;
        size_t badLine = 0;
        EXPECT_EQ(kSeenFileStopped, ReadSeenFile(file.data(), file.size(), entries.entries, 3, &badLine, &stop));
        EXPECT_FALSE(entries.entries[2].baseline.known);

        counted.questions = 0;
        ASSERT_EQ(kUidlRead, ReadUidlListing(listing.c_str(), listing.size(), &set, nullptr));
        size_t fresh = 7;
        EXPECT_FALSE(CountIdsNotIn(&set, &set, &stop, &fresh));
        EXPECT_EQ(7u, fresh);
        FreeUidSet(&set);
    }
    CountedProbe never = {0, INT_MAX};
    const StopProbe unstopped = {AskCounted, &never};
    Entries entries;
    size_t badLine = 0;
    EXPECT_EQ(kSeenFileRead, ReadSeenFile(file.data(), file.size(), entries.entries, 3, &badLine, &unstopped));
    EXPECT_EQ(100000u, entries.entries[2].baseline.uids.count);
}

}  // namespace
