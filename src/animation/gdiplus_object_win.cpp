#include "animation/gdiplus_object_win.h"

using namespace Gdiplus;

GdiplusImageObject* WrapBitmap(GpBitmap* bitmap) {
    GdiplusImageObject* image = static_cast<GdiplusImageObject*>(DllExports::GdipAlloc(sizeof *image));
    if (!image) {
        DllExports::GdipDisposeImage(bitmap);
        return nullptr;
    }
    image->vtable = nullptr;
    image->nativeImage = bitmap;
    image->lastResult = Ok;
    image->loadStatus = Ok;
    return image;
}

void ReleaseImageObject(GdiplusImageObject* image) {
    if (!image)
        return;
    if (image->nativeImage)
        DllExports::GdipDisposeImage(image->nativeImage);
    DllExports::GdipFree(image);
}
