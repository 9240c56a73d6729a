#pragma once
#include <cstddef>

// Percent-encoding of URL parts (RFC 3986 section 2.1) and of form fields.

// Appends text, every byte but the unreserved ones (RFC 3986 section 2.3:
// letters, digits, '-', '.', '_', '~') written as %XX, to out[size] from
// offset *used, and moves *used past it. False, with out and *used as they
// were, when it does not fit with its terminator.
bool AppendPercentEncoded(char* out, size_t size, size_t* used, const char* text);

enum QueryDecoding {
    kQueryDecoded,
    kQueryTooLong, // out holds the first size - 1 decoded bytes
    kQueryBad,     // a '%' without two hex digits, or one that decodes to a NUL
};

// Decodes one name or value of a query or an application/x-www-form-urlencoded
// body: %XX is the byte, '+' a space. out[size] is always terminated.
QueryDecoding DecodeQueryValue(const char* text, size_t length, char* out, size_t size);
