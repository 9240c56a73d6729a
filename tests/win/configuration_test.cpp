// The configuration as read through the Windows profile functions from real
// INI files, and the start-up dump as it lands in a real Debug.log.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/read_configuration_win.h"
#include "config/ini_value_edit.h"
#include "mail/mailbox_name.h"
#include "mail/mailbox_name_win.h"
#include "temp_folder_win.h"

namespace {

const char kRelative[] = "Docklets\\Tidewell\\";

class Configuration : public ::testing::Test {
protected:
    Configuration() { folder.MakeFolder(kRelative); }
    ~Configuration() override {
        free(instance.accounts);
    }

    void Read(const std::string& ini) {
        folder.Write(std::string(kRelative) + "TidewellDocklet.ini", ini);
        ReadAgain();
    }
    void ReadAgain() {
        free(instance.accounts);
        instance = DockletInstance{};
        ReadConfigurationFile(&instance, folder.Path().c_str(), kRelative);
    }
    std::string Log() const { return folder.Read(std::string(kRelative) + "Debug.log"); }

    TempFolder folder;
    DockletInstance instance{};
};

TEST_F(Configuration, NoFileGivesTheDefaults) {
    ReadAgain();
    EXPECT_FALSE(instance.debug);
    EXPECT_EQ(180, instance.delaySeconds);
    // Well inside the 5 to 15 minutes after which routers forget quiet connections.
    EXPECT_EQ(300, instance.idleRenewSeconds);
    EXPECT_STREQ("", instance.link);
    EXPECT_STREQ("", instance.checkText);
    EXPECT_STREQ("", instance.noMessageText);
    EXPECT_STREQ("", instance.oneMessageText);
    EXPECT_STREQ("", instance.manyMessagesTemplate);
    EXPECT_STREQ("", instance.failedTemplate);
    EXPECT_EQ(folder.Path() + kRelative + "Debug.log", instance.logPath);
    ASSERT_EQ(1, instance.accountCount);
    ASSERT_NE(nullptr, instance.accounts);
    const MailAccount& account = instance.accounts[0];
    EXPECT_EQ(kAccountNone, account.type);
    EXPECT_EQ(143, account.port);
    EXPECT_STREQ("", account.address);
    EXPECT_STREQ("", account.login);
    EXPECT_STREQ("", account.password);
    EXPECT_STREQ("", account.registryPath);
    EXPECT_EQ(0, account.dbxCount);
    EXPECT_EQ("<missing>", Log());
}

TEST_F(Configuration, CommonSectionMatchesInAnyCase) {
    for (const char* heading : {"[COMMON]", "[common]", "[Common]"}) {
        Read(std::string(heading) +
             "\r\nNbAccount=0\r\nDelaySecond=30\r\nLink=mail.exe -check\r\n"
             "stringCheck=Checking\r\nstringNoMsg=None\r\nstringOneMsg=One\r\n"
             "stringHaveMsg=%d mails\r\nstringFailed=%d failed\r\n");
        SCOPED_TRACE(heading);
        EXPECT_EQ(0, instance.accountCount);
        EXPECT_EQ(30, instance.delaySeconds);
        EXPECT_STREQ("mail.exe -check", instance.link);
        EXPECT_STREQ("Checking", instance.checkText);
        EXPECT_STREQ("None", instance.noMessageText);
        EXPECT_STREQ("One", instance.oneMessageText);
        EXPECT_STREQ("%d mails", instance.manyMessagesTemplate);
        EXPECT_STREQ("%d failed", instance.failedTemplate);
    }
}

TEST_F(Configuration, OnlyDebugOneTurnsTheLogOn) {
    Read("[common]\r\nDebug=2\r\nNbAccount=0\r\n");
    EXPECT_FALSE(instance.debug);
    EXPECT_EQ("<missing>", Log());
    Read("[common]\r\nDebug=-1\r\nNbAccount=0\r\n");
    EXPECT_FALSE(instance.debug);
    Read("[common]\r\nDebug=1\r\nNbAccount=0\r\n");
    EXPECT_TRUE(instance.debug);
    EXPECT_NE("<missing>", Log());
}

TEST_F(Configuration, StartUpDumpLineForLine) {
    Read("[common]\r\nDebug=1\r\nNbAccount=2\r\nDelaySecond=60\r\nLink=notepad.exe\r\n"
         "[account0]\r\nType=Imap\r\nAddress=imap.example.com\r\nLogin=me\r\nPassword=p w\r\n"
         "[account1]\r\nType=pop\r\nPort=110\r\nAddress=127.0.0.1\r\nLogin=you\r\nPassword=x\r\n"
         "RegKey=HKEY_CURRENT_USER\\Software\\Mail\\Unread\r\nNbDbxFiles=2\r\n"
         "DbxFile0=C:\\Mail\\Inbox.dbx\r\nDbxFile1=C:\\Mail\\Old.dbx\r\n");
    EXPECT_EQ("----------------------------\r\n"
              "NbAccounts:2\r\n"
              "Delay:60 seconds\r\n"
              "Link:notepad.exe\r\n"
              "Account 0 :\r\n"
              "  Type:2 (Imap)\r\n"
              "  Port:143\r\n"
              "  Address:imap.example.com\r\n"
              "  Login:me\r\n"
              "  Password:p w\r\n"
              "  RegKey:\r\n"
              "Account 1 :\r\n"
              "  Type:1 (pop)\r\n"
              "  Port:110\r\n"
              "  Address:127.0.0.1\r\n"
              "  Login:you\r\n"
              "  Password:x\r\n"
              "  RegKey:HKEY_CURRENT_USER\\Software\\Mail\\Unread\r\n"
              "  DbxFile0:C:\\Mail\\Inbox.dbx\r\n"
              "  DbxFile1:C:\\Mail\\Old.dbx\r\n",
              Log());
}

// A protected password, and every password once ProtectPasswords is 1, is
// never shown; without the key the dump is as it always was.
TEST_F(Configuration, ProtectedPasswordsAreMaskedInTheDump) {
    struct Case {
        const char* common;
        const char* password;
        const char* dumped;
        const char* plain;      // what the check will send
        const char* protect;    // what is left to unprotect
    };
    const Case cases[] = {
        {"", "p w", "p w", "p w", ""},
        {"", "dpapi:QUJD", "********", "", "QUJD"},
        {"", "DPAPI:QUJD", "********", "", "QUJD"},
        {"ProtectPasswords=1\r\n", "s3cret", "********", "s3cret", ""},
        {"ProtectPasswords=2\r\n", "s3cret", "s3cret", "s3cret", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.password);
        folder.Write(std::string(kRelative) + "Debug.log", "");
        Read(std::string("[common]\r\nDebug=1\r\n") + c.common + "[account0]\r\nPassword=" + c.password + "\r\n");
        EXPECT_STREQ(c.plain, instance.accounts[0].password);
        EXPECT_STREQ(c.protect, instance.accounts[0].protectedPassword);
        EXPECT_NE(std::string::npos, Log().find(std::string("  Password:") + c.dumped + "\r\n"));
        EXPECT_EQ(c.common[0] != '\0' && c.common[17] == '1', Log().find("ProtectPasswords:1\r\n") != std::string::npos);
    }
}

// What the profile functions read is what the editor of protected passwords
// finds, in every encoding they know by its byte order mark.
TEST_F(Configuration, TheEditorFindsThePasswordTheProfileFunctionsRead) {
    const char* const files[] = {
        "[account0]\r\nPassword=secret\r\n",
        "  [Account0]  \r\n\tpassWORD \t= \t secret \t\r\n",
        "[account0]\nPassword=\"secret\"\n",
        "[account0]\nPassword='secret'\n",
        "[account0]\nPassword=secret\nPassword=other\n",
        "[account0]\rPassword=secret\rX=1",
        "[account0]\nLogin=a\n[account0]\nPassword=secret\n",
        "[account1]\nPassword=secret\n[account0]\nPassword=other\n",
        "Password=secret\n[account0]\n",
        "[account0]\nPassword\nPassword=secret\n",
        "[account0]\r\nPassword=\r\nPassword=secret\r\n",
        "[account0]\r\n\r\n\r\nPassword = 'se\"cret' \r\n[x]\r\nPassword=other",
    };
    const char* const marks[] = {"", "\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"};
    for (const char* file : files) {
        for (const char* mark : marks) {
            SCOPED_TRACE(std::string(file) + " after the mark of " + std::to_string(strlen(mark)) + " bytes " +
                         std::to_string(static_cast<unsigned char>(mark[0])));
            const std::string text = std::string("[common]\r\n") + file;
            std::string stored = mark;
            for (char c : text) {
                if (mark[0] == '\xFF')
                    stored += std::string{c, '\0'};
                else if (mark[0] == '\xFE')
                    stored += std::string{'\0', c};
                else
                    stored += c;
            }
            Read(stored);
            IniValue values[4];
            const size_t found = FindIniValues(stored.data(), stored.size(), "account0", "Password", values, 4);
            ASSERT_LE(found, 4u);
            std::string read;
            for (size_t i = 0; i < found; ++i) {
                if (!values[i].read)
                    continue;
                for (size_t at = values[i].textBegin; at < values[i].textEnd; at += strlen(mark) == 2 ? 2 : 1)
                    read += stored[mark[0] == '\xFF' ? at : at + (strlen(mark) == 2 ? 1 : 0)];
            }
            EXPECT_EQ(instance.accounts[0].password, read);
        }
    }
}

// An ASCII file reads the same through Windows' profile functions and
// through the docklet's own reader of UTF-8 files, which a comment with one
// accented letter at its end sends it to: numbers, quotes, spaces, comments,
// line ends and repeated keys and sections alike.
TEST_F(Configuration, BothReadersReadAnAsciiFileAlike) {
    const std::string files[] = {
        "[common]\r\nDebug=1\r\nNbAccount=2\r\nDelaySecond=0x40\r\nTimeoutSecond=0b101\r\nIdleRenewSecond=0o17\r\n"
        "Link=\"a.exe\" -x\r\n",
        "  [ Common\t]  \r\n Debug = 1 \r\nNbAccount=3abc\r\nDelaySecond=-5\r\nTimeoutSecond=0X10\r\n"
        "stringNoMsg = ' none ' \r\nstringFailed=\"%d\"\r\nIdleRenewSecond=99999999999\r\n",
        "[common]\rDebug=1\rNbAccount=2\rDebug=0\rLink\rLink=b.exe\x1A\rDelaySecond=\"77\"\rTimeoutSecond=- 5\r",
        "[common]\nDebug=1\nNbAccount= +2\nstringCheck=\"\nstringOneMsg=''\n;Badge=1\nSound=\"x.wav'\n"
        "DelaySecond=123456789012345678901234567890\nTimeoutSecond=-2147483649\n[common]\nNbAccount=5\n",
        "; settings\r\n\r\n[common]\r\nDebug=1\r\nNbAccount=2\r\nDelaySecond=4294967296\r\nLink=" +
            std::string(300, 'l') + "\r\n",
    };
    const std::string accounts[] = {
        "[account1]\r\nType=pop\r\nPort= 110 \r\nSecurity='tls'\r\nNbDbxFiles=0x2\r\nDbxFile0=a.dbx\r\nDbxFile1\r\n",
        "[ACCOUNT1]\r\n; Type=IMAP\r\nType=POP\r\nRegKey=HKEY_CURRENT_USER\\x\\y\r\n[account1]\r\nLogin=x\r\n",
        "[account1]\r\nCertificateFingerprint=" + std::string(64, 'a') + "\r\nCAFile = c.pem\r\nAuth=oauth2\r\n",
    };
    for (const std::string& common : files) {
        for (const std::string& second : accounts) {
            const std::string file = common + "[account0]\r\nType=IMAP\r\nPassword=\"p w\"\r\nFolder='Sent'\r\n" + second;
            SCOPED_TRACE(file);
            folder.Write(std::string(kRelative) + "Debug.log", "");
            Read(file);
            const DockletInstance viaProfile = instance;
            const std::string profileLog = Log();
            std::vector<MailAccount> profileAccounts(instance.accounts, instance.accounts + instance.accountCount);
            folder.Write(std::string(kRelative) + "Debug.log", "");
            Read(file + "\r\n; \xC3\xA9");
            const std::string said = folder.Path() + kRelative + "TidewellDocklet.ini read as UTF-8\r\n";
            std::string ownLog = Log();
            ASSERT_NE(std::string::npos, ownLog.find(said)) << ownLog;
            EXPECT_EQ(profileLog, ownLog.erase(ownLog.find(said), said.size()));
            ASSERT_EQ(viaProfile.accountCount, instance.accountCount);
            for (int i = 0; i < instance.accountCount; ++i) {
                profileAccounts[i].folderUtf8 = true;
                EXPECT_EQ(0, memcmp(&profileAccounts[i], &instance.accounts[i], sizeof(MailAccount))) << i;
            }
            for (auto text : {&DockletInstance::checkText, &DockletInstance::noMessageText,
                              &DockletInstance::oneMessageText, &DockletInstance::failedTemplate})
                EXPECT_STREQ(viaProfile.*text, instance.*text);
            EXPECT_STREQ(viaProfile.link, instance.link);
            EXPECT_EQ(viaProfile.sound, instance.sound);
        }
    }
}

// Accented texts read right however Notepad saved the file: the host gets
// the label texts and Windows the paths in the ANSI code page (Windows-1252
// here), the server the folder in modified UTF-7 and the login and password
// as the file holds them; a file with its mark reads as the file without.
TEST_F(Configuration, AccentsReadRightHoweverNotepadSavedTheFile) {
    const std::string text =
        "[Common]\r\nDebug=1\r\nNbAccount=1\r\nstringNoMsg=Aucun message re\xC3\xA7u\r\n"
        "Link=\"C:\\Courrier \xC3\xA9t\xC3\xA9\\mail.exe\" -check\r\n[account0]\r\nType=IMAP\r\nLogin=jos\xC3\xA9\r\n"
        "Password=caf\xC3\xA9\r\nFolder=Re\xC3\xA7u\r\nCAFile=\xC3\xA9t\xC3\xA9.pem\r\nSecurity=tls\r\n";
    std::string noMarkLog;
    for (FileForm form : {kUtf8NoMarkFile, kUtf8File, kUtf16LeFile, kAnsiFile}) {
        SCOPED_TRACE(form);
        const bool utf8 = form == kUtf8File || form == kUtf8NoMarkFile;
        folder.Write(std::string(kRelative) + "Debug.log", "");
        Read(Stored(form, text));
        EXPECT_STREQ("Aucun message re\xE7u", instance.noMessageText);
        EXPECT_STREQ("\"C:\\Courrier \xE9t\xE9\\mail.exe\" -check", instance.link);
        const MailAccount& account = instance.accounts[0];
        EXPECT_EQ(folder.Path() + kRelative + "\xE9t\xE9.pem", account.caFile);
        EXPECT_EQ(utf8 ? "jos\xC3\xA9" : "jos\xE9", std::string(account.login));
        EXPECT_EQ(utf8 ? "caf\xC3\xA9" : "caf\xE9", std::string(account.password));
        EXPECT_EQ(utf8, account.folderUtf8);
        char mailbox[kMailboxNameSize];
        EXPECT_TRUE(FormMailboxName(account.folder, account.folderUtf8, mailbox, sizeof mailbox));
        EXPECT_STREQ("Re&AOc-u", mailbox);
        const std::string log = Log();
        EXPECT_EQ(utf8, log.find("TidewellDocklet.ini read as UTF-8\r\n") != std::string::npos) << log;
        EXPECT_EQ(std::string::npos, log.find("not in Windows' ANSI code page")) << log;
        if (form == kUtf8NoMarkFile)
            noMarkLog = log;
        if (form == kUtf8File) {
            EXPECT_EQ(noMarkLog, log);
        }
    }
}

// A character the code page lacks gets Windows' nearest stand-in and a reason
// line naming its key, without the text of a secret; a folder is asked for whole.
TEST_F(Configuration, CharactersBeyondTheCodePageAreNamed) {
    Read("[Common]\r\nDebug=1\r\nstringNoMsg=Brak nowych, pe\xC5\x82no starych\r\nSound=\xD0\x96.wav\r\n"
         "[account0]\r\nType=IMAP\r\nAuth=oauth2\r\nOAuthClientSecret=s\xC5\x82" "cret\r\n"
         "Folder=\xD0\x9F\xD0\xBE\xD1\x87\xD1\x82\xD0\xB0\r\n");
    const std::string log = Log();
    const std::string lacks = ": a character of it is not in Windows' ANSI code page: read ";
    EXPECT_NE(std::string::npos, log.find("\r\nstringNoMsg" + lacks + "as \"Brak nowych, pelno starych\"\r\nSound" +
                                          lacks + "as \"?.wav\"\r\nAccount 0 :\r\n"))
        << log;
    EXPECT_NE(std::string::npos, log.find("\r\nAccount 0: OAuthClientSecret" + lacks + "with a stand-in for it\r\n"));
    EXPECT_STREQ("slcret", instance.accounts[0].oauth.clientSecret);
    EXPECT_EQ(std::string::npos, log.find("lcret")) << log;
    char mailbox[kMailboxNameSize];
    EXPECT_TRUE(FormMailboxName(instance.accounts[0].folder, true, mailbox, sizeof mailbox));
    EXPECT_STREQ("&BB8EPgRHBEIEMA-", mailbox);
}

// A key set where it does not apply says so at start-up, as Idle=1 on a POP
// account does; an account whose Type, Security or Auth fails its check
// hears only of that.
TEST_F(Configuration, KeysThatDoNotApplySaySo) {
    const std::string pin = "CertificateFingerprint=" + std::string(64, 'a') + "\r\n";
    const std::string oauth = "OAuthProvider=google\r\nOAuthClientId=i\r\nOAuthClientSecret=s3cret\r\nOAuthTenant=t\r\n"
                              "OAuthAuthorizeUrl=a\r\nOAuthTokenUrl=t\r\nOAuthScope=s\r\nOAuthBrowser=b\r\n";
    const std::string tls = " applies to accounts with Security=tls or starttls";
    const struct {
        std::string keys;  // [common]'s, '|', then account0's
        std::vector<std::string> lines;  // each after "Account 0: " for an account's key
    } cases[] = {
        {"|Type=POP\r\nFolder=Sent\r\nIdle=1\r\n", {"Folder applies to IMAP accounts only: not used"}},
        {"|Type=IMAP\r\nFolder=Sent\r\nRegKey=HKEY_CURRENT_USER\\x\r\nNbDbxFiles=2\r\nDbxFile0=a\r\nDbxFile1=b\r\n",
         {"RegKey applies to POP accounts only: not used", "DbxFile0 applies to POP accounts only: not used",
          "DbxFile1 applies to POP accounts only: not used"}},
        {"|Type=POP\r\nRegKey=HKEY_CURRENT_USER\\x\r\nDbxFile0=a\r\nCountNew=1\r\n", {}},
        {"|Type=IMAP\r\nAuth=OAuth2\r\nPassword=dpapi:QUJD\r\nOAuthProvider=Microsoft\r\nOAuthTenant=t\r\n",
         {"Password applies to accounts with Auth=password only: not used"}},
        {"|Type=IMAP\r\n" + oauth,
         {"OAuthProvider", "OAuthClientId", "OAuthClientSecret", "OAuthTenant", "OAuthAuthorizeUrl", "OAuthTokenUrl",
          "OAuthScope", "OAuthBrowser"}},
        {"|Type=IMAP\r\nAuth=oauth2\r\n" + oauth, {"OAuthTenant applies to OAuthProvider=microsoft only: not used"}},
        {"|Type=IMAP\r\nVerifyCertificate=0\r\nCAFile=ca.pem\r\n",
         {"VerifyCertificate" + tls + " only: not used", "CAFile" + tls + ", or Auth=oauth2, only: not used"}},
        {"|Type=POP\r\nSecurity=starttls\r\nVerifyCertificate=0\r\nCAFile=ca.pem\r\n", {}},
        {"|Type=IMAP\r\nAuth=oauth2\r\nCAFile=ca.pem\r\n", {}},  // its token endpoint trusts CAFile
        {"|Type=IMAP\r\nSecurity=tls\r\nVerifyCertificate=1\r\nCAFile=ca.pem\r\n" + pin,
         {"VerifyCertificate applies to accounts without CertificateFingerprint only: not used",
          "CAFile applies to accounts without CertificateFingerprint, or with Auth=oauth2, only: not used"}},
        {"|Type=IMAP\r\n" + pin, {"CertificateFingerprint" + tls + " only: every check of the account fails"}},
        {"|Type=IMAP\r\nSecurity=ssl\r\nVerifyCertificate=0\r\nCAFile=ca.pem\r\n" + pin, {}},
        {"|Type=IMAP4\r\nFolder=x\r\nRegKey=x\r\nCAFile=ca.pem\r\n", {}},
        {"|Type=IMAP\r\nAuth=oauth\r\nPassword=pw\r\nOAuthClientId=id\r\n", {}},
        {"IdleRenewSecond=60\r\nstringSignIn=Go\r\n|Type=POP\r\nIdle=1\r\n",
         {"IdleRenewSecond applies to IMAP accounts with Idle=1 only: not used",
          "stringSignIn applies to accounts with Auth=oauth2 only: not used"}},
        {"IdleRenewSecond=60\r\nstringSignIn=Go\r\n|Type=IMAP\r\nIdle=1\r\nAuth=oauth2\r\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys);
        folder.Write(std::string(kRelative) + "Debug.log", "");
        const size_t bar = c.keys.find('|');
        Read("[common]\r\nDebug=1\r\n" + c.keys.substr(0, bar) + "[account0]\r\n" + c.keys.substr(bar + 1));
        const std::string log = Log();
        size_t said = 0;
        for (size_t at = log.find(" only: "); at != std::string::npos; at = log.find(" only: ", at + 1))
            ++said;
        EXPECT_EQ(c.lines.size(), said) << log;
        for (std::string line : c.lines) {
            if (line.find(' ') == std::string::npos)
                line += " applies to accounts with Auth=oauth2 only: not used";
            const bool common = line.compare(0, 4, "Idle") == 0 || line.compare(0, 6, "string") == 0;
            EXPECT_NE(std::string::npos, log.find((common ? "\r\n" : "\r\nAccount 0: ") + line + "\r\n")) << line << log;
        }
        EXPECT_EQ(std::string::npos, log.find("s3cret")) << log;
    }
}

TEST_F(Configuration, SecondCreationAppendsANewDump) {
    const std::string ini = "[common]\r\nDebug=1\r\nNbAccount=0\r\n";
    Read(ini);
    const std::string first = Log();
    ReadAgain();
    EXPECT_EQ(first + first, Log());
    EXPECT_EQ(0u, first.find("----------------------------\r\nNbAccounts:0\r\n"));
}

TEST_F(Configuration, AccountTypesAndDefaultPort) {
    struct Case {
        const char* type;
        int32_t expected;
    };
    const Case cases[] = {{"IMAP", kAccountImap}, {"imap", kAccountImap}, {"Imap", kAccountImap},
                          {"POP", kAccountPop},   {"pop", kAccountPop},   {"POP3", kAccountNone},
                          {"IMAP4", kAccountNone}, {"", kAccountNone},    {"SMTP", kAccountNone}};
    std::string ini = "[common]\r\nNbAccount=9\r\n";
    for (int i = 0; i < 9; ++i)
        ini += "[account" + std::to_string(i) + "]\r\nType=" + cases[i].type + "\r\n";
    Read(ini);
    ASSERT_EQ(9, instance.accountCount);
    for (int i = 0; i < 9; ++i) {
        SCOPED_TRACE(cases[i].type);
        EXPECT_EQ(cases[i].expected, instance.accounts[i].type);
        EXPECT_EQ(143, instance.accounts[i].port);  // POP gets no port of its own
    }
}

TEST_F(Configuration, SecurityKeysAndTheirPortDefaults) {
    struct Case {
        std::string keys;
        int32_t security;
        int32_t port;
        bool acceptAny;
        int32_t pin = kPinNone;
    };
    const std::string pin = "41:32:AE:63:FE:37:7C:E6:4B:FE:BC:74:6E:B8:C4:FB:4D:BF:BE:19:0D:A4:20:AA:2C:F4:C1:D4:D3:43:C3:E1";
    const std::string pinKey = "Type=IMAP\r\nSecurity=tls\r\nCertificateFingerprint=";
    const Case cases[] = {
        {"Type=IMAP\r\n", kSecurityNone, 143, false},
        {"Type=IMAP\r\nSecurity=none\r\n", kSecurityNone, 143, false},
        {"Type=IMAP\r\nSecurity=TLS\r\n", kSecurityTls, 993, false},
        {"Type=Pop\r\nSecurity=tls\r\n", kSecurityTls, 995, false},
        {"Type=IMAP\r\nSecurity=tls\r\nPort=1993\r\n", kSecurityTls, 1993, false},
        {"Type=IMAP\r\nSecurity=StartTLS\r\n", kSecurityStartTls, 143, false},
        {"Type=POP\r\nSecurity=starttls\r\n", kSecurityStartTls, 143, false},
        {"Type=IMAP\r\nSecurity=ssl\r\n", kSecurityUnknown, 143, false},
        {"Type=IMAP\r\nSecurity=tls \r\nVerifyCertificate=0\r\n", kSecurityTls, 993, true},
        {"Type=IMAP\r\nVerifyCertificate=1\r\n", kSecurityNone, 143, false},
        {"Type=IMAP\r\nVerifyCertificate=yes\r\n", kSecurityNone, 143, false},
        {"Type=IMAP\r\nVerifyCertificate=00\r\n", kSecurityNone, 143, false},
        // Only a port from 1 to 65535 is one; anything else is 0, which the check refuses.
        {"Type=IMAP\r\nPort=65535\r\n", kSecurityNone, 65535, false},
        {"Type=IMAP\r\nPort=\r\n", kSecurityNone, 143, false},
        {"Type=IMAP\r\nPort=99999\r\n", kSecurityNone, 0, false},
        {"Type=IMAP\r\nPort=0\r\n", kSecurityNone, 0, false},
        {"Type=IMAP\r\nPort=-143\r\n", kSecurityNone, 0, false},
        {"Type=IMAP\r\nPort=imap\r\n", kSecurityNone, 0, false},
        {"Type=IMAP\r\nPort=143x\r\n", kSecurityNone, 0, false},
        {"Type=IMAP\r\nPort=4294967439\r\n", kSecurityNone, 0, false},
        {"Type=Pop\r\nSecurity=tls\r\nPort=99999\r\n", kSecurityTls, 0, false},
        {pinKey + "4132ae63 fe377ce6 4bfebc74 6eb8c4fb 4dbfbe19 0da420aa 2cf4c1d4 d343c3e1\r\n", kSecurityTls,
         993, false, kPinSet},
        {pinKey + "sha256 Fingerprint=" + pin + "\r\n", kSecurityTls, 993, false, kPinUnreadable},
        // Cut to its buffer, what is left would read as the fingerprint: the whole text is none.
        {pinKey + pin + std::string(150, ' ') + "00\r\n", kSecurityTls, 993, false, kPinUnreadable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        Read(std::string("[common]\r\nNbAccount=1\r\n[account0]\r\n") + c.keys);
        const MailAccount& account = instance.accounts[0];
        EXPECT_EQ(c.security, account.security);
        EXPECT_EQ(c.port, account.port);
        EXPECT_EQ(c.acceptAny, account.acceptAnyCertificate);
        EXPECT_EQ(c.pin, account.pin);
        if (c.pin == kPinSet) {
            EXPECT_EQ(0x41, account.pinnedDigest[0]);
            EXPECT_EQ(0xE1, account.pinnedDigest[kSha256Size - 1]);
        }
    }
    Read("[common]\r\nNbAccount=1\r\n[account0]\r\nSecurity=Tls1.3\r\n");
    EXPECT_STREQ("Tls1.3", instance.accounts[0].securityText);
}

// CAFile and Sound name files the same way; Sound also takes the system's sound.
TEST_F(Configuration, CaFileAndSoundAreFoundFromTheDockletFolder) {
    struct Case {
        const char* written;
        std::string path;
        int32_t sound;
    };
    const Case cases[] = {
        {"", "", kSoundNone},
        {"myca.pem", folder.Path() + kRelative + "myca.pem", kSoundFile},
        {"certs\\ca.der", folder.Path() + kRelative + "certs\\ca.der", kSoundFile},
        {"D:\\certs\\ca.pem", "D:\\certs\\ca.pem", kSoundFile},
        {"\\\\server\\share\\ca.pem", "\\\\server\\share\\ca.pem", kSoundFile},
        {"/etc/ssl/ca.pem", "/etc/ssl/ca.pem", kSoundFile},
        {"Default", "", kSoundDefault},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.written);
        Read(std::string("[common]\r\nNbAccount=1\r\nSound=") + c.written + "\r\n[account0]\r\nType=IMAP\r\nCAFile=" +
             c.written + "\r\n");
        if (c.sound != kSoundDefault) {
            EXPECT_EQ(c.path, instance.accounts[0].caFile);
        }
        EXPECT_EQ(c.sound, instance.sound);
        EXPECT_EQ(c.path, instance.soundPath);
    }
    for (const char* badge : {"1", "01", "2", "yes", ""}) {
        Read(std::string("[common]\r\nBadge=") + badge + "\r\n");
        EXPECT_EQ(atoi(badge) == 1, instance.badge) << badge;
    }
}

// The keys that came later add a line each where they are set, after the
// lines the dump always had, so an INI without them dumps as it did.
TEST_F(Configuration, TheNewerKeysShowInTheDumpOnlyWhereSet) {
    const std::string common = "[common]\r\nDebug=1\r\nNbAccount=1\r\n";
    const std::string account = "[account0]\r\nType=IMAP\r\nPort=993\r\nAddress=mail.example.com\r\n"
                                "Login=me\r\nPassword=pw\r\n";
    const std::string plain = "----------------------------\r\nNbAccounts:1\r\nDelay:180 seconds\r\nLink:\r\n"
                              "Account 0 :\r\n  Type:2 (IMAP)\r\n  Port:993\r\n  Address:mail.example.com\r\n"
                              "  Login:me\r\n  Password:pw\r\n  RegKey:\r\n";
    Read(common + account);
    EXPECT_EQ(plain, Log());
    folder.Write(std::string(kRelative) + "Debug.log", "");
    Read(common + "TimeoutSecond=20\r\nstringFailed=%d failed\r\nBadge=1\r\nSound=chime.wav\r\n" + account +
         "Security=tls\r\nVerifyCertificate=0\r\nCAFile=ca.pem\r\nCertificateFingerprint=ab cd\r\n");
    EXPECT_EQ("----------------------------\r\nNbAccounts:1\r\nDelay:180 seconds\r\nLink:\r\n"
              "TimeoutSecond:20\r\nstringFailed:%d failed\r\nBadge:1\r\nSound:" +
                  folder.Path() + kRelative + "chime.wav\r\nAccount 0 :\r\n  Type:2 (IMAP)\r\n  Port:993\r\n  Address:mail.example.com\r\n"
              "  Login:me\r\n  Password:pw\r\n  RegKey:\r\n  Security:tls\r\n"
              "  VerifyCertificate:0 (certificate not checked)\r\n  CAFile:" +
                  folder.Path() + kRelative + "ca.pem\r\n  CertificateFingerprint:ab cd\r\n",
              Log());
    folder.Write(std::string(kRelative) + "Debug.log", "");
    Read(common + "TimeoutSecond=60\r\n[account0]\r\nType=IMAP\r\nPort=99999\r\nVerifyCertificate=yes\r\n");
    EXPECT_NE(std::string::npos, Log().find("Link:\r\nTimeoutSecond:60\r\nAccount 0 :")) << Log();
    EXPECT_NE(std::string::npos, Log().find("  Port:99999\r\n")) << Log();
    EXPECT_NE(std::string::npos, Log().find("  RegKey:\r\n  VerifyCertificate:yes (certificate checked)\r\n")) << Log();
    // The client secret is a secret: the dump says only that one is set.
    folder.Write(std::string(kRelative) + "Debug.log", "");
    Read(common + "stringSignIn=Sign in!\r\n" + account +
         "Auth=OAuth2\r\nOAuthProvider=Google\r\nOAuthClientId=id-1\r\nOAuthClientSecret=GOCSPX-s3cret\r\n"
         "OAuthBrowser=b.exe %s\r\n");
    EXPECT_NE(std::string::npos,
              Log().find("  RegKey:\r\n  Auth:OAuth2\r\n  OAuthProvider:Google\r\n  OAuthClientId:id-1\r\n"
                         "  OAuthClientSecret:********\r\n  OAuthBrowser:b.exe %s\r\n"))
        << Log();
    EXPECT_EQ(std::string::npos, Log().find("s3cret"));
    EXPECT_STREQ("Sign in!", instance.signInText);
    EXPECT_EQ(kAuthOAuth2, instance.accounts[0].auth);
    EXPECT_EQ(kProviderGoogle, instance.accounts[0].oauth.provider);
    EXPECT_STREQ("GOCSPX-s3cret", instance.accounts[0].oauth.clientSecret);
}

TEST_F(Configuration, AuthAndProviderValues) {
    const struct {
        const char* keys;
        int32_t auth;
        int32_t provider;
    } cases[] = {
        {"", kAuthPassword, kProviderFromAddress},
        {"Auth=password\r\n", kAuthPassword, kProviderFromAddress},
        {"Auth=oauth2\r\nOAuthProvider=MICROSOFT\r\n", kAuthOAuth2, kProviderMicrosoft},
        {"Auth=oauth2\r\nOAuthProvider=custom\r\n", kAuthOAuth2, kProviderCustom},
        {"Auth=oauth\r\nOAuthProvider=yahoo\r\n", kAuthUnknown, kProviderUnknown},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys);
        Read(std::string("[common]\r\nNbAccount=1\r\n[account0]\r\nType=IMAP\r\n") + c.keys);
        EXPECT_EQ(c.auth, instance.accounts[0].auth);
        EXPECT_EQ(c.provider, instance.accounts[0].oauth.provider);
        EXPECT_STREQ("Click to sign in", instance.signInText);
    }
}

TEST_F(Configuration, AccountCountsAsWritten) {
    Read("[common]\r\nDebug=1\r\nNbAccount=0\r\n[account0]\r\nType=IMAP\r\n");
    EXPECT_EQ(0, instance.accountCount);
    EXPECT_EQ(nullptr, instance.accounts);
    EXPECT_EQ("----------------------------\r\nNbAccounts:0\r\nDelay:180 seconds\r\nLink:\r\n", Log());

    Read("[common]\r\nNbAccount=-3\r\n");
    EXPECT_EQ(-3, instance.accountCount);
    EXPECT_EQ(nullptr, instance.accounts);

    Read("[common]\r\nNbAccount=2\r\n[account0]\r\nType=IMAP\r\nAddress=a\r\n");
    ASSERT_EQ(2, instance.accountCount);
    EXPECT_EQ(kAccountImap, instance.accounts[0].type);
    EXPECT_EQ(kAccountNone, instance.accounts[1].type);
    EXPECT_STREQ("", instance.accounts[1].address);
    EXPECT_EQ(143, instance.accounts[1].port);
}

// Values past their bounds take the nearest one; the dump shows what was
// written, and what is used where that differs.
TEST_F(Configuration, AccountCountAndDelayWithinTheirBounds) {
    struct Case {
        const char* nbAccount;
        const char* delaySecond;
        int32_t accounts;
        int32_t delay;
        const char* dumped;  // the dump's header lines after the hyphens
    };
    const Case cases[] = {
        {"100", "10", 100, 10, "NbAccounts:100\r\nDelay:10 seconds\r\n"},
        {"101", "86400", 100, 86400, "NbAccounts:101\r\nDelay:86400 seconds\r\n"},
        {"20000", "0", 100, 10, "NbAccounts:20000\r\nDelay:0 seconds (10 used)\r\n"},
        {"2147483647", "9", 100, 10, "NbAccounts:2147483647\r\nDelay:9 seconds (10 used)\r\n"},
        {"3", "-5", 3, 10, "NbAccounts:3\r\nDelay:-5 seconds (10 used)\r\n"},
        {"1", "three minutes", 1, 10, "NbAccounts:1\r\nDelay:0 seconds (10 used)\r\n"},
        {"1", "86401", 1, 86400, "NbAccounts:1\r\nDelay:86401 seconds (86400 used)\r\n"},
        {"1", "4294968", 1, 86400, "NbAccounts:1\r\nDelay:4294968 seconds (86400 used)\r\n"},
        {"1", "-2147483648", 1, 10, "NbAccounts:1\r\nDelay:-2147483648 seconds (10 used)\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.nbAccount) + " " + c.delaySecond);
        folder.Write(std::string(kRelative) + "Debug.log", "");
        Read(std::string("[common]\r\nDebug=1\r\nNbAccount=") + c.nbAccount + "\r\nDelaySecond=" +
             c.delaySecond + "\r\n[account99]\r\nType=IMAP\r\n[account100]\r\nType=IMAP\r\n");
        EXPECT_EQ(c.accounts, instance.accountCount);
        EXPECT_EQ(c.delay, instance.delaySeconds);
        EXPECT_EQ(0u, Log().find(std::string("----------------------------\r\n") + c.dumped)) << Log();
        // The hundredth section is the last one read.
        EXPECT_EQ(c.accounts == 100, instance.accounts[c.accounts - 1].type == kAccountImap);
        EXPECT_EQ(std::string::npos, Log().find("Account 100 :"));
    }
}

TEST_F(Configuration, DbxFileLists) {
    std::string twelve;
    for (int j = 0; j < 12; ++j)
        twelve += "DbxFile" + std::to_string(j) + "=f" + std::to_string(j) + ".dbx\r\n";
    Read("[common]\r\nDebug=1\r\nNbAccount=4\r\n"
         "[account0]\r\nNbDbxFiles=12\r\n" + twelve +
         "[account1]\r\nNbDbxFiles=3\r\nDbxFile0=\r\nDbxFile1=b.dbx\r\n"
         "[account2]\r\nNbDbxFiles=2\r\nDbxFile0=a.dbx\r\n"
         "[account3]\r\nDbxFile1=b.dbx\r\n");
    ASSERT_EQ(4, instance.accountCount);
    EXPECT_EQ(10, instance.accounts[0].dbxCount);
    EXPECT_STREQ("f9.dbx", instance.accounts[0].dbxPaths[9]);
    EXPECT_EQ(0, instance.accounts[1].dbxCount);
    EXPECT_EQ(2, instance.accounts[2].dbxCount);
    EXPECT_STREQ("a.dbx", instance.accounts[2].dbxPaths[0]);
    EXPECT_STREQ("", instance.accounts[2].dbxPaths[1]);
    EXPECT_EQ(0, instance.accounts[3].dbxCount);

    const std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("  DbxFile9:f9.dbx\r\nAccount 1 :"));
    EXPECT_EQ(std::string::npos, log.find("DbxFile10"));
    EXPECT_EQ(std::string::npos, log.find("b.dbx"));
    EXPECT_NE(std::string::npos, log.find("  DbxFile0:a.dbx\r\n  DbxFile1:\r\nAccount 3 :"));
}

TEST_F(Configuration, OverLongValuesAreCutToTheirBuffers) {
    const std::string long600(600, 'x');
    Read("[common]\r\nDebug=1\r\nNbAccount=1\r\nLink=" + long600 + "\r\nstringFailed=" + long600 +
         "\r\nstringCheck=" + long600 +
         "\r\nstringHaveMsg=" + long600 + "\r\n[account0]\r\nType=" + long600 +
         "\r\nAddress=" + long600 + "\r\nPassword=" + long600 + "\r\nNbDbxFiles=1\r\nDbxFile0=" +
         long600 + "\r\n");
    EXPECT_EQ(std::string(259, 'x'), instance.link);
    EXPECT_EQ(std::string(255, 'x'), instance.checkText);
    EXPECT_EQ(std::string(255, 'x'), instance.manyMessagesTemplate);
    EXPECT_EQ(std::string(255, 'x'), instance.failedTemplate);
    EXPECT_EQ(kAccountNone, instance.accounts[0].type);
    EXPECT_EQ(std::string(259, 'x'), instance.accounts[0].address);
    EXPECT_EQ(std::string(259, 'x'), instance.accounts[0].password);
    EXPECT_EQ(std::string(515, 'x'), instance.accounts[0].dbxPaths[0]);
    EXPECT_NE(std::string::npos, Log().find("  Type:0 (" + std::string(19, 'x') + ")\r\n"));
}

TEST_F(Configuration, PathTooLongIsAMissingFileNeverACutOne) {
    // Root, relative folder and file name come to 260 characters: one too many.
    const std::string root = folder.Path();
    const std::string relative = std::string(260 - root.size() - 19 - 1, 'd') + "\\";
    folder.MakeFolder(relative);
    const std::string full = root + relative + "TidewellDocklet.ini";
    ASSERT_EQ(260u, full.size());
    // The name a cut would produce holds a configuration that must not be read.
    folder.Write(relative + "TidewellDocklet.in", "[common]\r\nDebug=1\r\nNbAccount=5\r\n");

    ReadConfigurationFile(&instance, root.c_str(), relative.c_str());
    EXPECT_FALSE(instance.debug);
    EXPECT_EQ(1, instance.accountCount);
    EXPECT_STREQ(
        (root + relative + "Debug.log").size() <= 259 ? (root + relative + "Debug.log").c_str() : "",
        instance.logPath);
}

}  // namespace
