#include "png_files_win.h"

#include <windows.h>

#include <gdiplus.h>

#include <cwchar>
#include <vector>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

class GdiplusSession {
  public:
    GdiplusSession() { GdiplusStartup(&token_, &input_, nullptr); }
    ~GdiplusSession() { GdiplusShutdown(token_); }

  private:
    GdiplusStartupInput input_;
    ULONG_PTR token_ = 0;
};

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

bool FindPngEncoder(CLSID* encoder) {
    UINT count = 0;
    UINT size = 0;
    GdipGetImageEncodersSize(&count, &size);
    std::vector<char> buffer(size);
    ImageCodecInfo* codecs = reinterpret_cast<ImageCodecInfo*>(buffer.data());
    if (size == 0 || GdipGetImageEncoders(count, size, codecs) != Ok)
        return false;
    for (UINT i = 0; i < count; ++i) {
        if (wcscmp(codecs[i].MimeType, L"image/png") == 0) {
            *encoder = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}

struct Band {
    int width;
    uint32_t argb;
};

// The bands side by side, left to right, each the whole height.
bool WriteBandsPng(const std::string& path, int height, const std::vector<Band>& bands) {
    GdiplusSession session;
    CLSID encoder;
    int width = 0;
    for (const Band& band : bands)
        width += band.width;
    GpBitmap* bitmap = nullptr;
    if (!FindPngEncoder(&encoder) ||
        GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, &bitmap) != Ok)
        return false;
    GpGraphics* graphics = nullptr;
    bool drawn = GdipGetImageGraphicsContext(bitmap, &graphics) == Ok;
    int left = 0;
    for (const Band& band : bands) {
        GpSolidFill* brush = nullptr;
        drawn = drawn && GdipCreateSolidFill(band.argb, &brush) == Ok &&
                GdipFillRectangleI(graphics, brush, left, 0, band.width, height) == Ok;
        GdipDeleteBrush(brush);
        left += band.width;
    }
    GdipDeleteGraphics(graphics);
    bool saved = drawn && GdipSaveImageToFile(bitmap, Wide(path).c_str(), &encoder, nullptr) == Ok;
    GdipDisposeImage(bitmap);
    return saved;
}

}  // namespace

bool WriteSolidPng(const std::string& path, int width, int height, uint32_t argb) {
    return WriteBandsPng(path, height, {{width, argb}});
}

bool WriteStripPng(const std::string& path, int height, const std::vector<uint32_t>& frameColours,
                   int leftoverColumns, uint32_t leftoverColour) {
    std::vector<Band> bands;
    for (uint32_t colour : frameColours)
        bands.push_back({height, colour});
    if (leftoverColumns > 0)
        bands.push_back({leftoverColumns, leftoverColour});
    return WriteBandsPng(path, height, bands);
}

PngFacts ReadPng(const std::string& path, int probeX, int probeY) {
    GdiplusSession session;
    PngFacts facts;
    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromFile(Wide(path).c_str(), &bitmap) != Ok)
        return facts;
    facts.loaded = GdipGetImageWidth(bitmap, &facts.width) == Ok &&
                   GdipGetImageHeight(bitmap, &facts.height) == Ok;
    ARGB pixel = 0;
    GdipBitmapGetPixel(bitmap, probeX, probeY, &pixel);
    facts.probedPixel = pixel;
    GdipDisposeImage(bitmap);
    return facts;
}

std::vector<uint32_t> ReadPngPixels(const std::string& path, unsigned* width, unsigned* height) {
    GdiplusSession session;
    std::vector<uint32_t> pixels;
    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromFile(Wide(path).c_str(), &bitmap) != Ok)
        return pixels;
    BitmapData locked = {};
    if (GdipGetImageWidth(bitmap, width) == Ok && GdipGetImageHeight(bitmap, height) == Ok) {
        GpRect all(0, 0, static_cast<INT>(*width), static_cast<INT>(*height));
        if (GdipBitmapLockBits(bitmap, &all, ImageLockModeRead, PixelFormat32bppARGB, &locked) == Ok) {
            for (unsigned row = 0; row < *height; ++row) {
                const uint32_t* line = reinterpret_cast<const uint32_t*>(
                    static_cast<const uint8_t*>(locked.Scan0) + static_cast<size_t>(row) * locked.Stride);
                pixels.insert(pixels.end(), line, line + *width);
            }
            GdipBitmapUnlockBits(bitmap, &locked);
        }
    }
    GdipDisposeImage(bitmap);
    return pixels;
}
