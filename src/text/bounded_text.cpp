#include "text/bounded_text.h"

#include <cstdio>
#include <cstring>

bool CopyText(char* destination, size_t size, const char* text) {
    if (size == 0)
        return false;
    size_t length = strlen(text);
    bool fits = length < size;
    if (!fits)
        length = size - 1;
    memcpy(destination, text, length);
    destination[length] = '\0';
    return fits;
}

bool CopyPrintable(char* destination, size_t size, const char* text, size_t length) {
    if (size == 0)
        return false;
    bool fits = length < size;
    if (!fits)
        length = size - 1;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        destination[i] = c >= 0x20 && c < 0x7F ? c : '?';
    }
    destination[length] = '\0';
    return fits;
}

bool FormatTextV(char* destination, size_t size, const char* format, va_list arguments) {
    if (size == 0)
        return false;
    int length = vsnprintf(destination, size, format, arguments);
    if (length < 0) {
        destination[0] = '\0';
        return false;
    }
    destination[size - 1] = '\0';
    return static_cast<size_t>(length) < size;
}

bool FormatText(char* destination, size_t size, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    bool fits = FormatTextV(destination, size, format, arguments);
    va_end(arguments);
    return fits;
}

bool FormFolderPath(char* destination, size_t size, const char* rootFolder,
                    const char* relativeFolder, const char* fileName) {
    if (FormatText(destination, size, "%s%s%s", rootFolder, relativeFolder, fileName))
        return true;
    if (size > 0)
        destination[0] = '\0';
    return false;
}

bool FormSiblingPath(char* destination, size_t size, const char* path, const char* fileName) {
    const char* slash = strrchr(path, '\\');
    const char* other = strrchr(path, '/');
    if (other && (!slash || other > slash))
        slash = other;
    const int folderLength = slash ? static_cast<int>(slash + 1 - path) : 0;
    if (slash && FormatText(destination, size, "%.*s%s", folderLength, path, fileName))
        return true;
    if (size > 0)
        destination[0] = '\0';
    return false;
}

static char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(const char* left, const char* right) {
    for (; *left && *right; ++left, ++right) {
        if (LowerAscii(*left) != LowerAscii(*right))
            return false;
    }
    return *left == *right;
}
