#pragma once
#include <string>

// The journal may be written from any thread; each line is written whole and
// flushed at once, so that a crash loses nothing before it.
bool OpenJournal(const std::string& path, std::string* error);
void CloseJournal();

// A line for the calling thread.
void JournalEvent(const std::string& item, const std::string& event, const std::string& details);
// A line for another thread: work forwarded to the main thread is journaled
// under the thread that asked for it.
void JournalEventFor(unsigned long thread, const std::string& item, const std::string& event,
                     const std::string& details);

// Milliseconds since the journal was opened.
double JournalClock();
// The performance counter's reading, in milliseconds, when the journal was
// opened: under Wine Linux's CLOCK_MONOTONIC_RAW, so that a Linux process can
// put the journal's times beside its own.
double JournalClockOrigin();
