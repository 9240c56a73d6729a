#include "config/certificate_fingerprint.h"

#include "text/hex_digit.h"

namespace {

bool IsSeparator(char c) { return c == ':' || c == ' '; }

}  // namespace

bool ParseCertificateFingerprint(const char* text, unsigned char digest[kSha256Size]) {
    size_t count = 0;
    for (const char* at = text; *at != '\0'; ++at) {
        if (IsSeparator(*at))
            continue;
        int value = HexDigitValue(*at);
        if (value < 0 || count == 2 * kSha256Size)
            return false;
        if (count % 2 == 0)
            digest[count / 2] = static_cast<unsigned char>(value << 4);
        else
            digest[count / 2] |= static_cast<unsigned char>(value);
        ++count;
    }
    return count == 2 * kSha256Size;
}

void FormatCertificateFingerprint(const unsigned char digest[kSha256Size], char shown[kFingerprintShownSize]) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < kSha256Size; ++i) {
        shown[3 * i] = kDigits[digest[i] >> 4];
        shown[3 * i + 1] = kDigits[digest[i] & 0x0F];
        shown[3 * i + 2] = i + 1 < kSha256Size ? ':' : '\0';
    }
}
