#include "net/request_head.h"

#include <cstring>

RequestHeadScan ScanRequestHead(const char* head, size_t got, size_t scanned, size_t limit,
                                size_t* length) {
    static const char kEnd[] = "\r\n\r\n";
    const size_t endLength = sizeof kEnd - 1;
    // The empty line may straddle what was scanned and what came.
    for (size_t at = scanned >= endLength - 1 ? scanned - (endLength - 1) : 0; at + endLength <= got;
         ++at) {
        if (memcmp(head + at, kEnd, endLength) == 0) {
            *length = at + endLength;
            return kRequestHeadWhole;
        }
    }
    return got >= limit ? kRequestHeadTooLong : kRequestHeadPartial;
}
