#include <gtest/gtest.h>

#include "animation/badge_geometry.h"
#include "animation/frame_cycle.h"
#include "animation/frame_geometry.h"
#include "animation/frame_pixels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

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

// Frames 3 pixels square, rows padded to a stride of 4 frames and 2 spare
// pixels: frame 0 and 2 alike, frame 1 different, frame 3 only in its last pixel.
struct PaddedStrip {
    static const int kSide = 3;
    static const int kStridePixels = 4 * kSide + 2;
    std::vector<uint32_t> pixels = std::vector<uint32_t>(kSide * kStridePixels, 0xFF102030u);
    PaddedStrip() {
        for (int row = 0; row < kSide; ++row)
            At(1, row, row) = 0xFF405060u;
        At(3, kSide - 1, kSide - 1) = 0xFE102030u;
    }
    uint32_t& At(int frame, int x, int row) {
        return pixels[row * kStridePixels + frame * kSide + x];
    }
    StripPixels View() const {
        const uint8_t* first = reinterpret_cast<const uint8_t*>(pixels.data());
        return StripPixels{first, kStridePixels * 4, kSide};
    }
};

TEST(FramePixels, FramesAreAlikeOnlyPixelForPixel) {
    PaddedStrip strip;
    // Padding past the frames belongs to none of them.
    strip.At(4, 0, 0) = 0xFFFFFFFFu;
    struct Case {
        int32_t first, second;
        bool same;
    };
    const Case cases[] = {{0, 2, true}, {0, 1, false}, {2, 1, false}, {0, 3, false}, {3, 3, true}};
    StripPixels view = strip.View();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + " and " + std::to_string(c.second));
        EXPECT_EQ(c.same, SameFramePixels(&view, c.first, c.second));
        if (c.same)
            EXPECT_EQ(FrameDigest(&view, c.first), FrameDigest(&view, c.second));
    }
    // Digests tell apart frames that differ in a single pixel, or only in where
    // their pixels lie.
    EXPECT_NE(FrameDigest(&view, 0), FrameDigest(&view, 3));
    PaddedStrip swapped;
    swapped.At(0, 0, 0) = 0xFF000001u;
    swapped.At(2, 1, 0) = 0xFF000001u;
    StripPixels swappedView = swapped.View();
    EXPECT_NE(FrameDigest(&swappedView, 0), FrameDigest(&swappedView, 2));
}

TEST(FrameCycle, ASharedFrameIsReleasedWithItsFirstEntryOnly) {
    int a = 0, b = 0;
    std::vector<void*> entries(kFrameLookBack + 4, nullptr);
    entries[0] = &a;
    entries[1] = &b;
    entries[2] = &a;
    entries[4] = &b;
    entries[kFrameLookBack + 1] = &b;  // kFrameLookBack after entry 1, but entry 4 is nearer
    entries[kFrameLookBack + 3] = &a;  // too far from entries 0 and 2 to count as shared
    FrameSet set{entries.data(), static_cast<int32_t>(entries.size()), 0};
    for (int32_t i = 0; i < set.count; ++i) {
        bool shared = i == 2 || i == 4 || i == kFrameLookBack + 1;
        EXPECT_EQ(shared, SharesEarlierEntry(&set, i)) << "entry " << i;
    }
}

}  // namespace

// The badge sits in the top right corner, scaled with the frame, and is
// never cut by the frame's edge nor reaches outside the area put back before
// each new count. At 128 pixels its right end covers the shipped new-mail
// strip's own mark, as large as it grows (a disc of radius 18.2 around
// (108, 20), its faintest edge left out), so that a frame shows one mark.
TEST(BadgeGeometry, CornerShapesTextsAndTheirArea) {
    struct Case {
        uint32_t frame;
        int32_t total;
        const char* text;  // nullptr: no badge
        BadgeBox shape;
    } const cases[] = {
        {128, 1, "1", {84, 0, 44, 44}},        // a disc
        {128, 42, "42", {67, 0, 61, 44}},      // a pill
        {128, 99, "99", {67, 0, 61, 44}},
        {128, 100, "99+", {49, 0, 79, 44}},
        {128, INT32_MAX, "99+", {49, 0, 79, 44}},
        {48, 7, "7", {31, 0, 17, 17}},
        {64, 100, "99+", {25, 0, 39, 22}},
        {32, 5, "5", {21, 0, 11, 11}},
        {4096, 3, "3", {2688, 0, 1408, 1408}},
        {128, 0, nullptr, {}},
        {128, -3, nullptr, {}},
        {31, 5, nullptr, {}},
        {24, 5, nullptr, {}},
        {4097, 5, nullptr, {}},
        {0, 5, nullptr, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.frame) + " px, total " + std::to_string(c.total));
        BadgeLayout layout;
        ASSERT_EQ(c.text != nullptr, LayOutBadge(c.frame, c.total, &layout));
        BadgeBox area = BadgeAreaOf(c.frame);
        if (!c.text) {
            EXPECT_STREQ("", layout.text);
            continue;
        }
        EXPECT_STREQ(c.text, layout.text);
        EXPECT_EQ(c.shape.x, layout.shape.x);
        EXPECT_EQ(c.shape.y, layout.shape.y);
        EXPECT_EQ(c.shape.width, layout.shape.width);
        EXPECT_EQ(c.shape.height, layout.shape.height);
        const int32_t size = static_cast<int32_t>(c.frame);
        EXPECT_GE(layout.rim, 1);
        EXPECT_LT(layout.rim * 4, layout.shape.height);
        EXPECT_LT(layout.textPixels, layout.shape.height);
        EXPECT_GE(layout.shape.x - 1, area.x);
        EXPECT_EQ(0, area.y);
        EXPECT_GE(area.height, std::min(size, layout.shape.y + layout.shape.height + 1));
        EXPECT_EQ(size, area.x + area.width);
        EXPECT_LE(layout.shape.x + layout.shape.width, size);
        EXPECT_LE(layout.shape.y + layout.shape.height, size);
        if (c.frame == 128) {
            const double radius = layout.shape.height / 2.0;
            const double endX = layout.shape.x + layout.shape.width - radius;
            const double endY = layout.shape.y + radius;
            EXPECT_LE(std::hypot(endX - 108, endY - 20) + 18.2, radius - 0.5);
        }
    }
    BadgeBox none = BadgeAreaOf(31);
    EXPECT_EQ(0, none.width);
    EXPECT_EQ(0, none.height);
}
