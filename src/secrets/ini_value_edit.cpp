#include "secrets/ini_value_edit.h"

#include <cstring>

namespace {

// The white space the profile functions trim, Ctrl-Z included.
bool IsProfileSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x1A;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const char* text, size_t length, const char* name) {
    if (strlen(name) != length)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (Lower(text[i]) != Lower(name[i]))
            return false;
    return true;
}

struct Span {
    size_t begin;
    size_t end;
    bool written; // false for a key without '=': no value to change
};

// Where the key's value stands in the file, quotes included; false when
// the first such section has no such key.
bool FindValue(const char* file, size_t length, const char* section, const char* key, Span* value) {
    size_t next = 0;
    // A UTF-8 byte order mark is no part of the first line.
    if (length >= 3 && memcmp(file, "\xEF\xBB\xBF", 3) == 0)
        next = 3;
    bool inSection = false;
    bool sectionSeen = false;
    while (next < length) {
        size_t start = next;
        while (next < length && file[next] != '\n' && file[next] != '\r')
            ++next;
        size_t end = next;
        while (next < length && (file[next] == '\n' || file[next] == '\r'))
            ++next;
        while (start < end && IsProfileSpace(file[start]))
            ++start;
        while (end > start && IsProfileSpace(file[end - 1]))
            --end;
        if (start == end)
            continue;
        if (file[start] == '[') {
            size_t close = end;
            while (close > start && file[close - 1] != ']')
                --close;
            if (close > start + 1) {
                // Only the first section of the name is read.
                if (inSection)
                    return false;
                inSection =
                    !sectionSeen && SameName(file + start + 1, close - 1 - (start + 1), section);
                sectionSeen = inSection;
                continue;
            }
        }
        if (!inSection)
            continue;
        const char* equals = static_cast<const char*>(memchr(file + start, '=', end - start));
        size_t nameEnd = equals ? static_cast<size_t>(equals - file) : end;
        size_t valueStart = equals ? nameEnd + 1 : end;
        while (nameEnd > start && IsProfileSpace(file[nameEnd - 1]))
            --nameEnd;
        while (valueStart < end && IsProfileSpace(file[valueStart]))
            ++valueStart;
        if (SameName(file + start, nameEnd - start, key)) {
            *value = Span{valueStart, end, equals != nullptr};
            return true;
        }
    }
    return false;
}

} // namespace

IniEdit ReplaceIniValue(const char* file, size_t length, const char* section, const char* key,
                        const char* expected, const char* value, char* out, size_t capacity,
                        size_t* outLength) {
    Span found;
    if (!FindValue(file, length, section, key, &found))
        return kIniKeyMissing;
    Span read = found;
    // An empty value may end the file: its first byte is read only when it has two.
    if (found.end - found.begin >= 2 && (file[found.begin] == '"' || file[found.begin] == '\'') &&
        file[found.end - 1] == file[found.begin]) {
        ++read.begin;
        --read.end;
    }
    size_t expectedLength = strlen(expected);
    if (!found.written || read.end - read.begin != expectedLength ||
        memcmp(file + read.begin, expected, expectedLength) != 0)
        return kIniValueChanged;
    size_t valueLength = strlen(value);
    size_t total = found.begin + valueLength + (length - found.end);
    if (total > capacity)
        return kIniNoRoom;
    memcpy(out, file, found.begin);
    memcpy(out + found.begin, value, valueLength);
    memcpy(out + found.begin + valueLength, file + found.end, length - found.end);
    *outLength = total;
    return kIniValueReplaced;
}
