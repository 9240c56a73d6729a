#pragma once

// Exit code when the docklet (or anything in the process) faults.
const int kCrashExitCode = 4;

// A fault anywhere in the process is journaled as "crash" with its code and
// address, and the host exits with kCrashExitCode instead of starting a debugger.
void ReportCrashesInJournal();
