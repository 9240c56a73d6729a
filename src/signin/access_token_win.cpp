#include "signin/access_token_win.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "docklet/worker_wait_win.h"
#include "log/debug_log.h"
#include "net/https_post_win.h"
#include "signin/authorization_request.h"
#include "signin/oauth_provider.h"
#include "signin/sign_in_board_win.h"
#include "signin/token_limits.h"
#include "signin/token_reply.h"
#include "signin/token_store_win.h"
#include "text/bounded_text.h"

namespace {

// A token buffer wiped before it goes back to the heap.
struct SecretText {
    char* text = static_cast<char*>(calloc(1, kMaxTokenSize));
    SecretText() = default;
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    ~SecretText() {
        if (text)
            SecureZeroMemory(text, kMaxTokenSize);
        free(text);
    }
};

// Holds the board's token mutex for as long as it lives, once acquired.
class TokenTurn {
  public:
    TokenTurn(const DockletInstance* instance, SignInBoard* board)
        : board_(board), held_(WaitUnlessStopped(board->tokenMutex, instance->stopEvent, INFINITE) == kWaitSignalled) {}
    ~TokenTurn() {
        if (held_)
            ReleaseMutex(board_->tokenMutex);
    }
    TokenTurn(const TokenTurn&) = delete;
    TokenTurn& operator=(const TokenTurn&) = delete;
    bool Held() const { return held_; }

  private:
    SignInBoard* board_;
    bool held_;
};

TokenOutcome SignInNeeded(const DockletInstance* instance, int32_t index) {
    SetAccountWaiting(instance->signIn, index, true);
    if (instance->debug)
        WriteDebugLog(instance, "    Error: sign-in needed: click the item");
    return kTokenSignInNeeded;
}

// Fails the account whose sign-in was someone else's, before any token of it goes out.
TokenOutcome SignedInAsAnother(const DockletInstance* instance, const MailAccount* account, const char* who) {
    if (instance->debug) {
        char why[kSignedInNameSize * 2 + 100];
        FormSignedInElsewhere(who, account->login, why, sizeof why);
        WriteDebugLog(instance, "    Error: %s", why);
    }
    return kTokenFailed;
}

// Logs why the token endpoint gave no access token.
void LogRefusal(const DockletInstance* instance, int status, const TokenReply* reply) {
    if (!instance->debug)
        return;
    if (reply->error[0] != '\0')
        WriteDebugLog(instance, "    Error: token endpoint answered %d (%s%s%s)", status, reply->error,
                      reply->errorDescription[0] ? ": " : "", reply->errorDescription);
    else
        WriteDebugLog(instance, "    Error: token endpoint answered %d: %s", status, reply->why);
}

// Asks the token endpoint for an access token in exchange for the refresh
// token, and keeps what it gives.
TokenOutcome Refresh(const DockletInstance* instance, int32_t index, const MailAccount* account,
                     const OAuthEndpoints& endpoints, const TokenBinding& binding, const char* refreshToken,
                     char* token, size_t size) {
    char* body = static_cast<char*>(malloc(kTokenRequestSize));
    char shown[kTokenRequestShownSize];
    if (!body)
        return kTokenFailed;
    TokenRequestFields fields = {};
    fields.clientId = endpoints.clientId;
    fields.clientSecret = endpoints.clientSecret;
    fields.refreshToken = refreshToken;
    fields.scope = "";
    HttpResult result = {};
    bool answered = false;
    if (FormRefreshBody(&fields, body, kTokenRequestSize, shown, sizeof shown))
        answered = PostForm(instance, account, endpoints.tokenUrl, body, shown, &result);
    else
        CopyText(result.failure, sizeof result.failure, "the refresh request does not fit its buffer");
    SecureZeroMemory(body, kTokenRequestSize);
    free(body);
    if (!answered) {
        TokenOutcome outcome = result.stopped ? kTokenStopped : kTokenFailed;
        if (!result.stopped && instance->debug)
            WriteDebugLog(instance, "    Error: %s", result.failure);
        FreeHttpResult(&result);
        return outcome;
    }
    TokenReply* reply = static_cast<TokenReply*>(calloc(1, sizeof(TokenReply)));
    const bool read = reply && ReadTokenReply(result.body, result.bodyLength, reply);
    const int status = result.status;
    FreeHttpResult(&result);
    if (!reply)
        return kTokenFailed;
    TokenOutcome outcome = kTokenFailed;
    const bool granted = read && status == 200;
    const SignedInNames& names = reply->signedIn;
    if (granted && names.why[0] != '\0' && instance->debug)
        WriteDebugLog(instance, "    Sign-in: who signed in is not known: %s", names.why);
    if (granted && JudgeSignedIn(&names, account->login) == kSignedInAsOther) {
        // The kept sign-in is another account's: keeping it would send its
        // tokens for Login at every check.
        KeepSignedInElsewhere(instance->signIn, index, ShownSignedIn(&names));
        char why[300];
        if (!ForgetRefreshToken(instance, index, why, sizeof why) && instance->debug)
            WriteDebugLog(instance, "    Sign-in: the kept token cannot be removed: %s", why);
        outcome = SignedInAsAnother(instance, account, ShownSignedIn(&names));
    } else if (granted) {
        KeepAccessToken(instance->signIn, index, reply->accessToken, static_cast<uint32_t>(reply->expiresSeconds));
        CopyText(token, size, reply->accessToken);
        if (instance->debug)
            WriteDebugLog(instance, "    Sign-in: access token refreshed (for %d s)", reply->expiresSeconds);
        char why[300];
        if (reply->refreshToken[0] != '\0' && strcmp(reply->refreshToken, refreshToken) != 0 &&
            !SaveRefreshToken(instance, index, &binding, reply->refreshToken, why, sizeof why) && instance->debug)
            WriteDebugLog(instance, "    Sign-in: the new refresh token cannot be kept: %s", why);
        outcome = kTokenReady;
    } else if (strcmp(reply->error, "invalid_grant") == 0) {
        // The provider no longer knows this sign-in (revoked, expired, or a
        // rotated token spent elsewhere): keeping it would only be refused again.
        char why[300];
        if (!ForgetRefreshToken(instance, index, why, sizeof why) && instance->debug)
            WriteDebugLog(instance, "    Sign-in: the kept token cannot be removed: %s", why);
        if (instance->debug)
            WriteDebugLog(instance, "    Sign-in: the provider refused the kept sign-in (invalid_grant%s%s)",
                          reply->errorDescription[0] ? ": " : "", reply->errorDescription);
        outcome = SignInNeeded(instance, index);
    } else {
        LogRefusal(instance, status, reply);
    }
    SecureZeroMemory(reply, sizeof(TokenReply));
    free(reply);
    return outcome;
}

}  // namespace

TokenOutcome AcquireAccessToken(const DockletInstance* instance, int32_t index, const MailAccount* account,
                                char* token, size_t size, bool* refreshed) {
    *refreshed = false;
    SignInBoard* board = instance->signIn;
    if (!board) {
        if (instance->debug)
            WriteDebugLog(instance, "    Error: no memory for the sign-in");
        return kTokenFailed;
    }
    OAuthEndpoints endpoints;
    char why[300];
    if (!ResolveOAuthEndpoints(account, &endpoints, why, sizeof why)) {
        if (instance->debug)
            WriteDebugLog(instance, "    Error: %s", why);
        return kTokenFailed;
    }
    char who[kSignedInNameSize];
    if (SignedInElsewhere(board, index, who, sizeof who))
        return SignedInAsAnother(instance, account, who);
    if (TakeAccessToken(board, index, token, size))
        return kTokenReady;
    // Until the user signs in again, what is kept would only be refused again.
    if (AccountWaiting(board, index))
        return SignInNeeded(instance, index);
    TokenTurn turn(instance, board);
    if (!turn.Held())
        return kTokenStopped;
    // Another check may have refreshed it while this one waited its turn.
    if (TakeAccessToken(board, index, token, size))
        return kTokenReady;

    const TokenBinding binding = {account->address, account->login, endpoints.clientId,
                                  endpoints.authorizeUrl, endpoints.tokenUrl};
    SecretText refreshToken;
    if (!refreshToken.text)
        return kTokenFailed;
    switch (LoadRefreshToken(instance, index, &binding, refreshToken.text, kMaxTokenSize, why, sizeof why)) {
    case kTokenLoaded:
        break;
    case kTokenNone:
        if (instance->debug)
            WriteDebugLog(instance, "    Sign-in: no sign-in kept for this account");
        return SignInNeeded(instance, index);
    default:
        if (instance->debug)
            WriteDebugLog(instance, "    Sign-in: %s", why);
        return SignInNeeded(instance, index);
    }
    TokenOutcome outcome = Refresh(instance, index, account, endpoints, binding, refreshToken.text, token, size);
    *refreshed = outcome == kTokenReady;
    return outcome;
}

void SettleTokenUse(const DockletInstance* instance, int32_t index, const MailAccount* account, bool refreshed,
                    const BearerLogin* bearer) {
    SignInBoard* board = instance->signIn;
    if (bearer->accepted)
        SetTokenUnproven(board, index, false);
    if (!bearer->refused)
        return;
    ForgetAccessToken(board, index);
    if (TokenUnproven(board, index)) {
        // A sign-in again would bring a token that is refused the same way.
        if (instance->debug) {
            char login[kSignedInNameSize];
            CopyPrintable(login, sizeof login, account->login, strlen(account->login));
            WriteDebugLog(instance,
                          "    Error: the server refused the token of the new sign-in for user=%s: Login must "
                          "name the mailbox you signed in for, and that mailbox must allow %s",
                          login, account->type == kAccountPop ? "POP" : "IMAP");
        }
        return;
    }
    if (refreshed) {
        SetAccountWaiting(board, index, true);
        if (instance->debug)
            WriteDebugLog(instance, "    Error: sign-in needed: click the item");
    }
}
