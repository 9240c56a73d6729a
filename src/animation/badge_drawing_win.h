#pragma once
#include <windows.h>

#include <gdiplus.h>

#include <cstdint>

// Draws the mail count onto new-mail frames with GDI+ (which the host has
// started), where badge_geometry places it. Runs on the animation worker.

// A copy of the frame's badge area as it was cut from the strip, to put back
// before each new count; null when the frame gets no badge or the copy fails.
Gdiplus::GpBitmap* CopyBadgeArea(Gdiplus::GpBitmap* frame, uint32_t frameSize);

// Puts the clean area back over the frame's corner, then draws the badge of
// total on it (none for a total below 1). False when GDI+ could not draw: the
// frame may then show its clean corner.
bool DrawBadge(Gdiplus::GpBitmap* frame, Gdiplus::GpBitmap* cleanArea, uint32_t frameSize,
               int32_t total);
