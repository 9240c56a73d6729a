#pragma once
#include <windows.h>

#include <cstdint>

enum LookupOutcome {
    kNameFound,
    kNameNotFound,
    kLookupTimedOut,
    kLookupStopped,
};

// Looks a host name up (gethostbyname), which cannot be interrupted, as an
// abandonable call: when stopEvent is set or timeoutMs runs out the caller
// stops waiting. The first IPv4 address found is stored in network order.
LookupOutcome LookUpHostName(const char* name, HANDLE stopEvent, DWORD timeoutMs, uint32_t* address);
