#include "check/wake_coalescing.h"

void NoteWakeEvent(WakeRun* run, uint32_t event, uint32_t nowMs) {
    if (run->events == 0)
        run->firstAtMs = nowMs;
    run->events |= event;
    run->lastAtMs = nowMs;
}

uint32_t WakeCheckDueInMs(const WakeRun* run, uint32_t nowMs) {
    if (run->events == 0)
        return kWakeNoneWaiting;
    // Unsigned differences stay right across the tick count's wrap.
    const uint32_t sinceFirst = nowMs - run->firstAtMs;
    const uint32_t sinceLast = nowMs - run->lastAtMs;
    if (sinceFirst >= kWakeLongestMs || sinceLast >= kWakeQuietMs)
        return 0;
    const uint32_t untilQuiet = kWakeQuietMs - sinceLast;
    const uint32_t untilLongest = kWakeLongestMs - sinceFirst;
    return untilQuiet < untilLongest ? untilQuiet : untilLongest;
}

uint32_t TakeDueWakeEvents(WakeRun* run, uint32_t nowMs) {
    if (WakeCheckDueInMs(run, nowMs) != 0)
        return 0;
    const uint32_t events = run->events;
    *run = WakeRun{};
    return events;
}

const char* WakeEventsText(uint32_t events) {
    const uint32_t both = kWakeResumed | kWakeAddressesChanged;
    if ((events & both) == both)
        return "Windows resumed from sleep; the machine's network addresses changed";
    if (events & kWakeResumed)
        return "Windows resumed from sleep";
    return "the machine's network addresses changed";
}
