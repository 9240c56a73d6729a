#include "dovecot_fixture_win.h"

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "line_connection_win.h"
#include "plain_http_win.h"

namespace dovecot {
namespace {

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("Dovecot fixture: " + what);
}

void RequireInstance() {
    std::string config = Folder() + "dovecot.conf";
    if (GetFileAttributesA(config.c_str()) == INVALID_FILE_ATTRIBUTES)
        Fail("no instance in " + Folder() + ": does the test require the ctest fixture 'dovecot'?");
}

// Names become file names in the instance and user names on the wire.
void CheckName(const std::string& name) {
    bool valid = !name.empty() && name.size() <= 64 && std::isalnum(static_cast<unsigned char>(name[0]));
    for (char c : name)
        valid = valid && (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-');
    if (!valid)
        Fail("user name '" + name + "': use 1 to 64 letters, digits, '.', '_' or '-'");
}

std::string Maildir(const std::string& name) { return Folder() + "mail\\" + name + "\\"; }

std::string ExistingMaildir(const std::string& name) {
    CheckName(name);
    RequireInstance();
    std::string maildir = Maildir(name);
    if (GetFileAttributesA((maildir + "new").c_str()) == INVALID_FILE_ATTRIBUTES)
        Fail("no user '" + name + "': add it first");
    return maildir;
}

// Run by root, Dovecot reads and renames mail as the unprivileged dovecot
// user, while folders made under Wine belong to root with the umask's mode.
// Wine turns a DACL that grants everyone everything into mode 0777. (Run by a
// normal user, Dovecot is that user too, and the mode changes nothing.)
void MakeOpenFolder(const std::string& path) {
    if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        Fail("cannot create the folder " + path);
    PSECURITY_DESCRIPTOR everyone = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;GA;;;WD)", SDDL_REVISION_1,
                                                              &everyone, nullptr))
        Fail("cannot build a security descriptor");
    BOOL opened = SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, everyone);
    LocalFree(everyone);
    if (!opened)
        Fail("cannot open the folder " + path + " to everyone");
}

void WriteWholeFile(const std::string& path, const std::string& text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        Fail("cannot create " + path);
    DWORD written = 0;
    BOOL wrote = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    if (!wrote || written != text.size())
        Fail("cannot write " + path);
}

// Whole seconds, the resolution at which Dovecot compares file times.
const long long kFileTimeUnitsPerSecond = 10000000;
const long long kSecondsFrom1601To1970 = 11644473600LL;

long long Seconds(const FILETIME& time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<long long>(value.QuadPart / kFileTimeUnitsPerSecond);
}

long long NowSeconds() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return Seconds(now);
}

bool FileSeconds(const std::string& path, long long* seconds) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    *seconds = Seconds(data.ftLastWriteTime);
    return true;
}

void WaitPastSecond(long long second) {
    while (NowSeconds() <= second)
        Sleep(20);
}

std::string MessageDate() {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    SYSTEMTIME now;
    GetSystemTime(&now);
    char text[64];
    snprintf(text, sizeof text, "%s, %02u %s %u %02u:%02u:%02u +0000", kDays[now.wDayOfWeek],
             now.wDay, kMonths[now.wMonth - 1], now.wYear, now.wHour, now.wMinute, now.wSecond);
    return text;
}

// Maildir names must be unique across every writer of the folder: the script,
// other test processes, earlier calls of this one.
std::string UniqueBaseName() {
    static unsigned serial;
    LARGE_INTEGER tick;
    QueryPerformanceCounter(&tick);
    char name[96];
    snprintf(name, sizeof name, "%lld.P%luT%lldS%u", NowSeconds() - kSecondsFrom1601To1970,
             GetCurrentProcessId(), static_cast<long long>(tick.QuadPart), ++serial);
    return name;
}

// True when every file listed was removed; Dovecot may rename a file (new to
// cur, or to add a flag) between our listing and our delete.
bool RemoveFilesIn(const std::string& folder) {
    bool allRemoved = true;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return true;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !DeleteFileA((folder + found.cFileName).c_str()))
            allRemoved = false;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return allRemoved;
}

// A test message; IMAP wants CR LF between its lines, a maildir file LF.
std::string MessageText(const std::string& name, int i, int count, const std::string& base,
                        const std::string& date, const std::string& end) {
    return "From: Tidewell tests <sender@tidewell.test>" + end + "To: " + name + "@tidewell.test" +
           end + "Subject: Test message " + std::to_string(i) + end + "Date: " + date + end +
           "Message-ID: <" + base + "N" + std::to_string(i) + "@tidewell.test>" + end +
           "MIME-Version: 1.0" + end + "Content-Type: text/plain; charset=us-ascii" + end + end +
           "Test message " + std::to_string(i) + " of " + std::to_string(count) + "." + end;
}

// An IMAP quoted string (RFC 3501 section 4.3) of 7-bit text.
std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// The tagged line that ends the reply to the command `tag`.
std::string TaggedReply(LineConnection& imap, const std::string& tag) {
    for (;;) {
        std::string line = imap.ReadLine();
        if (line.compare(0, tag.size() + 1, tag + " ") == 0)
            return line;
    }
}

void ExpectOk(LineConnection& imap, const std::string& tag, const std::string& what) {
    std::string reply = TaggedReply(imap, tag);
    if (reply.compare(0, tag.size() + 4, tag + " OK ") != 0)
        Fail(what + ": " + reply);
}

// The user's password, from the passwd file AddUser wrote ("name:{PLAIN}password").
std::string PasswordOf(const std::string& name) {
    std::string line;
    HANDLE file = CreateFileA((Folder() + "users\\" + name).c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        char bytes[512];
        DWORD read = 0;
        if (ReadFile(file, bytes, sizeof bytes, &read, nullptr))
            line.assign(bytes, read);
        CloseHandle(file);
    }
    const std::string head = name + ":{PLAIN}";
    const size_t end = line.find('\n');
    if (line.compare(0, head.size(), head) != 0 || end == std::string::npos)
        Fail("no password for '" + name + "'");
    return line.substr(head.size(), end - head.size());
}

// Into the mailbox, made first when missing, through the user's own IMAP login.
void AppendOverImap(const std::string& name, const std::string& mailbox, int count, Flag flag,
                    const std::string& base) {
    LineConnection imap(ReadPorts().imap);
    imap.ReadLine();
    imap.Send("a LOGIN " + Quoted(name) + " " + Quoted(PasswordOf(name)));
    ExpectOk(imap, "a", "login of '" + name + "'");
    imap.Send("b CREATE " + Quoted(mailbox));
    std::string created = TaggedReply(imap, "b");
    if (created.compare(0, 5, "b OK ") != 0 && created.find("[ALREADYEXISTS]") == std::string::npos)
        Fail("cannot make the mailbox " + mailbox + ": " + created);
    const std::string date = MessageDate();
    for (int i = 1; i <= count; ++i) {
        // A literal that needs no go-ahead: Dovecot announces LITERAL+.
        const std::string text = MessageText(name, i, count, base, date, "\r\n");
        imap.Send("c APPEND " + Quoted(mailbox) + (flag == Flag::Seen ? " (\\Seen)" : " ()") +
                  " {" + std::to_string(text.size()) + "+}");
        imap.Send(text);
        ExpectOk(imap, "c", "cannot append to " + mailbox);
    }
    imap.Send("d LOGOUT");
    TaggedReply(imap, "d");
}

// Maildir flags stand in ASCII order.
std::string SortedFlags(std::string flags) {
    std::sort(flags.begin(), flags.end());
    flags.erase(std::unique(flags.begin(), flags.end()), flags.end());
    return flags;
}

// The INBOX's unread message files, as "new\\NAME" or "cur\\NAME".
std::vector<std::string> UnseenFiles(const std::string& maildir) {
    std::vector<std::string> files;
    for (const char* folder : {"new", "cur"}) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((maildir + folder + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            continue;
        do {
            const std::string file = found.cFileName;
            const size_t info = file.find(":2,");
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                (info == std::string::npos || file.find('S', info) == std::string::npos))
                files.push_back(std::string(folder) + "\\" + file);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return files;
}

std::string WindowsPath(std::string path) {
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return "Z:" + path;
}

// The stand-in's /control with `settings` as its form: the text it answered.
std::string Control(const std::string& settings) {
    HttpAnswer answer;
    std::string error;
    if (!PlainHttpRequest("127.0.0.1", ReadOAuthPorts().http, "POST", "/control?format=text",
                          settings, &answer, &error))
        Fail("the stand-in OAuth2 server did not answer: " + error);
    if (answer.status != 200)
        Fail("the stand-in OAuth2 server refused '" + settings + "': " + answer.body);
    return answer.body;
}

std::vector<std::string> ControlLines(const std::string& settings, const std::string& prefix) {
    std::vector<std::string> lines;
    std::istringstream text(Control(settings));
    for (std::string line; std::getline(text, line);)
        if (line.compare(0, prefix.size(), prefix) == 0)
            lines.push_back(line.substr(prefix.size()));
    return lines;
}

}  // namespace

std::string Folder() { return WindowsPath(TIDEWELL_DOVECOT_DIR "/"); }

Ports ReadPorts(Certificate served) {
    static const char* const kSections[] = {"dovecot", "other-name", "expired", "untrusted"};
    const char* section = kSections[static_cast<int>(served)];
    std::string ini = Folder() + "ports.ini";
    auto read = [&](const char* key) {
        return static_cast<int>(GetPrivateProfileIntA(section, key, 0, ini.c_str()));
    };
    Ports ports;
    ports.imap = read("ImapPort");
    ports.pop3 = read("Pop3Port");
    ports.imaps = read("ImapsPort");
    ports.pop3s = read("Pop3sPort");
    if (ports.imap <= 0 || ports.pop3 <= 0 || ports.imaps <= 0 || ports.pop3s <= 0)
        Fail("no ports in [" + std::string(section) + "] of " + ini +
             ": does the test require the ctest fixture 'dovecot'?");
    return ports;
}

std::string CaFile() { return Folder() + "tls\\ca.pem"; }

void AddUser(const std::string& name, const std::string& password) {
    CheckName(name);
    if (password.empty() || password.find_first_of(":\r\n") != std::string::npos)
        Fail("a password must not be empty nor hold ':' or line breaks");
    RequireInstance();
    // Dovecot looks at a user's file at most once a second and rereads it only
    // when its time stamp (in whole seconds) or size changed. So a new password
    // gets a time stamp of its own, and counts once the next second began.
    std::string file = Folder() + "users\\" + name;
    long long stamp = 0;
    bool replacing = FileSeconds(file, &stamp);
    if (replacing)
        WaitPastSecond(stamp);
    WriteWholeFile(file + ".new", name + ":{PLAIN}" + password + "\n");
    if (!MoveFileExA((file + ".new").c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING))
        Fail("cannot replace " + file);
    if (replacing && FileSeconds(file, &stamp))
        WaitPastSecond(stamp);

    std::string maildir = Maildir(name);
    MakeOpenFolder(maildir);
    for (const char* folder : {"cur", "new", "tmp"})
        MakeOpenFolder(maildir + folder);
}

void Deliver(const std::string& name, int count, Flag flag, const std::string& mailbox) {
    if (count < 0)
        Fail("cannot deliver a negative number of messages");
    std::string maildir = ExistingMaildir(name);
    std::string base = UniqueBaseName();
    if (!mailbox.empty()) {
        AppendOverImap(name, mailbox, count, flag, base);
        return;
    }
    std::string target = maildir + (flag == Flag::Seen ? "cur\\" : "new\\");
    const char* suffix = flag == Flag::Seen ? ":2,S" : "";
    std::string date = MessageDate();
    for (int i = 1; i <= count; ++i) {
        std::string file = base + "N" + std::to_string(i) + ".tidewell-win" + suffix;
        // Moved in whole, so Dovecot never reads a message half written.
        WriteWholeFile(maildir + "tmp\\" + file, MessageText(name, i, count, base, date, "\n"));
        if (!MoveFileA((maildir + "tmp\\" + file).c_str(), (target + file).c_str()))
            Fail("cannot move a message into " + target);
    }
}

void MarkSeen(const std::string& name, int count) {
    std::string maildir = ExistingMaildir(name);
    // Dovecot may move a file from new to cur meanwhile: look again then.
    for (int pass = 0; count > 0 && pass < 5; ++pass) {
        for (const std::string& file : UnseenFiles(maildir)) {
            std::string seen = file.substr(file.find('\\') + 1);
            const size_t info = seen.find(":2,");
            seen = info == std::string::npos
                       ? seen + ":2,S"
                       : seen.substr(0, info + 3) + SortedFlags(seen.substr(info + 3) + "S");
            if (MoveFileA((maildir + file).c_str(), (maildir + "cur\\" + seen).c_str()) &&
                --count == 0)
                return;
        }
    }
    if (count > 0)
        Fail("'" + name + "' has too few unread messages, or they kept moving");
}

void Kick(const std::string& name) {
    CheckName(name);
    Control("kick=" + name);
}

void Empty(const std::string& name) {
    std::string maildir = ExistingMaildir(name);
    for (int pass = 0; pass < 5; ++pass) {
        bool clean = RemoveFilesIn(maildir + "new\\");
        clean = RemoveFilesIn(maildir + "cur\\") && clean;
        clean = RemoveFilesIn(maildir + "tmp\\") && clean;
        if (clean)
            return;
    }
    Fail("the messages of '" + name + "' kept moving while being removed");
}

OAuthPorts ReadOAuthPorts() {
    std::string ini = Folder() + "ports.ini";
    OAuthPorts ports;
    ports.http = static_cast<int>(GetPrivateProfileIntA("oauth", "HttpPort", 0, ini.c_str()));
    ports.https = static_cast<int>(GetPrivateProfileIntA("oauth", "HttpsPort", 0, ini.c_str()));
    if (ports.http <= 0 || ports.https <= 0)
        Fail("no ports in [oauth] of " + ini +
             ": does the test require the ctest fixture 'dovecot'?");
    return ports;
}

std::string OAuthAuthorizeUrl() {
    return "http://127.0.0.1:" + std::to_string(ReadOAuthPorts().http) + "/authorize";
}

std::string OAuthTokenUrl() {
    return "https://127.0.0.1:" + std::to_string(ReadOAuthPorts().https) + "/token";
}

void ScriptOAuth(const std::string& settings) { Control(settings); }

int OAuthCounter(const std::string& name) {
    std::vector<std::string> counted = ControlLines("", "counter " + name + " ");
    return counted.empty() ? 0 : std::stoi(counted[0]);
}

std::vector<std::string> OAuthLog() { return ControlLines("", "log "); }

std::vector<std::string> OAuthSecrets() { return ControlLines("secrets=1", ""); }

OAuthTokens IssueOAuthTokens(const std::string& user) {
    CheckName(user);
    OAuthTokens tokens;
    std::string issued = Control("issue=" + user);
    std::istringstream text(issued);
    for (std::string line; std::getline(text, line);) {
        if (line.rfind("access_token ", 0) == 0)
            tokens.access = line.substr(13);
        else if (line.rfind("refresh_token ", 0) == 0)
            tokens.refresh = line.substr(14);
    }
    if (tokens.access.empty() || tokens.refresh.empty())
        Fail("the stand-in OAuth2 server issued no tokens: " + issued);
    return tokens;
}

void OAuthSignsIn(const std::string& name) {
    CheckName(name);
    RequireInstance();
    if (GetFileAttributesA((Maildir(name) + "new").c_str()) == INVALID_FILE_ATTRIBUTES) {
        // The password is never used: this user signs in with tokens only.
        LARGE_INTEGER tick;
        QueryPerformanceCounter(&tick);
        AddUser(name, "unused-" + std::to_string(tick.QuadPart));
    }
    ScriptOAuth("user=" + name);
}

std::string StandinBrowserPath() { return WindowsPath(TIDEWELL_STANDIN_BROWSER); }

std::string StandinBrowserLogPath() {
    std::string path = StandinBrowserPath();
    return path.substr(0, path.size() - 4) + ".log";
}

}  // namespace dovecot
