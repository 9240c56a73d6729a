#include "mail/imap_check.h"

#include "log/debug_log.h"
#include "mail/imap_arguments.h"
#include "mail/imap_reply.h"
#include "net/server_connection.h"

int CheckImapAccount(const DockletInstance* instance, const MailAccount* account) {
    char login[2 * kAccountTextSize + 3];
    char password[2 * kAccountTextSize + 3];
    FormatImapArgument(login, sizeof login, account->login);
    FormatImapArgument(password, sizeof password, account->password);

    Reply reply;
    InitReply(&reply);
    Connection* connection = OpenServerConnection(instance, &reply, account);
    bool accepted = HasImapOk(reply.text, '*');
    if (accepted && account->security == kSecurityStartTls) {
        // Tag 0, so that the commands after it keep the tags they have in clear.
        ExchangeCommand(instance, &connection, &reply, '0', "0 STARTTLS%c%c", 13, 10);
        accepted = HasImapOk(reply.text, '0');
        if (!accepted && reply.length > 0 && instance->debug)
            WriteDebugLog(instance, "    Error: STARTTLS refused");
        accepted = accepted && StartTlsOnConnection(instance, &connection, account);
    }
    if (accepted) {
        ExchangeCommand(instance, &connection, &reply, '1', "1 LOGIN %s %s%c%c", login, password, 13, 10);
        accepted = HasImapOk(reply.text, '1');
    }
    if (accepted) {
        ExchangeCommand(instance, &connection, &reply, '2', "2 EXAMINE INBOX%c%c", 13, 10);
        accepted = HasImapOk(reply.text, '2');
    }
    if (accepted) {
        ExchangeCommand(instance, &connection, &reply, '3', "3 SEARCH UNSEEN%c%c", 13, 10);
        accepted = HasImapOk(reply.text, '3');
    }

    int count = -1;
    if (accepted) {
        count = CountSearchResults(reply.text);
        // The LOGOUT reply is read and logged but decides nothing.
        ExchangeCommand(instance, &connection, &reply, '4', "4 LOGOUT%c%c", 13, 10);
        CloseServerConnection(instance, &connection);
        if (instance->debug)
            WriteDebugLog(instance, "    Nb Messages: %d", count);
    } else {
        DisconnectFromServer(&connection);
    }
    FreeReply(&reply);
    return count;
}
