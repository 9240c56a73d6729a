#pragma once
#include <cstddef>
#include <cstdint>

// Debug.log never grows past this size by more than one line: a server that
// talks without end must not fill the user's disk. The full file becomes
// Debug.old.log (one generation, replaced each time) and a new one begins
// with kDebugLogRenewedLine.
constexpr uint64_t kDebugLogLimit = 10u * 1024 * 1024;
constexpr char kOldDebugLogName[] = "Debug.old.log";
constexpr char kDebugLogRenewedLine[] =
    "Debug.log reached 10 MiB: the lines before this one are in Debug.old.log";
constexpr char kDebugLogCutLine[] =
    "Debug.log reached 10 MiB and Debug.old.log could not be replaced: the lines before this one "
    "were dropped";

// True when a line of lineLength bytes, added to a log of size bytes that
// already holds something, would take it past the limit.
inline bool DebugLogIsFull(uint64_t size, size_t lineLength) {
    return size > 0 && size + lineLength + 2 > kDebugLogLimit;
}
