#pragma once
#include <cstddef>

// The certificate of a CAFile, in either of its two usual forms: PEM (the
// first "-----BEGIN CERTIFICATE-----" block, Base64, whitespace allowed) or
// DER as it is. Writes the DER bytes into der[capacity] and returns their
// length, or 0 when the file holds neither form or the certificate does not fit.
size_t DecodeCertificateFile(const char* data, size_t length, unsigned char* der, size_t capacity);
