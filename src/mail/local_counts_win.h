#pragma once
#include "config/mail_account.h"
#include "docklet/docklet_instance.h"

// The POP3 check's local figures, read as calls the check can abandon: a DBX
// file on a share that hangs, or a registry that does not answer, holds the
// check no longer than the instance's time-out, and teardown not at all. A
// read left hanging holds its file (or value) until it ends: checks of any
// item that name it meanwhile fail at once rather than leave another behind.

enum DbxCountOutcome {
    kDbxCounted,          // every file read: *count is their total
    kDbxUnreadable,       // a file could not be read in time: its index is in *unreadable
    kDbxStillUnanswered,  // a file's read from an earlier check still hangs: its index is in *unreadable
    kDbxStopped,          // the item is going away: nothing failed
};

// CountDbxMessages over the account's files, one abandonable read each, into *count.
DbxCountOutcome CountDbxMessagesUnlessStopped(const DockletInstance* instance, const MailAccount* account,
                                              int* count, int* unreadable);

// Why the count failed, for the log line that names the file: an outcome
// other than kDbxCounted and kDbxStopped.
const char* DbxFailure(DbxCountOutcome outcome);

// ReadRegistryCount; -1 also when the read does not end in time, or an
// earlier read of the same value still hangs.
int ReadRegistryCountUnlessStopped(const DockletInstance* instance, const char* path);
