#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check/idle_timing.h"
#include "check/message_label.h"
#include "check/wake_coalescing.h"

namespace {

std::string Label(const char* labelTemplate, int total, size_t size = 1024) {
    char label[1024];
    FormatMessageLabel(label, size, labelTemplate, total);
    return label;
}

TEST(MessageLabel, TheOneIntegerConversionGetsTheTotal) {
    EXPECT_EQ("5 new messages", Label("%d new messages", 5));
    EXPECT_EQ("Mail: 12", Label("Mail: %i", 12));
    EXPECT_EQ("[  7]", Label("[%3d]", 7));
    EXPECT_EQ("[7  ]", Label("[%-3d]", 7));
    EXPECT_EQ("[007]", Label("[%03d]", 7));
    EXPECT_EQ("+2", Label("%+d", 2));
    EXPECT_EQ("ff", Label("%x", 255));
    EXPECT_EQ("no number", Label("no number", 9));
    EXPECT_EQ("", Label("", 9));
}

TEST(MessageLabel, EverythingElseShowsAsWritten) {
    EXPECT_EQ("100% sure: 3", Label("100%% sure: %d", 3));
    EXPECT_EQ("%s and 3", Label("%s and %d", 3));
    EXPECT_EQ("3 then %d", Label("%d then %d", 3));
    EXPECT_EQ("%n%p%f 4", Label("%n%p%f %d", 4));
    EXPECT_EQ("%ld %.2d %", Label("%ld %.2d %", 4));
    EXPECT_EQ("%*d", Label("%*d", 4));
}

TEST(MessageLabel, CutToTheBuffer) {
    EXPECT_EQ("12 me", Label("12 messages %d", 4, 6));
    EXPECT_EQ(std::string(1022, ' ') + "1", Label("%99999999999999999999d", 1));
    EXPECT_EQ("1" + std::string(1022, ' '), Label("%-5000d", 1));
    EXPECT_EQ("", Label("%d", 1, 1));
}

// The rule itself is the check cycle's test; here the cuts: labels stay
// terminated and never exceed their buffer.
TEST(CycleLabel, CutToItsBuffer) {
    struct Case {
        const char* countLabel;
        const char* failedTemplate;
        int failed;
        bool anyAnswered;
        const char* signInText;
        size_t size;
        const char* label;
    };
    const Case cases[] = {
        {"3 new", "%d failed", 1, true, "", 9, "3 new, 1"},
        {"3 new", "", 1, true, "", 3, "3 "},
        {"3 new", "%d failed", 4, false, "", 3, "4 "},
        {"5 new", "%d failed", 1, true, "Sign in", 20, "5 new, 1 failed - S"},
        {"5 new", "", 0, true, "Sign in", 7, "5 new "},
        {"5 new", "%d failed", 1, true, "Sign in", 1, ""},
    };
    for (const Case& c : cases) {
        char label[1024];
        FormatCycleLabel(label, c.size, c.countLabel, c.failedTemplate, c.failed, c.anyAnswered,
                         c.signInText);
        EXPECT_EQ(c.label, std::string(label))
            << c.countLabel << " / " << c.failedTemplate << " / " << c.size;
    }
}

// While an account waits for its user, the sign-in text follows what the
// others gave, and stands alone only where they gave nothing to show.
TEST(CycleLabel, TheSignInTextFollowsWhatWasCounted) {
    struct Case {
        const char* countLabel;
        const char* failedTemplate;
        int failed;
        bool anyAnswered;
        const char* label;
    };
    const Case cases[] = {
        {"5 new", "%d failed", 0, true, "5 new - Sign in"},
        {"5 new", "%d failed", 2, true, "5 new, 2 failed - Sign in"},
        {"5 new", "", 2, true, "5 new - Sign in"},
        {"None", "%d failed", 0, true, "None - Sign in"},
        {"None", "%d failed", 0, false, "Sign in"},
        {"None", "%d failed", 1, false, "1 failed - Sign in"},
        {"None", "", 1, false, "Sign in"},
        {"", "%d failed", 1, true, "1 failed - Sign in"},
        {"", "", 0, true, "Sign in"},
    };
    for (const Case& c : cases) {
        char label[1024];
        FormatCycleLabel(label, sizeof label, c.countLabel, c.failedTemplate, c.failed,
                         c.anyAnswered, "Sign in");
        EXPECT_EQ(c.label, std::string(label))
            << c.countLabel << " / " << c.failedTemplate << " / " << c.failed;
    }
}

// Runs of wake events, delivered at their times from a start anywhere on the
// tick count (across its wrap too), and the checks they cause: one a run,
// once it has been quiet for a while or at the latest a while after its start.
TEST(WakeRun, ARunOfEventsMakesOneCheck) {
    struct Event {
        uint32_t atMs;
        uint32_t event;
    };
    struct Case {
        const char* what;
        std::vector<Event> events;
        std::vector<Event> checks; // when each check starts, and what it was for
    };
    const uint32_t resumed = kWakeResumed, changed = kWakeAddressesChanged;
    const Case cases[] = {
        {"one event", {{0, resumed}}, {{500, resumed}}},
        {"two power messages", {{0, resumed}, {3, resumed}}, {{503, resumed}}},
        {"resume, then the network", {{0, resumed}, {300, changed}, {700, changed}},
         {{1200, resumed | changed}}},
        {"a network that keeps changing", {{0, changed}, {400, changed}, {800, changed}, {1200, changed},
          {1600, changed}, {1999, changed}, {2300, changed}},
         {{2000, changed}, {2800, changed}}},
        {"two runs apart", {{0, changed}, {5000, resumed}}, {{500, changed}, {5500, resumed}}},
        {"an event just after a check", {{0, resumed}, {501, changed}}, {{500, resumed}, {1001, changed}}},
    };
    for (uint32_t start : {0u, 0xFFFFFF00u}) {
        for (const Case& c : cases) {
            WakeRun run{};
            std::vector<Event> checks;
            size_t next = 0;
            for (uint32_t t = 0; t < 8000; ++t) {
                const uint32_t now = start + t;
                for (; next < c.events.size() && c.events[next].atMs == t; ++next)
                    NoteWakeEvent(&run, c.events[next].event, now);
                const uint32_t due = WakeCheckDueInMs(&run, now);
                const uint32_t taken = TakeDueWakeEvents(&run, now);
                EXPECT_EQ(due == 0, taken != 0) << c.what << " at " << t;
                if (taken)
                    checks.push_back({t, taken});
                else if (due != kWakeNoneWaiting)
                    EXPECT_EQ(0u, TakeDueWakeEvents(&run, now + due - 1)) << c.what << " at " << t;
            }
            ASSERT_EQ(c.checks.size(), checks.size()) << c.what << " from " << start;
            for (size_t i = 0; i < checks.size(); ++i) {
                EXPECT_EQ(c.checks[i].atMs, checks[i].atMs) << c.what << " from " << start;
                EXPECT_EQ(c.checks[i].event, checks[i].event) << c.what << " from " << start;
            }
        }
    }
}

TEST(WakeRun, TheReasonNamesEachEvent) {
    EXPECT_STREQ("Windows resumed from sleep", WakeEventsText(kWakeResumed));
    EXPECT_STREQ("the machine's network addresses changed", WakeEventsText(kWakeAddressesChanged));
    EXPECT_STREQ("Windows resumed from sleep; the machine's network addresses changed",
                 WakeEventsText(kWakeResumed | kWakeAddressesChanged));
}

}  // namespace

// The timing behind an idle account's label: when a lost connection is
// opened again, and when a count is too old to show as news.
namespace {

TEST(IdleTiming, ReconnectsBackOffFrom10SecondsToTheLongestPause) {
    const struct {
        uint32_t failures;
        uint32_t longestMs;
        uint32_t pauseMs;
    } kCases[] = {
        {0, 180000, 2000},      {1, 180000, 10000},     {2, 180000, 20000},  {3, 180000, 40000},
        {5, 180000, 160000},    {6, 180000, 180000},    {4000000000u, 180000, 180000},
        {1, 5000, 10000},       {3, 0, 10000},          {40, 86400000, 86400000},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(c.pauseMs, ReconnectPauseMs(c.failures, c.longestMs)) << c.failures << " " << c.longestMs;
}

TEST(IdleTiming, JitterStaysWithin20PerCent) {
    const struct {
        uint32_t ms;
        uint32_t random;
        uint32_t jittered;
    } kCases[] = {
        {10000, 0, 8000},          {10000, 0x80000000u, 10000}, {10000, 0xFFFFFFFFu, 11999},
        {2000, 0x40000000u, 1800}, {0, 0xFFFFFFFFu, 0},         {86400000, 0xFFFFFFFFu, 103679999},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(c.jittered, JitteredMs(c.ms, c.random)) << c.ms << " " << c.random;
}

TEST(IdleTiming, ACountGrowsStaleAfterThreeIntervals) {
    EXPECT_EQ(540000u, StaleAfterMs(false, 180000));
    EXPECT_EQ(30000u, StaleAfterMs(false, 0));
    EXPECT_EQ(259200000u, StaleAfterMs(false, 86400000));
    // An idle account proves itself once a minute whatever DelaySecond says.
    EXPECT_EQ(180000u, StaleAfterMs(true, 10000));
    EXPECT_EQ(1800000u, StaleAfterMs(true, 600000));
}

}  // namespace
