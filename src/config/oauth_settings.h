#pragma once
#include <cstdint>

// How an account proves who it is to its mail server.
enum AccountAuth : int32_t {
    kAuthPassword = 0,  // LOGIN, or USER and PASS, as without the key
    kAuthOAuth2 = 1,    // XOAUTH2 with an access token from the account's sign-in
    kAuthUnknown = 2,   // any other value: the check fails without connecting
};

// Whose endpoints and scope an OAuth2 account signs in with.
enum OAuthProvider : int32_t {
    kProviderFromAddress = 0,  // no OAuthProvider: judged from the account's Address
    kProviderMicrosoft = 1,
    kProviderGoogle = 2,
    kProviderCustom = 3,   // every endpoint and the scope come from the INI
    kProviderUnknown = 4,  // any other value: the check fails without connecting
};

// Room for a URL, a scope or a browser command line as the INI gives them.
const int kOAuthTextSize = 1024;
const int kOAuthNameSize = 260;

// The OAuth2 keys of one [accountN] section, as written (empty when absent).
struct OAuthSettings {
    int32_t provider;  // OAuthProvider
    char providerText[32];
    char clientId[kOAuthNameSize];
    char clientSecret[kOAuthNameSize];  // a secret: never written to the log
    char tenant[kOAuthNameSize];        // Microsoft only; empty: "common"
    char authorizeUrl[kOAuthTextSize];  // overrides the provider's when set
    char tokenUrl[kOAuthTextSize];
    char scope[kOAuthTextSize];
    char browser[kOAuthTextSize];  // command line with %s for the URL; empty: the default browser
};
