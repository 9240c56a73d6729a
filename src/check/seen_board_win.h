#pragma once
#include <cstdint>

#include "check/seen_state.h"
#include "docklet/docklet_instance.h"

// The marks of the item's CountNew accounts, shared by its check workers and
// the host's thread, and their file TidewellDocklet.seen in the docklet
// folder. The workers read the file once, on first need, and write it after
// a change; the host's thread only moves marks in memory.
struct SeenBoard;

// Made by OnCreate when an account counts new (else null); freed by OnDestroy
// once the workers have ended.
SeenBoard* MakeSeenBoard(const DockletInstance* instance);
void FreeSeenBoard(SeenBoard* board);

// On a check worker, for an IMAP account after EXAMINE: the highest UID that
// is not new. Without a mark for the account, or with one for another
// UIDVALIDITY, everything up to uidNext - 1 becomes not new (with a reason line).
uint32_t SeenImapFloor(const DockletInstance* instance, const MailAccount* account,
                       uint32_t validity, uint32_t uidNext);
// After the search: what a click makes not new.
void NoteImapObserved(const DockletInstance* instance, const MailAccount* account,
                      uint32_t validity, uint32_t highest);

// Whether the account's mark makes every UID up to highest not new: a
// count that saw no UID above it is 0 since the last click.
bool SeenImapReaches(const DockletInstance* instance, const MailAccount* account, uint32_t validity,
                     uint32_t highest);

// On a check worker, for a POP3 account: how many ids of the listing are
// new; takes the listing (freed whatever the outcome). Without a mark for
// the account every id becomes not new, with a reason line, and 0 is counted.
// -1, with no mark changed, when the item goes away meanwhile.
int CountNewPopIds(const DockletInstance* instance, const MailAccount* account, UidSet* listing);

// For the long work of a check worker: asks, without waiting, whether the
// item is going away.
StopProbe ItemStopProbe(const DockletInstance* instance);

// On the host's thread, at a click: what the last checks saw becomes not
// new; true when a mark changed (a worker then writes the file). No file or
// network access: it only moves marks in memory, and never waits for a
// worker's comparison, file reading or copy, which run outside the lock.
bool MarkAllSeen(SeenBoard* board);

// On a check worker: writes the file when a mark changed since it was last
// written, atomically; a failure is a reason line and is tried again later.
// The writing works on a copy of the marks and goes on alone when the item
// goes away meanwhile: the worker does not wait for it then.
void SaveSeenIfChanged(const DockletInstance* instance);
