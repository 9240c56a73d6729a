#pragma once
// The docklet's dialogues with a mail server, over a plain Linux socket and
// nothing else: the least time the server allows one account check to take.
#include <string>

struct MailAccount {
    std::string login;
    std::string password;
};

// Each asks one account on 127.0.0.1:port as the docklet does, waiting for
// every whole reply before the next command. false (with a reason) when the
// server refuses, closes, or keeps a reply back longer than a few seconds.
bool CheckImapAccount(int port, const MailAccount& account, std::string* error);
bool CheckPop3Account(int port, const MailAccount& account, std::string* error);
