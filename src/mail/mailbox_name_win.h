#pragma once
#include <cstddef>

// The account's Folder, written in the ANSI code page, as the mailbox name
// the server knows (modified UTF-7); INBOX when Folder is empty. False, with
// out empty, when the text is no text of that code page or does not fit.
bool FormMailboxName(const char* folder, char* out, size_t size);
