#pragma once
#include <cstddef>
#include <cstdint>

#include "net/certificate_facts.h"

// Whether a server certificate is for the host a check connects to: the
// Address as the user wrote it, compared with one name entry of the certificate.

// A DNS name entry, without regard to case, taken with its real length: a
// NUL or any byte past ASCII inside refuses it. A "*" matches
// exactly one whole leftmost label, and only under at least two more labels
// ("*.example.org", never "*.org" or "f*.example.org"). A dotted address
// never matches a DNS name: it has IP entries of its own.
bool HostMatchesDnsName(const char* host, const char* pattern, size_t patternLength);

// An IP address entry (4 bytes for IPv4) against a dotted address.
bool HostMatchesIpEntry(const char* host, const unsigned char* address, size_t addressLength);

// Whether the certificate's subjectAltName names the host. Its common name
// is never used: it is no place a CA's name constraints reliably reach.
bool CertificateNamesHost(const CertificateFacts* leaf, const char* host);

// Appends a certificate's text (a DER string of type tag: UTF8String,
// BMPString, ... taken as ASCII for others) to shown[size] so that it can be
// written to a log and read back as it is: printable ASCII as itself, a NUL as
// "\0", a backslash doubled, other code points as "\uXXXX" and bytes that
// are no text as "\xNN". Stops at the last whole piece that fits.
void AppendShownText(char* shown, size_t size, uint8_t tag, const unsigned char* text, size_t length);

// The DNS and IP entries of the subjectAltName, shown as above, ", " between.
void ShowAltNames(const CertificateFacts* leaf, char* shown, size_t size);
