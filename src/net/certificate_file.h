#pragma once
#include <cstddef>

// The certificates of a CAFile, in either of its two usual forms: PEM (any
// number of "-----BEGIN CERTIFICATE-----" blocks, Base64, whitespace allowed,
// text between them ignored) or one certificate in DER as it is.
// *at is where reading goes on: 0 for the first. Writes the next
// certificate's DER bytes into der[capacity] and returns their length, or 0
// when there is none more; a block that is no certificate, or one that does
// not fit, ends the reading.
size_t NextCertificateInFile(const char* data, size_t length, size_t* at, unsigned char* der, size_t capacity);
