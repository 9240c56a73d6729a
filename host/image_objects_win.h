#pragma once
// Image objects cross the host boundary in the layout GDI+'s C++ wrapper
// objects have: a vtable pointer, the native image at offset 4, two status
// fields; 16 bytes. The two sides are built by different compilers, so
// neither ever calls through the vtable: both read the native image at offset
// 4 and release an object as its destructor would.
#include <windows.h>

#include <gdiplus.h>

#include <cstdint>
#include <string>

// A bitmap loaded from the file, or null when the file cannot be loaded. With
// poison, its vtable pointer points at memory that faults on any read.
void* LoadImageObject(const std::string& path, bool poison);

// Disposes of the native image and frees the object, with no virtual call.
void DeleteImageObject(void* object);

Gdiplus::GpImage* NativeImageOf(const void* object);

struct ImageFacts {
    bool valid = false;       // the native image answered its size
    UINT width = 0;
    UINT height = 0;
    bool pixelsRead = false;  // its pixels could be locked as 32bpp ARGB
    uint32_t fingerprint = 0;
    uint32_t centrePixel = 0;  // AARRGGBB
};

ImageFacts ReadImageFacts(const void* object);

// "WxH fp=XXXXXXXX px=AARRGGBB", as the journal gives a picture.
std::string DescribeImage(const ImageFacts& facts);

std::wstring WideFromAnsi(const std::string& text);
