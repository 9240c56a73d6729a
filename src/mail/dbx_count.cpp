#include "mail/dbx_count.h"

namespace {

const size_t kCountOffset = 196;  // 32-bit little-endian message count

}  // namespace

bool DbxHeaderCount(const unsigned char* bytes, size_t length, uint32_t* count) {
    if (length < kDbxHeaderSize)
        return false;
    *count = static_cast<uint32_t>(bytes[kCountOffset]) | static_cast<uint32_t>(bytes[kCountOffset + 1]) << 8 |
             static_cast<uint32_t>(bytes[kCountOffset + 2]) << 16 |
             static_cast<uint32_t>(bytes[kCountOffset + 3]) << 24;
    return true;
}

int CountDbxMessages(const MailAccount* account, DbxHeaderReader read, void* context, int* unreadable) {
    // Summed as the 32-bit two's complement numbers the headers hold.
    uint32_t total = 0;
    for (int j = 0; j < account->dbxCount; ++j) {
        uint32_t count;
        if (!read(account->dbxPaths[j], &count, context)) {
            *unreadable = j;
            return -1;
        }
        total += count;
    }
    return static_cast<int>(total);
}
