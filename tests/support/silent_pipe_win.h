#pragma once
#include <windows.h>

#include <string>
#include <vector>

// A named pipe that accepts every client and then says nothing, as a DBX file
// on a network share that hangs: a read of it never ends while the pipe
// lives. Destroying it ends those reads (they fail).
class SilentPipe {
public:
    SilentPipe();
    ~SilentPipe();
    SilentPipe(const SilentPipe&) = delete;
    SilentPipe& operator=(const SilentPipe&) = delete;

    const std::string& Name() const { return name_; }
    // Clients accepted so far.
    int Clients();

private:
    static DWORD WINAPI Serve(void* pipe);

    std::string name_;
    HANDLE finish_;
    HANDLE thread_;
    CRITICAL_SECTION lock_;
    std::vector<HANDLE> instances_;  // one per client, the last one waiting for its client
};
