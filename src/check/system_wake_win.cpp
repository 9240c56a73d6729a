#include "check/system_wake_win.h"

#include <windows.h>

#include <iphlpapi.h>

#include <cstdlib>
#include <cstring>

#include "check/check_workers_win.h"
#include "check/wake_coalescing.h"
#include "log/debug_log.h"
#include "log/debug_log_file.h"
#include "log/windows_error_text_win.h"
#include "text/bounded_text.h"

namespace {

// How long the thread, as it ends, waits for a cancelled request for address
// changes to be over before it frees what the system writes that end into.
const DWORD kCancelWaitMs = 1000;
// Room for what the thread could not set up, a line or two.
const size_t kNoticeSize = 512;
// How long an item's creation waits for the thread's set-up, so that what
// could not be set up comes first in its log, before any check's lines.
const DWORD kSetUpWaitMs = 2000;

// The thread's own record: made when the thread is started, freed by the
// thread as it ends.
struct WakeWatch {
    HMODULE module;           // this module, held loaded until the thread has ended
    HANDLE quit;              // set when the module's last item goes
    HANDLE ready;             // set once the window and the first request are made, or not
    bool settingUp;           // until then: what fails is for the items' creation to log
    OVERLAPPED addressChange; // the request for the next address change; its event resets by hand
    bool addressesWatched;    // a request is under way
    WakeRun run;              // the events waiting for their check; on the thread only
};

// The module's items and its wake thread. Held only around edits, the
// thread's start and CheckAtOnce (which never waits): OnDestroy takes it.
// Initialised while the module loads, before any item exists.
struct WakeItems {
    CRITICAL_SECTION lock;
    DockletInstance** items; // count of capacity, owned
    int32_t count;
    int32_t capacity;
    WakeWatch* watch;         // the running thread's record, or null
    char notice[kNoticeSize]; // what that thread could not set up, told to items added later
    WakeItems() : items(), count(), capacity(), watch(), notice() {
        InitializeCriticalSection(&lock);
    }
    ~WakeItems() { DeleteCriticalSection(&lock); }
};

WakeItems wakeItems;

// Keeps what the thread could not set up for the items added later, and
// tells the items there are once the set-up is over (during it, their
// creation does). The logs are written outside the lock, from copies of
// their paths: a log on a share that hangs must not keep OnDestroy waiting.
void TellItems(WakeWatch* watch, const char* line) {
    EnterCriticalSection(&wakeItems.lock);
    char(*paths)[kPathSize] = nullptr;
    int32_t pathCount = 0;
    if (wakeItems.watch == watch) {
        const size_t used = strlen(wakeItems.notice);
        FormatText(wakeItems.notice + used, sizeof wakeItems.notice - used, "%s%s",
                   used ? "\n" : "", line);
        if (!watch->settingUp)
            paths = static_cast<char(*)[kPathSize]>(calloc(wakeItems.count + 1, kPathSize));
        for (int32_t i = 0; paths && i < wakeItems.count; ++i) {
            const DockletInstance* item = wakeItems.items[i];
            if (item->debug && item->logPath[0] != '\0')
                CopyText(paths[pathCount++], kPathSize, item->logPath);
        }
    }
    LeaveCriticalSection(&wakeItems.lock);
    for (int32_t i = 0; i < pathCount; ++i)
        AppendDebugLogLine(paths[i], line, strlen(line));
    free(paths);
}

void TellItemsOfError(WakeWatch* watch, const char* what, DWORD error) {
    char line[kNoticeSize / 2];
    if (error == 0) {
        CopyText(line, sizeof line, what);
    } else {
        char meaning[160];
        WindowsErrorText(error, meaning, sizeof meaning);
        FormatText(line, sizeof line, "%s (Windows error %lu: %s)", what, error, meaning);
    }
    TellItems(watch, line);
}

LRESULT CALLBACK WakeWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_POWERBROADCAST &&
        (wParam == PBT_APMRESUMEAUTOMATIC || wParam == PBT_APMRESUMESUSPEND ||
         wParam == PBT_APMRESUMECRITICAL)) {
        if (WakeWatch* watch =
                reinterpret_cast<WakeWatch*>(GetWindowLongPtrA(window, GWLP_USERDATA)))
            NoteWakeEvent(&watch->run, kWakeResumed, GetTickCount());
        return TRUE;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// The hidden window that hears of resumes, or null (logged). A class name of
// the thread's own: a thread ending after the last item went may still hold
// its class while the next item's thread registers one.
HWND MakeWakeWindow(WakeWatch* watch, const char* className) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WakeWindowProcedure;
    windowClass.hInstance = watch->module;
    windowClass.lpszClassName = className;
    if (!RegisterClassA(&windowClass)) {
        TellItemsOfError(watch, "Resume from sleep is not watched: no window class",
                         GetLastError());
        return nullptr;
    }
    HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, className, "Tidewell", WS_POPUP, 0, 0, 0, 0,
                                  nullptr, nullptr, watch->module, nullptr);
    if (!window) {
        // Wine makes no top-level window without a display, and says no more.
        TellItemsOfError(watch, "Resume from sleep is not watched: Windows made no window for it",
                         GetLastError());
        UnregisterClassA(className, watch->module);
        return nullptr;
    }
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(watch));
    return window;
}

// Asks to be told of the next address change: Windows tells of one change a request.
void AskForAddressChange(WakeWatch* watch) {
    HANDLE event = watch->addressChange.hEvent;
    watch->addressChange = OVERLAPPED{};
    watch->addressChange.hEvent = event;
    ResetEvent(event);
    HANDLE unused = nullptr;
    const DWORD result = NotifyAddrChange(&unused, &watch->addressChange);
    watch->addressesWatched = result == ERROR_IO_PENDING;
    if (!watch->addressesWatched)
        TellItemsOfError(watch, "Network changes are not watched", result);
}

void AddressesChanged(WakeWatch* watch) {
    watch->addressesWatched = false;
    const DWORD status = static_cast<DWORD>(watch->addressChange.Internal);
    if (status != 0) {
        // Asking again at once could fail the same way without end.
        TellItemsOfError(watch, "Network changes are no longer watched", 0);
        return;
    }
    NoteWakeEvent(&watch->run, kWakeAddressesChanged, GetTickCount());
    AskForAddressChange(watch);
}

// Ends the request under way; false when the system may still write its end
// into the record, which must then outlive the thread.
bool CancelAddressRequest(WakeWatch* watch) {
    if (!watch->addressesWatched || !CancelIPChangeNotify(&watch->addressChange))
        return true;
    return WaitForSingleObject(watch->addressChange.hEvent, kCancelWaitMs) == WAIT_OBJECT_0;
}

void CheckEveryItem(WakeWatch* watch, uint32_t events) {
    EnterCriticalSection(&wakeItems.lock);
    if (wakeItems.watch == watch) {
        for (int32_t i = 0; i < wakeItems.count; ++i)
            CheckAtOnce(wakeItems.items[i], events);
    }
    LeaveCriticalSection(&wakeItems.lock);
}

void DispatchWaitingMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

// Until the last item goes: hears of resumes (through the window, which
// gets them while messages are dispatched here) and of address changes, and
// checks every item once a run of them is over.
void Listen(WakeWatch* watch) {
    for (;;) {
        HANDLE waits[2] = {watch->quit, watch->addressChange.hEvent};
        const DWORD count = watch->addressesWatched ? 2 : 1;
        const DWORD waitMs = WakeCheckDueInMs(&watch->run, GetTickCount());
        const DWORD result = MsgWaitForMultipleObjects(count, waits, FALSE, waitMs, QS_ALLINPUT);
        if (result == WAIT_OBJECT_0 || result == WAIT_FAILED)
            return;
        if (count == 2 && result == WAIT_OBJECT_0 + 1)
            AddressesChanged(watch);
        else if (result == WAIT_OBJECT_0 + count)
            DispatchWaitingMessages();
        if (const uint32_t events = TakeDueWakeEvents(&watch->run, GetTickCount()))
            CheckEveryItem(watch, events);
    }
}

DWORD WINAPI WakeThread(void* parameter) {
    WakeWatch* watch = static_cast<WakeWatch*>(parameter);
    char className[32];
    FormatText(className, sizeof className, "TidewellWake%08lX", GetCurrentThreadId());
    HWND window = MakeWakeWindow(watch, className);
    AskForAddressChange(watch);
    watch->settingUp = false;
    SetEvent(watch->ready);
    Listen(watch);
    if (window) {
        DestroyWindow(window);
        UnregisterClassA(className, watch->module);
    }
    HMODULE module = watch->module;
    if (CancelAddressRequest(watch)) {
        CloseHandle(watch->addressChange.hEvent);
        CloseHandle(watch->quit);
        CloseHandle(watch->ready);
        free(watch);
    }
    FreeLibraryAndExitThread(module, 0);
}

// Starts the thread for the first item; under the lock. Says in the notice
// when it cannot.
void StartWakeThread() {
    wakeItems.notice[0] = '\0';
    WakeWatch* watch = static_cast<WakeWatch*>(calloc(1, sizeof(WakeWatch)));
    if (watch) {
        watch->quit = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        watch->ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        watch->addressChange.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        watch->settingUp = true;
    }
    HANDLE thread = nullptr;
    if (watch && watch->quit && watch->ready && watch->addressChange.hEvent &&
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCSTR>(&WakeThread), &watch->module)) {
        thread = CreateThread(nullptr, 0, WakeThread, watch, 0, nullptr);
        if (!thread)
            FreeLibrary(watch->module);
    }
    if (thread) {
        CloseHandle(thread);
        wakeItems.watch = watch;
        return;
    }
    if (watch) {
        if (watch->quit)
            CloseHandle(watch->quit);
        if (watch->ready)
            CloseHandle(watch->ready);
        if (watch->addressChange.hEvent)
            CloseHandle(watch->addressChange.hEvent);
        free(watch);
    }
    CopyText(wakeItems.notice, sizeof wakeItems.notice,
             "Resume from sleep and network changes are not watched: no thread for them");
}

// Waits for the thread's set-up on the host's thread, dispatching the
// messages sent to it meanwhile, as the waits for workers do. A set-up that
// takes longer (a system that hangs) is not waited for: what it could not do
// is then told to later items only.
void AwaitSetUp(HANDLE ready) {
    const DWORD start = GetTickCount();
    for (DWORD spent; (spent = GetTickCount() - start) < kSetUpWaitMs;) {
        if (MsgWaitForMultipleObjects(1, &ready, FALSE, kSetUpWaitMs - spent, QS_SENDMESSAGE) !=
            WAIT_OBJECT_0 + 1)
            return;
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

bool MakeRoomForOneMore() {
    if (wakeItems.count < wakeItems.capacity)
        return true;
    const int32_t capacity = wakeItems.capacity ? wakeItems.capacity * 2 : 4;
    DockletInstance** grown = static_cast<DockletInstance**>(
        realloc(wakeItems.items, capacity * sizeof(DockletInstance*)));
    if (!grown)
        return false;
    wakeItems.items = grown;
    wakeItems.capacity = capacity;
    return true;
}

} // namespace

void WatchSystemWake(DockletInstance* instance) {
    HANDLE ready = nullptr;
    EnterCriticalSection(&wakeItems.lock);
    const bool added = MakeRoomForOneMore();
    if (added) {
        wakeItems.items[wakeItems.count++] = instance;
        if (!wakeItems.watch)
            StartWakeThread();
        // The thread frees its own when it ends.
        if (wakeItems.watch)
            DuplicateHandle(GetCurrentProcess(), wakeItems.watch->ready, GetCurrentProcess(),
                            &ready, 0, FALSE, DUPLICATE_SAME_ACCESS);
    }
    LeaveCriticalSection(&wakeItems.lock);
    if (ready) {
        AwaitSetUp(ready);
        CloseHandle(ready);
    }
    char notice[kNoticeSize];
    EnterCriticalSection(&wakeItems.lock);
    CopyText(notice, sizeof notice,
             added ? wakeItems.notice
                   : "Resume from sleep and network changes are not watched: no memory");
    LeaveCriticalSection(&wakeItems.lock);
    if (notice[0] != '\0' && instance->debug)
        WriteDebugLog(instance, "%s", notice);
}

void UnwatchSystemWake(DockletInstance* instance) {
    EnterCriticalSection(&wakeItems.lock);
    for (int32_t i = 0; i < wakeItems.count; ++i) {
        if (wakeItems.items[i] == instance) {
            wakeItems.items[i] = wakeItems.items[--wakeItems.count];
            break;
        }
    }
    if (wakeItems.count == 0) {
        if (wakeItems.watch)
            SetEvent(wakeItems.watch->quit);
        wakeItems.watch = nullptr;
        free(wakeItems.items);
        wakeItems.items = nullptr;
        wakeItems.capacity = 0;
    }
    LeaveCriticalSection(&wakeItems.lock);
}
