#include "net/certificate_name.h"

#include <cstdint>
#include <cstring>

#include "net/host_address.h"

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

}  // namespace

bool HostMatchesDnsName(const char* host, const char* pattern, size_t patternLength) {
    uint32_t address;
    if (ParseDottedIPv4(host, &address) || patternLength == 0 || memchr(pattern, '\0', patternLength))
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
