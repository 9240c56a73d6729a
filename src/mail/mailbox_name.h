#pragma once
#include <cstddef>
#include <cstdint>

// Room for a mailbox name formed from a Folder of up to 259 UTF-16 units:
// each unit outside printable ASCII costs at most "&" + 3 + "-" bytes.
const size_t kMailboxNameSize = 5 * 260 + 1;

// Writes the UTF-16 units as an IMAP mailbox name in modified UTF-7 (RFC 3501
// section 5.1.3): printable ASCII stands as itself, '&' as "&-", every run of
// other units as '&', their big-endian bytes in Base64 with ',' for '/' and
// no padding, then '-'. Surrogate pairs are runs like any other, so a name
// outside the BMP goes through. False, with out empty, when it does not fit.
bool EncodeMailboxName(const uint16_t* units, size_t count, char* out, size_t size);

// The same for a name written in UTF-8; false, with out empty, for text that
// is not well-formed UTF-8 or a name that does not fit.
bool EncodeUtf8MailboxName(const char* name, char* out, size_t size);
