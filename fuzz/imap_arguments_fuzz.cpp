// Login and password come from the user's settings and go into the LOGIN
// command as IMAP astrings. The input chooses the text and the size of the
// array (a heap block of exactly that size). What comes out must be read
// back by a server as exactly the text: an atom, or a quoted string whose
// escapes undo to it; and never a line break, which would end the command
// early and let the rest of the text run as a command of its own.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "mail/imap_arguments.h"
#include "mail/mailbox_name.h"

namespace {

// RFC 3501 section 9: ASTRING-CHAR, an ATOM-CHAR or ']'.
bool IsAstringChar(unsigned char c) {
    return c > 0x20 && c < 0x7F && !strchr("(){%*\"\\", c);
}

bool IsAtom(const std::string& text) {
    if (text.empty())
        return false;
    for (char c : text)
        if (!IsAstringChar(static_cast<unsigned char>(c)))
            return false;
    return true;
}

// The text a quoted string stands for, or false when it is not one.
bool Unquote(const std::string& quoted, std::string* text) {
    if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"')
        return false;
    text->clear();
    for (size_t i = 1; i + 1 < quoted.size(); ++i) {
        char c = quoted[i];
        if (c == '"' || c == '\r' || c == '\n')
            return false;
        if (c == '\\') {
            if (i + 2 >= quoted.size() || (quoted[i + 1] != '"' && quoted[i + 1] != '\\'))
                return false;
            c = quoted[++i];
        }
        *text += c;
    }
    return true;
}

// The UTF-16 units a modified UTF-7 name stands for (RFC 3501 section
// 5.1.3), or false when it is not one: only printable ASCII, '&' as "&-",
// and runs of Base64 with ',' whose spare bits are zero.
bool DecodeMailboxName(const std::string& name, std::u16string* units) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";
    units->clear();
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c > 0x7E)
            return false;
        if (c != '&') {
            *units += static_cast<char16_t>(c);
            continue;
        }
        const size_t end = name.find('-', i + 1);
        if (end == std::string::npos)
            return false;
        if (end == i + 1) {
            *units += u'&';
            i = end;
            continue;
        }
        uint32_t bits = 0;
        int held = 0;
        for (size_t j = i + 1; j < end; ++j) {
            const size_t value = alphabet.find(name[j]);
            if (value == std::string::npos)
                return false;
            bits = (bits << 6) | static_cast<uint32_t>(value);
            held += 6;
            if (held >= 16) {
                held -= 16;
                *units += static_cast<char16_t>((bits >> held) & 0xFFFF);
                bits &= (1u << held) - 1;
            }
        }
        if (held >= 6 || bits != 0)
            return false;
        i = end;
    }
    return true;
}

// The name for the units must decode to exactly them, or be refused as too
// long for its room, never cut.
void CheckMailboxName(const uint8_t* data, size_t size, size_t room) {
    std::u16string units(size / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    char* name = static_cast<char*>(malloc(room + 1));
    const bool fits = EncodeMailboxName(reinterpret_cast<const uint16_t*>(units.data()), units.size(), name, room + 1);
    std::u16string decoded;
    if (memchr(name, '\0', room + 1) == nullptr || (fits && (!DecodeMailboxName(name, &decoded) || decoded != units)) ||
        (!fits && (name[0] != '\0' || units.size() * 5 + 1 <= room + 1)))
        abort();
    free(name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckMailboxName(data, size, size > 0 ? data[0] * 4u : 0);
    FuzzedDataProvider input(data, size);
    const size_t argumentSize = input.ConsumeIntegralInRange<size_t>(0, 1100);
    // A settings text holds no NUL, and no CR or LF either: the profile
    // functions end a line at each (Wine 8 does so at a bare CR too).
    std::string text = input.ConsumeRemainingBytesAsString();
    text = text.substr(0, text.find_first_of(std::string("\0\r\n", 3)));
    char* argument = static_cast<char*>(malloc(argumentSize));
    FormatImapArgument(argument, argumentSize, text.c_str());
    if (argumentSize == 0) {
        free(argument);
        return 0;
    }
    const char* terminator = static_cast<const char*>(memchr(argument, '\0', argumentSize));
    if (!terminator)
        abort();
    const std::string written(argument, terminator - argument);
    free(argument);
    if (written.find_first_of("\r\n") != std::string::npos)
        abort();

    // The room the header promises is enough for the whole text.
    const bool roomy = argumentSize >= 2 * text.size() + 3;
    if (IsAtom(text)) {
        if (written != text.substr(0, argumentSize - 1))
            abort();
        return 0;
    }
    std::string unquoted;
    if (argumentSize < 3) {
        if (!written.empty())
            abort();
    } else if (!Unquote(written, &unquoted) || text.compare(0, unquoted.size(), unquoted) != 0 ||
               (roomy && unquoted != text)) {
        abort();
    }
    return 0;
}
