// The INI file is the user's, of any content and any encoding the profile
// functions know: the editor that writes protected passwords into it must
// find every copy of the key that a plain reading of the rule finds, mark the
// one the profile functions read, change those values and nothing else, within
// the room it promises, and never read or write out of bounds.
// The input's first byte picks how the rest is stored: 0 as it is (it may
// bring its own byte order mark), 1 after the UTF-8 mark, 2 and 3 as UTF-16
// little and big endian after their marks, each byte one character, 0xFE
// followed by two bytes the character they make (one byte alone at the end:
// a last odd byte).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/ini_value_edit.h"

namespace {

std::string Store(const uint8_t* data, size_t size) {
    const int form = size > 0 ? data[0] % 4 : 0;
    std::string file;
    if (form == 1)
        file = "\xEF\xBB\xBF";
    if (form < 2) {
        file.append(reinterpret_cast<const char*>(data + 1), size > 0 ? size - 1 : 0);
        return file;
    }
    file = form == 2 ? "\xFF\xFE" : "\xFE\xFF";
    for (size_t i = 1; i < size; ++i) {
        unsigned c = data[i];
        if (c == 0xFE && i + 1 == size - 1) {
            file += static_cast<char>(data[++i]);
            break;
        }
        if (c == 0xFE && i + 2 < size) {
            c = data[i + 1] << 8 | data[i + 2];
            i += 2;
        }
        const char high = static_cast<char>(c >> 8), low = static_cast<char>(c & 0xFF);
        file += form == 2 ? std::string{low, high} : std::string{high, low};
    }
    return file;
}

// The file as characters, each with the byte where it starts.
struct Char {
    unsigned c;
    size_t at;
};

struct Plain {
    std::vector<Char> chars;
    size_t unit;
    size_t end;  // bytes: where the last whole character ends
};

Plain Decode(const std::string& file) {
    Plain plain = {{}, 1, file.size()};
    size_t start = 0;
    bool big = false;
    if (file.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        start = 3;
    } else if (file.compare(0, 2, "\xFF\xFE") == 0 || file.compare(0, 2, "\xFE\xFF") == 0) {
        start = 2;
        plain.unit = 2;
        big = file[0] == '\xFE';
    }
    size_t at = start;
    for (; at + plain.unit <= file.size(); at += plain.unit) {
        const unsigned a = static_cast<unsigned char>(file[at]);
        const unsigned b = plain.unit == 2 ? static_cast<unsigned char>(file[at + 1]) : 0;
        plain.chars.push_back({plain.unit == 1 ? a : big ? (a << 8 | b) : (b << 8 | a), at});
    }
    plain.end = at;
    return plain;
}

bool Space(unsigned c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == 0x1A;
}

std::string Folded(const std::vector<Char>& chars, size_t from, size_t to) {
    std::string name;
    for (size_t i = from; i < to; ++i) {
        const unsigned c = chars[i].c;
        name += c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c < 128 ? static_cast<char>(c) : '\x80';
    }
    return name;
}

// The rule read plainly: lines, then sections, then keys. *hasKeys: the
// first section of the name holds a line that is no comment.
std::vector<IniValue> Expected(const std::string& file, bool* hasKeys) {
    *hasKeys = false;
    const Plain plain = Decode(file);
    const std::vector<Char>& chars = plain.chars;
    const auto byteAt = [&](size_t i) { return i < chars.size() ? chars[i].at : plain.end; };
    std::vector<IniValue> values;
    size_t line = 1;
    int sectionsOfName = 0;
    bool inSection = false;
    bool keySeen = false;
    for (size_t i = 0; i < chars.size();) {
        size_t end = i;
        while (end < chars.size() && chars[end].c != '\r' && chars[end].c != '\n')
            ++end;
        size_t next = end;
        size_t breaks = 0;
        while (next < chars.size() && (chars[next].c == '\r' || chars[next].c == '\n')) {
            next += chars[next].c == '\r' && next + 1 < chars.size() && chars[next + 1].c == '\n' ? 2 : 1;
            ++breaks;
        }
        size_t begin = i;
        while (begin < end && Space(chars[begin].c))
            ++begin;
        while (end > begin && Space(chars[end - 1].c))
            --end;
        const size_t number = line;
        line += breaks;
        i = next;
        size_t close = end;
        while (close > begin && chars[close - 1].c != ']')
            --close;
        if (begin < end && chars[begin].c == '[' && close > begin + 1) {
            size_t nameBegin = begin + 1, nameEnd = close - 1;
            while (nameBegin < nameEnd && Space(chars[nameBegin].c))
                ++nameBegin;
            while (nameEnd > nameBegin && Space(chars[nameEnd - 1].c))
                --nameEnd;
            inSection = Folded(chars, nameBegin, nameEnd) == "account0";
            sectionsOfName += inSection;
            continue;
        }
        if (!inSection || begin == end)
            continue;
        if (sectionsOfName == 1 && chars[begin].c != ';')
            *hasKeys = true;
        size_t equals = begin;
        while (equals < end && chars[equals].c != '=')
            ++equals;
        size_t keyEnd = equals;
        while (keyEnd > begin && Space(chars[keyEnd - 1].c))
            --keyEnd;
        if (Folded(chars, begin, keyEnd) != "password")
            continue;
        const bool read = sectionsOfName == 1 && !keySeen;
        keySeen = keySeen || sectionsOfName == 1;
        if (equals == end)
            continue;
        size_t value = equals + 1;
        while (value < end && Space(chars[value].c))
            ++value;
        const bool quoted = end - value >= 2 && (chars[value].c == '"' || chars[value].c == '\'') &&
                            chars[end - 1].c == chars[value].c;
        values.push_back({byteAt(value), byteAt(end), byteAt(value + quoted), byteAt(end - quoted), number, read});
    }
    return values;
}

// RFC 3629's grammar of UTF8-octets, byte range by byte range.
bool WellFormedUtf8(const std::string& text, size_t at) {
    const auto in = [&](size_t i, unsigned low, unsigned high) {
        return i < text.size() && static_cast<unsigned char>(text[i]) >= low && static_cast<unsigned char>(text[i]) <= high;
    };
    while (at < text.size()) {
        const unsigned c = static_cast<unsigned char>(text[at]);
        size_t tails = 0;
        bool second = true;  // the byte after the first, where the grammar narrows it
        if (c <= 0x7F) {
        } else if (c >= 0xC2 && c <= 0xDF) {
            tails = 1;
        } else if (c == 0xE0) {
            second = in(at + 1, 0xA0, 0xBF), tails = 2;
        } else if (c == 0xED) {
            second = in(at + 1, 0x80, 0x9F), tails = 2;
        } else if (c >= 0xE1 && c <= 0xEF) {
            tails = 2;
        } else if (c == 0xF0) {
            second = in(at + 1, 0x90, 0xBF), tails = 3;
        } else if (c == 0xF4) {
            second = in(at + 1, 0x80, 0x8F), tails = 3;
        } else if (c >= 0xF1 && c <= 0xF3) {
            tails = 3;
        } else {
            return false;
        }
        for (size_t i = 1; i <= tails; ++i)
            if (!in(at + i, 0x80, 0xBF))
                return false;
        if (!second)
            return false;
        at += 1 + tails;
    }
    return true;
}

bool Same(const IniValue& a, const IniValue& b) {
    return a.begin == b.begin && a.end == b.end && a.textBegin == b.textBegin && a.textEnd == b.textEnd &&
           a.line == b.line && a.read == b.read;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string stored = Store(data, size);
    const size_t length = stored.size();
    // A heap block of exactly the file's size, so any read past it is caught.
    char* file = static_cast<char*>(malloc(length ? length : 1));
    memcpy(file, stored.data(), length);

    bool hasKeys;
    const std::vector<IniValue> expected = Expected(stored, &hasKeys);
    const size_t count = FindIniValues(file, length, "account0", "Password", nullptr, 0);
    std::vector<IniValue> found(count + 1);
    if (FindIniValues(file, length, "account0", "Password", found.data(), count) != count ||
        count != expected.size())
        abort();
    for (size_t i = 0; i < count; ++i)
        if (!Same(found[i], expected[i]))
            abort();
    // The value read alone, as the docklet's reader of UTF-8 files asks for it.
    IniValue read;
    const bool anyRead = count > 0 && expected[0].read;
    if (FindIniValueRead(file, length, "account0", "Password", &read) != anyRead ||
        (anyRead && !Same(read, expected[0])))
        abort();
    if (IniSectionHasKeys(file, length, "account0") != hasKeys)
        abort();
    // Read as UTF-8: the mark, or some byte beyond ASCII, in UTF-8 throughout, without a NUL.
    const bool marked = stored.compare(0, 3, "\xEF\xBB\xBF") == 0;
    const bool utf8 = stored.find('\0') == std::string::npos && WellFormedUtf8(stored, marked ? 3 : 0) &&
                      (marked || std::any_of(stored.begin(), stored.end(), [](char c) { return c & 0x80; }));
    if (IniReadsAsUtf8(file, length) != utf8)
        abort();

    // Every copy replaced: the bytes between them are the file's own, the
    // room promised suffices, and a second reading finds the new values where
    // the old ones were read.
    const char value[] = "dpapi:QUJD";
    const size_t unit = IniUnitSize(IniFileEncoding(file, length));
    std::vector<IniReplacement> replacements;
    std::string rebuilt;
    size_t from = 0;
    for (size_t i = 0; i < count; ++i) {
        replacements.push_back({found[i], value});
        rebuilt.append(stored, from, found[i].begin - from);
        for (const char* c = value; *c; ++c)
            rebuilt += unit == 1 ? std::string{*c} : IniFileEncoding(file, length) == kIniUtf16Le
                                                         ? std::string{*c, '\0'}
                                                         : std::string{'\0', *c};
        from = found[i].end;
    }
    rebuilt.append(stored, from, std::string::npos);
    const size_t capacity = length + count * strlen(value) * unit;
    char* out = static_cast<char*>(malloc(capacity ? capacity : 1));
    size_t outLength = 0;
    if (!ReplaceIniValues(file, length, replacements.data(), count, out, capacity, &outLength) ||
        std::string(out, outLength) != rebuilt)
        abort();
    // Nor does it write a byte more than the result.
    if (!rebuilt.empty() &&
        ReplaceIniValues(file, length, replacements.data(), count, out, rebuilt.size() - 1, &outLength))
        abort();
    const std::vector<IniValue> again = Expected(rebuilt, &hasKeys);
    if (again.size() != count)
        abort();
    for (size_t i = 0; i < count; ++i)
        if (again[i].read != found[i].read || again[i].line != found[i].line ||
            again[i].textEnd - again[i].textBegin != strlen(value) * unit)
            abort();
    free(out);
    free(file);
    return 0;
}
