#pragma once
// PNG files made and read back with GDI+ in the test process, to give the
// host a picture to load and to check the pictures it saves.
#include <cstdint>
#include <string>
#include <vector>

bool WriteSolidPng(const std::string& path, int width, int height, uint32_t argb);

// An animation strip `height` tall: one height x height square of each frame
// colour, left to right, then `leftoverColumns` columns of `leftoverColour`.
bool WriteStripPng(const std::string& path, int height, const std::vector<uint32_t>& frameColours,
                   int leftoverColumns = 0, uint32_t leftoverColour = 0);

struct PngFacts {
    bool loaded = false;
    unsigned width = 0;
    unsigned height = 0;
    uint32_t probedPixel = 0;  // AARRGGBB at the probed point
};

PngFacts ReadPng(const std::string& path, int probeX, int probeY);

// Every pixel as AARRGGBB, row by row; empty when the file cannot be read.
std::vector<uint32_t> ReadPngPixels(const std::string& path, unsigned* width, unsigned* height);
