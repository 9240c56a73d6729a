#include "mail/dbx_count.h"

#include <cstdio>

namespace {

const size_t kHeaderSize = 208;
const size_t kCountOffset = 196;  // 32-bit little-endian message count

}  // namespace

bool ReadDbxHeaderCount(const char* path, uint32_t* count) {
    FILE* file = fopen(path, "rb");
    if (!file)
        return false;
    unsigned char header[kHeaderSize];
    bool whole = fread(header, 1, sizeof header, file) == sizeof header;
    fclose(file);
    if (!whole)
        return false;
    *count = static_cast<uint32_t>(header[kCountOffset]) |
             static_cast<uint32_t>(header[kCountOffset + 1]) << 8 |
             static_cast<uint32_t>(header[kCountOffset + 2]) << 16 |
             static_cast<uint32_t>(header[kCountOffset + 3]) << 24;
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
