#pragma once
// PNG files made and read back with GDI+ in the test process, to give the
// host a picture to load and to check the pictures it saves.
#include <cstdint>
#include <string>

bool WriteSolidPng(const std::string& path, int width, int height, uint32_t argb);

struct PngFacts {
    bool loaded = false;
    unsigned width = 0;
    unsigned height = 0;
    uint32_t probedPixel = 0;  // AARRGGBB at the probed point
};

PngFacts ReadPng(const std::string& path, int probeX, int probeY);
