#pragma once
#include <cstddef>
#include <cstdint>

#include "config/mail_account.h"
#include "docklet/docklet_instance.h"

enum TokenOutcome {
    kTokenReady,         // token holds an access token to send
    kTokenSignInNeeded,  // nothing usable is kept: the account now waits for its user
    kTokenFailed,        // the provider could not be asked; the reason is in the log
    kTokenStopped,       // the item is going away
};

// The access token of the OAuth2 account at index: the one kept in memory
// while it lives, else a new one from the token endpoint for the refresh
// token kept in the store (a rotated refresh token replaces it there). Sets
// *refreshed when the token has just come from the endpoint. Runs on a check
// worker; every wait is the connection's, bounded and ended by the stop event.
TokenOutcome AcquireAccessToken(const DockletInstance* instance, int32_t index, const MailAccount* account,
                                char* token, size_t size, bool* refreshed);
