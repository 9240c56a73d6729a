#include "docklet/bounded_file_win.h"

#include <cstdlib>

#include "text/secret_wipe.h"

BoundedFileRead ReadOpenFile(HANDLE file, DWORD maxSize, char** bytes, size_t* length, DWORD* error) {
    *bytes = nullptr;
    *length = 0;
    *error = 0;
    // The whole size: a file of 4 GiB and a few bytes is not a file of a few bytes.
    LARGE_INTEGER wholeSize;
    if (!GetFileSizeEx(file, &wholeSize)) {
        *error = GetLastError();
        return kBoundedFileUnreadable;
    }
    if (wholeSize.QuadPart > static_cast<LONGLONG>(maxSize)) {
        *error = ERROR_FILE_TOO_LARGE;
        return kBoundedFileTooLarge;
    }
    const DWORD size = static_cast<DWORD>(wholeSize.QuadPart);
    char* data = static_cast<char*>(malloc(size + 1));
    if (!data) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return kBoundedFileNoMemory;
    }
    DWORD read = 0;
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) != 0 || !ReadFile(file, data, size, &read, nullptr) ||
        read != size) {
        *error = GetLastError();
        // What came may be a secret's file: wiped like the whole one would be.
        WipeSecret(data, read);
        free(data);
        return kBoundedFileUnreadable;
    }
    data[size] = '\0';
    *bytes = data;
    *length = size;
    return kBoundedFileRead;
}

BoundedFileRead ReadBoundedFile(const char* path, DWORD maxSize, char** bytes, size_t* length, DWORD* error) {
    *bytes = nullptr;
    *length = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return *error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND ? kBoundedFileNotFound
                                                                                 : kBoundedFileUnreadable;
    }
    const BoundedFileRead outcome = ReadOpenFile(file, maxSize, bytes, length, error);
    CloseHandle(file);
    return outcome;
}
