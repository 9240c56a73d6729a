#include "mail/pop_check.h"

#include <climits>
#include <cstring>

#include "check/seen_board_win.h"
#include "log/debug_log.h"
#include "mail/local_counts_win.h"
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

// With CountNew: UIDL, and how many of its ids came since the last click.
// -1, with a reason line, when the server gives no usable listing: the check
// then counts as it would without CountNew. When the item goes away
// meanwhile, the connection is closed without a word to the server.
int CountNewByUidl(const DockletInstance* instance, Connection** connection, Reply* reply,
                   const MailAccount* account) {
    if (instance->debug)
        WriteDebugLog(instance, "    %s", "UIDL\r\n");
    ExchangeUnshown(instance, connection, reply, kPopListEnd, "UIDL\r\n");
    LogListing(instance, reply);
    // Lost on the way: the check fails with the connection's reason.
    if (!*connection)
        return -1;
    UidSet listing = {};
    const StopProbe stop = ItemStopProbe(instance);
    const UidlRead read = IsPopOk(reply->text)
                              ? ReadUidlListing(reply->text, reply->length, &listing, &stop)
                              : kUidlBad;
    const int fresh = read == kUidlRead ? CountNewPopIds(instance, account, &listing) : 0;
    if (read == kUidlStopped || fresh == -1) {
        reply->stopped = true;
        DisconnectFromServer(connection);
        return -1;
    }
    if (read == kUidlRead)
        return fresh;
    if (instance->debug)
        WriteDebugLog(instance, "    CountNew: %s: counting every message",
                      read == kUidlNoMemory       ? "no memory for the reply to UIDL"
                      : IsPopOk(reply->text) ? "the reply to UIDL is no listing of unique-ids"
                                              : "the server has no UIDL");
    return -1;
}

}  // namespace

int CheckPopAccount(const DockletInstance* instance, const MailAccount* account, BearerLogin* bearer) {
    if (bearer) {
        bearer->refused = false;
        bearer->accepted = false;
    }
    int localCount;
    int unreadable;
    DbxCountOutcome local = CountDbxMessagesUnlessStopped(instance, account, &localCount, &unreadable);
    if (local == kDbxStopped)
        return -1;
    if (instance->debug)
        WriteDebugLog(instance, "    Nb messages in DBX file: %d", localCount);
    if (local != kDbxCounted) {
        if (instance->debug)
            WriteDebugLog(instance, "    Error: %s: %s", DbxFailure(local), account->dbxPaths[unreadable]);
        return -1;
    }
    if (account->registryPath[0] != '\0') {
        int unread = ReadRegistryCountUnlessStopped(instance, account->registryPath);
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
        if (!accepted && reply.length > 0)
            SetReplyFailure(&reply, "STLS refused");
        accepted = accepted && StartTlsOnConnection(instance, &connection, &reply, account);
    }
    if (accepted && bearer) {
        accepted = Authenticate(instance, &connection, &reply, account, bearer);
    } else if (accepted) {
        ExchangeCommand(instance, &connection, &reply, 0, "USER %s%c%c", account->login, 13, 10);
        accepted = IsPopOk(reply.text);
    }
    if (accepted && !bearer) {
        char pass[kAccountTextSize + 8];
        FormatText(pass, sizeof pass, "PASS %s%c%c", account->password, 13, 10);
        ExchangeCommandShown(instance, &connection, &reply, 0, pass,
                             account->maskPassword ? "PASS ********\r\n" : pass);
        accepted = IsPopOk(reply.text);
        if (!accepted)
            NoteLoginRefusal(&reply, account);
    }
    if (accepted) {
        ExchangeCommand(instance, &connection, &reply, 0, "STAT%c%c", 13, 10);
        accepted = IsPopOk(reply.text);
    }

    int serverCount = 0;
    const StatCount stat = accepted ? ParseStatCount(reply.text, &serverCount) : kStatNoCount;
    int fresh = -1;
    if (accepted && account->countNew && instance->seen) {
        fresh = CountNewByUidl(instance, &connection, &reply, account);
        accepted = connection != nullptr;
    }

    int result = -1;
    if (accepted) {
        // The QUIT reply is read and logged but decides nothing.
        ExchangeLastCommand(instance, &connection, &reply, 0, "QUIT\r\n");
        CloseServerConnection(instance, &connection);
        if (fresh != -1) {
            result = fresh;
            if (instance->debug)
                WriteDebugLog(instance, "    Nb new messages in the server: %d", fresh);
        } else if (stat == kStatCounted) {
            if (instance->debug)
                WriteDebugLog(instance, "    Nb messages in the server: %d", serverCount);
            result = static_cast<int>(static_cast<unsigned>(serverCount) - static_cast<unsigned>(localCount));
            // More messages kept locally than on the server is no failure: nothing new.
            if (result < 0)
                result = 0;
        } else if (stat == kStatTooLarge) {
            // Accepted, yet without a count that could be shown: never "no mail".
            if (instance->debug)
                WriteDebugLog(instance, "    Error: message count past %d in the reply to STAT", INT_MAX);
        } else if (instance->debug) {
            WriteDebugLog(instance, "    Error: no message count in the reply to STAT");
        }
    } else {
        LogReplyFailure(instance, &reply);
        DisconnectFromServer(&connection);
    }
    FreeReply(&reply);
    return result;
}
