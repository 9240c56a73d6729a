#include "animation/badge_geometry.h"

#include "text/bounded_text.h"

namespace {

const int32_t kWidestText = 3; // "99+"

bool BadgeFits(uint32_t frameSize) {
    return frameSize >= kMinBadgeFrame && frameSize <= kMaxBadgeFrame;
}

// Eleven thirty-seconds of the frame tall: 44 pixels at 128, where the
// shipped strip's mark is a disc of 32 around (108, 20), 35 at the top of
// the envelope's hop, and some 16 pixels on a 48-pixel dock.
int32_t HeightOf(int32_t size) {
    return (size * 11 + 16) / 32;
}

// Each character after the first widens the disc into a pill by two fifths
// of its height, about the width of a bold digit.
int32_t WidthOf(int32_t height, int32_t characters) {
    return height + (characters - 1) * height * 2 / 5;
}

// The shape for a text of so many characters, flush with the corner: the
// disc's centre then lies within 3 pixels of the mark's at 128, and its
// edge more than a pixel beyond the mark's widest.
BadgeBox ShapeOf(int32_t size, int32_t characters) {
    int32_t height = HeightOf(size);
    int32_t width = WidthOf(height, characters);
    return BadgeBox{size - width, 0, width, height};
}

} // namespace

BadgeBox BadgeAreaOf(uint32_t frameSize) {
    if (!BadgeFits(frameSize))
        return BadgeBox{0, 0, 0, 0};
    int32_t size = static_cast<int32_t>(frameSize);
    BadgeBox widest = ShapeOf(size, kWidestText);
    int32_t x = widest.x > 0 ? widest.x - 1 : 0;
    int32_t bottom = widest.y + widest.height < size ? widest.y + widest.height + 1 : size;
    return BadgeBox{x, 0, size - x, bottom};
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
