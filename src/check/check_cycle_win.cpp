#include "check/check_cycle_win.h"

#include <windows.h>

#include <climits>

#include "animation/status_animator_win.h"
#include "docklet/host_services_win.h"
#include "log/debug_log.h"
#include "mail/imap_check.h"
#include "check/message_label.h"
#include "mail/pop_check.h"

namespace {

bool Stopping(const DockletInstance* instance) {
    return instance->stopEvent && WaitForSingleObject(instance->stopEvent, 0) == WAIT_OBJECT_0;
}

int CheckAccount(const DockletInstance* instance, const MailAccount* account, bool* checked) {
    *checked = true;
    switch (account->type) {
    case kAccountPop:
        return CheckPopAccount(instance, account);
    case kAccountImap:
        return CheckImapAccount(instance, account);
    default:
        *checked = false;
        return 0;
    }
}

}  // namespace

void CheckAllAccounts(DockletInstance* instance) {
    HostServices::SetLabel(instance->itemWindow, instance->checkText);
    int32_t total = 0;
    for (int32_t i = 0; i < instance->accountCount; ++i) {
        if (Stopping(instance))
            return;
        if (instance->debug)
            WriteDebugLog(instance, "  Account %d", i);
        bool checked;
        int result = CheckAccount(instance, &instance->accounts[i], &checked);
        if (!checked)
            continue;
        if (result == -1 && instance->debug)
            WriteDebugLog(instance, "    Failed !");
        if (result > 0)
            total = result > INT32_MAX - total ? INT32_MAX : total + result;
    }
    if (Stopping(instance))
        return;

    char label[1024];
    const char* finalLabel = instance->noMessageText;
    if (total > 1) {
        FormatMessageLabel(label, sizeof label, instance->manyMessagesTemplate, total);
        finalLabel = label;
    } else if (total == 1) {
        finalLabel = instance->oneMessageText;
    }
    if (instance->animator)
        instance->animator->SetMode(total >= 1 ? kNewMailMode : kNoMailMode);
    HostServices::SetLabel(instance->itemWindow, finalLabel);
    if (instance->debug)
        WriteDebugLog(instance, "  Total mails:%d", total);
}
