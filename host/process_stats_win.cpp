#include "process_stats_win.h"

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

namespace {

// Handles are handed out lowest free value first, so a long run of invalid
// values means the end of the table.
const ULONG_PTR kEndOfTableGap = 1024;

DWORD CountHandlesByProbing() {
    DWORD count = 0;
    ULONG_PTR misses = 0;
    for (ULONG_PTR value = 4; misses < kEndOfTableGap; value += 4) {
        DWORD flags;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++count;
            misses = 0;
        } else {
            ++misses;
        }
    }
    return count;
}

long CountOwnThreads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    long count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    }
    CloseHandle(snapshot);
    return count;
}

}  // namespace

std::string ProcessStats() {
    DWORD handles = 0;
    // Wine answers this with 0 handles.
    if (!GetProcessHandleCount(GetCurrentProcess(), &handles) || handles == 0)
        handles = CountHandlesByProbing();
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                         sizeof memory);
    return "handles=" + std::to_string(handles) + " pagefile=" +
           std::to_string(memory.PagefileUsage) + " private=" + std::to_string(memory.PrivateUsage) +
           " threads=" + std::to_string(CountOwnThreads());
}
