#include "animation/frame_geometry.h"

#include <climits>

int32_t FrameCount(uint32_t width, uint32_t height) {
    if (width == 0 || height == 0)
        return -1;
    uint32_t count = width / height;
    return count > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count);
}

FrameArea FrameAreaOf(int32_t index, uint32_t height) {
    return FrameArea{static_cast<int64_t>(index) * height, 0, height};
}
