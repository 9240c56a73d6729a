#include "log/windows_error_text_win.h"

#include <cstring>

#include "text/bounded_text.h"

void WindowsErrorText(DWORD error, char* text, size_t size) {
    if (size == 0)
        return;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  text, static_cast<DWORD>(size), nullptr);
    if (length == 0) {
        CopyText(text, size, "unknown error");
        return;
    }
    text[size - 1] = '\0';
    // Messages end with a full stop and a line end, and a few span lines.
    for (char* c = text; *c != '\0'; ++c) {
        if (*c == '\r' || *c == '\n')
            *c = ' ';
    }
    size_t end = strlen(text);
    while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '.'))
        text[--end] = '\0';
}
