// The POP3 dialogue against scripted servers, with the local corrections
// from DBX files and the registry.
#include "scripted_server_win.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "check_bed_win.h"
#include "check/pop_count_win.h"
#include "check/seen_board_win.h"
#include "silent_pipe_win.h"
#include "mail/pop_check.h"
#include "mail/registry_count_win.h"
#include "text/base64.h"
#include "text/bounded_text.h"
#include "tls_scenes_win.h"

namespace {

// Each test has a key of its own: tests run side by side in one Wine prefix.
std::string TestKey() {
    return std::string("Software\\TidewellTests\\") +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

std::vector<ServerStep> Dialogue(const std::string& stat, size_t piece = 0) {
    return {Send("+OK Dovecot ready.\r\n", piece), ReadLine(), Send("+OK\r\n", piece), ReadLine(),
            Send("+OK Logged in.\r\n", piece), ReadLine(), Send(stat, piece), ReadLine(),
            Send("+OK Logging out.\r\n", piece), CloseConnection()};
}

class PopCheck : public ::testing::Test {
protected:
    ~PopCheck() override { RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str()); }

    void SetRegistry(const char* name, DWORD type, const void* data, DWORD size) {
        HKEY opened;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE,
                                                 nullptr, &opened, nullptr));
        RegSetValueExA(opened, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(opened);
    }
    void SetCount(const char* name, DWORD count) { SetRegistry(name, REG_DWORD, &count, sizeof count); }
    // A DBX file whose header holds count; size bytes long.
    std::string Dbx(const char* name, int32_t count, size_t size = 208) {
        std::string bytes(size, '\0');
        if (size >= 200)
            memcpy(&bytes[196], &count, 4);
        bed.folder.Write(name, bytes);
        return bed.folder.Path() + name;
    }
    void UseDbx(MailAccount& account, std::initializer_list<std::string> paths) {
        account.dbxCount = 0;
        for (const std::string& path : paths)
            CopyText(account.dbxPaths[account.dbxCount++], kDbxPathSize, path.c_str());
    }

    const std::string key = TestKey();
    CheckBed bed;
};

TEST_F(PopCheck, ServerCountAndTheWholeDialogue) {
    ScriptedServer server(Dialogue("+OK 7 10240\r\n"));
    bed.AddAccount(kAccountPop, server.Port());
    EXPECT_EQ(7, CheckPopAccount(&bed.instance, &bed.instance.accounts[0], nullptr));
    EXPECT_EQ("USER me\r\nPASS secret\r\nSTAT\r\nQUIT\r\n", server.Received());
    EXPECT_EQ(ConnectionLogLine("Nb messages in DBX file: 0") +
                  ConnectionLogLine("Connect 127.0.0.1 " + std::to_string(server.Port())) +
                  ConnectionLogLine("+OK Dovecot ready.\r\n") + ConnectionLogLine("USER me\r\n") + ConnectionLogLine("+OK\r\n") +
                  ConnectionLogLine("PASS secret\r\n") + ConnectionLogLine("+OK Logged in.\r\n") + ConnectionLogLine("STAT\r\n") +
                  ConnectionLogLine("+OK 7 10240\r\n") + ConnectionLogLine("QUIT\r\n") + ConnectionLogLine("+OK Logging out.\r\n") +
                  ConnectionLogLine("Disconnect") + ConnectionLogLine("Nb messages in the server: 7"),
              bed.Log());
}

// A listing as the log shows it: whole up to 64 KiB, else up to a line end
// within them, and how much more came.
std::string ShownListing(const std::string& listing) {
    if (listing.size() <= 65536)
        return ConnectionLogLine(listing);
    const size_t shown = listing.rfind('\n', 65535) + 1;
    return ConnectionLogLine(listing.substr(0, shown) + "... (" + std::to_string(listing.size() - shown) +
                             " bytes more)");
}

// One item's checks in turn, with a click and a restart between them. The
// local corrections do not apply: the DBX file counts 2 throughout.
TEST_F(PopCheck, CountNewCountsTheIdsThatCameSinceTheLastClick) {
    // A server that keeps every message lists far more than other replies hold.
    std::string kept = "+OK\r\n1 c3\r\n2 f6\r\n";
    for (int i = 3; i < 60003; ++i)
        kept += std::to_string(i) + " 0123456789abcdef0123456789ab" + std::to_string(i) + "\r\n";
    kept += ".\r\n";
    const struct {
        const char* name;
        const char* listing;  // the reply to UIDL
        int count;
        const char* logged;   // a line the log holds, or empty
        bool clickAfter = false;
        bool restartAfter = false;
        const char* fileBefore = nullptr;  // written before the check
    } steps[] = {
        {"first check: nothing is new", "+OK\r\n1 a1\r\n2 b2\r\n.\r\n", 0,
         "CountNew: no mark for this account yet: the 2 messages on the server are not new"},
        {"two arrive, one goes", "+OK\r\n1 b2\r\n2 c3\r\n3 .d4\r\n.\r\n", 2, "Nb new messages in the server: 2",
         true, true},
        {"the click survives a restart", "+OK\r\n1 c3\r\n2 .d4\r\n3 e5\r\n.\r\n", 1, ""},
        {"no UIDL: today's count", "-ERR Unknown command\r\n", 1,
         "CountNew: the server has no UIDL: counting every message"},
        {"a listing that is none: today's count", "+OK\r\n1\r\n.\r\n", 1,
         "CountNew: the reply to UIDL is no listing of unique-ids: counting every message"},
        {"a damaged file starts over", "+OK\r\n1 c3\r\n2 f6\r\n.\r\n", 0,
         "is damaged at line 4: what the servers hold now is not new", false, false,
         "Tidewell seen 1\npop pop%2F127.0.0.1%2Fme%2F 4000000000\nc3\n"},
        {"a listing of two mebibytes", kept.c_str(), 60000, "Nb new messages in the server: 60000"},
    };
    MailAccount& account = bed.AddAccount(kAccountPop, 0);
    CopyText(account.typeText, sizeof account.typeText, "POP");
    account.countNew = true;
    UseDbx(account, {Dbx("Inbox.dbx", 2)});
    bed.StartSeenBoard();
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.fileBefore) {
            bed.folder.Write("TidewellDocklet.seen", step.fileBefore);
            bed.StartSeenBoard();
        }
        ScriptedServer server({Send("+OK Dovecot ready.\r\n"), ReadLine(), Send("+OK\r\n"), ReadLine(),
                               Send("+OK Logged in.\r\n"), ReadLine(), Send("+OK 3 300\r\n"), ReadLine(),
                               Send(step.listing), ReadLine(), Send("+OK Logging out.\r\n"), CloseConnection()});
        bed.instance.accounts[0].port = server.Port();
        EXPECT_EQ(step.count, CheckPopAccount(&bed.instance, &bed.instance.accounts[0], nullptr));
        EXPECT_EQ("USER me\r\nPASS secret\r\nSTAT\r\nUIDL\r\nQUIT\r\n", server.Received());
        EXPECT_NE(std::string::npos, bed.Log().find(ShownListing(step.listing))) << bed.Log();
        if (step.logged[0]) {
            EXPECT_NE(std::string::npos, bed.Log().find(step.logged)) << bed.Log();
        }
        bed.EndSeenStep(step.clickAfter, step.restartAfter);
    }
    EXPECT_EQ("Tidewell seen 1\npop pop%2F127.0.0.1%2Fme%2F 2\nc3\nf6\n", bed.folder.Read("TidewellDocklet.seen"));
}

// The listing comes back as the server sent it, read in the reply it came
// in rather than copied, and only the caller judges it: no marks here.
TEST_F(PopCheck, UidlReportsTheListingWhereItCameIn) {
    const struct {
        const char* reply;  // to UIDL; empty: the server closes instead
        bool connected;
        bool listed;
    } cases[] = {
        {"+OK\r\n1 a1\r\n2 b2\r\n.\r\n", true, true},
        {"+OK\r\n1\r\n.\r\n", true, true},
        {"-ERR Unknown command\r\n", true, false},
        {"", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        CheckBed local;
        ScriptedServer server({Send("+OK ready.\r\n"), ReadLine(), Send("+OK\r\n"), ReadLine(),
                               Send("+OK Logged in.\r\n"), ReadLine(), Send("+OK 2 200\r\n"), ReadLine(),
                               c.reply[0] ? Send(c.reply) : CloseConnection(), ReadLine(), Send("+OK Bye\r\n")});
        MailAccount& account = local.AddAccount(kAccountPop, server.Port());
        PopSession session;
        ASSERT_TRUE(OpenPopMailbox(&local.instance, &account, nullptr, &session));
        UidlReply said;
        EXPECT_EQ(c.connected, ListPopUids(&local.instance, &session, &said));
        EXPECT_EQ(c.listed, said.listed);
        EXPECT_EQ(session.reply.text, said.text);
        EXPECT_EQ(c.connected ? std::string(c.reply) : "", std::string(said.text, said.length));
        if (c.connected)
            QuitPop(&local.instance, &session);
        else
            AbandonPopSession(&local.instance, &session);
        FreeReply(&session.reply);
        EXPECT_EQ(std::string("USER me\r\nPASS secret\r\nSTAT\r\nUIDL\r\n") + (c.connected ? "QUIT\r\n" : ""),
                  server.Received());
    }
}

// Listings of several items sorted at the same moment, on threads of their
// own: each set holds its own ids, in order, whatever the others do.
struct SortingThread {
    HANDLE start;
    std::string listing;  // ids of one width, in descending order
    size_t ids;
    int faults;
};

DWORD WINAPI SortListings(void* parameter) {
    SortingThread* thread = static_cast<SortingThread*>(parameter);
    WaitForSingleObject(thread->start, INFINITE);
    for (int round = 0; round < 4; ++round) {
        UidSet set = {};
        if (ReadUidlListing(thread->listing.c_str(), thread->listing.size(), &set, nullptr) != kUidlRead || set.count != thread->ids) {
            ++thread->faults;
            continue;
        }
        for (size_t i = 1; i < set.count; ++i)
            thread->faults += strcmp(set.text + set.starts[i - 1], set.text + set.starts[i]) < 0 ? 0 : 1;
        FreeUidSet(&set);
    }
    return 0;
}

TEST(UidlListings, SortedOnSeveralThreadsAtOnceEachHoldItsOwnOrder) {
    const struct {
        size_t ids;
        int width;
    } listings[] = {{120000, 12}, {120000, 40}, {20000, 70}, {2000, 5}};
    HANDLE start = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<SortingThread> threads(4);
    std::vector<HANDLE> handles;
    for (size_t t = 0; t < threads.size(); ++t) {
        threads[t] = SortingThread{start, "+OK\r\n", listings[t].ids, 0};
        for (size_t i = 0; i < listings[t].ids; ++i) {
            std::string id = std::to_string(listings[t].ids - i);
            threads[t].listing += std::to_string(i + 1) + " " +
                                  std::string(listings[t].width - id.size(), 'a' + static_cast<char>(t)) + id + "\r\n";
        }
        threads[t].listing += ".\r\n";
        handles.push_back(CreateThread(nullptr, 0, SortListings, &threads[t], 0, nullptr));
    }
    SetEvent(start);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, 60000));
    for (size_t t = 0; t < threads.size(); ++t) {
        EXPECT_EQ(0, threads[t].faults) << "listing " << t;
        CloseHandle(handles[t]);
    }
    CloseHandle(start);
}

// A click on the host's thread while a worker compares a large listing with
// the marks: it never waits for the comparison, and the count is made again
// above the mark the click set.
struct Clicker {
    SeenBoard* board;
    volatile LONG comparing;  // set by the worker around the comparison
    volatile LONG done;
    DWORD longestMs;
};

DWORD WINAPI ClickWhileComparing(void* parameter) {
    Clicker* clicker = static_cast<Clicker*>(parameter);
    while (!clicker->comparing && !clicker->done)
        Sleep(0);
    while (clicker->comparing) {
        const DWORD start = GetTickCount();
        MarkAllSeen(clicker->board);
        const DWORD spent = GetTickCount() - start;
        clicker->longestMs = spent > clicker->longestMs ? spent : clicker->longestMs;
    }
    return 0;
}

UidSet Listing(size_t ids) {
    std::string text = "+OK\r\n";
    for (size_t i = 0; i < ids; ++i)
        text += std::to_string(i + 1) + " " + std::to_string(1000000 + i * 7919 % ids) + ".M0123456789abcdef01234567\r\n";
    UidSet set = {};
    EXPECT_EQ(kUidlRead, ReadUidlListing((text + ".\r\n").c_str(), text.size() + 3, &set, nullptr));
    return set;
}

TEST_F(PopCheck, AClickNeverWaitsForACountNewComparison) {
    MailAccount& account = bed.AddAccount(kAccountPop, 0);
    account.countNew = true;
    bed.StartSeenBoard();
    const MailAccount* counted = &bed.instance.accounts[0];
    UidSet first = Listing(350000), shown = Listing(351000), latest = Listing(351500);
    EXPECT_EQ(0, CountNewPopIds(&bed.instance, counted, &first));
    EXPECT_EQ(1000, CountNewPopIds(&bed.instance, counted, &shown));

    Clicker clicker = {bed.instance.seen, 0, 0, 0};
    HANDLE thread = CreateThread(nullptr, 0, ClickWhileComparing, &clicker, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    const DWORD start = GetTickCount();
    InterlockedExchange(&clicker.comparing, 1);
    // The click marks the 351,000 the label showed, not the listing being compared.
    EXPECT_EQ(500, CountNewPopIds(&bed.instance, counted, &latest));
    InterlockedExchange(&clicker.comparing, 0);
    const DWORD comparedMs = GetTickCount() - start;
    InterlockedExchange(&clicker.done, 1);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_LT(clicker.longestMs * 2, comparedMs) << "a click waited " << clicker.longestMs << " ms";

    // The clicker may have marked it already, between the count and its end.
    UidSet again = Listing(351500);
    MarkAllSeen(bed.instance.seen);
    EXPECT_EQ(0, CountNewPopIds(&bed.instance, counted, &again));
}

// The item goes away while a listing of 350,000 ids (12 MB) streams in, or
// while it is read, sorted and compared with the marks: the check ends
// without another word to the server, and the marks file stays as it was.
TEST_F(PopCheck, CountNewStopsMidListingAndLeavesTheMarksFileAsItWas) {
    const size_t ids = 350000;
    std::string listing = "+OK\r\n";
    std::string marks = "Tidewell seen 1\npop pop%2F127.0.0.1%2Fme%2F 300000\n";
    for (size_t i = 0; i < ids; ++i) {
        char id[40];
        // Messages in an order of their own; the marks hold the ids below 300,000, sorted.
        FormatText(id, sizeof id, "%07lu.M0123456789abcdef01234567", static_cast<unsigned long>(i * 7919 % ids));
        listing += std::to_string(i + 1) + " " + id + "\r\n";
        FormatText(id, sizeof id, "%07lu.M0123456789abcdef01234567", static_cast<unsigned long>(i));
        if (i < 300000)
            marks += std::string(id) + "\n";
    }
    listing += ".\r\n";
    const size_t half = listing.find("\r\n", listing.size() / 2) + 2;
    const struct {
        const char* when;
        bool marked;  // a marks file from an earlier check
        std::vector<ServerStep> listed;  // from UIDL on, the stop included
    } cases[] = {
        {"while the listing streams in", true,
         {Send(listing.substr(0, half)), Signal(nullptr), Send(listing.substr(half))}},
        {"once the listing was sent", true, {Send(listing), Signal(nullptr)}},
        {"while the listing is judged", true, {Send(listing), Pause(20), Signal(nullptr)}},
        {"at the first check, before any mark", false, {Send(listing), Pause(20), Signal(nullptr)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.when);
        CheckBed local;
        MailAccount& account = local.AddAccount(kAccountPop, 0);
        CopyText(account.typeText, sizeof account.typeText, "POP");
        account.countNew = true;
        if (c.marked)
            local.folder.Write("TidewellDocklet.seen", marks);
        local.StartSeenBoard();
        std::vector<ServerStep> steps = {Send("+OK ready\r\n"), ReadLine(), Send("+OK\r\n"), ReadLine(),
                                         Send("+OK Logged in.\r\n"), ReadLine(), Send("+OK 350000 99\r\n"),
                                         ReadLine()};
        for (ServerStep step : c.listed) {
            if (step.kind == ServerStep::kSignal)
                step.event = local.instance.stopEvent;
            steps.push_back(step);
        }
        steps.insert(steps.end(), {ReadLine(), Send("+OK Bye\r\n")});
        ScriptedServer server(steps);
        local.instance.accounts[0].port = server.Port();
        EXPECT_EQ(-1, CheckPopAccount(&local.instance, &local.instance.accounts[0], nullptr));
        ASSERT_TRUE(server.WaitServed(1, 10000));
        EXPECT_EQ("USER me\r\nPASS secret\r\nSTAT\r\nUIDL\r\n", server.Received());
        SaveSeenIfChanged(&local.instance);
        EXPECT_EQ(c.marked ? marks : "<missing>", local.folder.Read("TidewellDocklet.seen"));
        const std::string log = local.Log();
        EXPECT_EQ(std::string::npos, log.find("Error: ")) << log.substr(log.size() - 300);
        EXPECT_EQ(std::string::npos, log.find("Nb new messages")) << log.substr(log.size() - 300);
    }
}

TEST_F(PopCheck, AMaskedPasswordIsSentButNeverLogged) {
    ScriptedServer server(Dialogue("+OK 7 10240\r\n"));
    bed.AddAccount(kAccountPop, server.Port(), "me", "s3cret").maskPassword = true;
    EXPECT_EQ(7, CheckPopAccount(&bed.instance, &bed.instance.accounts[0], nullptr));
    EXPECT_EQ("USER me\r\nPASS s3cret\r\nSTAT\r\nQUIT\r\n", server.Received());
    EXPECT_NE(std::string::npos, bed.Log().find(ConnectionLogLine("PASS ********\r\n")));
    EXPECT_EQ(std::string::npos, bed.Log().find("s3cret"));
}

TEST_F(PopCheck, RepliesInPiecesAreReadWhole) {
    ScriptedServer server(Dialogue("+OK 12 99\r\n", 1));
    bed.AddAccount(kAccountPop, server.Port());
    EXPECT_EQ(12, CheckPopAccount(&bed.instance, &bed.instance.accounts[0], nullptr));
}

// The rest of QUIT's reply comes only once its start is acknowledged.
TEST_F(PopCheck, EndsItsSideOnceTheQuitReplyHasBegun) {
    ScriptedServer server({Send("+OK Dovecot ready.\r\n"), ReadLine(), Send("+OK\r\n"), ReadLine(),
                           Send("+OK Logged in.\r\n"), ReadLine(), Send("+OK 2 99\r\n"), ReadLine(),
                           Send("+OK "), AwaitClientEnd(2000), Send("Logging out.\r\n"), CloseConnection()});
    bed.AddAccount(kAccountPop, server.Port());
    EXPECT_EQ(2, CheckPopAccount(&bed.instance, &bed.instance.accounts[0], nullptr));
    EXPECT_NE(std::string::npos, bed.Log().find(ConnectionLogLine("QUIT\r\n") + ConnectionLogLine("+OK Logging out.\r\n") +
                                                ConnectionLogLine("Disconnect")))
        << bed.Log();
}

TEST_F(PopCheck, EachRejectionEndsTheDialogueSilentlyAndSaysWhy) {
    struct Case {
        const char* name;
        std::vector<ServerStep> steps;
        const char* sent;
        const char* reason;  // the log's last line
        const char* password = "secret";
        int32_t security = kSecurityNone;
    };
    const Case cases[] = {
        {"greeting", {Send("-ERR Too many connections\r\n")}, "", "rejected by the server: greeting"},
        {"user", {Send("+OK hi\r\n"), ReadLine(), Send("-ERR No such user\r\n")}, "USER me\r\n",
         "rejected by the server: reply to USER"},
        {"pass",
         {Send("+OK hi\r\n"), ReadLine(), Send("+OK\r\n"), ReadLine(),
          Send("-ERR [AUTH] Authentication failed.\r\n")},
         "USER me\r\nPASS secret\r\n", "rejected by the server: reply to PASS"},
        {"pass, no password",
         {Send("+OK hi\r\n"), ReadLine(), Send("+OK\r\n"), ReadLine(), Send("-ERR [AUTH] Authentication failed.\r\n")},
         "USER me\r\nPASS \r\n", "rejected by the server: reply to PASS (no Password is set)", ""},
        {"stat in lower case",
         {Send("+OK hi\r\n"), ReadLine(), Send("+OK\r\n"), ReadLine(), Send("+OK\r\n"), ReadLine(),
          Send("+ok 3 300\r\n")},
         "USER me\r\nPASS secret\r\nSTAT\r\n", "rejected by the server: reply to STAT"},
        {"closed", {Send("+OK hi\r\n"), ReadLine(), CloseConnection()}, "USER me\r\n",
         "the server closed the connection: reply to USER"},
        {"plain text flood after the OK to STLS",
         {Send("+OK hi\r\n"), ReadLine(), Flood("+OK Begin TLS negotiation now.\r\n", "+OK\r\n", 20000)},
         "STLS\r\n", "more than 4096 bytes in clear after the server's OK: reply to STLS", "secret", kSecurityStartTls},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server(c.steps);
        CheckBed local;
        local.AddAccount(kAccountPop, server.Port(), "me", c.password).security = c.security;
        EXPECT_EQ(-1, CheckPopAccount(&local.instance, &local.instance.accounts[0], nullptr));
        EXPECT_EQ(c.sent, server.Received());
        EXPECT_EQ(std::string::npos, local.Log().find("Disconnect"));
        const std::string last = ConnectionLogLine(std::string("Error: ") + c.reason);
        EXPECT_EQ(local.Log().size() - last.size(), local.Log().find("    Error: ")) << local.Log();
        EXPECT_EQ(last, local.Log().substr(local.Log().size() - last.size()));
    }
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string Base64Of(const std::string& bytes) {
    std::string text(bytes.size() / 3 * 4 + 8, '\0');
    EncodeBase64(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &text[0], text.size());
    return text.c_str();
}

// AUTH XOAUTH2 in place of USER and PASS: the token on a line of its own
// after the server's "+", a challenge answered with an empty line; the
// token never in the log.
TEST_F(PopCheck, AnAccessTokenSignsInWithXoauth2) {
    const std::string token = "EwBwA8l6BAAU-token";
    const std::string longToken(16384, 'T');
    const std::string challenge = "+ eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIiwic2NvcGUiOiJtYWlsIn0=\r\n";
    struct Case {
        const char* name;
        std::vector<std::string> replies;  // after each line the client sends; "<close>" closes
        std::string sent;                  // up to and including the token's line
        int result;
        bool refused;
        const char* reason = nullptr;
        std::string token = "EwBwA8l6BAAU-token";
    };
    const std::string auth = "AUTH XOAUTH2\r\n";
    const std::string message = Base64Of("user=me\x01" "auth=Bearer " + token + "\x01\x01") + "\r\n";
    const Case cases[] = {
        {"accepted", {"+ \r\n", "+OK Logged in.\r\n"}, auth + message, 7, false},
        {"challenge", {"+ \r\n", challenge, "-ERR [AUTH] Authentication failed.\r\n"}, auth + message + "\r\n", -1,
         true,
         "rejected by the server: reply to AUTH (XOAUTH2 refused: "
         "{\"status\":\"401\",\"schemes\":\"bearer\",\"scope\":\"mail\"})"},
        {"-ERR without challenge", {"+ \r\n", "-ERR Authentication failed.\r\n"}, auth + message, -1, true,
         "rejected by the server: reply to AUTH"},
        {"no XOAUTH2 at all", {"-ERR Unsupported mechanism\r\n"}, auth, -1, false,
         "rejected by the server: reply to AUTH"},
        {"closed after the token", {"+ \r\n", "<close>"}, auth + message, -1, false,
         "the server closed the connection: reply to AUTH"},
        {"the longest token", {"+ \r\n", "+OK\r\n"},
         auth + Base64Of("user=me\x01" "auth=Bearer " + longToken + "\x01\x01") + "\r\n", 7, false, nullptr,
         longToken},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ServerStep> steps = {Send("+OK Dovecot ready.\r\n")};
        for (const std::string& reply : c.replies) {
            steps.push_back(ReadLine());
            steps.push_back(reply == "<close>" ? CloseConnection() : Send(reply));
        }
        if (c.result >= 0)
            steps.insert(steps.end(), {ReadLine(), Send("+OK 7 700\r\n"), ReadLine(), Send("+OK Bye\r\n")});
        ScriptedServer server(steps);
        CheckBed local;
        local.AddAccount(kAccountPop, server.Port());
        BearerLogin bearer = {c.token.c_str(), !c.refused, c.result < 0};
        EXPECT_EQ(c.result, CheckPopAccount(&local.instance, &local.instance.accounts[0], &bearer));
        EXPECT_EQ(c.refused, bearer.refused);
        EXPECT_EQ(c.result >= 0, bearer.accepted);
        EXPECT_EQ(c.result >= 0 ? c.sent + "STAT\r\nQUIT\r\n" : c.sent, server.Received());
        const std::string log = local.Log();
        EXPECT_EQ(std::string::npos, log.find(c.token.substr(0, 64))) << log;
        EXPECT_EQ(std::string::npos, log.find(Base64Of(c.token).substr(0, 64))) << log;
        EXPECT_NE(std::string::npos, log.find(ConnectionLogLine(auth) + ConnectionLogLine(c.replies[0]))) << log;
        if (c.sent.size() > auth.size()) {
            EXPECT_NE(std::string::npos, log.find(ConnectionLogLine("<hidden>\r\n"))) << log;
            EXPECT_EQ(std::string::npos, log.find(c.sent.substr(auth.size(), 64))) << log;
        }
        if (c.reason) {
            EXPECT_TRUE(EndsWith(log, ConnectionLogLine(std::string("Error: ") + c.reason))) << log;
        } else {
            EXPECT_EQ(std::string::npos, log.find("Error: ")) << log;
        }
    }
}

TEST_F(PopCheck, StatWithoutACountToShowIsAFailedCheck) {
    const struct {
        const char* stat;
        const char* reason;
    } cases[] = {
        {"+OK\r\n", "no message count in the reply to STAT"},
        {"+OK abc\r\n", "no message count in the reply to STAT"},
        {"+OK -3 100\r\n", "no message count in the reply to STAT"},
        {"+OK 4294967296 1\r\n", "message count past 2147483647 in the reply to STAT"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stat);
        ScriptedServer server(Dialogue(c.stat));
        CheckBed local;
        local.AddAccount(kAccountPop, server.Port());
        EXPECT_EQ(-1, CheckPopAccount(&local.instance, &local.instance.accounts[0], nullptr));
        EXPECT_EQ("USER me\r\nPASS secret\r\nSTAT\r\nQUIT\r\n", server.Received());
        const std::string last = ConnectionLogLine("Disconnect") + ConnectionLogLine(std::string("Error: ") + c.reason);
        EXPECT_EQ(last, local.Log().substr(local.Log().size() - last.size())) << local.Log();
    }
}

TEST_F(PopCheck, LocalMessagesAreSubtractedAndRegistryUnreadAdded) {
    SetCount("Unread", 2);
    ScriptedServer server(Dialogue("+OK 10 5000\r\n"));
    MailAccount& account = bed.AddAccount(kAccountPop, server.Port());
    UseDbx(account, {Dbx("Inbox.dbx", 5), Dbx("Old.dbx", 3)});
    CopyText(account.registryPath, kAccountTextSize, ("HKEY_CURRENT_USER\\" + key + "\\Unread").c_str());
    EXPECT_EQ(4, CheckPopAccount(&bed.instance, &account, nullptr));  // 10 - (8 - 2)
    EXPECT_EQ(0u, bed.Log().find(ConnectionLogLine("Nb messages in DBX file: 8") + ConnectionLogLine("RegUnreadMsg:2") +
                                 "    Connect "));
}

TEST_F(PopCheck, MoreLocalThanOnTheServerIsNothingNewNeverAFailure) {
    // Four on the server less five kept locally came to -1, the failed check's value.
    for (const char* stat : {"+OK 2 100\r\n", "+OK 4 100\r\n"}) {
        ScriptedServer server(Dialogue(stat));
        CheckBed local;
        MailAccount& account = local.AddAccount(kAccountPop, server.Port());
        UseDbx(account, {Dbx("Inbox.dbx", 5)});
        EXPECT_EQ(0, CheckPopAccount(&local.instance, &account, nullptr)) << stat;
        EXPECT_EQ(std::string::npos, local.Log().find("Error: "));
    }
}

TEST_F(PopCheck, UnreadableDbxFileFailsBeforeConnecting) {
    ScriptedServer server(Dialogue("+OK 10 5000\r\n"));
    MailAccount& account = bed.AddAccount(kAccountPop, server.Port());
    UseDbx(account, {Dbx("Inbox.dbx", 5), Dbx("Short.dbx", 5, 207)});
    EXPECT_EQ(-1, CheckPopAccount(&bed.instance, &account, nullptr));
    EXPECT_EQ(ConnectionLogLine("Nb messages in DBX file: -1") +
                  ConnectionLogLine("Error: DBX file cannot be read: " + bed.folder.Path() + "Short.dbx"),
              bed.Log());
}

// A DBX file that never answers holds one read, whichever check made it:
// while that read is out, checks that name the file fail at once without
// another; once it has ended, the file is read again.
TEST_F(PopCheck, ADbxFileThatNeverAnswersHoldsOneReadAtATime) {
    struct Case {
        const char* when;
        const char* reason;
        DWORD mostMs;
    };
    const Case cases[] = {
        {"first check", "DBX file cannot be read: ", 5000},
        {"while its read is out", "DBX file still not answering from an earlier check: ", 500},
        {"again", "DBX file still not answering from an earlier check: ", 500},
        {"after the read ended", "DBX file cannot be read: ", 500},
    };
    SilentPipe* pipe = new SilentPipe;
    const std::string path = pipe->Name();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.when);
        if (std::string(c.when) == "after the read ended") {
            EXPECT_EQ(1, pipe->Clients());
            delete pipe;  // fails the read still out
            Sleep(500);
        }
        CheckBed local;
        local.instance.timeoutSeconds = 1;
        UseDbx(local.AddAccount(kAccountPop, 1), {path});
        DWORD start = GetTickCount();
        EXPECT_EQ(-1, CheckPopAccount(&local.instance, &local.instance.accounts[0], nullptr));
        EXPECT_LT(GetTickCount() - start, c.mostMs);
        EXPECT_NE(std::string::npos, local.Log().find(ConnectionLogLine(std::string("Error: ") + c.reason + path)))
            << local.Log();
    }
}

TEST_F(PopCheck, UnreadableRegistryValueMeansNoCorrection) {
    ScriptedServer server(Dialogue("+OK 6 5000\r\n"));
    MailAccount& account = bed.AddAccount(kAccountPop, server.Port());
    CopyText(account.registryPath, kAccountTextSize, ("HKCU\\" + key + "\\Unread").c_str());
    EXPECT_EQ(6, CheckPopAccount(&bed.instance, &account, nullptr));
    EXPECT_NE(std::string::npos, bed.Log().find(ConnectionLogLine("RegUnreadMsg:-1")));
}

TEST_F(PopCheck, RegistryValues) {
    SetCount("Three", 3);
    SetCount("AllBits", 0xFFFFFFFF);
    SetCount("", 9);
    const unsigned char two[2] = {0x05, 0x01};
    SetRegistry("Short", REG_BINARY, two, sizeof two);
    const std::string big(300, 'x');
    SetRegistry("Big", REG_BINARY, big.data(), static_cast<DWORD>(big.size()));
    const std::string exact(256, '\x01');
    SetRegistry("Exact", REG_BINARY, exact.data(), static_cast<DWORD>(exact.size()));

    EXPECT_EQ(3, ReadRegistryCount(("HKEY_CURRENT_USER\\" + key + "\\Three").c_str()));
    EXPECT_EQ(3, ReadRegistryCount(("hkey_cu\\" + key + "\\Three").c_str()));
    EXPECT_EQ(-1, ReadRegistryCount(("HKEY_CURRENT_USER\\" + key + "\\AllBits").c_str()));
    EXPECT_EQ(9, ReadRegistryCount(("HKEY_CURRENT_USER\\" + key + "\\").c_str()));
    EXPECT_EQ(0x105, ReadRegistryCount(("HKEY_CURRENT_USER\\" + key + "\\Short").c_str()));
    EXPECT_EQ(-1, ReadRegistryCount(("HKEY_CURRENT_USER\\" + key + "\\Big").c_str()));
    EXPECT_EQ(0x01010101, ReadRegistryCount(("HKEY_CURRENT_USER\\" + key + "\\Exact").c_str()));
    EXPECT_EQ(-1, ReadRegistryCount(("HKEY_CURRENT_USER\\" + key + "\\Missing").c_str()));
    EXPECT_EQ(-1, ReadRegistryCount(("HKLM\\" + key + "\\Three").c_str()));
    EXPECT_EQ(-1, ReadRegistryCount("HKEY_CURRENT_USER"));
}

// The POP3 scenes of tls_script_server.py: STAT says 7.
TEST_F(PopCheck, OverTlsAndAfterStlsTheDialogueIsTheSameAsInClear) {
    struct Case {
        const char* scene;
        int32_t security;
        int result;
        const char* sent;
        const char* logged;  // a line the log must hold
    };
    const Case cases[] = {
        {"pop3s", kSecurityTls, 7, "USER me\r\nPASS secret\r\nSTAT\r\nQUIT\r\n", ", certificate of localhost accepted\r\n"},
        // Replies injected after the OK would log in and count 99.
        {"pop3-stls", kSecurityStartTls, 7, "STLS\r\nUSER me\r\nPASS secret\r\nSTAT\r\nQUIT\r\n",
         ", certificate of localhost accepted\r\n"},
        {"pop3-stls-refused", kSecurityStartTls, -1, "STLS\r\n", "    Error: STLS refused\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scene);
        int before = tls_scenes::EndedConnections(c.scene);
        CheckBed local;
        MailAccount& account = local.AddAccount(kAccountPop, tls_scenes::Port(c.scene));
        account.security = c.security;
        CopyText(account.caFile, sizeof account.caFile, tls_scenes::CertificatePath("ca.pem").c_str());
        EXPECT_EQ(c.result, CheckPopAccount(&local.instance, &account, nullptr));
        EXPECT_EQ(c.sent, tls_scenes::Sent(c.scene, before));
        EXPECT_NE(std::string::npos, local.Log().find(c.logged)) << local.Log();
    }
}

}  // namespace
