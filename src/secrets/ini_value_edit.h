#pragma once
#include <cstddef>

// Changes one value of an INI file the user wrote, keeping every other byte:
// comments, blank lines, CR LF or LF line ends, the other keys, a missing
// final newline. The line changed is the one GetPrivateProfileString reads:
// lines end at CR or LF; spaces, tabs and other white space are trimmed from
// both ends of a line and around its '='; "[name]" opens a section (the name
// between '[' and the last ']', as written); section and key names match
// without regard to ASCII case; the first such key of the first such section
// counts; a value wholly enclosed in a pair of ' or " is read without them.

enum IniEdit {
    kIniValueReplaced, // out holds the file with the value changed
    kIniKeyMissing,    // no such section, or no such key in it
    kIniValueChanged,  // the value there is not the expected one: left alone
    kIniNoRoom,        // out is too small for the result
};

// Finds key in section of file[length] and, when the value read there is
// expected, writes into out[capacity] the file with that value (quotes
// included) replaced by value, and its length into *outLength.
// length + strlen(value) bytes of out always suffice.
IniEdit ReplaceIniValue(const char* file, size_t length, const char* section, const char* key,
                        const char* expected, const char* value, char* out, size_t capacity,
                        size_t* outLength);
