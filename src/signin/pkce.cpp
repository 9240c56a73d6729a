#include "signin/pkce.h"

void EncodePkceText(const unsigned char bytes[kPkceBytes], char text[kPkceTextSize]) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    size_t at = 0;
    for (size_t i = 0; i < kPkceBytes; i += 3) {
        unsigned long group = static_cast<unsigned long>(bytes[i]) << 16;
        size_t count = kPkceBytes - i < 3 ? kPkceBytes - i : 3;
        if (count > 1)
            group |= static_cast<unsigned long>(bytes[i + 1]) << 8;
        if (count > 2)
            group |= bytes[i + 2];
        for (size_t k = 0; k <= count; ++k)
            text[at++] = kAlphabet[(group >> (18 - 6 * k)) & 63];
    }
    text[at] = '\0';
}
