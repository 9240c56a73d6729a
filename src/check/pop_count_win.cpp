#include "check/pop_count_win.h"

#include <climits>

#include "check/seen_board_win.h"
#include "log/debug_log.h"
#include "mail/local_counts_win.h"
#include "mail/pop_check.h"
#include "mail/pop_reply.h"
#include "net/server_connection.h"

namespace {

// With CountNew: how many ids of the UIDL listing came since the last click.
// -1, with a reason line, when the server gives no usable listing: the check
// then counts as it would without CountNew. When the item goes away
// meanwhile, the connection is closed without a word to the server.
int CountNewByUidl(const DockletInstance* instance, const MailAccount* account, PopSession* session) {
    UidlReply said;
    // Lost on the way: the check fails with the connection's reason.
    if (!ListPopUids(instance, session, &said))
        return -1;
    UidSet listing = {};
    const StopProbe stop = ItemStopProbe(instance);
    const UidlRead read =
        said.listed ? ReadUidlListing(said.text, said.length, &listing, &stop) : kUidlBad;
    const int fresh = read == kUidlRead ? CountNewPopIds(instance, account, &listing) : 0;
    if (read == kUidlStopped || fresh == -1) {
        session->reply.stopped = true;
        DisconnectFromServer(&session->connection);
        return -1;
    }
    if (read == kUidlRead)
        return fresh;
    if (instance->debug)
        WriteDebugLog(instance, "    CountNew: %s: counting every message",
                      read == kUidlNoMemory ? "no memory for the reply to UIDL"
                      : said.listed         ? "the reply to UIDL is no listing of unique-ids"
                                            : "the server has no UIDL");
    return -1;
}

} // namespace

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

    PopSession session;
    bool accepted = OpenPopMailbox(instance, account, bearer, &session);
    int serverCount = 0;
    const StatCount stat = accepted ? ParseStatCount(session.reply.text, &serverCount) : kStatNoCount;
    int fresh = -1;
    if (accepted && account->countNew && instance->seen) {
        fresh = CountNewByUidl(instance, account, &session);
        accepted = session.connection != nullptr;
    }

    int result = -1;
    if (accepted) {
        QuitPop(instance, &session);
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
        AbandonPopSession(instance, &session);
    }
    FreeReply(&session.reply);
    return result;
}
