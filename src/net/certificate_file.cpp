#include "net/certificate_file.h"

#include <cstring>

namespace {

const char kBegin[] = "-----BEGIN CERTIFICATE-----";
const char kEnd[] = "-----END CERTIFICATE-----";

// The data holds no NUL terminator of its own, so no strstr.
const char* Find(const char* data, size_t length, const char* text) {
    size_t textLength = strlen(text);
    for (size_t i = 0; i + textLength <= length; ++i) {
        if (memcmp(data + i, text, textLength) == 0)
            return data + i;
    }
    return nullptr;
}

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

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

size_t DecodeBase64(const char* text, size_t length, unsigned char* out, size_t capacity) {
    size_t written = 0;
    unsigned bits = 0;
    int bitCount = 0;
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
        if (value < 0 || padding > 0)
            return 0;
        bits = (bits << 6) | static_cast<unsigned>(value);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            if (written == capacity)
                return 0;
            out[written++] = static_cast<unsigned char>(bits >> bitCount);
            bits &= (1u << bitCount) - 1;
        }
    }
    if (padding > 2)
        return 0;
    return written;
}

}  // namespace

size_t NextCertificateInFile(const char* data, size_t length, size_t* at, unsigned char* der, size_t capacity) {
    if (*at >= length)
        return 0;
    const char* begin = Find(data + *at, length - *at, kBegin);
    if (!begin) {
        // DER: an ASN.1 SEQUENCE, which is what a certificate is; one to a file.
        bool whole = *at == 0 && length >= 2 && static_cast<unsigned char>(data[0]) == 0x30 && length <= capacity;
        *at = length;
        if (!whole)
            return 0;
        memcpy(der, data, length);
        return length;
    }
    const char* body = begin + strlen(kBegin);
    const char* end = Find(body, length - static_cast<size_t>(body - data), kEnd);
    *at = length;
    if (!end)
        return 0;
    size_t decoded = DecodeBase64(body, static_cast<size_t>(end - body), der, capacity);
    if (decoded < 2 || der[0] != 0x30)
        return 0;
    *at = static_cast<size_t>(end - data) + strlen(kEnd);
    return decoded;
}
