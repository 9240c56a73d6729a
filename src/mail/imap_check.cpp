#include "mail/imap_check.h"

#include <cstring>

#include "log/debug_log.h"
#include "mail/imap_arguments.h"
#include "mail/imap_reply.h"
#include "mail/login_refusal.h"
#include "net/server_connection.h"

namespace {

// Room for the whole LOGIN line: two 259-character arguments, each quoted
// with every character escaped or sent as a literal with its length.
const size_t kLoginSize = 2 * (2 * kAccountTextSize + 3) + 32;

// Sends one part of the LOGIN command: the first names the step, the rest
// continue it.
void SendPart(const DockletInstance* instance, Connection** connection, Reply* reply, ReplyEnd end,
              const char* part, bool* first) {
    if (*first)
        ExchangeCommand(instance, connection, reply, end, "%s", part);
    else
        ContinueCommand(instance, connection, reply, end, part);
    *first = false;
}

// Sends "1 LOGIN login password" and tells whether the server accepted it.
// An argument with 8-bit text goes as a literal: without LITERAL+ the
// command stops after its length and goes on only once the server has sent
// its continuation request ("+"); with LITERAL+ the whole command goes at once.
bool LogIn(const DockletInstance* instance, Connection** connection, Reply* reply,
           const MailAccount* account, bool literalPlus) {
    const char* const arguments[2] = {account->login, account->password};
    char part[kLoginSize] = "1 LOGIN ";
    bool first = true;
    for (int i = 0; i < 2; ++i) {
        const char* separator = i == 0 ? " " : "\r\n";
        size_t length = strlen(part);
        if (!NeedsImapLiteral(arguments[i])) {
            char argument[2 * kAccountTextSize + 3];
            FormatImapArgument(argument, sizeof argument, arguments[i]);
            FormatText(part + length, sizeof part - length, "%s%s", argument, separator);
            continue;
        }
        FormatText(part + length, sizeof part - length, "{%u%s}\r\n",
                   static_cast<unsigned>(strlen(arguments[i])), literalPlus ? "+" : "");
        if (!literalPlus) {
            SendPart(instance, connection, reply, 0, part, &first);
            if (reply->text[0] != '+')
                return false;
            part[0] = '\0';
        }
        length = strlen(part);
        FormatText(part + length, sizeof part - length, "%s%s", arguments[i], separator);
    }
    SendPart(instance, connection, reply, '1', part, &first);
    return HasImapOk(reply->text, '1');
}

}  // namespace

int CheckImapAccount(const DockletInstance* instance, const MailAccount* account) {
    Reply reply;
    InitReply(&reply);
    Connection* connection = OpenServerConnection(instance, &reply, account);
    bool accepted = HasImapOk(reply.text, '*');
    // What a greeting in clear announces may be anyone's word: after STARTTLS
    // literals wait for the server's go-ahead, which every server gives.
    bool literalPlus = account->security != kSecurityStartTls && AnnouncesLiteralPlus(reply.text);
    if (accepted && account->security == kSecurityStartTls) {
        // Tag 0, so that the commands after it keep the tags they have in clear.
        ExchangeCommand(instance, &connection, &reply, '0', "0 STARTTLS%c%c", 13, 10);
        accepted = HasImapOk(reply.text, '0');
        if (!accepted && reply.length > 0)
            SetReplyFailure(&reply, "STARTTLS refused");
        accepted = accepted && StartTlsOnConnection(instance, &connection, &reply, account);
    }
    if (accepted) {
        accepted = LogIn(instance, &connection, &reply, account, literalPlus);
        if (!accepted)
            NoteLoginRefusal(&reply, account);
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
