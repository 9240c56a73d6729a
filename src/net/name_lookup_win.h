#pragma once
#include <windows.h>

#include <cstdint>

// Looks a host name up (gethostbyname) on a thread of its own, because the
// call cannot be interrupted: when stopEvent is set or timeoutMs runs out the
// caller stops waiting and the lookup is abandoned. An abandoned lookup ends
// by itself, touches nothing but its own record and keeps this module loaded
// until it has. The first IPv4 address found is stored in network order.
bool LookUpHostName(const char* name, HANDLE stopEvent, DWORD timeoutMs, uint32_t* address);
