#include "config/ini_value_edit.h"

#include <cstring>

#include "text/utf8.h"

namespace {

// The file seen as characters of its encoding; offsets stay in bytes.
struct IniText {
    const unsigned char* bytes;
    size_t start;  // after the byte order mark
    size_t end;    // a last odd byte of UTF-16 is no character
    size_t unit;
    IniEncoding encoding;
};

IniText ReadAs(const char* file, size_t length) {
    IniText text = {reinterpret_cast<const unsigned char*>(file), 0, length, 1, IniFileEncoding(file, length)};
    text.start = text.encoding == kIniUtf8 ? 3 : text.encoding == kIniBytes ? 0 : 2;
    text.unit = IniUnitSize(text.encoding);
    text.end = text.start + (length - text.start) / text.unit * text.unit;
    return text;
}

unsigned At(const IniText& text, size_t at) {
    const unsigned char* c = text.bytes + at;
    switch (text.encoding) {
    case kIniUtf16Le:
        return c[0] | c[1] << 8;
    case kIniUtf16Be:
        return c[0] << 8 | c[1];
    case kIniBytes:
    case kIniUtf8:
        break;
    }
    return c[0];
}

// The white space the profile functions trim, Ctrl-Z included.
bool IsProfileSpace(unsigned c) {
    return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x1A;
}

bool IsLineEnd(unsigned c) {
    return c == '\r' || c == '\n';
}

unsigned Lower(unsigned c) {
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

bool SameName(const IniText& text, size_t begin, size_t end, const char* name) {
    if (strlen(name) != (end - begin) / text.unit)
        return false;
    for (size_t at = begin; at < end; at += text.unit, ++name)
        if (Lower(At(text, at)) != Lower(static_cast<unsigned char>(*name)))
            return false;
    return true;
}

// One line of the file, trimmed, and where the next begins.
struct Line {
    size_t begin;
    size_t end;
    size_t next;
    size_t breaks;  // line ends after it: CR LF counts one
};

Line NextLine(const IniText& text, size_t from) {
    const size_t u = text.unit;
    Line line = {from, from, from, 0};
    while (line.next < text.end && !IsLineEnd(At(text, line.next)))
        line.next += u;
    line.end = line.next;
    while (line.next < text.end && IsLineEnd(At(text, line.next))) {
        bool crlf = At(text, line.next) == '\r' && line.next + u < text.end && At(text, line.next + u) == '\n';
        line.next += crlf ? 2 * u : u;
        ++line.breaks;
    }
    while (line.begin < line.end && IsProfileSpace(At(text, line.begin)))
        line.begin += u;
    while (line.end > line.begin && IsProfileSpace(At(text, line.end - u)))
        line.end -= u;
    return line;
}

// Where a section's name stands on a line that opens one, trimmed as the
// profile functions trim it ("[ account0 ]" opens account0); false for any
// other line.
bool SectionName(const IniText& text, const Line& line, size_t* begin, size_t* end) {
    if (line.begin == line.end || At(text, line.begin) != '[')
        return false;
    size_t close = line.end;
    while (close > line.begin && At(text, close - text.unit) != ']')
        close -= text.unit;
    if (close <= line.begin + text.unit)
        return false;
    *begin = line.begin + text.unit;
    *end = close - text.unit;
    while (*begin < *end && IsProfileSpace(At(text, *begin)))
        *begin += text.unit;
    while (*end > *begin && IsProfileSpace(At(text, *end - text.unit)))
        *end -= text.unit;
    return true;
}

// Lists the lines of key as FindIniValues does; with readOnly, stops as soon
// as the value read is known, listing at most that one.
size_t ScanValues(const char* file, size_t length, const char* section, const char* key, IniValue* values,
                  size_t capacity, bool readOnly) {
    const IniText text = ReadAs(file, length);
    const size_t u = text.unit;
    size_t found = 0;
    size_t lineNumber = 1;
    size_t sectionsOfName = 0;  // so far, the current one included when it is of the name
    bool inSection = false;
    bool keyReadSeen = false;  // the first section of the name has shown the key
    for (size_t next = text.start; next < text.end;) {
        const Line line = NextLine(text, next);
        const size_t number = lineNumber;
        next = line.next;
        lineNumber += line.breaks;
        size_t nameBegin, nameEnd;
        if (SectionName(text, line, &nameBegin, &nameEnd)) {
            if (readOnly && sectionsOfName == 1)
                break;
            inSection = SameName(text, nameBegin, nameEnd, section);
            sectionsOfName += inSection ? 1 : 0;
            continue;
        }
        if (!inSection || line.begin == line.end)
            continue;
        size_t equals = line.begin;
        while (equals < line.end && At(text, equals) != '=')
            equals += u;
        size_t keyEnd = equals;
        while (keyEnd > line.begin && IsProfileSpace(At(text, keyEnd - u)))
            keyEnd -= u;
        if (!SameName(text, line.begin, keyEnd, key))
            continue;
        const bool read = sectionsOfName == 1 && !keyReadSeen;
        keyReadSeen = keyReadSeen || sectionsOfName == 1;
        if (equals == line.end) {
            if (readOnly)
                break;
            continue;
        }
        IniValue value = {equals + u, line.end, 0, 0, number, read};
        while (value.begin < value.end && IsProfileSpace(At(text, value.begin)))
            value.begin += u;
        value.textBegin = value.begin;
        value.textEnd = value.end;
        // An empty value may end the file: its first character is read only when it has two.
        if (value.end - value.begin >= 2 * u) {
            const unsigned first = At(text, value.begin);
            if ((first == '"' || first == '\'') && At(text, value.end - u) == first) {
                value.textBegin += u;
                value.textEnd -= u;
            }
        }
        if (found < capacity)
            values[found] = value;
        ++found;
        if (readOnly)
            break;
    }
    return found;
}

} // namespace

IniEncoding IniFileEncoding(const char* file, size_t length) {
    if (length >= 3 && memcmp(file, "\xEF\xBB\xBF", 3) == 0)
        return kIniUtf8;
    if (length >= 2 && memcmp(file, "\xFF\xFE", 2) == 0)
        return kIniUtf16Le;
    if (length >= 2 && memcmp(file, "\xFE\xFF", 2) == 0)
        return kIniUtf16Be;
    return kIniBytes;
}

size_t IniUnitSize(IniEncoding encoding) {
    return encoding == kIniUtf16Le || encoding == kIniUtf16Be ? 2 : 1;
}

size_t FindIniValues(const char* file, size_t length, const char* section, const char* key,
                     IniValue* values, size_t capacity) {
    return ScanValues(file, length, section, key, values, capacity, false);
}

bool FindIniValueRead(const char* file, size_t length, const char* section, const char* key, IniValue* value) {
    IniValue found;
    if (ScanValues(file, length, section, key, &found, 1, true) == 0 || !found.read)
        return false;
    *value = found;
    return true;
}

bool IniSectionHasKeys(const char* file, size_t length, const char* section) {
    const IniText text = ReadAs(file, length);
    bool inSection = false;
    for (size_t next = text.start; next < text.end;) {
        const Line line = NextLine(text, next);
        next = line.next;
        size_t nameBegin, nameEnd;
        if (SectionName(text, line, &nameBegin, &nameEnd)) {
            if (inSection)
                return false;
            inSection = SameName(text, nameBegin, nameEnd, section);
        } else if (inSection && line.begin != line.end && At(text, line.begin) != ';') {
            return true;
        }
    }
    return false;
}

int32_t ProfileIntFromText(const char* text) {
    // The profile functions read a number from its first 29 characters.
    const size_t kDigitsRead = 29;
    size_t at = 0;
    while (at < kDigitsRead && text[at] != '\0' && static_cast<unsigned char>(text[at]) <= ' ')
        ++at;
    const bool negative = text[at] == '-';
    if (at < kDigitsRead && (text[at] == '-' || text[at] == '+'))
        ++at;
    uint32_t base = 10;
    if (at + 1 < kDigitsRead && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'o' || text[at + 1] == 'b')) {
        base = text[at + 1] == 'x' ? 16 : text[at + 1] == 'o' ? 8 : 2;
        at += 2;
    }
    // Past 32 bits the number wraps round, as the profile functions have it.
    uint32_t value = 0;
    for (; at < kDigitsRead && text[at] != '\0'; ++at) {
        const char c = text[at];
        const uint32_t digit = c >= '0' && c <= '9'   ? static_cast<uint32_t>(c - '0')
                               : c >= 'a' && c <= 'f' ? static_cast<uint32_t>(c - 'a' + 10)
                               : c >= 'A' && c <= 'F' ? static_cast<uint32_t>(c - 'A' + 10)
                                                      : 16;
        if (digit >= base)
            break;
        value = value * base + digit;
    }
    return static_cast<int32_t>(negative ? 0u - value : value);
}

bool IniReadsAsUtf8(const char* file, size_t length) {
    const IniEncoding encoding = IniFileEncoding(file, length);
    if (encoding != kIniBytes && encoding != kIniUtf8)
        return false;
    const size_t start = encoding == kIniUtf8 ? 3 : 0;
    bool beyondAscii = encoding == kIniUtf8;
    for (size_t at = start; at < length; ++at) {
        if (file[at] == '\0')
            return false;
        beyondAscii = beyondAscii || static_cast<unsigned char>(file[at]) >= 0x80;
    }
    return beyondAscii && IsUtf8(file + start, length - start);
}

bool ReplaceIniValues(const char* file, size_t length, const IniReplacement* replacements, size_t count,
                      char* out, size_t capacity, size_t* outLength) {
    const IniEncoding encoding = IniFileEncoding(file, length);
    const size_t u = IniUnitSize(encoding);
    size_t from = 0;
    size_t to = 0;
    for (size_t i = 0; i <= count; ++i) {
        const size_t keep = i < count ? replacements[i].value.begin : length;
        if (keep < from || keep > length || keep - from > capacity - to)
            return false;
        memcpy(out + to, file + from, keep - from);
        to += keep - from;
        if (i == count)
            break;
        const char* text = replacements[i].text;
        const size_t textLength = strlen(text);
        if (replacements[i].value.end < keep || textLength > (capacity - to) / u)
            return false;
        for (size_t c = 0; c < textLength; ++c, to += u) {
            out[to] = encoding == kIniUtf16Be ? '\0' : text[c];
            if (u == 2)
                out[to + 1] = encoding == kIniUtf16Be ? text[c] : '\0';
        }
        from = replacements[i].value.end;
    }
    *outLength = to;
    return true;
}
