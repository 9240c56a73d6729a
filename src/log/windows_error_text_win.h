#pragma once
#include <windows.h>

#include <cstddef>

// The system's own words for a Windows error code, on one line without its
// closing full stop, in text[size]; "unknown error" when it has none.
void WindowsErrorText(DWORD error, char* text, size_t size);
