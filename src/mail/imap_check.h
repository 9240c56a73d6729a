#pragma once
#include "config/mail_account.h"
#include "mail/bearer_login.h"
#include "docklet/docklet_instance.h"

// Counts the unseen messages in the account's IMAP inbox: LOGIN, EXAMINE
// INBOX, SEARCH UNSEEN, LOGOUT. Returns the count, or -1 when the check
// failed. Blocks the calling check worker on the server, within the
// instance's time-out; writes its dialogue to the debug log. With a bearer,
// AUTHENTICATE XOAUTH2 with its access token takes the place of LOGIN, and
// bearer->refused tells whether the server refused that token.
int CheckImapAccount(const DockletInstance* instance, const MailAccount* account, BearerLogin* bearer);
