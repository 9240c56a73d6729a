// Winsock's header must come before the one of windows.h that the module's header brings.
#include <winsock2.h>

#include "net/name_lookup_win.h"

#include <cstring>

#include "docklet/abandonable_call_win.h"
#include "text/bounded_text.h"

namespace {

struct Lookup {
    char name[260];
    bool found;
    uint32_t address;
};

void LookUp(void* data) {
    Lookup* lookup = static_cast<Lookup*>(data);
    WSADATA winsock;
    if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0)
        return;
    hostent* host = gethostbyname(lookup->name);
    if (host && host->h_addrtype == AF_INET && host->h_length == 4 && host->h_addr_list[0]) {
        memcpy(&lookup->address, host->h_addr_list[0], 4);
        lookup->found = true;
    }
    WSACleanup();
}

}  // namespace

LookupOutcome LookUpHostName(const char* name, HANDLE stopEvent, DWORD timeoutMs, uint32_t* address) {
    Lookup lookup = {};
    CopyText(lookup.name, sizeof lookup.name, name);
    switch (CallUnlessStopped(LookUp, &lookup, sizeof lookup, stopEvent, timeoutMs)) {
    case kCallDone:
        break;
    case kCallStopped:
        return kLookupStopped;
    case kCallTimedOut:
        return kLookupTimedOut;
    case kCallNotStarted:
    case kCallStillOutstanding:
        return kNameNotFound;
    }
    if (!lookup.found)
        return kNameNotFound;
    *address = lookup.address;
    return kNameFound;
}
