#pragma once
#include <cstddef>

#include "docklet/docklet_instance.h"
#include "signin/token_file.h"

// The refresh token of an account signed in with OAuth2, kept between runs in
// the docklet folder (beside the INI file) as TidewellDocklet.account<N>.token
// for [accountN]: sealed by Windows for the current user (DPAPI), bound to the
// account and endpoints it was issued for. The token never reaches the log;
// each function says why it failed in why[whySize] for the caller to log.
// Called on a check worker; blocks on the file only.

enum TokenLoad {
    kTokenLoaded,        // token holds the refresh token
    kTokenNone,          // no file: the account has not signed in
    kTokenUnreadable,    // a file that cannot be read, too large, not a token file,
                         // refused by Windows, or changed since it was written
    kTokenOtherBinding,  // kept for another Address, Login, client or endpoints
};

// Reads account N's refresh token into token[size] (empty unless loaded).
TokenLoad LoadRefreshToken(const DockletInstance* instance, int accountIndex, const TokenBinding* binding,
                           char* token, size_t size, char* why, size_t whySize);

// Keeps token for account N, replacing any kept before in one step: a
// failure leaves the file as it was.
bool SaveRefreshToken(const DockletInstance* instance, int accountIndex, const TokenBinding* binding,
                      const char* token, char* why, size_t whySize);

// Deletes account N's file; true when none is left.
bool ForgetRefreshToken(const DockletInstance* instance, int accountIndex, char* why, size_t whySize);
