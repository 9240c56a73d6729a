#include "mail/imap_check.h"

#include <cstdarg>
#include <cstring>

#include "log/debug_log.h"
#include "mail/bearer_login.h"
#include "mail/imap_arguments.h"
#include "mail/imap_reply.h"
#include "mail/mailbox_name.h"
#include "mail/mailbox_name_win.h"
#include "mail/login_refusal.h"
#include "net/reply_scan.h"
#include "net/server_connection.h"
#include "signin/xoauth2.h"

namespace {

// Room for the whole LOGIN line: two 259-character arguments, each quoted
// with every character escaped or sent as a literal with its length.
const size_t kLoginSize = 2 * (2 * kAccountTextSize + 3) + 32;

// What the log shows of a protected password, whatever its length.
const char kMasked[] = "********";

void Append(char* text, size_t size, const char* format, ...) TIDEWELL_PRINTF(3, 4);
void Append(char* text, size_t size, const char* format, ...) {
    size_t length = strlen(text);
    va_list arguments;
    va_start(arguments, format);
    FormatTextV(text + length, size - length, format, arguments);
    va_end(arguments);
}

// Sends one part of the LOGIN command, logged as shown: the first names the
// step, the rest continue it.
void SendPart(const DockletInstance* instance, Connection** connection, Reply* reply, ReplyEnd end,
              const char* part, const char* shown, bool* first) {
    if (*first)
        ExchangeCommandShown(instance, connection, reply, end, part, shown);
    else
        ContinueCommandShown(instance, connection, reply, end, part, shown);
    *first = false;
}

// Sends "1 LOGIN login password" and tells whether the server accepted it.
// An argument with 8-bit text goes as a literal: without LITERAL+ the
// command stops after its length and goes on only once the server has sent
// its continuation request ("+"); with LITERAL+ the whole command goes at once.
// A masked password is logged as kMasked, and its literal's length as "*".
bool LogIn(const DockletInstance* instance, Connection** connection, Reply* reply,
           const MailAccount* account, bool literalPlus) {
    const char* const arguments[2] = {account->login, account->password};
    char part[kLoginSize] = "1 LOGIN ";
    char shown[kLoginSize] = "1 LOGIN ";
    bool first = true;
    for (int i = 0; i < 2; ++i) {
        const bool masked = i == 1 && account->maskPassword;
        const char* separator = i == 0 ? " " : "\r\n";
        if (!NeedsImapLiteral(arguments[i])) {
            char argument[2 * kAccountTextSize + 3];
            FormatImapArgument(argument, sizeof argument, arguments[i]);
            Append(part, sizeof part, "%s%s", argument, separator);
            Append(shown, sizeof shown, "%s%s", masked ? kMasked : argument, separator);
            continue;
        }
        const char* plus = literalPlus ? "+" : "";
        const unsigned length = static_cast<unsigned>(strlen(arguments[i]));
        Append(part, sizeof part, "{%u%s}\r\n", length, plus);
        if (masked)
            Append(shown, sizeof shown, "{*%s}\r\n", plus);
        else
            Append(shown, sizeof shown, "{%u%s}\r\n", length, plus);
        if (!literalPlus) {
            SendPart(instance, connection, reply, 0, part, shown, &first);
            if (reply->text[0] != '+')
                return false;
            part[0] = '\0';
            shown[0] = '\0';
        }
        Append(part, sizeof part, "%s%s", arguments[i], separator);
        Append(shown, sizeof shown, "%s%s", masked ? kMasked : arguments[i], separator);
    }
    SendPart(instance, connection, reply, '1', part, shown, &first);
    return HasImapOk(reply->text, '1');
}

const char kAuthenticate[] = "1 AUTHENTICATE XOAUTH2 ";

// Sends the access token with AUTHENTICATE XOAUTH2 (RFC 3501 section 6.2.2)
// and tells whether the server accepted it: in the command itself when the
// server takes an initial response (RFC 4959), else after its continuation
// request. A refused token comes back as a challenge, which the client must
// answer (an empty line) before the tagged NO follows. Every reply of the
// exchange ends at a continuation request as well as at the tagged line, so
// a challenge never waits out the time-out.
bool Authenticate(const DockletInstance* instance, Connection** connection, Reply* reply,
                  const MailAccount* account, BearerLogin* bearer, bool initialResponse) {
    char why[sizeof reply->failure];
    char* line = FormXoauth2Line(kAuthenticate, account->login, bearer->accessToken, why, sizeof why);
    if (!line) {
        SetReplyFailure(reply, "%s", why);
        return false;
    }
    if (initialResponse) {
        ExchangeCommandShown(instance, connection, reply, kSaslReplyEnd, line, "1 AUTHENTICATE XOAUTH2 <hidden>\r\n");
    } else {
        ExchangeCommand(instance, connection, reply, kSaslReplyEnd, "1 AUTHENTICATE XOAUTH2%c%c", 13, 10);
        // Refused before any token went: the server knows no XOAUTH2.
        if (!FindContinuation(reply->text)) {
            FreeSecretLine(line);
            return false;
        }
        ContinueCommandShown(instance, connection, reply, kSaslReplyEnd, line + sizeof kAuthenticate - 1,
                             "<hidden>\r\n");
    }
    FreeSecretLine(line);
    char challenge[256] = "";
    const char* text = FindContinuation(reply->text);
    if (text) {
        DescribeXoauth2Challenge(text, strcspn(text, "\r\n"), challenge, sizeof challenge);
        ContinueCommand(instance, connection, reply, kSaslReplyEnd, "\r\n");
    }
    if (!FindContinuation(reply->text) && HasImapOk(reply->text, '1')) {
        bearer->accepted = true;
        return true;
    }
    bearer->refused = HasImapNo(reply->text, '1');
    if (bearer->refused && challenge[0] != '\0')
        SetReplyFailure(reply, "rejected by the server: %s (%s)", reply->step, challenge);
    return false;
}

// EXAMINE of the account's Folder, INBOX without one; a folder the server
// refuses is named in the reason line.
bool Examine(const DockletInstance* instance, Connection** connection, Reply* reply, const MailAccount* account) {
    char mailbox[kMailboxNameSize];
    if (!FormMailboxName(account->folder, account->folderUtf8, mailbox, sizeof mailbox)) {
        SetReplyFailure(reply, "Folder \"%s\" is no text of %s, or too long", account->folder,
                        account->folderUtf8 ? "UTF-8" : "the ANSI code page");
        return false;
    }
    // Modified UTF-7 is 7-bit: an atom or a quoted string always carries it.
    char argument[2 * kMailboxNameSize + 3];
    FormatImapArgument(argument, sizeof argument, mailbox);
    ExchangeCommand(instance, connection, reply, '2', "2 EXAMINE %s%c%c", argument, 13, 10);
    if (HasImapOk(reply->text, '2'))
        return true;
    if (account->folder[0] != '\0' && HasImapNo(reply->text, '2'))
        SetReplyFailure(reply, "rejected by the server: reply to EXAMINE of Folder \"%s\" (%s)", account->folder,
                        mailbox);
    return false;
}

// Whether the EXAMINE reply gives what counting by UID needs; a reason line when not.
bool CanCountByUid(const DockletInstance* instance, const char* examined, uint32_t* validity, uint32_t* uidNext) {
    if (!instance->seen)
        return false;
    if (ReadImapCodeNumber(examined, "UIDVALIDITY", validity) && ReadImapCodeNumber(examined, "UIDNEXT", uidNext))
        return true;
    if (instance->debug)
        WriteDebugLog(instance, "    CountNew: no UIDVALIDITY or UIDNEXT in the reply to EXAMINE: counting every "
                                "unseen message");
    return false;
}

}  // namespace

bool LogInToImap(const DockletInstance* instance, const MailAccount* account, BearerLogin* bearer,
                 ImapSession* session) {
    if (bearer) {
        bearer->refused = false;
        bearer->accepted = false;
    }
    Reply* reply = &session->reply;
    InitReply(reply);
    session->connection = OpenServerConnection(instance, reply, account);
    Connection** connection = &session->connection;
    bool accepted = HasImapOk(reply->text, '*');
    // What a greeting in clear announces may be anyone's word: after STARTTLS
    // literals wait for the server's go-ahead, which every server gives.
    const bool trusted = account->security != kSecurityStartTls;
    bool literalPlus = trusted && AnnouncesLiteralPlus(reply->text);
    bool initialResponse = trusted && AnnouncesSaslIr(reply->text);
    session->idle = trusted && AnnouncesIdle(reply->text);
    if (accepted && account->security == kSecurityStartTls) {
        // Tag 0, so that the commands after it keep the tags they have in clear.
        ExchangeCommand(instance, connection, reply, '0', "0 STARTTLS%c%c", 13, 10);
        accepted = HasImapOk(reply->text, '0');
        if (!accepted && reply->length > 0)
            SetReplyFailure(reply, "STARTTLS refused");
        accepted = accepted && StartTlsOnConnection(instance, connection, reply, account);
    }
    if (accepted && bearer) {
        accepted = Authenticate(instance, connection, reply, account, bearer, initialResponse);
    } else if (accepted) {
        accepted = LogIn(instance, connection, reply, account, literalPlus);
        if (!accepted)
            NoteLoginRefusal(reply, account);
    }
    // Servers often list their capabilities again once logged in.
    session->idle = session->idle || (accepted && AnnouncesIdle(reply->text));
    return accepted;
}

bool ExamineFolder(const DockletInstance* instance, const MailAccount* account, ImapSession* session) {
    return Examine(instance, &session->connection, &session->reply, account);
}

void LogOutOfImap(const DockletInstance* instance, ImapSession* session) {
    // The LOGOUT reply is read and logged but decides nothing.
    ExchangeLastCommand(instance, &session->connection, &session->reply, '4', "4 LOGOUT\r\n");
    CloseServerConnection(instance, &session->connection);
}

void AbandonImapSession(const DockletInstance* instance, ImapSession* session) {
    LogReplyFailure(instance, &session->reply);
    DisconnectFromServer(&session->connection);
}

void ChooseImapCounting(const DockletInstance* instance, const MailAccount* account,
                        const ImapSession* session, ImapCounting* counting) {
    *counting = ImapCounting{};
    counting->byUid = account->countNew && CanCountByUid(instance, session->reply.text,
                                                         &counting->validity, &counting->uidNext);
}

bool SearchUnseen(const DockletInstance* instance, ImapSession* session, char tag, int* count) {
    *count = -1;
    ExchangeCommand(instance, &session->connection, &session->reply, tag, "%c SEARCH UNSEEN%c%c",
                    tag, 13, 10);
    if (!HasImapOk(session->reply.text, tag))
        return false;
    *count = CountSearchResults(session->reply.text);
    return true;
}

bool SearchUnseenAbove(const DockletInstance* instance, ImapSession* session, char tag,
                       uint32_t floor, ImapUidsAbove* found) {
    *found = ImapUidsAbove{-1, 0};
    // Unseen as well: what the user has read elsewhere since is not new either.
    ExchangeCommand(instance, &session->connection, &session->reply, tag,
                    "%c UID SEARCH UNSEEN UID %lu:*%c%c", tag,
                    static_cast<unsigned long>(floor < UINT32_MAX ? floor + 1 : floor), 13, 10);
    if (!HasImapOk(session->reply.text, tag))
        return false;
    found->count = CountUidsAbove(session->reply.text, floor, &found->largest);
    return true;
}
