#include "mail/imap_arguments.h"

#include <cstring>

#include "text/bounded_text.h"

static bool IsAtomChar(unsigned char c) {
    // ']' may stand in an astring although it may not in an atom.
    return c > 0x20 && c < 0x7F && !strchr("(){%*\"\\", c);
}

static bool IsAtom(const char* text) {
    if (!*text)
        return false;
    for (const char* p = text; *p; ++p)
        if (!IsAtomChar(static_cast<unsigned char>(*p)))
            return false;
    return true;
}

void FormatImapArgument(char* argument, size_t size, const char* text) {
    if (IsAtom(text)) {
        CopyText(argument, size, text);
        return;
    }
    if (size < 3) {
        CopyText(argument, size, "");
        return;
    }
    size_t length = 0;
    argument[length++] = '"';
    // Room is kept for the closing quote and the terminator.
    for (const char* p = text; *p && length + 2 < size; ++p) {
        if (*p == '"' || *p == '\\') {
            if (length + 3 >= size)
                break;
            argument[length++] = '\\';
        }
        argument[length++] = *p;
    }
    argument[length++] = '"';
    argument[length] = '\0';
}

bool NeedsImapLiteral(const char* text) {
    for (const char* p = text; *p; ++p)
        if (static_cast<unsigned char>(*p) >= 0x80)
            return true;
    return false;
}
