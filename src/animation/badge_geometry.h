#pragma once
#include <cstdint>

// Where the mail count sits on a new-mail frame, and how large, for square
// frames of any size: in the top right corner, over the mark the shipped
// new-mail strip has there, so that the frame shows one mark, which carries
// the count. A disc for one digit and a pill for two or three ("99+"),
// scaled with the frame so that it reads the same wherever the dock shrinks
// the item to.

// Frames smaller than this get no badge: its digits could not be read, and
// the "+" of "99+" would be lost.
const uint32_t kMinBadgeFrame = 32;
// Nor do frames larger than this, which no dock shows.
const uint32_t kMaxBadgeFrame = 4096;

struct BadgeBox {
    int32_t x; // left edge, pixels from the frame's left
    int32_t y; // top edge
    int32_t width;
    int32_t height;
};

struct BadgeLayout {
    char text[4];     // "1" to "99", or "99+" above 99
    BadgeBox shape;   // the filled disc or pill
    int32_t rim;      // width of the contrasting rim inside the shape's edge, pixels
    float textPixels; // em size of the digits
};

// The part of a frame that every badge of this frame size lies within, one
// pixel of edge smoothing included: what is put back from the clean frame
// before another count is drawn. All zero when the frame gets no badge.
BadgeBox BadgeAreaOf(uint32_t frameSize);

// Lays out the badge of total; false when there is none to draw (a total
// below 1, or a frame size outside the bounds above).
bool LayOutBadge(uint32_t frameSize, int32_t total, BadgeLayout* layout);
