#include "mail/imap_idle_win.h"

#include <windows.h>

#include <cstring>

#include "log/debug_log.h"
#include "mail/idle_lines.h"
#include "mail/imap_check.h"
#include "mail/imap_reply.h"
#include "net/reply_scan.h"
#include "net/server_connection.h"

namespace {

// The server's go-ahead: a continuation request on a line of its own, which
// may follow untagged lines or be followed by them.
bool StartsIdling(const char* reply) {
    return reply[0] == '+' || strstr(reply, "\n+") != nullptr;
}

// The end of a dialogue that cannot go on.
int Abandon(const DockletInstance* instance, ImapSession* session) {
    const bool stopped = session->reply.stopped;
    AbandonImapSession(instance, session);
    return stopped ? kIdleStopped : kIdleDropped;
}

// Searches and counts; false when the dialogue cannot go on.
bool Count(const DockletInstance* instance, const MailAccount* account, ImapSession* session,
           ImapCounting* counting, char tag, const IdleListener* listener) {
    int count = -1;
    if (!SearchAndCount(instance, account, session, counting, tag, &count))
        return false;
    if (count == -1) {
        SetReplyFailure(&session->reply, "rejected by the server: %s", session->reply.step);
        return false;
    }
    if (instance->debug)
        WriteDebugLog(instance, "    Nb Messages: %d", count);
    listener->counted(listener->context, count, counting);
    return true;
}

// Waits in IDLE until the server announces a change or the renewal is due;
// false when the connection ended or the server talks on without news.
// Lines are logged and judged once whole; whatever is not yet judged when
// IDLE ends goes back to the connection, ahead of DONE's reply.
bool WaitInIdle(const DockletInstance* instance, ImapSession* session,
                const IdleListener* listener) {
    Reply* reply = &session->reply;
    // The go-ahead may come after untagged lines of its own.
    if (AnnouncesMailboxChange(reply->text))
        return true;
    EmptyReply(reply);
    IdleLines lines = StartIdleLines();
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - start;
        if (spent >= listener->renewMs) {
            if (instance->debug)
                WriteDebugLog(instance, "    IDLE renewed after %u s", listener->renewMs / 1000);
            return PutBackServerBytes(&session->connection, reply, 0);
        }
        const ServerBytes came = AwaitServerBytes(instance, &session->connection, reply,
                                                  listener->renewMs - spent);
        if (came == kConnectionEnded)
            return false;
        if (came == kNothingInTime)
            continue;
        size_t whole = 0;
        const IdleNews news = ReadIdleLines(&lines, reply->text, reply->length, &whole);
        if (whole > 0 && instance->debug)
            WriteDebugLog(instance, "    %.*s", static_cast<int>(whole), reply->text);
        if (news == kIdleChanged)
            return PutBackServerBytes(&session->connection, reply, whole);
        if (news == kIdleTalksOn) {
            SetReplyFailure(reply, "the server talked on without news while idling (more than %u bytes)",
                            static_cast<unsigned>(kMaxIdleTalk));
            return false;
        }
        reply->length -= whole;
        memmove(reply->text, reply->text + whole, reply->length + 1);
    }
}

} // namespace

int WatchImapAccount(const DockletInstance* instance, const MailAccount* account,
                     BearerLogin* bearer, const IdleListener* listener) {
    ImapSession session;
    bool accepted = LogInToImap(instance, account, bearer, &session);
    // RFC 2177: only a server that says so may be asked; one round trip when
    // neither the greeting nor the login said.
    if (accepted && !session.idle) {
        ExchangeCommand(instance, &session.connection, &session.reply, '7', "7 CAPABILITY%c%c", 13,
                        10);
        accepted = HasImapOk(session.reply.text, '7');
        session.idle = accepted && AnnouncesIdle(session.reply.text);
    }
    accepted = accepted && ExamineFolder(instance, account, &session);
    ImapCounting counting;
    if (accepted)
        ChooseImapCounting(instance, account, &session, &counting);
    accepted = accepted && Count(instance, account, &session, &counting, '3', listener);
    if (!accepted)
        return Abandon(instance, &session);
    if (!session.idle) {
        LogOutOfImap(instance, &session);
        FreeReply(&session.reply);
        if (instance->debug)
            WriteDebugLog(
                instance,
                "    The server does not announce IDLE: this account is checked periodically");
        return kIdleNotOffered;
    }
    for (;;) {
        ExchangeCommand(instance, &session.connection, &session.reply, kIdleReplyEnd, "5 IDLE%c%c",
                        13, 10);
        if (!StartsIdling(session.reply.text))
            return Abandon(instance, &session);
        listener->idling(listener->context);
        if (!WaitInIdle(instance, &session, listener))
            return Abandon(instance, &session);
        // RFC 2177: DONE ends IDLE, and its tagged reply comes before the next command.
        ExchangeCommand(instance, &session.connection, &session.reply, '5', "DONE%c%c", 13, 10);
        if (!HasImapOk(session.reply.text, '5') ||
            !Count(instance, account, &session, &counting, '6', listener))
            return Abandon(instance, &session);
    }
}
