#pragma once
#include <cstddef>

// The account's Folder, written in UTF-8 or in the ANSI code page, as the
// mailbox name the server knows (modified UTF-7); INBOX when Folder is empty.
// False, with out empty, when the text is no text of its encoding or does not fit.
bool FormMailboxName(const char* folder, bool utf8, char* out, size_t size);
