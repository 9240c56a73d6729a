#pragma once
#include <cstdint>

// Reads the message count a DBX mail folder file keeps in its header; false
// when the file cannot be opened or is shorter than its header. The file is
// only read, without keeping other programs out. Win32 calls only, no C
// runtime stream, so that a read left hanging (a share that does not answer)
// holds no lock anything else needs. May block without end: run it as a call
// that can be abandoned.
bool ReadDbxHeaderCount(const char* path, uint32_t* count);
