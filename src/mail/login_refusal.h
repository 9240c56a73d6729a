#pragma once
#include "config/mail_account.h"
#include "net/reply.h"

// After the server refused the login step (IMAP LOGIN, POP3 PASS): with no
// Password set, the likeliest cause goes into the reason line. A reply that
// failed for another reason (none came, the item is going away) is left alone.
void NoteLoginRefusal(Reply* reply, const MailAccount* account);
