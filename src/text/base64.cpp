#include "text/base64.h"

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

int Base64UrlValue(char c) {
    if (c == '-')
        return 62;
    if (c == '_')
        return 63;
    return c == '+' || c == '/' ? -1 : Base64Value(c);
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Six bits of text in, a byte out whenever eight have gathered.
struct Decoded {
    unsigned char* out;
    size_t capacity;
    size_t written;
    unsigned bits;
    int bitCount;
};

bool TakeSixBits(Decoded* decoded, int value) {
    decoded->bits = (decoded->bits << 6) | static_cast<unsigned>(value);
    decoded->bitCount += 6;
    if (decoded->bitCount < 8)
        return true;
    decoded->bitCount -= 8;
    if (decoded->written == decoded->capacity)
        return false;
    decoded->out[decoded->written++] = static_cast<unsigned char>(decoded->bits >> decoded->bitCount);
    decoded->bits &= (1u << decoded->bitCount) - 1;
    return true;
}

} // namespace

size_t DecodeBase64(const char* text, size_t length, unsigned char* out, size_t capacity) {
    Decoded decoded = {out, capacity, 0, 0, 0};
    size_t padding = 0;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (IsSpace(c))
            continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        int value = Base64Value(c);
        // Nothing may follow the padding.
        if (value < 0 || padding > 0 || !TakeSixBits(&decoded, value))
            return 0;
    }
    if (padding > 2)
        return 0;
    return decoded.written;
}

size_t DecodeBase64Url(const char* text, size_t length, unsigned char* out, size_t capacity) {
    if (length % 4 == 1)
        return 0;
    Decoded decoded = {out, capacity, 0, 0, 0};
    for (size_t i = 0; i < length; ++i) {
        const int value = Base64UrlValue(text[i]);
        if (value < 0 || !TakeSixBits(&decoded, value))
            return 0;
    }
    return decoded.written;
}

bool EncodeBase64(const unsigned char* data, size_t length, char* text, size_t size) {
    if (size == 0)
        return false;
    text[0] = '\0';
    // Groups of four characters, counted so that no length can overflow.
    if (length / 3 + (length % 3 != 0) > (size - 1) / 4)
        return false;
    size_t at = 0;
    for (size_t i = 0; i < length; i += 3) {
        unsigned group = static_cast<unsigned>(data[i]) << 16;
        if (i + 1 < length)
            group |= static_cast<unsigned>(data[i + 1]) << 8;
        if (i + 2 < length)
            group |= data[i + 2];
        text[at++] = kAlphabet[(group >> 18) & 63];
        text[at++] = kAlphabet[(group >> 12) & 63];
        text[at++] = i + 1 < length ? kAlphabet[(group >> 6) & 63] : '=';
        text[at++] = i + 2 < length ? kAlphabet[group & 63] : '=';
    }
    text[at] = '\0';
    return true;
}
