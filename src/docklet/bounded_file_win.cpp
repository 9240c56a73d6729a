#include "docklet/bounded_file_win.h"

#include <cstdlib>

BoundedFileRead ReadBoundedFile(const char* path, DWORD maxSize, char** bytes, size_t* length, DWORD* error) {
    *bytes = nullptr;
    *length = 0;
    *error = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return *error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND ? kBoundedFileNotFound
                                                                                 : kBoundedFileUnreadable;
    }
    BoundedFileRead outcome = kBoundedFileRead;
    // The whole size: a file of 4 GiB and a few bytes is not a file of a few bytes.
    LARGE_INTEGER wholeSize;
    const bool sized = GetFileSizeEx(file, &wholeSize) != 0;
    const bool tooLarge = sized && wholeSize.QuadPart > static_cast<LONGLONG>(maxSize);
    const DWORD size = sized && !tooLarge ? static_cast<DWORD>(wholeSize.QuadPart) : 0;
    char* data = nullptr;
    DWORD read = 0;
    if (!sized) {
        *error = GetLastError();
        outcome = kBoundedFileUnreadable;
    } else if (tooLarge) {
        *error = ERROR_FILE_TOO_LARGE;
        outcome = kBoundedFileTooLarge;
    } else if ((data = static_cast<char*>(malloc(size + 1))) == nullptr) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        outcome = kBoundedFileNoMemory;
    } else if (!ReadFile(file, data, size, &read, nullptr) || read != size) {
        *error = GetLastError();
        outcome = kBoundedFileUnreadable;
    }
    CloseHandle(file);
    if (outcome != kBoundedFileRead) {
        free(data);
        return outcome;
    }
    data[size] = '\0';
    *bytes = data;
    *length = size;
    return outcome;
}
