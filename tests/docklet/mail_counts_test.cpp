// Whole items counting mail on the private Dovecot: the label and the strip
// for each count, over IMAP and POP3, and the debug log of one real check.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>

#include "blackhole_proxy_win.h"
#include "dovecot_fixture_win.h"
#include "host_run_win.h"
#include "line_connection_win.h"
#include "linux_files_win.h"
#include "png_files_win.h"

namespace {

// Solid strips whose colour tells the journal which set a frame comes from.
const uint32_t kNoMailColour = 0xFF2040A0;
const uint32_t kNewMailColour = 0xFFE04010;

std::string Account(const char* type, int port, const std::string& user, const std::string& extra = "") {
    return std::string("[account0]\r\nType=") + type + "\r\nAddress=127.0.0.1\r\nPort=" +
           std::to_string(port) + "\r\nLogin=" + user + "\r\nPassword=" + user + " pass\r\n" + extra;
}

std::string Settings(const std::string& account, int debug = 0, const std::string& common = "",
                     int accounts = 1) {
    return "[Common]\r\nDebug=" + std::to_string(debug) +
           "\r\nNbAccount=" + std::to_string(accounts) +
           "\r\nstringCheck=Checking\r\nstringNoMsg=None\r\nstringOneMsg=One\r\n"
           "stringHaveMsg=%d new\r\n" +
           common + account;
}

std::string Expected(int count) {
    return count == 0 ? "None" : count == 1 ? "One" : std::to_string(count) + " new";
}

// Creates an item on the folder, waits for the label, and checks the strip
// shown after it.
void ExpectItemShows(const DockletFolder& folder, const std::string& label, bool newMail) {
    ASSERT_TRUE(WriteSolidPng(folder.Path() + "NoMail.png", 32, 32, kNoMailColour));
    ASSERT_TRUE(WriteSolidPng(folder.Path() + "NewMail.png", 32, 32, kNewMailColour));
    HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", label,
                           "30000", "wait", "300", "destroy", "1"});
    ASSERT_EQ(0, run.exitCode) << run.Text();
    int shown = run.Find("DockletSetLabel", "1", QuoteJournalText(label));
    ASSERT_GE(shown, 0) << run.Text();
    char colour[16];
    snprintf(colour, sizeof colour, "px=%08x", newMail ? kNewMailColour : kNoMailColour);
    int frame = run.Find("DockletSetImage", "1", "", shown);
    ASSERT_GE(frame, 0) << run.Text();
    // The animation may have chosen one frame of the other set just before the
    // cycle switched the mode; that one frame can reach the host after the label.
    if (run.At(frame).details.find(colour) == std::string::npos)
        frame = run.Find("DockletSetImage", "1", "", frame + 1);
    ASSERT_GE(frame, 0) << run.Text();
    EXPECT_NE(std::string::npos, run.At(frame).details.find(colour)) << run.Text();
    const std::string strip = newMail ? "frame=NewMail.png#0" : "frame=NoMail.png#0";
    EXPECT_NE(std::string::npos, run.At(frame).details.find(strip)) << run.Text();
    EXPECT_EQ(0, run.Count("LATE"));
}

TEST(DovecotImap, CountsUnseenMessages) {
    const dovecot::Ports ports = dovecot::ReadPorts();
    for (int count : {0, 1, 3, 2000}) {
        SCOPED_TRACE(count);
        const std::string user = "imap" + std::to_string(count);
        dovecot::AddUser(user, user + " pass");
        dovecot::Deliver(user, count);
        dovecot::Deliver(user, 2, dovecot::Flag::Seen);
        DockletFolder folder("Imap" + std::to_string(count), Settings(Account("IMAP", ports.imap, user)));
        ExpectItemShows(folder, Expected(count), count > 0);
        dovecot::Empty(user);
    }
}

TEST(DovecotImap, DebugLogOfOneCheck) {
    const dovecot::Ports ports = dovecot::ReadPorts();
    dovecot::AddUser("road", "road pass");
    dovecot::Deliver("road", 3);
    DockletFolder folder("Road", Settings(Account("IMAP", ports.imap, "road"), 1));
    HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "3 new",
                           "30000", "destroy", "1"});
    ASSERT_EQ(0, run.exitCode) << run.Text();
    const std::string port = std::to_string(ports.imap);
    // Dovecot's own words vary (capabilities, timings); everything of ours is exact.
    // Commands and replies keep their CR LF, which text mode writes as CR CR LF.
    const std::string server = "[^\r\n]*";
    const std::regex expected(
        "----------------------------\r\nNbAccounts:1\r\nDelay:180 seconds\r\nLink:\r\n"
        "Account 0 :\r\n  Type:2 \\(IMAP\\)\r\n  Port:" + port + "\r\n  Address:127\\.0\\.0\\.1\r\n"
        "  Login:road\r\n  Password:road pass\r\n  RegKey:\r\n"
        // Wine makes no window without a display.
        "(Resume from sleep is not watched: Windows made no window for it\r\n)?"
        "TidewellThread\r\n  Account 0\r\n    Connect 127\\.0\\.0\\.1 " + port + "\r\n"
        "    \\* OK " + server + "\r\r\n\r\n"
        "    1 LOGIN road \"road pass\"\r\r\n\r\n"
        "    1 OK " + server + "Logged in\r\r\n\r\n"
        "    2 EXAMINE INBOX\r\r\n\r\n"
        "    (\\* " + server + "\r\r\n)+2 OK \\[READ-ONLY\\] Examine completed" + server + "\r\r\n\r\n"
        "    3 SEARCH UNSEEN\r\r\n\r\n"
        "    \\* SEARCH 1 2 3\r\r\n3 OK Search completed" + server + "\r\r\n\r\n"
        "    4 LOGOUT\r\r\n\r\n"
        "    \\* BYE Logging out\r\r\n4 OK Logout completed" + server + "\r\r\n\r\n"
        "    Disconnect\r\n    Nb Messages: 3\r\n  Total mails:3\r\n");
    const std::string log = folder.Read("Debug.log");
    EXPECT_TRUE(std::regex_match(log, expected)) << log;
    dovecot::Empty("road");
}

// ProtectPasswords=1: the first check writes the password back protected
// and counts; a later start counts with the protected one. Neither the log
// nor standard output ever holds the password.
TEST(DovecotImap, AProtectedPasswordCountsMail) {
    const dovecot::Ports ports = dovecot::ReadPorts();
    const std::string password = "dp4pi-s3cret";
    dovecot::AddUser("guarded", password);
    dovecot::Deliver("guarded", 2);
    const std::string ini = "[Common]\r\nDebug=1\r\nProtectPasswords=1\r\nNbAccount=1\r\n\r\n"
                            "stringHaveMsg=%d new\r\n[account0]\r\nType=IMAP\r\nAddress=127.0.0.1\r\nPort=" +
                            std::to_string(ports.imap) + "\r\nLogin=guarded\r\nPassword=";
    const std::string end = "\r\n; end\r\n";
    DockletFolder folder("Guarded", ini + password + end);
    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE(start);
        HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "2 new",
                               "30000", "destroy", "1"});
        ASSERT_EQ(0, run.exitCode) << run.Text();
        EXPECT_EQ(std::string::npos, run.output.find(password));
        const std::string file = folder.Read("TidewellDocklet.ini");
        ASSERT_EQ(0u, file.find(ini + "dpapi:")) << file;
        EXPECT_EQ(file.size() - end.size(), file.find(end));
    }
    const std::string log = folder.Read("Debug.log");
    EXPECT_EQ(std::string::npos, log.find(password)) << log;
    for (const std::string masked : {"    1 LOGIN guarded ********\r", "  Password:********\r\n"}) {
        size_t count = 0;
        for (size_t at = log.find(masked); at != std::string::npos; at = log.find(masked, at + 1))
            ++count;
        EXPECT_EQ(2u, count) << masked << log;
    }
    dovecot::Empty("guarded");
}

// A password with 8-bit characters (UTF-8 bytes, which the profile functions
// pass on unchanged in Wine's ANSI code page) goes as a literal; Dovecot
// announces LITERAL+ in its greeting, so the whole LOGIN goes at once.
TEST(DovecotImap, EightBitPasswordGoesAsALiteral) {
    const dovecot::Ports ports = dovecot::ReadPorts();
    const std::string password = "caf\xC3\xA9 cr\xC3\xA8me";
    dovecot::AddUser("eightbit", password);
    dovecot::Deliver("eightbit", 2);
    DockletFolder folder("EightBit", "[Common]\r\nDebug=1\r\nNbAccount=1\r\nstringNoMsg=None\r\n"
                                     "stringHaveMsg=%d new\r\nstringFailed=%d failed\r\n[account0]\r\nType=IMAP\r\n"
                                     "Address=127.0.0.1\r\nPort=" + std::to_string(ports.imap) +
                                         "\r\nLogin=eightbit\r\nPassword=" + password + "\r\n");
    HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "2 new",
                           "30000", "destroy", "1"});
    ASSERT_EQ(0, run.exitCode) << run.Text();
    const std::string log = folder.Read("Debug.log");
    EXPECT_NE(std::string::npos, log.find("    1 LOGIN eightbit {12+}\r\r\n" + password + "\r\r\n\r\n    1 OK ")) << log;
    EXPECT_GE(run.Find("DockletSetLabel", "1", "\"2 new\""), 0) << run.Text() << log;
    dovecot::Empty("eightbit");
}

// Folder names any mailbox the server has; each holds a count of its own, so
// the label tells which one was examined. The INI is read in the ANSI code
// page (Windows-1252 here), the server asked in modified UTF-7, and Dovecot's
// Maildir++ puts '.' between levels.
TEST(DovecotImap, CountsTheFolderNamed) {
    const dovecot::Ports ports = dovecot::ReadPorts();
    dovecot::AddUser("folders", "folders pass");
    dovecot::Deliver("folders", 1);
    const struct {
        const char* folder;  // as the INI holds it
        const char* mailbox; // as the server names it; "": none is made
        int count;
        const char* examine; // the command as sent
    } kCases[] = {
        {"", "", 1, "2 EXAMINE INBOX"},
        {"Sent Items", "Sent Items", 2, "2 EXAMINE \"Sent Items\""},
        {"Say \"hi\"", "Say \"hi\"", 3, "2 EXAMINE \"Say \\\"hi\\\"\""},
        {"Archive", "Archive", 4, "2 EXAMINE Archive"},
        {"Archive.2024", "Archive.2024", 5, "2 EXAMINE Archive.2024"},
        {"Entw\xFCrfe", "Entw&APw-rfe", 6, "2 EXAMINE Entw&APw-rfe"},
        {"Gone", "", 0, "2 EXAMINE Gone"},
    };
    for (const auto& c : kCases)
        if (c.mailbox[0] != '\0') {
            dovecot::Deliver("folders", c.count, dovecot::Flag::Unseen, c.mailbox);
            dovecot::Deliver("folders", 1, dovecot::Flag::Seen, c.mailbox);
        }
    int number = 0;
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.mailbox);
        const std::string folderLine =
            c.folder[0] != '\0' ? std::string("Folder=") + c.folder + "\r\n" : "";
        DockletFolder folder("Folder" + std::to_string(++number),
                             Settings(Account("IMAP", ports.imap, "folders", folderLine), 1));
        HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1",
                               Expected(c.count), "30000", "destroy", "1"});
        ASSERT_EQ(0, run.exitCode) << run.Text();
        const std::string log = folder.Read("Debug.log");
        EXPECT_NE(std::string::npos, log.find("    " + std::string(c.examine) + "\r\r\n")) << log;
        const std::string refused =
            std::string("    Error: rejected by the server: reply to EXAMINE of Folder \"") +
            c.folder + "\" (" + c.folder + ")\r\n    Failed !";
        EXPECT_EQ(c.mailbox[0] == '\0' && c.folder[0] != '\0',
                  log.find(refused) != std::string::npos)
            << log;
    }
    dovecot::Empty("folders");
}

class DovecotPop : public ::testing::Test {
protected:
    // Each test has a key of its own: tests run side by side in one Wine prefix.
    const std::string key = std::string("Software\\TidewellDockletTests\\") +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ~DovecotPop() override { RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str()); }
    void SetUnread(DWORD count) {
        HKEY opened;
        RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE,
                        nullptr, &opened, nullptr);
        RegSetValueExA(opened, "Unread", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof count);
        RegCloseKey(opened);
    }
    // A DBX file in the test's folder whose header holds count messages.
    std::string Dbx(const std::string& name, int32_t count) {
        std::string header(208, '\0');
        memcpy(&header[196], &count, 4);
        const std::string path = TestWorkFolder() + name;
        FILE* file = fopen(path.c_str(), "wb");
        fwrite(header.data(), 1, header.size(), file);
        fclose(file);
        return path;
    }
};

TEST_F(DovecotPop, CountsEveryMessageOnTheServer) {
    const dovecot::Ports ports = dovecot::ReadPorts();
    for (int count : {0, 1, 7}) {
        SCOPED_TRACE(count);
        const std::string user = "pop" + std::to_string(count);
        dovecot::AddUser(user, user + " pass");
        dovecot::Deliver(user, count);
        DockletFolder folder("Pop" + std::to_string(count), Settings(Account("POP", ports.pop3, user), 1));
        ExpectItemShows(folder, Expected(count), count > 0);
        EXPECT_NE(std::string::npos, folder.Read("Debug.log").find("    PASS " + user + " pass\r\r\n"));
    }
}

TEST_F(DovecotPop, LocalMessagesAndTheRegistryCorrectTheCount) {
    const dovecot::Ports ports = dovecot::ReadPorts();
    dovecot::AddUser("local", "local pass");
    dovecot::Deliver("local", 7);
    const std::string dbx = Dbx("Inbox.dbx", 5);
    DockletFolder withDbx("Dbx", Settings(Account("POP", ports.pop3, "local",
                                                  "NbDbxFiles=1\r\nDbxFile0=" + dbx + "\r\n")));
    ExpectItemShows(withDbx, "2 new", true);  // 7 - 5

    SetUnread(3);
    DockletFolder both("DbxAndRegistry",
                       Settings(Account("POP", ports.pop3, "local",
                                        "NbDbxFiles=1\r\nDbxFile0=" + dbx +
                                            "\r\nRegKey=HKEY_CURRENT_USER\\" + key + "\\Unread\r\n"),
                                1));
    ExpectItemShows(both, "5 new", true);  // 7 - (5 - 3)
    const std::string log = both.Read("Debug.log");
    EXPECT_NE(std::string::npos, log.find("    Nb messages in DBX file: 5\r\n    RegUnreadMsg:3\r\n"));
    EXPECT_NE(std::string::npos, log.find("    Nb messages in the server: 7\r\n  Total mails:5\r\n"));
}

TEST_F(DovecotPop, WithoutAPortAPopAccountAsksPort143) {
    DockletFolder folder("NoPort", Settings("[account0]\r\nType=POP\r\nAddress=127.0.0.1\r\nLogin=x\r\n", 1));
    HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "None",
                           "30000", "destroy", "1"});
    ASSERT_EQ(0, run.exitCode) << run.Text();
    EXPECT_NE(std::string::npos, folder.Read("Debug.log").find("    Connect 127.0.0.1 143\r\n"));
}

// Accounts over TLS on the private Dovecot, whose certificates come from a
// test CA made when it started: the accounts trust it through CAFile.
class DovecotTls : public ::testing::Test {
protected:
    static std::string TlsAccount(const char* type, const char* security, int port, const std::string& user,
                                  const std::string& extra, const char* address = "127.0.0.1") {
        return std::string("[account0]\r\nType=") + type + "\r\nSecurity=" + security + "\r\nAddress=" +
               address + "\r\nPort=" + std::to_string(port) + "\r\nLogin=" + user + "\r\nPassword=" + user +
               " pass\r\n" + extra;
    }
    static int PortFor(const dovecot::Ports& ports, const std::string& type, const std::string& security) {
        if (security == "tls")
            return type == "IMAP" ? ports.imaps : ports.pop3s;
        return type == "IMAP" ? ports.imap : ports.pop3;
    }
    static std::string CaFileLine() { return "CAFile=" + dovecot::CaFile() + "\r\n"; }
    static HostRun CheckOnce(const DockletFolder& folder, const std::string& label) {
        return RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", label, "30000",
                        "destroy", "1"});
    }
};

// Encryption must change nothing of what is counted: 3 unseen and 2 seen
// messages give IMAP's 3 and POP3's 5 whichever way they are reached.
TEST_F(DovecotTls, CountsAsInClear) {
    const dovecot::Ports ports = dovecot::ReadPorts();
    dovecot::AddUser("secure", "secure pass");
    dovecot::Deliver("secure", 3);
    dovecot::Deliver("secure", 2, dovecot::Flag::Seen);
    const struct {
        const char* type;
        const char* security;
        const char* address;
        const char* caFile;  // copied into the docklet folder and named relative to it; "": the absolute path
        int count;
    } kCases[] = {
        {"IMAP", "none", "127.0.0.1", "", 3},
        {"IMAP", "tls", "127.0.0.1", "", 3},
        {"IMAP", "starttls", "localhost", "ca.pem", 3},
        {"POP", "none", "127.0.0.1", "", 5},
        {"POP", "tls", "localhost", "ca.der", 5},
        {"POP", "starttls", "127.0.0.1", "", 5},
    };
    int number = 0;
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.security + " " + c.address + " " + c.caFile);
        std::string caLine = CaFileLine();
        if (c.caFile[0] != '\0')
            caLine = std::string("CAFile=") + c.caFile + "\r\n";
        DockletFolder folder("Tls" + std::to_string(++number),
                             Settings(TlsAccount(c.type, c.security, PortFor(ports, c.type, c.security), "secure",
                                                 caLine, c.address), 1));
        if (c.caFile[0] != '\0') {
            ASSERT_TRUE(CopyFileA((dovecot::Folder() + "tls\\" + c.caFile).c_str(),
                                  (folder.Path() + c.caFile).c_str(), FALSE));
        }
        ExpectItemShows(folder, Expected(c.count), true);
        const std::string log = folder.Read("Debug.log");
        // Over TLS right after connecting; with STARTTLS right after the server's OK to it, before any login.
        const std::string before = std::string(c.security) == "tls" ? "    Connect [^\r\n]*\r\n"
                                   : std::string(c.type) == "IMAP" ? "    0 OK [^\r\n]*\r\r\n\r\n"
                                                                    : "    \\+OK [^\r\n]*\r\r\n\r\n";
        const std::regex accepted(before + "    TLS 1\\.[23], [^,\r\n]+, certificate of localhost accepted\r\n");
        EXPECT_EQ(std::string(c.security) != "none", std::regex_search(log, accepted)) << log;
        EXPECT_NE(std::string::npos, log.find("  Total mails:" + std::to_string(c.count) + "\r\n")) << log;
    }
    dovecot::Empty("secure");
}

// Certificates a careful mail program refuses: the check fails before any
// login is sent, Debug.log says why with the certificate's fingerprint, and
// VerifyCertificate=0 lets it count, as does pinning that fingerprint.
TEST_F(DovecotTls, RefusedCertificatesFailWithTheirReasonAndCountWithoutVerification) {
    dovecot::AddUser("refused", "refused pass");
    dovecot::Deliver("refused", 4);
    const struct {
        dovecot::Certificate served;
        const char* type;
        const char* security;
        const char* reason;
    } kCases[] = {
        {dovecot::Certificate::OtherName, "IMAP", "tls", "    Error: TLS certificate is for mail.example.com, not 127.0.0.1"},
        {dovecot::Certificate::OtherName, "POP", "starttls", "    Error: TLS certificate is for mail.example.com, not 127.0.0.1"},
        {dovecot::Certificate::Expired, "IMAP", "starttls", "    Error: TLS certificate expired or not yet valid: "},
        {dovecot::Certificate::Expired, "POP", "tls", "    Error: TLS certificate expired or not yet valid: "},
        // Sent with its own root: trusted only were that root the account's CAFile.
        {dovecot::Certificate::Untrusted, "IMAP", "tls", "    Error: TLS certificate not trusted: "},
        {dovecot::Certificate::Untrusted, "POP", "starttls", "    Error: TLS certificate not trusted: "},
    };
    int number = 0;
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.security + " " + c.reason);
        const int port = PortFor(dovecot::ReadPorts(c.served), c.type, c.security);
        const char* file = c.served == dovecot::Certificate::OtherName ? "other-name"
                           : c.served == dovecot::Certificate::Expired ? "expired"
                                                                        : "untrusted";
        std::string fingerprint = ReadWholeFile(dovecot::Folder() + "tls\\" + file + ".sha256");
        fingerprint.resize(fingerprint.find_first_of("\r\n"));
        const std::string account = TlsAccount(c.type, c.security, port, "refused", CaFileLine());
        DockletFolder verified("Refused" + std::to_string(++number), Settings(account, 1));
        HostRun run = CheckOnce(verified, "None");
        ASSERT_EQ(0, run.exitCode) << run.Text();
        std::string log = verified.Read("Debug.log");
        const size_t reason = log.find(c.reason);
        EXPECT_NE(std::string::npos, reason) << log;
        EXPECT_EQ(reason, log.find("    Error: ")) << "one reason only: " << log;
        EXPECT_NE(std::string::npos, log.find("    Failed !", reason)) << log;
        // The reason line ends with the fingerprint, as openssl shows it.
        const std::string shown = " (SHA-256 " + fingerprint + ")\r\n";
        EXPECT_EQ(log.find("\r\n", reason) + 2, log.find(shown, reason) + shown.size()) << log;
        for (const char* command : {" LOGIN ", "    USER ", "    PASS "})
            EXPECT_EQ(std::string::npos, log.find(command)) << "sent" << command << "\n" << log;

        DockletFolder unverified("Unverified" + std::to_string(number),
                                 Settings(account + "VerifyCertificate=0\r\n", 1));
        ExpectItemShows(unverified, Expected(4), true);
        log = unverified.Read("Debug.log");
        EXPECT_NE(std::string::npos, log.find(" not verified (VerifyCertificate=0)\r\n")) << log;
        EXPECT_EQ(std::string::npos, log.find("    Error: ")) << log;

        DockletFolder pinned("Pinned" + std::to_string(number),
                             Settings(account + "CertificateFingerprint=" + fingerprint + "\r\n", 1));
        ExpectItemShows(pinned, Expected(4), true);
        log = pinned.Read("Debug.log");
        EXPECT_NE(std::string::npos, log.find(" accepted by its pin (CertificateFingerprint)\r\n")) << log;
        EXPECT_EQ(std::string::npos, log.find("    Error: ")) << log;
    }
    dovecot::Empty("refused");
}

// An unknown Security never falls back to a connection in clear.
TEST_F(DovecotTls, AnUnknownSecurityFailsWithoutConnecting) {
    const dovecot::Ports ports = dovecot::ReadPorts();
    dovecot::AddUser("bogus", "bogus pass");
    dovecot::Deliver("bogus", 2);
    for (const char* type : {"IMAP", "POP"}) {
        SCOPED_TRACE(type);
        DockletFolder folder(std::string("Bogus") + type,
                             Settings(TlsAccount(type, "bogus", PortFor(ports, type, "none"), "bogus", ""), 1));
        HostRun run = CheckOnce(folder, "None");
        ASSERT_EQ(0, run.exitCode) << run.Text();
        const std::string log = folder.Read("Debug.log");
        EXPECT_NE(std::string::npos, log.find("    Error: unknown Security \"bogus\"\r\n    Failed !")) << log;
        EXPECT_EQ(std::string::npos, log.find("Connect ")) << log;
        EXPECT_EQ(std::string::npos, log.find("bogus pass\r\r\n")) << log;
    }
    dovecot::Empty("bogus");
}

// CountNew=1 against Dovecot: what the server held at the first check is
// not new; a click marks what the last check saw; the marks outlive the item.
TEST_F(DovecotTls, CountNewCountsWhatCameSinceTheLastClick) {
    const dovecot::Ports ports = dovecot::ReadPorts();
    for (const char* type : {"IMAP", "POP"}) {
        SCOPED_TRACE(type);
        const std::string user = std::string("fresh") + (std::string(type) == "IMAP" ? "imap" : "pop");
        dovecot::AddUser(user, user + " pass");
        dovecot::Empty(user);
        dovecot::Deliver(user, 3);
        DockletFolder folder("CountNew" + std::string(type),
                             Settings(TlsAccount(type, "tls", PortFor(ports, type, "tls"), user, CaFileLine() + "CountNew=1\r\n"), 1));
        ASSERT_EQ(0, CheckOnce(folder, "None").exitCode);
        dovecot::Deliver(user, 2);
        HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "2 new", "30000",
                               "click", "1", "waitlabel", "1", "None", "30000", "destroy", "1"});
        ASSERT_EQ(0, run.exitCode) << run.Text() << folder.Read("Debug.log");
        dovecot::Deliver(user, 1);
        ASSERT_EQ(0, CheckOnce(folder, "One").exitCode) << folder.Read("Debug.log");
        EXPECT_TRUE(folder.Has("TidewellDocklet.seen"));
        dovecot::Empty(user);
    }
}

// A damaged TidewellDocklet.seen is a reason line, never a crash nor a
// count: what the server holds then is not new, and what comes after is.
// The cut rows damage the file the row before left: its last field lost.
TEST_F(DovecotTls, CountNewStartsAfreshFromADamagedFile) {
    const dovecot::Ports ports = dovecot::ReadPorts();
    const std::string kOtherFile("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff", 17);
    const struct {
        const char* type;
        std::string damage; // written over the file; "": its last field cut off
        int badLine;
    } kCases[] = {
        {"IMAP", kOtherFile, 1},
        {"IMAP", "", 2},
        {"POP", "Tidewell seen 1\npop\n", 2},
        {"POP", "", 5}, // three ids promised, two left
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.type) + (c.damage.empty() ? " cut" : " overwritten"));
        const std::string user =
            std::string("damaged") + (std::string(c.type) == "IMAP" ? "imap" : "pop");
        DockletFolder folder("Damaged" + std::string(c.type),
                             Settings(TlsAccount(c.type, "tls", PortFor(ports, c.type, "tls"), user,
                                                 CaFileLine() + "CountNew=1\r\n"),
                                      1));
        const std::string seen = folder.Path() + "TidewellDocklet.seen";
        std::string bytes = c.damage;
        if (bytes.empty()) {
            bytes = ReadWholeFile(seen);
            ASSERT_GT(bytes.size(), 2u);
            bytes.resize(bytes.find_last_of(" \n", bytes.size() - 2) + 1);
        } else {
            dovecot::AddUser(user, user + " pass");
            dovecot::Empty(user);
            dovecot::Deliver(user, 3);
        }
        DeleteFileA((folder.Path() + "Debug.log").c_str());
        FILE* file = fopen(seen.c_str(), "wb");
        ASSERT_TRUE(file != nullptr);
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
        ASSERT_EQ(0, CheckOnce(folder, "None").exitCode) << folder.Read("Debug.log");
        const std::string reason = "TidewellDocklet.seen is damaged at line " +
                                   std::to_string(c.badLine) +
                                   ": what the servers hold now is not new\r\n";
        EXPECT_NE(std::string::npos, folder.Read("Debug.log").find(reason))
            << folder.Read("Debug.log");
        dovecot::Deliver(user, 1);
        ASSERT_EQ(0, CheckOnce(folder, "One").exitCode) << folder.Read("Debug.log");
    }
}

// Waits up to timeoutMs for text to appear in the file from byte `from` on;
// the tick it was seen, or 0.
DWORD WaitForText(const std::string& path, const std::string& text, DWORD timeoutMs,
                  size_t from = 0) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(5)) {
        if (ReadWholeFile(path).find(text, from) != std::string::npos)
            return GetTickCount();
    }
    return 0;
}

// With Idle=1 the server's announcement moves the label: DelaySecond's
// periodic check is three minutes away, yet a delivery and an expunge each
// show within a second.
TEST_F(DovecotTls, IdleShowsDeliveriesAndExpungesAtOnce) {
    const dovecot::Ports ports = dovecot::ReadPorts();
    dovecot::AddUser("idler", "idler pass");
    dovecot::Empty("idler");
    DockletFolder folder("Idler", Settings(TlsAccount("IMAP", "tls", ports.imaps, "idler", CaFileLine() + "Idle=1\r\n"), 1));
    HostRun run;
    std::thread host([&] {
        run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "None", "30000", "waitlabel",
                       "1", "2 new", "20000", "waitlabel", "1", "None", "20000", "destroy", "1"});
    });
    const std::string log = folder.Path() + "Debug.log";
    const std::string journal = TestWorkFolder() + "journal.txt";
    DWORD idling = WaitForText(log, "    + idling", 30000);
    DWORD delivered = GetTickCount();
    dovecot::Deliver("idler", 2);
    DWORD shown = idling ? WaitForText(journal, "\"2 new\"", 20000) : 0;
    dovecot::Empty("idler");
    host.join();
    ASSERT_EQ(0, run.exitCode) << run.Text();
    EXPECT_NE(0u, idling) << folder.Read("Debug.log");
    ASSERT_NE(0u, shown) << folder.Read("Debug.log");
    const int gone = run.Find("DockletSetLabel", "1", "\"None\"", run.Find("DockletSetLabel", "1", "\"2 new\""));
    EXPECT_GE(gone, 0) << run.Text();
    RecordProperty("delivery_to_label_ms", static_cast<int>(shown - delivered));
    EXPECT_LT(shown - delivered, 1000u) << folder.Read("Debug.log");
}

// Idle=1 follows what others do to the mailbox: a message read in another
// mail program lowers the count at once; a connection the server drops
// after it answered DONE counts as failed until it is opened again 1.6 to
// 2.4 s later, and shows deliveries at once again; and IDLE, renewed every
// IdleRenewSecond, keeps the count and shows deliveries too.
TEST_F(DovecotTls, IdleFollowsFlagsDropsAndRenewals) {
    const dovecot::Ports ports = dovecot::ReadPorts();
    dovecot::AddUser("watcher", "watcher pass");
    dovecot::Empty("watcher");
    dovecot::Deliver("watcher", 3);
    DockletFolder folder("Watcher", Settings(TlsAccount("IMAP", "tls", ports.imaps, "watcher",
                                                        CaFileLine() + "Idle=1\r\n"),
                                             1, "IdleRenewSecond=10\r\n"));
    const struct {
        const char* awaited; // in the log since the step before acted
        DWORD notBeforeMs;   // ... and not sooner than this after it
        void (*act)();
        const char* shows; // in the journal since the action, or ""
        const char* logs;  // in the log since the action, or ""
        const char* figure;
    } kSteps[] = {
        {"    \\+ idling", 0, [] { dovecot::MarkSeen("watcher", 1); }, "\"2 new\"", "",
         "flag_to_label_ms"},
        {"    \\+ idling", 0, [] { dovecot::Kick("watcher"); }, "",
         "    Error: the server closed the connection: idling\r\n    Failed !\r\n"
         "  Total mails:0 (idle account 0 failed)\r\n"
         "  Idle account 0: connection lost, opened again in ",
         "kick_to_reason_ms"},
        {"    \\+ idling", 1500, [] { dovecot::Deliver("watcher", 1); }, "\"3 new\"", "",
         "reopened_delivery_to_label_ms"},
        {"    IDLE renewed after 10 s\r\n[\\s\\S]*    Nb Messages: 3\r\n[\\s\\S]*    \\+ idling", 0,
         [] { dovecot::Deliver("watcher", 1); }, "\"4 new\"", "", "renewed_delivery_to_label_ms"},
    };
    HostRun run;
    std::thread host([&] {
        run = RunHost(
            {"create",    "1", folder.Root(), folder.Relative(), "waitlabel", "1", "3 new", "30000",
             "waitlabel", "1", "2 new",       "20000",           "waitlabel", "1", "None", "20000",
             "waitlabel", "1", "3 new",       "40000",           "waitlabel", "1", "4 new", "40000",
             "destroy",   "1"});
    });
    const std::string log = folder.Path() + "Debug.log";
    const std::string journal = TestWorkFolder() + "journal.txt";
    size_t logFrom = 0;
    DWORD acted = GetTickCount();
    for (const auto& step : kSteps) {
        SCOPED_TRACE(step.figure);
        bool awaited = false;
        while (!awaited && GetTickCount() - acted < 30000) {
            awaited =
                std::regex_search(ReadWholeFile(log).substr(logFrom), std::regex(step.awaited));
            Sleep(5);
        }
        if (!awaited) {
            ADD_FAILURE() << "never logged " << step.awaited;
            break;
        }
        EXPECT_GE(GetTickCount() - acted, step.notBeforeMs);
        logFrom = ReadWholeFile(log).size();
        const size_t journalFrom = ReadWholeFile(journal).size();
        acted = GetTickCount();
        step.act();
        const DWORD seen = step.shows[0] != '\0'
                               ? WaitForText(journal, step.shows, 20000, journalFrom)
                               : WaitForText(log, step.logs, 20000, logFrom);
        if (seen == 0) {
            ADD_FAILURE() << "never " << (step.shows[0] != '\0' ? "shown " : "logged ")
                          << step.shows << step.logs;
            break;
        }
        RecordProperty(step.figure, static_cast<int>(seen - acted));
        EXPECT_LT(seen - acted, 1000u) << folder.Read("Debug.log");
    }
    host.join();
    dovecot::Empty("watcher");
    ASSERT_EQ(0, run.exitCode) << run.Text();
}

// Windows broadcasts WM_POWERBROADCAST to every top-level window when it
// wakes. Mail delivered while the machine slept shows at once, not at the
// periodic check an hour away, and the idle connection, which the router
// forgot meanwhile, is opened again without waiting for it: a resume brings
// two power messages, which make one check. The last OnDestroy ends the
// window and its thread. Needs a display: run through with_display.sh (the
// test DovecotWake.AResumeChecksAtOnce).
TEST_F(DovecotTls, AResumeShowsWhatCameDuringSleep) {
    if (!getenv("TIDEWELL_DISPLAY"))
        GTEST_SKIP() << "runs only under tests/docklet/with_display.sh, which gives Wine a display "
                        "(the test DovecotWake.AResumeChecksAtOnce)";
    const dovecot::Ports ports = dovecot::ReadPorts();
    for (const char* user : {"sleeper", "dreamer"}) {
        dovecot::AddUser(user, std::string(user) + " pass");
        dovecot::Empty(user);
    }
    const int route = blackhole::Forward(ports.imap);
    std::string idle = Account("IMAP", route, "dreamer", "Idle=1\r\n");
    idle.replace(0, sizeof "[account0]" - 1, "[account1]");
    DockletFolder folder("Sleeper", Settings(Account("IMAP", ports.imap, "sleeper") + idle, 1,
                                             "DelaySecond=3600\r\n", 2));
    HostRun run;
    std::thread host([&] {
        run = RunHost({"stats", "create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "None",
                       "30000", "wait", "5000", "power", "suspend", "wait", "2000", "power",
                       "resumeautomatic", "power", "resumesuspend", "waitlabel", "1", "3 new", "5000",
                       "destroy", "1", "wait", "300", "stats", "power", "suspend"});
    });
    const std::string log = folder.Path() + "Debug.log";
    const std::string journal = TestWorkFolder() + "journal.txt";
    const bool idling = WaitForText(log, "    + idling", 30000) != 0;
    if (idling) {
        EXPECT_EQ(1, blackhole::Hole(route, blackhole::Scope::OldConnections));
    }
    const bool asleep = WaitForText(journal, "\tpower\tsuspend", 30000) != 0;
    if (asleep) {
        dovecot::Deliver("sleeper", 2);
        dovecot::Deliver("dreamer", 1);
        EXPECT_EQ(std::string::npos, ReadWholeFile(journal).find("resumeautomatic"))
            << "delivered after the resume";
    }
    host.join();
    blackhole::Resume(route);
    for (const char* user : {"sleeper", "dreamer"})
        dovecot::Empty(user);
    ASSERT_TRUE(idling) << folder.Read("Debug.log");
    ASSERT_TRUE(asleep) << run.Text();
    ASSERT_EQ(0, run.exitCode) << run.Text();
    const int resumed = run.Find("power", "-", "resumeautomatic windows=");
    ASSERT_GE(resumed, 0) << run.Text();
    EXPECT_NE("resumeautomatic windows=0", run.At(resumed).details) << "no window heard it";
    const int shown = run.Find("DockletSetLabel", "1", "\"3 new\"", resumed);
    ASSERT_GE(shown, 0) << run.Text() << folder.Read("Debug.log");
    RecordProperty("resume_to_label_ms", static_cast<int>(run.At(shown).milliseconds -
                                                          run.At(resumed).milliseconds));
    const std::string written = folder.Read("Debug.log");
    const std::string reason = "TidewellOnce\r\n  Checking at once: Windows resumed from sleep\r\n";
    EXPECT_NE(std::string::npos, written.find(reason)) << written;
    EXPECT_EQ(written.find(reason), written.rfind(reason)) << "one check for two power messages";
    // The watcher's first and new connections, and the check's own login meanwhile.
    EXPECT_EQ(3, blackhole::CountConnections(route).total);
    EXPECT_EQ("suspend windows=0", run.At(run.Find("power", "-", "suspend", shown)).details)
        << "the window outlived the last item";
    EXPECT_EQ(StatsAt(run, 0).threads, StatsAt(run, 1).threads) << run.Text();
}

// OAuth2 accounts against the stand-in authorization server and Dovecot's
// oauth2 passdb, over TLS, with the stand-in browser in OAuthBrowser.
class DovecotOAuth : public DovecotTls {
  protected:
    void SetUp() override { dovecot::ScriptOAuth("reset=1"); }

    static std::string OAuthAccount(const char* type, const std::string& user) {
        const dovecot::Ports ports = dovecot::ReadPorts();
        return std::string("[account0]\r\nType=") + type + "\r\nSecurity=tls\r\nAddress=127.0.0.1\r\nPort=" +
               std::to_string(std::string(type) == "IMAP" ? ports.imaps : ports.pop3s) + "\r\nLogin=" + user +
               "\r\n" + CaFileLine() + "Auth=oauth2\r\nOAuthProvider=custom\r\nOAuthClientId=" +
               dovecot::kOAuthClientId + "\r\nOAuthAuthorizeUrl=" + dovecot::OAuthAuthorizeUrl() +
               "\r\nOAuthTokenUrl=" + dovecot::OAuthTokenUrl() + "\r\nOAuthScope=mail offline_access\r\n" +
               "OAuthBrowser=\"" + dovecot::StandinBrowserPath() + "\" %s\r\n";
    }
    static std::string OAuthSettings(const char* type, const std::string& user) {
        return Settings("TimeoutSecond=3\r\n" + OAuthAccount(type, user), 1);
    }
    // Signs the folder's account in by a click, and waits for the count.
    static HostRun SignIn(const DockletFolder& folder, const std::string& label) {
        return RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "Click to sign in",
                        "30000", "click", "1", "waitlabel", "1", label, "30000", "destroy", "1"});
    }
    // Nothing the stand-in issued may reach the log or the output.
    static void ExpectNoSecretIn(const std::string& text) {
        const std::vector<std::string> secrets = dovecot::OAuthSecrets();
        EXPECT_FALSE(secrets.empty());
        for (const std::string& secret : secrets)
            EXPECT_EQ(std::string::npos, text.find(secret)) << secret.substr(0, 8) << "...";
    }
    static double OnDestroyMs(const HostRun& run) {
        int line = run.Find("return", "1", "OnDestroy ");
        return line < 0 ? -1 : std::stod(run.At(line).details.substr(sizeof "OnDestroy " - 1));
    }
};

// A click signs in: the browser comes back to the listener with the code,
// the docklet exchanges it and counts at once; the listener is gone after,
// and Debug.log and the output hold no code, token or verifier.
TEST_F(DovecotOAuth, SignInByClickThenCounts) {
    for (const char* type : {"IMAP", "POP"}) {
        SCOPED_TRACE(type);
        const std::string user = std::string("signin") + (std::string(type) == "IMAP" ? "imap" : "pop");
        dovecot::ScriptOAuth("reset=1");
        dovecot::OAuthSignsIn(user);
        dovecot::Deliver(user, 3);
        DockletFolder folder(std::string("SignIn") + type, OAuthSettings(type, user));
        HostRun run = SignIn(folder, "3 new");
        ASSERT_EQ(0, run.exitCode) << run.Text();
        const std::string log = folder.Read("Debug.log");
        EXPECT_NE(std::string::npos, log.find("    Error: sign-in needed: click the item\r\n    Failed !")) << log;
        EXPECT_NE(std::string::npos, log.find("Sign-in account 0: open " + dovecot::OAuthAuthorizeUrl() + "?")) << log;
        EXPECT_NE(std::string::npos, log.find("Sign-in account 0: signed in\r\n")) << log;
        const char* login = std::string(type) == "IMAP" ? "    1 AUTHENTICATE XOAUTH2 <hidden>\r\r\n"
                                                        : "    AUTH XOAUTH2\r\r\n";
        EXPECT_NE(std::string::npos, log.find(login)) << log;
        EXPECT_TRUE(folder.Has("TidewellDocklet.account0.token"));
        EXPECT_EQ(1, dovecot::OAuthCounter("grant_authorization_code"));
        ExpectNoSecretIn(log + run.output + run.errors);
        std::smatch port;
        ASSERT_TRUE(std::regex_search(log, port, std::regex("for the browser at http://127\\.0\\.0\\.1:(\\d+)/")));
        EXPECT_THROW(LineConnection(std::stoi(port[1])), std::runtime_error) << "the listener outlived its sign-in";
        dovecot::Empty(user);
    }
}

// Beside an account that waits for its sign-in, the others' mail and
// failures still show, an idle account's failed login among them; the
// waiting account is no failure.
TEST_F(DovecotOAuth, AWaitingSignInShowsBesideTheOthersMailAndFailures) {
    const dovecot::Ports ports = dovecot::ReadPorts();
    dovecot::AddUser("beside", "beside pass");
    dovecot::Deliver("beside", 5);
    dovecot::AddUser("idlewrong", "another pass");
    dovecot::OAuthSignsIn("besidetoken");
    dovecot::Deliver("besidetoken", 3);
    std::string waiting = OAuthAccount("IMAP", "besidetoken"),
                idle = Account("IMAP", ports.imap, "idlewrong", "Idle=1\r\n");
    waiting.replace(0, 10, "[account1]");
    idle.replace(0, 10, "[account2]");
    DockletFolder folder("Beside", Settings(Account("IMAP", ports.imap, "beside") + waiting + idle,
                                            1, "stringFailed=%d failed\r\n", 3));
    HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1",
                           "5 new, 1 failed - Click to sign in", "40000", "click", "1", "waitlabel",
                           "1", "8 new, 1 failed", "60000", "destroy", "1"});
    ASSERT_EQ(0, run.exitCode) << run.Text() << folder.Read("Debug.log");
    for (const char* label :
         {"\"5 new, 1 failed - Click to sign in\" reached", "\"8 new, 1 failed\" reached"})
        EXPECT_GE(run.Find("waitlabel", "1", label), 0) << run.Text();
    // In this order, the cycle's own lines may come between.
    const std::string log = folder.Read("Debug.log");
    size_t at = 0;
    for (const char* line : {"    Error: rejected by the server: reply to LOGIN\r\n",
                             "    Failed !\r\n", " (idle account 2 failed)\r\n"}) {
        at = log.find(line, at);
        EXPECT_NE(std::string::npos, at) << line << log;
    }
    dovecot::Empty("beside");
    dovecot::Empty("besidetoken");
}

// From a kept sign-in each new item refreshes its token; each row starts
// from what the row before left, so the rotated refresh tokens must have
// been kept. A token refused by the server just after its refresh, and a
// refresh refused with invalid_grant, bring the account back to "sign in".
TEST_F(DovecotOAuth, NewItemsRefreshFromTheKeptSignIn) {
    dovecot::OAuthSignsIn("refresher");
    dovecot::Deliver("refresher", 2);
    DockletFolder folder("Refresher", OAuthSettings("IMAP", "refresher"));
    ASSERT_EQ(0, SignIn(folder, "2 new").exitCode);
    const struct {
        const char* script;
        const char* label;
        const char* logged;
        bool kept;
    } kCases[] = {
        {"", "2 new", "    Sign-in: access token refreshed (for 3600 s)\r\n", true},
        {"rotation=off", "2 new", "    Sign-in: access token refreshed", true},
        {"rotation=on&token=error500", "None", "    Error: token endpoint answered 500", true},
        {"token=silent", "None", "    Error: no answer within 3 s: reply to POST\r\n", true},
        {"token=ok&introspection=reject", "Click to sign in", "(XOAUTH2 refused: ", true},
        {"introspection=ok", "2 new", "    Sign-in: access token refreshed", true},
        {"revoke=1", "Click to sign in", "    Sign-in: the provider refused the kept sign-in (invalid_grant", false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.script);
        dovecot::ScriptOAuth(c.script);
        DeleteFileA((folder.Path() + "Debug.log").c_str());
        HostRun run = CheckOnce(folder, c.label);
        ASSERT_EQ(0, run.exitCode) << run.Text();
        const std::string log = folder.Read("Debug.log");
        EXPECT_NE(std::string::npos, log.find(c.logged)) << log;
        EXPECT_EQ(c.kept, folder.Has("TidewellDocklet.account0.token"));
        EXPECT_EQ(std::string::npos, log.find("Sign-in account 0:")) << "only a click signs in\n" << log;
    }
    EXPECT_EQ(0, dovecot::OAuthCounter("invalid_grant") - 1);
    ExpectNoSecretIn(folder.Read("Debug.log"));
    dovecot::Empty("refresher");
}

// A token that expires is refreshed before the next check, in the same item.
TEST_F(DovecotOAuth, AnExpiredTokenIsRefreshedInTheSameItem) {
    dovecot::OAuthSignsIn("expiry");
    dovecot::Deliver("expiry", 1);
    dovecot::ScriptOAuth("expires_in=4");
    DockletFolder folder("Expiry", OAuthSettings("IMAP", "expiry"));
    HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "Click to sign in",
                           "30000", "click", "1", "waitlabel", "1", "One", "30000", "hold", "1", "waitlabel", "1",
                           "Checking", "5000", "waitlabel", "1", "One", "30000", "wait", "4000", "hold", "1",
                           "waitlabel", "1", "Checking", "5000", "waitlabel", "1", "One", "30000", "destroy", "1"});
    ASSERT_EQ(0, run.exitCode) << run.Text();
    // The hold right after the sign-in used the token in memory; the one past its life refreshed it.
    EXPECT_EQ(1, dovecot::OAuthCounter("grant_refresh_token")) << folder.Read("Debug.log");
    dovecot::Empty("expiry");
}

// A sign-in that waits for the browser, and one whose token request hangs,
// end at once with the item; a redirect with another state is refused and
// the sign-in goes on waiting.
TEST_F(DovecotOAuth, OnDestroyEndsASignInAtOnce) {
    dovecot::OAuthSignsIn("waiting");
    const struct {
        const char* script;
        const char* logged;
    } kCases[] = {
        {"authorize=wrong_state", "Sign-in account 0: a request to the listener refused: its state is not this sign-in's\r\n"},
        {"authorize=no_redirect", "Sign-in account 0: page handed to OAuthBrowser\r\n"},
        {"token=silent", "Sign-in account 0: code received; asking the token endpoint\r\n"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.script);
        dovecot::ScriptOAuth(std::string("reset=1&") + c.script);
        DockletFolder folder(std::string("Waiting") + c.script[0], Settings(OAuthAccount("IMAP", "waiting"), 1));
        HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1",
                               "Click to sign in", "30000", "click", "1", "wait", "2000", "destroy", "1"});
        ASSERT_EQ(0, run.exitCode) << run.Text();
        const std::string log = folder.Read("Debug.log");
        EXPECT_NE(std::string::npos, log.find(c.logged)) << log;
        EXPECT_EQ(std::string::npos, log.find("signed in")) << log;
        const double spent = OnDestroyMs(run);
        EXPECT_GE(spent, 0) << run.Text();
        EXPECT_LT(spent, 50) << run.Text();
        EXPECT_FALSE(folder.Has("TidewellDocklet.account0.token"));
    }
}

// A click while the sign-in waits for its user opens its page again: the
// sign-in's worker starts the browser, and the host's thread, which once
// waited for that each time, only asks for it.
TEST_F(DovecotOAuth, AClickOpensThePageAgainWithoutWaitingForIt) {
    dovecot::OAuthSignsIn("reopen");
    dovecot::ScriptOAuth("reset=1&authorize=no_redirect");
    DockletFolder folder("Reopen", Settings(OAuthAccount("IMAP", "reopen"), 1));
    std::vector<std::string> scenario = {"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1",
                                         "Click to sign in", "30000", "click", "1", "wait", "1500"};
    const int kReopens = 5;
    for (int i = 0; i < kReopens; ++i)
        scenario.insert(scenario.end(), {"click", "1", "wait", "700"});
    scenario.insert(scenario.end(), {"destroy", "1"});
    HostRun run = RunHost(scenario);
    ASSERT_EQ(0, run.exitCode) << run.Text();
    const std::string log = folder.Read("Debug.log");
    size_t opened = 0;
    for (size_t at = log.find("Sign-in account 0: page handed to OAuthBrowser\r\n"); at != std::string::npos;
         at = log.find("Sign-in account 0: page handed to OAuthBrowser\r\n", at + 1))
        ++opened;
    EXPECT_EQ(1u + kReopens, opened) << log;
    // The quickest of the clicks that reopen: far below starting a browser under Wine (16-46 ms).
    double quickest = 1e9;
    int clicks = 0;
    for (int i = run.Find("return", "1", "OnLeftButtonClick "); i >= 0;
         i = run.Find("return", "1", "OnLeftButtonClick ", i + 1)) {
        if (clicks++ > 0)
            quickest = std::min(quickest, std::stod(run.At(i).details.substr(sizeof "OnLeftButtonClick " - 1)));
    }
    EXPECT_EQ(1 + kReopens, clicks);
    EXPECT_LT(quickest, 8.0) << run.Text();
}

}  // namespace
