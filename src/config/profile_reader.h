#pragma once
#include <cstdint>

// The questions the configuration asks of an INI file, answered as the
// Windows profile functions answer them: sections and keys match without
// regard to case; a missing file, section or key gives the fallback (the empty
// text for text keys); a text longer than its buffer is cut to size - 1
// characters and always terminated.
struct ProfileReader {
    int32_t (*readInt)(const char* iniPath, const char* section, const char* key, int32_t fallback);
    void (*readText)(const char* iniPath, const char* section, const char* key, char* buffer,
                     uint32_t size);
    // False when the section is missing or holds no key: every key of it then
    // gives its fallback, so it need not be asked for them one by one.
    bool (*hasKeys)(const char* iniPath, const char* section);
};

// Answers every question with the fallback: the reader of a file that is not there.
extern const ProfileReader kMissingProfile;
