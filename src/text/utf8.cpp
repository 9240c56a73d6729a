#include "text/utf8.h"

namespace {

// The code point of the sequence at text[at], and its length in *size; false
// for anything RFC 3629 does not allow.
bool DecodeOne(const unsigned char* text, size_t length, size_t at, uint32_t* point, size_t* size) {
    const unsigned char lead = text[at];
    uint32_t lowest;
    if (lead < 0x80) {
        *point = lead;
        *size = 1;
        return true;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        *point = lead & 0x1F;
        *size = 2;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        *point = lead & 0x0F;
        *size = 3;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        *point = lead & 0x07;
        *size = 4;
        lowest = 0x10000;
    } else {
        return false;
    }
    if (*size > length - at)
        return false;
    for (size_t i = 1; i < *size; ++i) {
        if ((text[at + i] & 0xC0) != 0x80)
            return false;
        *point = *point << 6 | (text[at + i] & 0x3F);
    }
    return *point >= lowest && *point <= 0x10FFFF && (*point < 0xD800 || *point > 0xDFFF);
}

} // namespace

bool IsUtf8(const char* bytes, size_t length) {
    const unsigned char* text = reinterpret_cast<const unsigned char*>(bytes);
    uint32_t point;
    size_t size;
    for (size_t at = 0; at < length; at += size)
        if (!DecodeOne(text, length, at, &point, &size))
            return false;
    return true;
}

bool Utf8ToUtf16(const char* text, size_t length, uint16_t* units, size_t capacity, size_t* count) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    *count = 0;
    uint32_t point;
    size_t size;
    size_t used = 0;
    for (size_t at = 0; at < length; at += size) {
        if (!DecodeOne(bytes, length, at, &point, &size))
            return false;
        const size_t needed = point >= 0x10000 ? 2 : 1;
        if (needed > capacity - used)
            return false;
        if (needed == 2) {
            units[used++] = static_cast<uint16_t>(0xD800 | (point - 0x10000) >> 10);
            units[used++] = static_cast<uint16_t>(0xDC00 | (point & 0x3FF));
        } else {
            units[used++] = static_cast<uint16_t>(point);
        }
    }
    *count = used;
    return true;
}

size_t Utf8FittingLength(const char* text, size_t length, size_t limit) {
    if (length <= limit)
        return length;
    size_t end = limit;
    // Back over continuation bytes to the start of the character the limit cuts.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return end;
}
