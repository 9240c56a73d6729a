#include "docklet/replace_file_win.h"

#include "text/bounded_text.h"

namespace {

bool WriteWhole(HANDLE file, const FilePiece& piece) {
    DWORD written = 0;
    return WriteFile(file, piece.data, static_cast<DWORD>(piece.length), &written, nullptr) &&
           written == piece.length;
}

}  // namespace

ReplaceStep ReplaceFileWhole(const char* path, const FilePiece* pieces, int count, DWORD attributes,
                             DWORD* error) {
    char folder[MAX_PATH];
    if (!FormSiblingPath(folder, sizeof folder, path, "")) {
        *error = ERROR_BAD_PATHNAME;
        return kNoTemporary;
    }
    char temporary[MAX_PATH];
    if (!GetTempFileNameA(folder, "tdw", 0, temporary)) {
        *error = GetLastError();
        return kNoTemporary;
    }
    HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool written = file != INVALID_HANDLE_VALUE;
    for (int i = 0; written && i < count; ++i)
        written = WriteWhole(file, pieces[i]);
    written = written && FlushFileBuffers(file);
    *error = written ? 0 : GetLastError();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (written && attributes != FILE_ATTRIBUTE_NORMAL)
        SetFileAttributesA(temporary, attributes);
    if (written && !MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *error = GetLastError();
        written = false;
    }
    if (!written)
        DeleteFileA(temporary);
    return written ? kReplaced : kNotReplaced;
}
