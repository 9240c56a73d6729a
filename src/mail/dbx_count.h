#pragma once
#include "config/mail_account.h"

// The number of messages in the account's local DBX mail folder files: the
// sum of the counts their headers keep (0 with no files), or -1 as soon as
// one file cannot be opened or is shorter than its 208-byte header. The files
// are only read, one at a time, without keeping other programs out.
int CountDbxMessages(const MailAccount* account);
