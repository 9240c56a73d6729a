#pragma once
#include <cstdint>

#include "config/mail_account.h"
#include "docklet/docklet_instance.h"
#include "mail/bearer_login.h"
#include "net/reply.h"

struct Connection;

// The steps of an IMAP check, for a caller that judges what the server said
// between them, and for a dialogue that keeps the connection afterwards
// (IDLE). Each blocks the calling worker on the server, within the
// instance's time-out, and writes its dialogue to the debug log. With a
// bearer, AUTHENTICATE XOAUTH2 with its access token takes the place of
// LOGIN, and bearer->refused tells whether the server refused that token.
struct ImapSession {
    Connection* connection; // null once closed
    Reply reply;            // the last reply; FreeReply it when done
    bool idle;              // the server announced IDLE before or at its login
};

// Connects, secures and logs in as the check does; false when the dialogue
// cannot go on (the reply says why). Initialises session->reply either way.
bool LogInToImap(const DockletInstance* instance, const MailAccount* account, BearerLogin* bearer,
                 ImapSession* session);
// "2 EXAMINE" of the account's Folder (INBOX without one); true on the server's OK.
bool ExamineFolder(const DockletInstance* instance, const MailAccount* account, ImapSession* session);
// What the session counts: every unseen message, or with CountNew (and the
// UIDVALIDITY and UIDNEXT it needs from EXAMINE) the unseen ones above the
// user's last click.
struct ImapCounting {
    bool byUid;
    uint32_t validity;
    uint32_t uidNext; // as EXAMINE gave it
    uint32_t highest; // by UID: the highest UID the last count saw, which a click makes not new;
                      // set by whoever judges the count
};

// After EXAMINE, from its reply; a reason line when CountNew cannot count by UID.
void ChooseImapCounting(const DockletInstance* instance, const MailAccount* account,
                        const ImapSession* session, ImapCounting* counting);
// "<tag> SEARCH UNSEEN"; true on the server's OK. *count: how many it
// found, -1 when the answer holds none.
bool SearchUnseen(const DockletInstance* instance, ImapSession* session, char tag, int* count);
// What the server found unseen above the floor the caller gave.
struct ImapUidsAbove {
    int count;        // -1 when the answer holds none
    uint32_t largest; // the largest of them, 0 when none
};
// "<tag> UID SEARCH UNSEEN UID <floor + 1>:*"; true on the server's OK.
bool SearchUnseenAbove(const DockletInstance* instance, ImapSession* session, char tag,
                       uint32_t floor, ImapUidsAbove* found);
// "4 LOGOUT", then the normal close.
void LogOutOfImap(const DockletInstance* instance, ImapSession* session);
// Gives up: writes the reply's reason line and closes without a word.
void AbandonImapSession(const DockletInstance* instance, ImapSession* session);
