#pragma once
#include "config/mail_account.h"
#include "docklet/docklet_instance.h"

// The POP3 check's local figures, read as calls the check can abandon: a DBX
// file on a share that hangs, or a registry that does not answer, holds the
// check no longer than the instance's time-out, and teardown not at all.

// CountDbxMessages over the account's files, one abandonable read each, into
// *count. False when a file could not be read in time, whose index is then in
// *unreadable, or when the item is going away (*unreadable is -1).
bool CountDbxMessagesUnlessStopped(const DockletInstance* instance, const MailAccount* account, int* count,
                                   int* unreadable);

// ReadRegistryCount; -1 also when the read does not end in time.
int ReadRegistryCountUnlessStopped(const DockletInstance* instance, const char* path);
