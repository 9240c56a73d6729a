#include "text/percent_encoding.h"

#include <cstring>

#include "text/hex_digit.h"

namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

} // namespace

bool AppendPercentEncoded(char* out, size_t size, size_t* used, const char* text) {
    static const char kHex[] = "0123456789ABCDEF";
    size_t at = *used;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c; ++c) {
        size_t need = IsUnreserved(*c) ? 1 : 3;
        if (at + need >= size) {
            if (*used < size)
                out[*used] = '\0';
            return false;
        }
        if (need == 1) {
            out[at++] = static_cast<char>(*c);
        } else {
            out[at++] = '%';
            out[at++] = kHex[*c >> 4];
            out[at++] = kHex[*c & 15];
        }
    }
    if (at >= size)
        return false;
    out[at] = '\0';
    *used = at;
    return true;
}

QueryDecoding DecodeQueryValue(const char* text, size_t length, char* out, size_t size) {
    size_t at = 0;
    bool tooLong = false;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (c == '+') {
            c = ' ';
        } else if (c == '%') {
            int high = i + 2 < length ? HexDigitValue(text[i + 1]) : -1;
            int low = i + 2 < length ? HexDigitValue(text[i + 2]) : -1;
            if (high < 0 || low < 0 || (high == 0 && low == 0)) {
                if (size > 0)
                    out[0] = '\0';
                return kQueryBad;
            }
            c = static_cast<char>(high * 16 + low);
            i += 2;
        } else if (c == '\0') {
            if (size > 0)
                out[0] = '\0';
            return kQueryBad;
        }
        if (at + 1 < size)
            out[at++] = c;
        else
            tooLong = true;
    }
    if (size > 0)
        out[at] = '\0';
    return tooLong ? kQueryTooLong : kQueryDecoded;
}
