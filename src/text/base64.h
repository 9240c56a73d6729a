#pragma once
#include <cstddef>

// Base64 (RFC 4648 section 4), the standard alphabet with '=' padding.

// Decodes text[length] into out[capacity], skipping spaces, tabs and line
// ends. Returns the byte count, or 0 when the text holds any other character
// outside the alphabet, more than two '=', anything after the padding, or
// more bytes than fit.
size_t DecodeBase64(const char* text, size_t length, unsigned char* out, size_t capacity);

// Decodes base64url without padding (RFC 4648 section 5, as JSON Web Tokens
// carry it) text[length] into out[capacity]. Returns the byte count, or 0 when
// the text holds a character outside that alphabet ('=' and blanks
// included), ends with a lone character, or gives more bytes than fit.
size_t DecodeBase64Url(const char* text, size_t length, unsigned char* out, size_t capacity);

// Encodes data[length] with padding, in text[size], always terminated.
// False, with text empty, when 4 * ceil(length / 3) + 1 bytes do not fit.
bool EncodeBase64(const unsigned char* data, size_t length, char* text, size_t size);
