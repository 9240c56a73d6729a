#include "journal_win.h"

#include <windows.h>

#include <cstdio>

#include "journal_text.h"

namespace {

CRITICAL_SECTION g_lock;
FILE* g_file;
LARGE_INTEGER g_start;
LARGE_INTEGER g_frequency;

}  // namespace

bool OpenJournal(const std::string& path, std::string* error) {
    InitializeCriticalSection(&g_lock);
    QueryPerformanceFrequency(&g_frequency);
    QueryPerformanceCounter(&g_start);
    if (path.empty()) {
        g_file = stdout;
        return true;
    }
    g_file = fopen(path.c_str(), "wb");
    if (!g_file)
        *error = "cannot write the journal " + path;
    return g_file != nullptr;
}

void CloseJournal() {
    EnterCriticalSection(&g_lock);
    if (g_file && g_file != stdout)
        fclose(g_file);
    g_file = nullptr;
    LeaveCriticalSection(&g_lock);
}

double JournalClock() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - g_start.QuadPart) * 1000.0 /
           static_cast<double>(g_frequency.QuadPart);
}

double JournalClockOrigin() {
    return static_cast<double>(g_start.QuadPart) * 1000.0 /
           static_cast<double>(g_frequency.QuadPart);
}

void JournalEvent(const std::string& item, const std::string& event, const std::string& details) {
    JournalEventFor(GetCurrentThreadId(), item, event, details);
}

void JournalEventFor(unsigned long thread, const std::string& item, const std::string& event,
                     const std::string& details) {
    std::string line = FormatJournalLine(JournalClock(), thread, item, event, details) + "\n";
    EnterCriticalSection(&g_lock);
    if (g_file) {
        fwrite(line.data(), 1, line.size(), g_file);
        fflush(g_file);
    }
    LeaveCriticalSection(&g_lock);
}
