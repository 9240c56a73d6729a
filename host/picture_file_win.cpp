#include "picture_file_win.h"

#include <windows.h>

#include <gdiplus.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "image_objects_win.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

const INT kLabelBandHeight = 20;
const REAL kLabelFontPixels = 12.0f;
const ARGB kShelfColour = 0xFF303030;
const ARGB kLabelColour = 0xFFFFFFFF;

template <typename T>
using Owned = std::unique_ptr<T, GpStatus(WINGDIPAPI*)(T*)>;

// Wine's GDI+ knows no "Tahoma"; DejaVu comes with the system fonts here.
GpFontFamily* LabelFontFamily() {
    GpFontFamily* family = nullptr;
    if (GdipCreateFontFamilyFromName(L"DejaVu Sans", nullptr, &family) == Ok)
        return family;
    GpFontCollection* installed = nullptr;
    GpFontFamily* first = nullptr;
    INT found = 0;
    if (GdipNewInstalledFontCollection(&installed) == Ok &&
        GdipGetFontCollectionFamilyList(installed, 1, &first, &found) == Ok && found == 1 &&
        GdipCloneFontFamily(first, &family) == Ok)
        return family;
    return nullptr;
}

bool FindPngEncoder(CLSID* encoder) {
    UINT count = 0;
    UINT size = 0;
    if (GdipGetImageEncodersSize(&count, &size) != Ok || size == 0)
        return false;
    std::vector<char> buffer(size);
    ImageCodecInfo* codecs = reinterpret_cast<ImageCodecInfo*>(buffer.data());
    if (GdipGetImageEncoders(count, size, codecs) != Ok)
        return false;
    for (UINT i = 0; i < count; ++i) {
        if (wcscmp(codecs[i].MimeType, L"image/png") == 0) {
            *encoder = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}

REAL MeasureTextWidth(GpFont* font, const std::wstring& text) {
    GpBitmap* scratch = nullptr;
    if (GdipCreateBitmapFromScan0(1, 1, 0, PixelFormat32bppARGB, nullptr, &scratch) != Ok)
        return 0;
    Owned<GpImage> scratchOwner(scratch, GdipDisposeImage);
    GpGraphics* graphics = nullptr;
    if (GdipGetImageGraphicsContext(scratch, &graphics) != Ok)
        return 0;
    Owned<GpGraphics> graphicsOwner(graphics, GdipDeleteGraphics);
    RectF layout(0, 0, 0, 0);
    RectF bounds(0, 0, 0, 0);
    GdipMeasureString(graphics, text.c_str(), -1, font, &layout, nullptr, &bounds, nullptr, nullptr);
    return bounds.Width;
}

}  // namespace

bool SavePicture(const std::string& path, const void* image, const std::string& label, unsigned long side,
                 std::string* outcome) {
    CLSID pngEncoder;
    if (!FindPngEncoder(&pngEncoder)) {
        *outcome = "no PNG encoder";
        return false;
    }
    GpFontFamily* family = LabelFontFamily();
    if (!family) {
        *outcome = "no font for the label";
        return false;
    }
    Owned<GpFontFamily> familyOwner(family, GdipDeleteFontFamily);
    GpFont* font = nullptr;
    if (GdipCreateFont(family, kLabelFontPixels, FontStyleRegular, UnitPixel, &font) != Ok) {
        *outcome = "cannot make the label font";
        return false;
    }
    Owned<GpFont> fontOwner(font, GdipDeleteFont);

    ImageFacts facts;
    if (image)
        facts = ReadImageFacts(image);
    if (image && !facts.valid) {
        *outcome = "the current picture cannot be read";
        return false;
    }
    const std::wstring text = WideFromAnsi(label);
    const INT textWidth = static_cast<INT>(std::ceil(MeasureTextWidth(font, text)));
    const INT pictureWidth = static_cast<INT>(side && image ? side : facts.width);
    const INT pictureHeight = static_cast<INT>(side && image ? side : facts.height);
    const INT width = std::max({pictureWidth, textWidth, 1});
    const INT height = pictureHeight + kLabelBandHeight;

    GpBitmap* canvas = nullptr;
    if (GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, &canvas) != Ok) {
        *outcome = "cannot make a canvas";
        return false;
    }
    Owned<GpImage> canvasOwner(canvas, GdipDisposeImage);
    GpGraphics* graphics = nullptr;
    if (GdipGetImageGraphicsContext(canvas, &graphics) != Ok) {
        *outcome = "cannot draw on the canvas";
        return false;
    }
    Owned<GpGraphics> graphicsOwner(graphics, GdipDeleteGraphics);
    GdipGraphicsClear(graphics, kShelfColour);
    GdipSetInterpolationMode(graphics, InterpolationModeHighQualityBicubic);
    GdipSetPixelOffsetMode(graphics, PixelOffsetModeHighQuality);
    if (image)
        GdipDrawImageRectI(graphics, NativeImageOf(image), (width - pictureWidth) / 2, 0, pictureWidth,
                           pictureHeight);

    GpSolidFill* brush = nullptr;
    GpStringFormat* format = nullptr;
    GdipCreateSolidFill(kLabelColour, &brush);
    Owned<GpBrush> brushOwner(brush, GdipDeleteBrush);
    GdipCreateStringFormat(0, LANG_NEUTRAL, &format);
    Owned<GpStringFormat> formatOwner(format, GdipDeleteStringFormat);
    GdipSetStringFormatAlign(format, StringAlignmentCenter);
    GdipSetStringFormatLineAlign(format, StringAlignmentCenter);
    GdipSetTextRenderingHint(graphics, TextRenderingHintAntiAlias);
    RectF band(0, static_cast<REAL>(pictureHeight), static_cast<REAL>(width),
               static_cast<REAL>(kLabelBandHeight));
    GdipDrawString(graphics, text.c_str(), -1, font, &band, format, brush);
    graphicsOwner.reset();

    GpStatus saved = GdipSaveImageToFile(canvas, WideFromAnsi(path).c_str(), &pngEncoder, nullptr);
    if (saved != Ok) {
        *outcome = "cannot write " + path + ", GDI+ status " + std::to_string(saved);
        return false;
    }
    *outcome = std::to_string(width) + "x" + std::to_string(height);
    return true;
}
