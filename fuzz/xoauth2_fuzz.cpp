// A server's XOAUTH2 failure challenge as the reason line words it: any
// bytes, shown printable, terminated and within the reason's room.
#include <cstdlib>
#include <cstring>
#include <string>

#include "signin/xoauth2.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string challenge(reinterpret_cast<const char*>(data), size);
    char reason[256];
    memset(reason, 'x', sizeof reason);
    DescribeXoauth2Challenge(challenge.data(), challenge.size(), reason, sizeof reason);
    const size_t length = strnlen(reason, sizeof reason);
    if (length == sizeof reason || length > 17 + 160 + 48 + 3)
        abort();
    for (size_t i = 0; i < length; ++i)
        if (static_cast<unsigned char>(reason[i]) < 0x20 || static_cast<unsigned char>(reason[i]) >= 0x7F)
            abort();
    return 0;
}
