#pragma once
#include <cstddef>
#include <cstdint>

// The head of an HTTP/1.x response and how its body is framed, read the same
// way by the completeness scan and by the judge of the whole response.

enum HttpBodyFraming {
    kHttpBodyLength,  // Content-Length bytes follow the head
    kHttpBodyChunked, // chunked transfer coding
    kHttpBodyNone,    // neither: only a response that has no body may say so
    kHttpBodyBad,     // the head is malformed; why says how
};

struct HttpHead {
    int32_t status;     // 100 to 599; 0 when the status line is not one
    const char* reason; // reason phrase, inside the text read (not terminated)
    size_t reasonLength;
    HttpBodyFraming framing;
    uint64_t contentLength; // with kHttpBodyLength
    const char* why;        // with kHttpBodyBad: the reason the response is refused
};

// Reads the head text[0..length): the status line, header lines, and the
// empty line that ends them, each ending with LF or CR LF.
void ReadHttpHead(const char* text, size_t length, HttpHead* head);

// An interim response (100 Continue and the like) that a final one follows.
// 101 is final: the connection would stop speaking HTTP.
bool IsInterimStatus(int32_t status);

// The size a chunk-size line announces (hex digits, then optional chunk
// extensions after ';'), given without its line end; false when the line
// holds none or one beyond limit.
bool ReadChunkSize(const char* line, size_t length, size_t limit, size_t* size);
