// tidewell-host: stands in for the dock host towards a docklet DLL, running
// a scenario of steps and journaling every call between the two.
#include <windows.h>

#include <gdiplus.h>

#include <cstdio>
#include <string>
#include <vector>

#include "crash_report_win.h"
#include "export_hiding_win.h"
#include "host_context_win.h"
#include "host_items_win.h"
#include "host_options.h"
#include "journal_win.h"
#include "scenario.h"
#include "scenario_runner_win.h"

namespace {

const int kStepFailedExitCode = 1;
const int kBadInputExitCode = 2;
const int kLateCallsExitCode = 3;
const int kStoppedExitCode = 130;  // as a shell reports a program ended by Ctrl-C

int Fail(int code, const std::string& message) {
    fprintf(stderr, "tidewell-host: %s\n", message.c_str());
    return code;
}

bool ReadSteps(const HostOptions& options, std::vector<Step>* steps, std::string* error) {
    bool dllGiven = !options.dllPath.empty();
    if (options.scriptPath.empty())
        return ParseWordSteps(options.stepWords, dllGiven, steps, error);
    std::vector<ScriptLine> lines;
    return ReadScriptFile(options.scriptPath, &lines, error) &&
           ParseScriptSteps(options.scriptPath, lines, dllGiven, steps, error);
}

}  // namespace

int main(int argc, char** argv) {
    HostOptions options;
    std::vector<Step> steps;
    std::string error;
    if (!ParseHostOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error))
        return Fail(kBadInputExitCode, error + "\n" + kHostUsage);
    if (!ReadSteps(options, &steps, &error))
        return Fail(kBadInputExitCode, error);

    InitialiseHostContext(options);
    if (!OpenJournal(options.journalPath, &error))
        return Fail(kBadInputExitCode, error);
    ReportCrashesInJournal();
    char origin[48];
    snprintf(origin, sizeof origin, " clock-origin-ms=%.3f", JournalClockOrigin());
    JournalEvent("-", "host-start", "main-thread=" + std::to_string(MainThreadId()) + origin);
    if (!HideOwnExports(options.hiddenFunctions, &error) || !InitialiseHostWindows(&error))
        return Fail(kStepFailedExitCode, error);

    Gdiplus::GdiplusStartupInput gdiplusInput;
    ULONG_PTR gdiplusToken = 0;
    if (Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr) != Gdiplus::Ok)
        return Fail(kStepFailedExitCode, "GDI+ does not start");

    WatchForStopRequests();
    ScenarioRunner runner;
    bool allSucceeded = runner.Run(steps);
    runner.Quit();
    Gdiplus::GdiplusShutdown(gdiplusToken);

    int lateCalls = LateCallCount();
    JournalEvent("-", "end", "late host calls: " + std::to_string(lateCalls));
    CloseJournal();
    if (lateCalls > 0)
        return kLateCallsExitCode;
    if (StopRequested())
        return kStoppedExitCode;
    return allSucceeded ? 0 : kStepFailedExitCode;
}
