#include "net/host_address.h"

#include "text/bounded_text.h"

bool ParseDottedIPv4(const char* text, uint32_t* networkOrder) {
    uint8_t parts[4];
    const char* p = text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && *p++ != '.')
            return false;
        unsigned value = 0;
        int digits = 0;
        for (; *p >= '0' && *p <= '9' && digits < 4; ++p, ++digits)
            value = value * 10 + static_cast<unsigned>(*p - '0');
        if (digits == 0 || digits > 3 || value > 255)
            return false;
        parts[i] = static_cast<uint8_t>(value);
    }
    if (*p != '\0')
        return false;
    // Network order is the order the parts are written in.
    uint8_t* bytes = reinterpret_cast<uint8_t*>(networkOrder);
    for (int i = 0; i < 4; ++i)
        bytes[i] = parts[i];
    return true;
}

bool IsLoopbackHost(const char* host) {
    uint32_t address = 0;
    if (ParseDottedIPv4(host, &address))
        return reinterpret_cast<const unsigned char*>(&address)[0] == 127;
    return EqualsIgnoringCase(host, "localhost");
}
