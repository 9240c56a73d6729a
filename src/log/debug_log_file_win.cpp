#include <windows.h>

#include "log/debug_log_file.h"

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

}  // namespace

// Win32 calls only: a C runtime stream would wait for runtime locks that a
// call left hanging elsewhere in the process may hold.
void AppendDebugLogLine(const char* path, const char* text, size_t length) {
    EnterCriticalSection(&lock.section);
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        // As a text-mode stream writes it, which readers of the log know:
        // every LF lands as CR LF, the text's own and the line's end.
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
        CloseHandle(file);
    }
    LeaveCriticalSection(&lock.section);
}
