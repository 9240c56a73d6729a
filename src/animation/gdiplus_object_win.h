#pragma once
#include <windows.h>

#include <gdiplus.h>

// A GDI+ Image object as every compiler lays it out: the host's compiler and
// ours agree on these fields but not on the virtual table, so objects that
// cross the boundary are only ever read through nativeImage, never through a
// virtual call.
struct GdiplusImageObject {
    const void* vtable;               // not ours to call
    Gdiplus::GpImage* nativeImage;
    Gdiplus::Status lastResult;
    Gdiplus::Status loadStatus;
};

// Wraps a bitmap of ours in such an object, allocated with GdipAlloc; null
// (and the bitmap disposed of) when there is no memory for it.
GdiplusImageObject* WrapBitmap(Gdiplus::GpBitmap* bitmap);

// Does what the Image destructor does, without calling it: disposes of the
// native image and frees the object. Accepts null.
void ReleaseImageObject(GdiplusImageObject* image);
