#include "check/seen_board_win.h"

#include <windows.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "docklet/abandonable_call_win.h"
#include "docklet/bounded_file_win.h"
#include "docklet/replace_file_win.h"
#include "log/debug_log.h"
#include "log/windows_error_text_win.h"
#include "net/server_connection.h"
#include "text/bounded_text.h"

// A baseline a click replaced while workers may still be reading it.
struct RetiredMark {
    SeenMark mark;
    RetiredMark* next;
};

struct SeenBoard {
    CRITICAL_SECTION lock;     // guards what follows; held for moments only, never over long work
    CRITICAL_SECTION fileLock; // held by the worker that reads or writes the file
    bool loaded;               // the file has been read (or found missing or damaged)
    bool changed;              // a baseline changed since the file was last written
    int32_t readers;           // workers reading baselines outside the lock
    RetiredMark* retired;      // owned: freed once no worker reads
    uint32_t moves;            // clicks that moved a mark: a reader's mark is still current if unchanged
    int32_t count;
    SeenEntry* entries;   // owned: one per account of the instance
    char path[kPathSize]; // TidewellDocklet.seen; empty when it cannot be named
};

namespace {

// How long a worker whose item goes away still waits for the marks being
// written: a file of a few accounts' marks is written within it, so the dock
// may quit right after; a larger one is written on alone, which the item's
// teardown does not wait for.
const DWORD kWriteGraceMs = 30;

// Some two million unique-ids at their usual length: far beyond what the
// marks of real mailboxes hold; a larger file starts over with a reason line.
const DWORD kMaxSeenFileSize = 64 * 1024 * 1024;

void Log(const DockletInstance* instance, const char* format, ...) TIDEWELL_PRINTF(2, 3);
void Log(const DockletInstance* instance, const char* format, ...) {
    if (!instance->debug)
        return;
    va_list arguments;
    va_start(arguments, format);
    WriteDebugLogAfter(instance, "    ", format, arguments);
    va_end(arguments);
}

// The entry the account's marks live in, or null. Called with the lock held.
SeenEntry* EntryOf(SeenBoard* board, const MailAccount* account) {
    char key[kSeenKeySize];
    if (!FormSeenKey(account, key, sizeof key))
        return nullptr;
    const bool pop = account->type == kAccountPop;
    for (int32_t i = 0; i < board->count; ++i)
        if (board->entries[i].pop == pop && strcmp(board->entries[i].key, key) == 0)
            return &board->entries[i];
    return nullptr;
}

// Long work on the baselines (a comparison, a copy) runs outside the lock, so
// that a click on the host's thread never waits for it; a click meanwhile
// retires the marks it replaces instead of freeing them. Called with the lock
// held; what EndReading hands back is freed after the lock is left.
void BeginReading(SeenBoard* board) {
    ++board->readers;
}

RetiredMark* EndReading(SeenBoard* board) {
    if (--board->readers > 0)
        return nullptr;
    RetiredMark* retired = board->retired;
    board->retired = nullptr;
    return retired;
}

RetiredMark* JoinRetiredMarks(RetiredMark* first, RetiredMark* second) {
    if (!first)
        return second;
    RetiredMark* last = first;
    while (last->next)
        last = last->next;
    last->next = second;
    return first;
}

void FreeRetiredMarks(RetiredMark* retired) {
    while (retired) {
        RetiredMark* next = retired->next;
        FreeSeenMark(&retired->mark);
        free(retired);
        retired = next;
    }
}

bool ItemStopping(const void* instance) {
    HANDLE stop = static_cast<const DockletInstance*>(instance)->stopEvent;
    return stop && WaitForSingleObject(stop, 0) == WAIT_OBJECT_0;
}

// Reads the file into the baselines, once. A missing or damaged file leaves
// them unknown: each account's next check then starts from what the server
// holds. False when the item is going away before the file was read: it
// then counts as not read yet.
bool LoadOnce(const DockletInstance* instance, SeenBoard* board) {
    EnterCriticalSection(&board->fileLock);
    EnterCriticalSection(&board->lock);
    bool loaded = board->loaded;
    LeaveCriticalSection(&board->lock);
    if (!loaded) {
        char* bytes = nullptr;
        size_t length = 0;
        DWORD error = 0;
        const BoundedFileRead read =
            board->path[0] != '\0'
                ? ReadBoundedFile(board->path, kMaxSeenFileSize, &bytes, &length, &error)
                : kBoundedFileNotFound;
        // Read into marks of its own: no other thread touches the entries'
        // keys, and their baselines are unknown until this is done.
        SeenEntry* fromFile = static_cast<SeenEntry*>(calloc(board->count, sizeof(SeenEntry)));
        for (int32_t i = 0; fromFile && i < board->count; ++i) {
            memcpy(fromFile[i].key, board->entries[i].key, sizeof fromFile[i].key);
            fromFile[i].pop = board->entries[i].pop;
        }
        size_t badLine = 0;
        const StopProbe stop = ItemStopProbe(instance);
        const SeenFileRead marks =
            read == kBoundedFileRead && fromFile
                ? ReadSeenFile(bytes, length, fromFile, board->count, &badLine, &stop)
                : kSeenFileRead;
        loaded = fromFile && marks != kSeenFileStopped;
        EnterCriticalSection(&board->lock);
        for (int32_t i = 0; loaded && i < board->count; ++i) {
            board->entries[i].baseline = fromFile[i].baseline;
            fromFile[i].baseline = SeenMark{};
        }
        board->loaded = loaded;
        LeaveCriticalSection(&board->lock);
        if (fromFile)
            FreeSeenEntries(fromFile, board->count);
        if (!fromFile)
            Log(instance, "CountNew: no memory to read %s", board->path);
        else if (marks == kSeenFileDamaged)
            Log(instance,
                "CountNew: %s is damaged at line %lu: what the servers hold now is not new",
                board->path, static_cast<unsigned long>(badLine));
        else if (read == kBoundedFileNotFound)
            Log(instance, "CountNew: no %s yet: what the servers hold now is not new", board->path);
        else if (read == kBoundedFileTooLarge)
            Log(instance,
                "CountNew: %s is larger than %lu bytes: what the servers hold now is not new",
                board->path, static_cast<unsigned long>(kMaxSeenFileSize));
        else if (read != kBoundedFileRead) {
            char meaning[128];
            WindowsErrorText(error, meaning, sizeof meaning);
            Log(instance,
                "CountNew: %s cannot be read: %s (error %lu): what the servers hold now is not new",
                board->path, meaning, static_cast<unsigned long>(error));
        }
        free(bytes);
    }
    LeaveCriticalSection(&board->fileLock);
    return loaded;
}

// What writing the file works on, its own copy: a worker whose item goes
// away stops waiting for it, and it carries on alone.
struct SeenFileWriting {
    char path[kPathSize];
    SeenEntry* entries; // the baselines to write; the writing frees them
    int32_t count;
    DWORD error; // 0, or Windows' reason the file was not replaced
};

// A new file beside the old one, then put in its place: a reader sees the
// old marks or the new ones, never a part. Runs where it can be abandoned:
// nothing of the item, no debug log.
void WriteSeenFile(void* data) {
    SeenFileWriting* writing = static_cast<SeenFileWriting*>(data);
    size_t length = 0;
    char* text = FormSeenFile(writing->entries, writing->count, &length);
    FreeSeenEntries(writing->entries, writing->count);
    writing->entries = nullptr;
    if (!text) {
        writing->error = ERROR_NOT_ENOUGH_MEMORY;
        return;
    }
    const FilePiece piece = {text, length};
    ReplaceFileWhole(writing->path, &piece, 1, FILE_ATTRIBUTE_NORMAL, &writing->error);
    free(text);
}

} // namespace

SeenBoard* MakeSeenBoard(const DockletInstance* instance) {
    bool any = false;
    for (int32_t i = 0; i < instance->accountCount; ++i)
        any = any || instance->accounts[i].countNew;
    if (!any)
        return nullptr;
    SeenBoard* board = static_cast<SeenBoard*>(calloc(1, sizeof(SeenBoard)));
    if (!board)
        return nullptr;
    board->entries = static_cast<SeenEntry*>(calloc(instance->accountCount, sizeof(SeenEntry)));
    if (!board->entries) {
        free(board);
        return nullptr;
    }
    board->count = instance->accountCount;
    for (int32_t i = 0; i < board->count; ++i) {
        const MailAccount* account = &instance->accounts[i];
        board->entries[i].pop = account->type == kAccountPop;
        if (account->countNew)
            FormSeenKey(account, board->entries[i].key, sizeof board->entries[i].key);
    }
    FormSiblingPath(board->path, sizeof board->path, instance->iniPath, "TidewellDocklet.seen");
    InitializeCriticalSection(&board->lock);
    InitializeCriticalSection(&board->fileLock);
    return board;
}

void FreeSeenBoard(SeenBoard* board) {
    if (!board)
        return;
    for (int32_t i = 0; i < board->count; ++i) {
        FreeSeenMark(&board->entries[i].baseline);
        FreeSeenMark(&board->entries[i].observed);
    }
    FreeRetiredMarks(board->retired);
    DeleteCriticalSection(&board->lock);
    DeleteCriticalSection(&board->fileLock);
    free(board->entries);
    free(board);
}

uint32_t SeenImapFloor(const DockletInstance* instance, const MailAccount* account,
                       uint32_t validity, uint32_t uidNext) {
    SeenBoard* board = instance->seen;
    // The item is going away: whatever this check finds is not shown.
    if (!LoadOnce(instance, board))
        return uidNext - 1;
    EnterCriticalSection(&board->lock);
    SeenEntry* entry = EntryOf(board, account);
    uint32_t floor = uidNext - 1;
    if (entry && entry->baseline.known && entry->baseline.validity == validity) {
        floor = entry->baseline.highest;
    } else if (entry) {
        if (entry->baseline.known)
            Log(instance,
                "CountNew: UIDVALIDITY is %lu, no longer %lu: the UIDs below %lu are not new",
                static_cast<unsigned long>(validity),
                static_cast<unsigned long>(entry->baseline.validity),
                static_cast<unsigned long>(uidNext));
        else
            Log(instance, "CountNew: no mark for this account yet: the UIDs below %lu are not new",
                static_cast<unsigned long>(uidNext));
        entry->baseline = SeenMark{true, validity, floor, UidSet{}};
        board->changed = true;
    }
    LeaveCriticalSection(&board->lock);
    return floor;
}

void NoteImapObserved(const DockletInstance* instance, const MailAccount* account,
                      uint32_t validity, uint32_t highest) {
    SeenBoard* board = instance->seen;
    EnterCriticalSection(&board->lock);
    if (SeenEntry* entry = EntryOf(board, account))
        entry->observed = SeenMark{true, validity, highest, UidSet{}};
    LeaveCriticalSection(&board->lock);
}

bool SeenImapReaches(const DockletInstance* instance, const MailAccount* account, uint32_t validity,
                     uint32_t highest) {
    SeenBoard* board = instance->seen;
    if (!board)
        return false;
    EnterCriticalSection(&board->lock);
    const SeenEntry* entry = EntryOf(board, account);
    const bool reaches = entry && entry->baseline.known && entry->baseline.validity == validity &&
                         entry->baseline.highest >= highest;
    LeaveCriticalSection(&board->lock);
    return reaches;
}

int CountNewPopIds(const DockletInstance* instance, const MailAccount* account, UidSet* listing) {
    SeenBoard* board = instance->seen;
    if (!LoadOnce(instance, board)) {
        FreeUidSet(listing);
        return -1;
    }
    EnterCriticalSection(&board->lock);
    SeenEntry* entry = EntryOf(board, account);
    int fresh = 0;
    SeenMark replaced = {};
    RetiredMark* retired = nullptr;
    if (entry && entry->baseline.known) {
        const StopProbe stop = ItemStopProbe(instance);
        size_t counted = 0;
        bool compared = true;
        // A click during the comparison moved the mark: what is new is
        // counted again above the new one.
        for (uint32_t moves = board->moves - 1; compared && moves != board->moves;) {
            moves = board->moves;
            const UidSet marks = entry->baseline.uids;
            BeginReading(board);
            LeaveCriticalSection(&board->lock);
            compared = CountIdsNotIn(listing, &marks, &stop, &counted);
            EnterCriticalSection(&board->lock);
            retired = JoinRetiredMarks(EndReading(board), retired);
        }
        if (!compared) {
            fresh = -1;
        } else {
            // A listing holds far fewer ids than an int counts: it is bounded in bytes.
            fresh = static_cast<int>(counted);
            replaced = entry->observed;
            entry->observed = SeenMark{true, 0, 0, *listing};
            *listing = UidSet{};
        }
    } else if (entry) {
        Log(instance,
            "CountNew: no mark for this account yet: the %lu messages on the server are not new",
            static_cast<unsigned long>(listing->count));
        // What the server holds is the mark already: a click now changes nothing.
        entry->baseline = SeenMark{true, 0, 0, *listing};
        *listing = UidSet{};
        replaced = entry->observed;
        entry->observed = SeenMark{};
        board->changed = true;
    }
    LeaveCriticalSection(&board->lock);
    FreeSeenMark(&replaced);
    FreeRetiredMarks(retired);
    FreeUidSet(listing);
    return fresh;
}

bool MarkAllSeen(SeenBoard* board) {
    if (!board)
        return false;
    bool moved = false;
    EnterCriticalSection(&board->lock);
    for (int32_t i = 0; i < board->count; ++i) {
        SeenEntry& entry = board->entries[i];
        if (!entry.observed.known)
            continue;
        // Workers may be reading the old mark: it is freed once none does.
        if (entry.baseline.uids.text || entry.baseline.uids.starts) {
            RetiredMark* retired = static_cast<RetiredMark*>(malloc(sizeof(RetiredMark)));
            if (!retired)
                continue;
            *retired = RetiredMark{entry.baseline, board->retired};
            board->retired = retired;
        }
        entry.baseline = entry.observed;
        entry.observed = SeenMark{};
        moved = true;
    }
    board->moves += moved ? 1 : 0;
    board->changed = board->changed || moved;
    LeaveCriticalSection(&board->lock);
    return moved;
}

StopProbe ItemStopProbe(const DockletInstance* instance) {
    return StopProbe{ItemStopping, instance};
}

void SaveSeenIfChanged(const DockletInstance* instance) {
    SeenBoard* board = instance->seen;
    if (!board)
        return;
    EnterCriticalSection(&board->fileLock);
    EnterCriticalSection(&board->lock);
    SeenFileWriting writing = {};
    SeenEntry* current = nullptr;
    if (board->changed && board->loaded && board->path[0] != '\0') {
        current = static_cast<SeenEntry*>(malloc(board->count * sizeof(SeenEntry)));
        if (current) {
            memcpy(current, board->entries, board->count * sizeof(SeenEntry));
            BeginReading(board);
            board->changed = false;
        }
    }
    LeaveCriticalSection(&board->lock);
    if (current) {
        writing.entries = CopySeenBaselines(current, board->count);
        free(current);
        EnterCriticalSection(&board->lock);
        RetiredMark* retired = EndReading(board);
        board->changed = board->changed || writing.entries == nullptr;
        LeaveCriticalSection(&board->lock);
        FreeRetiredMarks(retired);
    }
    if (writing.entries) {
        CopyText(writing.path, sizeof writing.path, board->path);
        writing.count = board->count;
        // Once copied, the marks reach the file whether this worker waits or
        // not: a click is kept even when the item goes away meanwhile.
        const CallOutcome outcome =
            CallOnceWithGrace(board->path, WriteSeenFile, &writing, sizeof writing,
                              instance->stopEvent, CheckTimeoutMs(instance), kWriteGraceMs);
        if (outcome == kCallNotStarted || outcome == kCallStillOutstanding)
            FreeSeenEntries(writing.entries, writing.count);
        if (outcome == kCallDone && writing.error != 0) {
            char meaning[128];
            WindowsErrorText(writing.error, meaning, sizeof meaning);
            Log(instance, "CountNew: %s cannot be written: %s (error %lu)", board->path, meaning,
                static_cast<unsigned long>(writing.error));
        } else if (outcome == kCallTimedOut || outcome == kCallStillOutstanding)
            Log(instance, "CountNew: %s is still being written: written again later", board->path);
        else if (outcome == kCallNotStarted)
            Log(instance, "CountNew: no thread or memory to write %s: written again later",
                board->path);
        if (outcome != kCallStopped && (outcome != kCallDone || writing.error != 0)) {
            EnterCriticalSection(&board->lock);
            board->changed = true;
            LeaveCriticalSection(&board->lock);
        }
    }
    LeaveCriticalSection(&board->fileLock);
}
