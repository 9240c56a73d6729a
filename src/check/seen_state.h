#pragma once
#include <cstddef>
#include <cstdint>

#include "config/mail_account.h"

// What CountNew keeps per account: the mark as of the user's last click, and
// the file that holds it across restarts. Portable; the board that guards it
// between threads is seen_board_win.

// A set of POP3 unique-ids (RFC 1939 section 7: 1 to 70 bytes from 0x21 to 0x7E).
struct UidSet {
    char* text;       // owned: the ids back to back, each NUL-terminated
    uint32_t* starts; // owned: offsets of the ids in text, sorted by id
    size_t count;
};

void FreeUidSet(UidSet* set);
bool UidSetHolds(const UidSet* set, const char* uid);

enum UidlRead {
    kUidlRead, // *set holds the listing's ids
    kUidlBad,  // a line is no "number id", or the listing has no end
    kUidlNoMemory,
};

// Reads a whole "+OK" UIDL listing ("n id" lines up to "."); *set is freed
// first and is empty unless read.
UidlRead ReadUidlListing(const char* reply, UidSet* set);

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

// Sets the baselines of the entries from the file's text; records of keys no
// entry has are skipped. False, with *badLine the first line that is not as
// the file writes it (every baseline then unknown), when the text is damaged.
bool ReadSeenFile(const char* text, size_t length, SeenEntry* entries, int32_t count,
                  size_t* badLine);
