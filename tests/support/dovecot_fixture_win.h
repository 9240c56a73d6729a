#pragma once
// The private Dovecot that the ctest fixture "dovecot" runs for the tests
// (scripts/dovecot.sh start). Tests under Wine make users and mail by writing
// the instance's files directly; Dovecot sees them at the next login.
// Every function throws std::runtime_error when it cannot do its job.
//
// Beside it runs a stand-in OAuth2 authorization server
// (tests/support/oauth_server.py): it approves every sign-in of the client
// kOAuthClientId to a loopback address and issues tokens for the login_hint's
// user, whose tokens Dovecot then takes with XOAUTH2 and OAUTHBEARER. Tests
// script other behaviour with ScriptOAuth.
#include <string>
#include <vector>

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

// Puts `count` small messages into the user's INBOX, unread or already read;
// or, given a mailbox, into that mailbox, named as IMAP names it (modified
// UTF-7, '.' between levels: "Archive.2024", "Entw&APw-rfe"), which is made
// when missing. Those go through Dovecot's IMAP as a mail program's would:
// Windows file names cannot hold every character a mailbox name can.
void Deliver(const std::string& name, int count, Flag flag = Flag::Unseen,
             const std::string& mailbox = "");

// Marks `count` unread messages of the user's INBOX read, as another mail
// program would: their files get the S flag.
void MarkSeen(const std::string& name, int count);

// Ends every IMAP and POP3 session of the user on the instance, as a server
// that drops its connections does.
void Kick(const std::string& name);

// Removes every message of the user's INBOX; other mailboxes keep theirs.
void Empty(const std::string& name);

struct OAuthPorts {
    int http = 0;   // plain: /authorize, /introspect, /control
    int https = 0;  // the Good certificate: /token
};

const char kOAuthClientId[] = "tidewell-test-client";

OAuthPorts ReadOAuthPorts();

// The stand-in's endpoints as an account's OAuthAuthorizeUrl and OAuthTokenUrl give them.
std::string OAuthAuthorizeUrl();
std::string OAuthTokenUrl();

// Changes the stand-in's behaviour until the next change or reset, e.g.
// "authorize=deny", "token=slow&slow_seconds=30", "rotation=off", "revoke=1",
// "introspection=reject", "expires_in=60", "client_secret=S", "reset=1".
// Settings: authorize (approve, deny, wrong_state, no_redirect), token (ok,
// slow, silent, chunked, error500), slow_seconds, expires_in, rotation (on,
// off), introspection (ok, reject), client_id, client_secret, user (issue
// tokens for this user whatever login_hint says), access_token_size,
// id_token (email, preferred_username, none, garbled: the ID token of a grant
// whose scope holds openid), id_token_email (the address it names; empty: the
// grant's user).
void ScriptOAuth(const std::string& settings);

// How often the stand-in counted `name` since its last reset: authorize,
// token, grant_authorization_code, grant_refresh_token, issued,
// invalid_grant, invalid_client, introspect, introspect_active, ...
int OAuthCounter(const std::string& name);

// The stand-in's log since its last reset, one line per request, naming
// codes and tokens by serial (C1, A1, R1), e.g.
// "token grant=refresh_token refresh=R1 client_secret=no ok access=A2 refresh=R2".
std::vector<std::string> OAuthLog();

// Every code and token the stand-in issued since its last reset, as values.
std::vector<std::string> OAuthSecrets();

struct OAuthTokens {
    std::string access;
    std::string refresh;
};

// Tokens for the user as a sign-in would bring them, without a browser.
OAuthTokens IssueOAuthTokens(const std::string& user);

// Makes `name` the person who signs in at the stand-in, whatever login_hint
// says, and gives the user an empty INBOX the first time.
void OAuthSignsIn(const std::string& name);

// The stand-in browser (Windows path), for an account's OAuthBrowser as
// "\"PATH\" %s". It appends what it saw to StandinBrowserLogPath().
std::string StandinBrowserPath();
std::string StandinBrowserLogPath();

}  // namespace dovecot
