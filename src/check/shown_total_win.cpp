#include "check/shown_total_win.h"

#include <windows.h>

#include <climits>
#include <cstdlib>

#include "animation/status_animator_win.h"
#include "check/idle_timing.h"
#include "check/message_label.h"
#include "check/total_effects_win.h"
#include "docklet/host_services_win.h"
#include "log/debug_log.h"
#include "signin/sign_in_board_win.h"
#include "text/bounded_text.h"

struct ShownTotal {
    CRITICAL_SECTION
        lock; // held while the counts change and the label is set, so labels follow counts in order
    int32_t accountCount;
    int32_t* counts;   // accountCount entries: a count, -1 failed, kCountKept never counted
    int32_t* answered; // accountCount entries: the last count that was not a failure, 0 before
    // accountCount entries: tick count of the last count or word from the
    // account's server, 0 before the first
    volatile LONG* heardAt;
    DWORD startedAt; // tick count when the item started
};

namespace {

const char kNothingCheckedLabel[] = "No account to check";

int32_t AddCount(int32_t total, int32_t count) {
    return count > INT32_MAX - total ? INT32_MAX : total + count;
}

// An account that waits for its user has not failed: the label asks for the
// sign-in instead.
bool WaitsForSignIn(const DockletInstance* instance, int32_t index) {
    SignInBoard* board = instance->signIn;
    return board && index < board->count && AccountWaiting(board, index);
}

// Sets the label and the animator's mode from the counts; returns the total.
// lastAnswers, when given, holds each account's last count that was not a
// failure: a failed account counts 0 on the label, yet its mail is no news
// when it answers again; and an account never counted (kCountKept) then
// leaves the label and the mode as they are.
int32_t Show(DockletInstance* instance, const int32_t* counts, const int32_t* lastAnswers,
             int32_t accountCount) {
    bool firstCountPending = false;
    int32_t total = 0;
    int32_t heard = 0;
    int32_t failed = 0;
    int32_t answered = 0;
    for (int32_t i = 0; i < accountCount; ++i) {
        if (counts[i] == -1 && !WaitsForSignIn(instance, i))
            ++failed;
        firstCountPending = firstCountPending || (lastAnswers && counts[i] == kCountKept);
        if (counts[i] < 0) {
            heard = lastAnswers ? AddCount(heard, lastAnswers[i]) : heard;
            continue;
        }
        ++answered;
        total = AddCount(total, counts[i]);
        heard = AddCount(heard, counts[i]);
    }
    if (firstCountPending)
        return total;
    char counted[1024];
    const char* countLabel = instance->noMessageText;
    if (total > 1) {
        FormatMessageLabel(counted, sizeof counted, instance->manyMessagesTemplate, total);
        countLabel = counted;
    } else if (total == 1) {
        countLabel = instance->oneMessageText;
    }
    char label[1024];
    // What the user must do comes after what was counted, never in its place.
    FormatCycleLabel(label, sizeof label, countLabel, instance->failedTemplate, failed,
                     answered > 0, AnyAccountWaiting(instance->signIn) ? instance->signInText : "");
    // Without an account nothing fails, yet nothing is counted either: where
    // the user asked to see failures, "no mail" would be a false comfort.
    if (instance->accountCount <= 0 && instance->failedTemplate[0] != '\0')
        CopyText(label, sizeof label, kNothingCheckedLabel);
    // The badge's total is handed over before the mode shows its frames.
    OnTotalShown(instance, total, heard);
    if (instance->animator)
        instance->animator->SetMode(total >= 1 ? kNewMailMode : kNoMailMode);
    HostServices::SetLabel(instance->itemWindow, label);
    return total;
}

} // namespace

ShownTotal* MakeShownTotal(int32_t accountCount) {
    ShownTotal* shown = static_cast<ShownTotal*>(calloc(1, sizeof(ShownTotal)));
    if (!shown)
        return nullptr;
    shown->accountCount = accountCount > 0 ? accountCount : 0;
    shown->counts = static_cast<int32_t*>(calloc(shown->accountCount + 1, sizeof(int32_t)));
    shown->answered = static_cast<int32_t*>(calloc(shown->accountCount + 1, sizeof(int32_t)));
    shown->heardAt = static_cast<volatile LONG*>(calloc(shown->accountCount + 1, sizeof(LONG)));
    if (!shown->counts || !shown->answered || !shown->heardAt) {
        free(shown->counts);
        free(shown->answered);
        free(const_cast<LONG*>(shown->heardAt));
        free(shown);
        return nullptr;
    }
    shown->startedAt = GetTickCount();
    for (int32_t i = 0; i < shown->accountCount; ++i)
        shown->counts[i] = kCountKept;
    InitializeCriticalSection(&shown->lock);
    return shown;
}

void FreeShownTotal(ShownTotal* shown) {
    if (!shown)
        return;
    DeleteCriticalSection(&shown->lock);
    free(shown->counts);
    free(shown->answered);
    free(const_cast<LONG*>(shown->heardAt));
    free(shown);
}

namespace {

void NoteHeard(ShownTotal* shown, int32_t index) {
    const DWORD now = GetTickCount();
    InterlockedExchange(&shown->heardAt[index], static_cast<LONG>(now ? now : 1));
}

// The tick count of the account's last count or word, else of the item's start.
DWORD LastHeard(const ShownTotal* shown, int32_t index) {
    const DWORD heard = static_cast<DWORD>(shown->heardAt[index]);
    return heard ? heard : shown->startedAt;
}

void Record(ShownTotal* shown, int32_t index, int32_t count) {
    shown->counts[index] = count;
    if (count >= 0) {
        shown->answered[index] = count;
        NoteHeard(shown, index);
    }
}

// "HH:MM:SS", local time, of a tick count of the past.
void FormatClockOf(DWORD tick, char* text, size_t size) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER then;
    then.LowPart = now.dwLowDateTime;
    then.HighPart = now.dwHighDateTime;
    // FILETIME counts 100 ns units.
    then.QuadPart -= static_cast<ULONGLONG>(GetTickCount() - tick) * 10000;
    FILETIME utc = {then.LowPart, then.HighPart};
    FILETIME local;
    SYSTEMTIME clock;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &clock)) {
        CopyText(text, size, "??:??:??");
        return;
    }
    FormatText(text, size, "%02u:%02u:%02u", clock.wHour, clock.wMinute, clock.wSecond);
}

void DescribeLastWordOf(const ShownTotal* shown, int32_t index, char* text, size_t size) {
    char clock[16];
    FormatClockOf(LastHeard(shown, index), clock, sizeof clock);
    const bool never = shown->heardAt[index] == 0;
    FormatText(text, size, never ? "since the item started at %s" : "since %s", clock);
}

} // namespace

int32_t ShowCycleCounts(DockletInstance* instance, const int32_t* counts) {
    ShownTotal* shown = instance->shownTotal;
    if (!shown)
        return Show(instance, counts, nullptr, instance->accountCount);
    EnterCriticalSection(&shown->lock);
    for (int32_t i = 0; i < shown->accountCount && i < instance->accountCount; ++i) {
        if (counts[i] != kCountKept)
            Record(shown, i, counts[i]);
    }
    const int32_t total = Show(instance, shown->counts, shown->answered, shown->accountCount);
    LeaveCriticalSection(&shown->lock);
    return total;
}

void NoteAccountHeard(DockletInstance* instance, int32_t index) {
    ShownTotal* shown = instance->shownTotal;
    if (shown && index >= 0 && index < shown->accountCount)
        NoteHeard(shown, index);
}

void DescribeLastWord(DockletInstance* instance, int32_t index, char* text, size_t size) {
    ShownTotal* shown = instance->shownTotal;
    if (!shown || index < 0 || index >= shown->accountCount) {
        CopyText(text, size, "");
        return;
    }
    EnterCriticalSection(&shown->lock);
    DescribeLastWordOf(shown, index, text, size);
    LeaveCriticalSection(&shown->lock);
}

void ShowStaleAccounts(DockletInstance* instance) {
    ShownTotal* shown = instance->shownTotal;
    if (!shown)
        return;
    const uint32_t delayMs = static_cast<uint32_t>(instance->delaySeconds) * 1000u;
    EnterCriticalSection(&shown->lock);
    bool changed = false;
    for (int32_t i = 0; i < shown->accountCount && i < instance->accountCount; ++i) {
        if (shown->counts[i] == -1)
            continue;
        const bool idle = instance->accounts[i].idle;
        const uint32_t staleMs = StaleAfterMs(idle, delayMs);
        if (GetTickCount() - LastHeard(shown, i) <= staleMs)
            continue;
        if (instance->debug) {
            char since[64];
            DescribeLastWordOf(shown, i, since, sizeof since);
            WriteDebugLog(instance,
                          "  Account %d: no count %s, more than three times its interval (%u s): counted "
                          "as failed until it answers",
                          i, since, staleMs / 3000);
        }
        Record(shown, i, -1);
        changed = true;
    }
    if (changed) {
        const int32_t total = Show(instance, shown->counts, shown->answered, shown->accountCount);
        if (instance->debug)
            WriteDebugLog(instance, "  Total mails:%d (stale accounts failed)", total);
    }
    LeaveCriticalSection(&shown->lock);
}

int32_t ShowAccountCount(DockletInstance* instance, int32_t index, int32_t count) {
    ShownTotal* shown = instance->shownTotal;
    if (!shown || index < 0 || index >= shown->accountCount)
        return 0;
    EnterCriticalSection(&shown->lock);
    Record(shown, index, count);
    const int32_t total = Show(instance, shown->counts, shown->answered, shown->accountCount);
    LeaveCriticalSection(&shown->lock);
    return total;
}
