#pragma once
// Remembers the square frames of every picture strip the host loads for a
// docklet, by their pixels, so that the journal and --print can tell which
// strip, and which frame of it, the item shows.
#include <windows.h>

#include <cstdint>
#include <string>

// Indexes each HxH square of the strip loaded from path, left to right.
void RememberStripFrames(const std::string& path, const void* image);

// "NoMail.png#2" for the third frame of the strip loaded from ...\NoMail.png,
// or "" when the picture is no frame of a strip loaded so far.
std::string FrameOrigin(uint32_t fingerprint, UINT width, UINT height);
