#include "host_context_win.h"

namespace {

HostOptions g_options;
DWORD g_mainThread;
CRITICAL_SECTION g_stateLock;
HANDLE g_labelChanged;
HANDLE g_stopRequested;
int g_entryItem;
LONG g_lateCalls;
LONG g_frames;

BOOL WINAPI RequestStop(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    SetEvent(g_stopRequested);
    return TRUE;
}

}  // namespace

void InitialiseHostContext(const HostOptions& options) {
    g_options = options;
    g_mainThread = GetCurrentThreadId();
    InitializeCriticalSection(&g_stateLock);
    g_labelChanged = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    g_stopRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

void WatchForStopRequests() { SetConsoleCtrlHandler(RequestStop, TRUE); }

bool StopRequested() { return WaitForSingleObject(g_stopRequested, 0) == WAIT_OBJECT_0; }

HANDLE StopRequestedEvent() { return g_stopRequested; }

const HostOptions& Options() { return g_options; }

bool OnMainThread() { return GetCurrentThreadId() == g_mainThread; }

DWORD MainThreadId() { return g_mainThread; }

StateLock::StateLock() { EnterCriticalSection(&g_stateLock); }

StateLock::~StateLock() { LeaveCriticalSection(&g_stateLock); }

HANDLE LabelChangedEvent() { return g_labelChanged; }

void SetEntryItem(int item) { g_entryItem = item; }

std::string EntryItemColumn() { return OnMainThread() ? ItemColumn(g_entryItem) : "-"; }

void CountLateCall() { InterlockedIncrement(&g_lateCalls); }

int LateCallCount() { return static_cast<int>(g_lateCalls); }

void CountFrame() { InterlockedIncrement(&g_frames); }

long FrameCount() { return InterlockedCompareExchange(&g_frames, 0, 0); }

std::string ItemColumn(int item) { return item > 0 ? std::to_string(item) : "-"; }
