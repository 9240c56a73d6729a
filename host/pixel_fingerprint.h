#pragma once
#include <cstdint>

// FNV-1a over the visible bytes of each row of a 32-bit-per-pixel picture, so
// that two pictures with the same pixels match whatever their row padding.
uint32_t FingerprintPixels(const uint8_t* firstRow, int width, int height, int stride);
