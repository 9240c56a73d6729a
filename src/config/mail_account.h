#pragma once
#include <cstdint>

#include "config/certificate_fingerprint.h"
#include "config/oauth_settings.h"

enum AccountType : int32_t {
    kAccountNone = 0,  // read and dumped, never checked
    kAccountPop = 1,
    kAccountImap = 2,
};

const int kAccountTextSize = 260;
const int kMaxDbxFiles = 10;
const int kDbxPathSize = 516;
const int kSecurityTextSize = 64;
// Room for the Base64 of a DPAPI blob holding the longest password.
const int kProtectedPasswordSize = 1024;
// Written before the Base64 of a protected password in the INI file.
const char kProtectedPrefix[] = "dpapi:";
// Room for a fingerprint written with every separator and more; a longer text
// fills it and is refused rather than read cut.
const int kFingerprintTextSize = 200;

// How the connection to the server is protected.
enum AccountSecurity : int32_t {
    kSecurityNone = 0,      // plain TCP, as without the key
    kSecurityTls = 1,       // TLS from the first byte (IMAPS, POP3S)
    kSecurityStartTls = 2,  // plain greeting, then STARTTLS (IMAP) or STLS (POP3)
    kSecurityUnknown = 3,   // any other value: the check fails without connecting
};

// Whether one certificate alone is accepted for the account.
enum CertificatePin : int32_t {
    kPinNone = 0,        // no CertificateFingerprint: certificates are judged as usual
    kPinSet = 1,         // only the certificate whose SHA-256 is pinnedDigest
    kPinUnreadable = 2,  // a text that is no fingerprint: the check fails without connecting
};

// One configured account, filled from its [account%d] section.
struct MailAccount {
    int32_t type;                            // AccountType
    char typeText[20];                       // Type as written, for the log
    char address[kAccountTextSize];          // server host name or dotted IPv4 address
    char login[kAccountTextSize];            // user name sent to the server
    char password[kAccountTextSize];         // sent as written
    char registryPath[kAccountTextSize];     // registry value with an unread count, or empty
    int32_t port;                            // TCP port, 1 to 65535; 0 when Port names none
    char portText[16];                       // Port as written (empty: the default), for the log
    int32_t dbxCount;                        // valid entries of dbxPaths, 0 to kMaxDbxFiles
    char dbxPaths[kMaxDbxFiles][kDbxPathSize];  // local DBX mail folder files
    int32_t security;                        // AccountSecurity
    char securityText[kSecurityTextSize];    // the Security value as written, for its error line
    bool acceptAnyCertificate;               // VerifyCertificate=0: the certificate is not checked
    char verifyText[8];                      // VerifyCertificate as written, for the start-up dump
    char caFile[kAccountTextSize];           // full path of the CAFile certificate, or empty
    char protectedPassword[kProtectedPasswordSize];  // Base64 after "dpapi:" in Password, or empty
    bool maskPassword;                       // Debug.log shows ******** for the password
    int32_t pin;                             // CertificatePin
    unsigned char pinnedDigest[kSha256Size];  // the pinned certificate's SHA-256 when kPinSet
    char fingerprintText[kFingerprintTextSize];  // CertificateFingerprint as written
    int32_t auth;                            // AccountAuth
    char authText[16];                       // Auth as written, for the log
    OAuthSettings oauth;                     // the OAuth2 keys, read whatever Auth says
    bool idle;                               // Idle=1: the connection waits in IMAP IDLE between counts
    char folder[kAccountTextSize];           // IMAP mailbox as written; empty: INBOX
    bool folderUtf8;                         // folder is UTF-8 (a UTF-8 file), else in the ANSI code page
    bool countNew;                           // CountNew=1: only what came since the last click
    char countNewText[8];                    // CountNew as written, for the start-up dump
};
