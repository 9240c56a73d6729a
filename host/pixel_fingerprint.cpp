#include "pixel_fingerprint.h"

uint32_t FingerprintPixels(const uint8_t* firstRow, int width, int height, int stride) {
    uint32_t hash = 2166136261u;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = firstRow + static_cast<intptr_t>(y) * stride;
        for (int x = 0; x < width * 4; ++x) {
            hash ^= row[x];
            hash *= 16777619u;
        }
    }
    return hash;
}
