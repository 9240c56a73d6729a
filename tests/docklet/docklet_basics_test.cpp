// The real docklet DLL under the stand-in host: what it asks of the host and
// when, per item.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "host_run_win.h"

namespace {

std::string Settings(int debug, const std::string& link) {
    return "[Common]\r\nDebug=" + std::to_string(debug) + "\r\nNbAccount=0\r\nLink=" + link + "\r\n";
}

void ExpectNoLateCalls(const HostRun& run) {
    EXPECT_EQ(0, run.Count("LATE")) << run.Text();
    EXPECT_GE(run.Find("end", "-", "late host calls: 0"), 0) << run.Text();
}

}  // namespace

// The DLL as linked, and as shipped: stripped of its debug information.
class WholeDockletBuilds : public testing::TestWithParam<bool> {};

TEST_P(WholeDockletBuilds, CreateClickDestroyTalksToTheHostOnItsThread) {
    DockletFolder folder("Tidewell", Settings(0, "cmd.exe /c exit 7"),
                         GetParam() ? ShippedFilePath("TidewellDocklet.dll") : DockletDllPath());
    HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "click", "1",
                           "destroy", "1"});
    ASSERT_EQ(0, run.exitCode) << run.Text();

    int created = run.Find("call", "1", "OnCreate");
    int returned = run.Find("return", "1", "OnCreate", created);
    int label = run.Find("DockletSetLabel", "1", "\"Aucun message\"", created);
    ASSERT_GE(created, 0) << run.Text();
    ASSERT_GE(label, 0) << run.Text();
    EXPECT_LT(label, returned) << "the first label is set during OnCreate\n" << run.Text();
    EXPECT_EQ(run.MainThread(), run.At(label).thread);
    int root = run.Find("DockletGetRootFolder", "1", QuoteJournalText(folder.Root()), created);
    int relative =
        run.Find("DockletGetRelativeFolder", "1", QuoteJournalText(folder.Relative()), created);
    EXPECT_GE(root, 0) << run.Text();
    EXPECT_GE(relative, 0) << run.Text();
    EXPECT_LT(relative, returned);

    int click = run.Find("call", "1", "OnLeftButtonClick");
    int attention = run.Find("DockletDoAttentionAnimation", "1", "", click);
    int launch = run.Find("CreateProcessA", "1", "", click);
    ASSERT_GE(attention, 0) << run.Text();
    ASSERT_GT(launch, attention) << run.Text();
    EXPECT_EQ(0u, run.At(launch).details.find("\"cmd.exe /c exit 7\" ok pid=")) << run.Text();
    EXPECT_GE(run.Find("launch-handles", "1", "closed", launch), 0) << run.Text();
    EXPECT_GE(run.Find("return", "1", "OnDestroy", launch), 0) << run.Text();
    ExpectNoLateCalls(run);
}

INSTANTIATE_TEST_SUITE_P(AsLinkedAndShipped, WholeDockletBuilds, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Shipped" : "AsLinked");
                         });

TEST(WholeDocklet, ItemsFromTwoFoldersLiveApart) {
    DockletFolder first("First", Settings(1, "cmd.exe /c exit 1"));
    DockletFolder second("Second", Settings(0, "cmd.exe /c exit 2"));
    HostRun run = RunHost({"create", "1", first.Root(), first.Relative(), "create", "2",
                           second.Root(), second.Relative(), "destroy", "1", "click", "2",
                           "destroy", "2"});
    ASSERT_EQ(0, run.exitCode) << run.Text();

    EXPECT_GE(run.Find("DockletSetLabel", "1", "\"Aucun message\""), 0) << run.Text();
    EXPECT_GE(run.Find("DockletSetLabel", "2", "\"Aucun message\""), 0) << run.Text();
    std::string log = first.Read("Debug.log");
    EXPECT_NE(std::string::npos, log.find("Link:cmd.exe /c exit 1")) << log;
    EXPECT_EQ(std::string::npos, log.find("exit 2")) << log;
    EXPECT_FALSE(second.Has("Debug.log"));

    // Item 2 keeps working once item 1 is gone.
    int firstGone = run.Find("return", "1", "OnDestroy");
    int launch = run.Find("CreateProcessA", "2", "\"cmd.exe /c exit 2\" ok", firstGone);
    EXPECT_GE(launch, 0) << run.Text();
    EXPECT_GE(run.Find("launch-handles", "2", "closed", launch), 0) << run.Text();
    ExpectNoLateCalls(run);
}

// A click that starts nothing still only draws attention; a Link that
// cannot start says why in the log, an empty one says nothing.
TEST(WholeDocklet, ClickWithoutAWorkingLinkOnlyDrawsAttention) {
    const struct {
        const char* link;
        const char* logged;  // the line's start, or "" for none
    } cases[] = {
        {"", ""},
        {"Z:\\no\\such\\mail.exe -check", "Link cannot be started (Windows error 2: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        DockletFolder folder(c.link[0] ? "MissingLink" : "NoLink", Settings(1, c.link));
        // A host may give no ini and group to OnCreate; the docklet does not need them.
        HostRun run = RunHost({"--null-ini", "create", "1", folder.Root(), folder.Relative(), "click",
                               "1", "destroy", "1"});
        ASSERT_EQ(0, run.exitCode) << run.Text();
        int click = run.Find("call", "1", "OnLeftButtonClick");
        EXPECT_GE(run.Find("DockletDoAttentionAnimation", "1", "", click), 0) << run.Text();
        EXPECT_GE(run.Find("CreateProcessA", "1", QuoteJournalText(c.link) + " failed", click), 0) << run.Text();
        EXPECT_EQ(1, run.Count("CreateProcessA", "1")) << run.Text();
        EXPECT_GE(run.Find("launch-handles", "1", "none", click), 0) << run.Text();
        ExpectNoLateCalls(run);
        const std::string log = folder.Read("Debug.log");
        const size_t line = log.find("Link cannot be started");
        if (c.logged[0] == '\0') {
            EXPECT_EQ(std::string::npos, line) << log;
        } else {
            ASSERT_NE(std::string::npos, line) << log;
            EXPECT_EQ(line, log.find(c.logged)) << log;
            EXPECT_EQ(log.find(std::string("): ") + c.link + "\r\n", line), log.find("\r\n", line) - strlen(c.link) - 3)
                << log;
        }
    }
}

// With no host functions the docklet has no folders: its INI is then the
// bare file name, which the profile functions look for in the Windows
// folder, and its Debug.log lands in the host's current folder.
class WindowsFolderSettings {
  public:
    explicit WindowsFolderSettings(const std::string& text) {
        char folder[MAX_PATH];
        GetWindowsDirectoryA(folder, MAX_PATH);
        path_ = std::string(folder) + "\\TidewellDocklet.ini";
        std::ofstream(path_, std::ios::binary) << text;
    }
    ~WindowsFolderSettings() { std::remove(path_.c_str()); }

  private:
    std::string path_;
};

TEST(WholeDocklet, RunsOnAHostWithoutHostFunctions) {
    WindowsFolderSettings settings(Settings(1, "cmd.exe /c exit 3"));
    std::string current = TestWorkFolder();
    HostRun run = RunHost({"--hide", "all", "--dll", DockletDllPath(), "create", "1", "", "", "click",
                           "1", "destroy", "1"},
                          current);
    ASSERT_EQ(0, run.exitCode) << run.Text();
    EXPECT_GE(run.Find("return", "1", "OnCreate"), 0) << run.Text();
    EXPECT_GE(run.Find("return", "1", "OnLeftButtonClick"), 0) << run.Text();
    EXPECT_GE(run.Find("return", "1", "OnDestroy"), 0) << run.Text();
    for (const JournalLine& line : run.journal)
        EXPECT_NE(0u, line.event.find("Docklet")) << "host function called: " << line.event;
    EXPECT_GE(run.Find("CreateProcessA", "1", "\"cmd.exe /c exit 3\" ok"), 0) << run.Text();

    std::ifstream log(current + "Debug.log", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(std::string::npos, text.find("Link:cmd.exe /c exit 3")) << text;
}

TEST(WholeDocklet, TellsItsNameAuthorVersionAndNotes) {
    HostRun run = RunHost({"--dll", DockletDllPath(), "info"});
    ASSERT_EQ(0, run.exitCode) << run.Text();
    int info = run.Find("info", "-", "name=\"Tidewell Docklet\" author=\"");
    ASSERT_GE(info, 0) << run.Text();
    const std::string& details = run.At(info).details;
    EXPECT_EQ(std::string::npos, details.find("author=\"\"")) << details;
    const std::string ending = "\" version=100 notes=\"IMAP mail chercker docklet for ObjectDock\"";
    ASSERT_GT(details.size(), ending.size());
    EXPECT_EQ(ending, details.substr(details.size() - ending.size())) << details;
}
