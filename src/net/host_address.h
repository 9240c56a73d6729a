#pragma once
#include <cstdint>

// True when text is a dotted IPv4 address written in full: four decimal
// numbers from 0 to 255, nothing before, between or after them but the dots.
// The address is stored in network byte order.
bool ParseDottedIPv4(const char* text, uint32_t* networkOrder);
