#pragma once
#include <cstdint>

#include "config/mail_account.h"
#include "docklet/docklet_instance.h"
#include "mail/bearer_login.h"
#include "net/reply.h"

struct Connection;

// Counts the unseen messages in the account's IMAP inbox: LOGIN, EXAMINE
// INBOX, SEARCH UNSEEN, LOGOUT. Returns the count, or -1 when the check
// failed. Blocks the calling check worker on the server, within the
// instance's time-out; writes its dialogue to the debug log. With a bearer,
// AUTHENTICATE XOAUTH2 with its access token takes the place of LOGIN, and
// bearer->refused tells whether the server refused that token.
int CheckImapAccount(const DockletInstance* instance, const MailAccount* account,
                     BearerLogin* bearer);

// The check's steps, for a dialogue that keeps the connection afterwards (IDLE).
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
    uint32_t highest; // by UID: the highest UID the last count saw, which a click makes not new
};

// After EXAMINE, from its reply; a reason line when CountNew cannot count by UID.
void ChooseImapCounting(const DockletInstance* instance, const MailAccount* account,
                        const ImapSession* session, ImapCounting* counting);
// Searches as counting says, above the mark as it is now; true on the
// server's OK. *count: the count, -1 when the answer holds none.
bool SearchAndCount(const DockletInstance* instance, const MailAccount* account,
                    ImapSession* session, ImapCounting* counting, char tag, int* count);
// "4 LOGOUT", then the normal close.
void LogOutOfImap(const DockletInstance* instance, ImapSession* session);
// Gives up: writes the reply's reason line and closes without a word.
void AbandonImapSession(const DockletInstance* instance, ImapSession* session);
