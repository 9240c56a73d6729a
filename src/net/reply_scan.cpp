#include "net/reply_scan.h"

ReplyScan StartReplyScan(char tag) { return ReplyScan{tag, 0, 0}; }

static bool EndsReply(const ReplyScan* scan, const char* data, size_t lineEnd) {
    if (scan->tag == 0)
        return true;
    // RFC 3501 section 7.5: a continuation request waits for the client's
    // next line, so no tagged line follows it until the client has sent one.
    if (scan->tag == kSaslReplyEnd && lineEnd > scan->lineStart && data[scan->lineStart] == '+')
        return true;
    const char tag = scan->tag == kSaslReplyEnd ? '1' : scan->tag;
    // RFC 3501 section 2.2.2: the tagged status line closes a command's reply.
    return lineEnd >= scan->lineStart + 2 && data[scan->lineStart] == tag &&
           data[scan->lineStart + 1] == ' ';
}

ReplyState ScanReply(ReplyScan* scan, const char* data, size_t length) {
    // Nothing past the bound is looked at, so that a reply whose end lies
    // beyond it is too long however the receives happened to split it.
    const size_t end = length < kMaxReplyLength ? length : kMaxReplyLength;
    for (; scan->scanned < end; ++scan->scanned) {
        if (data[scan->scanned] != '\n')
            continue;
        if (EndsReply(scan, data, scan->scanned))
            return kReplyComplete;
        scan->lineStart = scan->scanned + 1;
    }
    return length > kMaxReplyLength ? kReplyTooLong : kReplyNeedsMore;
}
