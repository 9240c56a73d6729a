#include "image_objects_win.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "pixel_fingerprint.h"

using namespace Gdiplus;

namespace {

const size_t kImageObjectSize = 16;
const size_t kNativeImageOffset = 4;

// A reserved page is never readable, so a virtual call through a poisoned
// object faults at once instead of running whatever lies there.
const void* PoisonedVtable() {
    static void* page = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
    return page;
}

}  // namespace

std::wstring WideFromAnsi(const std::string& text) {
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length) - 1);
    return wide;
}

GpImage* NativeImageOf(const void* object) {
    GpImage* native;
    memcpy(&native, static_cast<const char*>(object) + kNativeImageOffset, sizeof native);
    return native;
}

void* LoadImageObject(const std::string& path, bool poison) {
    void* memory = DllExports::GdipAlloc(kImageObjectSize);
    if (!memory)
        return nullptr;
    memset(memory, 0, kImageObjectSize);
    // GCC's Bitmap is 12 bytes; the 16 leave room for the second status field
    // that the wrappers of the dock host's compiler have, which stays Ok (0).
    Bitmap* bitmap = ::new (memory) Bitmap(WideFromAnsi(path).c_str(), FALSE);
    if (bitmap->GetLastStatus() != Ok) {
        DeleteImageObject(memory);
        return nullptr;
    }
    if (poison) {
        const void* vtable = PoisonedVtable();
        memcpy(memory, &vtable, sizeof vtable);
    }
    return memory;
}

void DeleteImageObject(void* object) {
    if (GpImage* native = NativeImageOf(object))
        DllExports::GdipDisposeImage(native);
    DllExports::GdipFree(object);
}

ImageFacts ReadImageFacts(const void* object) {
    ImageFacts facts;
    GpImage* native = NativeImageOf(object);
    if (DllExports::GdipGetImageWidth(native, &facts.width) != Ok ||
        DllExports::GdipGetImageHeight(native, &facts.height) != Ok)
        return facts;
    facts.valid = true;

    Rect whole(0, 0, static_cast<INT>(facts.width), static_cast<INT>(facts.height));
    BitmapData pixels;
    if (DllExports::GdipBitmapLockBits(static_cast<GpBitmap*>(native), &whole, ImageLockModeRead,
                                       PixelFormat32bppARGB, &pixels) != Ok)
        return facts;
    const uint8_t* firstRow = static_cast<const uint8_t*>(pixels.Scan0);
    facts.pixelsRead = true;
    facts.fingerprint = FingerprintPixels(firstRow, static_cast<int>(facts.width),
                                          static_cast<int>(facts.height), pixels.Stride);
    memcpy(&facts.centrePixel,
           firstRow + static_cast<intptr_t>(facts.height / 2) * pixels.Stride + facts.width / 2 * 4,
           sizeof facts.centrePixel);
    DllExports::GdipBitmapUnlockBits(static_cast<GpBitmap*>(native), &pixels);
    return facts;
}

std::string DescribeImage(const ImageFacts& facts) {
    if (!facts.valid)
        return "invalid";
    char text[96];
    if (facts.pixelsRead)
        snprintf(text, sizeof text, "%ux%u fp=%08x px=%08x", facts.width, facts.height,
                 facts.fingerprint, facts.centrePixel);
    else
        snprintf(text, sizeof text, "%ux%u fp=unreadable", facts.width, facts.height);
    return text;
}
