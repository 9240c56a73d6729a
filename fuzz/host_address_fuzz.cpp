// The server address comes from the user's settings: a dotted IPv4 address
// is used directly, anything else is looked up as a name. Checked against the
// rule read plainly (four decimal parts of one to three digits, each at most
// 255, only dots between) and, where leading zeros do not make them differ,
// against the C library's inet_pton.
#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "net/host_address.h"

namespace {

bool ReferenceParse(const std::string& text, uint8_t (&parts)[4], bool* leadingZero) {
    *leadingZero = false;
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        size_t end = i < 3 ? text.find('.', start) : text.size();
        if (end == std::string::npos)
            return false;
        std::string part = text.substr(start, end - start);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos)
            return false;
        int value = std::stoi(part);
        if (value > 255)
            return false;
        *leadingZero |= part.size() > 1 && part[0] == '0';
        parts[i] = static_cast<uint8_t>(value);
        start = end + 1;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A settings text ends at its first NUL.
    const std::string text = std::string(reinterpret_cast<const char*>(data), size).c_str();
    uint32_t address = 0;
    bool parsed = ParseDottedIPv4(text.c_str(), &address);
    uint8_t parts[4];
    bool leadingZero;
    if (parsed != ReferenceParse(text, parts, &leadingZero))
        abort();
    if (parsed && memcmp(&address, parts, 4) != 0)
        abort();
    in_addr library;
    if (!leadingZero && parsed != (inet_pton(AF_INET, text.c_str(), &library) == 1))
        abort();
    if (parsed && !leadingZero && library.s_addr != address)
        abort();
    return 0;
}
