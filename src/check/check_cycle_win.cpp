#include "check/check_cycle_win.h"

#include <windows.h>

#include <cstdlib>

#include "check/idle_timing.h"
#include "check/idle_watcher_win.h"
#include "check/imap_count_win.h"
#include "check/pop_count_win.h"
#include "check/seen_board_win.h"
#include "check/shown_total_win.h"
#include "docklet/host_services_win.h"
#include "log/debug_log.h"
#include "net/host_address.h"
#include "secrets/password_write_back_win.h"
#include "secrets/protected_password_win.h"
#include "signin/access_token_win.h"
#include "signin/token_limits.h"
#include "text/bounded_text.h"

namespace {

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
// and in this check only; what the server made of it is settled after.
int CheckWithToken(const DockletInstance* instance, int32_t index, const MailAccount* account,
                   AccountDialogue dialogue, void* context) {
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
        BearerLogin bearer = {token, false, false};
        result = dialogue(instance, account, &bearer, context);
        SettleTokenUse(instance, index, account, refreshed, &bearer);
    }
    SecureZeroMemory(token, kMaxTokenSize);
    free(token);
    return result;
}

int CheckByTypeDialogue(const DockletInstance* instance, const MailAccount* account, BearerLogin* bearer,
                        void*) {
    return CheckByType(instance, account, bearer);
}

}  // namespace

// A protected password is unprotected for this dialogue only, into a copy
// that is wiped after it: the instance never holds it in clear, and a
// password that cannot be unprotected reaches no server.
int RunAccountDialogue(const DockletInstance* instance, int32_t index, const MailAccount* account,
                       AccountDialogue dialogue, void* context) {
    if (account->auth == kAuthUnknown) {
        if (instance->debug)
            WriteDebugLog(instance, "    Error: unknown Auth \"%s\" (password or oauth2)", account->authText);
        return -1;
    }
    if (account->auth == kAuthOAuth2)
        return CheckWithToken(instance, index, account, dialogue, context);
    if (account->protectedPassword[0] == '\0')
        return dialogue(instance, account, nullptr, context);
    MailAccount* revealed = static_cast<MailAccount*>(malloc(sizeof(MailAccount)));
    if (!revealed)
        return -1;
    *revealed = *account;
    int result = -1;
    if (RevealPassword(instance, account, revealed->password, sizeof revealed->password))
        result = dialogue(instance, revealed, nullptr, context);
    SecureZeroMemory(revealed->password, sizeof revealed->password);
    free(revealed);
    return result;
}

namespace {

// The account's count for this cycle: its idle connection's when it has one
// that is alive, else from a check of its own; kCountKept while its idle
// connection opens.
int32_t CheckOrAskWatcher(DockletInstance* instance, int32_t index, CycleCounts wanted) {
    int32_t count = 0;
    switch (IdleCountOf(instance, index, wanted == kVerifiedCounts ? 0 : kIdleFreshMs, &count)) {
    case kIdleCountReady:
        if (instance->debug)
            WriteDebugLog(instance, "    Count of the connection in IDLE, no new login: %d", count);
        return kCountKept;
    case kIdleCountVerified:
        if (instance->debug)
            WriteDebugLog(instance, "    Count of the connection in IDLE, made for this check: %d", count);
        return kCountKept;
    case kIdleNotVerified:
        if (instance->debug)
            WriteDebugLog(instance, "    Its connection in IDLE did not count when asked: a login of its own counts");
        break;
    case kIdleOpening:
        if (instance->debug)
            WriteDebugLog(instance, "    Its connection for IDLE is logging in: its count shows when it comes");
        return kCountKept;
    case kIdleNotWatched:
        break;
    }
    return RunAccountDialogue(instance, index, &instance->accounts[index], CheckByTypeDialogue, nullptr);
}

}  // namespace

void CheckAllAccounts(DockletInstance* instance, CycleCounts wanted) {
    if (instance->protectPasswords && InterlockedExchange(&instance->passwordsProtected, 1) == 0 &&
        !ProtectPasswordsInFile(instance))
        InterlockedExchange(&instance->passwordsProtected, 0);
    HostServices::SetLabel(instance->itemWindow, instance->checkText);
    // A click's mark is kept before any server is asked.
    SaveSeenIfChanged(instance);
    if (instance->accountCount <= 0 && instance->debug)
        WriteDebugLog(instance, "  Error: no account to check: NbAccount is %d", instance->accountCount);
    // One entry more than there are accounts: never a request for none.
    const int32_t accounts = instance->accountCount > 0 ? instance->accountCount : 0;
    int32_t* counts = static_cast<int32_t*>(calloc(accounts + 1, sizeof(int32_t)));
    if (!counts)
        return;
    for (int32_t i = 0; i < instance->accountCount; ++i) {
        if (Stopping(instance))
            break;
        ShowStaleAccounts(instance);
        if (instance->debug)
            WriteDebugLog(instance, "  Account %d", i);
        counts[i] = CheckOrAskWatcher(instance, i, wanted);
        if (Stopping(instance))
            break;
        // Shown at the cycle's end; as good as new meanwhile.
        if (counts[i] >= 0)
            NoteAccountHeard(instance, i);
        if (counts[i] == -1 && instance->debug)
            WriteDebugLog(instance, "    Failed !");
    }
    if (!Stopping(instance)) {
        const int32_t total = ShowCycleCounts(instance, counts);
        if (instance->debug)
            WriteDebugLog(instance, "  Total mails:%d", total);
        SaveSeenIfChanged(instance);
    }
    free(counts);
}
