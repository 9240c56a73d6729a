// Winsock's header must come before the one of windows.h that the module's header brings.
#include <winsock2.h>

#include "net/name_lookup_win.h"

#include <cstdlib>
#include <cstring>

#include "docklet/worker_wait_win.h"
#include "text/bounded_text.h"

namespace {

// Shared by the caller and the lookup thread; the last of the two to let go frees it.
struct Lookup {
    LONG references;
    HANDLE done;
    HMODULE module;  // this module, held loaded until the thread has ended
    char name[260];
    bool found;
    uint32_t address;
};

void Release(Lookup* lookup) {
    if (InterlockedDecrement(&lookup->references) == 0) {
        CloseHandle(lookup->done);
        free(lookup);
    }
}

DWORD WINAPI LookupThread(void* parameter) {
    Lookup* lookup = static_cast<Lookup*>(parameter);
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) == 0) {
        hostent* host = gethostbyname(lookup->name);
        if (host && host->h_addrtype == AF_INET && host->h_length == 4 && host->h_addr_list[0]) {
            memcpy(&lookup->address, host->h_addr_list[0], 4);
            lookup->found = true;
        }
        WSACleanup();
    }
    HMODULE module = lookup->module;
    SetEvent(lookup->done);
    Release(lookup);
    FreeLibraryAndExitThread(module, 0);
}

}  // namespace

bool LookUpHostName(const char* name, HANDLE stopEvent, DWORD timeoutMs, uint32_t* address) {
    Lookup* lookup = static_cast<Lookup*>(calloc(1, sizeof(Lookup)));
    if (!lookup)
        return false;
    lookup->references = 2;
    CopyText(lookup->name, sizeof lookup->name, name);
    lookup->done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!lookup->done ||
        !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&LookupThread), &lookup->module)) {
        if (lookup->done)
            CloseHandle(lookup->done);
        free(lookup);
        return false;
    }
    HANDLE thread = CreateThread(nullptr, 0, LookupThread, lookup, 0, nullptr);
    if (!thread) {
        FreeLibrary(lookup->module);
        CloseHandle(lookup->done);
        free(lookup);
        return false;
    }
    CloseHandle(thread);

    bool found = WaitUnlessStopped(lookup->done, stopEvent, timeoutMs) == kWaitSignalled &&
                 lookup->found;
    if (found)
        *address = lookup->address;
    Release(lookup);
    return found;
}
