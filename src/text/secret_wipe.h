#pragma once
#include <cstddef>

// Overwrites memory that held a secret with zeros, in a way the compiler
// cannot drop as a store nobody reads.
void WipeSecret(void* data, size_t size);
