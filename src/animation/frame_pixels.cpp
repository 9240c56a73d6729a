#include "animation/frame_pixels.h"

#include <cstring>

namespace {

const uint8_t* FrameRow(const StripPixels* strip, int32_t index, uint32_t row) {
    return strip->scan0 + static_cast<int64_t>(row) * strip->stride +
           static_cast<int64_t>(index) * strip->height * 4;
}

}  // namespace

uint32_t FrameDigest(const StripPixels* strip, int32_t index) {
    uint32_t digest = 2166136261u;  // FNV-1a, a pixel at a time: one 32-bit product each
    for (uint32_t row = 0; row < strip->height; ++row) {
        const uint8_t* pixels = FrameRow(strip, index, row);
        for (uint32_t x = 0; x < strip->height; ++x) {
            uint32_t pixel;
            memcpy(&pixel, pixels + x * 4, sizeof pixel);
            digest = (digest ^ pixel) * 16777619u;
        }
    }
    return digest;
}

bool SameFramePixels(const StripPixels* strip, int32_t first, int32_t second) {
    for (uint32_t row = 0; row < strip->height; ++row) {
        if (memcmp(FrameRow(strip, first, row), FrameRow(strip, second, row),
                   strip->height * 4ull) != 0)
            return false;
    }
    return true;
}
