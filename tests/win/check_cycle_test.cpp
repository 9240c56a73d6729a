// Whole check cycles over several accounts, with the labels they show.
#include "scripted_server_win.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "check_bed_win.h"
#include "check/check_cycle_win.h"
#include "recording_host_win.h"
#include "text/bounded_text.h"

namespace {

using Labels = std::vector<std::string>;

// An IMAP server whose search finds the given messages ("" for none).
std::unique_ptr<ScriptedServer> ServerFinding(const std::string& found) {
    return std::unique_ptr<ScriptedServer>(new ScriptedServer(
        {Send("* OK ready\r\n"), ReadLine(), Send("1 OK\r\n"), ReadLine(), Send("2 OK\r\n"), ReadLine(),
         Send("* SEARCH" + found + "\r\n3 OK\r\n"), ReadLine(), Send("4 OK\r\n"), CloseConnection()}));
}

std::unique_ptr<ScriptedServer> RefusingServer() {
    return std::unique_ptr<ScriptedServer>(new ScriptedServer({Send("* BYE go away\r\n")}));
}

class CheckCycle : public ::testing::Test {
protected:
    CheckCycle() {
        RecordingHost::Reset();
        CopyText(bed.instance.checkText, kLabelSize, "Checking");
        CopyText(bed.instance.noMessageText, kLabelSize, "None");
        CopyText(bed.instance.oneMessageText, kLabelSize, "One");
        CopyText(bed.instance.manyMessagesTemplate, kLabelSize, "%d new");
    }
    size_t Count(const std::string& text) const {
        const std::string log = bed.Log();
        size_t count = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++count;
        return count;
    }

    CheckBed bed;
};

TEST_F(CheckCycle, NoAccountsEndsWithTheNoMessageText) {
    CheckAllAccounts(&bed.instance);
    EXPECT_EQ((Labels{"Checking", "None"}), RecordingHost::Labels());
    EXPECT_EQ("  Error: no account to check: NbAccount is 0\r\n  Total mails:0\r\n", bed.Log());
}

TEST_F(CheckCycle, CountsAboveZeroAddUpAndFailuresAreLogged) {
    auto three = ServerFinding(" 1 2 3");
    auto failing = RefusingServer();
    auto none = ServerFinding("");
    auto two = ServerFinding(" 8 9");
    bed.AddAccount(kAccountImap, three->Port());
    bed.AddAccount(kAccountImap, failing->Port());
    bed.AddAccount(kAccountNone, 1);  // never asked
    bed.AddAccount(kAccountImap, none->Port());
    bed.AddAccount(kAccountImap, two->Port());
    CheckAllAccounts(&bed.instance);
    EXPECT_EQ((Labels{"Checking", "5 new"}), RecordingHost::Labels());
    EXPECT_EQ(2u, Count("    Failed !\r\n"));
    EXPECT_EQ(2u, Count("    Error: "));
    EXPECT_NE(std::string::npos, bed.Log().find("  Account 1\r\n    Connect"));
    EXPECT_NE(std::string::npos, bed.Log().find("    Error: rejected by the server: greeting\r\n    Failed !\r\n"
                                                "  Account 2\r\n    Error: unknown Type \"\": account skipped\r\n"
                                                "    Failed !\r\n  Account 3\r\n"));
    EXPECT_NE(std::string::npos, bed.Log().find("  Total mails:5\r\n"));
}

TEST_F(CheckCycle, OneMessageShowsTheOneMessageTextUnformatted) {
    CopyText(bed.instance.oneMessageText, kLabelSize, "%d message");
    auto one = ServerFinding(" 4");
    bed.AddAccount(kAccountImap, one->Port());
    CheckAllAccounts(&bed.instance);
    EXPECT_EQ((Labels{"Checking", "%d message"}), RecordingHost::Labels());

    RecordingHost::Reset();
    auto two = ServerFinding(" 4 5");
    bed.instance.accounts[0].port = two->Port();
    CheckAllAccounts(&bed.instance);
    EXPECT_EQ((Labels{"Checking", "2 new"}), RecordingHost::Labels());
}

TEST_F(CheckCycle, EveryAccountFailingLooksLikeNoMail) {
    auto first = RefusingServer();
    auto second = RefusingServer();
    bed.AddAccount(kAccountImap, first->Port());
    bed.AddAccount(kAccountImap, second->Port());
    CheckAllAccounts(&bed.instance);
    EXPECT_EQ((Labels{"Checking", "None"}), RecordingHost::Labels());
    EXPECT_EQ(2u, Count("    Failed !\r\n"));
}

// What the label says with stringFailed set: the count the other accounts
// gave, then the failure; the failure alone when no account answered.
TEST_F(CheckCycle, FailuresShowOnTheLabelWhenStringFailedIsSet) {
    enum Account { kThree, kOne, kNothing, kRefusing, kUnknownType };
    struct Case {
        const char* failedTemplate;
        const char* noMessageText;
        std::vector<Account> accounts;
        const char* label;
    };
    const Case cases[] = {
        {"", "None", {kThree, kRefusing}, "3 new"},
        {"", "None", {kRefusing}, "None"},
        {"%d failed", "None", {kThree, kRefusing}, "3 new, 1 failed"},
        {"%d failed", "None", {kOne, kUnknownType, kRefusing}, "One, 2 failed"},
        {"%d failed", "None", {kNothing, kRefusing}, "None, 1 failed"},
        {"%d failed", "None", {kRefusing, kUnknownType}, "2 failed"},
        {"%d failed", "None", {kUnknownType}, "1 failed"},
        {"%d failed", "", {kNothing, kRefusing}, "1 failed"},
        {"%d failed", "None", {kThree, kNothing}, "3 new"},
        {"%d failed", "None", {}, "No account to check"},
        {"", "None", {}, "None"},
        {"no check %s%n%%", "None", {kRefusing}, "no check %s%n%"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CheckBed local;
        CopyText(local.instance.noMessageText, kLabelSize, c.noMessageText);
        CopyText(local.instance.oneMessageText, kLabelSize, "One");
        CopyText(local.instance.manyMessagesTemplate, kLabelSize, "%d new");
        CopyText(local.instance.failedTemplate, kLabelSize, c.failedTemplate);
        std::vector<std::unique_ptr<ScriptedServer>> servers;
        for (Account account : c.accounts) {
            servers.push_back(account == kThree     ? ServerFinding(" 1 2 3")
                              : account == kOne     ? ServerFinding(" 7")
                              : account == kNothing ? ServerFinding("")
                                                    : RefusingServer());
            local.AddAccount(account == kUnknownType ? kAccountNone : kAccountImap, servers.back()->Port());
        }
        RecordingHost::Reset();
        CheckAllAccounts(&local.instance);
        EXPECT_EQ((Labels{"", c.label}), RecordingHost::Labels());
    }
}

TEST_F(CheckCycle, EmptyTextsEmptyTheLabel) {
    bed.instance.checkText[0] = '\0';
    bed.instance.noMessageText[0] = '\0';
    bed.instance.manyMessagesTemplate[0] = '\0';
    CheckAllAccounts(&bed.instance);
    auto three = ServerFinding(" 1 2 3");
    bed.AddAccount(kAccountImap, three->Port());
    CheckAllAccounts(&bed.instance);
    EXPECT_EQ((Labels{"", "", "", ""}), RecordingHost::Labels());
}

TEST_F(CheckCycle, AStoppedCycleLeavesTheItemAlone) {
    auto three = ServerFinding(" 1 2 3");
    bed.AddAccount(kAccountImap, three->Port());
    SetEvent(bed.instance.stopEvent);
    CheckAllAccounts(&bed.instance);
    EXPECT_EQ((Labels{"Checking"}), RecordingHost::Labels());
    EXPECT_EQ("<missing>", bed.Log());  // not even a line
}

}  // namespace
