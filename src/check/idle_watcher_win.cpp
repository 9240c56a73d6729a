#include "check/idle_watcher_win.h"

#include <windows.h>

#include <cstdlib>

#include "check/check_cycle_win.h"
#include "check/seen_board_win.h"
#include "check/shown_total_win.h"
#include "docklet/worker_wait_win.h"
#include "log/debug_log.h"
#include "mail/imap_idle_win.h"

namespace {

enum WatchState : LONG {
    kWatchOpening,    // logging in for the first time
    kWatchIdling,     // in IDLE: count is fresh
    kWatchAway,       // between connections, or logging in again: checks ask the server
    kWatchNotOffered, // the server has no IDLE: the watcher has ended
};

const DWORD kFirstPauseMs = 10 * 1000;

} // namespace

struct IdleWatch {
    DockletInstance* instance;
    int32_t index;       // the account's
    HANDLE thread;       // null when it could not be started
    volatile LONG state; // WatchState
    CRITICAL_SECTION lock; // held while the count changes and is shown
    int count;             // the last count, true while state is kWatchIdling
    ImapCounting counting; // how it was counted
    bool reachedIdle;    // this connection reached IDLE: the pause starts over
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
    if (watch->instance->debug)
        WriteDebugLog(watch->instance, "  Total mails:%d (idle account %d counted)", total,
                      watch->index);
}

void Idling(void* context) {
    IdleWatch* watch = static_cast<IdleWatch*>(context);
    watch->reachedIdle = true;
    InterlockedExchange(&watch->state, kWatchIdling);
}

// A connection that never reached IDLE left the account uncounted, as a
// failed check does: it shows as one until a count comes.
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

DWORD WINAPI IdleWatcher(void* parameter) {
    IdleWatch* watch = static_cast<IdleWatch*>(parameter);
    DockletInstance* instance = watch->instance;
    const DWORD longestPauseMs = static_cast<DWORD>(instance->delaySeconds) * 1000u;
    DWORD pauseMs = kFirstPauseMs;
    for (;;) {
        if (instance->debug)
            WriteDebugLog(instance, "  Idle account %d", watch->index);
        watch->reachedIdle = false;
        const int end = RunAccountDialogue(instance, watch->index,
                                           &instance->accounts[watch->index], WatchDialogue, watch);
        if (WaitForSingleObject(instance->stopEvent, 0) != WAIT_TIMEOUT)
            return 0;
        if (end == kIdleNotOffered) {
            InterlockedExchange(&watch->state, kWatchNotOffered);
            return 0;
        }
        InterlockedExchange(&watch->state, kWatchAway);
        if (watch->reachedIdle)
            pauseMs = kFirstPauseMs;
        else
            ShowFailed(watch);
        if (instance->debug)
            WriteDebugLog(instance,
                          "  Idle account %d: %s, opened again in %lu s; checked "
                          "periodically meanwhile",
                          watch->index, watch->reachedIdle ? "connection lost" : "IDLE not reached",
                          pauseMs / 1000);
        if (WaitForSingleObject(instance->stopEvent, pauseMs) != WAIT_TIMEOUT)
            return 0;
        pauseMs = pauseMs * 2 > longestPauseMs
                      ? (longestPauseMs > kFirstPauseMs ? longestPauseMs : kFirstPauseMs)
                      : pauseMs * 2;
    }
}

} // namespace

namespace {

bool Watched(const MailAccount& account) {
    return account.idle && account.type == kAccountImap;
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
    for (int32_t i = 0; i < instance->accountCount; ++i) {
        const MailAccount& account = instance->accounts[i];
        if (!Watched(account))
            continue;
        IdleWatch* watch = &watches[watchers->count++];
        InitializeCriticalSection(&watch->lock);
        watch->instance = instance;
        watch->index = i;
        watch->listener = IdleListener{
            watch, static_cast<uint32_t>(instance->idleRenewSeconds) * 1000u, Counted, Idling};
    }
    return watchers;
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
        DeleteCriticalSection(&watchers->watches[i].lock);
    free(watchers->watches);
    free(watchers);
}

IdleAnswer IdleCountOf(DockletInstance* instance, int32_t index, int32_t* count) {
    const IdleWatchers* watchers = instance->idleWatchers;
    if (!watchers)
        return kIdleNotWatched;
    for (int32_t i = 0; i < watchers->count; ++i) {
        IdleWatch* watch = &watchers->watches[i];
        if (watch->index != index)
            continue;
        const LONG state = InterlockedCompareExchange(&watch->state, 0, 0);
        if (state == kWatchOpening)
            return kIdleOpening;
        if (state != kWatchIdling)
            return kIdleNotWatched;
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
        return kIdleCountReady;
    }
    return kIdleNotWatched;
}
