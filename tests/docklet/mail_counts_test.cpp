// Whole items counting mail on the private Dovecot: the label and the strip
// for each count, over IMAP and POP3, and the debug log of one real check.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
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

// Notepad saves in UTF-8 by default, with or without a mark: the folder
// goes to the server whole, and the labels reach the host in its ANSI code
// page (Windows-1252 here) rather than as two characters for each accented one.
TEST(DovecotImap, AUtf8FileCountsItsAccentedFolder) {
    const dovecot::Ports ports = dovecot::ReadPorts();
    dovecot::AddUser("accents", "accents pass");
    dovecot::Deliver("accents", 7, dovecot::Flag::Unseen, "Re&AOc-u");
    for (const std::string mark : {"", "\xEF\xBB\xBF"}) {
        SCOPED_TRACE(mark.size());
        DockletFolder folder("Accents" + std::to_string(mark.size()),
                             mark + "[Common]\r\nDebug=1\r\nNbAccount=1\r\nstringHaveMsg=%d re\xC3\xA7us\r\n"
                                    "stringFailed=%d en \xC3\xA9" "chec\r\n" +
                                 Account("IMAP", ports.imap, "accents", "Folder=Re\xC3\xA7u\r\n"));
        HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "7 re\xE7us",
                               "30000", "destroy", "1"});
        ASSERT_EQ(0, run.exitCode) << run.Text();
        const std::string log = folder.Read("Debug.log");
        EXPECT_GE(run.Find("DockletSetLabel", "1", "\"7 re\xE7us\""), 0) << run.Text() << log;
        EXPECT_NE(std::string::npos, log.find("    2 EXAMINE Re&AOc-u\r\r\n")) << log;
        EXPECT_NE(std::string::npos, log.find("stringFailed:%d en \xE9" "chec\r\n")) << log;
    }
    dovecot::Empty("accents");
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

// Idle=1 through the black-hole proxy to Dovecot, as behind a router that
// forgets quiet connections: nothing more passes either way, and neither
// side hears of it.
class DovecotBlackHole : public ::testing::Test {
  protected:
    // A user with `unseen` messages, and a docklet folder whose account with
    // Idle=1 reaches it through a route of the proxy; every other setting
    // is the default but stringFailed.
    void Start(const std::string& user, int unseen) {
        dovecot::AddUser(user, user + " pass");
        dovecot::Empty(user);
        dovecot::Deliver(user, unseen);
        port = blackhole::Forward(dovecot::ReadPorts().imap);
        folder.reset(new DockletFolder(user, Settings(Account("IMAP", port, user, "Idle=1\r\n"), 1,
                                                      "stringFailed=%d failed\r\n")));
    }
    // Runs the host on the folder in a thread of its own, for up to timeoutMs.
    void RunAside(std::vector<std::string> steps, DWORD timeoutMs = 60000) {
        steps.insert(steps.begin(), {"create", "1", folder->Root(), folder->Relative()});
        host = std::thread([this, steps, timeoutMs] { run = RunHost(steps, "", timeoutMs); });
    }
    std::string LogPath() const { return folder->Path() + "Debug.log"; }
    static std::string JournalPath() { return TestWorkFolder() + "journal.txt"; }
    static size_t SizeOf(const std::string& path) { return ReadWholeFile(path).size(); }

    int port = 0;
    std::unique_ptr<DockletFolder> folder;
    std::thread host;
    HostRun run;
};

// With every setting at its default, a connection in IDLE whose path goes
// silent is noticed by the answer to DONE that does not come, the account
// shows as failed meanwhile, and once the path is back the mail delivered
// meanwhile shows.
TEST_F(DovecotBlackHole, ASilentPathIsNoticedAndMailShowsOnceItIsBack) {
    Start("holed", 3);
    RunAside({"waitlabel", "1", "3 new", "30000", "waitlabel", "1", "1 failed", "150000", "waitlabel", "1", "5 new",
              "120000", "destroy", "1"},
             300000);
    const DWORD idling = WaitForText(LogPath(), "    + idling", 30000);
    const DWORD holed = GetTickCount();
    blackhole::Hole(port);
    dovecot::Deliver("holed", 2);
    const size_t logFrom = SizeOf(LogPath());
    const DWORD noticed =
        idling ? WaitForText(LogPath(), "    Error: no answer within 10 s: reply to DONE\r\n", 150000, logFrom) : 0;
    const DWORD failed = noticed ? WaitForText(JournalPath(), "\"1 failed\"", 5000) : 0;
    blackhole::Resume(port);
    const DWORD resumed = GetTickCount();
    const size_t journalFrom = SizeOf(JournalPath());
    const DWORD shown = noticed ? WaitForText(JournalPath(), "\"5 new\"", 120000, journalFrom) : 0;
    host.join();
    dovecot::Empty("holed");
    ASSERT_EQ(0, run.exitCode) << run.Text();
    ASSERT_NE(0u, noticed) << folder->Read("Debug.log");
    EXPECT_NE(0u, failed) << run.Text();
    ASSERT_NE(0u, shown) << run.Text() << folder->Read("Debug.log");
    const std::string log = folder->Read("Debug.log");
    EXPECT_NE(std::string::npos, log.find("    No word from the server for 60 s: IDLE again, DONE's answer awaited 10 s"))
        << log;
    EXPECT_NE(std::string::npos, log.find("  Idle account 0: connection lost, opened again in ")) << log;
    RecordProperty("hole_to_noticed_ms", static_cast<int>(noticed - holed));
    RecordProperty("path_back_to_label_ms", static_cast<int>(shown - resumed));
}

// A held button asks for a fresh count: the connection in IDLE whose path
// was forgotten does not answer DONE, so a login of its own counts, and the
// label never shows the old count again.
TEST_F(DovecotBlackHole, AHoldNeverAnswersWithTheOldCount) {
    Start("heldfresh", 3);
    RunAside({"waitlabel", "1", "3 new", "30000", "wait", "2000", "hold", "1", "waitlabel", "1", "5 new", "30000",
              "destroy", "1"});
    if (WaitForText(LogPath(), "    + idling", 30000)) {
        blackhole::Hole(port, blackhole::Scope::OldConnections);
        dovecot::Deliver("heldfresh", 2);
    }
    host.join();
    dovecot::Empty("heldfresh");
    ASSERT_EQ(0, run.exitCode) << run.Text();
    const int held = run.Find("call", "1", "OnLeftButtonHeld");
    ASSERT_GE(held, 0) << run.Text();
    EXPECT_GE(run.Find("DockletSetLabel", "1", "\"5 new\"", held), 0) << run.Text();
    EXPECT_EQ(-1, run.Find("DockletSetLabel", "1", "\"3 new\"", held)) << run.Text();
    const std::string log = folder->Read("Debug.log");
    size_t at = 0;
    for (const char* line : {"    A check asks for a count: IDLE ends\r\n",
                             "    Error: no answer within 10 s: reply to DONE\r\n",
                             "    Its connection in IDLE did not count when asked: a login of its own counts\r\n",
                             "    Nb Messages: 5\r\n"}) {
        at = log.find(line, at);
        EXPECT_NE(std::string::npos, at) << line << log;
    }
}

// Removing the item while its connection in IDLE is black-holed waits for
// nothing.
TEST_F(DovecotBlackHole, OnDestroyWhileBlackHoledIsPrompt) {
    Start("holedgone", 1);
    RunAside({"waitlabel", "1", "One", "30000", "wait", "1500", "destroy", "1"});
    if (WaitForText(LogPath(), "    + idling", 30000))
        blackhole::Hole(port);
    host.join();
    ASSERT_EQ(0, run.exitCode) << run.Text();
    const int returned = run.Find("return", "1", "OnDestroy ");
    ASSERT_GE(returned, 0) << run.Text();
    const double ms = std::stod(run.At(returned).details.substr(sizeof "OnDestroy " - 1));
    RecordProperty("OnDestroyMs", std::to_string(ms));
    printf("OnDestroy while black-holed: %.1f ms\n", ms);
    // The goal is 5 ms; the bound only catches a wait for the server.
    EXPECT_LT(ms, 1000) << run.Text();
    EXPECT_EQ(0, run.Count("LATE")) << run.Text();
    EXPECT_EQ(1, blackhole::CountConnections(port).total);
    dovecot::Empty("holedgone");
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
    // The watcher's first and new connections, and the check's own login
    // meanwhile unless the new connection counted first for it.
    const int connections = blackhole::CountConnections(route).total;
    EXPECT_GE(connections, 2);
    EXPECT_LE(connections, 3);
    EXPECT_EQ("suspend windows=0", run.At(run.Find("power", "-", "suspend", shown)).details)
        << "the window outlived the last item";
    EXPECT_EQ(StatsAt(run, 0).threads, StatsAt(run, 1).threads) << run.Text();
}

// OAuth2 accounts against the stand-in authorization server and Dovecot's
// oauth2 passdb, over TLS, with the stand-in browser in OAuthBrowser.
class DovecotOAuth : public DovecotTls {
  protected:
    void SetUp() override { dovecot::ScriptOAuth("reset=1"); }

    static std::string OAuthAccount(const char* type, const std::string& user,
                                    const std::string& scope = "mail offline_access",
                                    const std::string& provider = "custom") {
        const dovecot::Ports ports = dovecot::ReadPorts();
        return std::string("[account0]\r\nType=") + type + "\r\nSecurity=tls\r\nAddress=127.0.0.1\r\nPort=" +
               std::to_string(std::string(type) == "IMAP" ? ports.imaps : ports.pop3s) + "\r\nLogin=" + user +
               "\r\n" + CaFileLine() + "Auth=oauth2\r\nOAuthProvider=" + provider + "\r\nOAuthClientId=" +
               dovecot::kOAuthClientId + "\r\nOAuthAuthorizeUrl=" + dovecot::OAuthAuthorizeUrl() +
               "\r\nOAuthTokenUrl=" + dovecot::OAuthTokenUrl() + "\r\nOAuthScope=" + scope + "\r\n" +
               "OAuthBrowser=\"" + dovecot::StandinBrowserPath() + "\" %s\r\n";
    }
    static std::string OAuthSettings(const char* type, const std::string& user,
                                     const std::string& scope = "mail offline_access") {
        return Settings("TimeoutSecond=3\r\n" + OAuthAccount(type, user, scope), 1);
    }
    // Signs the folder's account in by a click, waits for the check after it
    // to show `label`, then holds the button for one more check.
    static HostRun SignInAndCheckAgain(const DockletFolder& folder, const std::string& label) {
        return RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "Click to sign in",
                        "30000", "click", "1", "waitlabel", "1", label, "30000", "hold", "1", "waitlabel", "1",
                        "Checking", "5000", "waitlabel", "1", label, "30000", "destroy", "1"});
    }
    static void ExpectNoSignInAskedAfterTheClick(const HostRun& run) {
        const int clicked = run.Find("return", "1", "OnLeftButtonClick ");
        ASSERT_GE(clicked, 0) << run.Text();
        EXPECT_LT(run.Find("DockletSetLabel", "1", QuoteJournalText("Click to sign in"), clicked), 0) << run.Text();
    }
    static size_t Count(const std::string& text, const std::string& part) {
        size_t count = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++count;
        return count;
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
// and Debug.log and the output hold no code, token, ID token or verifier.
TEST_F(DovecotOAuth, SignInByClickThenCounts) {
    for (const char* type : {"IMAP", "POP"}) {
        SCOPED_TRACE(type);
        const std::string user = std::string("signin") + (std::string(type) == "IMAP" ? "imap" : "pop");
        dovecot::ScriptOAuth("reset=1");
        dovecot::OAuthSignsIn(user);
        dovecot::Deliver(user, 3);
        // The POP account's sign-in also asks who signed in: its ID token names Login.
        DockletFolder folder(std::string("SignIn") + type,
                             OAuthSettings(type, user, std::string(type) == "POP" ? "mail offline_access openid email"
                                                                                  : "mail offline_access"));
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

// A build that carries client IDs signs in with its own where the account
// names none, its secret with it; the INI's OAuthClientId wins. Debug.log
// names the build's client ID, never its secret.
TEST_F(DovecotOAuth, ABuildsOwnClientSignsInWhereTheIniNamesNone) {
    const std::string microsoft = TIDEWELL_SAMPLE_MICROSOFT_CLIENT_ID, google = TIDEWELL_SAMPLE_GOOGLE_CLIENT_ID;
    const std::string secret = TIDEWELL_SAMPLE_GOOGLE_CLIENT_SECRET;
    const struct {
        const char* provider;
        std::string iniClient;  // OAuthClientId, or none
        std::string sentClient;
        std::string sentSecret;  // the stand-in refuses the code without it, when set
        std::string dumped;
    } kCases[] = {
        {"google", "", google, secret, "  OAuthClientId of this build for google:" + google + "\r\n"},
        {"microsoft", "", microsoft, "", "  OAuthClientId of this build for microsoft:" + microsoft + "\r\n"},
        {"google", dovecot::kOAuthClientId, dovecot::kOAuthClientId, "",
         "  OAuthClientId of this build for google:" + google + " (not used: the INI's wins)\r\n"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.provider) + " " + c.iniClient);
        const std::string user = std::string("builtin") + c.provider + (c.iniClient.empty() ? "" : "ini");
        dovecot::ScriptOAuth("reset=1&client_id=" + c.sentClient + "&client_secret=" + c.sentSecret);
        dovecot::OAuthSignsIn(user);
        dovecot::Deliver(user, 2);
        std::string account = OAuthAccount("IMAP", user);
        account = std::regex_replace(account, std::regex("OAuthProvider=custom"), std::string("OAuthProvider=") + c.provider);
        account = std::regex_replace(account, std::regex("OAuthClientId=[^\r]*\r\n"),
                                     c.iniClient.empty() ? "" : "OAuthClientId=" + c.iniClient + "\r\n");
        DockletFolder folder("BuiltIn" + user, Settings("TimeoutSecond=3\r\n" + account, 1),
                             BuildFilePath(TIDEWELL_BUILT_IN_CLIENTS_DLL));
        HostRun run = SignIn(folder, "2 new");
        ASSERT_EQ(0, run.exitCode) << run.Text();
        const std::string log = folder.Read("Debug.log");
        EXPECT_NE(std::string::npos, log.find(c.dumped)) << log;
        EXPECT_NE(std::string::npos, log.find("&client_id=" + c.sentClient + "&")) << log;
        EXPECT_EQ(std::string::npos, log.find(secret)) << log;
        EXPECT_EQ(std::string::npos, (run.output + run.errors).find(secret));
        EXPECT_EQ(1, dovecot::OAuthCounter("grant_authorization_code"));
        dovecot::Empty(user);
    }
}

// Signed in at the provider as someone other than Login: the ID token, in
// either claim a provider names the address with, says so before any token
// goes to the server. The account fails with the reason, in Debug.log and on
// the page, and stays failed instead of asking for a sign-in again.
TEST_F(DovecotOAuth, SignedInAsAnotherThanLoginFailsWithTheReason) {
    for (const char* claim : {"email", "preferred_username"}) {
        SCOPED_TRACE(claim);
        dovecot::ScriptOAuth("reset=1");
        dovecot::OAuthSignsIn("elsewhere");
        dovecot::ScriptOAuth(std::string("id_token=") + claim + "&id_token_email=Elsewhere@Example.org");
        DockletFolder folder(std::string("Elsewhere") + claim[0],
                             OAuthSettings("IMAP", "looper", "mail offline_access openid email"));
        const size_t pagesFrom = ReadWholeFile(dovecot::StandinBrowserLogPath()).size();
        HostRun run = SignInAndCheckAgain(folder, "None");
        ASSERT_EQ(0, run.exitCode) << run.Text();
        const std::string reason =
            "signed in as Elsewhere@Example.org, but Login is looper: set Login to the address you sign in with";
        const std::string log = folder.Read("Debug.log");
        EXPECT_NE(std::string::npos, log.find("Sign-in account 0: Error: " + reason + "\r\n")) << log;
        EXPECT_EQ(2u, Count(log, "    Error: " + reason + "\r\n    Failed !\r\n")) << log;
        EXPECT_EQ(std::string::npos, log.find("XOAUTH2")) << log;
        EXPECT_NE(std::string::npos, ReadWholeFile(dovecot::StandinBrowserLogPath()).find(reason, pagesFrom));
        EXPECT_EQ(0, dovecot::OAuthCounter("introspect"));
        EXPECT_EQ(0, dovecot::OAuthCounter("grant_refresh_token"));
        EXPECT_FALSE(folder.Has("TidewellDocklet.account0.token"));
        ExpectNoSignInAskedAfterTheClick(run);
        ExpectNoSecretIn(log + run.output + run.errors);
    }
}

// A token the server refuses just after a sign-in in the browser fails the
// account with the user= it was sent for, and so does the one refreshed from
// that sign-in: a sign-in again would bring the same refusal.
TEST_F(DovecotOAuth, ATokenRefusedAfterASignInFailsWithItsUser) {
    dovecot::OAuthSignsIn("elsewhere");
    DockletFolder folder("Refused", OAuthSettings("POP", "looper"));
    HostRun run = SignInAndCheckAgain(folder, "None");
    ASSERT_EQ(0, run.exitCode) << run.Text();
    const std::string log = folder.Read("Debug.log");
    EXPECT_EQ(2u, Count(log, "    Error: the server refused the token of the new sign-in for user=looper: Login "
                             "must name the mailbox you signed in for, and that mailbox must allow POP\r\n    "
                             "Failed !\r\n"))
        << log;
    EXPECT_EQ(1, dovecot::OAuthCounter("grant_refresh_token"));
    EXPECT_EQ(1u, Count(log, "Error: sign-in needed: click the item")) << log;
    ExpectNoSignInAskedAfterTheClick(run);
}

// A provider that does not go with Login's domain is named at start-up and on
// the sign-in page; the sign-in itself goes on, as a setup of one's own may
// mean it.
TEST_F(DovecotOAuth, AProviderThatDoesNotGoWithLoginIsNamed) {
    dovecot::OAuthSignsIn("misfit");
    DockletFolder folder("Misfit", Settings(OAuthAccount("IMAP", "ann@outlook.com", "mail offline_access",
                                                         "google"), 1));
    const size_t pagesFrom = ReadWholeFile(dovecot::StandinBrowserLogPath()).size();
    HostRun run = SignIn(folder, "None");
    ASSERT_EQ(0, run.exitCode) << run.Text();
    const std::string reason = "the sign-in is Google's (OAuthProvider=google), but Login ann@outlook.com is a "
                               "Microsoft address: a Microsoft mailbox takes Microsoft's tokens only; check "
                               "OAuthProvider, Address and Login";
    const std::string log = folder.Read("Debug.log");
    const size_t line = log.find("Account 0: " + reason + "\r\n");
    EXPECT_LT(line, log.find("TidewellThread")) << log;
    EXPECT_NE(std::string::npos, log.find("Sign-in account 0: signed in\r\n")) << log;
    EXPECT_NE(std::string::npos,
              ReadWholeFile(dovecot::StandinBrowserLogPath())
                  .find("<p>Note: " + std::regex_replace(reason, std::regex("'"), "&#39;") + "</p>", pagesFrom));
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
