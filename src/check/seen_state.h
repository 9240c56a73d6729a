#pragma once
#include <cstddef>
#include <cstdint>

#include "config/mail_account.h"

// What CountNew keeps per account: the mark as of the user's last click, and
// the file that holds it across restarts. Portable; the board that guards it
// between threads is seen_board_win.

// Asked now and then by the work below on large listings and files, which
// gives up as soon as it answers true: the item is going away. Each asker
// works on its own data, so any number may run on different threads at once.
struct StopProbe {
    bool (*asked)(const void* context);
    const void* context;
};

// A set of POP3 unique-ids (RFC 1939 section 7: 1 to 70 bytes from 0x21 to 0x7E).
struct UidSet {
    char* text;       // owned: the ids back to back, each NUL-terminated
    uint32_t* starts; // owned: offsets of the ids in text, sorted by id
    size_t count;
    size_t size; // bytes of text in use
};

void FreeUidSet(UidSet* set);
bool UidSetHolds(const UidSet* set, const char* uid);

enum UidlRead {
    kUidlRead, // *set holds the listing's ids
    kUidlBad,  // a line is no "number id", or the listing has no end
    kUidlNoMemory,
    kUidlStopped, // the probe asked to stop
};

// Reads a whole "+OK" UIDL listing ("n id" lines up to ".") of length bytes;
// *set is freed first and is empty unless read. stop may be null.
UidlRead ReadUidlListing(const char* reply, size_t length, UidSet* set, const StopProbe* stop);

// How many ids of listing marks does not hold, in *fresh; false, with
// *fresh unchanged, when the probe asked to stop. stop may be null.
bool CountIdsNotIn(const UidSet* listing, const UidSet* marks, const StopProbe* stop,
                   size_t* fresh);

// One account's mark: for IMAP the UIDVALIDITY and the highest UID that is not
// new; for POP3 the ids that are not new.
struct SeenMark {
    bool known;
    uint32_t validity;
    uint32_t highest;
    UidSet uids;
};

void FreeSeenMark(SeenMark* mark);

// Type, Address, Login and Folder percent-encoded: what names an account in
// the file, whatever its place among the INI's sections. Accounts that
// share a key share the first entry that has it.
const size_t kSeenKeySize = 3 * (4 * kAccountTextSize + 8) + 1;

struct SeenEntry {
    char key[kSeenKeySize]; // empty for an account that does not count new
    bool pop;               // the mark is a set of ids
    SeenMark baseline;      // as of the last click: what is not new
    SeenMark observed;      // as of the last check: what a click makes not new
};

// The key of the account; false when it does not fit.
bool FormSeenKey(const MailAccount* account, char* key, size_t size);

// The file's text for the entries' baselines (malloc'd, the caller frees it;
// null when memory ran out), each key once.
char* FormSeenFile(const SeenEntry* entries, int32_t count, size_t* length);

// A copy of the entries with their baselines and without their observed
// marks (calloc'd, freed with FreeSeenEntries), or null when memory ran out:
// what a file is formed from where the entries cannot be held meanwhile.
SeenEntry* CopySeenBaselines(const SeenEntry* entries, int32_t count);
void FreeSeenEntries(SeenEntry* entries, int32_t count);

enum SeenFileRead {
    kSeenFileRead,
    kSeenFileDamaged, // *badLine is the first line that is not as the file writes it
    kSeenFileStopped, // the probe asked to stop
};

// Sets the baselines of the entries from the file's text; records of keys no
// entry has are skipped. Unless read, every baseline is left unknown. stop
// may be null.
SeenFileRead ReadSeenFile(const char* text, size_t length, SeenEntry* entries, int32_t count,
                          size_t* badLine, const StopProbe* stop);
