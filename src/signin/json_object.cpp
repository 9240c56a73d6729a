#include "signin/json_object.h"

#include <cstring>

#include "text/bounded_text.h"
#include "text/hex_digit.h"

// The Debian header is compiled here alone: strict JSON, and parent links so
// that a closing bracket finds its opening one without a search.
#define JSMN_STATIC
#define JSMN_STRICT
#define JSMN_PARENT_LINKS
#include <jsmn.h>

namespace {

const size_t kMaxJsonLength = 1024 * 1024;

// Reads the bytes of a JSON string's text (between its quotes) one at a time,
// escapes undone and \u escapes written as UTF-8.
struct StringReader {
    const char* at;
    const char* end;
    unsigned char pending[4]; // the rest of a UTF-8 sequence
    int pendingCount;
    int pendingNext;
};

StringReader StartString(const char* json, int start, int end) {
    StringReader reader{};
    reader.at = json + start;
    reader.end = json + end;
    return reader;
}

int ReadHex4(const char* at, const char* end) {
    if (end - at < 4)
        return -1;
    int value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = HexDigitValue(at[i]);
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

void QueueUtf8(StringReader* reader, unsigned long code) {
    unsigned char* p = reader->pending;
    if (code < 0x80) {
        p[0] = static_cast<unsigned char>(code);
        reader->pendingCount = 1;
    } else if (code < 0x800) {
        p[0] = static_cast<unsigned char>(0xC0 | (code >> 6));
        p[1] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        reader->pendingCount = 2;
    } else if (code < 0x10000) {
        p[0] = static_cast<unsigned char>(0xE0 | (code >> 12));
        p[1] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
        p[2] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        reader->pendingCount = 3;
    } else {
        p[0] = static_cast<unsigned char>(0xF0 | (code >> 18));
        p[1] = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F));
        p[2] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
        p[3] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        reader->pendingCount = 4;
    }
    reader->pendingNext = 0;
}

const int kStringEnd = -1;
const int kStringBad = -2;

// The next byte, kStringEnd, or kStringBad for a control character, an unknown
// escape or a surrogate without its pair (RFC 8259 section 7).
int ReadStringByte(StringReader* reader) {
    if (reader->pendingNext < reader->pendingCount)
        return reader->pending[reader->pendingNext++];
    if (reader->at >= reader->end)
        return kStringEnd;
    unsigned char c = static_cast<unsigned char>(*reader->at++);
    if (c < 0x20)
        return kStringBad;
    if (c != '\\')
        return c;
    if (reader->at >= reader->end)
        return kStringBad;
    switch (*reader->at++) {
    case '"':
        return '"';
    case '\\':
        return '\\';
    case '/':
        return '/';
    case 'b':
        return '\b';
    case 'f':
        return '\f';
    case 'n':
        return '\n';
    case 'r':
        return '\r';
    case 't':
        return '\t';
    case 'u':
        break;
    default:
        return kStringBad;
    }
    long code = ReadHex4(reader->at, reader->end);
    if (code < 0)
        return kStringBad;
    reader->at += 4;
    if (code >= 0xDC00 && code <= 0xDFFF)
        return kStringBad;
    if (code >= 0xD800 && code <= 0xDBFF) {
        if (reader->end - reader->at < 6 || reader->at[0] != '\\' || reader->at[1] != 'u')
            return kStringBad;
        long low = ReadHex4(reader->at + 2, reader->end);
        if (low < 0xDC00 || low > 0xDFFF)
            return kStringBad;
        reader->at += 6;
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    QueueUtf8(reader, static_cast<unsigned long>(code));
    return reader->pending[reader->pendingNext++];
}

bool IsValidString(const char* json, const jsmntok_t& token) {
    StringReader reader = StartString(json, token.start, token.end);
    int c;
    while ((c = ReadStringByte(&reader)) >= 0) {
    }
    return c == kStringEnd;
}

// Whether two strings read the same once their escapes are undone.
bool SameString(const char* json, const JsonValue& left, const JsonValue& right) {
    StringReader a = StartString(json, left.start, left.end);
    StringReader b = StartString(json, right.start, right.end);
    for (;;) {
        int x = ReadStringByte(&a);
        if (x != ReadStringByte(&b))
            return false;
        if (x < 0)
            return true;
    }
}

bool IsString(const char* json, const JsonValue& value, const char* text) {
    StringReader reader = StartString(json, value.start, value.end);
    for (const char* c = text;; ++c) {
        int x = ReadStringByte(&reader);
        if (*c == '\0')
            return x == kStringEnd;
        if (x != static_cast<unsigned char>(*c))
            return false;
    }
}

// Unescapes a string into out[size]; false when it does not fit. The result
// may hold NUL bytes: *length says how long it is.
bool UnescapeString(const char* json, int start, int end, char* out, size_t size, size_t* length) {
    StringReader reader = StartString(json, start, end);
    size_t at = 0;
    bool fits = true;
    for (int c; (c = ReadStringByte(&reader)) >= 0;) {
        if (at + 1 < size)
            out[at++] = static_cast<char>(c);
        else
            fits = false;
    }
    out[at] = '\0';
    *length = at;
    return fits;
}

bool IsPrimitive(const char* json, int start, int end, const char* text) {
    size_t length = strlen(text);
    return static_cast<size_t>(end - start) == length && memcmp(json + start, text, length) == 0;
}

// RFC 8259 section 6: -? (0 | [1-9][0-9]*) (.[0-9]+)? ([eE][+-]?[0-9]+)?
bool IsNumber(const char* at, const char* end) {
    auto digits = [&]() {
        const char* start = at;
        while (at < end && *at >= '0' && *at <= '9')
            ++at;
        return at > start;
    };
    if (at < end && *at == '-')
        ++at;
    if (at < end && *at == '0')
        ++at;
    else if (!digits())
        return false;
    if (at < end && *at == '.') {
        ++at;
        if (!digits())
            return false;
    }
    if (at < end && (*at == 'e' || *at == 'E')) {
        ++at;
        if (at < end && (*at == '+' || *at == '-'))
            ++at;
        if (!digits())
            return false;
    }
    return at == end;
}

bool IsValidPrimitive(const char* json, const jsmntok_t& token) {
    return IsPrimitive(json, token.start, token.end, "true") ||
           IsPrimitive(json, token.start, token.end, "false") ||
           IsPrimitive(json, token.start, token.end, "null") ||
           IsNumber(json + token.start, json + token.end);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Whether json[from..to) is blanks around exactly one separator, or blanks
// alone when separator is 0. jsmn lets stray and missing commas pass.
bool IsSeparation(const char* json, int from, int to, char separator) {
    bool seen = separator == 0;
    for (int i = from; i < to; ++i) {
        if (json[i] == separator && !seen)
            seen = true;
        else if (!IsBlank(json[i]))
            return false;
    }
    return seen;
}

int SpanStart(const jsmntok_t& token) {
    return token.type == JSMN_STRING ? token.start - 1 : token.start;
}
int SpanEnd(const jsmntok_t& token) {
    return token.type == JSMN_STRING ? token.end + 1 : token.end;
}

struct Tokens {
    const char* json;
    const jsmntok_t* list;
    int count;
};

// Checks the value at index i, and everything inside it, against the JSON
// grammar; *next is the index after it. Depth is bounded by the token count.
bool CheckValue(const Tokens& tokens, int i, int* next) {
    const jsmntok_t& value = tokens.list[i];
    *next = i + 1;
    if (value.type == JSMN_STRING)
        return IsValidString(tokens.json, value);
    if (value.type == JSMN_PRIMITIVE)
        return IsValidPrimitive(tokens.json, value);
    if (value.type != JSMN_OBJECT && value.type != JSMN_ARRAY)
        return false;
    int at = value.start + 1;
    for (int member = 0; member < value.size; ++member) {
        int j = *next;
        if (j >= tokens.count ||
            !IsSeparation(tokens.json, at, SpanStart(tokens.list[j]), member ? ',' : 0))
            return false;
        if (value.type == JSMN_OBJECT) {
            const jsmntok_t& key = tokens.list[j];
            if (key.type != JSMN_STRING || key.size != 1 || !IsValidString(tokens.json, key) ||
                j + 1 >= tokens.count ||
                !IsSeparation(tokens.json, SpanEnd(key), SpanStart(tokens.list[j + 1]), ':'))
                return false;
            ++j;
        }
        if (!CheckValue(tokens, j, next))
            return false;
        at = SpanEnd(tokens.list[j]);
    }
    return IsSeparation(tokens.json, at, value.end - 1, 0);
}

// The index after the value at i and all it holds: every token's size counts
// its children, a key's being its value.
int SkipValue(const Tokens& tokens, int i) {
    for (int pending = 1; pending > 0 && i < tokens.count; ++i)
        pending += tokens.list[i].size - 1;
    return i;
}

JsonValue ValueOf(const jsmntok_t& token) {
    const int kind = token.type == JSMN_STRING   ? kJsonString
                     : token.type == JSMN_OBJECT ? kJsonObject
                     : token.type == JSMN_ARRAY  ? kJsonArray
                                                 : kJsonPrimitive;
    return JsonValue{kind, token.start, token.end};
}

bool Refuse(char* why, size_t whySize, const char* reason) {
    CopyText(why, whySize, reason);
    return false;
}

} // namespace

bool ReadJsonObject(const char* json, size_t length, unsigned maxValues, JsonObject* out, char* why,
                    size_t whySize) {
    out->json = json;
    out->count = 0;
    if (whySize > 0)
        why[0] = '\0';
    if (length > kMaxJsonLength)
        return Refuse(why, whySize, "is longer than 1 MB");
    // jsmn stops at a NUL as if the text ended there.
    if (memchr(json, '\0', length))
        return Refuse(why, whySize, "holds a NUL byte");

    jsmn_parser parser;
    jsmntok_t list[kMaxJsonValues];
    jsmn_init(&parser);
    const int count = jsmn_parse(&parser, json, length, list,
                                 maxValues < kMaxJsonValues ? maxValues : kMaxJsonValues);
    if (count == JSMN_ERROR_NOMEM)
        return Refuse(why, whySize, "holds too many values");
    if (count <= 0)
        return Refuse(why, whySize, "is not JSON");
    Tokens tokens{json, list, count};
    int end = 0;
    if (list[0].type != JSMN_OBJECT)
        return Refuse(why, whySize, "is not a JSON object");
    if (!CheckValue(tokens, 0, &end) || end != count || !IsSeparation(json, 0, list[0].start, 0) ||
        !IsSeparation(json, list[0].end, static_cast<int>(length), 0))
        return Refuse(why, whySize, "is not well-formed JSON");

    for (int i = 1; i < count; i = SkipValue(tokens, i)) {
        const JsonValue key = ValueOf(list[i]);
        for (int k = 0; k < out->count; ++k) {
            if (SameString(json, out->members[k].key, key)) {
                char text[120];
                char name[40];
                size_t nameLength = 0;
                UnescapeString(json, list[i].start, list[i].end, text, sizeof text, &nameLength);
                CopyPrintable(name, sizeof name, text, nameLength);
                FormatText(why, whySize, "has the key \"%s\" twice", name);
                out->count = 0;
                return false;
            }
        }
        out->members[out->count++] = JsonMember{key, ValueOf(list[i + 1])};
    }
    return true;
}

const JsonValue* FindJsonMember(const JsonObject* object, const char* name) {
    for (int i = 0; i < object->count; ++i) {
        const JsonMember& member = object->members[i];
        if (IsString(object->json, member.key, name))
            return IsJsonPrimitive(object, &member.value, "null") ? nullptr : &member.value;
    }
    return nullptr;
}

bool UnescapeJsonString(const JsonObject* object, const JsonValue* value, char* out, size_t size,
                        size_t* length) {
    return UnescapeString(object->json, value->start, value->end, out, size, length);
}

bool IsJsonPrimitive(const JsonObject* object, const JsonValue* value, const char* text) {
    return value->kind == kJsonPrimitive &&
           IsPrimitive(object->json, value->start, value->end, text);
}
