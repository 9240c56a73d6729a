#include "check/check_workers_win.h"

#include <windows.h>

#include <cstdlib>

#include "docklet/host_services_win.h"
#include "docklet/worker_wait_win.h"
#include "log/debug_log.h"
#include "check/check_cycle_win.h"
#include "check/idle_watcher_win.h"
#include "check/shown_total_win.h"
#include "check/wake_coalescing.h"
#include "signin/sign_in_board_win.h"
#include "signin/sign_in_win.h"

namespace {

// The one-shot workers' lists of every item: holds start workers on the
// host's thread, a wake of the machine on a thread of its own. Held only
// around the list's edits and CreateThread, never while waiting.
// Initialised while the module loads, before any worker can exist.
struct OneShotLock {
    CRITICAL_SECTION section;
    OneShotLock() { InitializeCriticalSection(&section); }
    ~OneShotLock() { DeleteCriticalSection(&section); }
};

OneShotLock oneShotLock;

// How often the pause between checks looks for accounts grown too old.
const DWORD kStaleLookMs = 10 * 1000;

// Waits out the pause between checks, measured on the tick count, which
// goes on while the machine sleeps: a check due during a sleep comes soon
// after it. False when the item goes away.
bool PauseBetweenChecks(DockletInstance* instance) {
    const DWORD pauseMs = static_cast<DWORD>(instance->delaySeconds) * 1000u;
    const DWORD start = GetTickCount();
    for (DWORD spent; (spent = GetTickCount() - start) < pauseMs;) {
        const DWORD left = pauseMs - spent;
        if (WaitForSingleObject(instance->stopEvent, left < kStaleLookMs ? left : kStaleLookMs) != WAIT_TIMEOUT)
            return false;
        ShowStaleAccounts(instance);
    }
    return true;
}

DWORD WINAPI TidewellThread(void* parameter) {
    DockletInstance* instance = static_cast<DockletInstance*>(parameter);
    do {
        if (instance->debug)
            WriteDebugLog(instance, "TidewellThread");
        HostServices::DoAttentionAnimation(instance->itemWindow);
        CheckAllAccounts(instance, kRecentCounts);
    } while (PauseBetweenChecks(instance));
    return 0;
}

DWORD WINAPI TidewellOnce(void* parameter) {
    DockletInstance* instance = static_cast<DockletInstance*>(parameter);
    if (instance->debug)
        WriteDebugLog(instance, "TidewellOnce");
    CheckAllAccounts(instance, kRecentCounts);
    return 0;
}

// A held button, or a wake of the machine: the counts shown must be made now.
DWORD WINAPI TidewellHeld(void* parameter) {
    DockletInstance* instance = static_cast<DockletInstance*>(parameter);
    if (instance->debug)
        WriteDebugLog(instance, "TidewellOnce");
    // Connections kept open from before the machine slept or changed network
    // may lead nowhere: they are opened again while this check asks the servers.
    if (const LONG woken = InterlockedExchange(&instance->wakeEvents, 0)) {
        const char* why = WakeEventsText(static_cast<uint32_t>(woken));
        if (instance->debug)
            WriteDebugLog(instance, "  Checking at once: %s", why);
        ReopenIdleConnections(instance, why);
    }
    CheckAllAccounts(instance, kVerifiedCounts);
    return 0;
}

DWORD WINAPI TidewellSignIn(void* parameter) {
    DockletInstance* instance = static_cast<DockletInstance*>(parameter);
    const int32_t account = FirstWaitingAccount(instance->signIn);
    if (account >= 0 && SignInAccount(instance, account))
        CheckAllAccounts(instance, kRecentCounts);
    return 0;
}

void StopWorker(DockletInstance* instance, HANDLE worker) {
    SetEvent(instance->stopEvent);
    WaitForWorker(worker);
    CloseHandle(worker);
}

void ReleaseEndedOneShotWorkers(OneShotWorkers* workers) {
    int32_t kept = 0;
    for (int32_t i = 0; i < workers->count; ++i) {
        if (WaitForSingleObject(workers->handles[i], 0) == WAIT_OBJECT_0)
            CloseHandle(workers->handles[i]);
        else
            workers->handles[kept++] = workers->handles[i];
    }
    workers->count = kept;
}

bool MakeRoomForOneMore(OneShotWorkers* workers) {
    if (workers->count < workers->capacity)
        return true;
    int32_t capacity = workers->capacity ? workers->capacity * 2 : 4;
    HANDLE* grown = static_cast<HANDLE*>(realloc(workers->handles, capacity * sizeof(HANDLE)));
    if (!grown)
        return false;
    workers->handles = grown;
    workers->capacity = capacity;
    return true;
}

}  // namespace

void StartPeriodicWorker(DockletInstance* instance) {
    if (instance->periodicWorker) {
        StopPeriodicWorker(instance);
        ResetEvent(instance->stopEvent);
    }
    // Without a stop event a worker could not be ended: no checks at all.
    if (!instance->stopEvent)
        return;
    instance->periodicWorker = CreateThread(nullptr, 0, TidewellThread, instance, 0, nullptr);
    StartIdleWatchers(instance);
}

void StopPeriodicWorker(DockletInstance* instance) {
    StopIdleWatchers(instance);
    if (!instance->periodicWorker)
        return;
    StopWorker(instance, instance->periodicWorker);
    instance->periodicWorker = nullptr;
}

namespace {

void StartOneShot(DockletInstance* instance, LPTHREAD_START_ROUTINE cycle) {
    OneShotWorkers* workers = &instance->oneShotWorkers;
    EnterCriticalSection(&oneShotLock.section);
    ReleaseEndedOneShotWorkers(workers);
    if (instance->stopEvent && MakeRoomForOneMore(workers)) {
        HANDLE worker = CreateThread(nullptr, 0, cycle, instance, 0, nullptr);
        if (worker)
            workers->handles[workers->count++] = worker;
    }
    LeaveCriticalSection(&oneShotLock.section);
}

}  // namespace

void StartOneShotWorker(DockletInstance* instance) {
    StartOneShot(instance, TidewellOnce);
}

void StartHeldCheckWorker(DockletInstance* instance) {
    StartOneShot(instance, TidewellHeld);
}

void CheckAtOnce(DockletInstance* instance, uint32_t wakeEvents) {
    InterlockedOr(&instance->wakeEvents, static_cast<LONG>(wakeEvents));
    StartOneShot(instance, TidewellHeld);
}

void StopOneShotWorkers(DockletInstance* instance) {
    EnterCriticalSection(&oneShotLock.section);
    OneShotWorkers workers = instance->oneShotWorkers;
    instance->oneShotWorkers = OneShotWorkers{};
    LeaveCriticalSection(&oneShotLock.section);
    for (int32_t i = 0; i < workers.count; ++i)
        StopWorker(instance, workers.handles[i]);
    free(workers.handles);
}

bool StartSignInWorker(DockletInstance* instance) {
    SignInBoard* board = instance->signIn;
    if (!board || !instance->stopEvent || !AnyAccountWaiting(board))
        return false;
    if (board->worker && WaitForSingleObject(board->worker, 0) == WAIT_TIMEOUT) {
        // The user may have closed the page, or the browser never opened it:
        // the sign-in worker opens it again, as starting a browser may take a while.
        SetEvent(board->reopenEvent);
        return true;
    }
    if (board->worker)
        CloseHandle(board->worker);
    board->worker = CreateThread(nullptr, 0, TidewellSignIn, instance, 0, nullptr);
    return true;
}

void StopSignInWorker(DockletInstance* instance) {
    SignInBoard* board = instance->signIn;
    if (!board || !board->worker)
        return;
    StopWorker(instance, board->worker);
    board->worker = nullptr;
}
