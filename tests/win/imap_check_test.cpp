// The IMAP dialogue against scripted servers: what is sent, what is
// accepted, what is counted and what lands in the debug log.
#include "scripted_server_win.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "check_bed_win.h"
#include "check/imap_count_win.h"
#include "check/seen_board_win.h"
#include "mail/imap_check.h"
#include "mail/imap_idle_win.h"
#include "text/base64.h"
#include "text/bounded_text.h"
#include "tls_scenes_win.h"

namespace {

const char kGreeting[] = "* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] Ready.\r\n";
const char kExamined[] =
    "* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)\r\n* 5 EXISTS\r\n* 0 RECENT\r\n"
    "* OK [UIDVALIDITY 1700000000] UIDs valid\r\n2 OK [READ-ONLY] Examine completed.\r\n";
const char kLoggedOut[] = "* BYE Logging out\r\n4 OK Logout completed.\r\n";

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

std::vector<ServerStep> Dialogue(const std::string& search, size_t piece = 0) {
    return {Send(kGreeting, piece), ReadLine(), Send("1 OK Logged in\r\n", piece), ReadLine(),
            Send(kExamined, piece), ReadLine(), Send(search, piece), ReadLine(),
            Send(kLoggedOut, piece), CloseConnection()};
}

TEST(ImapCheck, CountsUnseenMessagesAndLogsTheWholeDialogue) {
    ScriptedServer server(Dialogue("* SEARCH 2 4 5\r\n3 OK Search completed.\r\n"));
    CheckBed bed;
    bed.AddAccount(kAccountImap, server.Port());
    EXPECT_EQ(3, CheckImapAccount(&bed.instance, &bed.instance.accounts[0], nullptr));
    EXPECT_EQ("1 LOGIN me secret\r\n2 EXAMINE INBOX\r\n3 SEARCH UNSEEN\r\n4 LOGOUT\r\n",
              server.Received());
    EXPECT_EQ(ConnectionLogLine("Connect 127.0.0.1 " + std::to_string(server.Port())) + ConnectionLogLine(kGreeting) +
                  ConnectionLogLine("1 LOGIN me secret\r\n") + ConnectionLogLine("1 OK Logged in\r\n") +
                  ConnectionLogLine("2 EXAMINE INBOX\r\n") + ConnectionLogLine(kExamined) + ConnectionLogLine("3 SEARCH UNSEEN\r\n") +
                  ConnectionLogLine("* SEARCH 2 4 5\r\n3 OK Search completed.\r\n") + ConnectionLogLine("4 LOGOUT\r\n") +
                  ConnectionLogLine(kLoggedOut) + ConnectionLogLine("Disconnect") + ConnectionLogLine("Nb Messages: 3"),
              bed.Log());
}

TEST(ImapCheck, FoldersAreExaminedByTheirModifiedUtf7Names) {
    const struct {
        const char* folder;  // Windows-1252, as the INI holds it
        const char* examine;
    } cases[] = {
        {"", "2 EXAMINE INBOX\r\n"},
        {"My Folder", "2 EXAMINE \"My Folder\"\r\n"},
        {"Say \"hi\"", "2 EXAMINE \"Say \\\"hi\\\"\"\r\n"},
        {"Lists.Work", "2 EXAMINE Lists.Work\r\n"},
        {"Entw\xFCrfe", "2 EXAMINE Entw&APw-rfe\r\n"},
        {"R&D \x80", "2 EXAMINE \"R&-D &IKw-\"\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        ScriptedServer server(Dialogue("* SEARCH 3\r\n3 OK\r\n"));
        CheckBed bed;
        CopyText(bed.AddAccount(kAccountImap, server.Port()).folder, kAccountTextSize, c.folder);
        EXPECT_EQ(1, CheckImapAccount(&bed.instance, &bed.instance.accounts[0], nullptr));
        EXPECT_EQ(std::string("1 LOGIN me secret\r\n") + c.examine + "3 SEARCH UNSEEN\r\n4 LOGOUT\r\n",
                  server.Received());
    }
}

TEST(ImapCheck, AFolderTheServerDoesNotHaveIsNamedInTheReason) {
    ScriptedServer server({Send(kGreeting), ReadLine(), Send("1 OK\r\n"), ReadLine(),
                           Send("2 NO Mailbox doesn't exist: Entw&APw-rfe\r\n")});
    CheckBed bed;
    CopyText(bed.AddAccount(kAccountImap, server.Port()).folder, kAccountTextSize, "Entw\xFCrfe");
    EXPECT_EQ(-1, CheckImapAccount(&bed.instance, &bed.instance.accounts[0], nullptr));
    EXPECT_TRUE(EndsWith(bed.Log(), ConnectionLogLine("Error: rejected by the server: reply to EXAMINE of Folder "
                                                      "\"Entw\xFCrfe\" (Entw&APw-rfe)")))
        << bed.Log();
}

// One item's checks in turn, with clicks and a restart between them.
TEST(ImapCheck, CountNewCountsUnseenUidsAboveTheLastClick) {
    const struct {
        const char* name;
        const char* examined;  // UIDVALIDITY and UIDNEXT lines
        const char* sent;      // the search command
        const char* found;     // its result line
        int count;
        const char* logged;    // a line the log holds, or empty
        bool clickAfter = false;
        bool restartAfter = false;
        const char* fileBefore = nullptr;  // written before the check
    } steps[] = {
        {"first check: nothing is new", "* OK [UIDVALIDITY 77] x\r\n* OK [UIDNEXT 6] x\r\n", "UID 6:*",
         "* SEARCH 5", 0, "CountNew: no mark for this account yet: the UIDs below 6 are not new"},
        {"two arrive", "* OK [UIDVALIDITY 77] x\r\n* OK [UIDNEXT 8] x\r\n", "UID 6:*", "* SEARCH 6 7", 2, "",
         true},
        {"after the click", "* OK [UIDVALIDITY 77] x\r\n* OK [UIDNEXT 8] x\r\n", "UID 8:*", "* SEARCH 7", 0, "",
         false, true},
        {"a restart keeps the click", "* OK [UIDVALIDITY 77] x\r\n* OK [UIDNEXT 10] x\r\n", "UID 8:*",
         "* SEARCH 9", 1, ""},
        {"a new UIDVALIDITY starts over", "* OK [UIDVALIDITY 78] x\r\n* OK [UIDNEXT 4] x\r\n", "UID 4:*",
         "* SEARCH", 0, "CountNew: UIDVALIDITY is 78, no longer 77: the UIDs below 4 are not new", false, true},
        {"a damaged file starts over", "* OK [UIDVALIDITY 78] x\r\n* OK [UIDNEXT 12] x\r\n", "UID 12:*",
         "* SEARCH 11", 0, "is damaged at line 2: what the servers hold now is not new", false, false,
         "Tidewell seen 1\nimap \xFF\xFF 1\n"},
        {"without UIDNEXT every unseen message counts", "* OK [UIDVALIDITY 78] x\r\n", "",
         "* SEARCH 1 2 3", 3, "CountNew: no UIDVALIDITY or UIDNEXT in the reply to EXAMINE: counting every unseen"},
    };
    CheckBed bed;
    MailAccount& account = bed.AddAccount(kAccountImap, 0);
    CopyText(account.typeText, sizeof account.typeText, "IMAP");
    account.countNew = true;
    bed.StartSeenBoard();
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.fileBefore) {
            bed.folder.Write("TidewellDocklet.seen", step.fileBefore);
            bed.StartSeenBoard();
        }
        const std::string search = step.sent[0] ? std::string("3 UID SEARCH UNSEEN ") + step.sent + "\r\n"
                                                : std::string("3 SEARCH UNSEEN\r\n");
        ScriptedServer server({Send(kGreeting), ReadLine(), Send("1 OK\r\n"), ReadLine(),
                               Send(std::string(step.examined) + "2 OK\r\n"), ReadLine(),
                               Send(std::string(step.found) + "\r\n3 OK\r\n"), ReadLine(), Send(kLoggedOut),
                               CloseConnection()});
        bed.instance.accounts[0].port = server.Port();
        EXPECT_EQ(step.count, CheckImapAccount(&bed.instance, &bed.instance.accounts[0], nullptr));
        EXPECT_EQ("1 LOGIN me secret\r\n2 EXAMINE INBOX\r\n" + search + "4 LOGOUT\r\n", server.Received());
        if (step.logged[0]) {
            EXPECT_NE(std::string::npos, bed.Log().find(step.logged)) << bed.Log();
        }
        SaveSeenIfChanged(&bed.instance);
        bed.EndSeenStep(step.clickAfter, step.restartAfter);
    }
    EXPECT_EQ("Tidewell seen 1\nimap imap%2F127.0.0.1%2Fme%2F 78 11\n", bed.folder.Read("TidewellDocklet.seen"));
}

// The dialogue searches above the floor its caller gives and says what the
// server found there, whatever marks the item keeps: it has none here.
TEST(ImapCheck, TheUidSearchReportsWhatTheServerFoundAboveTheGivenFloor) {
    const struct {
        uint32_t floor;
        const char* sent;
        const char* found;  // the reply's untagged line
        bool ok;
        int count;
        uint32_t largest;
    } cases[] = {
        {5, "UID 6:*", "* SEARCH 5 7 9\r\n", true, 2, 9},  // the last message comes though below
        {0, "UID 1:*", "* SEARCH\r\n", true, 0, 0},
        {UINT32_MAX, "UID 4294967295:*", "* SEARCH 4294967295\r\n", true, 0, 0},
        {7, "UID 8:*", "* SEARCH 8 x\r\n", true, -1, 8},
        {7, "UID 8:*", "", false, -1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sent);
        CheckBed bed;
        ScriptedServer server(Dialogue(std::string(c.found) + (c.ok ? "3 OK\r\n" : "3 NO\r\n")));
        MailAccount& account = bed.AddAccount(kAccountImap, server.Port());
        ImapSession session;
        ASSERT_TRUE(LogInToImap(&bed.instance, &account, nullptr, &session));
        ASSERT_TRUE(ExamineFolder(&bed.instance, &account, &session));
        ImapUidsAbove found;
        EXPECT_EQ(c.ok, SearchUnseenAbove(&bed.instance, &session, '3', c.floor, &found));
        EXPECT_EQ(c.count, found.count);
        EXPECT_EQ(c.largest, found.largest);
        LogOutOfImap(&bed.instance, &session);
        FreeReply(&session.reply);
        EXPECT_EQ(std::string("1 LOGIN me secret\r\n2 EXAMINE INBOX\r\n3 UID SEARCH UNSEEN ") + c.sent +
                      "\r\n4 LOGOUT\r\n",
                  server.Received());
    }
}

TEST(ImapCheck, RepliesInPiecesAreReadWhole) {
    for (size_t piece : {1, 3, 7}) {
        ScriptedServer server(Dialogue("* SEARCH 1 2\r\n3 OK Search completed.\r\n", piece));
        CheckBed bed;
        bed.AddAccount(kAccountImap, server.Port());
        EXPECT_EQ(2, CheckImapAccount(&bed.instance, &bed.instance.accounts[0], nullptr)) << "pieces of " << piece;
    }
}

// A server that sends the rest of a reply only once its start is acknowledged
// (Nagle's algorithm against a delayed ACK): after LOGOUT the client's end
// acknowledges it, and the whole reply is still read and logged.
TEST(ImapCheck, EndsItsSideOnceTheLogoutReplyHasBegun) {
    ScriptedServer server({Send(kGreeting), ReadLine(), Send("1 OK Logged in\r\n"), ReadLine(), Send(kExamined),
                           ReadLine(), Send("* SEARCH 4\r\n3 OK Search completed.\r\n"), ReadLine(),
                           Send("* BYE Logging out\r\n"), AwaitClientEnd(2000),
                           Send("4 OK Logout completed.\r\n"), CloseConnection()});
    CheckBed bed;
    bed.AddAccount(kAccountImap, server.Port());
    EXPECT_EQ(1, CheckImapAccount(&bed.instance, &bed.instance.accounts[0], nullptr));
    EXPECT_TRUE(EndsWith(bed.Log(), ConnectionLogLine("4 LOGOUT\r\n") + ConnectionLogLine(kLoggedOut) +
                                        ConnectionLogLine("Disconnect") + ConnectionLogLine("Nb Messages: 1")))
        << bed.Log();
}

TEST(ImapCheck, ThousandsOfUnseenMessages) {
    std::string search = "* SEARCH";
    for (int i = 1; i <= 5000; ++i)
        search += " " + std::to_string(i);
    search += "\r\n3 OK Search completed (0.002 + 0.000 secs).\r\n";
    ScriptedServer server(Dialogue(search, 1000));
    CheckBed bed;
    bed.AddAccount(kAccountImap, server.Port());
    EXPECT_EQ(5000, CheckImapAccount(&bed.instance, &bed.instance.accounts[0], nullptr));
}

TEST(ImapCheck, EachRejectionEndsTheDialogueSilentlyAndSaysWhy) {
    struct Case {
        const char* name;
        std::vector<ServerStep> steps;
        const char* sent;
        const char* reason;  // the log's last line
        const char* password = "secret";
        int32_t security = kSecurityNone;
    };
    const Case cases[] = {
        {"preauth greeting", {Send("* PREAUTH [CAPABILITY IMAP4rev1] Logged in as me\r\n")}, "",
         "rejected by the server: greeting"},
        {"bye greeting", {Send("* BYE Too many connections\r\n")}, "", "rejected by the server: greeting"},
        {"login refused",
         {Send(kGreeting), ReadLine(), Send("1 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n")},
         "1 LOGIN me secret\r\n", "rejected by the server: reply to LOGIN"},
        {"login refused, no password",
         {Send(kGreeting), ReadLine(), Send("1 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n")},
         "1 LOGIN me \"\"\r\n", "rejected by the server: reply to LOGIN (no Password is set)", ""},
        {"lower-case ok", {Send(kGreeting), ReadLine(), Send("1 ok Logged in\r\n")}, "1 LOGIN me secret\r\n",
         "rejected by the server: reply to LOGIN"},
        {"examine bad",
         {Send(kGreeting), ReadLine(), Send("1 OK\r\n"), ReadLine(), Send("2 BAD Error in IMAP command\r\n")},
         "1 LOGIN me secret\r\n2 EXAMINE INBOX\r\n", "rejected by the server: reply to EXAMINE"},
        {"search no",
         {Send(kGreeting), ReadLine(), Send("1 OK\r\n"), ReadLine(), Send("2 OK\r\n"), ReadLine(),
          Send("3 NO Mailbox is locked\r\n")},
         "1 LOGIN me secret\r\n2 EXAMINE INBOX\r\n3 SEARCH UNSEEN\r\n", "rejected by the server: reply to SEARCH"},
        {"closed after greeting", {Send(kGreeting), CloseConnection()}, "",
         "the server closed the connection: reply to LOGIN"},
        {"closed before greeting", {CloseConnection()}, "", "the server closed the connection: greeting"},
        {"reset after login", {Send(kGreeting), ReadLine(), ResetConnection()}, "1 LOGIN me secret\r\n",
         "the server closed the connection: reply to LOGIN"},
        // Held the check (and teardown) for as long as the flood lasted.
        {"plain text flood after the OK to STARTTLS",
         {Send(kGreeting), ReadLine(), Flood("0 OK Begin TLS negotiation now.\r\n", "* 1 EXISTS\r\n", 20000)},
         "0 STARTTLS\r\n", "more than 4096 bytes in clear after the server's OK: reply to STARTTLS",
         "secret", kSecurityStartTls},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server(c.steps);
        CheckBed bed;
        bed.AddAccount(kAccountImap, server.Port(), "me", c.password).security = c.security;
        EXPECT_EQ(-1, CheckImapAccount(&bed.instance, &bed.instance.accounts[0], nullptr));
        EXPECT_EQ(c.sent, server.Received());
        EXPECT_EQ(std::string::npos, bed.Log().find("Disconnect"));
        EXPECT_EQ(std::string::npos, bed.Log().find("Nb Messages"));
        EXPECT_TRUE(EndsWith(bed.Log(), ConnectionLogLine(std::string("Error: ") + c.reason))) << bed.Log();
        EXPECT_EQ(1u, Occurrences(bed.Log(), "Error: "));
    }
}

TEST(ImapCheck, AcceptedSearchWithoutResultsLineFailsAfterANormalEnd) {
    ScriptedServer server(Dialogue("3 OK Search completed.\r\n"));
    CheckBed bed;
    bed.AddAccount(kAccountImap, server.Port());
    EXPECT_EQ(-1, CheckImapAccount(&bed.instance, &bed.instance.accounts[0], nullptr));
    EXPECT_NE(std::string::npos, server.Received().find("4 LOGOUT\r\n"));
    EXPECT_TRUE(EndsWith(bed.Log(), ConnectionLogLine("Disconnect") + ConnectionLogLine("Nb Messages: -1") +
                                        ConnectionLogLine("Error: rejected by the server: reply to SEARCH")));
}

// RFC 3501 section 4.3: 8-bit text goes as a literal, whose text follows the
// server's continuation request, or at once when the server has LITERAL+.
TEST(ImapCheck, EightBitCredentialsGoAsLiterals) {
    const std::string eAcute = "\xC3\xA9";  // as UTF-8 bytes in the INI
    struct Case {
        const char* name;
        std::string greeting;
        std::string login, password;
        std::vector<std::string> replies;  // after each line the client sends
        std::string sent;                  // the lines the server read
        std::string logged;                // what the log shows after the greeting
        int result;
        bool masked = false;               // a protected password: never in the log
    };
    const std::string plus = "+ Ready for literal data\r\n";
    const Case cases[] = {
        {"password", kGreeting, "me", "caf" + eAcute, {plus, "1 OK Logged in\r\n"},
         "1 LOGIN me {5}\r\ncaf" + eAcute + "\r\n",
         ConnectionLogLine("1 LOGIN me {5}\r\n") + ConnectionLogLine(plus) +
             ConnectionLogLine("caf" + eAcute + "\r\n") + ConnectionLogLine("1 OK Logged in\r\n"),
         1},
        {"login and password", kGreeting, "j" + eAcute, "p w" + eAcute, {plus, plus, "1 OK\r\n"},
         "1 LOGIN {3}\r\nj" + eAcute + " {5}\r\np w" + eAcute + "\r\n",
         ConnectionLogLine("1 LOGIN {3}\r\n") + ConnectionLogLine(plus) +
             ConnectionLogLine("j" + eAcute + " {5}\r\n") + ConnectionLogLine(plus) +
             ConnectionLogLine("p w" + eAcute + "\r\n") + ConnectionLogLine("1 OK\r\n"),
         1},
        {"login only, quoted password", kGreeting, "j" + eAcute, "a b", {plus, "1 OK\r\n"},
         "1 LOGIN {3}\r\nj" + eAcute + " \"a b\"\r\n",
         ConnectionLogLine("1 LOGIN {3}\r\n") + ConnectionLogLine(plus) +
             ConnectionLogLine("j" + eAcute + " \"a b\"\r\n") + ConnectionLogLine("1 OK\r\n"),
         1},
        {"LITERAL+ in the greeting", "* OK [CAPABILITY IMAP4rev1 literal+ IDLE] Ready.\r\n", "j" + eAcute,
         eAcute, {"", "", "1 OK\r\n"}, "1 LOGIN {3+}\r\nj" + eAcute + " {2+}\r\n" + eAcute + "\r\n",
         ConnectionLogLine("1 LOGIN {3+}\r\nj" + eAcute + " {2+}\r\n" + eAcute + "\r\n") +
             ConnectionLogLine("1 OK\r\n"),
         1},
        {"literal refused", kGreeting, "me", eAcute, {"1 BAD No literals here\r\n"}, "1 LOGIN me {2}\r\n",
         ConnectionLogLine("1 LOGIN me {2}\r\n") + ConnectionLogLine("1 BAD No literals here\r\n") +
             ConnectionLogLine("Error: rejected by the server: reply to LOGIN"),
         -1},
        {"masked password, literal", kGreeting, "j" + eAcute, "caf" + eAcute, {plus, plus, "1 OK\r\n"},
         "1 LOGIN {3}\r\nj" + eAcute + " {5}\r\ncaf" + eAcute + "\r\n",
         ConnectionLogLine("1 LOGIN {3}\r\n") + ConnectionLogLine(plus) + ConnectionLogLine("j" + eAcute + " {*}\r\n") +
             ConnectionLogLine(plus) + ConnectionLogLine("********\r\n") + ConnectionLogLine("1 OK\r\n"),
         1, true},
        {"masked password, LITERAL+", "* OK [CAPABILITY IMAP4rev1 LITERAL+] Ready.\r\n", "me", "caf" + eAcute,
         {"", "1 OK\r\n"}, "1 LOGIN me {5+}\r\ncaf" + eAcute + "\r\n",
         ConnectionLogLine("1 LOGIN me {*+}\r\n********\r\n") + ConnectionLogLine("1 OK\r\n"), 1, true},
        {"masked password, quoted", kGreeting, "me", "a b", {"1 OK\r\n"}, "1 LOGIN me \"a b\"\r\n",
         ConnectionLogLine("1 LOGIN me ********\r\n") + ConnectionLogLine("1 OK\r\n"), 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ServerStep> steps = {Send(c.greeting)};
        for (const std::string& reply : c.replies) {
            steps.push_back(ReadLine());
            if (!reply.empty())
                steps.push_back(Send(reply));
        }
        if (c.result >= 0)
            steps.insert(steps.end(), {ReadLine(), Send("2 OK\r\n"), ReadLine(), Send("* SEARCH 7\r\n3 OK\r\n"),
                                       ReadLine(), Send("4 OK\r\n")});
        ScriptedServer server(steps);
        CheckBed bed;
        bed.AddAccount(kAccountImap, server.Port(), c.login.c_str(), c.password.c_str()).maskPassword = c.masked;
        EXPECT_EQ(c.result, CheckImapAccount(&bed.instance, &bed.instance.accounts[0], nullptr));
        EXPECT_EQ(0u, server.Received().find(c.sent)) << server.Received();
        const std::string log = bed.Log();
        if (c.masked) {
            EXPECT_EQ(std::string::npos, log.find(c.password)) << log;
        }
        size_t afterGreeting = log.find(ConnectionLogLine(c.greeting)) + ConnectionLogLine(c.greeting).size();
        EXPECT_EQ(0u, log.compare(afterGreeting, c.logged.size(), c.logged)) << log;
    }
}

// The XOAUTH2 message a server decodes: the wire form, from the test's side.
std::string Xoauth2Message(const std::string& login, const std::string& token) {
    const std::string plain = "user=" + login + "\x01" "auth=Bearer " + token + "\x01\x01";
    std::string text(plain.size() / 3 * 4 + 8, '\0');
    EncodeBase64(reinterpret_cast<const unsigned char*>(plain.data()), plain.size(), &text[0], text.size());
    return text.c_str();
}

std::string Base64Of(const std::string& bytes) {
    std::string text(bytes.size() / 3 * 4 + 8, '\0');
    EncodeBase64(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &text[0], text.size());
    return text.c_str();
}

const char kSaslGreeting[] = "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2] Ready.\r\n";
const char kChallenge[] = "+ eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIiwic2NvcGUiOiJtYWlsIn0=\r\n";

// AUTHENTICATE XOAUTH2 with an access token in place of LOGIN: the token on
// the command line where the greeting offers SASL-IR, else after the "+"; a
// refused token's challenge answered with an empty line; the token never in
// the log, however it went.
TEST(ImapCheck, AnAccessTokenSignsInWithXoauth2) {
    const std::string token = "ya29.a0AfB_byC-token";
    const std::string longToken(16384, 'T');
    const std::string ir = "1 AUTHENTICATE XOAUTH2 " + Xoauth2Message("me", token) + "\r\n";
    const std::string bare = "1 AUTHENTICATE XOAUTH2\r\n";
    struct Case {
        const char* name;
        std::string greeting;
        std::vector<std::string> replies;  // after each line the client sends; "<close>" closes
        std::string sent;
        std::string logged;  // after the greeting
        int result;
        bool refused;
        const char* reason = nullptr;  // the last line when the check fails
        std::string token = "ya29.a0AfB_byC-token";
        const char* login = "me";
    };
    const Case cases[] = {
        {"SASL-IR", kSaslGreeting, {"1 OK Logged in\r\n"}, ir,
         ConnectionLogLine("1 AUTHENTICATE XOAUTH2 <hidden>\r\n") + ConnectionLogLine("1 OK Logged in\r\n"), 7,
         false},
        {"continuation", kGreeting, {"+ \r\n", "1 OK Logged in\r\n"}, bare + Xoauth2Message("me", token) + "\r\n",
         ConnectionLogLine(bare) + ConnectionLogLine("+ \r\n") + ConnectionLogLine("<hidden>\r\n") +
             ConnectionLogLine("1 OK Logged in\r\n"),
         7, false},
        {"challenge", kSaslGreeting, {kChallenge, "1 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n"},
         ir + "\r\n",
         ConnectionLogLine("1 AUTHENTICATE XOAUTH2 <hidden>\r\n") + ConnectionLogLine(kChallenge) +
             ConnectionLogLine("\r\n") + ConnectionLogLine("1 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n"),
         -1, true,
         "rejected by the server: reply to AUTHENTICATE (XOAUTH2 refused: "
         "{\"status\":\"401\",\"schemes\":\"bearer\",\"scope\":\"mail\"})"},
        {"challenge after the +", kGreeting, {"+ \r\n", kChallenge, "1 NO failed\r\n"},
         bare + Xoauth2Message("me", token) + "\r\n\r\n", "", -1, true,
         "rejected by the server: reply to AUTHENTICATE (XOAUTH2 refused: "
         "{\"status\":\"401\",\"schemes\":\"bearer\",\"scope\":\"mail\"})"},
        {"no without challenge", kSaslGreeting, {"1 NO AUTHENTICATE failed.\r\n"}, ir, "", -1, true,
         "rejected by the server: reply to AUTHENTICATE"},
        {"bad is no refusal", kSaslGreeting, {"1 BAD Invalid SASL response\r\n"}, ir, "", -1, false,
         "rejected by the server: reply to AUTHENTICATE"},
        {"no XOAUTH2 at all", kGreeting, {"1 NO Unsupported authentication mechanism.\r\n"}, bare, "", -1, false,
         "rejected by the server: reply to AUTHENTICATE"},
        {"closed after the token", kSaslGreeting, {"<close>"}, ir, "", -1, false,
         "the server closed the connection: reply to AUTHENTICATE"},
        {"closed after the challenge", kSaslGreeting, {kChallenge, "<close>"}, ir + "\r\n", "", -1, false,
         "the server closed the connection: reply to AUTHENTICATE"},
        {"the longest token", kGreeting, {"+ \r\n", "1 OK\r\n"},
         bare + Xoauth2Message("me", longToken) + "\r\n", "", 7, false, nullptr, longToken},
        {"a token too long", kSaslGreeting, {}, "", "", -1, false,
         "the access token cannot be sent: it is longer than 16384 bytes", longToken + "T"},
        {"a control character in Login", kSaslGreeting, {}, "", "", -1, false,
         "the account's Login holds a control character, which XOAUTH2 cannot carry", token, "me\tyou"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ServerStep> steps = {Send(c.greeting)};
        for (const std::string& reply : c.replies) {
            steps.push_back(ReadLine());
            steps.push_back(reply == "<close>" ? CloseConnection() : Send(reply));
        }
        if (c.result >= 0)
            steps.insert(steps.end(), {ReadLine(), Send("2 OK\r\n"), ReadLine(), Send("* SEARCH 1 2 3 4 5 6 7\r\n3 OK\r\n"),
                                       ReadLine(), Send("4 OK\r\n")});
        ScriptedServer server(steps);
        CheckBed bed;
        bed.AddAccount(kAccountImap, server.Port(), c.login);
        BearerLogin bearer = {c.token.c_str(), !c.refused, c.result < 0};
        EXPECT_EQ(c.result, CheckImapAccount(&bed.instance, &bed.instance.accounts[0], &bearer));
        EXPECT_EQ(c.refused, bearer.refused);
        EXPECT_EQ(c.result >= 0, bearer.accepted);
        const std::string received = server.Received();
        EXPECT_EQ(0u, received.find(c.sent)) << received.substr(0, 200);
        if (c.result >= 0) {
            EXPECT_EQ(c.sent + "2 EXAMINE INBOX\r\n3 SEARCH UNSEEN\r\n4 LOGOUT\r\n", received);
        }
        const std::string log = bed.Log();
        EXPECT_EQ(std::string::npos, log.find(c.token.substr(0, 64))) << log;
        EXPECT_EQ(std::string::npos, log.find(Xoauth2Message("me", c.token).substr(0, 64))) << log;
        EXPECT_EQ(std::string::npos, log.find(Base64Of(c.token).substr(0, 64))) << log;
        size_t afterGreeting = log.find(ConnectionLogLine(c.greeting)) + ConnectionLogLine(c.greeting).size();
        EXPECT_EQ(0u, log.compare(afterGreeting, c.logged.size(), c.logged)) << log;
        if (c.reason) {
            EXPECT_TRUE(EndsWith(log, ConnectionLogLine(std::string("Error: ") + c.reason))) << log;
        } else {
            EXPECT_EQ(std::string::npos, log.find("Error: ")) << log;
        }
    }
}

TEST(ImapCheck, CredentialsThatAreNoAtomsGoOutQuoted) {
    struct Case {
        const char* login;
        const char* password;
        const char* sent;
    };
    const Case cases[] = {
        {"me", "pass word", "1 LOGIN me \"pass word\"\r\n"},
        {"me", "a\"b\\c", "1 LOGIN me \"a\\\"b\\\\c\"\r\n"},
        {"me@example.org", "", "1 LOGIN me@example.org \"\"\r\n"},
        {"me", "p]w!#", "1 LOGIN me p]w!#\r\n"},
    };
    for (const Case& c : cases) {
        ScriptedServer server({Send(kGreeting), ReadLine(), Send("1 NO\r\n")});
        CheckBed bed;
        bed.AddAccount(kAccountImap, server.Port(), c.login, c.password);
        CheckImapAccount(&bed.instance, &bed.instance.accounts[0], nullptr);
        EXPECT_EQ(c.sent, server.Received());
        EXPECT_NE(std::string::npos, bed.Log().find(ConnectionLogLine(c.sent)));  // logged as sent
    }
}

TEST(ImapCheck, ConnectionFailuresGiveAnEmptyGreeting) {
    // A port nobody listens on: bind one, then give it back.
    ScriptedServer* closed = new ScriptedServer(std::vector<ServerStep>{});
    int port = closed->Port();
    delete closed;
    CheckBed bed;
    bed.AddAccount(kAccountImap, port);
    EXPECT_EQ(-1, CheckImapAccount(&bed.instance, &bed.instance.accounts[0], nullptr));
    EXPECT_EQ(ConnectionLogLine("Connect 127.0.0.1 " + std::to_string(port)) + ConnectionLogLine("") +
                  ConnectionLogLine("Error: connection refused: 127.0.0.1 port " + std::to_string(port)),
              bed.Log());

    CheckBed unnamed;
    MailAccount& account = unnamed.AddAccount(kAccountImap, 143);
    account.address[0] = '\0';
    EXPECT_EQ(-1, CheckImapAccount(&unnamed.instance, &account, nullptr));
    EXPECT_TRUE(EndsWith(unnamed.Log(), ConnectionLogLine("") + ConnectionLogLine("Error: no Address set")));

    // Names that cannot exist (RFC 6761), and text taken for a name as it is no address.
    for (const char* name : {"mail.tidewell.invalid", "999.1.2.3"}) {
        CheckBed lookup;
        MailAccount& named = lookup.AddAccount(kAccountImap, 143);
        strcpy(named.address, name);
        EXPECT_EQ(-1, CheckImapAccount(&lookup.instance, &named, nullptr));
        EXPECT_TRUE(EndsWith(lookup.Log(), ConnectionLogLine(std::string("Error: name not found: ") + name)))
            << lookup.Log();
    }
}

struct PipeFill {
    HANDLE pipe;
    std::string bytes;  // written or read
};

DWORD WINAPI WriteAll(void* parameter) {
    PipeFill* fill = static_cast<PipeFill*>(parameter);
    DWORD written;
    WriteFile(fill->pipe, fill->bytes.data(), static_cast<DWORD>(fill->bytes.size()), &written, nullptr);
    return 0;
}

DWORD WINAPI ReadAll(void* parameter) {
    PipeFill* fill = static_cast<PipeFill*>(parameter);
    char buffer[65536];
    DWORD read;
    while (ReadFile(fill->pipe, buffer, sizeof buffer, &read, nullptr) && read > 0)
        fill->bytes.append(buffer, read);
    return 0;
}

// Standard output may be a pipe that nobody reads: once a line hangs there,
// later lines are dropped rather than each leaving a thread behind, and once
// the pipe is read again, lines go out again.
TEST(ImapCheck, AFullStandardOutputHoldsOneWriteAtATime) {
    ScriptedServer* closed = new ScriptedServer(std::vector<ServerStep>{});
    int port = closed->Port();
    delete closed;
    HANDLE reader, writer;
    ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 4096));
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, writer);
    PipeFill full = {writer, std::string(1 << 20, 'x')};
    HANDLE filler = CreateThread(nullptr, 0, WriteAll, &full, 0, nullptr);
    Sleep(200);
    struct Case {
        const char* when;
        DWORD leastMs, mostMs;  // the check's duration
    };
    const Case cases[] = {{"first line", 900, 5000}, {"while it hangs", 0, 500}, {"again", 0, 500}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.when);
        CheckBed bed;
        bed.instance.timeoutSeconds = 1;
        bed.AddAccount(kAccountImap, port);
        DWORD start = GetTickCount();
        EXPECT_EQ(-1, CheckImapAccount(&bed.instance, &bed.instance.accounts[0], nullptr));
        EXPECT_GE(GetTickCount() - start, c.leastMs);
        EXPECT_LT(GetTickCount() - start, c.mostMs);
    }
    PipeFill drained = {reader, ""};
    HANDLE drainer = CreateThread(nullptr, 0, ReadAll, &drained, 0, nullptr);
    WaitForSingleObject(filler, 5000);
    Sleep(200);  // for the hanging line to end, and free standard output again
    CheckBed bed;
    bed.AddAccount(kAccountImap, port);
    EXPECT_EQ(-1, CheckImapAccount(&bed.instance, &bed.instance.accounts[0], nullptr));
    SetStdHandle(STD_OUTPUT_HANDLE, output);
    CloseHandle(writer);
    WaitForSingleObject(drainer, 5000);
    EXPECT_EQ(std::string(1 << 20, 'x') + "Failed to connect.\nFailed to connect.\n", drained.bytes);
    for (HANDLE handle : {filler, drainer, reader})
        CloseHandle(handle);
}

TEST(ImapCheck, HostNamesAreLookedUp) {
    ScriptedServer server(Dialogue("* SEARCH 9\r\n3 OK\r\n"));
    CheckBed bed;
    MailAccount& account = bed.AddAccount(kAccountImap, server.Port());
    strcpy(account.address, "localhost");
    EXPECT_EQ(1, CheckImapAccount(&bed.instance, &account, nullptr));
}

TEST(ImapCheck, RepliesPastTheBoundFailCleanly) {
    // More than a mebibyte without the tagged line that would end it.
    std::string endless = "* SEARCH";
    while (endless.size() < 1100 * 1024)
        endless += " 1234567";
    ScriptedServer server({Send(kGreeting), ReadLine(), Send("1 OK\r\n"), ReadLine(), Send("2 OK\r\n"),
                           ReadLine(), Send(endless), StaySilent()});
    CheckBed bed;
    bed.AddAccount(kAccountImap, server.Port());
    EXPECT_EQ(-1, CheckImapAccount(&bed.instance, &bed.instance.accounts[0], nullptr));
    EXPECT_EQ(std::string::npos, bed.Log().find("LOGOUT"));
    EXPECT_TRUE(EndsWith(bed.Log(), ConnectionLogLine("Error: reply past 1048576 bytes: reply to SEARCH")));
}

TEST(ImapCheck, SilentServersTimeOut) {
    for (int silentAfter = 0; silentAfter < 2; ++silentAfter) {
        std::vector<ServerStep> steps;
        if (silentAfter > 0)
            steps = {Send(kGreeting), ReadLine()};
        steps.push_back(StaySilent());
        ScriptedServer server(steps);
        CheckBed bed;
        bed.instance.timeoutSeconds = 1;
        bed.AddAccount(kAccountImap, server.Port());
        DWORD start = GetTickCount();
        EXPECT_EQ(-1, CheckImapAccount(&bed.instance, &bed.instance.accounts[0], nullptr));
        DWORD spent = GetTickCount() - start;
        EXPECT_GE(spent, 900u);
        EXPECT_LT(spent, 10000u);
        EXPECT_TRUE(EndsWith(bed.Log(), ConnectionLogLine(std::string("Error: no answer within 1 s: ") +
                                                          (silentAfter ? "reply to LOGIN" : "greeting"))));
    }
}

struct StopLater {
    HANDLE event;
    DWORD afterMs;
};

DWORD WINAPI SetEventLater(void* parameter) {
    StopLater* stop = static_cast<StopLater*>(parameter);
    Sleep(stop->afterMs);
    SetEvent(stop->event);
    return 0;
}

TEST(ImapCheck, AStopEndsAWaitAtOnce) {
    ScriptedServer server({Send(kGreeting), ReadLine(), StaySilent()});
    CheckBed bed;
    bed.instance.timeoutSeconds = 60;
    bed.AddAccount(kAccountImap, server.Port());
    StopLater stop = {bed.instance.stopEvent, 300};
    HANDLE stopper = CreateThread(nullptr, 0, SetEventLater, &stop, 0, nullptr);
    DWORD start = GetTickCount();
    EXPECT_EQ(-1, CheckImapAccount(&bed.instance, &bed.instance.accounts[0], nullptr));
    EXPECT_LT(GetTickCount() - start, 5000u);  // nowhere near the minute
    EXPECT_EQ(std::string::npos, bed.Log().find("Error: "));  // a stop is no failure
    WaitForSingleObject(stopper, INFINITE);
    CloseHandle(stopper);
}

// TLS: the scenes of tls_script_server.py, whose dialogue finds 3 unseen messages.
const char kClearDialogue[] = "1 LOGIN me secret\r\n2 EXAMINE INBOX\r\n3 SEARCH UNSEEN\r\n4 LOGOUT\r\n";

MailAccount& AddTlsAccount(CheckBed& bed, const std::string& scene, int32_t security,
                           const std::string& caFile = tls_scenes::CertificatePath("ca.pem")) {
    MailAccount& account = bed.AddAccount(kAccountImap, tls_scenes::Port(scene));
    account.security = security;
    CopyText(account.caFile, sizeof account.caFile, caFile.c_str());
    return account;
}

TEST(ImapCheck, OverTlsTheDialogueIsTheSameAsInClear) {
    struct Case {
        const char* scene;
        int32_t security;
        const char* sent;
    };
    const Case cases[] = {
        {"imaps", kSecurityTls, kClearDialogue},
        // Records split into 7-byte pieces, handshake included.
        {"imaps-pieces", kSecurityTls, kClearDialogue},
        // Replies injected after the OK would say one unseen message and a login done.
        {"imap-starttls", kSecurityStartTls, "0 STARTTLS\r\n1 LOGIN me secret\r\n2 EXAMINE INBOX\r\n"
                                             "3 SEARCH UNSEEN\r\n4 LOGOUT\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scene);
        int before = tls_scenes::EndedConnections(c.scene);
        CheckBed bed;
        MailAccount& account = AddTlsAccount(bed, c.scene, c.security);
        EXPECT_EQ(3, CheckImapAccount(&bed.instance, &account, nullptr));
        EXPECT_EQ(c.sent, tls_scenes::Sent(c.scene, before));
        std::string log = bed.Log();
        // The TLS line follows the connect line, or the OK to STARTTLS, which
        // ends its reply: what came after it in clear is dropped unread.
        std::string tlsLineAfter = c.security == kSecurityTls
                                       ? ConnectionLogLine("Connect 127.0.0.1 " + std::to_string(account.port))
                                       : ConnectionLogLine("0 OK Begin TLS negotiation now.\r\n");
        EXPECT_NE(std::string::npos, log.find(tlsLineAfter + "    TLS 1.")) << log;
        EXPECT_NE(std::string::npos, log.find(", certificate of localhost accepted\r\n")) << log;
        EXPECT_NE(std::string::npos, log.find(ConnectionLogLine("1 LOGIN me secret\r\n") + ConnectionLogLine("1 OK Logged in\r\n"))) << log;
        EXPECT_NE(std::string::npos, log.find(ConnectionLogLine("Nb Messages: 3")));
    }
}

TEST(ImapCheck, RefusedStartTlsEndsTheCheckBeforeAnyLogin) {
    for (const char* scene : {"imap-starttls-bad", "imap-starttls-no"}) {
        SCOPED_TRACE(scene);
        int before = tls_scenes::EndedConnections(scene);
        CheckBed bed;
        EXPECT_EQ(-1, CheckImapAccount(&bed.instance, &AddTlsAccount(bed, scene, kSecurityStartTls), nullptr));
        EXPECT_EQ("0 STARTTLS\r\n", tls_scenes::Sent(scene, before));
        std::string log = bed.Log();
        EXPECT_NE(std::string::npos, log.find("    Error: STARTTLS refused\r\n")) << log;
        EXPECT_EQ(std::string::npos, log.find("LOGIN"));
    }
}

TEST(ImapCheck, CertificatesAreJudgedWithTheirReason) {
    CheckBed files;
    files.folder.Write("garbage.pem", "-----BEGIN CERTIFICATE-----\nnot base64 at all!\n-----END CERTIFICATE-----\n");
    files.folder.Write("empty.pem", "");
    const std::string ca = tls_scenes::CertificatePath("ca.pem");
    struct Case {
        const char* scene;
        std::string caFile;
        const char* reason;  // null: accepted
        const char* address = nullptr;  // null: 127.0.0.1
        const char* pinned = nullptr;   // the certificate whose fingerprint the account pins, if any
    };
    const std::string missing = files.folder.Path() + "missing.pem";
    const std::string notFound = "Error: TLS certificate not trusted: localhost (CAFile not found: " + missing + ")\r\n";
    const Case cases[] = {
        {"imaps-judged", ca, nullptr},
        {"imaps-judged", tls_scenes::CertificatePath("ca.der"), nullptr},
        {"imaps-judged", "", "Error: TLS certificate not trusted: localhost\r\n"},
        {"imaps-judged", missing, notFound.c_str()},
        {"imaps-judged", files.folder.Path() + "garbage.pem",
         "Error: TLS certificate not trusted: localhost (CAFile holds no certificate: "},
        {"imaps-judged", files.folder.Path() + "empty.pem",
         "Error: TLS certificate not trusted: localhost (CAFile holds no certificate: "},
        // The CA of another server is no CA of this one.
        {"imaps-judged", tls_scenes::CertificatePath("untrusted-ca.pem"), "Error: TLS certificate not trusted: localhost\r\n"},
        {"imaps-other-name", ca, "Error: TLS certificate is for mail.example.com, not 127.0.0.1\r\n"},
        {"imaps-expired", ca, "Error: TLS certificate expired or not yet valid: Expired test server\r\n"},
        {"imaps-untrusted", ca, "Error: TLS certificate not trusted: Untrusted test server\r\n"},
        // Names only in the common name are not used; shown escaped, never cut or best-fit.
        {"imaps-nul-name", ca,
         "Error: TLS certificate names no host in its subjectAltName (its common name localhost\\0.evil.test is "
         "not used)\r\n",
         "localhost"},
        {"imaps-fullwidth-name", ca,
         "Error: TLS certificate names no host in its subjectAltName (its common name "
         "\\uFF4C\\uFF4F\\uFF43\\uFF41\\uFF4C\\uFF48\\uFF4F\\uFF53\\uFF54 is not used)\r\n",
         "localhost"},
        {"imaps-constrained", ca,
         "Error: TLS certificate names no host in its subjectAltName (its common name localhost is not used)\r\n",
         "localhost"},
        {"imaps-address-in-cn", ca,
         "Error: TLS certificate names no host in its subjectAltName (its common name 127.0.0.1 is not used)\r\n"},
        {"imaps-client-only", ca, "Error: TLS certificate not trusted: Client only (not for servers: its extended key usage lacks serverAuth)\r\n"},
        {"imaps-code-and-mail", ca, "Error: TLS certificate not trusted: Code and mail (not for servers: its extended key usage lacks serverAuth)\r\n"},
        {"imaps-weak-key", ca,
         "Error: TLS certificate not trusted: Weak key test server (the server's certificate has an RSA key of 1024 "
         "bits; at least 2048 are needed)\r\n"},
        {"imaps-sha1", ca,
         "Error: TLS certificate not trusted: SHA-1 test server (the server's certificate is signed with SHA-1, which "
         "can be forged; SHA-256 or stronger is needed)\r\n"},
        // A pin trusts the certificate's bytes, so no signature on it counts; its key still proves the server.
        {"imaps-sha1", "", nullptr, nullptr, "sha1"},
        {"imaps-weak-key", ca,
         "Error: TLS certificate not trusted although pinned: Weak key test server (the server's certificate has an "
         "RSA key of 1024 bits; at least 2048 are needed)\r\n",
         nullptr, "weak-key"},
        // A pin alone decides, whatever the chain, names and dates, and VerifyCertificate=0 takes no other.
        {"imaps-expired", ca, nullptr, nullptr, "expired"},
        {"imaps-other-name", "", nullptr, nullptr, "other-name"},
        {"imaps-untrusted", missing, nullptr, nullptr, "untrusted"},
        {"imaps-nul-name", ca, nullptr, "localhost", "nul-name"},
        {"imaps-judged", ca, "Error: TLS certificate of localhost is not the one CertificateFingerprint pins\r\n",
         nullptr, "expired"},
    };
    for (const Case& c : cases) {
        // Every refusal ends with the served certificate's fingerprint, as openssl shows it.
        const std::string scene = c.scene;
        const std::string served = scene == "imaps-judged" ? "server" : scene.substr(sizeof "imaps-" - 1);
        const std::string fingerprint = " (SHA-256 " + tls_scenes::Fingerprint(served) + ")\r\n";
        std::string reason = c.reason ? std::string("    ") + c.reason : "";
        if (reason.size() > 2 && reason.compare(reason.size() - 2, 2, "\r\n") == 0)
            reason.replace(reason.size() - 2, 2, fingerprint);
        for (bool acceptAny : {false, true}) {
            SCOPED_TRACE(scene + " with CAFile " + c.caFile + (acceptAny ? ", not verified" : "") +
                         (c.pinned ? std::string(", pinned to ") + c.pinned : ""));
            int before = tls_scenes::EndedConnections(c.scene);
            CheckBed bed;
            MailAccount& account = AddTlsAccount(bed, c.scene, kSecurityTls, c.caFile);
            if (c.address)
                CopyText(account.address, sizeof account.address, c.address);
            account.acceptAnyCertificate = acceptAny;
            if (c.pinned) {
                std::string text = tls_scenes::Fingerprint(c.pinned);
                for (char& letter : text)
                    letter = letter == ':' ? ' ' : static_cast<char>(tolower(letter));
                ASSERT_TRUE(ParseCertificateFingerprint(text.c_str(), account.pinnedDigest)) << text;
                account.pin = kPinSet;
            }
            bool accepted = (acceptAny && !c.pinned) || !c.reason;
            EXPECT_EQ(accepted ? 3 : -1, CheckImapAccount(&bed.instance, &account, nullptr));
            std::string log = bed.Log();
            std::string expected = !accepted  ? reason
                                   : c.pinned ? "accepted by its pin (CertificateFingerprint)\r\n"
                                   : acceptAny ? "not verified (VerifyCertificate=0)\r\n"
                                               : "accepted\r\n";
            EXPECT_NE(std::string::npos, log.find(expected)) << log;
            EXPECT_EQ(!accepted, log.find(fingerprint) != std::string::npos) << log;
            // Nothing reaches a server whose certificate was refused, not even the greeting's reader.
            EXPECT_EQ(accepted ? kClearDialogue : "", tls_scenes::Sent(c.scene, before));
        }
    }
}

TEST(ImapCheck, NamesAreMatchedAsWritten) {
    CheckBed bed;
    MailAccount& account = AddTlsAccount(bed, "imaps-names", kSecurityTls);
    CopyText(account.address, sizeof account.address, "LocalHost");
    EXPECT_EQ(3, CheckImapAccount(&bed.instance, &account, nullptr)) << bed.Log();
}

TEST(ImapCheck, HandshakeFaultsFailInTimeAndTheNextCheckSucceeds) {
    struct Case {
        const char* scene;
        std::string reason;
    };
    const Case cases[] = {
        {"handshake-close", "    Error: the server closed the connection: TLS handshake\r\n"},
        {"handshake-stall", "    Error: no answer within 1 s: TLS handshake\r\n"},
        {"handshake-garbage", "    Error: TLS handshake failed (the server's answer is not TLS or is damaged, SSPI status 0x80090326)\r\n"},
        // close_notify in place of the LOGIN reply: closed, never a time-out.
        {"imaps-close-notify", ConnectionLogLine("1 LOGIN me secret\r\n") + ConnectionLogLine("")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scene);
        CheckBed bed;
        // Only the stall waits for the time-out; the others end long before a minute.
        bed.instance.timeoutSeconds = std::string(c.scene) == "handshake-stall" ? 1 : 60;
        DWORD start = GetTickCount();
        EXPECT_EQ(-1, CheckImapAccount(&bed.instance, &AddTlsAccount(bed, c.scene, kSecurityTls), nullptr));
        DWORD spent = GetTickCount() - start;
        EXPECT_LT(spent, 5000u);
        EXPECT_NE(std::string::npos, bed.Log().find(c.reason)) << bed.Log();
        EXPECT_EQ(3, CheckImapAccount(&bed.instance, &AddTlsAccount(bed, "imaps-next", kSecurityTls), nullptr));
    }
}

TEST(ImapCheck, AStopEndsAStalledHandshakeAtOnce) {
    CheckBed bed;
    bed.instance.timeoutSeconds = 60;
    MailAccount& account = AddTlsAccount(bed, "handshake-stall", kSecurityTls);
    StopLater stop = {bed.instance.stopEvent, 300};
    HANDLE stopper = CreateThread(nullptr, 0, SetEventLater, &stop, 0, nullptr);
    DWORD start = GetTickCount();
    EXPECT_EQ(-1, CheckImapAccount(&bed.instance, &account, nullptr));
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_EQ(std::string::npos, bed.Log().find("Error:"));  // a stop is no failure
    WaitForSingleObject(stopper, INFINITE);
    CloseHandle(stopper);
}

TEST(ImapCheck, AnUnknownSecurityOrAPortOutOfRangeConnectsToNothing) {
    const struct {
        int32_t security;
        const char* securityText;
        int32_t port;  // 0: the port the server listens on
        const char* portText;
        const char* reason;
        int32_t pin = kPinNone;
        const char* fingerprintText = "";
    } cases[] = {
        {kSecurityUnknown, "ssl", 0, "", "unknown Security \"ssl\""},
        {kSecurityNone, "", -1, "99999", "Port \"99999\" is not a TCP port (1 to 65535)"},
        {kSecurityTls, "tls", -1, "imap", "Port \"imap\" is not a TCP port (1 to 65535)"},
        {kSecurityNone, "", 65536, "", "is not a TCP port (1 to 65535)"},
        {kSecurityTls, "tls", 0, "", "CertificateFingerprint \"41:32:AE\" is not a SHA-256 fingerprint (64 hex digits)",
         kPinUnreadable, "41:32:AE"},
        // A pin never lets the password go in clear.
        {kSecurityNone, "", 0, "", "CertificateFingerprint needs Security=tls or Security=starttls", kPinSet},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        ScriptedServer server({Send(kGreeting), ReadLine(), Send("1 OK\r\n")});
        CheckBed bed;
        MailAccount& account = bed.AddAccount(kAccountImap, server.Port());
        account.security = c.security;
        CopyText(account.securityText, sizeof account.securityText, c.securityText);
        account.pin = c.pin;
        CopyText(account.fingerprintText, sizeof account.fingerprintText, c.fingerprintText);
        // A port the configuration refused, or one past 16 bits whose low bits are the server's.
        if (c.port == -1)
            account.port = 0;
        if (c.port == 65536)
            account.port = server.Port() + 65536;
        if (c.port != 0)
            CopyText(account.portText, sizeof account.portText,
                     c.portText[0] ? c.portText : std::to_string(account.port).c_str());
        EXPECT_EQ(-1, CheckImapAccount(&bed.instance, &account, nullptr));
        EXPECT_NE(std::string::npos, bed.Log().find(c.reason)) << bed.Log();
        EXPECT_EQ(0u, bed.Log().find("    Error: ")) << bed.Log();
        EXPECT_EQ(0, server.Connections());
    }
}

}  // namespace

namespace {

const char kIdleGreeting[] = "* OK [CAPABILITY IMAP4rev1 IDLE] Ready.\r\n";

// What the idle dialogue reported, and a stop after the counts the test wants.
struct IdleRecord {
    HANDLE stopEvent;
    size_t stopAfter;  // counts
    size_t stopAtIdling;  // the n-th time the server accepts IDLE stops too (0: never)
    std::vector<int> counts;
    size_t idlings = 0;
    HANDLE setWhenIdling = nullptr;  // an event the first IDLE accepted sets, or null
};

void RecordCount(void* context, int count, const ImapCounting*) {
    IdleRecord* record = static_cast<IdleRecord*>(context);
    record->counts.push_back(count);
    if (record->counts.size() >= record->stopAfter)
        SetEvent(record->stopEvent);
}

void RecordIdling(void* context) {
    IdleRecord* record = static_cast<IdleRecord*>(context);
    if (++record->idlings == record->stopAtIdling)
        SetEvent(record->stopEvent);
    if (record->setWhenIdling)
        SetEvent(record->setWhenIdling);
}

void IgnoreHeard(void*, bool) {}

IdleListener Listener(IdleRecord* record, uint32_t renewMs, uint32_t checkInMs = 600000, uint32_t quickMs = 10000,
                      HANDLE recount = nullptr, HANDLE interrupt = nullptr) {
    return IdleListener{record,   renewMs,     checkInMs,    quickMs,    recount,
                        interrupt, RecordCount, RecordIdling, IgnoreHeard, CountImapMailbox};
}

std::vector<ServerStep> LoggedInAndCounted(const char* greeting, const std::string& search) {
    return {Send(greeting), ReadLine(), Send("1 OK Logged in\r\n"), ReadLine(), Send(kExamined), ReadLine(),
            Send(search)};
}

}  // namespace

TEST(ImapIdle, CountsAgainOnEachChangeAndRenewalAndEndsOnEachFault) {
    struct Case {
        const char* name;
        std::vector<ServerStep> steps;
        size_t stopAfter;
        std::vector<int> counts;
        int end;
        const char* sent;
        const char* logged;  // a line the log must hold
    };
    const std::string counted = "1 LOGIN me secret\r\n2 EXAMINE INBOX\r\n3 SEARCH UNSEEN\r\n";
    auto steps = [](std::vector<ServerStep> more) {
        std::vector<ServerStep> all = LoggedInAndCounted(kIdleGreeting, "* SEARCH 1\r\n3 OK\r\n");
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    const Case cases[] = {
        {"exists while idling",
         steps({ReadLine(), Send("+ idling\r\n"), Pause(200), Send("* OK Still here\r\n"), Send("* 2 EXISTS\r\n"),
                ReadLine(), Send("5 OK Idle completed.\r\n"), ReadLine(), Send("* SEARCH 1 2\r\n6 OK\r\n"),
                ReadLine(), Send("+ idling\r\n"), StaySilent()}),
         2, {1, 2}, kIdleStopped, "5 IDLE\r\nDONE\r\n6 SEARCH UNSEEN\r\n5 IDLE\r\n", "* 2 EXISTS"},
        {"expunge in the same reply as the go-ahead",
         steps({ReadLine(), Send("+ idling\r\n* 1 EXPUNGE\r\n"), ReadLine(), Send("5 OK\r\n"), ReadLine(),
                Send("* SEARCH\r\n6 OK\r\n"), ReadLine(), StaySilent()}),
         2, {1, 0}, kIdleStopped, "5 IDLE\r\nDONE\r\n6 SEARCH UNSEEN\r\n5 IDLE\r\n", "Nb Messages: 0"},
        {"renewal without news",
         steps({ReadLine(), Send("+ idling\r\n"), ReadLine(), Send("5 OK\r\n"), ReadLine(),
                Send("* SEARCH 1\r\n6 OK\r\n"), ReadLine(), StaySilent()}),
         2, {1, 1}, kIdleStopped, "5 IDLE\r\nDONE\r\n6 SEARCH UNSEEN\r\n5 IDLE\r\n", "IDLE renewed after 1 s"},
        {"dropped while idling",
         steps({ReadLine(), Send("+ idling\r\n"), Send("* BYE Disconnected for inactivity.\r\n"), CloseConnection()}),
         9, {1}, kIdleDropped, "5 IDLE\r\n", "Error: the server closed the connection: idling"},
        {"idle refused", steps({ReadLine(), Send("5 NO [LIMIT] Too many idlers\r\n"), StaySilent()}), 9, {1},
         kIdleDropped, "5 IDLE\r\n", "Error: rejected by the server: reply to IDLE"},
        {"done refused",
         steps({ReadLine(), Send("+ idling\r\n* 3 RECENT\r\n"), ReadLine(), Send("5 BAD\r\n"), StaySilent()}), 9,
         {1}, kIdleDropped, "5 IDLE\r\nDONE\r\n", "Error: rejected by the server: reply to DONE"},
        {"a line without end while idling",
         steps({ReadLine(), Flood("+ idling\r\n* OK ", "still here ", 30000)}), 9, {1}, kIdleDropped, "5 IDLE\r\n",
         "Error: reply past 1048576 bytes: idling"},
        {"talking on without news",
         steps({ReadLine(), Flood("+ idling\r\n", "* OK still here\r\n", 30000)}), 9, {1}, kIdleDropped,
         "5 IDLE\r\n", "Error: the server talked on without news while idling (more than 65536 bytes)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server(c.steps);
        CheckBed bed;
        bed.AddAccount(kAccountImap, server.Port());
        IdleRecord record{bed.instance.stopEvent, c.stopAfter, 0, {}};
        const IdleListener listener = Listener(&record, 1000);
        EXPECT_EQ(c.end, WatchImapAccount(&bed.instance, &bed.instance.accounts[0], nullptr, &listener));
        EXPECT_EQ(c.counts, record.counts);
        EXPECT_TRUE(server.WaitServed(1, 5000));
        EXPECT_EQ(counted + c.sent, server.Received());
        EXPECT_NE(std::string::npos, bed.Log().find(c.logged)) << bed.Log();
    }
}

// The path is proved by an answer from the server: after the check-in time
// without a word, DONE and IDLE again, counting only when DONE's answer
// announces a change; a server that does not answer DONE or IDLE within the
// quick bound is left. A check that wants a count has one made at once, and
// the interrupt lets go of the connection without a word.
TEST(ImapIdle, ProvesThePathAndAnswersWhenAsked) {
    enum Ask { kNothing, kRecount, kInterrupt };
    struct Case {
        const char* name;
        std::vector<ServerStep> then;  // after the first IDLE is read
        Ask ask;
        size_t stopAtIdling;
        std::vector<int> counts;
        int end;
        const char* sent;    // after the first count
        const char* logged;  // a line the log must hold
    };
    const Case cases[] = {
        {"check-in answered",
         {Send("+ idling\r\n"), ReadLine(), Send("5 OK\r\n"), ReadLine(), Send("+ idling\r\n"), StaySilent()},
         kNothing, 2, {1}, kIdleStopped, "5 IDLE\r\nDONE\r\n5 IDLE\r\n",
         "    No word from the server for 1 s: IDLE again, DONE's answer awaited 1 s\r\n"},
        {"a change in the answer to the check-in",
         {Send("+ idling\r\n"), ReadLine(), Send("* 2 EXISTS\r\n5 OK\r\n"), ReadLine(),
          Send("* SEARCH 1 2\r\n6 OK\r\n"), ReadLine(), Send("+ idling\r\n"), StaySilent()},
         kNothing, 2, {1, 2}, kIdleStopped, "5 IDLE\r\nDONE\r\n6 SEARCH UNSEEN\r\n5 IDLE\r\n", "* 2 EXISTS"},
        {"DONE unanswered", {Send("+ idling\r\n"), ReadLine(), StaySilent()}, kNothing, 0, {1}, kIdleDropped,
         "5 IDLE\r\nDONE\r\n", "    Error: no answer within 1 s: reply to DONE\r\n"},
        {"IDLE unanswered after the check-in",
         {Send("+ idling\r\n"), ReadLine(), Send("5 OK\r\n"), ReadLine(), StaySilent()}, kNothing, 0, {1},
         kIdleDropped, "5 IDLE\r\nDONE\r\n5 IDLE\r\n", "    Error: no answer within 1 s: reply to IDLE\r\n"},
        {"a count asked",
         {Send("+ idling\r\n"), ReadLine(), Send("5 OK\r\n"), ReadLine(), Send("* SEARCH 1 2 3\r\n6 OK\r\n"),
          ReadLine(), Send("+ idling\r\n"), StaySilent()},
         kRecount, 2, {1, 3}, kIdleStopped, "5 IDLE\r\nDONE\r\n6 SEARCH UNSEEN\r\n5 IDLE\r\n",
         "    A check asks for a count: IDLE ends\r\n"},
        {"interrupted", {Send("+ idling\r\n"), StaySilent()}, kInterrupt, 0, {1}, kIdleStopped, "5 IDLE\r\n",
         "    + idling\r"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ServerStep> steps = LoggedInAndCounted(kIdleGreeting, "* SEARCH 1\r\n3 OK\r\n");
        steps.push_back(ReadLine());
        steps.insert(steps.end(), c.then.begin(), c.then.end());
        ScriptedServer server(steps);
        CheckBed bed;
        bed.AddAccount(kAccountImap, server.Port());
        HANDLE recount = CreateEventA(nullptr, FALSE, c.ask == kRecount, nullptr);
        HANDLE interrupt = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        IdleRecord record{bed.instance.stopEvent, 9, c.stopAtIdling, {}};
        record.setWhenIdling = c.ask == kInterrupt ? interrupt : nullptr;
        // The check-in after a second without a word; replies awaited a second.
        const IdleListener listener = Listener(&record, 600000, 1000, 1000, recount, interrupt);
        EXPECT_EQ(c.end, WatchImapAccount(&bed.instance, &bed.instance.accounts[0], nullptr, &listener));
        EXPECT_EQ(c.counts, record.counts);
        EXPECT_TRUE(server.WaitServed(1, 5000));
        EXPECT_EQ(std::string("1 LOGIN me secret\r\n2 EXAMINE INBOX\r\n3 SEARCH UNSEEN\r\n") + c.sent,
                  server.Received());
        EXPECT_NE(std::string::npos, bed.Log().find(c.logged)) << bed.Log();
        CloseHandle(recount);
        CloseHandle(interrupt);
    }
}

// However the receives split what the server says while idling, each
// change is seen as its line completes, never only at the renewal: the
// go-ahead, a line without news and a change, cut in two at every byte.
TEST(ImapIdle, AChangeSplitAcrossReceivesIsSeenAtOnce) {
    const std::string idle = "+ idling\r\n* OK still here\r\n* 4 EXISTS\r\n";
    std::vector<ServerStep> steps = LoggedInAndCounted(kIdleGreeting, "* SEARCH 1\r\n3 OK\r\n");
    std::string found = "* SEARCH 1";
    std::vector<int> counts = {1};
    for (size_t split = 1; split < idle.size(); ++split) {
        found += " " + std::to_string(split + 1);
        counts.push_back(static_cast<int>(split) + 1);
        steps.insert(steps.end(), {ReadLine(), Send(idle.substr(0, split)), Pause(150), Send(idle.substr(split)),
                                   ReadLine(), Send("5 OK\r\n"), ReadLine(), Send(found + "\r\n6 OK\r\n")});
    }
    steps.insert(steps.end(), {ReadLine(), StaySilent()});
    ScriptedServer server(steps);
    CheckBed bed;
    bed.AddAccount(kAccountImap, server.Port());
    IdleRecord record{bed.instance.stopEvent, counts.size(), 0, {}};
    const IdleListener listener = Listener(&record, 5000);
    EXPECT_EQ(kIdleStopped, WatchImapAccount(&bed.instance, &bed.instance.accounts[0], nullptr, &listener));
    EXPECT_EQ(counts, record.counts);
    const std::string log = bed.Log();
    EXPECT_EQ(std::string::npos, log.find("IDLE renewed")) << log;
    // Each change logged once, whole.
    EXPECT_EQ(idle.size() - 1, Occurrences(log, "* 4 EXISTS\r")) << log;
}

// Neither the greeting nor the login names IDLE: one CAPABILITY per
// connection decides, and without IDLE the account is counted and left.
TEST(ImapIdle, AskedOnceWhenTheGreetingDoesNotSay) {
    const struct {
        const char* capability;
        int end;
        const char* after;  // what the client sent after the search
    } cases[] = {
        {"* CAPABILITY IMAP4rev1 IDLE\r\n7 OK\r\n", kIdleStopped, "5 IDLE\r\n"},
        {"* CAPABILITY IMAP4rev1\r\n7 OK\r\n", kIdleNotOffered, "4 LOGOUT\r\n"},
    };
    for (const auto& c : cases) {
        ScriptedServer server({Send(kGreeting), ReadLine(), Send("1 OK Logged in\r\n"), ReadLine(),
                               Send(c.capability), ReadLine(), Send(kExamined), ReadLine(),
                               Send("* SEARCH 4 5\r\n3 OK\r\n"), ReadLine(), Send("+ idling\r\n4 OK\r\n"), StaySilent()});
        CheckBed bed;
        bed.AddAccount(kAccountImap, server.Port());
        IdleRecord record{bed.instance.stopEvent, 9, 1, {}};
        const IdleListener listener = Listener(&record, 60000);
        EXPECT_EQ(c.end, WatchImapAccount(&bed.instance, &bed.instance.accounts[0], nullptr, &listener)) << c.capability;
        EXPECT_EQ(std::vector<int>{2}, record.counts);
        EXPECT_TRUE(server.WaitServed(1, 5000));
        EXPECT_EQ(std::string("1 LOGIN me secret\r\n7 CAPABILITY\r\n2 EXAMINE INBOX\r\n3 SEARCH UNSEEN\r\n") + c.after,
                  server.Received());
        EXPECT_EQ(c.end == kIdleNotOffered, bed.Log().find("does not announce IDLE") != std::string::npos);
    }
}
