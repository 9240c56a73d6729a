#include "net/reply_scan.h"

#include "net/http_head.h"

namespace {

// The parts of an HTTP response, in the order they come.
enum HttpPart {
    kHttpHead,      // status line and header lines, up to the empty line
    kHttpBody,      // Content-Length bytes, skipped unread
    kHttpChunkSize, // a chunk-size line
    kHttpChunkData, // a chunk's bytes, skipped unread
    kHttpChunkEnd,  // the line end after a chunk's bytes
    kHttpTrailer,   // trailer lines after the last chunk, up to the empty line
};

}  // namespace

size_t LongestReply(char tag) {
    return tag == kPopListEnd ? kMaxListingLength : kMaxReplyLength;
}

ReplyScan StartReplyScan(char tag) { return ReplyScan{tag, 0, 0, kHttpHead, 0, 0}; }

static bool EndsReply(const ReplyScan* scan, const char* data, size_t lineEnd) {
    if (scan->tag == 0)
        return true;
    if (scan->tag == kPopListEnd) {
        if (scan->lineStart == 0)
            return data[0] == '-';
        // A line of the list that begins with '.' has it doubled, so only
        // the terminator is "." alone.
        const size_t length = lineEnd - scan->lineStart;
        return data[scan->lineStart] == '.' && (length == 1 || (length == 2 && data[lineEnd - 1] == '\r'));
    }
    // RFC 3501 section 7.5: a continuation request waits for the client's
    // next line, so no tagged line follows it until the client has sent one.
    const bool continues = scan->tag == kSaslReplyEnd || scan->tag == kIdleReplyEnd;
    if (continues && lineEnd > scan->lineStart && data[scan->lineStart] == '+')
        return true;
    const char tag = scan->tag == kSaslReplyEnd ? '1' : scan->tag == kIdleReplyEnd ? '5' : scan->tag;
    // RFC 3501 section 2.2.2: the tagged status line closes a command's reply.
    return lineEnd >= scan->lineStart + 2 && data[scan->lineStart] == tag &&
           data[scan->lineStart + 1] == ' ';
}

namespace {

// Where bytes that the head or a chunk announces end; past the bound when
// they cannot all fit in it.
size_t PartEnd(size_t start, uint64_t size) {
    return size > kMaxReplyLength - start ? kMaxReplyLength + 1 : start + static_cast<size_t>(size);
}

// Moves on at the end of the HTTP line data[lineStart..next - 1]; true when
// the response is complete there. Malformed framing completes the response
// at once: the judge of the whole response then refuses it with its reason.
bool EndHttpLine(ReplyScan* scan, const char* data, size_t next) {
    const size_t lineEnd = next - 1;
    const size_t length = lineEnd > scan->lineStart && data[lineEnd - 1] == '\r'
                              ? lineEnd - 1 - scan->lineStart
                              : lineEnd - scan->lineStart;
    switch (scan->httpPart) {
    case kHttpHead: {
        if (length > 0)
            return false;
        HttpHead head;
        ReadHttpHead(data + scan->headStart, next - scan->headStart, &head);
        if (IsInterimStatus(head.status)) {
            scan->headStart = next;
            return false;
        }
        if (head.framing == kHttpBodyLength) {
            scan->httpPart = kHttpBody;
            scan->partEnd = PartEnd(next, head.contentLength);
            return false;
        }
        if (head.framing != kHttpBodyChunked)
            return true;
        scan->httpPart = kHttpChunkSize;
        return false;
    }
    case kHttpChunkSize: {
        size_t size = 0;
        if (!ReadChunkSize(data + scan->lineStart, length, kMaxReplyLength, &size))
            return true;
        scan->httpPart = size == 0 ? kHttpTrailer : kHttpChunkData;
        scan->partEnd = PartEnd(next, size);
        return false;
    }
    case kHttpChunkEnd:
        scan->httpPart = kHttpChunkSize;
        return false;
    default:
        return length == 0;
    }
}

// RFC 9112 section 6.3: the head, then the body its framing announces, after
// any interim 1xx responses. Each byte of a head or chunk-size line is looked
// at once; bodies and chunk data are skipped over.
ReplyState ScanHttpReply(ReplyScan* scan, const char* data, size_t length, size_t end) {
    for (;;) {
        if (scan->httpPart == kHttpBody || scan->httpPart == kHttpChunkData) {
            if (scan->partEnd > end) {
                scan->scanned = end;
                break;
            }
            scan->scanned = scan->partEnd;
            if (scan->httpPart == kHttpBody)
                return kReplyComplete;
            scan->httpPart = kHttpChunkEnd;
            scan->lineStart = scan->scanned;
        }
        if (scan->scanned >= end)
            break;
        if (data[scan->scanned++] != '\n')
            continue;
        if (EndHttpLine(scan, data, scan->scanned))
            return kReplyComplete;
        scan->lineStart = scan->scanned;
    }
    return length > kMaxReplyLength ? kReplyTooLong : kReplyNeedsMore;
}

}  // namespace

ReplyState ScanReply(ReplyScan* scan, const char* data, size_t length) {
    // Nothing past the bound is looked at, so that a reply whose end lies
    // beyond it is too long however the receives happened to split it.
    const size_t longest = LongestReply(scan->tag);
    const size_t end = length < longest ? length : longest;
    if (scan->tag == kHttpReplyEnd)
        return ScanHttpReply(scan, data, length, end);
    for (; scan->scanned < end; ++scan->scanned) {
        if (data[scan->scanned] != '\n')
            continue;
        if (EndsReply(scan, data, scan->scanned)) {
            ++scan->scanned;
            return kReplyComplete;
        }
        scan->lineStart = scan->scanned + 1;
    }
    return length > longest ? kReplyTooLong : kReplyNeedsMore;
}
