#pragma once
#include <cstdint>

// How the configuration wants a text of the file.
enum ProfileTextForm : int32_t {
    kProfileCodePage = 0,   // in Windows' ANSI code page, as the dock host and Windows' A functions take it
    kProfileAsWritten = 1,  // the file's own bytes: UTF-8 when the file is read as UTF-8
};

// The questions the configuration asks of an INI file, answered as the
// Windows profile functions answer them: sections and keys match without
// regard to case; a missing file, section or key gives the fallback (the empty
// text for text keys); a text longer than its buffer is cut to size - 1
// characters and always terminated.
struct ProfileReader {
    const void* file;  // what the functions read: the INI's path, or its text held in memory
    bool utf8;         // the file is read as UTF-8: its texts as written are UTF-8
    int32_t (*readInt)(const void* file, const char* section, const char* key, int32_t fallback);
    // False when a character of the value has no equal in the code page: the
    // text then holds a stand-in for it.
    bool (*readText)(const void* file, const char* section, const char* key, ProfileTextForm form, char* buffer,
                     uint32_t size);
    // False when the section is missing or holds no key: every key of it then
    // gives its fallback, so it need not be asked for them one by one.
    bool (*hasKeys)(const void* file, const char* section);
};

// Answers every question with the fallback: the reader of a file that is not there.
extern const ProfileReader kMissingProfile;
