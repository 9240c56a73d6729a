#include "net/tls_record.h"

namespace {

// RFC 8446 5.1 and 5.2: a record holds at most 2^14 bytes of text, plus up
// to 2048 bytes of protection in TLS 1.2.
const size_t kMaxRecordLength = 16384 + 2048;

}  // namespace

TlsRecordHeader LookAtTlsRecordHeader(const unsigned char* data, size_t length) {
    if (length >= 1 && (data[0] < 20 || data[0] > 24))  // change_cipher_spec .. heartbeat
        return kRecordHeaderInvalid;
    if (length >= 2 && data[1] != 3)
        return kRecordHeaderInvalid;
    if (length < 5)
        return kRecordHeaderIncomplete;
    size_t recordLength = static_cast<size_t>(data[3]) << 8 | data[4];
    return recordLength <= kMaxRecordLength ? kRecordHeaderValid : kRecordHeaderInvalid;
}
