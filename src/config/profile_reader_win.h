#pragma once
#include <cstddef>

#include "config/profile_reader.h"
#include "docklet/docklet_instance.h"

// An INI file's text held in memory.
struct IniFileText {
    char* bytes;  // owned, or null
    size_t length;
};

// The reader of one INI file, chosen by what the file holds: a file that
// IniReadsAsUtf8 is read from its text in memory as UTF-8, its texts given
// in the ANSI code page converted from it (as the profile functions convert
// a UTF-16 file); any other is left to GetPrivateProfileIntA and
// GetPrivateProfileStringA, as Windows reads it.
struct IniProfile {
    ProfileReader reader;
    char path[kPathSize];
    IniFileText text;  // the file's bytes while they are read as UTF-8
};

// Reads the file at path once and sets up its reader; a file that cannot be
// read whole is left to the profile functions. CloseIniProfile frees it.
void OpenIniProfile(IniProfile* profile, const char* path);
void CloseIniProfile(IniProfile* profile);
