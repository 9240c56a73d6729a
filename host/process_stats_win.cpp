#include "process_stats_win.h"

#include <windows.h>

#include <psapi.h>

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
           std::to_string(memory.PagefileUsage) + " private=" + std::to_string(memory.PrivateUsage);
}
