#pragma once
#include "config/mail_account.h"
#include "docklet/docklet_instance.h"
#include "mail/bearer_login.h"
#include "mail/imap_check.h"

// Counts the unseen messages in the account's IMAP inbox: LOGIN, EXAMINE
// INBOX, SEARCH UNSEEN, LOGOUT. Returns the count, or -1 when the check
// failed. Blocks the calling check worker on the server, within the
// instance's time-out; writes its dialogue to the debug log. With a bearer,
// AUTHENTICATE XOAUTH2 with its access token takes the place of LOGIN, and
// bearer->refused tells whether the server refused that token.
int CheckImapAccount(const DockletInstance* instance, const MailAccount* account,
                     BearerLogin* bearer);

// Searches as counting says and counts: every unseen message, or with
// CountNew the unseen ones above the user's last click, searched again when
// a click moves the mark meanwhile; true on the server's OK. *count: the
// count, -1 when the answer holds none. An ImapCount for the idle dialogue.
bool CountImapMailbox(const DockletInstance* instance, const MailAccount* account,
                      ImapSession* session, ImapCounting* counting, char tag, int* count);
