#pragma once

// Judging POP3 replies (RFC 1939). Replies are NUL-terminated server text.

// True when the reply begins with the positive status "+OK", followed by a
// space and text or directly by the line end (case-sensitive).
bool IsPopOk(const char* reply);

// The message count of a STAT reply that passed IsPopOk: the decimal digits
// that directly follow "+OK "; 0 when none do; the largest int when they
// name a larger number.
int ParseStatCount(const char* reply);
