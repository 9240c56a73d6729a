#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "docklet/docklet_instance.h"
#include "signin/id_token.h"

// What an item knows of its OAuth2 accounts' sign-in, shared by its check
// workers and its sign-in worker: which accounts wait for their user, and the
// access tokens in memory (never on disk) until shortly before they expire.
// The refresh tokens live in the token store, not here.

// One account's side of the board; only OAuth2 accounts ever use theirs.
struct AccountSignIn {
    bool waiting;        // no usable token: a click signs in
    bool unproven;       // its tokens come from a sign-in whose token no server has taken yet
    char* accessToken;   // owned, kMaxTokenSize bytes, or null while none is kept
    DWORD obtainedTick;  // GetTickCount when the token came
    DWORD lifetimeMs;    // what the provider gave it, in milliseconds
    char signedInElsewhere[kSignedInNameSize];  // who signed in, when not Login: the account
                                                // fails until the item is made anew; else empty
};

struct SignInBoard {
    CRITICAL_SECTION lock;  // guards the accounts' fields
    // Held by whoever reads, uses and replaces an account's refresh token, so
    // that two checks never spend one rotating token twice.
    HANDLE tokenMutex;
    int32_t count;
    AccountSignIn* accounts;
    HANDLE worker;  // the sign-in under way, or null: touched on the host's thread only
    // Set (auto-reset) by a click while the sign-in waits for its user: the
    // sign-in worker opens its page again, so the host's thread never waits for a browser.
    HANDLE reopenEvent;
};

// Null when no account of the instance signs in with OAuth2, or without memory.
SignInBoard* MakeSignInBoard(const DockletInstance* instance);
// Wipes the tokens kept in memory; the sign-in worker must have ended.
void FreeSignInBoard(SignInBoard* board);

bool AnyAccountWaiting(SignInBoard* board);
// The first account that waits for its user, or -1.
int32_t FirstWaitingAccount(SignInBoard* board);
bool AccountWaiting(SignInBoard* board, int32_t account);
void SetAccountWaiting(SignInBoard* board, int32_t account, bool waiting);

// Copies the account's access token into token[size] when one is kept that
// lives at least another minute.
bool TakeAccessToken(SignInBoard* board, int32_t account, char* token, size_t size);
void KeepAccessToken(SignInBoard* board, int32_t account, const char* token, uint32_t lifetimeSeconds);
void ForgetAccessToken(SignInBoard* board, int32_t account);

// Whether the account's tokens still wait for a server to take one since its
// last sign-in in the browser.
bool TokenUnproven(SignInBoard* board, int32_t account);
void SetTokenUnproven(SignInBoard* board, int32_t account, bool unproven);

// Marks the account as signed in by someone other than its Login: no token
// of it is kept or sent, and it no longer waits for its user.
void KeepSignedInElsewhere(SignInBoard* board, int32_t account, const char* who);
// Copies who signed in into who[size] when it was not the account's Login.
bool SignedInElsewhere(SignInBoard* board, int32_t account, char* who, size_t size);
