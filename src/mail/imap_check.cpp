#include "mail/imap_check.h"

#include <cstring>

#include "log/debug_log.h"
#include "mail/imap_arguments.h"
#include "mail/imap_reply.h"
#include "net/server_connection.h"

namespace {

// Room for the whole LOGIN line: two 259-character arguments, each quoted
// with every character escaped or sent as a literal with its length.
const size_t kLoginSize = 2 * (2 * kAccountTextSize + 3) + 32;

// Sends "1 LOGIN login password" and tells whether the server accepted it.
// An argument with 8-bit text goes as a literal: without LITERAL+ the
// command stops after its length and goes on only once the server has sent
// its continuation request ("+"); with LITERAL+ the whole command goes at once.
bool LogIn(const DockletInstance* instance, Connection** connection, Reply* reply,
           const MailAccount* account, bool literalPlus) {
    const char* arguments[2] = {account->login, account->password};
    char part[kLoginSize];
    size_t length = 0;
    bool first = true;
    FormatText(part, sizeof part, "1 LOGIN ");
    for (int i = 0; i < 2; ++i) {
        length = strlen(part);
        const char* separator = i == 0 ? " " : "\r\n";
        if (!NeedsImapLiteral(arguments[i])) {
            FormatImapArgument(part + length, sizeof part - length, arguments[i]);
            length = strlen(part);
            FormatText(part + length, sizeof part - length, "%s", separator);
            continue;
        }
        FormatText(part + length, sizeof part - length, "{%u%s}\r\n",
                   static_cast<unsigned>(strlen(arguments[i])), literalPlus ? "+" : "");
        if (!literalPlus) {
            if (first)
                ExchangeCommand(instance, connection, reply, 0, "%s", part);
            else
                ContinueCommand(instance, connection, reply, 0, part);
            first = false;
            if (reply->text[0] != '+')
                return false;
            part[0] = '\0';
        }
        length = strlen(part);
        FormatText(part + length, sizeof part - length, "%s%s", arguments[i], separator);
    }
    if (first)
        ExchangeCommand(instance, connection, reply, '1', "%s", part);
    else
        ContinueCommand(instance, connection, reply, '1', part);
    return HasImapOk(reply->text, '1');
}

}  // namespace

int CheckImapAccount(const DockletInstance* instance, const MailAccount* account) {
    Reply reply;
    InitReply(&reply);
    Connection* connection = OpenServerConnection(instance, &reply, account->address, account->port);
    bool accepted = HasImapOk(reply.text, '*') &&
                    LogIn(instance, &connection, &reply, account, AnnouncesLiteralPlus(reply.text));
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
        // Accepted, yet without the search's answer.
        if (count == -1 && instance->debug)
            WriteDebugLog(instance, "    Error: rejected by the server: reply to SEARCH");
    } else {
        LogReplyFailure(instance, &reply);
        DisconnectFromServer(&connection);
    }
    FreeReply(&reply);
    return count;
}
