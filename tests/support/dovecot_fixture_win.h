#pragma once
// The private Dovecot that the ctest fixture "dovecot" runs for the tests
// (scripts/dovecot.sh start). Tests under Wine make users and mail by writing
// the instance's files directly; Dovecot sees them at the next login.
// Every function throws std::runtime_error when it cannot do its job.
#include <string>

namespace dovecot {

struct Ports {
    int imap = 0;
    int pop3 = 0;
};

enum class Flag { Unseen, Seen };

// The instance's folder as Windows sees it, ending with a backslash.
std::string Folder();

// The ports the instance listens on, on 127.0.0.1.
Ports ReadPorts();

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
