#include "host_run_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {


// Linux paths of the build, as Wine shows them to Windows programs.
std::string WindowsPath(std::string path) {
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return "Z:" + path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// One argument as the C runtime's command-line parser will split it back.
std::string QuoteArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

// Under Wine a process of the run before may still hold the file for a
// moment: shared every way, that does not keep the next run from writing it
// or a new test from removing it.
HANDLE InheritableFile(const std::string& path) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::string HostExePath() { return WindowsPath(TIDEWELL_HOST_EXE); }
std::string DockletDllPath() { return WindowsPath(TIDEWELL_DOCKLET_DLL); }
std::string BuildFilePath(const std::string& linuxPath) { return WindowsPath(linuxPath); }
std::string ShippedFilePath(const std::string& name) { return WindowsPath(TIDEWELL_SHIPPED_FOLDER "/" + name); }
std::string ProbeDllPath() { return WindowsPath(TIDEWELL_PROBE_DLL); }

std::string TestWorkFolder() {
    static std::string preparedFor;
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    for (char& c : name) {
        if (c == '/')
            c = '-';
    }
    std::string folder = WindowsPath(TIDEWELL_TEST_WORK_DIR) + "\\" + name + "\\";
    if (preparedFor != name) {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        preparedFor = name;
    }
    return folder;
}

DockletFolder::DockletFolder(const std::string& name, const std::string& iniText,
                             const std::string& dll)
    : name_(name) {
    std::filesystem::create_directories(Path());
    // Replacing by copy_file's own option fails under Wine with "File exists".
    std::filesystem::remove(Path() + "TidewellDocklet.dll");
    std::filesystem::copy_file(dll, Path() + "TidewellDocklet.dll");
    std::ofstream(Path() + "TidewellDocklet.ini", std::ios::binary) << iniText;
}

bool DockletFolder::Has(const std::string& file) const {
    return std::filesystem::exists(Path() + file);
}

std::string DockletFolder::Read(const std::string& file) const { return ReadFile(Path() + file); }

unsigned long HostRun::MainThread() const {
    int start = Find("host-start");
    return start < 0 ? 0 : std::stoul(At(start).details.substr(sizeof "main-thread=" - 1));
}

int HostRun::Find(const std::string& event, const std::string& item, const std::string& details,
                  int from) const {
    for (size_t i = static_cast<size_t>(std::max(from, 0)); i < journal.size(); ++i) {
        const JournalLine& line = journal[i];
        if (line.event == event && (item.empty() || line.item == item) &&
            line.details.compare(0, details.size(), details) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

int HostRun::Count(const std::string& event, const std::string& item) const {
    int count = 0;
    for (int i = Find(event, item); i >= 0; i = Find(event, item, "", i + 1))
        ++count;
    return count;
}

std::string HostRun::Text() const {
    std::string text = "exit code " + std::to_string(exitCode) + "\n";
    for (const JournalLine& line : journal)
        text += FormatJournalLine(line.milliseconds, line.thread, line.item, line.event,
                                  line.details) + "\n";
    return text + errors;
}

HostRun RunHost(const std::vector<std::string>& arguments, const std::string& currentFolder, DWORD timeoutMs) {
    std::string work = TestWorkFolder();
    std::string journalPath = work + "journal.txt";
    std::string outputPath = work + "output.txt";
    std::string errorsPath = work + "errors.txt";
    std::string commandLine = QuoteArgument(HostExePath()) + " --journal " + QuoteArgument(journalPath);
    for (const std::string& argument : arguments)
        commandLine += " " + QuoteArgument(argument);

    std::filesystem::remove(journalPath);
    HostRun run;
    HANDLE output = InheritableFile(outputPath);
    HANDLE errors = InheritableFile(errorsPath);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = errors;
    PROCESS_INFORMATION process = {};
    std::string folder = currentFolder.empty() ? work : currentFolder;
    BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                  folder.c_str(), &startup, &process);
    CloseHandle(output);
    CloseHandle(errors);
    if (!started) {
        run.errors = "cannot start " + commandLine + ", error " + std::to_string(GetLastError());
        return run;
    }
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        run.exitCode = static_cast<int>(code);
    } else {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, timeoutMs);
        run.errors = "the host did not end within " + std::to_string(timeoutMs) + " ms\n";
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    run.output = ReadFile(outputPath);
    run.errors += ReadFile(errorsPath);
    std::istringstream journal(ReadFile(journalPath));
    std::string text;
    while (std::getline(journal, text)) {
        JournalLine line;
        if (ParseJournalLine(text, &line))
            run.journal.push_back(line);
        else
            run.errors += "not a journal line: " + text + "\n";
    }
    return run;
}

Stats StatsAt(const HostRun& run, int n) {
    Stats stats;
    int line = -1;
    for (int i = 0; i <= n; ++i)
        line = run.Find("stats", "-", "", line + 1);
    if (line >= 0) {
        const std::string& details = run.At(line).details;
        sscanf(details.c_str(), "handles=%ld pagefile=%lld", &stats.handles, &stats.pagefile);
        const size_t threads = details.find(" threads=");
        if (threads != std::string::npos)
            sscanf(details.c_str() + threads, " threads=%ld", &stats.threads);
    }
    return stats;
}
