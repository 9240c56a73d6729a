#pragma once
#include <cstdint>

enum AccountType : int32_t {
    kAccountNone = 0,  // read and dumped, never checked
    kAccountPop = 1,
    kAccountImap = 2,
};

const int kAccountTextSize = 260;
const int kMaxDbxFiles = 10;
const int kDbxPathSize = 516;

// One configured account, filled from its [account%d] section.
struct MailAccount {
    int32_t type;                            // AccountType
    char typeText[20];                       // Type as written, for the log
    char address[kAccountTextSize];          // server host name or dotted IPv4 address
    char login[kAccountTextSize];            // user name sent to the server
    char password[kAccountTextSize];         // sent as written
    char registryPath[kAccountTextSize];     // registry value with an unread count, or empty
    int32_t port;                            // TCP port; only the low 16 bits are used
    int32_t dbxCount;                        // valid entries of dbxPaths, 0 to kMaxDbxFiles
    char dbxPaths[kMaxDbxFiles][kDbxPathSize];  // local DBX mail folder files
};
