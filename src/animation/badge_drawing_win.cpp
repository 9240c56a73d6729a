#include "animation/badge_drawing_win.h"

#include <cstring>

#include "animation/badge_geometry.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

// The strips' own badge colour, under a white rim: the red tells it apart
// from a light dock and the rim from a dark one.
const ARGB kBadgeFill = 0xFFEC4824;
const ARGB kBadgeRim = 0xFFFFFFFF;
const ARGB kDigits = 0xFFFFFFFF;

// The first bold face found: Windows has Tahoma and Arial, Wine on Linux
// often DejaVu only; then whatever the system calls sans serif.
GpFontFamily* DigitFamily() {
    static const WCHAR* const kNames[] = {L"Tahoma", L"Arial", L"DejaVu Sans"};
    GpFontFamily* family = nullptr;
    for (const WCHAR* name : kNames) {
        if (GdipCreateFontFamilyFromName(name, nullptr, &family) == Ok)
            return family;
    }
    GpFontFamily* generic = nullptr;
    if (GdipGetGenericFontFamilySansSerif(&generic) == Ok &&
        GdipCloneFontFamily(generic, &family) == Ok)
        return family;
    return nullptr;
}

// A disc when as wide as tall, else a pill: two half discs joined.
bool AddShape(GpPath* path, float x, float y, float width, float height) {
    if (width <= height)
        return GdipAddPathEllipse(path, x, y, width, height) == Ok;
    return GdipAddPathArc(path, x, y, height, height, 90.0f, 180.0f) == Ok &&
           GdipAddPathArc(path, x + width - height, y, height, height, 270.0f, 180.0f) == Ok &&
           GdipClosePathFigure(path) == Ok;
}

bool FillShape(GpGraphics* graphics, const BadgeBox& box, float inset, ARGB colour) {
    GpPath* path = nullptr;
    GpSolidFill* brush = nullptr;
    bool drawn = GdipCreatePath(FillModeWinding, &path) == Ok &&
                 GdipCreateSolidFill(colour, &brush) == Ok &&
                 AddShape(path, box.x + inset, box.y + inset, box.width - 2 * inset,
                          box.height - 2 * inset) &&
                 GdipFillPath(graphics, brush, path) == Ok;
    if (brush)
        GdipDeleteBrush(brush);
    if (path)
        GdipDeletePath(path);
    return drawn;
}

// The digits as a filled outline, centred on the shape by their own bounds,
// which centres the figures themselves rather than the font's line box.
bool DrawDigits(GpGraphics* graphics, const BadgeLayout& layout) {
    GpFontFamily* family = DigitFamily();
    if (!family)
        return false;
    WCHAR text[sizeof layout.text];
    int length = 0;
    for (; layout.text[length] != '\0'; ++length)
        text[length] = static_cast<WCHAR>(layout.text[length]);
    text[length] = L'\0';
    GpPath* path = nullptr;
    GpMatrix* move = nullptr;
    GpSolidFill* brush = nullptr;
    GpStringFormat* format = nullptr;
    // Room for the text at the origin: a layout of no size holds nothing on every GDI+.
    RectF origin(0, 0, layout.textPixels * 4, layout.textPixels * 2);
    RectF bounds(0, 0, 0, 0);
    // Wine's GDI+ refuses a path string without a format.
    bool drawn = GdipCreatePath(FillModeWinding, &path) == Ok &&
                 GdipCreateStringFormat(0, LANG_NEUTRAL, &format) == Ok &&
                 GdipAddPathString(path, text, length, family, FontStyleBold, layout.textPixels,
                                   &origin, format) == Ok &&
                 GdipGetPathWorldBounds(path, &bounds, nullptr, nullptr) == Ok;
    if (drawn) {
        const BadgeBox& shape = layout.shape;
        float dx = shape.x + shape.width / 2.0f - (bounds.X + bounds.Width / 2.0f);
        float dy = shape.y + shape.height / 2.0f - (bounds.Y + bounds.Height / 2.0f);
        drawn = GdipCreateMatrix2(1, 0, 0, 1, dx, dy, &move) == Ok &&
                GdipTransformPath(path, move) == Ok && GdipCreateSolidFill(kDigits, &brush) == Ok &&
                GdipFillPath(graphics, brush, path) == Ok;
    }
    if (brush)
        GdipDeleteBrush(brush);
    if (format)
        GdipDeleteStringFormat(format);
    if (move)
        GdipDeleteMatrix(move);
    if (path)
        GdipDeletePath(path);
    GdipDeleteFontFamily(family);
    return drawn;
}

// Copies the clean pixels back row by row rather than drawing them, which
// could blend or resample: the corner becomes exactly what the strip had.
bool PutBackArea(GpBitmap* frame, GpBitmap* cleanArea, uint32_t frameSize) {
    BadgeBox area = BadgeAreaOf(frameSize);
    GpRect target(area.x, area.y, area.width, area.height);
    GpRect source(0, 0, area.width, area.height);
    BitmapData to = {};
    BitmapData from = {};
    if (GdipBitmapLockBits(frame, &target, ImageLockModeWrite, PixelFormat32bppARGB, &to) != Ok)
        return false;
    bool copied = GdipBitmapLockBits(cleanArea, &source, ImageLockModeRead, PixelFormat32bppARGB,
                                     &from) == Ok;
    if (copied) {
        for (int32_t row = 0; row < area.height; ++row)
            memcpy(static_cast<uint8_t*>(to.Scan0) + row * to.Stride,
                   static_cast<const uint8_t*>(from.Scan0) + row * from.Stride, area.width * 4u);
        GdipBitmapUnlockBits(cleanArea, &from);
    }
    GdipBitmapUnlockBits(frame, &to);
    return copied;
}

} // namespace

GpBitmap* CopyBadgeArea(GpBitmap* frame, uint32_t frameSize) {
    BadgeBox area = BadgeAreaOf(frameSize);
    GpBitmap* copy = nullptr;
    if (area.width <= 0 || GdipCloneBitmapAreaI(area.x, area.y, area.width, area.height,
                                                PixelFormat32bppARGB, frame, &copy) != Ok)
        return nullptr;
    return copy;
}

bool DrawBadge(GpBitmap* frame, GpBitmap* cleanArea, uint32_t frameSize, int32_t total) {
    GpGraphics* graphics = nullptr;
    if (!cleanArea || !PutBackArea(frame, cleanArea, frameSize))
        return false;
    BadgeLayout layout;
    if (!LayOutBadge(frameSize, total, &layout))
        return true;
    if (GdipGetImageGraphicsContext(frame, &graphics) != Ok)
        return false;
    bool drawn = GdipSetSmoothingMode(graphics, SmoothingModeAntiAlias) == Ok &&
                 FillShape(graphics, layout.shape, 0, kBadgeRim) &&
                 FillShape(graphics, layout.shape, static_cast<float>(layout.rim), kBadgeFill) &&
                 DrawDigits(graphics, layout);
    GdipDeleteGraphics(graphics);
    return drawn;
}
