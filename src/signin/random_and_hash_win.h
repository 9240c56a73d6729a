#pragma once
#include <cstddef>

#include "config/certificate_fingerprint.h"
#include "signin/pkce.h"

// Random bytes and SHA-256 from the Windows crypto provider. Any thread; they
// do not block. error receives GetLastError() of a failure.

bool FillRandomBytes(unsigned char* bytes, size_t count, unsigned long* error);
bool Sha256(const void* data, size_t length, unsigned char digest[kSha256Size],
            unsigned long* error);

// A fresh verifier, its challenge and a state for one sign-in.
bool NewPkce(Pkce* out, unsigned long* error);
