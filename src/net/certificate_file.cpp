#include "net/certificate_file.h"

#include <cstring>

#include "text/base64.h"

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
