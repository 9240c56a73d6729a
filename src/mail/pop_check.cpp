#include "mail/pop_check.h"

#include <cstring>

#include "log/debug_log.h"
#include "mail/login_refusal.h"
#include "mail/pop_reply.h"
#include "net/reply_scan.h"
#include "net/server_connection.h"
#include "signin/xoauth2.h"

namespace {

// Sends the access token with AUTH XOAUTH2 (RFC 5034) and tells whether the
// server accepted it. The token goes on a line of its own after the server's
// "+": some servers take no initial response on the AUTH line. A refused
// token comes back as a challenge, answered with an empty line before the
// -ERR follows.
bool Authenticate(const DockletInstance* instance, Connection** connection, Reply* reply,
                  const MailAccount* account, BearerLogin* bearer) {
    char why[sizeof reply->failure];
    char* line = FormXoauth2Line("", account->login, bearer->accessToken, why, sizeof why);
    if (!line) {
        SetReplyFailure(reply, "%s", why);
        return false;
    }
    ExchangeCommand(instance, connection, reply, 0, "AUTH XOAUTH2%c%c", 13, 10);
    const bool asked = FindPopContinuation(reply->text) != nullptr;
    if (asked)
        ContinueCommandShown(instance, connection, reply, 0, line, "<hidden>\r\n");
    FreeSecretLine(line);
    // Refused before any token went: the server knows no XOAUTH2.
    if (!asked)
        return false;
    char challenge[256] = "";
    const char* text = FindPopContinuation(reply->text);
    if (text) {
        DescribeXoauth2Challenge(text, strcspn(text, "\r\n"), challenge, sizeof challenge);
        ContinueCommand(instance, connection, reply, 0, "\r\n");
    }
    if (IsPopOk(reply->text)) {
        bearer->accepted = true;
        return true;
    }
    bearer->refused = strncmp(reply->text, "-ERR", 4) == 0;
    if (bearer->refused && challenge[0] != '\0')
        SetReplyFailure(reply, "rejected by the server: %s (%s)", reply->step, challenge);
    return false;
}

// A listing is shown whole up to this many bytes, some thousands of ids;
// beyond, up to a line end within them and how much more came. Written
// whole, a listing of megabytes would fill the log at every check and hold
// the worker longer than an item's teardown may take.
const size_t kListingShown = 64 * 1024;

void LogListing(const DockletInstance* instance, const Reply* reply) {
    if (!instance->debug)
        return;
    if (reply->length <= kListingShown) {
        WriteDebugLog(instance, "    %s", reply->text);
        return;
    }
    size_t shown = kListingShown;
    while (shown > 0 && reply->text[shown - 1] != '\n')
        --shown;
    WriteDebugLog(instance, "    %.*s... (%lu bytes more)", static_cast<int>(shown), reply->text,
                  static_cast<unsigned long>(reply->length - shown));
}

}  // namespace

bool OpenPopMailbox(const DockletInstance* instance, const MailAccount* account, BearerLogin* bearer,
                    PopSession* session) {
    Reply* reply = &session->reply;
    InitReply(reply);
    session->connection = OpenServerConnection(instance, reply, account);
    Connection** connection = &session->connection;
    bool accepted = IsPopOk(reply->text);
    if (accepted && account->security == kSecurityStartTls) {
        ExchangeCommand(instance, connection, reply, 0, "STLS%c%c", 13, 10);
        accepted = IsPopOk(reply->text);
        if (!accepted && reply->length > 0)
            SetReplyFailure(reply, "STLS refused");
        accepted = accepted && StartTlsOnConnection(instance, connection, reply, account);
    }
    if (accepted && bearer) {
        accepted = Authenticate(instance, connection, reply, account, bearer);
    } else if (accepted) {
        ExchangeCommand(instance, connection, reply, 0, "USER %s%c%c", account->login, 13, 10);
        accepted = IsPopOk(reply->text);
    }
    if (accepted && !bearer) {
        char pass[kAccountTextSize + 8];
        FormatText(pass, sizeof pass, "PASS %s%c%c", account->password, 13, 10);
        ExchangeCommandShown(instance, connection, reply, 0, pass,
                             account->maskPassword ? "PASS ********\r\n" : pass);
        accepted = IsPopOk(reply->text);
        if (!accepted)
            NoteLoginRefusal(reply, account);
    }
    if (accepted) {
        ExchangeCommand(instance, connection, reply, 0, "STAT%c%c", 13, 10);
        accepted = IsPopOk(reply->text);
    }
    return accepted;
}

bool ListPopUids(const DockletInstance* instance, PopSession* session, UidlReply* said) {
    Reply* reply = &session->reply;
    if (instance->debug)
        WriteDebugLog(instance, "    %s", "UIDL\r\n");
    ExchangeUnshown(instance, &session->connection, reply, kPopListEnd, "UIDL\r\n");
    LogListing(instance, reply);
    *said = UidlReply{IsPopOk(reply->text), reply->text, reply->length};
    return session->connection != nullptr;
}

void QuitPop(const DockletInstance* instance, PopSession* session) {
    // The QUIT reply is read and logged but decides nothing.
    ExchangeLastCommand(instance, &session->connection, &session->reply, 0, "QUIT\r\n");
    CloseServerConnection(instance, &session->connection);
}

void AbandonPopSession(const DockletInstance* instance, PopSession* session) {
    LogReplyFailure(instance, &session->reply);
    DisconnectFromServer(&session->connection);
}
