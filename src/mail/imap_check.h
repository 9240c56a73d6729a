#pragma once
#include "config/mail_account.h"
#include "docklet/docklet_instance.h"

// Counts the unseen messages in the account's IMAP inbox: LOGIN, EXAMINE
// INBOX, SEARCH UNSEEN, LOGOUT. Returns the count, or -1 when the check
// failed. Blocks the calling check worker on the server, within the
// instance's time-out; writes its dialogue to the debug log.
int CheckImapAccount(const DockletInstance* instance, const MailAccount* account);
