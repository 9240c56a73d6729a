#pragma once
#include <windows.h>

#include <cstddef>

// A small file read whole with Win32 calls (no C runtime stream), with a
// bound on its size, for the settings the docklet reads beside its INI file.

enum BoundedFileRead {
    kBoundedFileRead,        // *bytes holds the file, NUL-terminated after *length bytes
    kBoundedFileNotFound,    // no such file or folder
    kBoundedFileTooLarge,    // more than maxSize bytes: not read
    kBoundedFileNoMemory,    // no memory for it
    kBoundedFileUnreadable,  // it cannot be opened or read: *error says why
};

// Reads the file at path into *bytes (malloc'd, the caller frees it; null
// unless read) and *length. *error is the Windows error of a failure.
BoundedFileRead ReadBoundedFile(const char* path, DWORD maxSize, char** bytes, size_t* length, DWORD* error);

// The same for a file already open for reading, read from its start.
BoundedFileRead ReadOpenFile(HANDLE file, DWORD maxSize, char** bytes, size_t* length, DWORD* error);
