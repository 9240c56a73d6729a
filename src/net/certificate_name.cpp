#include "net/certificate_name.h"

#include <cstdint>
#include <cstring>

#include "net/host_address.h"
#include "text/bounded_text.h"

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameText(const char* left, const char* right, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (Lower(left[i]) != Lower(right[i]))
            return false;
    }
    return true;
}

size_t CountDots(const char* text, size_t length) {
    size_t dots = 0;
    for (size_t i = 0; i < length; ++i)
        dots += text[i] == '.';
    return dots;
}

// Names in certificates are ASCII (international ones come as "xn--" labels):
// a NUL or an 8-bit byte is a name made to fool a reader, never a host's.
bool PlainAscii(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == 0 || c >= 0x80)
            return false;
    }
    return true;
}

// The next code point of a string of the given DER type, or -1 for bytes
// that are not one (shown by the byte).
long NextCodePoint(uint8_t tag, const unsigned char* text, size_t length, size_t* at) {
    size_t i = *at;
    if (tag == 0x1E) {  // BMPString: UTF-16 big-endian
        if (i + 2 > length) {
            *at = length;
            return -1;
        }
        *at = i + 2;
        return (text[i] << 8) | text[i + 1];
    }
    if (tag == 0x1C) {  // UniversalString: UTF-32 big-endian
        if (i + 4 > length) {
            *at = length;
            return -1;
        }
        *at = i + 4;
        return static_cast<long>((static_cast<unsigned long>(text[i]) << 24) | (text[i + 1] << 16) |
                                 (text[i + 2] << 8) | text[i + 3]);
    }
    unsigned char first = text[i];
    *at = i + 1;
    if (tag != 0x0C || first < 0x80)
        return first < 0x80 ? first : -1;
    // UTF8String: a well-formed sequence of two to four bytes, or the lead byte alone.
    size_t extra = first >= 0xF0 && first < 0xF5 ? 3 : first >= 0xE0 ? 2 : first >= 0xC2 ? 1 : 0;
    if (extra == 0 || first >= 0xF5 || i + extra >= length)
        return -1;
    long code = first & (0x3F >> extra);
    for (size_t k = 1; k <= extra; ++k) {
        if ((text[i + k] & 0xC0) != 0x80)
            return -1;
        code = (code << 6) | (text[i + k] & 0x3F);
    }
    *at = i + 1 + extra;
    return code;
}

}  // namespace

bool HostMatchesDnsName(const char* host, const char* pattern, size_t patternLength) {
    uint32_t address;
    if (ParseDottedIPv4(host, &address) || patternLength == 0 || !PlainAscii(pattern, patternLength))
        return false;
    size_t hostLength = strlen(host);
    if (pattern[0] != '*')
        return memchr(pattern, '*', patternLength) == nullptr && hostLength == patternLength &&
               SameText(host, pattern, hostLength);
    // "*.example.org": the rest after the star, ".example.org", must end the
    // host and follow a first label that is not empty and holds no dot.
    const char* rest = pattern + 1;
    size_t restLength = patternLength - 1;
    if (restLength == 0 || rest[0] != '.' || CountDots(rest, restLength) < 2 ||
        memchr(rest, '*', restLength) || hostLength <= restLength)
        return false;
    size_t labelLength = hostLength - restLength;
    return memchr(host, '.', labelLength) == nullptr && SameText(host + labelLength, rest, restLength);
}

bool HostMatchesIpEntry(const char* host, const unsigned char* address, size_t addressLength) {
    uint32_t parsed;
    if (addressLength != 4 || !ParseDottedIPv4(host, &parsed))
        return false;
    return memcmp(&parsed, address, 4) == 0;
}

bool CertificateNamesHost(const CertificateFacts* leaf, const char* host) {
    for (size_t i = 0; i < leaf->altNameCount; ++i) {
        const GeneralName& name = leaf->altNames[i];
        const char* text = reinterpret_cast<const char*>(name.value.data);
        if ((name.kind == kNameDns && HostMatchesDnsName(host, text, name.value.length)) ||
            (name.kind == kNameIp && HostMatchesIpEntry(host, name.value.data, name.value.length)))
            return true;
    }
    return false;
}

void AppendShownText(char* shown, size_t size, uint8_t tag, const unsigned char* text, size_t length) {
    size_t used = strlen(shown);
    for (size_t at = 0; at < length;) {
        size_t start = at;
        long code = NextCodePoint(tag, text, length, &at);
        char piece[16];
        if (code < 0)
            FormatText(piece, sizeof piece, "\\x%02X", text[start]);
        else if (code == 0)
            CopyText(piece, sizeof piece, "\\0");
        else if (code == '\\')
            CopyText(piece, sizeof piece, "\\\\");
        else if (code >= 0x20 && code < 0x7F)
            FormatText(piece, sizeof piece, "%c", static_cast<char>(code));
        else if (code <= 0xFFFF)
            FormatText(piece, sizeof piece, "\\u%04lX", code);
        else
            FormatText(piece, sizeof piece, "\\U%08lX", code);
        // Whole pieces only: an escape cut in half would say something else.
        size_t pieceLength = strlen(piece);
        if (used + pieceLength >= size)
            return;
        memcpy(shown + used, piece, pieceLength + 1);
        used += pieceLength;
    }
}

void ShowAltNames(const CertificateFacts* leaf, char* shown, size_t size) {
    if (size == 0)
        return;
    shown[0] = '\0';
    for (size_t i = 0; i < leaf->altNameCount; ++i) {
        const GeneralName& name = leaf->altNames[i];
        size_t used = strlen(shown);
        const char* separator = used > 0 ? ", " : "";
        if (name.kind == kNameDns) {
            FormatText(shown + used, size - used, "%s", separator);
            AppendShownText(shown, size, 0x16, name.value.data, name.value.length);
        } else if (name.kind == kNameIp && name.value.length == 4) {
            const unsigned char* ip = name.value.data;
            FormatText(shown + used, size - used, "%s%u.%u.%u.%u", separator, ip[0], ip[1], ip[2], ip[3]);
        } else if (name.kind == kNameIp) {
            FormatText(shown + used, size - used, "%s(IPv6 address)", separator);
        }
    }
}
