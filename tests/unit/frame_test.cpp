#include <gtest/gtest.h>

#include "animation/frame_cycle.h"
#include "animation/frame_geometry.h"
#include "animation/frame_pace.h"

namespace {

TEST(FrameGeometry, SquareFramesAsTallAsTheStrip) {
    EXPECT_EQ(4, FrameCount(130, 32));  // columns 128 and 129 belong to no frame
    for (int32_t i = 0; i < 4; ++i) {
        FrameArea area = FrameAreaOf(i, 32);
        EXPECT_EQ(32 * i, area.x);
        EXPECT_EQ(0, area.y);
        EXPECT_EQ(32, area.size);
    }
    EXPECT_EQ(1, FrameCount(48, 48));
    EXPECT_EQ(0, FrameCount(31, 32));
    EXPECT_EQ(-1, FrameCount(0, 32));
    EXPECT_EQ(-1, FrameCount(130, 0));
    EXPECT_EQ(INT32_MAX, FrameCount(UINT32_MAX, 1));
    EXPECT_EQ(int64_t{INT32_MAX} * 7, FrameAreaOf(INT32_MAX, 7).x);  // no 32-bit wrap
}

// Entries are only compared, never used, so their own addresses serve as frames.
struct Sets {
    void* noMailFrames[3];
    void* newMailFrames[8];
    FrameSet noMail{noMailFrames, 3, 0};
    FrameSet newMail{newMailFrames, 8, 0};
    void* NoMail(int i) { return &noMailFrames[i]; }
    void* NewMail(int i) { return &newMailFrames[i]; }
    Sets() {
        for (int i = 0; i < 3; ++i)
            noMailFrames[i] = NoMail(i);
        for (int i = 0; i < 8; ++i)
            newMailFrames[i] = NewMail(i);
    }
};

TEST(FrameCycle, EachSetResumesWhereItStopped) {
    Sets sets;
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(sets.NewMail(i), NextFrameOf(&sets.noMail, &sets.newMail, kNewMailMode));
    EXPECT_EQ(sets.NoMail(0), NextFrameOf(&sets.noMail, &sets.newMail, kNoMailMode));
    EXPECT_EQ(sets.NoMail(1), NextFrameOf(&sets.noMail, &sets.newMail, kNoMailMode));
    EXPECT_EQ(sets.NewMail(5), NextFrameOf(&sets.noMail, &sets.newMail, kNewMailMode));
    EXPECT_EQ(sets.NoMail(2), NextFrameOf(&sets.noMail, &sets.newMail, kNoMailMode));
    EXPECT_EQ(sets.NoMail(0), NextFrameOf(&sets.noMail, &sets.newMail, kNoMailMode));  // wraps
    // Any mode but the no-mail one shows the new-mail set.
    EXPECT_EQ(sets.NewMail(6), NextFrameOf(&sets.noMail, &sets.newMail, 7));
}

TEST(FrameCycle, AbsentEmptyAndUncutFramesGiveNone) {
    Sets sets;
    FrameSet absent{nullptr, 0, 0};
    EXPECT_EQ(nullptr, NextFrameOf(&sets.noMail, &absent, kNoMailMode));
    EXPECT_EQ(nullptr, NextFrameOf(&absent, &sets.newMail, kNewMailMode));

    void* spare[1] = {nullptr};
    FrameSet empty{spare, 0, 0};
    EXPECT_EQ(sets.NoMail(0), NextFrameOf(&sets.noMail, &empty, kNoMailMode));
    EXPECT_EQ(nullptr, NextFrameOf(&sets.noMail, &empty, kNewMailMode));

    sets.newMailFrames[2] = nullptr;  // its copy failed
    EXPECT_EQ(sets.NewMail(0), NextFrameOf(&sets.noMail, &sets.newMail, kNewMailMode));
    EXPECT_EQ(sets.NewMail(1), NextFrameOf(&sets.noMail, &sets.newMail, kNewMailMode));
    EXPECT_EQ(nullptr, NextFrameOf(&sets.noMail, &sets.newMail, kNewMailMode));
}

// A host that takes 2 ms to show each frame and a timer that wakes 1 ms late
// still get a frame every 75 ms: neither delay adds up.
TEST(FramePace, ShowingTimeAndLateWakesDoNotStretchTheInterval) {
    uint32_t due = 1000;
    uint32_t start = due + 1;
    for (int frame = 0; frame < 50; ++frame) {
        uint32_t shown = start + 2;
        uint32_t pause = PauseBeforeNextFrame(&due, shown, 75);
        EXPECT_EQ(72u, pause);
        uint32_t next = shown + pause + 1;
        EXPECT_EQ(75u, next - start);
        start = next;
    }
}

TEST(FramePace, HeldLongerThanAPeriodStartsAgainWithoutRushing) {
    uint32_t due = 1000;
    EXPECT_EQ(75u, PauseBeforeNextFrame(&due, 1200, 75));
    EXPECT_EQ(1275u, due);
    due = 1000;
    EXPECT_EQ(75u, PauseBeforeNextFrame(&due, 1075, 75));  // the next frame is due this very moment
    EXPECT_EQ(1150u, due);
    EXPECT_EQ(1u, PauseBeforeNextFrame(&due, 1224, 75));
}

TEST(FramePace, TheTickCountWrappingAroundChangesNothing) {
    uint32_t due = 0xFFFFFFF0u;
    EXPECT_EQ(73u, PauseBeforeNextFrame(&due, 0xFFFFFFF2u, 75));
    EXPECT_EQ(59u, due);
    EXPECT_EQ(74u, PauseBeforeNextFrame(&due, 60, 75));
}

}  // namespace
