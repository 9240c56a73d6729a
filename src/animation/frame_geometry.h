#pragma once
#include <cstdint>

// A strip is a row of square frames as tall as the strip, read left to right;
// the columns right of the last whole frame belong to none.

// Frames in a strip of this size, or -1 when the strip is unusable (a side of
// 0). A strip narrower than tall holds 0 frames. Counts that could never be
// held in memory are capped at the largest int.
int32_t FrameCount(uint32_t width, uint32_t height);

struct FrameArea {
    int64_t x;  // left edge: index * height
    int64_t y;  // always 0
    int64_t size;  // width and height: the strip's height
};

FrameArea FrameAreaOf(int32_t index, uint32_t height);
