#pragma once
#include <cstdint>

// True when text is a dotted IPv4 address written in full: four decimal
// numbers from 0 to 255, nothing before, between or after them but the dots.
// The address is stored in network byte order.
bool ParseDottedIPv4(const char* text, uint32_t* networkOrder);

// True when host names this machine for certain: "localhost", or a dotted
// address in 127.0.0.0/8. Traffic to it never crosses a network.
bool IsLoopbackHost(const char* host);
