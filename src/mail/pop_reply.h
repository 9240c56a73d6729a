#pragma once

// Judging POP3 replies (RFC 1939). Replies are NUL-terminated server text.

// True when the reply begins with the positive status "+OK", followed by a
// space and text or directly by the line end (case-sensitive).
bool IsPopOk(const char* reply);

// When the reply is a continuation of an AUTH exchange (RFC 5034 section 4:
// "+", a space, then text): that text, up to the line end. Null otherwise,
// "+OK" included.
const char* FindPopContinuation(const char* reply);

enum StatCount {
    kStatCounted,   // *count holds the message count
    kStatNoCount,   // no decimal count right after "+OK ": missing, signed or not a number
    kStatTooLarge,  // a count past the largest int, which no label could show honestly
};

// The message count of a STAT reply that passed IsPopOk: the decimal digits
// that directly follow "+OK ", ended by a space or the line end (RFC 1939
// section 5: "+OK nn mm"). *count is set only when counted.
StatCount ParseStatCount(const char* reply, int* count);
