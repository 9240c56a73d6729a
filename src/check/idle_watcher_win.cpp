#include "check/idle_watcher_win.h"

#include <windows.h>

#include <cstdlib>

#include "check/check_cycle_win.h"
#include "check/idle_timing.h"
#include "check/imap_count_win.h"
#include "check/seen_board_win.h"
#include "check/shown_total_win.h"
#include "docklet/worker_wait_win.h"
#include "log/debug_log.h"
#include "mail/imap_idle_win.h"
#include "net/server_connection.h"

namespace {

enum WatchState : LONG {
    kWatchOpening,    // logging in for the first time
    kWatchIdling,     // in IDLE: count is fresh
    kWatchAway,       // between connections, or logging in again: checks ask the server
    kWatchNotOffered, // the server has no IDLE: the watcher has ended
};

// How often a check that asked for a count looks whether it came.
const DWORD kAskedCountPollMs = 10;

} // namespace

struct IdleWatch {
    DockletInstance* instance;
    int32_t index;         // the account's
    HANDLE thread;         // null when it could not be started
    volatile LONG state;   // WatchState
    CRITICAL_SECTION lock; // held while the count changes and is shown
    int count;             // the last count, true while state is kWatchIdling
    ImapCounting counting; // how it was counted
    volatile LONG counted; // counts so far: a check that asked for one waits for this to move
    volatile LONG heardAt; // tick count of the server's last word on the connection in IDLE
    HANDLE recount;        // auto-reset: a check wants a count now
    HANDLE reopen;         // manual-reset: let go of the connection and open a new one now
    const char* volatile reopenWhy; // the event that asked for it, for the reason line
    // The watcher's own, on its thread only:
    bool reachedIdle;  // this connection reached IDLE
    bool proved;       // ... and its server has answered a DONE since: the path was good
    uint32_t failures; // connections in a row that failed (see ReconnectPauseMs)
    uint32_t random;   // jitter's state
    IdleListener listener;
};

struct IdleWatchers {
    int32_t count;
    IdleWatch* watches; // count records
};

namespace {

void Counted(void* context, int count, const ImapCounting* counting) {
    IdleWatch* watch = static_cast<IdleWatch*>(context);
    EnterCriticalSection(&watch->lock);
    watch->count = count;
    watch->counting = *counting;
    const int32_t total = ShowAccountCount(watch->instance, watch->index, count);
    LeaveCriticalSection(&watch->lock);
    InterlockedExchange(&watch->heardAt, static_cast<LONG>(GetTickCount()));
    InterlockedIncrement(&watch->counted);
    if (watch->instance->debug)
        WriteDebugLog(watch->instance, "  Total mails:%d (idle account %d counted)", total,
                      watch->index);
}

void Heard(void* context, bool answered) {
    IdleWatch* watch = static_cast<IdleWatch*>(context);
    watch->proved = watch->proved || answered;
    InterlockedExchange(&watch->heardAt, static_cast<LONG>(GetTickCount()));
    NoteAccountHeard(watch->instance, watch->index);
}

void Idling(void* context) {
    IdleWatch* watch = static_cast<IdleWatch*>(context);
    watch->reachedIdle = true;
    Heard(context, false);
    InterlockedExchange(&watch->state, kWatchIdling);
}

// A connection that ended without a count to show, or lost after it idled,
// leaves the account uncounted, as a failed check does: it shows as one
// until a count comes.
void ShowFailed(IdleWatch* watch) {
    DockletInstance* instance = watch->instance;
    if (instance->debug)
        WriteDebugLog(instance, "    Failed !");
    const int32_t total = ShowAccountCount(instance, watch->index, -1);
    if (instance->debug)
        WriteDebugLog(instance, "  Total mails:%d (idle account %d failed)", total, watch->index);
}

int WatchDialogue(const DockletInstance* instance, const MailAccount* account, BearerLogin* bearer,
                  void* context) {
    return WatchImapAccount(instance, account, bearer, &static_cast<IdleWatch*>(context)->listener);
}

uint32_t NextRandom(IdleWatch* watch) {
    // xorshift32: jitter needs spread, not secrecy.
    uint32_t x = watch->random;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return watch->random = x;
}

// Seeded apart for every watcher of every item in every process.
uint32_t RandomSeed(const IdleWatch* watch) {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    const uint32_t seed = static_cast<uint32_t>(counter.QuadPart) ^ GetCurrentProcessId() << 16 ^
                          static_cast<uint32_t>(reinterpret_cast<uintptr_t>(watch)) ^
                          GetTickCount();
    return seed ? seed : 0x9E3779B9u;
}

bool ReopenAsked(const IdleWatch* watch) {
    return WaitForSingleObject(watch->reopen, 0) == WAIT_OBJECT_0;
}

// After a connection ended: the pause before the next one, its reason line,
// and the account shown failed. 0 when a reopen was asked: no pause.
DWORD PauseAfter(IdleWatch* watch) {
    DockletInstance* instance = watch->instance;
    if (ReopenAsked(watch)) {
        if (instance->debug)
            WriteDebugLog(instance, "  Idle account %d: %s: connection let go of, opened again now",
                          watch->index, watch->reopenWhy);
        return 0;
    }
    watch->failures = watch->proved ? 0 : watch->reachedIdle ? 1 : watch->failures + 1;
    const uint32_t longestMs = static_cast<uint32_t>(instance->delaySeconds) * 1000u;
    const DWORD pauseMs =
        JitteredMs(ReconnectPauseMs(watch->failures, longestMs), NextRandom(watch));
    ShowFailed(watch);
    if (instance->debug) {
        char since[64];
        DescribeLastWord(instance, watch->index, since, sizeof since);
        WriteDebugLog(instance,
                      "  Idle account %d: %s, opened again in %lu.%lu s; failed until it counts "
                      "again (no count or word from the server %s); checked periodically meanwhile",
                      watch->index, watch->reachedIdle ? "connection lost" : "IDLE not reached",
                      pauseMs / 1000, pauseMs % 1000 / 100, since);
    }
    return pauseMs;
}

DWORD WINAPI IdleWatcher(void* parameter) {
    IdleWatch* watch = static_cast<IdleWatch*>(parameter);
    DockletInstance* instance = watch->instance;
    watch->random = RandomSeed(watch);
    for (;;) {
        if (instance->debug)
            WriteDebugLog(instance, "  Idle account %d", watch->index);
        ResetEvent(watch->reopen);
        ResetEvent(watch->recount);
        watch->reachedIdle = false;
        watch->proved = false;
        const int end = RunAccountDialogue(instance, watch->index,
                                           &instance->accounts[watch->index], WatchDialogue, watch);
        if (WaitForSingleObject(instance->stopEvent, 0) != WAIT_TIMEOUT)
            return 0;
        if (end == kIdleNotOffered) {
            InterlockedExchange(&watch->state, kWatchNotOffered);
            return 0;
        }
        InterlockedExchange(&watch->state, kWatchAway);
        const DWORD pauseMs = PauseAfter(watch);
        HANDLE waits[2] = {instance->stopEvent, watch->reopen};
        const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, pauseMs);
        if (woke == WAIT_OBJECT_0)
            return 0;
        if (woke == WAIT_OBJECT_0 + 1 && pauseMs > 0 && instance->debug)
            WriteDebugLog(instance, "  Idle account %d: %s: opened again now", watch->index,
                          watch->reopenWhy);
    }
}

} // namespace

namespace {

bool Watched(const MailAccount& account) {
    return account.idle && account.type == kAccountImap;
}

void FreeWatch(IdleWatch* watch) {
    DeleteCriticalSection(&watch->lock);
    if (watch->recount)
        CloseHandle(watch->recount);
    if (watch->reopen)
        CloseHandle(watch->reopen);
}

// The watch records, one per IMAP account with Idle=1; null when there is none.
IdleWatchers* MakeIdleWatchers(DockletInstance* instance) {
    int32_t wanted = 0;
    for (int32_t i = 0; i < instance->accountCount; ++i) {
        const MailAccount& account = instance->accounts[i];
        if (Watched(account))
            ++wanted;
        else if (account.idle && instance->debug)
            WriteDebugLog(instance,
                          "Account %d: Idle=1 applies to IMAP accounts only: checked periodically",
                          i);
    }
    if (wanted == 0)
        return nullptr;
    IdleWatchers* watchers = static_cast<IdleWatchers*>(calloc(1, sizeof(IdleWatchers)));
    IdleWatch* watches = static_cast<IdleWatch*>(calloc(wanted, sizeof(IdleWatch)));
    if (!watchers || !watches) {
        free(watchers);
        free(watches);
        return nullptr;
    }
    watchers->watches = watches;
    const uint32_t timeoutMs = CheckTimeoutMs(instance);
    for (int32_t i = 0; i < instance->accountCount; ++i) {
        const MailAccount& account = instance->accounts[i];
        if (!Watched(account))
            continue;
        IdleWatch* watch = &watches[watchers->count++];
        InitializeCriticalSection(&watch->lock);
        watch->instance = instance;
        watch->index = i;
        watch->recount = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        watch->reopen = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        watch->reopenWhy = "";
        watch->listener = IdleListener{
            watch,          static_cast<uint32_t>(instance->idleRenewSeconds) * 1000u,
            kIdleCheckInMs, kIdleQuickReplyMs < timeoutMs ? kIdleQuickReplyMs : timeoutMs,
            watch->recount, watch->reopen,
            Counted,        Idling,
            Heard,          CountImapMailbox};
    }
    return watchers;
}

IdleWatch* WatchOf(DockletInstance* instance, int32_t index) {
    IdleWatchers* watchers = instance->idleWatchers;
    for (int32_t i = 0; watchers && i < watchers->count; ++i) {
        if (watchers->watches[i].index == index)
            return &watchers->watches[i];
    }
    return nullptr;
}

LONG StateOf(IdleWatch* watch) {
    return InterlockedCompareExchange(&watch->state, 0, 0);
}

// Has the watcher count now and waits for that count; false when it did not
// come: the connection dropped, the bound passed, or the item goes away.
bool AskForCount(IdleWatch* watch) {
    DockletInstance* instance = watch->instance;
    const LONG before = InterlockedCompareExchange(&watch->counted, 0, 0);
    if (!watch->recount || !SetEvent(watch->recount))
        return false;
    const DWORD boundMs = watch->listener.quickMs + CheckTimeoutMs(instance) + 1000;
    for (const DWORD start = GetTickCount(); GetTickCount() - start < boundMs;) {
        if (InterlockedCompareExchange(&watch->counted, 0, 0) != before)
            return true;
        if (StateOf(watch) != kWatchIdling)
            return false;
        if (WaitForSingleObject(instance->stopEvent, kAskedCountPollMs) != WAIT_TIMEOUT)
            return false;
    }
    return false;
}

} // namespace

void StartIdleWatchers(DockletInstance* instance) {
    if (!instance->stopEvent)
        return;
    if (!instance->idleWatchers)
        instance->idleWatchers = MakeIdleWatchers(instance);
    IdleWatchers* watchers = instance->idleWatchers;
    if (!watchers)
        return;
    // Each record is complete before its thread starts: cycles may ask about
    // any account at once.
    for (int32_t i = 0; i < watchers->count; ++i) {
        IdleWatch* watch = &watchers->watches[i];
        InterlockedExchange(&watch->state, kWatchOpening);
        watch->failures = 0;
        watch->thread = CreateThread(nullptr, 0, IdleWatcher, watch, 0, nullptr);
        if (!watch->thread)
            InterlockedExchange(&watch->state, kWatchAway);
    }
}

void StopIdleWatchers(DockletInstance* instance) {
    IdleWatchers* watchers = instance->idleWatchers;
    if (!watchers)
        return;
    SetEvent(instance->stopEvent);
    for (int32_t i = 0; i < watchers->count; ++i) {
        IdleWatch* watch = &watchers->watches[i];
        if (!watch->thread)
            continue;
        WaitForWorker(watch->thread);
        CloseHandle(watch->thread);
        watch->thread = nullptr;
        InterlockedExchange(&watch->state, kWatchAway);
    }
}

void FreeIdleWatchers(DockletInstance* instance) {
    IdleWatchers* watchers = instance->idleWatchers;
    if (!watchers)
        return;
    instance->idleWatchers = nullptr;
    for (int32_t i = 0; i < watchers->count; ++i)
        FreeWatch(&watchers->watches[i]);
    free(watchers->watches);
    free(watchers);
}

void ReopenIdleConnections(DockletInstance* instance, const char* why) {
    IdleWatchers* watchers = instance->idleWatchers;
    for (int32_t i = 0; watchers && i < watchers->count; ++i) {
        IdleWatch* watch = &watchers->watches[i];
        watch->reopenWhy = why;
        if (watch->reopen)
            SetEvent(watch->reopen);
    }
}

IdleAnswer IdleCountOf(DockletInstance* instance, int32_t index, uint32_t freshWithinMs,
                       int32_t* count) {
    IdleWatch* watch = WatchOf(instance, index);
    if (!watch)
        return kIdleNotWatched;
    const LONG state = StateOf(watch);
    if (state == kWatchOpening)
        return kIdleOpening;
    if (state != kWatchIdling)
        return kIdleNotWatched;
    IdleAnswer answer = kIdleCountReady;
    const DWORD heardAt = static_cast<DWORD>(InterlockedCompareExchange(&watch->heardAt, 0, 0));
    if (GetTickCount() - heardAt > freshWithinMs) {
        if (!AskForCount(watch))
            return kIdleNotVerified;
        answer = kIdleCountVerified;
    }
    EnterCriticalSection(&watch->lock);
    // A click marked everything this count saw: what it found is no longer new.
    if (watch->counting.byUid && watch->count != 0 &&
        SeenImapReaches(instance, &instance->accounts[index], watch->counting.validity,
                        watch->counting.highest)) {
        watch->count = 0;
        ShowAccountCount(instance, index, 0);
    }
    *count = watch->count;
    LeaveCriticalSection(&watch->lock);
    return answer;
}
