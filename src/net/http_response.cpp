#include "net/http_response.h"

#include <cstring>

#include "net/http_head.h"
#include "net/reply_scan.h"
#include "text/bounded_text.h"

namespace {

bool Refuse(char* why, size_t whySize, const char* reason) {
    CopyText(why, whySize, reason);
    return false;
}

// Where the line starting at text[at] ends without its line end (*lineEnd)
// and where the next starts (*next); false when no line end comes.
bool FindLine(const char* text, size_t length, size_t at, size_t* lineEnd, size_t* next) {
    const char* end = static_cast<const char*>(memchr(text + at, '\n', length - at));
    if (!end)
        return false;
    *next = static_cast<size_t>(end - text) + 1;
    *lineEnd = *next - 1 > at && text[*next - 2] == '\r' ? *next - 2 : *next - 1;
    return true;
}

// Joins the chunks starting at text[at] at text[at] itself: each chunk's
// bytes move down over the size lines before them, never past what is read.
bool JoinChunks(char* text, size_t length, size_t at, size_t* joined, char* why, size_t whySize) {
    size_t written = at;
    for (;;) {
        size_t lineEnd, next, size;
        if (!FindLine(text, length, at, &lineEnd, &next))
            return Refuse(why, whySize, "HTTP reply cut short in a chunk-size line");
        if (!ReadChunkSize(text + at, lineEnd - at, kMaxReplyLength, &size))
            return Refuse(why, whySize,
                          "HTTP reply with a chunk size that is no hex number or overflows");
        if (size == 0) {
            at = next;
            break;
        }
        if (size > length - next)
            return Refuse(why, whySize, "HTTP reply cut short in a chunk");
        memmove(text + written, text + next, size);
        written += size;
        at = next + size;
        if (!FindLine(text, length, at, &lineEnd, &next) || lineEnd != at)
            return Refuse(why, whySize, "HTTP reply with a chunk longer than its size");
        at = next;
    }
    // Trailer fields are not needed; only their end is.
    for (;;) {
        size_t lineEnd, next;
        if (!FindLine(text, length, at, &lineEnd, &next))
            return Refuse(why, whySize, "HTTP reply cut short in its trailer");
        if (lineEnd == at)
            break;
        at = next;
    }
    *joined = written;
    return true;
}

}  // namespace

bool JudgeHttpResponse(char* text, size_t length, HttpResponse* response, char* why,
                       size_t whySize) {
    size_t headStart = 0, bodyStart;
    HttpHead head;
    for (;;) {
        // The head ends with its first empty line.
        size_t at = headStart, lineEnd, next;
        bool found;
        while ((found = FindLine(text, length, at, &lineEnd, &next)) && lineEnd != at)
            at = next;
        if (!found)
            return Refuse(why, whySize, "HTTP reply cut short in its head");
        bodyStart = next;
        ReadHttpHead(text + headStart, bodyStart - headStart, &head);
        if (!IsInterimStatus(head.status))
            break;
        headStart = bodyStart;
    }
    if (head.framing == kHttpBodyBad)
        return Refuse(why, whySize, head.why);
    // 101 is the only 1xx left: what follows it would no longer be HTTP.
    if (head.status < 200)
        return Refuse(why, whySize, "HTTP reply switching protocols (101)");
    size_t bodyLength = 0;
    if (head.framing == kHttpBodyLength) {
        if (head.contentLength > length - bodyStart)
            return Refuse(why, whySize, "HTTP reply cut short in its body");
        bodyLength = static_cast<size_t>(head.contentLength);
    } else if (head.framing == kHttpBodyChunked) {
        if (!JoinChunks(text, length, bodyStart, &bodyLength, why, whySize))
            return false;
        bodyLength -= bodyStart;
    } else if (head.status != 204 && head.status != 304) {
        // RFC 9110 sections 15.3.5 and 15.4.5: only these two never have a body.
        return Refuse(why, whySize,
                      "HTTP reply with neither Content-Length nor chunked transfer coding");
    }
    if (memchr(text + bodyStart, '\0', bodyLength))
        return Refuse(why, whySize, "HTTP reply with a NUL in its body");
    text[bodyStart + bodyLength] = '\0';
    memcpy(response->version, text + headStart, 8);
    response->version[8] = '\0';
    response->status = head.status;
    // The reason phrase is the server's text on its way to the log: only
    // printable ASCII of it stays as it is.
    size_t shown = head.reasonLength < sizeof response->reason ? head.reasonLength
                                                               : sizeof response->reason - 1;
    for (size_t i = 0; i < shown; ++i) {
        const unsigned char c = static_cast<unsigned char>(head.reason[i]);
        response->reason[i] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    response->reason[shown] = '\0';
    response->body = text + bodyStart;
    response->bodyLength = bodyLength;
    return true;
}
