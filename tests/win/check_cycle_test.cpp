// Whole check cycles over several accounts, with the labels they show.
#include "scripted_server_win.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "check_bed_win.h"
#include "check/check_cycle_win.h"
#include "check/shown_total_win.h"
#include "config/profile_reader_win.h"
#include "config/read_configuration.h"
#include "docklet/replace_file_win.h"
#include "secrets/password_write_back_win.h"
#include "secrets/protected_password_win.h"
#include "signin/random_and_hash_win.h"
#include "recording_host_win.h"
#include "text/bounded_text.h"

namespace {

using Labels = std::vector<std::string>;

// An IMAP server whose search finds the given messages ("" for none), for
// as many checks as asked.
std::unique_ptr<ScriptedServer> ServerFinding(const std::string& found, size_t checks = 1) {
    const std::vector<ServerStep> steps = {Send("* OK ready\r\n"), ReadLine(), Send("1 OK\r\n"), ReadLine(),
                                           Send("2 OK\r\n"), ReadLine(), Send("* SEARCH" + found + "\r\n3 OK\r\n"),
                                           ReadLine(), Send("4 OK\r\n"), CloseConnection()};
    return std::unique_ptr<ScriptedServer>(new ScriptedServer(Scripts{std::vector<std::vector<ServerStep>>(checks, steps)}));
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

std::unique_ptr<ScriptedServer> RefusingServer() {
    return std::unique_ptr<ScriptedServer>(new ScriptedServer({Send("* BYE go away\r\n")}));
}

// An item started afresh on the folder's TidewellDocklet.ini.
void Restart(CheckBed* bed) {
    free(bed->instance.accounts);
    CloseHandle(bed->instance.stopEvent);
    bed->instance = DockletInstance{};
    ReadConfiguration(&bed->instance, bed->folder.Path().c_str(), "", &kWindowsProfileReader);
    bed->instance.stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
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
    CheckAllAccounts(&bed.instance, kRecentCounts);
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
    CheckAllAccounts(&bed.instance, kRecentCounts);
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
    CheckAllAccounts(&bed.instance, kRecentCounts);
    EXPECT_EQ((Labels{"Checking", "%d message"}), RecordingHost::Labels());

    RecordingHost::Reset();
    auto two = ServerFinding(" 4 5");
    bed.instance.accounts[0].port = two->Port();
    CheckAllAccounts(&bed.instance, kRecentCounts);
    EXPECT_EQ((Labels{"Checking", "2 new"}), RecordingHost::Labels());
}

// Only a total above the one before asks for the sound (null: the server
// refuses); an account that failed and answers again with the mail it had
// is no news. A file that is not there is a reason line, and the check
// counts on as it would without it.
TEST_F(CheckCycle, AMissingSoundFileIsAReasonLineOnARise) {
    const std::string path = bed.folder.Path() + "chime.wav";
    bed.instance.sound = kSoundFile;
    CopyText(bed.instance.soundPath, kPathSize, path.c_str());
    struct Case {
        const char* found;
        const char* label;
        bool asks;
    } const cases[] = {{" 1 2", "2 new", true}, {" 1 2", "2 new", false}, {" 1", "One", false},
                       {" 1 2 3", "3 new", true}, {"", "None", false}, {" 9", "One", true},
                       {nullptr, "None", false}, {" 9", "One", false}, {" 9 10", "2 new", true}};
    bed.AddAccount(kAccountImap, 1);
    bed.instance.shownTotal = MakeShownTotal(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        RecordingHost::Reset();
        bed.folder.Write("Debug.log", "");
        auto server = c.found ? ServerFinding(c.found) : RefusingServer();
        bed.instance.accounts[0].port = server->Port();
        CheckAllAccounts(&bed.instance, kRecentCounts);
        EXPECT_EQ((Labels{"Checking", c.label}), RecordingHost::Labels());
        EXPECT_EQ(c.asks ? 1u : 0u, Count("  Sound: " + path + " cannot be found (Windows error 2: ")) << bed.Log();
        EXPECT_EQ(c.found ? 0u : 1u, Count("Failed")) << bed.Log();
    }
    FreeShownTotal(bed.instance.shownTotal);
    bed.instance.shownTotal = nullptr;
}

TEST_F(CheckCycle, EveryAccountFailingLooksLikeNoMail) {
    auto first = RefusingServer();
    auto second = RefusingServer();
    bed.AddAccount(kAccountImap, first->Port());
    bed.AddAccount(kAccountImap, second->Port());
    CheckAllAccounts(&bed.instance, kRecentCounts);
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
        CheckAllAccounts(&local.instance, kRecentCounts);
        EXPECT_EQ((Labels{"", c.label}), RecordingHost::Labels());
    }
}

TEST_F(CheckCycle, EmptyTextsEmptyTheLabel) {
    bed.instance.checkText[0] = '\0';
    bed.instance.noMessageText[0] = '\0';
    bed.instance.manyMessagesTemplate[0] = '\0';
    CheckAllAccounts(&bed.instance, kRecentCounts);
    auto three = ServerFinding(" 1 2 3");
    bed.AddAccount(kAccountImap, three->Port());
    CheckAllAccounts(&bed.instance, kRecentCounts);
    EXPECT_EQ((Labels{"", "", "", ""}), RecordingHost::Labels());
}

TEST_F(CheckCycle, AStoppedCycleLeavesTheItemAlone) {
    auto three = ServerFinding(" 1 2 3");
    bed.AddAccount(kAccountImap, three->Port());
    SetEvent(bed.instance.stopEvent);
    CheckAllAccounts(&bed.instance, kRecentCounts);
    EXPECT_EQ((Labels{"Checking"}), RecordingHost::Labels());
    EXPECT_EQ("<missing>", bed.Log());  // not even a line
}

// Changes the Base64 character this far from the end of the text.
void Flip(char* text, size_t fromEnd) {
    char* c = text + strlen(text) - fromEnd;
    *c = *c == 'A' ? 'B' : 'A';
}

// A password protected for one account, then used as written, or after
// a change of its blob or of what it is bound to.
TEST_F(CheckCycle, AProtectedPasswordIsUnprotectedOnlyForItsAccount) {
    struct Case {
        const char* name;
        void (*change)(MailAccount*);
        const char* reason;  // empty: the check counts
    };
    const Case cases[] = {
        {"as protected", [](MailAccount*) {}, ""},
        {"a byte of its signature changed", [](MailAccount* a) { Flip(a->protectedPassword, 6); },
         "Error: the protected Password cannot be unprotected: "},
        {"a byte of its cipher text changed", [](MailAccount* a) { Flip(a->protectedPassword, 40); },
         "Error: the protected Password cannot be unprotected: "},
        {"blob cut", [](MailAccount* a) { a->protectedPassword[60] = '\0'; },
         "Error: the protected Password cannot be unprotected: "},
        {"another login", [](MailAccount* a) { CopyText(a->login, kAccountTextSize, "you"); },
         "Error: the protected Password cannot be unprotected: "},
        {"another address", [](MailAccount* a) { CopyText(a->address, kAccountTextSize, "127.000.000.001"); },
         "Error: the protected Password cannot be unprotected: "},
        {"no Base64", [](MailAccount* a) { CopyText(a->protectedPassword, kProtectedPasswordSize, "!!"); },
         "Error: the protected Password is no Base64 after dpapi:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CheckBed local;
        auto server = ServerFinding(" 1 2 3");
        CopyText(local.instance.manyMessagesTemplate, kLabelSize, "%d");
        MailAccount& account = local.AddAccount(kAccountImap, server->Port(), "me", "");
        char text[kProtectedPasswordSize + 8];
        DWORD error = 0;
        ASSERT_TRUE(ProtectPassword(&account, "s3cret!", text, sizeof text, &error)) << error;
        ASSERT_EQ(0, strncmp(text, "dpapi:", 6));
        CopyText(account.protectedPassword, sizeof account.protectedPassword, text + 6);
        account.maskPassword = true;
        c.change(&account);
        RecordingHost::Reset();
        CheckAllAccounts(&local.instance, kRecentCounts);
        const std::string log = local.Log();
        EXPECT_EQ(std::string::npos, log.find("s3cret")) << log;
        if (c.reason[0] == '\0') {
            EXPECT_EQ((Labels{"", "3"}), RecordingHost::Labels());
            EXPECT_EQ(0u, server->Received().find("1 LOGIN me s3cret!\r\n"));
            EXPECT_NE(std::string::npos, log.find(ConnectionLogLine("1 LOGIN me ********\r\n")));
            continue;
        }
        EXPECT_EQ(0, server->Connections()) << "nothing goes to the server";
        EXPECT_NE(std::string::npos, log.find("    " + std::string(c.reason))) << log;
        EXPECT_NE(std::string::npos, log.find("    Failed !\r\n"));
    }
}

// The other secrets Windows' crypto provider makes: a sign-in's PKCE texts,
// first those of RFC 7636 appendix B, then fresh ones.
TEST(SignInSecrets, PkceTextsFromTheCryptoProvider) {
    const unsigned char octets[kPkceBytes] = {116, 24,  223, 180, 151, 153, 224, 37, 79, 250, 96,
                                              125, 216, 173, 187, 186, 22,  212, 37, 77, 105, 214,
                                              191, 240, 91,  88,  5,   88,  83,  132, 141, 121};
    char verifier[kPkceTextSize], challenge[kPkceTextSize];
    EncodePkceText(octets, verifier);
    EXPECT_STREQ("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk", verifier);
    unsigned char digest[kSha256Size];
    unsigned long error = 1;
    ASSERT_TRUE(Sha256(verifier, strlen(verifier), digest, &error)) << error;
    EncodePkceText(digest, challenge);
    EXPECT_STREQ("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM", challenge);

    Pkce first, second;
    ASSERT_TRUE(NewPkce(&first, &error)) << error;
    ASSERT_TRUE(NewPkce(&second, &error)) << error;
    EXPECT_EQ(43u, strlen(first.verifier));
    EXPECT_EQ(43u, strlen(first.state));
    ASSERT_TRUE(Sha256(first.verifier, 43, digest, &error));
    EncodePkceText(digest, challenge);
    EXPECT_STREQ(challenge, first.challenge);
    EXPECT_STRNE(first.verifier, first.state);
    EXPECT_STRNE(first.verifier, second.verifier);
}

// ProtectPasswords=1 at the first check: the file's plain passwords become
// protected ones, every other byte stays, and the next start checks with them.
TEST_F(CheckCycle, ProtectPasswordsWritesTheFileBackOnce) {
    enum Change { kNone, kReadOnly, kChangedSince };
    struct Case {
        const char* name;
        Change change;
        const char* logged;  // a line of the first check
    };
    const Case cases[] = {
        {"writable", kNone, "  Passwords protected in "},
        {"read-only", kReadOnly, "  Error: passwords not protected: read-only "},
        {"changed since the start", kChangedSince, "  Account 0: Password left as it is: changed in the file since "
                                                   "the start\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto first = ServerFinding(" 1", 2);
        auto again = ServerFinding(" 2");
        CheckBed local;
        const std::string head = "; mine\n\n[common]\r\nDebug=1\r\nProtectPasswords=1\r\nNbAccount=1\nstringOneMsg=One\n"
                                 "[account0]\r\nType=IMAP\r\nAddress=127.0.0.1\r\nPort=" +
                                 std::to_string(first->Port()) + "\r\nLogin=me\r\n  password = ";
        const std::string tail = " \r\n\r\n; end";
        local.folder.Write("TidewellDocklet.ini", head + "\"s3cret!\"" + tail);
        Restart(&local);
        const std::string path = local.folder.Path() + "TidewellDocklet.ini";
        if (c.change == kReadOnly)
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
        if (c.change == kChangedSince)
            local.folder.Write("TidewellDocklet.ini", head + "\"n3w!\"" + tail);
        const std::string before = local.folder.Read("TidewellDocklet.ini");
        RecordingHost::Reset();
        CheckAllAccounts(&local.instance, kRecentCounts);
        CheckAllAccounts(&local.instance, kRecentCounts);
        EXPECT_EQ((Labels{"", "One", "", "One"}), RecordingHost::Labels());
        EXPECT_EQ(1u, Occurrences(local.Log(), c.logged)) << local.Log();
        const std::string after = local.folder.Read("TidewellDocklet.ini");
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (c.change != kNone) {
            EXPECT_EQ(before, after);
        } else {
            ASSERT_EQ(0u, after.find(head + "dpapi:")) << after;
            EXPECT_EQ(after.size() - tail.size(), after.rfind(tail));
            // The next start reads the protected password and checks with it.
            const std::string port = "Port=" + std::to_string(first->Port());
            std::string next = after;
            next.replace(next.find(port), port.size(), "Port=" + std::to_string(again->Port()));
            local.folder.Write("TidewellDocklet.ini", next);
            Restart(&local);
            CheckAllAccounts(&local.instance, kRecentCounts);
            EXPECT_EQ(next, local.folder.Read("TidewellDocklet.ini"));
            EXPECT_EQ(0u, again->Received().find("1 LOGIN me s3cret!\r\n"));
        }
        EXPECT_EQ(std::string::npos, local.Log().find("s3cret")) << local.Log();
        EXPECT_EQ(c.change == kNone ? 3u : 2u, Occurrences(local.Log(), ConnectionLogLine("1 LOGIN me ********\r\n")));
    }
}

// How the user's editor stored the INI file.
enum FileForm { kAnsiFile, kUtf8File, kUtf16LeFile, kUtf16BeFile };

std::wstring Wide(const std::string& text, UINT codePage = CP_UTF8) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                    static_cast<int>(wide.size())));
    return wide;
}

std::string Narrow(const std::wstring& wide, UINT codePage = CP_UTF8) {
    std::string narrow(wide.size() * 4, '\0');
    narrow.resize(WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), &narrow[0],
                                      static_cast<int>(narrow.size()), nullptr, nullptr));
    return narrow;
}

// UTF-8 in Windows' code page, as the profile functions give a password.
std::string Ansi(const std::string& utf8) {
    return Narrow(Wide(utf8), CP_ACP);
}

// The text (UTF-8 here) as the file holds it.
std::string Stored(FileForm form, const std::string& text) {
    if (form == kAnsiFile)
        return Ansi(text);
    if (form == kUtf8File)
        return "\xEF\xBB\xBF" + text;
    std::string bytes = form == kUtf16LeFile ? "\xFF\xFE" : "\xFE\xFF";
    for (wchar_t c : Wide(text)) {
        const char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
        bytes += form == kUtf16LeFile ? std::string{low, high} : std::string{high, low};
    }
    return bytes;
}

// The file's text in UTF-8 again, with each protected value's Base64 taken
// out into blobs.
std::string Unstored(FileForm form, const std::string& bytes, std::vector<std::string>* blobs) {
    std::wstring wide = Wide(bytes.substr(form == kUtf8File ? 3 : 0), form == kAnsiFile ? CP_ACP : CP_UTF8);
    if (form == kUtf16LeFile || form == kUtf16BeFile) {
        wide.clear();
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            const unsigned char a = bytes[i], b = bytes[i + 1];
            wide += static_cast<wchar_t>(form == kUtf16LeFile ? a | b << 8 : a << 8 | b);
        }
    }
    std::string text = Narrow(wide);
    for (size_t at = text.find("dpapi:"); at != std::string::npos; at = text.find("dpapi:", at + 1)) {
        const size_t end = text.find_first_of("\r\n", at);
        blobs->push_back(text.substr(at + 6, end - at - 6));
        text.replace(at + 6, end - at - 6, "*");
    }
    return text;
}

// Wine 8 makes no symbolic link of a file for CreateSymbolicLink, and
// deleting one deletes its target; Linux's ln and rm do as asked, run by Wine
// in the folder as the Linux programs they are. True once name exists (or
// is gone) as wanted.
bool RunLinux(const TempFolder& folder, std::string command, const std::string& name, bool exists) {
    const std::string program = "Z:\\bin\\" + command.substr(0, command.find(' '));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.Path().c_str(),
                        &startup, &process))
        return false;
    // Wine gives no handle of a Linux process to wait on.
    if (process.hProcess)
        CloseHandle(process.hProcess);
    if (process.hThread)
        CloseHandle(process.hThread);
    for (int i = 0; i < 500 && folder.Exists(name) != exists; ++i)
        Sleep(10);
    return folder.Exists(name) == exists;
}

// ProtectPasswords=1 leaves no plain copy of a password in any file the
// INI's bytes live in, whatever the links to it, the copies of the key or
// the file's encoding.
TEST(PasswordWriteBack, LeavesNoPlainCopy) {
    enum Layout { kOneName, kSymbolicLink, kHardLink, kLinkToTwoNames };
    struct Case {
        const char* name;
        Layout layout;
        FileForm form;
        const char* copies;  // the account's other lines after its first Password
        std::vector<std::string> protectedValues;  // in file order
    };
    const char* const kOtherSections = "[account1]\r\nPassword=unused\r\n";
    const Case cases[] = {
        {"symbolic link", kSymbolicLink, kAnsiFile, "", {"s3cret"}},
        {"second hard link", kHardLink, kAnsiFile, "", {"s3cret"}},
        {"symbolic link to a file of two names", kLinkToTwoNames, kAnsiFile, "", {"s3cret"}},
        {"several Password lines",
         kOneName,
         kAnsiFile,
         "password = \"0ld one\"\r\nPassword=\r\nPassword\r\n[account1]\r\nPassword=unused\r\n[ACCOUNT0]\r\nPassword='older'\r\n",
         {"s3cret", "0ld one", "older"}},
        {"UTF-16 little endian", kOneName, kUtf16LeFile, "Password=d\xC3\xA9j\xC3\xA0\r\n", {"s3cr\xC3\xA9t", "d\xC3\xA9j\xC3\xA0"}},
        {"UTF-16 big endian through a link", kSymbolicLink, kUtf16BeFile, "", {"s3cr\xC3\xA9t"}},
        {"UTF-8 with its mark", kOneName, kUtf8File, "", {"s3cr\xC3\xA9t"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CheckBed bed;
        const std::string first = c.protectedValues[0];
        const std::string text = "; mine\r\n[common]\r\nDebug=1\r\nProtectPasswords=1\r\nNbAccount=1\r\n\r\n"
                                 "[account0]\r\nType=IMAP\r\nAddress=127.0.0.1\r\nLogin=me\r\nPassword=" +
                                 first + "\r\n" + c.copies + kOtherSections + "; end";
        const std::string ini = "TidewellDocklet.ini";
        const std::string bytesAt = c.layout == kOneName || c.layout == kHardLink ? ini : "target.ini";
        bed.folder.Write(bytesAt, Stored(c.form, text));
        std::vector<std::string> names = {ini};
        // Gone before its target, or the folder's removal misses it.
        struct LinkRemoval {
            const TempFolder& folder;
            std::string name;
            ~LinkRemoval() {
                if (!name.empty())
                    RunLinux(folder, "rm -f " + name, name, false);
            }
        } removal{bed.folder, ""};
        if (c.layout != kOneName && c.layout != kHardLink) {
            ASSERT_TRUE(RunLinux(bed.folder, "ln -s " + bytesAt + " " + ini, ini, true));
            removal.name = ini;
            names.push_back(bytesAt);
        }
        if (c.layout == kHardLink || c.layout == kLinkToTwoNames) {
            ASSERT_TRUE(CreateHardLinkA((bed.folder.Path() + "other.ini").c_str(),
                                        (bed.folder.Path() + bytesAt).c_str(), nullptr));
            names.push_back("other.ini");
        }
        Restart(&bed);
        ASSERT_STREQ(Ansi(first).c_str(), bed.instance.accounts[0].password);

        ProtectPasswordsInFile(&bed.instance);

        std::string expected = text;
        for (const std::string& value : c.protectedValues) {
            for (const char* quoted : {"'", "\"", ""}) {
                size_t at = expected.find(quoted + value + quoted);
                if (at != std::string::npos) {
                    expected.replace(at, value.size() + 2 * strlen(quoted), "dpapi:*");
                    break;
                }
            }
        }
        for (const std::string& name : names) {
            SCOPED_TRACE(name);
            std::vector<std::string> blobs;
            EXPECT_EQ(expected, Unstored(c.form, bed.folder.Read(name), &blobs));
            EXPECT_EQ(c.protectedValues.size(), blobs.size());
            // Each copy is protected for the account, with its own value.
            for (size_t i = 0; i < blobs.size() && i < c.protectedValues.size(); ++i) {
                MailAccount account = bed.instance.accounts[0];
                CopyText(account.protectedPassword, sizeof account.protectedPassword, blobs[i].c_str());
                char revealed[kAccountTextSize];
                EXPECT_TRUE(RevealPassword(&bed.instance, &account, revealed, sizeof revealed));
                EXPECT_EQ(Ansi(c.protectedValues[i]), revealed);
            }
        }
        const std::string log = bed.Log();
        // It says where the new bytes went.
        const std::string where = c.layout == kOneName       ? ""
                                  : c.layout == kSymbolicLink ? " (in " + bed.folder.Path() + bytesAt + ", where it leads)"
                                                              : " (written in place: the file has 2 names)";
        EXPECT_EQ(1u, Occurrences(log, "  Passwords protected in " + bed.folder.Path() + ini + where + ": " +
                                           std::to_string(c.protectedValues.size()) + "\r\n"))
            << log;
        for (const std::string& value : c.protectedValues)
            EXPECT_EQ(std::string::npos, log.find(Ansi(value))) << log;
        // The next start reads the protected password.
        Restart(&bed);
        EXPECT_STREQ("", bed.instance.accounts[0].password);
        EXPECT_NE('\0', bed.instance.accounts[0].protectedPassword[0]);
        // A symbolic link stays one: what its target holds, it shows.
        if (c.layout == kSymbolicLink || c.layout == kLinkToTwoNames) {
            bed.folder.Write(bytesAt, "through the link");
            EXPECT_EQ("through the link", bed.folder.Read(ini));
        }
    }
}

// An editor that saves the INI file, in place, each time it is asked.
struct Editor {
    const TempFolder* folder;
    HANDLE save;   // the edit asks for a save
    HANDLE saved;  // the writer has saved
    int saves;     // how many edits see a save happen meanwhile
    int edits;
    int written;   // saves made so far
    volatile bool quit;
};

DWORD WINAPI SaveWhenAsked(void* context) {
    Editor* editor = static_cast<Editor*>(context);
    while (WaitForSingleObject(editor->save, INFINITE) == WAIT_OBJECT_0 && !editor->quit) {
        ++editor->written;
        editor->folder->Write("TidewellDocklet.ini", "; save " + std::to_string(editor->written) +
                                                         "\r\n[account0]\r\nPassword=s3cret\r\n");
        SetEvent(editor->saved);
    }
    return 0;
}

// An editor saving the INI file between the write-back's reading and its
// writing: its save is never lost. The edit here has a real writer thread
// save the file while the edit works on the bytes read before.
TEST(PasswordWriteBack, AnEditorsSaveIsNeverLost) {
    struct Case {
        const char* name;
        bool secondName;
        int saves;
        RewriteOutcome outcome;
        int edits;
        std::string ends;  // the file at the end
    };
    const std::string original = "[account0]\r\nPassword=s3cret\r\n";
    const Case cases[] = {
        {"one save, one name", false, 1, kRewritten, 2, "; save 1\r\n" + original + "edited"},
        {"one save, two names", true, 1, kRewritten, 2, "; save 1\r\n" + original + "edited"},
        {"a save each time", false, 3, kRewriteKeptChanging, 3, "; save 3\r\n" + original},
        {"a save each time, two names", true, 3, kRewriteKeptChanging, 3, "; save 3\r\n" + original},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        folder.Write("TidewellDocklet.ini", original);
        const std::string path = folder.Path() + "TidewellDocklet.ini";
        if (c.secondName) {
            ASSERT_TRUE(CreateHardLinkA((folder.Path() + "other.ini").c_str(), path.c_str(), nullptr));
        }
        Editor editor = {&folder, CreateEventA(nullptr, FALSE, FALSE, nullptr),
                         CreateEventA(nullptr, FALSE, FALSE, nullptr), c.saves, 0, 0, false};
        HANDLE writer = CreateThread(nullptr, 0, SaveWhenAsked, &editor, 0, nullptr);
        const FileEdit edit = [](void* context, const FileSnapshot* file, char** edited, size_t* length) {
            Editor* e = static_cast<Editor*>(context);
            if (++e->edits <= e->saves) {
                SetEvent(e->save);
                WaitForSingleObject(e->saved, 5000);
            }
            const std::string bytes = std::string(file->bytes, file->length) + "edited";
            *edited = static_cast<char*>(malloc(bytes.size()));
            memcpy(*edited, bytes.data(), bytes.size());
            *length = bytes.size();
            return true;
        };
        HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        RewriteReport report;
        EXPECT_EQ(c.outcome, RewriteFile(path.c_str(), 4096, edit, &editor, stop, &report));
        editor.quit = true;
        SetEvent(editor.save);
        WaitForSingleObject(writer, 5000);
        EXPECT_EQ(c.edits, editor.edits);
        EXPECT_EQ(c.ends, folder.Read("TidewellDocklet.ini"));
        EXPECT_EQ(c.secondName, report.inPlace);
        if (c.secondName) {
            EXPECT_EQ(c.ends, folder.Read("other.ini"));
        }
        for (HANDLE handle : {writer, stop, editor.save, editor.saved})
            CloseHandle(handle);
    }
}

}  // namespace
