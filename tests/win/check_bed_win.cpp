#include "check_bed_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "check/seen_board_win.h"
#include "net/tls_credentials_win.h"
#include "text/bounded_text.h"

CheckBed::CheckBed() : instance() {
    instance.debug = true;
    instance.timeoutSeconds = 5;
    instance.stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CopyText(instance.logPath, sizeof instance.logPath, (folder.Path() + "Debug.log").c_str());
}

CheckBed::~CheckBed() {
    ReleaseItemTlsCredentials(&instance);
    FreeSeenBoard(instance.seen);
    CloseHandle(instance.stopEvent);
    free(instance.accounts);
}

MailAccount& CheckBed::AddAccount(int32_t type, int port, const char* login, const char* password) {
    instance.accounts = static_cast<MailAccount*>(
        realloc(instance.accounts, (instance.accountCount + 1) * sizeof(MailAccount)));
    MailAccount& account = instance.accounts[instance.accountCount++];
    account = MailAccount();
    account.type = type;
    account.port = port;
    CopyText(account.address, sizeof account.address, "127.0.0.1");
    CopyText(account.login, sizeof account.login, login);
    CopyText(account.password, sizeof account.password, password);
    return account;
}

void CheckBed::StartSeenBoard() {
    FreeSeenBoard(instance.seen);
    CopyText(instance.iniPath, sizeof instance.iniPath, (folder.Path() + "TidewellDocklet.ini").c_str());
    instance.seen = MakeSeenBoard(&instance);
}

void CheckBed::EndSeenStep(bool click, bool restart) {
    if (click) {
        EXPECT_TRUE(MarkAllSeen(instance.seen));
    }
    SaveSeenIfChanged(&instance);
    if (restart)
        StartSeenBoard();
}

std::string ConnectionLogLine(const std::string& text) {
    std::string line = "    ";
    for (char c : text)
        line += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return line + "\r\n";
}
