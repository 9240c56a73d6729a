#pragma once
#include <cstddef>
#include <cstdint>

// Finds and changes values of an INI file the user wrote, keeping every other
// byte: comments, blank lines, CR LF or LF line ends, the other keys, a
// missing final newline, the byte order mark. Lines are read as the profile
// functions read them: a byte order mark says how the text is stored (UTF-8,
// UTF-16 little or big endian; none: one byte a character); lines end at CR
// or LF; spaces, tabs and other ASCII white space are trimmed from both ends
// of a line and around its '='; "[name]" opens a section (the name between
// '[' and the last ']', trimmed the same way); section and key names match
// without regard to ASCII case; a value wholly enclosed in a pair of ' or "
// is read without them. GetPrivateProfileString reads the first such key of
// the first such section only; the others are copies it never reads.

enum IniEncoding {
    kIniBytes,    // no byte order mark: one byte a character, as the code page has it
    kIniUtf8,     // EF BB BF, then UTF-8
    kIniUtf16Le,  // FF FE, then two bytes a character, low byte first
    kIniUtf16Be,  // FE FF, then two bytes a character, high byte first
};

IniEncoding IniFileEncoding(const char* file, size_t length);
// Bytes a character takes in the encoding: 2 for UTF-16, else 1.
size_t IniUnitSize(IniEncoding encoding);

// One line of the key, with its '=', in a section of the name. Offsets count
// bytes from the file's start and fall on character boundaries.
struct IniValue {
    size_t begin;      // the value as written, quotes included
    size_t end;
    size_t textBegin;  // the value as read, without its enclosing quotes
    size_t textEnd;
    size_t line;       // 1 for the file's first line; CR LF ends one line
    bool read;         // the one GetPrivateProfileString reads
};

// Lists, in file order, every line of key with an '=' in every section named
// section: writes the first `capacity` into values and returns how many there
// are. A first line of the key without '=' is what the profile functions read
// (an empty value), so then no value listed is marked read.
size_t FindIniValues(const char* file, size_t length, const char* section, const char* key,
                     IniValue* values, size_t capacity);

// The value GetPrivateProfileString reads for key in section, into *value;
// false when it reads none (its fallback). Stops where that is known.
bool FindIniValueRead(const char* file, size_t length, const char* section, const char* key, IniValue* value);

// Whether the first section of the name holds a line other than a comment
// (';' first): what makes GetPrivateProfileSection answer anything.
bool IniSectionHasKeys(const char* file, size_t length, const char* section);

// A value read as a number as GetPrivateProfileInt reads it: its first 29
// characters, white space and one sign first, "0x", "0o" or "0b" for another
// base, digits up to the first that is none, wrapped round past 32 bits; 0
// without digits. A missing or empty value is the caller's fallback.
int32_t ProfileIntFromText(const char* text);

// Whether the docklet reads the file as UTF-8 rather than through the
// profile functions: well-formed UTF-8 without a NUL, holding more than
// ASCII (a UTF-8 byte order mark counts). Such a file reads the same with or
// without its mark.
bool IniReadsAsUtf8(const char* file, size_t length);

// A value to put in place of one found (its quotes included): 7-bit ASCII,
// written in the file's encoding.
struct IniReplacement {
    IniValue value;
    const char* text;
};

// Writes into out[capacity] the file with each value replaced, and its length
// into *outLength. The replacements are in file order, each value a different
// one. False when out is too small: length plus the texts' characters times
// IniUnitSize always suffice.
bool ReplaceIniValues(const char* file, size_t length, const IniReplacement* replacements, size_t count,
                      char* out, size_t capacity, size_t* outLength);
