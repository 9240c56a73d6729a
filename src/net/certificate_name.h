#pragma once
#include <cstddef>

// Whether a server certificate is for the host a check connects to: the
// Address as the user wrote it, compared with one name entry of the certificate.

// A DNS name entry (or a common name), without regard to case. A "*" matches
// exactly one whole leftmost label, and only under at least two more labels
// ("*.example.org", never "*.org" or "f*.example.org"). A dotted address
// never matches a DNS name: it has IP entries of its own.
bool HostMatchesDnsName(const char* host, const char* pattern, size_t patternLength);

// An IP address entry (4 bytes for IPv4) against a dotted address.
bool HostMatchesIpEntry(const char* host, const unsigned char* address, size_t addressLength);
