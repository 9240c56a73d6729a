// A docklet folder so deep that some of its file names no longer fit in a
// path: each such file counts as missing, never as a shortened name.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "host_run_win.h"
#include "png_files_win.h"

namespace {

TEST(LongPaths, AFileWhosePathDoesNotFitIsMissing) {
    // Root and relative folder come to 249 characters: NoMail.png just fits
    // (259), NewMail.png does not (260), nor does TidewellDocklet.ini.
    const std::string root = TestWorkFolder();
    std::string relative;
    while (root.size() + relative.size() < 249)
        relative += std::string(std::min<size_t>(40, 248 - root.size() - relative.size()), 'd') + "\\";
    ASSERT_EQ(249u, root.size() + relative.size());
    std::filesystem::create_directories(root + relative);
    ASSERT_TRUE(WriteSolidPng(root + relative + "NoMail.png", 32, 32, 0xFF2040A0));
    // What cutting the new-mail path to 259 characters would name: never to be loaded.
    ASSERT_TRUE(WriteSolidPng(root + relative + "NewMail.pn", 32, 32, 0xFFE04010));

    HostRun run = RunHost({"--dll", DockletDllPath(), "create", "1", root, relative, "wait", "500",
                           "destroy", "1"});
    ASSERT_EQ(0, run.exitCode) << run.Text();
    EXPECT_GE(run.Find("DockletLoadGDIPlusImage", "-", "\"" + root.substr(0, 2)), 0) << run.Text();
    EXPECT_GE(run.Find("DockletLoadGDIPlusImage", "-", "\"\" -> none"), 0) << run.Text();
    EXPECT_EQ(1, run.Count("DockletSetImage", "1")) << run.Text();
    EXPECT_GE(run.Find("DockletSetImage", "1", "none auto=1"), 0) << run.Text();
}

}  // namespace
