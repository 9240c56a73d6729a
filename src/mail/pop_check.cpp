#include "mail/pop_check.h"

#include "log/debug_log.h"
#include "mail/dbx_count.h"
#include "mail/pop_reply.h"
#include "mail/registry_count_win.h"
#include "net/server_connection.h"

int CheckPopAccount(const DockletInstance* instance, const MailAccount* account) {
    int localCount = CountDbxMessages(account);
    if (instance->debug)
        WriteDebugLog(instance, "    Nb messages in DBX file: %d", localCount);
    if (localCount == -1)
        return -1;
    if (account->registryPath[0] != '\0') {
        int unread = ReadRegistryCount(account->registryPath);
        if (instance->debug)
            WriteDebugLog(instance, "    RegUnreadMsg:%d", unread);
        if (unread != -1)
            localCount = static_cast<int>(static_cast<unsigned>(localCount) - static_cast<unsigned>(unread));
    }

    Reply reply;
    InitReply(&reply);
    Connection* connection = OpenServerConnection(instance, &reply, account);
    bool accepted = IsPopOk(reply.text);
    if (accepted && account->security == kSecurityStartTls) {
        ExchangeCommand(instance, &connection, &reply, 0, "STLS%c%c", 13, 10);
        accepted = IsPopOk(reply.text);
        if (!accepted && reply.length > 0 && instance->debug)
            WriteDebugLog(instance, "    Error: STLS refused");
        accepted = accepted && StartTlsOnConnection(instance, &connection, account);
    }
    if (accepted) {
        ExchangeCommand(instance, &connection, &reply, 0, "USER %s%c%c", account->login, 13, 10);
        accepted = IsPopOk(reply.text);
    }
    if (accepted) {
        ExchangeCommand(instance, &connection, &reply, 0, "PASS %s%c%c", account->password, 13, 10);
        accepted = IsPopOk(reply.text);
    }
    if (accepted) {
        ExchangeCommand(instance, &connection, &reply, 0, "STAT%c%c", 13, 10);
        accepted = IsPopOk(reply.text);
    }

    int result = -1;
    if (accepted) {
        int serverCount = ParseStatCount(reply.text);
        // The QUIT reply is read and logged but decides nothing.
        ExchangeCommand(instance, &connection, &reply, 0, "QUIT%c%c", 13, 10);
        CloseServerConnection(instance, &connection);
        if (instance->debug)
            WriteDebugLog(instance, "    Nb messages in the server: %d", serverCount);
        result = static_cast<int>(static_cast<unsigned>(serverCount) - static_cast<unsigned>(localCount));
    } else {
        DisconnectFromServer(&connection);
    }
    FreeReply(&reply);
    return result;
}
