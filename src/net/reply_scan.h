#pragma once
#include <cstddef>

// Decides, as bytes arrive, whether a server's reply is complete, so that a
// reply split over many receives or spread over many lines is read whole.

// Longest reply accepted; a check whose reply grows past it fails.
const size_t kMaxReplyLength = 1024 * 1024;
// Longest POP3 listing accepted: a unique-id for each message a server
// keeps, some 200 000 of them at their usual length.
const size_t kMaxListingLength = 16 * 1024 * 1024;

enum ReplyState {
    kReplyComplete,
    kReplyNeedsMore,
    kReplyTooLong,
};

// Ends of a reply other than its first line or an IMAP tag's status line.
// An HTTP response: its head, then the body that Content-Length or chunked
// transfer coding announces.
const char kHttpReplyEnd = '\x01';
// A step of an IMAP SASL exchange under tag 1: tag 1's status line, or a
// continuation request ("+" and what follows on its line), whichever comes first.
const char kSaslReplyEnd = '\x02';
// The start of IMAP IDLE under tag 5: the continuation request that says the
// server is idling, or tag 5's status line that refuses it.
const char kIdleReplyEnd = '\x03';
// A POP3 multi-line reply (RFC 1939 section 3): "-ERR" ends at its first
// line; "+OK" goes on to the line that holds only ".".
const char kPopListEnd = '\x04';

struct ReplyScan {
    char tag;          // 0: the reply is its first line (greetings, POP3); else it
                       // ends with the line that begins with the tag and a space (IMAP)
    size_t scanned;    // bytes already looked at; once complete, the reply's length: what
                       // follows it is the start of whatever the server says next
    size_t lineStart;  // offset of the line being looked at
    // An HTTP response's scan only:
    int httpPart;      // what is being looked at: the head, a body, a chunk, ...
    size_t headStart;  // offset of the head being looked at (after any interim responses)
    size_t partEnd;    // offset just past the body or chunk data being skipped
};

// The longest reply of the given kind that is accepted.
size_t LongestReply(char tag);

// A scan for a reply of the given kind, before its first byte.
ReplyScan StartReplyScan(char tag);

// Looks at the bytes received so far (data[0..length), the same data as at
// the previous call plus what came since) and tells whether the reply is complete.
ReplyState ScanReply(ReplyScan* scan, const char* data, size_t length);
