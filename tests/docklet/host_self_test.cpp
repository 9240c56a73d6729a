// The host's own checks, which the whole-docklet tests rely on, proven with
// the probe docklet where the real one behaves too well to show them.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "host_run_win.h"
#include "png_files_win.h"

namespace {

const char kProbeSettings[] = "[probe]\r\nLateLabel=0\r\n";
const char kLateProbeSettings[] = "[probe]\r\nLateLabel=1\r\n";
const uint32_t kRed = 0xFFFF0000;

}  // namespace

TEST(HostSelfCheck, HidesExactlyTheNamedFunction) {
    DockletFolder folder("Tidewell", "[Common]\r\nNbAccount=0\r\n");
    HostRun run = RunHost({"--hide", "DockletSetLabel", "create", "1", folder.Root(),
                           folder.Relative()});
    ASSERT_EQ(0, run.exitCode) << run.Text();
    EXPECT_EQ(0, run.Count("DockletSetLabel")) << run.Text();
    EXPECT_EQ(1, run.Count("DockletGetRootFolder", "1")) << run.Text();
    EXPECT_EQ(1, run.Count("DockletGetRelativeFolder", "1")) << run.Text();
}

TEST(HostSelfCheck, CatchesAHostCallAfterOnDestroyFromAnyThread) {
    // By default a worker's host call is sent to the main thread; --direct runs it on the worker.
    for (const std::string mode : {"--print", "--direct"}) {
        SCOPED_TRACE(mode);
        DockletFolder folder("Late" + mode.substr(2), kLateProbeSettings, ProbeDllPath());
        HostRun run = RunHost({mode, "create", "1", folder.Root(), folder.Relative(), "destroy",
                               "1", "waitlabel", "1", "late", "10000"});
        EXPECT_EQ(3, run.exitCode) << run.Text();
        int late = run.Find("LATE", "1", "DockletSetLabel");
        ASSERT_GE(late, 0) << run.Text();
        EXPECT_GT(late, run.Find("return", "1", "OnDestroy"));
        EXPECT_NE(run.MainThread(), run.At(late).thread) << "journaled under the calling thread";
        EXPECT_GE(run.Find("end", "-", "late host calls: 1"), 0) << run.Text();
    }

    DockletFolder quiet("Quiet", kProbeSettings, ProbeDllPath());
    HostRun run = RunHost({"create", "1", quiet.Root(), quiet.Relative(), "destroy", "1",
                           "waitlabel", "1", "late", "500"});
    EXPECT_EQ(0, run.exitCode) << run.Text();
    EXPECT_GE(run.Find("waitlabel", "1", "\"late\" timeout label=\"probe\""), 0) << run.Text();
}

TEST(HostSelfCheck, SavesThePictureWithItsLabelUnder) {
    DockletFolder folder("Picture", kProbeSettings, ProbeDllPath());
    ASSERT_TRUE(WriteSolidPng(folder.Path() + "probe.png", 64, 40, kRed));
    std::string saved = TestWorkFolder() + "saved.png";
    std::string bare = TestWorkFolder() + "bare.png";
    HostRun run = RunHost({"--print", "create", "1", folder.Root(), folder.Relative(), "save",
                           "1", bare, "hold", "1", "hold", "1", "save", "1", saved});
    ASSERT_EQ(0, run.exitCode) << run.Text();

    EXPECT_GE(run.Find("DockletLoadGDIPlusImage", "-",
                       QuoteJournalText(folder.Path() + "probe.png") + " -> 64x40 fp="),
              0)
        << run.Text();
    int shown = run.Find("DockletSetImage", "1", "64x40 fp=");
    ASSERT_GE(shown, 0) << run.Text();
    const std::string& details = run.At(shown).details;
    EXPECT_NE(std::string::npos, details.find(" px=ffff0000 auto=1")) << details;
    std::string printed = run.output;
    printed.erase(std::remove(printed.begin(), printed.end(), '\r'), printed.end());
    EXPECT_EQ("item 1 label: probe\nitem 1 picture: 64x40\n", printed);

    EXPECT_GE(run.Find("save", "1", QuoteJournalText(saved) + " 64x60"), 0) << run.Text();
    PngFacts picture = ReadPng(saved, 32, 20);
    ASSERT_TRUE(picture.loaded);
    EXPECT_EQ(64u, picture.width);
    EXPECT_EQ(60u, picture.height);
    EXPECT_EQ(kRed, picture.probedPixel);
    EXPECT_NE(kRed, ReadPng(saved, 32, 50).probedPixel) << "the label band is under the picture";

    // Without a picture, only the label band.
    PngFacts label = ReadPng(bare, 0, 0);
    ASSERT_TRUE(label.loaded);
    EXPECT_EQ(20u, label.height);
    EXPECT_GT(label.width, 10u);

    // Frames kept unread are neither fingerprinted nor journaled, but counted,
    // and held and released as before.
    std::string kept = TestWorkFolder() + "kept.png";
    HostRun quiet = RunHost({"--quiet-frames", "create", "1", folder.Root(), folder.Relative(),
                             "hold", "1", "hold", "1", "stats", "save", "1", kept});
    ASSERT_EQ(0, quiet.exitCode) << quiet.Text();
    EXPECT_EQ(0, quiet.Count("DockletSetImage")) << quiet.Text();
    int stats = quiet.Find("stats");
    ASSERT_GE(stats, 0) << quiet.Text();
    EXPECT_NE(std::string::npos, quiet.At(stats).details.find(" frames=2")) << quiet.Text();
    EXPECT_EQ(kRed, ReadPng(kept, 32, 20).probedPixel);
}

TEST(HostSelfCheck, PoisonedImagesFaultOnAVirtualCall) {
    DockletFolder folder("Poison", kProbeSettings, ProbeDllPath());
    ASSERT_TRUE(WriteSolidPng(folder.Path() + "probe.png", 8, 8, kRed));
    std::vector<std::string> steps = {"create", "1", folder.Root(), folder.Relative(), "click", "1"};

    HostRun plain = RunHost(steps);
    EXPECT_EQ(0, plain.exitCode) << plain.Text();
    EXPECT_GE(plain.Find("return", "1", "OnLeftButtonClick"), 0) << plain.Text();

    std::vector<std::string> poisoned = {"--poison-images"};
    poisoned.insert(poisoned.end(), steps.begin(), steps.end());
    HostRun run = RunHost(poisoned);
    EXPECT_EQ(4, run.exitCode) << run.Text();
    EXPECT_GE(run.Find("crash", "-", "exception=0xc0000005"), 0) << run.Text();
    EXPECT_LT(run.Find("return", "1", "OnLeftButtonClick"), 0) << run.Text();
}

TEST(HostSelfCheck, ReadsScriptsAndRefusesBadScenariosBeforeRunning) {
    DockletFolder folder("Script", "[Common]\r\nNbAccount=0\r\n");
    std::string script = TestWorkFolder() + "scenario.txt";
    std::ofstream(script, std::ios::binary)
        << "# the first label, then quit\r\n"
        << "create 1 \"" << folder.Root() << "\" \"" << folder.Relative() << "\"  # item\r\n"
        << "waitlabel 1 \"Aucun message\" 5000\r\n\r\nquit\r\n";
    HostRun run = RunHost({"--script", script});
    EXPECT_EQ(0, run.exitCode) << run.Text();
    EXPECT_GE(run.Find("waitlabel", "1", "\"Aucun message\" reached"), 0) << run.Text();

    std::ofstream(script, std::ios::binary)
        << "create 1 \"" << folder.Root() << "\" \"" << folder.Relative() << "\"\n"
        << "click 2\n";
    HostRun refused = RunHost({"--script", script});
    EXPECT_EQ(2, refused.exitCode) << refused.Text();
    EXPECT_NE(std::string::npos,
              refused.errors.find("scenario.txt:2: item 2 is not created before this step"))
        << refused.errors;
    EXPECT_TRUE(refused.journal.empty()) << "nothing runs before the whole scenario is checked";

    HostRun unknown = RunHost({"create", "1", folder.Root(), folder.Relative(), "tap", "1"});
    EXPECT_EQ(2, unknown.exitCode);
    EXPECT_NE(std::string::npos, unknown.errors.find("step 2: unknown step \"tap\""))
        << unknown.errors;
}
