#pragma once
#include <cstddef>
#include <cstdint>

// Judging IMAP replies. Replies are NUL-terminated server text with their CR LF line ends.

// True when the text "<tag> OK" stands anywhere in the reply (case-sensitive).
// The greeting is tested with the tag '*'.
bool HasImapOk(const char* reply, char tag);

// The number of items on the line of the first "* SEARCH ": 0 for a bare
// "* SEARCH" line, -1 when the reply holds no "* SEARCH" at all. Any run of
// characters other than space, CR, LF counts as one item.
int CountSearchResults(const char* reply);

// True when a capability list in the reply (a "[CAPABILITY ...]" response
// code or a "* CAPABILITY" line) names LITERAL+ (RFC 7888), in any case.
bool AnnouncesLiteralPlus(const char* reply);

// The same for SASL-IR (RFC 4959): AUTHENTICATE may carry its first message.
bool AnnouncesSaslIr(const char* reply);

// The same for IDLE (RFC 2177): the server announces changes while the
// client waits.
bool AnnouncesIdle(const char* reply);

// True when a line of the reply is an untagged "* <number> EXISTS",
// "EXPUNGE", "FETCH" or "RECENT" (any case): what a server sends while
// idling when the mailbox changed.
bool AnnouncesMailboxChange(const char* reply);
// The same for one line of length bytes, its line end included or not; a NUL
// byte is a byte like any other.
bool LineAnnouncesChange(const char* line, size_t length);

// True when a line of the reply begins with "<tag> NO" (case-sensitive).
bool HasImapNo(const char* reply, char tag);

// When the reply's last line is a continuation request ("+", a space, then
// its text): that text, up to the line end. Null otherwise.
const char* FindContinuation(const char* reply);

// The number of an untagged "* OK [NAME n]" response code (RFC 3501 section
// 7.1: UIDVALIDITY and UIDNEXT in the reply to EXAMINE): false when the
// reply holds none, or its number is no decimal from 1 to 4294967295.
bool ReadImapCodeNumber(const char* reply, const char* name, uint32_t* number);

// Counts the numbers of the first "* SEARCH" line that are above floor and
// sets *largest to the largest number on it (left as it was when it has none
// above it). A UID SEARCH for "n:*" answers with the mailbox's last message
// even when its UID is below n (RFC 3501 section 6.4.8), hence the floor.
// -1 when the reply holds no "* SEARCH" line or an item is no number.
int CountUidsAbove(const char* reply, uint32_t floor, uint32_t* largest);
