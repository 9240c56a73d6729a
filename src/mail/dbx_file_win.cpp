#include "mail/dbx_file_win.h"

#include <windows.h>

#include "mail/dbx_count.h"

bool ReadDbxHeaderCount(const char* path, uint32_t* count) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    // A read may return less than asked (a pipe, some shares): read on to the header's end.
    unsigned char header[kDbxHeaderSize];
    DWORD length = 0;
    DWORD read;
    while (length < sizeof header && ReadFile(file, header + length, sizeof header - length, &read, nullptr) &&
           read > 0)
        length += read;
    CloseHandle(file);
    return DbxHeaderCount(header, length, count);
}
