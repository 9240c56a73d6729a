#pragma once
#include <cstddef>

// Writes text as an IMAP astring argument (RFC 3501 section 4): as it
// stands when it is an atom, so ordinary logins and passwords go out byte for
// byte; otherwise as a quoted string with backslash and double quote escaped.
// 2 * length + 3 bytes always suffice. The text holds no CR or LF, which no
// astring can carry outside a literal: settings texts never do, as the
// profile functions end a line at either.
void FormatImapArgument(char* argument, size_t size, const char* text);

// True when text holds a byte outside 7-bit ASCII, which neither an atom nor
// a quoted string may carry (RFC 3501 section 4.3): it goes as a literal.
bool NeedsImapLiteral(const char* text);
