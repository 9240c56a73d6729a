#include "docklet/replace_file_win.h"

#include <cstdlib>
#include <cstring>

#include "docklet/bounded_file_win.h"
#include "text/bounded_text.h"
#include "text/secret_wipe.h"

namespace {

const int kRewriteTries = 3;
const DWORD kRewritePauseMs = 100;

bool WriteWhole(HANDLE file, const FilePiece& piece) {
    DWORD written = 0;
    return WriteFile(file, piece.data, static_cast<DWORD>(piece.length), &written, nullptr) &&
           written == piece.length;
}

// Writes the pieces to a new file in path's folder, named in temporary[MAX_PATH];
// kReplaced once it is written whole, else nothing is left of it.
ReplaceStep WriteBeside(const char* path, const FilePiece* pieces, int count, DWORD attributes, char* temporary,
                        DWORD* error) {
    char folder[MAX_PATH];
    if (!FormSiblingPath(folder, sizeof folder, path, "")) {
        *error = ERROR_BAD_PATHNAME;
        return kNoTemporary;
    }
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
    if (!written)
        DeleteFileA(temporary);
    return written ? kReplaced : kNotReplaced;
}

void Release(FileSnapshot* file) {
    if (file->bytes) {
        WipeSecret(file->bytes, file->length);
        free(file->bytes);
    }
    file->bytes = nullptr;
}

// Fills *file from the open file: kRewritten when it is read whole.
RewriteOutcome Describe(HANDLE handle, DWORD maxSize, FileSnapshot* file, DWORD* error) {
    BY_HANDLE_FILE_INFORMATION facts;
    if (!GetFileInformationByHandle(handle, &facts)) {
        *error = GetLastError();
        return kRewriteUnreadable;
    }
    file->attributes = facts.dwFileAttributes;
    file->links = facts.nNumberOfLinks;
    file->volume = facts.dwVolumeSerialNumber;
    file->indexHigh = facts.nFileIndexHigh;
    file->indexLow = facts.nFileIndexLow;
    file->written = facts.ftLastWriteTime;
    switch (ReadOpenFile(handle, maxSize, &file->bytes, &file->length, error)) {
    case kBoundedFileRead:
        return kRewritten;
    case kBoundedFileTooLarge:
        return kRewriteTooLarge;
    default:
        return kRewriteUnreadable;
    }
}

bool Same(const FileSnapshot& a, const FileSnapshot& b) {
    return a.length == b.length && a.links == b.links && a.volume == b.volume && a.indexHigh == b.indexHigh &&
           a.indexLow == b.indexLow && CompareFileTime(&a.written, &b.written) == 0 &&
           memcmp(a.bytes, b.bytes, a.length) == 0;
}

// Where the open file lives, links followed, as a path MoveFileEx takes.
// Before Vista there is no such question to ask, nor any symbolic link of a
// file; an answer that does not fit leaves the place unknown.
void FindRealPath(HANDLE handle, const char* path, char* real, size_t size) {
    typedef DWORD(WINAPI * FinalPathName)(HANDLE, LPSTR, DWORD, DWORD);
    FinalPathName finalPathName = reinterpret_cast<FinalPathName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
    real[0] = '\0';
    if (!finalPathName) {
        CopyText(real, size, path);
        return;
    }
    char name[MAX_PATH + 8];
    DWORD length = finalPathName(handle, name, sizeof name, 0);
    if (length == 0 || length >= sizeof name)
        return;
    const char* plain = name;
    char unc[MAX_PATH + 8];
    if (strncmp(name, "\\\\?\\UNC\\", 8) == 0) {
        FormatText(unc, sizeof unc, "\\\\%s", name + 8);
        plain = unc;
    } else if (strncmp(name, "\\\\?\\", 4) == 0) {
        plain = name + 4;
    }
    if (!CopyText(real, size, plain))
        real[0] = '\0';
}

RewriteOutcome ReadSnapshot(const char* path, DWORD maxSize, FileSnapshot* file, DWORD* error) {
    // Shared every way, so an editor can save meanwhile: the change is seen before writing.
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return *error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND ? kRewriteNotFound
                                                                                 : kRewriteUnreadable;
    }
    RewriteOutcome outcome = Describe(handle, maxSize, file, error);
    if (outcome == kRewritten)
        FindRealPath(handle, path, file->realPath, sizeof file->realPath);
    CloseHandle(handle);
    return outcome;
}

// Whether the open file is still the one read: anything else counts as a change.
bool Unchanged(HANDLE handle, const FileSnapshot& read) {
    FileSnapshot now = {};
    DWORD ignored = 0;
    bool same = Describe(handle, read.length, &now, &ignored) == kRewritten && Same(read, now);
    Release(&now);
    return same;
}

bool Overwrite(HANDLE handle, const char* bytes, size_t length) {
    DWORD written = 0;
    return SetFilePointer(handle, 0, nullptr, FILE_BEGIN) == 0 &&
           WriteFile(handle, bytes, static_cast<DWORD>(length), &written, nullptr) && written == length &&
           SetEndOfFile(handle);
}

// Every name of the file sees the new bytes. No other program may write
// between the check and the end; room for the new length is taken first, and
// a write that fails after it puts the old bytes back.
RewriteOutcome WriteInPlace(const char* path, const FileSnapshot& read, const char* bytes, size_t length,
                            DWORD* error) {
    HANDLE handle =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return *error == ERROR_SHARING_VIOLATION || *error == ERROR_LOCK_VIOLATION || *error == ERROR_FILE_NOT_FOUND
                   ? kRewriteKeptChanging
                   : kRewriteNotWritten;
    }
    RewriteOutcome outcome = kRewriteKeptChanging;
    if (Unchanged(handle, read)) {
        LONG high = 0;
        bool room = SetFilePointer(handle, static_cast<LONG>(length), &high, FILE_BEGIN) == length &&
                    SetEndOfFile(handle);
        if (room && Overwrite(handle, bytes, length) && FlushFileBuffers(handle)) {
            outcome = kRewritten;
        } else {
            *error = GetLastError();
            Overwrite(handle, read.bytes, read.length);
            outcome = kRewriteNotWritten;
        }
    }
    CloseHandle(handle);
    return outcome;
}

// A new file beside the real one, put in its place after the check.
RewriteOutcome ReplaceChecked(const char* path, const FileSnapshot& read, const char* bytes, size_t length,
                              DWORD* error) {
    const FilePiece piece = {bytes, length};
    char temporary[MAX_PATH];
    switch (WriteBeside(read.realPath, &piece, 1, read.attributes, temporary, error)) {
    case kReplaced:
        break;
    case kNoTemporary:
        return kRewriteNoTemporary;
    case kNotReplaced:
        return kRewriteNotWritten;
    }
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool same = handle != INVALID_HANDLE_VALUE && Unchanged(handle, read);
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    RewriteOutcome outcome = kRewriteKeptChanging;
    if (same) {
        outcome = kRewritten;
        if (!MoveFileExA(temporary, read.realPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            *error = GetLastError();
            outcome = kRewriteNotWritten;
        }
    }
    if (outcome != kRewritten)
        DeleteFileA(temporary);
    return outcome;
}

}  // namespace

ReplaceStep ReplaceFileWhole(const char* path, const FilePiece* pieces, int count, DWORD attributes,
                             DWORD* error) {
    char temporary[MAX_PATH];
    ReplaceStep step = WriteBeside(path, pieces, count, attributes, temporary, error);
    if (step != kReplaced)
        return step;
    if (!MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *error = GetLastError();
        DeleteFileA(temporary);
        return kNotReplaced;
    }
    return kReplaced;
}

RewriteOutcome RewriteFile(const char* path, DWORD maxSize, FileEdit edit, void* context, HANDLE stop,
                           RewriteReport* report) {
    *report = RewriteReport{};
    for (int tries = 0; tries < kRewriteTries; ++tries) {
        if (tries > 0 && WaitForSingleObject(stop, kRewritePauseMs) == WAIT_OBJECT_0)
            break;
        FileSnapshot read = {};
        RewriteOutcome outcome = ReadSnapshot(path, maxSize, &read, &report->error);
        char* edited = nullptr;
        size_t editedLength = 0;
        if (outcome == kRewritten && !edit(context, &read, &edited, &editedLength))
            outcome = kRewriteNotWanted;
        if (outcome == kRewritten) {
            report->inPlace = read.links > 1 || read.realPath[0] == '\0';
            report->links = read.links;
            CopyText(report->realPath, sizeof report->realPath, report->inPlace ? "" : read.realPath);
            outcome = report->inPlace ? WriteInPlace(path, read, edited, editedLength, &report->error)
                                      : ReplaceChecked(path, read, edited, editedLength, &report->error);
        }
        if (edited)
            WipeSecret(edited, editedLength);
        free(edited);
        Release(&read);
        if (outcome != kRewriteKeptChanging)
            return outcome;
    }
    return kRewriteKeptChanging;
}
