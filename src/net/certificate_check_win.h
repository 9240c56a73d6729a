#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <cstddef>

#include "config/certificate_fingerprint.h"
#include "net/tls_judgement.h"

// Judges a server's certificate for the host the user named: a chain to one
// of the system's trusted roots or to a certificate of the CAFile (path, or
// empty for none), within its dates at `when` (null: now), for TLS servers,
// every CA of it allowed to vouch for what it issued, no more than
// maxIntermediates CAs between the certificate and the root (the docklet's
// kMaxIntermediateCas), keys and signatures of a sound strength, and the host
// named in the certificate's subjectAltName. Revocation is not checked.
// The certificate's store holds what the server sent besides it.
// Builds a certificate chain: the first in a process is slow under Wine
// (hundreds of milliseconds), so this runs on check workers only.
// why[size] receives, for a refusal, what is wrong: for kCertificateUntrusted
// a few words or nothing (e.g. "CAFile not found: C:\ca.pem"); for
// kCertificateWrongName the rest of a sentence that begins "TLS certificate "
// (e.g. "is for mail.example.com, not 127.0.0.1").
CertificateVerdict CheckServerCertificate(PCCERT_CONTEXT certificate, const char* host, const char* caFile,
                                          const FILETIME* when, size_t maxIntermediates, char* why, size_t size);

// Whether a pinned certificate's key is strong enough to prove the server:
// a pin trusts the certificate's bytes, so no signature on it counts, but its
// key is all the handshake rests on. False, with why[size] saying what is
// wrong with it (e.g. "the server's certificate has an RSA key of 1024 bits;
// at least 2048 are needed"), for a weak key or a certificate it cannot read.
bool PinnedKeyStrong(PCCERT_CONTEXT certificate, char* why, size_t size);

// The certificate's subject as shown to people (its common name, usually).
void CertificateSubject(PCCERT_CONTEXT certificate, char* subject, size_t size);

// The SHA-256 of the certificate's bytes, which CertificateFingerprint pins;
// false, with GetLastError's code in *error, when Windows cannot compute it.
bool CertificateSha256(PCCERT_CONTEXT certificate, unsigned char digest[kSha256Size], unsigned long* error);
