#include "signin/sign_in_win.h"

#include <windows.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "log/debug_log.h"
#include "net/https_post_win.h"
#include "net/loopback_listener_win.h"
#include "signin/authorization_request.h"
#include "signin/browser_launch_win.h"
#include "signin/oauth_provider.h"
#include "signin/provider_hosts.h"
#include "signin/random_and_hash_win.h"
#include "signin/redirect_request.h"
#include "signin/sign_in_board_win.h"
#include "signin/token_limits.h"
#include "signin/token_reply.h"
#include "signin/token_store_win.h"
#include "text/bounded_text.h"

namespace {

// How long a sign-in waits for its user, as a mail program would.
const DWORD kSignInWaitMs = 5 * 60 * 1000;
// For the browser to start; the sign-in waits on regardless.
const DWORD kBrowserStartMs = 10 * 1000;
// For the browser to start again after a click; the listener's clients wait meanwhile.
const DWORD kReopenWaitMs = 2000;

// What one sign-in holds, secrets included: on the heap, wiped at its end.
struct SignIn {
    OAuthEndpoints endpoints;
    Pkce pkce;
    char redirectUri[64];
    char url[kSignInUrlSize];
    char request[kRequestHeadRoom];
    RedirectRequest redirect;
    TokenReply reply;
    char body[kTokenRequestSize];
    char shown[kTokenRequestShownSize];
    char page[8192];
    char why[kSignedInNameSize * 2 + 140];
    char note[400];  // why the provider may not go with the account, for the page; or empty
};

enum Exchange {
    kExchangeFailed,     // no token: signIn->why says why
    kExchangeSignedIn,   // the access token is kept in memory
    kExchangeElsewhere,  // someone other than Login signed in: signIn->why says who
};

void Log(const DockletInstance* instance, int32_t index, const char* format, ...) TIDEWELL_PRINTF(3, 4);
void Log(const DockletInstance* instance, int32_t index, const char* format, ...) {
    if (!instance->debug)
        return;
    char prefix[40];
    FormatText(prefix, sizeof prefix, "Sign-in account %d: ", index);
    va_list arguments;
    va_start(arguments, format);
    WriteDebugLogAfter(instance, prefix, format, arguments);
    va_end(arguments);
}

// Exchanges the code for tokens. Signed in as Login (or as someone the ID
// token does not name), the access token is kept in memory and the refresh
// token (if any) in the store; signed in as someone else, neither is kept.
Exchange ExchangeCode(const DockletInstance* instance, int32_t index, SignIn* signIn) {
    const MailAccount* account = &instance->accounts[index];
    TokenRequestFields fields = {};
    fields.clientId = signIn->endpoints.clientId;
    fields.clientSecret = signIn->endpoints.clientSecret;
    fields.redirectUri = signIn->redirectUri;
    fields.code = signIn->redirect.code;
    fields.verifier = signIn->pkce.verifier;
    HttpResult result = {};
    bool answered = false;
    if (FormCodeExchangeBody(&fields, signIn->body, sizeof signIn->body, signIn->shown, sizeof signIn->shown))
        answered = PostForm(instance, account, signIn->endpoints.tokenUrl, signIn->body, signIn->shown, &result);
    else
        CopyText(result.failure, sizeof result.failure, "the token request does not fit its buffer");
    if (!answered) {
        CopyText(signIn->why, sizeof signIn->why, result.stopped ? "the item went away" : result.failure);
        FreeHttpResult(&result);
        return kExchangeFailed;
    }
    const bool read = ReadTokenReply(result.body, result.bodyLength, &signIn->reply);
    const int status = result.status;
    FreeHttpResult(&result);
    const TokenReply& reply = signIn->reply;
    if (!read || status != 200) {
        if (reply.error[0] != '\0')
            FormatText(signIn->why, sizeof signIn->why, "the token endpoint answered %d (%s%s%s)", status,
                       reply.error, reply.errorDescription[0] ? ": " : "", reply.errorDescription);
        else
            FormatText(signIn->why, sizeof signIn->why, "the token endpoint answered %d: %s", status, reply.why);
        return kExchangeFailed;
    }
    if (reply.signedIn.why[0] != '\0')
        Log(instance, index, "who signed in is not known: %s", reply.signedIn.why);
    if (JudgeSignedIn(&reply.signedIn, account->login) == kSignedInAsOther) {
        const char* who = ShownSignedIn(&reply.signedIn);
        FormSignedInElsewhere(who, account->login, signIn->why, sizeof signIn->why);
        KeepSignedInElsewhere(instance->signIn, index, who);
        // A token kept from before is Login's no more than this one.
        char why[300];
        if (!ForgetRefreshToken(instance, index, why, sizeof why))
            Log(instance, index, "the kept token cannot be removed: %s", why);
        return kExchangeElsewhere;
    }
    KeepAccessToken(instance->signIn, index, reply.accessToken, static_cast<uint32_t>(reply.expiresSeconds));
    SetTokenUnproven(instance->signIn, index, true);
    if (reply.refreshToken[0] == '\0') {
        Log(instance, index, "the provider gave no refresh token: the next sign-in comes when this one expires");
        return kExchangeSignedIn;
    }
    const TokenBinding binding = {account->address, account->login, signIn->endpoints.clientId,
                                  signIn->endpoints.authorizeUrl, signIn->endpoints.tokenUrl};
    char why[300];
    if (!SaveRefreshToken(instance, index, &binding, reply.refreshToken, why, sizeof why))
        Log(instance, index, "the sign-in cannot be kept for later: %s", why);
    return kExchangeSignedIn;
}

// Waits for the browser's request carrying this sign-in's state; requests
// that are not it are answered and the wait goes on. True when the provider
// answered (signIn->redirect holds its code or its error).
bool WaitForRedirect(DockletInstance* instance, int32_t index, LoopbackListener* listener, SignIn* signIn) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - start;
        if (spent >= kSignInWaitMs) {
            Log(instance, index, "no answer from the browser within 5 minutes");
            return false;
        }
        size_t length = 0;
        switch (WaitForBrowserRequest(listener, instance->stopEvent, instance->signIn->reopenEvent,
                                      kSignInWaitMs - spent, signIn->request, sizeof signIn->request, &length)) {
        case kListenStopped:
            return false;
        case kListenTimedOut:
            continue;
        case kListenWoken:
            OpenInBrowser(instance, index, signIn->url, kReopenWaitMs);
            continue;
        case kListenRequest:
            break;
        }
        JudgeRedirectRequest(signIn->request, length, signIn->pkce.state, &signIn->redirect);
        const RedirectRequest& redirect = signIn->redirect;
        if (redirect.kind == kRedirectCode || redirect.kind == kRedirectRefused)
            return true;
        const char* why = redirect.kind == kRedirectWrongState ? "its state is not this sign-in's" : redirect.why;
        FormatBrowserPage(signIn->page, sizeof signIn->page, kPageNotThisSignIn, why, "");
        AnswerBrowser(listener, signIn->page);
        Log(instance, index, "a request to the listener refused: %s", why);
    }
}

bool RunSignIn(DockletInstance* instance, int32_t index, SignIn* signIn) {
    const MailAccount* account = &instance->accounts[index];
    if (!ResolveOAuthEndpoints(account, &signIn->endpoints, signIn->why, sizeof signIn->why)) {
        Log(instance, index, "%s", signIn->why);
        return false;
    }
    if (!WhyProviderMisfits(account, signIn->note, sizeof signIn->note))
        signIn->note[0] = '\0';
    unsigned long error = 0;
    if (!NewPkce(&signIn->pkce, &error)) {
        Log(instance, index, "no random numbers for the sign-in (Windows error %lu)", error);
        return false;
    }
    LoopbackListener* listener = OpenLoopbackListener(signIn->why, sizeof signIn->why);
    if (!listener) {
        Log(instance, index, "no listener for the browser: %s", signIn->why);
        return false;
    }
    if (!FormRedirectUri(&signIn->endpoints, LoopbackPort(listener), signIn->redirectUri, sizeof signIn->redirectUri) ||
        !FormAuthorizationUrl(&signIn->endpoints, signIn->endpoints.clientId, signIn->redirectUri, signIn->pkce.state,
                              signIn->pkce.challenge, account->login, signIn->url, sizeof signIn->url)) {
        Log(instance, index, "the sign-in page's address is longer than %u characters",
            static_cast<unsigned>(sizeof signIn->url - 1));
        CloseLoopbackListener(listener);
        return false;
    }
    Log(instance, index, "waiting up to 5 minutes for the browser at %s", signIn->redirectUri);
    if (const char* why = WhyNotOnIpv6(listener))
        Log(instance, index, "the listener is on 127.0.0.1 only: %s", why);
    Log(instance, index, "open %s", signIn->url);
    // A click before this one was for no page yet.
    ResetEvent(instance->signIn->reopenEvent);
    OpenInBrowser(instance, index, signIn->url, kBrowserStartMs);

    bool signedIn = false;
    if (WaitForRedirect(instance, index, listener, signIn)) {
        const RedirectRequest& redirect = signIn->redirect;
        if (redirect.kind == kRedirectRefused) {
            FormatText(signIn->why, sizeof signIn->why, "%s%s%s", redirect.error,
                       redirect.errorDescription[0] ? ": " : "", redirect.errorDescription);
            Log(instance, index, "refused by the provider (%s)", signIn->why);
            FormatBrowserPage(signIn->page, sizeof signIn->page, kPageRefused, signIn->why, signIn->note);
        } else {
            Log(instance, index, "code received; asking the token endpoint");
            switch (ExchangeCode(instance, index, signIn)) {
            case kExchangeSignedIn:
                signedIn = true;
                Log(instance, index, "signed in");
                FormatBrowserPage(signIn->page, sizeof signIn->page, kPageSignedIn, "", signIn->note);
                break;
            case kExchangeElsewhere:
                // The check that follows fails the account with the same words.
                signedIn = true;
                Log(instance, index, "Error: %s", signIn->why);
                FormatBrowserPage(signIn->page, sizeof signIn->page, kPageExchangeFailed, signIn->why, signIn->note);
                break;
            case kExchangeFailed:
                Log(instance, index, "no token: %s", signIn->why);
                FormatBrowserPage(signIn->page, sizeof signIn->page, kPageExchangeFailed, signIn->why, signIn->note);
                break;
            }
        }
        AnswerBrowser(listener, signIn->page);
    }
    CloseLoopbackListener(listener);
    return signedIn;
}

}  // namespace

bool SignInAccount(DockletInstance* instance, int32_t index) {
    SignIn* signIn = static_cast<SignIn*>(calloc(1, sizeof(SignIn)));
    if (!signIn)
        return false;
    const bool signedIn = RunSignIn(instance, index, signIn);
    SecureZeroMemory(signIn, sizeof(SignIn));
    free(signIn);
    return signedIn;
}

void NoteProviderMisfits(const DockletInstance* instance) {
    if (!instance->debug)
        return;
    for (int32_t i = 0; i < instance->accountCount; ++i) {
        char why[400];
        if (instance->accounts[i].auth == kAuthOAuth2 && WhyProviderMisfits(&instance->accounts[i], why, sizeof why))
            WriteDebugLog(instance, "Account %d: %s", i, why);
    }
}
