#include "launch_watch_win.h"

#include <vector>

#include "host_context_win.h"
#include "import_patch_win.h"
#include "journal_text.h"
#include "journal_win.h"

namespace {

typedef BOOL(WINAPI* CreateProcessFunction)(LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES,
                                            LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR,
                                            LPSTARTUPINFOA, LPPROCESS_INFORMATION);
typedef BOOL(WINAPI* CloseHandleFunction)(HANDLE);

struct LaunchedHandle {
    HANDLE handle;
    const char* role;
    bool closed;
};

CreateProcessFunction g_createProcess;
CloseHandleFunction g_closeHandle;
CRITICAL_SECTION g_lock;
std::vector<LaunchedHandle> g_launched;

BOOL WINAPI WatchedCreateProcessA(LPCSTR application, LPSTR commandLine,
                                  LPSECURITY_ATTRIBUTES processAttributes,
                                  LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags,
                                  LPVOID environment, LPCSTR directory, LPSTARTUPINFOA startup,
                                  LPPROCESS_INFORMATION process) {
    // Taken before the call, which may write into the command line.
    std::string details = commandLine ? QuoteJournalText(commandLine) : "null";
    BOOL launched = g_createProcess(application, commandLine, processAttributes, threadAttributes,
                                    inherit, flags, environment, directory, startup, process);
    DWORD lastError = GetLastError();
    if (launched) {
        details += " ok pid=" + std::to_string(process->dwProcessId);
        EnterCriticalSection(&g_lock);
        g_launched.push_back({process->hProcess, "process", false});
        g_launched.push_back({process->hThread, "thread", false});
        LeaveCriticalSection(&g_lock);
    } else {
        details += " failed error=" + std::to_string(lastError);
    }
    JournalEvent(EntryItemColumn(), "CreateProcessA", details);
    SetLastError(lastError);
    return launched;
}

// Seeing the close itself, rather than only asking afterwards, keeps a handle
// value that was closed and then reused by the docklet from counting as open.
BOOL WINAPI WatchedCloseHandle(HANDLE handle) {
    BOOL closed = g_closeHandle(handle);
    DWORD lastError = GetLastError();
    if (closed) {
        EnterCriticalSection(&g_lock);
        for (LaunchedHandle& launched : g_launched) {
            if (launched.handle == handle)
                launched.closed = true;
        }
        LeaveCriticalSection(&g_lock);
    }
    SetLastError(lastError);
    return closed;
}

}  // namespace

bool WatchLaunches(HMODULE docklet) {
    InitializeCriticalSection(&g_lock);
    void* original = nullptr;
    if (PatchImport(docklet, "kernel32.dll", "CloseHandle",
                    reinterpret_cast<void*>(WatchedCloseHandle), &original))
        g_closeHandle = reinterpret_cast<CloseHandleFunction>(original);
    else
        g_closeHandle = CloseHandle;
    if (!PatchImport(docklet, "kernel32.dll", "CreateProcessA",
                     reinterpret_cast<void*>(WatchedCreateProcessA), &original))
        return false;
    g_createProcess = reinterpret_cast<CreateProcessFunction>(original);
    return true;
}

void BeginLaunchWatch() {
    EnterCriticalSection(&g_lock);
    g_launched.clear();
    LeaveCriticalSection(&g_lock);
}

std::string LaunchHandlesState() {
    EnterCriticalSection(&g_lock);
    std::string open;
    for (const LaunchedHandle& launched : g_launched) {
        DWORD flags;
        if (!launched.closed && GetHandleInformation(launched.handle, &flags))
            open += std::string(" ") + launched.role;
    }
    bool none = g_launched.empty();
    LeaveCriticalSection(&g_lock);
    if (none)
        return "none";
    return open.empty() ? "closed" : "open:" + open;
}
