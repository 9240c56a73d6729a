#pragma once
#include <cstddef>
#include <cstdint>

#include "config/mail_account.h"
#include "docklet/docklet_instance.h"
#include "mail/bearer_login.h"

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

// After a dialogue that sent the account's access token: a token the server
// took proves the last sign-in; one it refused is forgotten. Refused just
// after a refresh, the account waits for its user to sign in again, unless
// no token of its last sign-in in the browser was ever taken: then the check
// fails with the user= the token was sent for, as a new sign-in would only
// bring the same refusal. Runs on a check worker.
void SettleTokenUse(const DockletInstance* instance, int32_t index, const MailAccount* account, bool refreshed,
                    const BearerLogin* bearer);
