// The item's animation as the host sees it: which frames arrive, in what
// order and how often, what ends the animation, and what teardown leaves.
// Every frame of a test strip is a solid colour of its own, so the centre
// pixel the host journals (px=) names the frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host_run_win.h"
#include "png_files_win.h"
#include "scripted_server_win.h"

namespace {

const std::vector<uint32_t> kNoMailColours = {0xFF1040A0, 0xFF20A040, 0xFFA02010, 0xFFC0C020};
const std::vector<uint32_t> kNewMailColours = {0xFF000080, 0xFF008000, 0xFF800000, 0xFF808000,
                                               0xFF800080, 0xFF008080, 0xFF404040, 0xFFF0F0F0};
const uint32_t kLeftoverColour = 0xFFFF00FF;
const int kSide = 32;

// One DockletSetImage call as the host journaled it.
struct Shown {
    int line;         // index in the journal
    double ms;
    bool none;        // no picture: the animation gave up
    bool autoDelete;
    std::string size;  // "WxH"
    uint32_t colour;   // centre pixel
};

std::vector<Shown> ShownOn(const HostRun& run, const std::string& item) {
    std::vector<Shown> shown;
    for (int i = run.Find("DockletSetImage", item); i >= 0;
         i = run.Find("DockletSetImage", item, "", i + 1)) {
        const std::string& details = run.At(i).details;
        Shown entry{i, run.At(i).milliseconds, details.compare(0, 5, "none ") == 0,
                    details.find(" auto=1") != std::string::npos,
                    details.substr(0, details.find(' ')), 0};
        size_t px = details.find("px=");
        if (px != std::string::npos)
            entry.colour = static_cast<uint32_t>(std::stoul(details.substr(px + 3, 8), nullptr, 16));
        shown.push_back(entry);
    }
    return shown;
}

int IndexIn(const std::vector<uint32_t>& colours, uint32_t colour) {
    for (size_t i = 0; i < colours.size(); ++i) {
        if (colours[i] == colour)
            return static_cast<int>(i);
    }
    return -1;
}

std::string Quiet() { return "[Common]\r\nNbAccount=0\r\nstringNoMsg=quiet\r\n"; }

// One IMAP account at a scripted server on this machine, with more common keys if given.
std::string ImapSettings(int port, int delaySeconds, const std::string& common = "") {
    return "[Common]\r\n" + common + "NbAccount=1\r\nDelaySecond=" + std::to_string(delaySeconds) +
           "\r\nTimeoutSecond=10\r\nstringCheck=checking\r\nstringNoMsg=none\r\n"
           "stringOneMsg=one\r\nstringHaveMsg=%d new\r\n"
           "[account0]\r\nType=IMAP\r\nAddress=127.0.0.1\r\nPort=" + std::to_string(port) +
           "\r\nLogin=me\r\nPassword=secret\r\n";
}

// A whole IMAP check whose search answer comes after a pause.
std::vector<ServerStep> ImapDialogue(const std::string& searchLine, size_t pauseMs) {
    return {Send("* OK [CAPABILITY IMAP4rev1] Ready.\r\n"), ReadLine(), Send("1 OK Logged in\r\n"),
            ReadLine(), Send("* 5 EXISTS\r\n2 OK [READ-ONLY] Examine completed.\r\n"), ReadLine(),
            Pause(pauseMs), Send(searchLine + "3 OK Search completed.\r\n"), ReadLine(),
            Send("* BYE\r\n4 OK Logout completed.\r\n"), CloseConnection()};
}

std::vector<ServerStep> FindsMail(size_t pauseMs) { return ImapDialogue("* SEARCH 1 2\r\n", pauseMs); }
std::vector<ServerStep> FindsNone(size_t pauseMs) { return ImapDialogue("* SEARCH\r\n", pauseMs); }

void WriteStrips(const DockletFolder& folder, const std::vector<uint32_t>& noMail,
                 const std::vector<uint32_t>& newMail) {
    ASSERT_TRUE(WriteStripPng(folder.Path() + "NoMail.png", kSide, noMail));
    ASSERT_TRUE(WriteStripPng(folder.Path() + "NewMail.png", kSide, newMail));
}

void ExpectNoLateCalls(const HostRun& run) {
    EXPECT_EQ(0, run.Count("LATE")) << run.Text();
    EXPECT_GE(run.Find("end", "-", "late host calls: 0"), 0) << run.Text();
}

// Each frame is the one after the frame before it, starting from frame 0.
void ExpectFramesInOrder(const std::vector<Shown>& shown, const std::vector<uint32_t>& colours,
                         const HostRun& run) {
    for (size_t i = 0; i < shown.size(); ++i) {
        ASSERT_FALSE(shown[i].none) << "frame " << i << "\n" << run.Text();
        EXPECT_EQ(colours[i % colours.size()], shown[i].colour) << "frame " << i << "\n" << run.Text();
        EXPECT_EQ(std::to_string(kSide) + "x" + std::to_string(kSide), shown[i].size);
        EXPECT_FALSE(shown[i].autoDelete) << "frames stay the docklet's";
    }
}

double OnDestroyMs(const HostRun& run, const std::string& item) {
    int line = run.Find("return", item, "OnDestroy ");
    if (line < 0)
        return -1;
    return std::stod(run.At(line).details.substr(sizeof "OnDestroy " - 1));
}

int CountReturns(const HostRun& run, const std::string& entry) {
    int count = 0;
    for (int i = run.Find("return", "", entry); i >= 0; i = run.Find("return", "", entry, i + 1))
        ++count;
    return count;
}

}  // namespace

TEST(Animation, NoMailFramesCycleLeftToRightEvery75Ms) {
    DockletFolder folder("Cycle", Quiet());
    ASSERT_TRUE(WriteStripPng(folder.Path() + "NoMail.png", kSide, kNoMailColours, 2, kLeftoverColour));
    ASSERT_TRUE(WriteStripPng(folder.Path() + "NewMail.png", kSide, kNewMailColours));
    HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "wait", "3200",
                           "destroy", "1"});
    ASSERT_EQ(0, run.exitCode) << run.Text();
    EXPECT_GE(run.Find("DockletLoadGDIPlusImage", "-", QuoteJournalText(folder.Path() + "NoMail.png") +
                                                         " -> 130x32 "),
              0)
        << run.Text();

    std::vector<Shown> shown = ShownOn(run, "1");
    ASSERT_GE(shown.size(), 20u) << run.Text();
    ExpectFramesInOrder(shown, kNoMailColours, run);
    double created = run.At(run.Find("call", "1", "OnCreate")).milliseconds;
    EXPECT_LT(shown[0].ms - created, 500) << "the first frame comes with the item\n" << run.Text();
    // The pace is judged on many gaps: their median tells the pause (Wine's
    // timers keep a 75 ms wait within a few ms; a busy machine stretches some
    // gaps, seldom shortens one), their quartiles that it is no average of
    // short and long ones. A pause of 40 or 150 ms fails both.
    std::vector<double> gaps;
    for (size_t i = 1; i < shown.size(); ++i)
        gaps.push_back(shown[i].ms - shown[i - 1].ms);
    std::sort(gaps.begin(), gaps.end());
    const double lower = gaps[gaps.size() / 4];
    const double median = gaps[gaps.size() / 2];
    const double upper = gaps[gaps.size() * 3 / 4];
    printf("Frame gaps of %u: quartiles %.1f, %.1f, %.1f ms\n", static_cast<unsigned>(gaps.size()), lower, median,
           upper);
    EXPECT_GT(median, 65) << run.Text();
    EXPECT_LT(median, 100) << run.Text();
    EXPECT_GT(lower, 55) << run.Text();
    EXPECT_LT(upper, 125) << run.Text();
    EXPECT_GT(gaps.front(), 30) << run.Text();
    ExpectNoLateCalls(run);

    DockletFolder square("Square", Quiet());
    WriteStrips(square, {kNoMailColours[2]}, kNewMailColours);
    HostRun still = RunHost({"create", "1", square.Root(), square.Relative(), "wait", "500",
                             "destroy", "1"});
    ASSERT_EQ(0, still.exitCode) << still.Text();
    std::vector<Shown> repeated = ShownOn(still, "1");
    EXPECT_GE(repeated.size(), 3u) << still.Text();
    ExpectFramesInOrder(repeated, {kNoMailColours[2]}, still);
    ExpectNoLateCalls(still);
}

TEST(Animation, FramesWithTheSamePixelsKeepTheirPlaces) {
    // Frames alike in pixels share one copy; the order shown must not change.
    const uint32_t a = kNoMailColours[0], b = kNoMailColours[1], c = kNoMailColours[2];
    const std::vector<uint32_t> cases[] = {{a, b, a, c}, {a, a, a}, {a, b, b, a, c, b}};
    for (const std::vector<uint32_t>& noMail : cases) {
        SCOPED_TRACE(std::to_string(noMail.size()) + " frames");
        DockletFolder folder("Repeats" + std::to_string(noMail.size()), Quiet());
        WriteStrips(folder, noMail, kNewMailColours);
        HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "wait", "1000",
                               "destroy", "1"});
        ASSERT_EQ(0, run.exitCode) << run.Text();
        std::vector<Shown> shown = ShownOn(run, "1");
        ASSERT_GE(shown.size(), noMail.size() + 2) << run.Text();
        ExpectFramesInOrder(shown, noMail, run);
        ExpectNoLateCalls(run);
    }
}

TEST(Animation, AnUnusableStripEndsTheAnimationWithOneEmptyPicture) {
    struct Case {
        const char* name;
        const char* broken;  // the strip that is missing or no picture
        bool present;
    };
    const Case cases[] = {{"NoNewMail", "NewMail.png", false},
                          {"NoNoMail", "NoMail.png", false},
                          {"NotAPicture", "NoMail.png", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DockletFolder folder(c.name, Quiet());
        WriteStrips(folder, kNoMailColours, kNewMailColours);
        std::remove((folder.Path() + c.broken).c_str());
        if (c.present)
            std::ofstream(folder.Path() + c.broken, std::ios::binary) << "not a PNG";
        HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "wait", "600",
                               "destroy", "1"});
        ASSERT_EQ(0, run.exitCode) << run.Text();
        EXPECT_GE(run.Find("DockletLoadGDIPlusImage", "-",
                           QuoteJournalText(folder.Path() + c.broken) + " -> none"),
                  0)
            << run.Text();
        std::vector<Shown> shown = ShownOn(run, "1");
        ASSERT_EQ(1u, shown.size()) << run.Text();
        EXPECT_TRUE(shown[0].none);
        EXPECT_TRUE(shown[0].autoDelete);
        ExpectNoLateCalls(run);
    }
}

TEST(Animation, EmptyNoMailSetEndsAtTheFirstFrameForGood) {
    // The pause lets the animation show its first frame before the count: an
    // answer faster than that would meet the new-mail set first.
    ScriptedServer server(FindsMail(300));
    DockletFolder folder("EmptyNoMail", ImapSettings(server.Port(), 180));
    ASSERT_TRUE(WriteStripPng(folder.Path() + "NoMail.png", kSide, {}, 20, kLeftoverColour));
    ASSERT_TRUE(WriteStripPng(folder.Path() + "NewMail.png", kSide, kNewMailColours));
    HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1",
                           "2 new", "10000", "wait", "500", "destroy", "1"});
    ASSERT_EQ(0, run.exitCode) << run.Text();
    ASSERT_GE(run.Find("waitlabel", "1", "\"2 new\" reached"), 0) << run.Text();
    std::vector<Shown> shown = ShownOn(run, "1");
    ASSERT_EQ(1u, shown.size()) << "found mail does not restart it\n" << run.Text();
    EXPECT_TRUE(shown[0].none);
    EXPECT_TRUE(shown[0].autoDelete);
    ExpectNoLateCalls(run);
}

TEST(Animation, EmptyNewMailSetEndsTheAnimationWhenMailIsFound) {
    // The pause lets no-mail frames cycle before the answer comes.
    ScriptedServer server(FindsMail(600));
    DockletFolder folder("EmptyNewMail", ImapSettings(server.Port(), 180));
    ASSERT_TRUE(WriteStripPng(folder.Path() + "NoMail.png", kSide, kNoMailColours));
    ASSERT_TRUE(WriteStripPng(folder.Path() + "NewMail.png", kSide, {}, 20, kLeftoverColour));
    HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1",
                           "2 new", "10000", "wait", "500", "destroy", "1"});
    ASSERT_EQ(0, run.exitCode) << run.Text();
    ASSERT_GE(run.Find("waitlabel", "1", "\"2 new\" reached"), 0) << run.Text();

    std::vector<Shown> shown = ShownOn(run, "1");
    ASSERT_GE(shown.size(), 3u) << run.Text();
    std::vector<Shown> frames(shown.begin(), shown.end() - 1);
    ExpectFramesInOrder(frames, kNoMailColours, run);
    EXPECT_TRUE(shown.back().none) << run.Text();
    EXPECT_TRUE(shown.back().autoDelete);
    EXPECT_GT(shown.back().line, run.Find("DockletSetLabel", "1", "\"checking\"")) << run.Text();
    ExpectNoLateCalls(run);
}

// What the demo relies on: the check's own label is passed over, a count
// repeated after it is no change, and the new-mail strip is awaited by its
// origin. The hold's check repeats the count after a pause, so the second
// wait begins on the check's label; the count changes with the timed check.
TEST(Animation, TheHostAwaitsAChangeOfCountAndTheNewMailStrip) {
    ScriptedServer server(
        Scripts{{FindsMail(0), FindsMail(1000), ImapDialogue("* SEARCH 1 2 3\r\n", 0)}});
    DockletFolder folder("Change", ImapSettings(server.Port(), 10));
    WriteStrips(folder, kNoMailColours, kNewMailColours);
    HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitchange", "1",
                           "checking", "5000", "waitframe", "1", "NewMail.png", "5000", "hold", "1",
                           "wait", "300", "waitchange", "1", "checking", "20000", "destroy", "1"});
    ASSERT_EQ(0, run.exitCode) << run.Text();
    int first = run.Find("waitchange", "1", "\"checking\" from ");
    ASSERT_GE(first, 0) << run.Text();
    EXPECT_NE(std::string::npos, run.At(first).details.find(" reached label=\"2 new\"")) << run.Text();
    int frame = run.Find("waitframe", "1", "\"NewMail.png\" reached");
    ASSERT_GT(frame, first) << run.Text();
    int shown = run.Find("DockletSetImage", "1");
    while (shown >= 0 && run.At(shown).details.find(" frame=NewMail.png#") == std::string::npos)
        shown = run.Find("DockletSetImage", "1", "", shown + 1);
    ASSERT_GE(shown, 0) << run.Text();
    EXPECT_GT(frame, shown) << "only once a new-mail frame is shown\n" << run.Text();
    EXPECT_GE(run.Find("waitchange", "1", "\"checking\" from \"2 new\" reached label=\"3 new\"", frame),
              0)
        << run.Text();
    EXPECT_GE(server.Connections(), 3) << run.Text();
}

TEST(Animation, EachSetTakesUpAgainWhereItStopped) {
    // Back-to-back checks whose findings change now and then, and sometimes
    // repeat: a repeated finding must change nothing either.
    ScriptedServer server(Scripts{{FindsMail(150), FindsMail(100), FindsNone(150), FindsMail(250),
                                   FindsNone(100), FindsNone(200)}});
    DockletFolder folder("Resume", ImapSettings(server.Port(), 180));
    WriteStrips(folder, kNoMailColours, kNewMailColours);
    // A check at once, then one a hold starts every 600 ms.
    std::vector<std::string> steps = {"create", "1", folder.Root(), folder.Relative()};
    for (int hold = 0; hold < 6; ++hold)
        steps.insert(steps.end(), {"wait", "600", "hold", "1"});
    steps.insert(steps.end(), {"wait", "600", "destroy", "1"});
    HostRun run = RunHost(steps);
    ASSERT_EQ(0, run.exitCode) << run.Text();
    EXPECT_GE(server.Connections(), 6) << run.Text();

    const std::vector<uint32_t>* sets[] = {&kNoMailColours, &kNewMailColours};
    int last[] = {-1, -1};
    int switches = 0;
    int previousSet = 0;
    for (const Shown& frame : ShownOn(run, "1")) {
        ASSERT_FALSE(frame.none) << run.Text();
        int set = IndexIn(kNoMailColours, frame.colour) >= 0 ? 0 : 1;
        int index = IndexIn(*sets[set], frame.colour);
        ASSERT_GE(index, 0) << "journal line " << frame.line << "\n" << run.Text();
        int expected = (last[set] + 1) % static_cast<int>(sets[set]->size());
        EXPECT_EQ(expected, index) << (set ? "new-mail" : "no-mail") << " set, journal line "
                                   << frame.line << "\n" << run.Text();
        last[set] = index;
        switches += set != previousSet;
        previousSet = set;
    }
    EXPECT_GE(last[0], 0) << "no-mail frames shown";
    EXPECT_GE(last[1], 0) << "new-mail frames shown";
    EXPECT_GE(switches, 3) << run.Text();
    ExpectNoLateCalls(run);
}

// The total on the new-mail frames and the sound of a rise, check after
// check: a repeated total, a fall and no mail sound nothing; the frames of a
// total keep one picture per colour (the strip's first and third frames
// alike), and the no-mail frames are never drawn on.
TEST(Animation, TheBadgeShowsEachTotalAndOnlyARiseSounds) {
    auto finding = [](const std::string& numbers) { return ImapDialogue("* SEARCH" + numbers + "\r\n", 0); };
    struct Check {
        const char* label;
        int total;
        bool sounds;
    } const checks[] = {{"2 new", 2, true}, {"2 new", 2, false}, {"3 new", 3, true},
                        {"one", 1, false},  {"none", 0, false},  {"4 new", 4, true}};
    ScriptedServer server(Scripts{{finding(" 1 2"), finding(" 1 2"), finding(" 1 2 3"), finding(" 3"),
                                   finding(""), finding(" 4 5 6 7")}});
    DockletFolder folder("Badge", ImapSettings(server.Port(), 180, "Badge=1\r\nSound=default\r\n"));
    const std::vector<uint32_t> newMail = {kNewMailColours[0], kNewMailColours[1], kNewMailColours[0],
                                           kNewMailColours[2]};
    WriteStrips(folder, kNoMailColours, newMail);
    std::vector<std::string> steps = {"create", "1", folder.Root(), folder.Relative()};
    for (size_t hold = 1; hold < sizeof checks / sizeof checks[0]; ++hold)
        steps.insert(steps.end(), {"wait", "700", "hold", "1"});
    steps.insert(steps.end(), {"wait", "700", "destroy", "1"});
    HostRun run = RunHost(steps);
    ASSERT_EQ(0, run.exitCode) << run.Text();

    // Each check's final label, and whether a sound started since the check began.
    std::vector<int> ends;
    int began = 0;
    size_t index = 0;
    for (int line = run.Find("DockletSetLabel", "1"); line >= 0; line = run.Find("DockletSetLabel", "1", "", line + 1)) {
        if (run.At(line).details == "\"checking\"") {
            began = line;
            continue;
        }
        if (run.At(line).details == "\"Aucun message\"")
            continue;
        ASSERT_LT(index, sizeof checks / sizeof checks[0]) << run.Text();
        const Check& check = checks[index++];
        EXPECT_EQ("\"" + std::string(check.label) + "\"", run.At(line).details) << run.Text();
        int sound = run.Find("PlaySoundA", "-", "", began);
        EXPECT_EQ(check.sounds, sound >= 0 && sound < line) << "check " << index << "\n" << run.Text();
        ends.push_back(line);
    }
    ASSERT_EQ(sizeof checks / sizeof checks[0], ends.size()) << run.Text();
    EXPECT_EQ(3, run.Count("PlaySoundA")) << run.Text();
    for (int line = run.Find("PlaySoundA"); line >= 0; line = run.Find("PlaySoundA", "", "", line + 1))
        EXPECT_EQ(0u, run.At(line).details.find("\"MailBeep\" flags=0x10003 ")) << run.At(line).details;

    // Pictures by total and colour, past the first frame after each label,
    // which may have been chosen just before the total changed.
    std::map<std::pair<int, uint32_t>, std::set<std::string>> pictures;
    size_t check = 0;
    int skip = 0;
    for (const Shown& frame : ShownOn(run, "1")) {
        while (check < ends.size() && frame.line > ends[check]) {
            ++check;
            skip = 1;
        }
        const std::string& details = run.At(frame.line).details;
        if (IndexIn(kNoMailColours, frame.colour) >= 0) {
            EXPECT_NE(std::string::npos, details.find(" frame=NoMail.png#")) << details;
            continue;
        }
        if (skip-- > 0 || check == 0)
            continue;
        EXPECT_EQ(std::string::npos, details.find(" frame=")) << "a new-mail frame without its badge: " << details;
        pictures[{checks[check - 1].total, frame.colour}].insert(details.substr(0, details.find(" px=")));
    }
    std::map<uint32_t, std::set<std::string>> byColour;
    for (const auto& picture : pictures) {
        EXPECT_EQ(1u, picture.second.size()) << "total " << picture.first.first << ", colour " << std::hex
                                             << picture.first.second << "\n" << run.Text();
        byColour[picture.first.second].insert(picture.second.begin(), picture.second.end());
    }
    for (uint32_t colour : {newMail[0], newMail[1], newMail[3]})
        EXPECT_EQ(4u, byColour[colour].size()) << "totals 2, 3, 1 and 4 apart, colour " << std::hex << colour;
    ExpectNoLateCalls(run);
}

namespace {

// The red of the badge and of the shipped strip's own mark, their smoothed
// edges left out.
bool IsMarkRed(uint32_t argb) {
    return (argb >> 16 & 0xFF) >= 170 && (argb >> 8 & 0xFF) <= 120 && (argb & 0xFF) <= 100;
}

// How many red marks apart (8-connected, specks under 6 pixels left out) the
// top `side` rows of a saved picture hold.
int RedMarks(const std::vector<uint32_t>& pixels, int width, int side) {
    std::vector<bool> seen(pixels.size());
    int marks = 0;
    for (int start = 0; start < width * side; ++start) {
        if (seen[start] || !IsMarkRed(pixels[start]))
            continue;
        std::vector<int> open = {start};
        seen[start] = true;
        int size = 0;
        while (!open.empty()) {
            int at = open.back();
            open.pop_back();
            ++size;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    int x = at % width + dx, y = at / width + dy;
                    int next = y * width + x;
                    if (x < 0 || x >= width || y < 0 || y >= side || seen[next] || !IsMarkRed(pixels[next]))
                        continue;
                    seen[next] = true;
                    open.push_back(next);
                }
            }
        }
        marks += size >= 6;
    }
    return marks;
}

}  // namespace

// The shipped new-mail strip has a red mark of its own in the corner the
// badge takes: with a badge the count covers it, through the envelope's hop,
// where the mark grows.
TEST(Animation, TheShippedNewMailPictureShowsOneRedMark) {
    for (const char* badge : {"0", "1"}) {
        SCOPED_TRACE(std::string("Badge=") + badge);
        ScriptedServer server(FindsMail(0));
        DockletFolder folder(std::string("OneMark") + badge,
                             ImapSettings(server.Port(), 180, std::string("Badge=") + badge + "\r\n"));
        for (const char* strip : {"NoMail.png", "NewMail.png"})
            std::filesystem::copy_file(ShippedFilePath(strip), folder.Path() + strip);
        std::vector<std::string> steps = {"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "2 new",
                                          "10000"};
        const int kSaves = 20;
        for (int i = 0; i < kSaves; ++i)
            steps.insert(steps.end(), {"save", "1", folder.Path() + std::to_string(i) + ".png", "wait", "50"});
        steps.insert(steps.end(), {"destroy", "1"});
        HostRun run = RunHost(steps);
        ASSERT_EQ(0, run.exitCode) << run.Text();
        int newMailPictures = 0;
        int shown = -1;
        for (int i = 0, save = run.Find("save", "1"); save >= 0; ++i, save = run.Find("save", "1", "", save + 1)) {
            for (int line = run.Find("DockletSetImage", "1", "", shown + 1); line >= 0 && line < save;
                 line = run.Find("DockletSetImage", "1", "", line + 1))
                shown = line;
            // The count may come before the animation's first frame, or with a no-mail frame chosen just before it.
            if (shown < 0 || run.At(shown).details.find(" frame=NoMail.png#") != std::string::npos)
                continue;
            const std::string& frame = run.At(shown).details;
            EXPECT_EQ(*badge == '0', frame.find(" frame=NewMail.png#") != std::string::npos) << frame;
            unsigned width = 0, height = 0;
            std::vector<uint32_t> pixels = ReadPngPixels(folder.Path() + std::to_string(i) + ".png", &width, &height);
            ASSERT_FALSE(pixels.empty()) << run.At(save).details;
            EXPECT_EQ(1, RedMarks(pixels, static_cast<int>(width), 128)) << "picture " << i << ", " << frame;
            ++newMailPictures;
        }
        EXPECT_GE(newMailPictures, kSaves - 3) << run.Text();
        ExpectNoLateCalls(run);
    }
}

// Below 32 pixels the digits of a count cannot be read: frames that small
// keep the strip's picture.
TEST(Animation, FramesUnder32PixelsGetNoBadge) {
    const struct {
        int side;
        bool badged;
    } cases[] = {{24, false}, {31, false}, {32, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.side) + " px");
        ScriptedServer server(FindsMail(0));
        DockletFolder folder("Smallest" + std::to_string(c.side), ImapSettings(server.Port(), 180, "Badge=1\r\n"));
        ASSERT_TRUE(WriteStripPng(folder.Path() + "NoMail.png", c.side, kNoMailColours));
        ASSERT_TRUE(WriteStripPng(folder.Path() + "NewMail.png", c.side, kNewMailColours));
        HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "2 new", "10000",
                               "wait", "400", "destroy", "1"});
        ASSERT_EQ(0, run.exitCode) << run.Text();
        int newMailFrames = 0;
        for (const Shown& frame : ShownOn(run, "1")) {
            if (IndexIn(kNewMailColours, frame.colour) < 0)
                continue;
            const std::string& details = run.At(frame.line).details;
            EXPECT_EQ(!c.badged, details.find(" frame=NewMail.png#") != std::string::npos) << details;
            ++newMailFrames;
        }
        EXPECT_GE(newMailFrames, 3) << run.Text();
    }
}

TEST(Animation, DestroyDuringThePauseIsPromptAndFinal) {
    DockletFolder folder("Pause", Quiet());
    WriteStrips(folder, kNoMailColours, kNewMailColours);
    HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "create", "2",
                           folder.Root(), folder.Relative(), "create", "3", folder.Root(),
                           folder.Relative(), "wait", "160", "destroy", "1", "wait", "115",
                           "destroy", "2", "wait", "230", "destroy", "3", "wait", "400"});
    ASSERT_EQ(0, run.exitCode) << run.Text();
    for (const std::string item : {"1", "2", "3"}) {
        SCOPED_TRACE("item " + item);
        int gone = run.Find("return", item, "OnDestroy ");
        ASSERT_GE(gone, 0) << run.Text();
        double spent = OnDestroyMs(run, item);
        EXPECT_GE(spent, 0);
        EXPECT_LT(spent, 1000) << run.Text();
        for (size_t i = static_cast<size_t>(gone) + 1; i < run.journal.size(); ++i)
            EXPECT_NE(item, run.journal[i].item) << "after OnDestroy: " << run.journal[i].event;
        std::vector<Shown> shown = ShownOn(run, item);
        EXPECT_GE(shown.size(), 1u) << run.Text();
        ExpectFramesInOrder(shown, kNoMailColours, run);
    }
    ExpectNoLateCalls(run);
}

TEST(Animation, PoisonedHostImagesAreNeverCalledThrough) {
    DockletFolder folder("Poison", Quiet());
    WriteStrips(folder, kNoMailColours, kNewMailColours);
    HostRun run = RunHost({"--poison-images", "create", "1", folder.Root(), folder.Relative(),
                           "wait", "500", "destroy", "1"});
    ASSERT_EQ(0, run.exitCode) << run.Text();
    EXPECT_EQ(0, run.Count("crash")) << run.Text();
    std::vector<Shown> shown = ShownOn(run, "1");
    EXPECT_GE(shown.size(), 3u) << run.Text();
    ExpectFramesInOrder(shown, kNoMailColours, run);
    ExpectNoLateCalls(run);
}

TEST(Animation, FiveHundredItemsComeAndGoWithoutLeaking) {
    DockletFolder folder("Rounds", Quiet());
    // Frames large enough that keeping those of every round would show; the
    // repeated ones share a copy, which must be released once.
    ASSERT_TRUE(WriteStripPng(folder.Path() + "NoMail.png", 48, kNoMailColours));
    ASSERT_TRUE(WriteStripPng(folder.Path() + "NewMail.png", 48,
                              {kNewMailColours[0], kNewMailColours[1], kNewMailColours[0]}));
    std::string script = TestWorkFolder() + "rounds.txt";
    {
        std::ofstream steps(script, std::ios::binary);
        for (int round = 1; round <= 500; ++round) {
            steps << "create " << round << " \"" << folder.Root() << "\" \"" << folder.Relative()
                  << "\"\ndestroy " << round << "\n";
            if (round == 50 || round == 500)
                steps << "stats\n";
        }
    }
    HostRun run = RunHost({"--script", script});
    ASSERT_EQ(0, run.exitCode) << run.Text();
    EXPECT_EQ(500, CountReturns(run, "OnCreate ")) << run.Text();
    EXPECT_EQ(500, CountReturns(run, "OnDestroy ")) << run.Text();
    ExpectNoLateCalls(run);

    int early = run.Find("stats");
    int late = run.Find("stats", "-", "", early + 1);
    ASSERT_GE(late, 0) << run.Text();
    unsigned long handles[2] = {};
    unsigned long pagefile[2] = {};
    int lines[] = {early, late};
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(2, sscanf(run.At(lines[i]).details.c_str(), "handles=%lu pagefile=%lu",
                            &handles[i], &pagefile[i]))
            << run.At(lines[i]).details;
    long handleGrowth = static_cast<long>(handles[1]) - static_cast<long>(handles[0]);
    long memoryGrowth = static_cast<long>(pagefile[1]) - static_cast<long>(pagefile[0]);
    printf("after 50 rounds: handles=%lu pagefile=%lu; after 500: handles=%lu pagefile=%lu; "
           "growth: %ld handles, %ld bytes\n",
           handles[0], pagefile[0], handles[1], pagefile[1], handleGrowth, memoryGrowth);
    RecordProperty("handles_after_50", std::to_string(handles[0]));
    RecordProperty("handles_after_500", std::to_string(handles[1]));
    RecordProperty("pagefile_after_50", std::to_string(pagefile[0]));
    RecordProperty("pagefile_after_500", std::to_string(pagefile[1]));
    EXPECT_LE(handleGrowth, 20);
    EXPECT_LE(memoryGrowth, 4L * 1024 * 1024);
}
