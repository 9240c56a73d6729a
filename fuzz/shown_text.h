#pragma once
#include <cstring>

// True when text[size] holds a terminated line a log or a page can show as it
// stands: printable ASCII only.
inline bool IsShown(const char* text, size_t size) {
    size_t length = strnlen(text, size);
    if (length == size)
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < 0x20 || text[i] > 0x7E)
            return false;
    }
    return true;
}
