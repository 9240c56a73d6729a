#pragma once
#include <cstddef>

#include "config/mail_account.h"

// Where and for what an OAuth2 account signs in.
struct OAuthEndpoints {
    char authorizeUrl[kOAuthTextSize]; // opened in the browser, query added to it
    char tokenUrl[kOAuthTextSize];     // where codes and refresh tokens are exchanged
    char scope[kOAuthTextSize];        // space-separated, as sent
    char redirectHost[16];             // "localhost" or "127.0.0.1", as the provider registers it
    char providerName[16];             // "microsoft", "google" or "custom", for the log
    const char* clientId;              // the account's OAuthClientId, or else the build's for the provider
    const char* clientSecret;          // the one that goes with it; "" for none. Never logged
};

// Fills out from the account's OAuth keys and the provider's defaults, the
// client from the build's when the account names none. False,
// with the reason in why[size], when the keys do not name a usable provider.
bool ResolveOAuthEndpoints(const MailAccount* account, OAuthEndpoints* out, char* why, size_t size);
