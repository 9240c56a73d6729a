#include <gtest/gtest.h>

#include "animation/frame_cycle.h"
#include "animation/frame_geometry.h"

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

}  // namespace
