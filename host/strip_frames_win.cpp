#include "strip_frames_win.h"

#include <gdiplus.h>

#include <map>
#include <tuple>

#include "image_objects_win.h"
#include "pixel_fingerprint.h"

using namespace Gdiplus;

namespace {

// Strips are loaded on the main thread, frames shown from any thread with --direct.
struct FrameIndex {
    CRITICAL_SECTION lock;
    std::map<std::tuple<uint32_t, UINT>, std::string> origins;  // (fingerprint, side) -> origin
    FrameIndex() { InitializeCriticalSection(&lock); }
};

FrameIndex& Index() {
    static FrameIndex index;
    return index;
}

std::string FileName(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void RememberStripFrames(const std::string& path, const void* image) {
    GpBitmap* strip = static_cast<GpBitmap*>(NativeImageOf(image));
    UINT width = 0;
    UINT height = 0;
    if (DllExports::GdipGetImageWidth(strip, &width) != Ok ||
        DllExports::GdipGetImageHeight(strip, &height) != Ok || height == 0 || width < height)
        return;
    Rect whole(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    BitmapData pixels;
    if (DllExports::GdipBitmapLockBits(strip, &whole, ImageLockModeRead, PixelFormat32bppARGB,
                                       &pixels) != Ok)
        return;
    const uint8_t* firstRow = static_cast<const uint8_t*>(pixels.Scan0);
    const std::string name = FileName(path);
    EnterCriticalSection(&Index().lock);
    for (UINT i = 0; i < width / height; ++i) {
        uint32_t fingerprint = FingerprintPixels(firstRow + static_cast<size_t>(i) * height * 4,
                                                 static_cast<int>(height), static_cast<int>(height),
                                                 pixels.Stride);
        Index().origins.emplace(std::make_tuple(fingerprint, height), name + "#" + std::to_string(i));
    }
    LeaveCriticalSection(&Index().lock);
    DllExports::GdipBitmapUnlockBits(strip, &pixels);
}

std::string FrameOrigin(uint32_t fingerprint, UINT width, UINT height) {
    if (width != height)
        return "";
    EnterCriticalSection(&Index().lock);
    auto found = Index().origins.find(std::make_tuple(fingerprint, height));
    std::string origin = found == Index().origins.end() ? "" : found->second;
    LeaveCriticalSection(&Index().lock);
    return origin;
}
