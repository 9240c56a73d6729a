// POP3 replies as the check judges them: NUL-terminated server text, tested
// for the positive status and read for the STAT count, against plain
// readings of their rules.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/pop_reply.h"

namespace {

bool ReferenceIsOk(const std::string& reply) {
    return reply.size() >= 4 && reply.compare(0, 3, "+OK") == 0 &&
           (reply[3] == ' ' || reply[3] == '\r' || reply[3] == '\n');
}

// The digits right after "+OK ", the largest int for anything larger.
int ReferenceStatCount(const std::string& reply) {
    if (reply.compare(0, 4, "+OK ") != 0)
        return 0;
    int64_t count = 0;
    for (size_t i = 4; i < reply.size() && reply[i] >= '0' && reply[i] <= '9'; ++i) {
        count = count * 10 + (reply[i] - '0');
        if (count > INT_MAX)
            count = INT_MAX;
    }
    return static_cast<int>(count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = bytes.c_str();
    bool ok = IsPopOk(bytes.c_str());
    if (ok != ReferenceIsOk(text))
        abort();
    // The check reads a count only from a reply that passed.
    if (ok) {
        int count = ParseStatCount(bytes.c_str());
        if (count < 0 || count != ReferenceStatCount(text))
            abort();
    }
    return 0;
}
