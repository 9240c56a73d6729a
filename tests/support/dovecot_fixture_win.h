#pragma once
// The private Dovecot that the ctest fixture "dovecot" runs for the tests
// (scripts/dovecot.sh start). Tests under Wine make users and mail by writing
// the instance's files directly; Dovecot sees them at the next login.
// Every function throws std::runtime_error when it cannot do its job.
#include <string>

namespace dovecot {

struct Ports {
    int imap = 0;   // in clear, STARTTLS offered
    int pop3 = 0;   // in clear, STLS offered
    int imaps = 0;  // TLS from the first byte
    int pop3s = 0;
};

// The certificate a set of ports serves. Every set serves the same users and
// mail; only Good verifies against the test CA for 127.0.0.1 and localhost.
enum class Certificate {
    Good,       // for 127.0.0.1 and localhost, signed by the test CA
    OtherName,  // for mail.example.com only
    Expired,    // valid in 2020 only
    Untrusted,  // signed by a CA no one trusts, sent with that CA
};

enum class Flag { Unseen, Seen };

// The instance's folder as Windows sees it, ending with a backslash.
std::string Folder();

// The ports the instance listens on, on 127.0.0.1, for the certificate given.
Ports ReadPorts(Certificate served = Certificate::Good);

// The test CA's certificate (PEM), made afresh when the instance started.
std::string CaFile();

// Adds a user with an empty INBOX, or gives an existing user a new password
// (its mail stays). Names: letters, digits, '.', '_' and '-'. Replacing a
// password takes up to two seconds: Dovecot looks at a user's file at most
// once a second.
void AddUser(const std::string& name, const std::string& password);

// Puts `count` small messages into the user's INBOX, unread or already read.
void Deliver(const std::string& name, int count, Flag flag = Flag::Unseen);

// Removes every message of the user.
void Empty(const std::string& name);

}  // namespace dovecot
