// Reply completeness as the connection sees it: the reply arrives in
// receives whose sizes the input chooses, and after each one the bytes so far
// are scanned again. Bytes not yet received are poisoned, so a look past the
// given length is an ASan report. The answer must not depend on the split.
#include <fuzzer/FuzzedDataProvider.h>
#include <sanitizer/asan_interface.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/reply_scan.h"

namespace {

const size_t kReceiveChunk = 4096;  // the most one receive brings
const char kTags[] = {0, '1', '2', '3', '4'};

// Where the reply ends by the rule itself, looking from a position where a
// line starts at lineStart: the first line end for a one-line reply, else
// the end of the first line that starts with the tag and a space. npos when
// no line ends it.
size_t ReplyEndOf(const char* bytes, size_t size, char tag, size_t from, size_t lineStart) {
    for (size_t i = from; i < size; ++i) {
        if (bytes[i] != '\n')
            continue;
        if (tag == 0 || (i >= lineStart + 2 && bytes[lineStart] == tag && bytes[lineStart + 1] == ' '))
            return i;
        lineStart = i + 1;
    }
    return std::string::npos;
}

// The state the scan must report after length bytes.
ReplyState Expected(size_t end, size_t length) {
    if (end != std::string::npos && end < kMaxReplyLength && end < length)
        return kReplyComplete;
    return length > kMaxReplyLength ? kReplyTooLong : kReplyNeedsMore;
}

// Replies near the length bound begin with one long line that ends nothing,
// so that the input's own bytes fall around the bound. Most of that line is
// received and scanned once, in whole receives, for every run; each run goes
// on from there, its own bytes placed after it.
struct LongStart {
    static const size_t kScannedOnce = kMaxReplyLength - 2 * kReceiveChunk;
    std::vector<char> buffer;
    ReplyScan scans[sizeof kTags];

    LongStart() : buffer(kScannedOnce, 'x') {
        for (size_t t = 0; t < sizeof kTags; ++t) {
            scans[t] = StartReplyScan(kTags[t]);
            for (size_t length = kReceiveChunk; length <= kScannedOnce; length += kReceiveChunk)
                if (ScanReply(&scans[t], buffer.data(), length) != kReplyNeedsMore)
                    abort();
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static LongStart longStart;
    FuzzedDataProvider input(data, size);
    const uint8_t mode = input.ConsumeIntegral<uint8_t>();
    const size_t tagIndex = (mode & 1) ? 0 : 1 + ((mode >> 1) & 3);
    const char tag = kTags[tagIndex];
    const bool nearBound = mode & 8;
    const size_t more = nearBound ? input.ConsumeIntegralInRange<size_t>(0, 2 * kReceiveChunk + 64) : 0;
    std::vector<size_t> receives(input.ConsumeIntegralInRange<size_t>(0, 16));
    for (size_t& received : receives)
        received = input.ConsumeIntegralInRange<size_t>(1, kReceiveChunk);
    const std::string own = input.ConsumeRemainingBytesAsString();

    // The reply in a block of its own or after the long start; only its first
    // from bytes count as received when the receives below begin, and all up
    // to the block's end is poisoned until it is received.
    char* bytes;
    size_t from = 0, total, blockEnd;
    ReplyScan scan = StartReplyScan(tag);
    if (nearBound) {
        from = LongStart::kScannedOnce;
        total = from + more + own.size();
        longStart.buffer.resize(total);
        memset(&longStart.buffer[from], 'x', more);
        memcpy(&longStart.buffer[from + more], own.data(), own.size());
        bytes = longStart.buffer.data();
        blockEnd = longStart.buffer.capacity();
        scan = longStart.scans[tagIndex];
    } else {
        total = own.size();
        bytes = static_cast<char*>(malloc(total));
        memcpy(bytes, own.data(), total);
        blockEnd = total;
    }
    // The long start has no line end: a line starts at 0 as far as any tag cares.
    const size_t end = ReplyEndOf(bytes, total, tag, from, nearBound ? 0 : from);

    ASAN_POISON_MEMORY_REGION(bytes + from, blockEnd - from);
    for (size_t i = 0, length = from; length < total; ++i) {
        size_t received = receives.empty() ? kReceiveChunk : receives[i % receives.size()];
        received = received < total - length ? received : total - length;
        ASAN_UNPOISON_MEMORY_REGION(bytes + length, received);
        length += received;
        ReplyState state = ScanReply(&scan, bytes, length);
        if (state != Expected(end, length) || scan.scanned > length)
            abort();
        if (state == kReplyComplete && scan.scanned != end + 1)
            abort();
        if (state != kReplyNeedsMore)
            break;
    }
    ASAN_UNPOISON_MEMORY_REGION(bytes + from, blockEnd - from);

    // The same bytes in one receive.
    ReplyScan whole = nearBound ? longStart.scans[tagIndex] : StartReplyScan(tag);
    if (ScanReply(&whole, bytes, total) != Expected(end, total))
        abort();
    if (!nearBound)
        free(bytes);
    return 0;
}
