#pragma once
#include <cstdint>

// Finds frames of a strip that hold the same pixels, so that a strip whose
// motion returns to the same pictures costs memory for each picture once.

// A strip's pixels as locked in memory: 32-bit pixels, rows stride bytes
// apart, frames as FrameAreaOf places them.
struct StripPixels {
    const uint8_t* scan0;
    int64_t stride;
    uint32_t height;
};

// A digest that frames with the same pixels share; others rarely do.
uint32_t FrameDigest(const StripPixels* strip, int32_t index);
bool SameFramePixels(const StripPixels* strip, int32_t first, int32_t second);
