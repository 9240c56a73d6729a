#include "crash_report_win.h"

#include <windows.h>

#include <cstdio>

#include "journal_win.h"

namespace {

LONG WINAPI JournalCrash(EXCEPTION_POINTERS* exception) {
    char details[96];
    snprintf(details, sizeof details, "exception=0x%08lx address=0x%08lx",
             static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
             static_cast<unsigned long>(
                 reinterpret_cast<uintptr_t>(exception->ExceptionRecord->ExceptionAddress)));
    JournalEvent("-", "crash", details);
    fprintf(stderr, "tidewell-host: crash, %s\n", details);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), kCrashExitCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void ReportCrashesInJournal() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(JournalCrash);
}
