#pragma once
#include <cstddef>

// A look at the header of the TLS record that starts data[0..length), before
// SChannel sees it: some implementations wait for the length a header claims
// even when the header cannot be TLS, so that a server answering in some
// other protocol would hold a handshake until the time-out.
enum TlsRecordHeader {
    kRecordHeaderIncomplete,  // fewer than its 5 bytes
    kRecordHeaderValid,       // a known content type, version 3.x, a length TLS allows
    kRecordHeaderInvalid,
};

TlsRecordHeader LookAtTlsRecordHeader(const unsigned char* data, size_t length);
