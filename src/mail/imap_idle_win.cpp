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
    if (!listener->count(instance, account, session, counting, tag, &count))
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

// Why IDLE ends.
enum IdleLeave {
    kConnectionGone, // ended, or the server talks on without news: the reply says why
    kMailboxChanged, // a line announced a change
    kRenewalDue,     // the renewal time of this IDLE has come
    kRecountAsked,   // a check wants a count now
    kCheckInDue,     // the server has said nothing for the check-in time
};

DWORD Remaining(DWORD since, DWORD now, DWORD spanMs) {
    const DWORD spent = now - since;
    return spent >= spanMs ? 0 : spanMs - spent;
}

// Waits in IDLE until the server announces a change, the renewal (renewMs
// after the count at countedAt) or the check-in is due, or a check asks for
// a count. Lines are logged and judged once whole; whatever is not yet
// judged when IDLE ends goes back to the connection, ahead of DONE's reply.
IdleLeave WaitInIdle(const DockletInstance* instance, ImapSession* session,
                     const IdleListener* listener, DWORD countedAt) {
    Reply* reply = &session->reply;
    // The go-ahead may come after untagged lines of its own.
    if (AnnouncesMailboxChange(reply->text))
        return kMailboxChanged;
    EmptyReply(reply);
    IdleLines lines = StartIdleLines();
    DWORD heard = GetTickCount();
    for (;;) {
        const DWORD now = GetTickCount();
        const DWORD renewIn = Remaining(countedAt, now, listener->renewMs);
        const DWORD checkInIn = Remaining(heard, now, listener->checkInMs);
        IdleLeave due = renewIn == 0 ? kRenewalDue : checkInIn == 0 ? kCheckInDue : kConnectionGone;
        if (due == kRenewalDue && instance->debug)
            WriteDebugLog(instance, "    IDLE renewed after %u s", listener->renewMs / 1000);
        if (due == kCheckInDue && instance->debug)
            WriteDebugLog(
                instance,
                "    No word from the server for %u s: IDLE again, DONE's answer awaited %u s",
                listener->checkInMs / 1000, listener->quickMs / 1000);
        if (due != kConnectionGone)
            return PutBackServerBytes(&session->connection, reply, 0) ? due : kConnectionGone;
        const ServerBytes came =
            AwaitServerBytes(&session->connection, reply, renewIn < checkInIn ? renewIn : checkInIn,
                             listener->recount);
        if (came == kConnectionEnded)
            return kConnectionGone;
        if (came == kWokenUp) {
            if (instance->debug)
                WriteDebugLog(instance, "    A check asks for a count: IDLE ends");
            return PutBackServerBytes(&session->connection, reply, 0) ? kRecountAsked
                                                                      : kConnectionGone;
        }
        if (came == kNothingInTime)
            continue;
        heard = GetTickCount();
        listener->heard(listener->context, false);
        size_t whole = 0;
        const IdleNews news = ReadIdleLines(&lines, reply->text, reply->length, &whole);
        if (whole > 0 && instance->debug)
            WriteDebugLog(instance, "    %.*s", static_cast<int>(whole), reply->text);
        if (news == kIdleChanged)
            return PutBackServerBytes(&session->connection, reply, whole) ? kMailboxChanged
                                                                          : kConnectionGone;
        if (news == kIdleTalksOn) {
            SetReplyFailure(reply,
                            "the server talked on without news while idling (more than %u bytes)",
                            static_cast<unsigned>(kMaxIdleTalk));
            return kConnectionGone;
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
    InterruptConnectionWith(session.connection, listener->interrupt);
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
    DWORD countedAt = GetTickCount();
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
        ExchangeQuickCommand(instance, &session.connection, &session.reply, kIdleReplyEnd,
                             listener->quickMs, "5 IDLE\r\n");
        if (!StartsIdling(session.reply.text))
            return Abandon(instance, &session);
        listener->idling(listener->context);
        const IdleLeave leave = WaitInIdle(instance, &session, listener, countedAt);
        if (leave == kConnectionGone)
            return Abandon(instance, &session);
        // RFC 2177: DONE ends IDLE, and its tagged reply comes before the next
        // command. A server that does not give it at once is taken for gone.
        ExchangeQuickCommand(instance, &session.connection, &session.reply, '5', listener->quickMs,
                             "DONE\r\n");
        if (!HasImapOk(session.reply.text, '5'))
            return Abandon(instance, &session);
        listener->heard(listener->context, true);
        if (leave == kCheckInDue && !AnnouncesMailboxChange(session.reply.text))
            continue;
        if (!Count(instance, account, &session, &counting, '6', listener))
            return Abandon(instance, &session);
        countedAt = GetTickCount();
    }
}
