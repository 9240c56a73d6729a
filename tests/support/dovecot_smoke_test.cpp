// Proves the Dovecot fixture from the Windows side: users and mail written as
// files under Wine are what a real IMAP and POP3 client then sees, tokens
// of the stand-in OAuth2 server log in, and the black-hole proxy holds and
// lets go of what passes it.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "blackhole_proxy_win.h"
#include "dovecot_fixture_win.h"
#include "line_connection_win.h"
#include "scripted_server_win.h"

namespace {

struct ImapReply {
    std::vector<std::string> untagged;
    std::string status;  // the tagged line without its tag
    bool Ok() const { return status.rfind("OK", 0) == 0; }
};

class ImapSession {
  public:
    explicit ImapSession(int port = dovecot::ReadPorts().imap) : connection_(port) { connection_.ReadLine(); }

    ImapReply Command(const std::string& command) {
        std::string tag = "a" + std::to_string(++commands_);
        connection_.Send(tag + " " + command);
        ImapReply reply;
        for (;;) {
            std::string line = connection_.ReadLine();
            if (line.rfind(tag + " ", 0) == 0) {
                reply.status = line.substr(tag.size() + 1);
                return reply;
            }
            reply.untagged.push_back(line);
        }
    }

  private:
    LineConnection connection_;
    int commands_ = 0;
};

// Unseen messages of the INBOX as the docklet will ask for them, or -1 when
// the login fails.
int ImapUnseen(const std::string& user, const std::string& password,
               int port = dovecot::ReadPorts().imap) {
    ImapSession imap(port);
    if (!imap.Command("LOGIN " + user + " " + password).Ok())
        return -1;
    ImapReply examine = imap.Command("EXAMINE INBOX");
    EXPECT_TRUE(examine.Ok()) << examine.status;
    ImapReply search = imap.Command("SEARCH UNSEEN");
    EXPECT_TRUE(search.Ok()) << search.status;
    int count = -1;
    for (const std::string& line : search.untagged) {
        if (line.rfind("* SEARCH", 0) != 0)
            continue;
        std::istringstream numbers(line.substr(8));
        std::string number;
        for (count = 0; numbers >> number;)
            ++count;
    }
    imap.Command("LOGOUT");
    return count;
}

// The message count of POP3's STAT, or -1 when the login fails.
int Pop3Count(const std::string& user, const std::string& password,
              int port = dovecot::ReadPorts().pop3) {
    LineConnection pop3(port);
    pop3.ReadLine();
    pop3.Send("USER " + user);
    pop3.ReadLine();
    pop3.Send("PASS " + password);
    if (pop3.ReadLine().rfind("+OK", 0) != 0)
        return -1;
    pop3.Send("STAT");
    std::string stat = pop3.ReadLine();
    EXPECT_EQ(stat.rfind("+OK ", 0), 0u) << stat;
    pop3.Send("QUIT");
    pop3.ReadLine();
    return std::atoi(stat.c_str() + 4);
}

// A user of this test alone, with an empty INBOX even when the test runs
// again against the same instance.
void FreshUser(const std::string& name, const std::string& password) {
    dovecot::AddUser(name, password);
    dovecot::Empty(name);
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

TEST(TestMailServer, CountsTheMessagesDeliveredAsFiles) {
    FreshUser("smoke-counts", "pw-counts");
    EXPECT_EQ(ImapUnseen("smoke-counts", "pw-counts"), 0);
    EXPECT_EQ(Pop3Count("smoke-counts", "pw-counts"), 0);

    dovecot::Deliver("smoke-counts", 3);
    dovecot::Deliver("smoke-counts", 2, dovecot::Flag::Seen);
    EXPECT_EQ(ImapUnseen("smoke-counts", "pw-counts"), 3);
    EXPECT_EQ(Pop3Count("smoke-counts", "pw-counts"), 5);
}

TEST(TestMailServer, EmptiedMailboxesStayUsable) {
    FreshUser("smoke-empty", "pw-empty");
    dovecot::Deliver("smoke-empty", 4);
    dovecot::Deliver("smoke-empty", 1, dovecot::Flag::Seen);
    ASSERT_EQ(Pop3Count("smoke-empty", "pw-empty"), 5);  // now Dovecot has indexed them

    dovecot::Empty("smoke-empty");
    EXPECT_EQ(ImapUnseen("smoke-empty", "pw-empty"), 0);
    EXPECT_EQ(Pop3Count("smoke-empty", "pw-empty"), 0);

    dovecot::Deliver("smoke-empty", 2);
    EXPECT_EQ(ImapUnseen("smoke-empty", "pw-empty"), 2);
    EXPECT_EQ(Pop3Count("smoke-empty", "pw-empty"), 2);
}

// Dovecot works as an unprivileged user on files and folders that root made
// under Wine: it must still move new mail to cur and rename files for flags.
TEST(TestMailServer, DovecotMayRenameTheFilesTestsWrite) {
    FreshUser("smoke-rename", "pw-rename");
    dovecot::Deliver("smoke-rename", 2);
    {
        ImapSession imap;
        ASSERT_TRUE(imap.Command("LOGIN smoke-rename pw-rename").Ok());
        ASSERT_TRUE(imap.Command("SELECT INBOX").Ok());
        ImapReply store = imap.Command("STORE 1:* +FLAGS (\\Seen)");
        EXPECT_TRUE(store.Ok()) << store.status;
        imap.Command("LOGOUT");
    }
    std::string maildir = dovecot::Folder() + "mail\\smoke-rename\\";
    EXPECT_TRUE(FilesIn(maildir + "new\\").empty());
    std::vector<std::string> read = FilesIn(maildir + "cur\\");
    ASSERT_EQ(read.size(), 2u);
    for (const std::string& name : read)
        EXPECT_EQ(name.substr(name.size() - 4), ":2,S") << name;
    EXPECT_EQ(ImapUnseen("smoke-rename", "pw-rename"), 0);
}

TEST(TestMailServer, ChecksPasswordsAndTakesNewOnesAtOnce) {
    FreshUser("smoke-password", "first");
    EXPECT_EQ(ImapUnseen("smoke-password", "first"), 0);
    EXPECT_EQ(ImapUnseen("smoke-password", "wrong"), -1);
    EXPECT_EQ(Pop3Count("smoke-password", "wrong"), -1);
    EXPECT_EQ(ImapUnseen("smoke-nobody", "first"), -1);

    // Right after a login, so Dovecot has just read the user's old file.
    dovecot::AddUser("smoke-password", "second");
    EXPECT_EQ(ImapUnseen("smoke-password", "second"), 0);
    EXPECT_EQ(Pop3Count("smoke-password", "second"), 0);
    EXPECT_EQ(ImapUnseen("smoke-password", "first"), -1);
}

TEST(TestMailServer, RejectsNamesThatAreNoPlainFileNames) {
    EXPECT_THROW(dovecot::AddUser("..\\escape", "pw"), std::runtime_error);
    EXPECT_THROW(dovecot::AddUser("", "pw"), std::runtime_error);
    EXPECT_THROW(dovecot::AddUser("smoke-colon", "a:b"), std::runtime_error);
    EXPECT_THROW(dovecot::Deliver("smoke-never-added", 1), std::runtime_error);
}

// What the TLS tests rely on: each set of ports offers STARTTLS and STLS in
// clear and serves the same users and mail, so a count over TLS can be held
// against the count in clear.
TEST(TestMailServer, EveryCertificateServesTheSameMailAndOffersStartTls) {
    FreshUser("smoke-tls", "pw-tls");
    dovecot::Deliver("smoke-tls", 2);
    dovecot::Deliver("smoke-tls", 1, dovecot::Flag::Seen);
    const struct {
        dovecot::Certificate served;
        const char* name;
    } kSets[] = {
        {dovecot::Certificate::Good, "good"},
        {dovecot::Certificate::OtherName, "other name"},
        {dovecot::Certificate::Expired, "expired"},
        {dovecot::Certificate::Untrusted, "untrusted"},
    };
    std::vector<int> seen;
    for (const auto& set : kSets) {
        SCOPED_TRACE(set.name);
        dovecot::Ports ports = dovecot::ReadPorts(set.served);
        for (int port : {ports.imap, ports.pop3, ports.imaps, ports.pop3s}) {
            EXPECT_EQ(std::count(seen.begin(), seen.end(), port), 0) << "port " << port << " twice";
            seen.push_back(port);
        }
        EXPECT_EQ(ImapUnseen("smoke-tls", "pw-tls", ports.imap), 2);
        EXPECT_EQ(Pop3Count("smoke-tls", "pw-tls", ports.pop3), 3);

        ImapSession imap(ports.imap);
        ImapReply capability = imap.Command("CAPABILITY");
        ASSERT_FALSE(capability.untagged.empty());
        EXPECT_NE(capability.untagged[0].find(" STARTTLS"), std::string::npos) << capability.untagged[0];
        LineConnection pop3(ports.pop3);
        pop3.ReadLine();
        pop3.Send("CAPA");
        bool stls = false;
        for (std::string line = pop3.ReadLine(); line != "."; line = pop3.ReadLine())
            stls = stls || line == "STLS";
        EXPECT_TRUE(stls);
    }
}

TEST(TestMailServer, TheTestCaIsAPemCertificate) {
    std::ifstream file(dovecot::CaFile(), std::ios::binary);
    std::string first;
    std::getline(file, first);
    EXPECT_EQ(first, "-----BEGIN CERTIFICATE-----") << dovecot::CaFile();
}

// Figures, not limits: how long a big mailbox takes to set up and clear.
TEST(TestMailServer, DeliversAndRemovesTwoThousandMessages) {
    FreshUser("smoke-many", "pw-many");
    DWORD start = GetTickCount();
    dovecot::Deliver("smoke-many", 2000);
    std::printf("delivering 2000 messages under Wine took %lu ms\n", GetTickCount() - start);
    EXPECT_EQ(ImapUnseen("smoke-many", "pw-many"), 2000);

    start = GetTickCount();
    dovecot::Empty("smoke-many");
    std::printf("removing them took %lu ms\n", GetTickCount() - start);
    EXPECT_EQ(ImapUnseen("smoke-many", "pw-many"), 0);
}

// A client socket whose reads wait a bounded time, to tell "nothing came" from "closed".
class RawClient {
  public:
    explicit RawClient(int port) : socket_(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(0, connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address));
    }
    ~RawClient() { closesocket(socket_); }
    void Send(const std::string& text) { send(socket_, text.data(), static_cast<int>(text.size()), 0); }
    // What came within waitMs: "" when nothing did, "<closed>" when the peer closed.
    std::string Within(long waitMs) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket_, &readable);
        timeval wait = {waitMs / 1000, (waitMs % 1000) * 1000};
        if (select(0, &readable, nullptr, nullptr, &wait) != 1)
            return "";
        char bytes[4096];
        const int got = recv(socket_, bytes, sizeof bytes, 0);
        return got > 0 ? std::string(bytes, got) : "<closed>";
    }

  private:
    SOCKET socket_;
};

// A hole holds both directions and closes neither side; what was held
// arrives once the path is back. Held so, Dovecot's greeting to a new
// connection waits too, unless only the old connections were forgotten.
TEST(TestBlackHoleProxy, HoldsBothWaysWithoutClosingThenResumes) {
    const int port = blackhole::Forward(dovecot::ReadPorts().imap);
    RawClient old(port);
    ASSERT_EQ(0u, old.Within(5000).rfind("* OK ", 0));
    EXPECT_EQ(1, blackhole::Hole(port));
    old.Send("a NOOP\r\n");
    RawClient during(port);
    EXPECT_EQ("", old.Within(700));
    EXPECT_EQ("", during.Within(100));
    blackhole::Resume(port);
    EXPECT_EQ(0u, old.Within(5000).rfind("a OK ", 0));
    EXPECT_EQ(0u, during.Within(5000).rfind("* OK ", 0));
    EXPECT_EQ(2, blackhole::Hole(port, blackhole::Scope::OldConnections));
    RawClient after(port);
    EXPECT_EQ(0u, after.Within(5000).rfind("* OK ", 0));
    old.Send("a NOOP\r\n");
    EXPECT_EQ("", old.Within(500));
    const blackhole::Connections counted = blackhole::CountConnections(port);
    EXPECT_EQ(3, counted.open);
    EXPECT_EQ(3, counted.total);
    blackhole::Resume(port);
    EXPECT_EQ(0u, old.Within(5000).rfind("a OK ", 0));
}

std::string Base64(const std::string& bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 2]);
        for (size_t digit = 0; digit < 4; ++digit)
            text += i + digit <= bytes.size() ? kDigits[(group >> (18 - 6 * digit)) & 63] : '=';
    }
    return text;
}

enum class Sasl { ImapInitialResponse, ImapContinuation, Pop3 };

// Dovecot's answer to an XOAUTH2 login: "OK" or "NO", the latter after the
// failure challenge that the client answers with an empty line.
std::string XOAuth2Login(Sasl style, const std::string& user, const std::string& token) {
    std::string sasl = Base64("user=" + user + "\x01" "auth=Bearer " + token + "\x01\x01");
    dovecot::Ports ports = dovecot::ReadPorts();
    LineConnection connection(style == Sasl::Pop3 ? ports.pop3 : ports.imap);
    connection.ReadLine();
    if (style == Sasl::ImapInitialResponse) {
        connection.Send("a AUTHENTICATE XOAUTH2 " + sasl);
    } else {
        connection.Send(style == Sasl::Pop3 ? "AUTH XOAUTH2" : "a AUTHENTICATE XOAUTH2");
        std::string go = connection.ReadLine();
        if (go != "+ ")
            return "no '+ ' but '" + go + "'";
        connection.Send(sasl);
    }
    std::string line = connection.ReadLine();
    std::string outcome;
    if (line.rfind("+ ", 0) == 0) {
        outcome = "challenge " + line.substr(2) + ", ";
        connection.Send("");
        line = connection.ReadLine();
    }
    if (line.rfind("a OK ", 0) == 0 || line.rfind("+OK ", 0) == 0)
        return outcome + "OK";
    if (line.rfind("a NO ", 0) == 0 || line.rfind("-ERR ", 0) == 0)
        return outcome + "NO";
    return outcome + "'" + line + "'";
}

// Tests that script the stand-in OAuth2 server run one at a time (ctest's
// RESOURCE_LOCK "oauth"), each from its defaults.
class TestOAuthStandIn : public ::testing::Test {
  protected:
    void SetUp() override { dovecot::ScriptOAuth("reset=1"); }
    void TearDown() override { dovecot::ScriptOAuth("reset=1"); }
};

// Over a long line: the stand-in's access tokens are as long as Microsoft's.
TEST_F(TestOAuthStandIn, DovecotTakesItsTokensWithXOAuth2AndRefusesOthers) {
    FreshUser("smoke-oauth", "pw-oauth");
    dovecot::OAuthTokens tokens = dovecot::IssueOAuthTokens("Smoke-OAuth");
    EXPECT_GT(tokens.access.size(), 1024u);
    const std::string refused =
        "challenge " + Base64("{\"status\":\"401\",\"schemes\":\"bearer\",\"scope\":\"mail\"}") +
        ", NO";
    const struct {
        Sasl style;
        const char* name;
    } kStyles[] = {
        {Sasl::ImapInitialResponse, "IMAP with SASL-IR"},
        {Sasl::ImapContinuation, "IMAP after '+ '"},
        {Sasl::Pop3, "POP3"},
    };
    for (const auto& style : kStyles) {
        SCOPED_TRACE(style.name);
        EXPECT_EQ(XOAuth2Login(style.style, "smoke-oauth", tokens.access), "OK");
        EXPECT_EQ(XOAuth2Login(style.style, "smoke-oauth", tokens.access + "x"), refused);
        EXPECT_EQ(XOAuth2Login(style.style, "smoke-other", tokens.access), refused);
    }
    dovecot::ScriptOAuth("introspection=reject");
    EXPECT_EQ(XOAuth2Login(Sasl::ImapInitialResponse, "smoke-oauth", tokens.access), refused);
    // Dovecot asks about every token, and refuses a live one for another user itself.
    EXPECT_EQ(dovecot::OAuthCounter("introspect_active"), 6);
    EXPECT_EQ(dovecot::OAuthCounter("introspect"), 10);
}

// Runs the stand-in browser on URL; its exit code, or -1 when it did not end within 30 s.
int RunBrowser(const std::string& url) {
    std::string command = "\"" + dovecot::StandinBrowserPath() + "\" " + url;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

// The browser goes from the stand-in's authorize page to a loopback address,
// where a scripted server plays the docklet's listener.
TEST_F(TestOAuthStandIn, TheBrowserFollowsASignInToTheLoopbackAddress) {
    const struct {
        const char* behaviour;
        const char* clientId;
        int exitCode;
        const char* request;  // how the request to the loopback address begins
    } kCases[] = {
        {"authorize=approve", dovecot::kOAuthClientId, 0, "GET /?code="},
        {"authorize=deny", dovecot::kOAuthClientId, 0, "GET /?error=access_denied"},
        {"authorize=no_redirect", dovecot::kOAuthClientId, 0, ""},
        {"authorize=approve", "someone-else", 1, ""},
    };
    for (const auto& test : kCases) {
        SCOPED_TRACE(std::string(test.behaviour) + " for " + test.clientId);
        dovecot::ScriptOAuth(test.behaviour);
        ScriptedServer listener(
            {ReadLine(),
             Send("HTTP/1.1 200 OK\r\nContent-Length: 9\r\nConnection: close\r\n\r\n"
                  "Signed in"),
             CloseConnection()});
        std::string url =
            dovecot::OAuthAuthorizeUrl() + "?response_type=code&client_id=" + test.clientId +
            "&redirect_uri=http%3A%2F%2Flocalhost%3A" + std::to_string(listener.Port()) +
            "%2F&scope=mail&state=s1&login_hint=smoke-oauth&code_challenge_method=S256"
            "&code_challenge=E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM";
        EXPECT_EQ(RunBrowser(url), test.exitCode);
        std::string received = listener.Received();
        EXPECT_EQ(received.substr(0, std::strlen(test.request)), test.request);
        EXPECT_EQ(listener.Connections(), test.request[0] ? 1 : 0);
    }
    EXPECT_EQ(dovecot::OAuthCounter("authorize"), 4);
}

}  // namespace
