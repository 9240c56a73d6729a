#include "check/check_cycle_win.h"

#include <windows.h>

#include <climits>
#include <cstdlib>

#include "animation/status_animator_win.h"
#include "check/message_label.h"
#include "check/total_effects_win.h"
#include "net/host_address.h"
#include "docklet/host_services_win.h"
#include "log/debug_log.h"
#include "mail/imap_check.h"
#include "mail/pop_check.h"
#include "secrets/password_write_back_win.h"
#include "secrets/protected_password_win.h"
#include "signin/access_token_win.h"
#include "signin/sign_in_board_win.h"
#include "signin/token_limits.h"
#include "text/bounded_text.h"

namespace {

const char kNothingCheckedLabel[] = "No account to check";

bool Stopping(const DockletInstance* instance) {
    return instance->stopEvent && WaitForSingleObject(instance->stopEvent, 0) == WAIT_OBJECT_0;
}

// The account's count, or -1 when its check failed; an account of no known
// type cannot be checked, which is a failure the user should see.
int CheckByType(const DockletInstance* instance, const MailAccount* account, BearerLogin* bearer) {
    switch (account->type) {
    case kAccountPop:
        return CheckPopAccount(instance, account, bearer);
    case kAccountImap:
        return CheckImapAccount(instance, account, bearer);
    default:
        if (instance->debug)
            WriteDebugLog(instance, "    Error: unknown Type \"%s\": account skipped", account->typeText);
        return -1;
    }
}

// An OAuth2 account signs in with its access token, which lives in memory
// and in this check only. A token the server refuses is forgotten; refused
// when it has just come from the provider, the account waits for its user.
int CheckWithToken(const DockletInstance* instance, int32_t index, const MailAccount* account) {
    // A bearer token is as good as a password to whoever reads it on the way.
    if (account->security == kSecurityNone && !IsLoopbackHost(account->address)) {
        if (instance->debug)
            WriteDebugLog(instance, "    Error: Auth=oauth2 needs Security=tls or Security=starttls: "
                                    "the token would cross the network in clear");
        return -1;
    }
    char* token = static_cast<char*>(calloc(1, kMaxTokenSize));
    if (!token)
        return -1;
    bool refreshed = false;
    int result = -1;
    if (AcquireAccessToken(instance, index, account, token, kMaxTokenSize, &refreshed) == kTokenReady) {
        BearerLogin bearer = {token, false};
        result = CheckByType(instance, account, &bearer);
        if (result == -1 && bearer.refused) {
            ForgetAccessToken(instance->signIn, index);
            if (refreshed) {
                SetAccountWaiting(instance->signIn, index, true);
                if (instance->debug)
                    WriteDebugLog(instance, "    Error: sign-in needed: click the item");
            }
        }
    }
    SecureZeroMemory(token, kMaxTokenSize);
    free(token);
    return result;
}

// A protected password is unprotected for this check only, into a copy that
// is wiped after it: the instance never holds it in clear, and a password that
// cannot be unprotected reaches no server.
int CheckAccount(const DockletInstance* instance, int32_t index, const MailAccount* account) {
    if (account->auth == kAuthUnknown) {
        if (instance->debug)
            WriteDebugLog(instance, "    Error: unknown Auth \"%s\" (password or oauth2)", account->authText);
        return -1;
    }
    if (account->auth == kAuthOAuth2)
        return CheckWithToken(instance, index, account);
    if (account->protectedPassword[0] == '\0')
        return CheckByType(instance, account, nullptr);
    MailAccount* revealed = static_cast<MailAccount*>(malloc(sizeof(MailAccount)));
    if (!revealed)
        return -1;
    *revealed = *account;
    int result = -1;
    if (RevealPassword(instance, account, revealed->password, sizeof revealed->password))
        result = CheckByType(instance, revealed, nullptr);
    SecureZeroMemory(revealed->password, sizeof revealed->password);
    free(revealed);
    return result;
}

}  // namespace

void CheckAllAccounts(DockletInstance* instance) {
    if (instance->protectPasswords && InterlockedExchange(&instance->passwordsProtected, 1) == 0)
        ProtectPasswordsInFile(instance);
    HostServices::SetLabel(instance->itemWindow, instance->checkText);
    if (instance->accountCount <= 0 && instance->debug)
        WriteDebugLog(instance, "  Error: no account to check: NbAccount is %d", instance->accountCount);
    int32_t total = 0;
    int32_t failed = 0;
    int32_t answered = 0;
    for (int32_t i = 0; i < instance->accountCount; ++i) {
        if (Stopping(instance))
            return;
        if (instance->debug)
            WriteDebugLog(instance, "  Account %d", i);
        int result = CheckAccount(instance, i, &instance->accounts[i]);
        if (Stopping(instance))
            return;
        if (result == -1) {
            ++failed;
            if (instance->debug)
                WriteDebugLog(instance, "    Failed !");
            continue;
        }
        ++answered;
        if (result > 0)
            total = result > INT32_MAX - total ? INT32_MAX : total + result;
    }

    char counted[1024];
    const char* countLabel = instance->noMessageText;
    if (total > 1) {
        FormatMessageLabel(counted, sizeof counted, instance->manyMessagesTemplate, total);
        countLabel = counted;
    } else if (total == 1) {
        countLabel = instance->oneMessageText;
    }
    char label[1024];
    FormatCycleLabel(label, sizeof label, countLabel, instance->failedTemplate, failed, answered > 0);
    // Without an account nothing fails, yet nothing is counted either: where
    // the user asked to see failures, "no mail" would be a false comfort.
    if (instance->accountCount <= 0 && instance->failedTemplate[0] != '\0')
        CopyText(label, sizeof label, kNothingCheckedLabel);
    // What the user must do wins over what was counted.
    if (AnyAccountWaiting(instance->signIn))
        CopyText(label, sizeof label, instance->signInText);
    OnTotalShown(instance, total);
    if (instance->animator)
        instance->animator->SetMode(total >= 1 ? kNewMailMode : kNoMailMode);
    HostServices::SetLabel(instance->itemWindow, label);
    if (instance->debug)
        WriteDebugLog(instance, "  Total mails:%d", total);
}
