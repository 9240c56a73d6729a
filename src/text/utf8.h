#pragma once
#include <cstddef>
#include <cstdint>

// Whether bytes[length] is well-formed UTF-8 (RFC 3629): no overlong form,
// no surrogate, nothing above U+10FFFF, no sequence cut short.
bool IsUtf8(const char* bytes, size_t length);

// The UTF-16 units of the UTF-8 text[length] into units[capacity] and their
// number into *count. False, with *count 0, when the text is not well-formed
// or its units do not fit.
bool Utf8ToUtf16(const char* text, size_t length, uint16_t* units, size_t capacity, size_t* count);

// How many bytes of the well-formed UTF-8 text[length] fit in limit bytes
// without cutting a character.
size_t Utf8FittingLength(const char* text, size_t length, size_t limit);
