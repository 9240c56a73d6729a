#pragma once
// Runs the stand-in host on a built docklet, as the whole-docklet tests do:
// each test gets a fresh work folder in the build tree, docklet folders in it,
// and the journal of each run read back as lines.
#include <string>
#include <vector>

#include "journal_text.h"

// The built programs, as Windows paths.
std::string HostExePath();
std::string DockletDllPath();      // as linked, with its debug information
// A file of the build tree given by its Linux path, as Windows programs see it.
std::string BuildFilePath(const std::string& linuxPath);

// A file of the docklet folder as the build assembles it for the zip: the
// DLL stripped of its debug information, the shipped pictures and INI.
std::string ShippedFilePath(const std::string& name);
std::string ProbeDllPath();

// This test's own folder (ends with a backslash), emptied at its first use in
// the test and kept afterwards for a look.
std::string TestWorkFolder();

// A docklet folder as a user drops it into the dock: the DLL (copied under
// the docklet's file name) and the INI text given, inside the work folder.
class DockletFolder {
  public:
    DockletFolder(const std::string& name, const std::string& iniText,
                  const std::string& dll = DockletDllPath());
    // The host's root folder and the docklet's relative folder, each ending with a backslash.
    std::string Root() const { return TestWorkFolder(); }
    std::string Relative() const { return name_ + "\\"; }
    std::string Path() const { return Root() + Relative(); }
    bool Has(const std::string& file) const;
    std::string Read(const std::string& file) const;

  private:
    std::string name_;
};

struct HostRun {
    int exitCode = -1;  // -1: the host did not start or did not end in time
    std::string output;  // standard output
    std::string errors;  // standard error
    std::vector<JournalLine> journal;

    unsigned long MainThread() const;
    // Index of the first line from `from` on with this event (and item, and
    // details starting so, when given), or -1.
    int Find(const std::string& event, const std::string& item = "",
             const std::string& details = "", int from = 0) const;
    int Count(const std::string& event, const std::string& item = "") const;
    const JournalLine& At(int index) const { return journal.at(static_cast<size_t>(index)); }
    // The journal as text, for failure messages.
    std::string Text() const;
};

// Runs the host with these arguments (the journal option is added) in the
// given current folder (default: the work folder), waiting at most timeoutMs.
HostRun RunHost(const std::vector<std::string>& arguments, const std::string& currentFolder = "",
                unsigned long timeoutMs = 60000);

// The figures of the run's n-th "stats" line (from 0); -1 where there is none.
struct Stats {
    long handles = -1;
    long long pagefile = -1;
    long threads = -1;
};
Stats StatsAt(const HostRun& run, int n);
