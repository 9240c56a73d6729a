#include "silent_pipe_win.h"

namespace {

LONG pipes = 0;

}  // namespace

SilentPipe::SilentPipe()
    : name_("\\\\.\\pipe\\tidewell-silent-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(InterlockedIncrement(&pipes))),
      finish_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    InitializeCriticalSection(&lock_);
    // The first instance exists before any client may try to open the pipe.
    instances_.push_back(CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                          PIPE_TYPE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0,
                                          nullptr));
    thread_ = CreateThread(nullptr, 0, Serve, this, 0, nullptr);
}

SilentPipe::~SilentPipe() {
    SetEvent(finish_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    for (HANDLE instance : instances_)
        CloseHandle(instance);
    CloseHandle(finish_);
    DeleteCriticalSection(&lock_);
}

int SilentPipe::Clients() {
    EnterCriticalSection(&lock_);
    int clients = static_cast<int>(instances_.size()) - 1;
    LeaveCriticalSection(&lock_);
    return clients;
}

DWORD WINAPI SilentPipe::Serve(void* parameter) {
    SilentPipe* pipe = static_cast<SilentPipe*>(parameter);
    HANDLE connected = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (;;) {
        EnterCriticalSection(&pipe->lock_);
        HANDLE instance = pipe->instances_.back();
        LeaveCriticalSection(&pipe->lock_);
        OVERLAPPED overlapped = {};
        overlapped.hEvent = connected;
        ResetEvent(connected);
        DWORD error = ConnectNamedPipe(instance, &overlapped) ? ERROR_SUCCESS : GetLastError();
        if (error != ERROR_SUCCESS && error != ERROR_IO_PENDING && error != ERROR_PIPE_CONNECTED)
            break;
        if (error == ERROR_IO_PENDING) {
            HANDLE waits[2] = {pipe->finish_, connected};
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
                CancelIo(instance);
                break;
            }
        }
        // A new instance for the next client; this one keeps its client waiting.
        HANDLE next = CreateNamedPipeA(pipe->name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                       PIPE_TYPE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0,
                                       nullptr);
        if (next == INVALID_HANDLE_VALUE)
            break;
        EnterCriticalSection(&pipe->lock_);
        pipe->instances_.push_back(next);
        LeaveCriticalSection(&pipe->lock_);
    }
    CloseHandle(connected);
    return 0;
}
