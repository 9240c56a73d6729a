#include "check/imap_count_win.h"

#include "check/seen_board_win.h"
#include "log/debug_log.h"

bool CountImapMailbox(const DockletInstance* instance, const MailAccount* account,
                      ImapSession* session, ImapCounting* counting, char tag, int* count) {
    *count = -1;
    if (!counting->byUid)
        return SearchUnseen(instance, session, tag, count);
    // RFC 3501 section 2.3.1.1: UIDs only grow while UIDVALIDITY stays.
    uint32_t floor = SeenImapFloor(instance, account, counting->validity, counting->uidNext);
    uint32_t highest = 0;
    for (int round = 1;; ++round) {
        ImapUidsAbove found;
        if (!SearchUnseenAbove(instance, session, tag, floor, &found))
            return false;
        const uint32_t examined = counting->uidNext - 1 > floor ? counting->uidNext - 1 : floor;
        highest = found.largest > examined ? found.largest : examined;
        *count = found.count;
        // A click while the search was under way moved the mark: part of
        // what it found is no longer new.
        const uint32_t moved =
            SeenImapFloor(instance, account, counting->validity, counting->uidNext);
        if (moved == floor || round == 3)
            break;
        floor = moved;
    }
    if (*count != -1) {
        counting->highest = highest;
        NoteImapObserved(instance, account, counting->validity, highest);
    }
    return true;
}

int CheckImapAccount(const DockletInstance* instance, const MailAccount* account,
                     BearerLogin* bearer) {
    ImapSession session;
    bool accepted = LogInToImap(instance, account, bearer, &session) &&
                    ExamineFolder(instance, account, &session);
    ImapCounting counting;
    if (accepted)
        ChooseImapCounting(instance, account, &session, &counting);
    int count = -1;
    if (accepted && CountImapMailbox(instance, account, &session, &counting, '3', &count)) {
        LogOutOfImap(instance, &session);
        if (instance->debug)
            WriteDebugLog(instance, "    Nb Messages: %d", count);
        // Accepted, yet without the search's answer.
        if (count == -1 && instance->debug)
            WriteDebugLog(instance, "    Error: rejected by the server: reply to SEARCH");
    } else {
        AbandonImapSession(instance, &session);
    }
    FreeReply(&session.reply);
    return count;
}
