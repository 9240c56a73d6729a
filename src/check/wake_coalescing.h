#pragma once
#include <cstdint>

// When every item checks at once because the machine woke or its network
// changed. Such events come in runs: a resume brings one or two power
// messages, and a new network a run of address changes as each address goes
// and comes. A run makes one check: it starts once kWakeQuietMs pass without
// another event, and at the latest kWakeLongestMs after the run's first event,
// so that a network that keeps changing still gets its check in time. Events
// after the check has started begin a new run. Times are tick counts in
// milliseconds, which may wrap.

enum WakeEvent : uint32_t {
    kWakeResumed = 1u,          // Windows resumed from sleep
    kWakeAddressesChanged = 2u, // an address of the machine came or went
};

const uint32_t kWakeQuietMs = 500;
const uint32_t kWakeLongestMs = 2000;
const uint32_t kWakeNoneWaiting = 0xFFFFFFFFu; // INFINITE, for a wait

struct WakeRun {
    uint32_t events;    // WakeEvent bits of the run waiting for its check; 0: none waits
    uint32_t firstAtMs; // when its first event came
    uint32_t lastAtMs;  // when its latest event came
};

// Adds an event to the run under way, or begins a run.
void NoteWakeEvent(WakeRun* run, uint32_t event, uint32_t nowMs);

// How long until the run's check is due: 0 when it is, kWakeNoneWaiting when no run waits.
uint32_t WakeCheckDueInMs(const WakeRun* run, uint32_t nowMs);

// The events of a run whose check is due (WakeEvent bits), ending the run;
// 0, and the run left as it is, when none is due.
uint32_t TakeDueWakeEvents(WakeRun* run, uint32_t nowMs);

// What woke the items, for their debug logs: "Windows resumed from sleep",
// "the machine's network addresses changed", or both joined by "; ".
const char* WakeEventsText(uint32_t events);
