#include <windows.h>

#include "log/debug_log_bound.h"
#include "log/debug_log_file.h"
#include "text/bounded_text.h"

namespace {

// Initialised while the module loads, before any worker can exist.
struct DebugLogLock {
    CRITICAL_SECTION section;
    DebugLogLock() { InitializeCriticalSection(&section); }
    ~DebugLogLock() { DeleteCriticalSection(&section); }
};

DebugLogLock lock;

void Write(HANDLE file, const char* bytes, DWORD length) {
    DWORD written;
    WriteFile(file, bytes, length, &written, nullptr);
}

// As a text-mode stream writes it, which readers of the log know: every LF
// lands as CR LF, the text's own and the line's end.
void WriteLine(HANDLE file, const char* text, size_t length) {
    char chunk[4096];
    DWORD used = 0;
    for (size_t i = 0; i <= length; ++i) {
        if (used + 2 > sizeof chunk) {
            Write(file, chunk, used);
            used = 0;
        }
        if (i == length || text[i] == '\n') {
            chunk[used++] = '\r';
            chunk[used++] = '\n';
        } else {
            chunk[used++] = text[i];
        }
    }
    Write(file, chunk, used);
}

HANDLE OpenForAppending(const char* path) {
    return CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Puts the full log aside and opens a new one that says what became of the
// old lines. When Debug.old.log cannot take its place (a reader holds it
// without sharing), the log starts empty all the same rather than grow.
HANDLE StartAgain(HANDLE full, const char* path) {
    CloseHandle(full);
    char oldPath[MAX_PATH * 2];
    const bool moved = FormSiblingPath(oldPath, sizeof oldPath, path, kOldDebugLogName) &&
                       MoveFileExA(path, oldPath, MOVEFILE_REPLACE_EXISTING);
    HANDLE file = moved ? OpenForAppending(path)
                        : CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return file;
    const char* notice = moved ? kDebugLogRenewedLine : kDebugLogCutLine;
    WriteLine(file, notice, lstrlenA(notice));
    return file;
}

}  // namespace

// Win32 calls only: a C runtime stream would wait for runtime locks that a
// call left hanging elsewhere in the process may hold.
void AppendDebugLogLine(const char* path, const char* text, size_t length) {
    EnterCriticalSection(&lock.section);
    HANDLE file = OpenForAppending(path);
    LARGE_INTEGER size;
    if (file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &size) &&
        DebugLogIsFull(static_cast<uint64_t>(size.QuadPart), length))
        file = StartAgain(file, path);
    if (file != INVALID_HANDLE_VALUE) {
        WriteLine(file, text, length);
        CloseHandle(file);
    }
    LeaveCriticalSection(&lock.section);
}
