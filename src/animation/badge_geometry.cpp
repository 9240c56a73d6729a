#include "animation/badge_geometry.h"

#include "text/bounded_text.h"

namespace {

const int32_t kWidestText = 3; // "99+"

bool BadgeFits(uint32_t frameSize) {
    return frameSize >= kMinBadgeFrame && frameSize <= kMaxBadgeFrame;
}

// Three eighths of the frame tall: some 18 pixels on a 48-pixel dock.
int32_t HeightOf(int32_t size) {
    return (size * 3 + 4) / 8;
}

// Each character after the first widens the disc into a pill by two fifths
// of its height, about the width of a bold digit.
int32_t WidthOf(int32_t height, int32_t characters) {
    return height + (characters - 1) * height * 2 / 5;
}

// The shape for a text of so many characters, flush with the corner but for
// a margin that keeps its rim clear of the frame's edge.
BadgeBox ShapeOf(int32_t size, int32_t characters) {
    int32_t margin = size / 64;
    int32_t height = HeightOf(size);
    int32_t width = WidthOf(height, characters);
    return BadgeBox{size - margin - width, size - margin - height, width, height};
}

} // namespace

BadgeBox BadgeAreaOf(uint32_t frameSize) {
    if (!BadgeFits(frameSize))
        return BadgeBox{0, 0, 0, 0};
    int32_t size = static_cast<int32_t>(frameSize);
    BadgeBox widest = ShapeOf(size, kWidestText);
    int32_t x = widest.x > 0 ? widest.x - 1 : 0;
    int32_t y = widest.y > 0 ? widest.y - 1 : 0;
    return BadgeBox{x, y, size - x, size - y};
}

bool LayOutBadge(uint32_t frameSize, int32_t total, BadgeLayout* layout) {
    layout->text[0] = '\0';
    if (total < 1 || !BadgeFits(frameSize))
        return false;
    if (total > 99)
        CopyText(layout->text, sizeof layout->text, "99+");
    else
        FormatText(layout->text, sizeof layout->text, "%d", total);
    int32_t size = static_cast<int32_t>(frameSize);
    int32_t characters = total > 99 ? kWidestText : total > 9 ? 2 : 1;
    layout->shape = ShapeOf(size, characters);
    layout->rim = size / 32 > 1 ? size / 32 : 1;
    layout->textPixels = static_cast<float>(layout->shape.height) * 0.62f;
    return true;
}
