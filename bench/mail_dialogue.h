#pragma once
// The docklet's dialogues with a mail server, over a plain Linux socket (and
// OpenSSL for TLS) and nothing else: the least time the server allows one
// account check to take.
#include <string>

struct MailAccount {
    std::string login;
    std::string password;
};

// What every connection of a run shares: nothing for a dialogue in clear; for
// TLS the verifying context, made once with its CA, as the docklet keeps one
// set of credentials for all the checks of an item.
struct MailTransport;

// In clear when ca_file is empty; else TLS from the first byte, trusting
// ca_file and checking that the certificate names 127.0.0.1. nullptr (with a
// reason) when the CA cannot be read. Freed by FreeMailTransport.
MailTransport* NewMailTransport(const std::string& ca_file, std::string* error);
void FreeMailTransport(MailTransport* transport);

// Each asks one account on 127.0.0.1:port as the docklet does, waiting for
// every whole reply before the next command. false (with a reason) when the
// server refuses, closes, keeps a reply back longer than a few seconds, or
// its certificate does not verify.
bool CheckImapAccount(MailTransport* transport, int port, const MailAccount& account, std::string* error);
bool CheckPop3Account(MailTransport* transport, int port, const MailAccount& account, std::string* error);
