#pragma once
#include <cstddef>
#include <cstdint>

// The judge of a whole HTTP/1.x response, as the completeness scan of
// reply_scan.h delivered it: its status, and its body with any chunked
// transfer coding undone.

struct HttpResponse {
    char version[9];   // "HTTP/1.1" or "HTTP/1.0"
    int32_t status;    // 200 to 599
    char reason[64];   // the reason phrase as sent, cut to fit, for the log
    char* body;        // the decoded body, inside the text judged, NUL-terminated
    size_t bodyLength; // bytes of body, the terminator excluded
};

// Judges text[0..length), of which text[length] must be writable too: the
// body is decoded in place. Interim 1xx responses before the final one are
// skipped; bytes after the final response are ignored. False, with
// why[whySize] beginning "HTTP reply", when the response is malformed, cut
// short, or has a NUL in its body.
bool JudgeHttpResponse(char* text, size_t length, HttpResponse* response, char* why,
                       size_t whySize);
