#pragma once
#include <cstddef>

// A certificate's SHA-256 as the user writes it in CertificateFingerprint and
// as Debug.log shows it, so that a logged fingerprint can be pinned as it is.

const size_t kSha256Size = 32;
// "AB:CD:...:EF" and its terminator.
const size_t kFingerprintShownSize = 3 * kSha256Size;

// Reads 64 hex digits of either case, with any colons and spaces among them,
// into digest. False for anything else: another character (a dash, a tab, a
// "SHA256 Fingerprint=" before them), a digit too few or too many. digest may
// be written to even then.
bool ParseCertificateFingerprint(const char* text, unsigned char digest[kSha256Size]);

// Writes the digest as upper-case hex pairs joined by colons into
// shown[kFingerprintShownSize].
void FormatCertificateFingerprint(const unsigned char digest[kSha256Size], char shown[kFingerprintShownSize]);
