#include "signin/token_reply.h"

#include <climits>
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

// Room for a flat object of a dozen members with a few small nested values; a
// reply with more is no token reply.
const unsigned kMaxJsonTokens = 64;
const size_t kMaxJsonLength = 1024 * 1024;
const int32_t kDefaultExpiresSeconds = 3600; // RFC 6749 5.1 leaves it to the server
const int32_t kMaxExpiresSeconds = 24 * 60 * 60;

// Reads the bytes of a JSON string's text (between its quotes) one at a time,
// escapes undone and \u escapes written as UTF-8.
struct StringReader {
    const char* at;
    const char* end;
    unsigned char pending[4]; // the rest of a UTF-8 sequence
    int pendingCount;
    int pendingNext;
};

StringReader StartString(const char* json, const jsmntok_t& token) {
    StringReader reader{};
    reader.at = json + token.start;
    reader.end = json + token.end;
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
    StringReader reader = StartString(json, token);
    int c;
    while ((c = ReadStringByte(&reader)) >= 0) {
    }
    return c == kStringEnd;
}

// Whether two strings read the same once their escapes are undone.
bool SameString(const char* json, const jsmntok_t& left, const jsmntok_t& right) {
    StringReader a = StartString(json, left);
    StringReader b = StartString(json, right);
    for (;;) {
        int x = ReadStringByte(&a);
        if (x != ReadStringByte(&b))
            return false;
        if (x < 0)
            return true;
    }
}

bool IsString(const char* json, const jsmntok_t& token, const char* text) {
    StringReader reader = StartString(json, token);
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
bool UnescapeString(const char* json, const jsmntok_t& token, char* out, size_t size,
                    size_t* length) {
    StringReader reader = StartString(json, token);
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

bool IsPrimitive(const char* json, const jsmntok_t& token, const char* text) {
    size_t length = strlen(text);
    return static_cast<size_t>(token.end - token.start) == length &&
           memcmp(json + token.start, text, length) == 0;
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
    return IsPrimitive(json, token, "true") || IsPrimitive(json, token, "false") ||
           IsPrimitive(json, token, "null") || IsNumber(json + token.start, json + token.end);
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

bool Refuse(TokenReply* out, const char* reason) {
    FormatText(out->why, sizeof out->why, "the token endpoint's reply %s", reason);
    return false;
}

// A token must be sent back as it came: never cut, and only characters that
// survive a header line and a SASL string (RFC 6750 section 2.1 allows fewer).
bool ReadToken(const Tokens& tokens, const jsmntok_t& value, const char* name, char* token,
               TokenReply* out) {
    char reason[120];
    size_t length = 0;
    // "an access_token", "a refresh_token"
    const char* article = name[0] == 'a' ? "an" : "a";
    if (value.type != JSMN_STRING) {
        FormatText(reason, sizeof reason, "has %s %s that is not a string", article, name);
        return Refuse(out, reason);
    }
    if (!UnescapeString(tokens.json, value, token, kMaxTokenSize, &length)) {
        token[0] = '\0';
        FormatText(reason, sizeof reason, "has %s %s longer than %u bytes", article, name,
                   static_cast<unsigned>(kMaxTokenSize - 1));
        return Refuse(out, reason);
    }
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(token[i]);
        if (c < 0x21 || c > 0x7E) {
            token[0] = '\0';
            FormatText(reason, sizeof reason, "has %s %s with the byte 0x%02X at offset %u", article,
                       name, c, static_cast<unsigned>(i));
            return Refuse(out, reason);
        }
    }
    if (length == 0) {
        FormatText(reason, sizeof reason, "has an empty %s", name);
        return Refuse(out, reason);
    }
    return true;
}

void ReadPrintable(const Tokens& tokens, const jsmntok_t& value, char* out, size_t size) {
    char text[512];
    size_t length = 0;
    if (value.type == JSMN_STRING)
        UnescapeString(tokens.json, value, text, sizeof text, &length);
    else
        CopyText(text, sizeof text, "(not a string)");
    CopyPrintable(out, size, text, value.type == JSMN_STRING ? length : strlen(text));
}

// expires_in: a number, or digits in a string as some endpoints send it,
// held to one day at most; a fraction of a second is refused, and so is a
// token that has expired before it came (0 or less).
bool ReadExpires(const Tokens& tokens, const jsmntok_t& value, TokenReply* out) {
    const char* at = tokens.json + value.start;
    const char* end = tokens.json + value.end;
    bool negative = value.type == JSMN_PRIMITIVE && at < end && *at == '-';
    if (negative)
        ++at;
    if ((value.type != JSMN_PRIMITIVE && value.type != JSMN_STRING) || at == end)
        return Refuse(out, "has an expires_in that is no whole number of seconds");
    long seconds = 0;
    for (; at < end; ++at) {
        if (*at < '0' || *at > '9')
            return Refuse(out, "has an expires_in that is no whole number of seconds");
        seconds = seconds * 10 + (*at - '0');
        if (seconds > kMaxExpiresSeconds)
            seconds = kMaxExpiresSeconds;
    }
    if (negative || seconds == 0) {
        char shown[24];
        CopyPrintable(shown, sizeof shown, tokens.json + value.start,
                      static_cast<size_t>(value.end - value.start));
        char reason[120];
        FormatText(reason, sizeof reason,
                   "has an expires_in of %s, not a positive number of seconds", shown);
        return Refuse(out, reason);
    }
    out->expiresSeconds = static_cast<int32_t>(seconds);
    return true;
}

} // namespace

bool ReadTokenReply(const char* json, size_t length, TokenReply* out) {
    out->accessToken[0] = '\0';
    out->refreshToken[0] = '\0';
    out->expiresSeconds = kDefaultExpiresSeconds;
    out->error[0] = '\0';
    out->errorDescription[0] = '\0';
    out->why[0] = '\0';
    if (length > kMaxJsonLength)
        return Refuse(out, "is longer than 1 MB");
    // jsmn stops at a NUL as if the text ended there.
    if (memchr(json, '\0', length))
        return Refuse(out, "holds a NUL byte");

    jsmn_parser parser;
    jsmntok_t list[kMaxJsonTokens];
    jsmn_init(&parser);
    int count = jsmn_parse(&parser, json, length, list, kMaxJsonTokens);
    if (count == JSMN_ERROR_NOMEM)
        return Refuse(out, "holds too many values");
    if (count <= 0)
        return Refuse(out, "is not JSON");
    Tokens tokens{json, list, count};
    int end = 0;
    if (list[0].type != JSMN_OBJECT)
        return Refuse(out, "is not a JSON object");
    if (!CheckValue(tokens, 0, &end) || end != count || !IsSeparation(json, 0, list[0].start, 0) ||
        !IsSeparation(json, list[0].end, static_cast<int>(length), 0))
        return Refuse(out, "is not well-formed JSON");

    int access = -1, refresh = -1, expires = -1, type = -1, error = -1, description = -1;
    int keys[kMaxJsonTokens];
    int keyCount = 0;
    for (int i = 1; i < count; i = SkipValue(tokens, i)) {
        for (int k = 0; k < keyCount; ++k) {
            if (SameString(json, list[keys[k]], list[i])) {
                char reason[120];
                char name[40];
                size_t nameLength = 0;
                UnescapeString(json, list[i], reason, sizeof reason, &nameLength);
                CopyPrintable(name, sizeof name, reason, nameLength);
                FormatText(reason, sizeof reason, "has the key \"%s\" twice", name);
                return Refuse(out, reason);
            }
        }
        keys[keyCount++] = i;
        // A member whose value is null is read as absent.
        if (list[i + 1].type == JSMN_PRIMITIVE && IsPrimitive(json, list[i + 1], "null"))
            continue;
        int* slot = IsString(json, list[i], "access_token")        ? &access
                    : IsString(json, list[i], "refresh_token")     ? &refresh
                    : IsString(json, list[i], "expires_in")        ? &expires
                    : IsString(json, list[i], "token_type")        ? &type
                    : IsString(json, list[i], "error")             ? &error
                    : IsString(json, list[i], "error_description") ? &description
                                                                   : nullptr;
        if (slot)
            *slot = i + 1;
    }

    if (error >= 0) {
        ReadPrintable(tokens, list[error], out->error, sizeof out->error);
        if (description >= 0)
            ReadPrintable(tokens, list[description], out->errorDescription,
                          sizeof out->errorDescription);
        FormatText(out->why, sizeof out->why, "the token endpoint refused: %s%s%s", out->error,
                   out->errorDescription[0] ? ": " : "", out->errorDescription);
        return false;
    }
    if (access < 0)
        return Refuse(out, "has no access_token");
    if (type >= 0) {
        char tokenType[16];
        size_t typeLength = 0;
        if (list[type].type != JSMN_STRING ||
            !UnescapeString(json, list[type], tokenType, sizeof tokenType, &typeLength) ||
            typeLength != strlen(tokenType) || !EqualsIgnoringCase(tokenType, "Bearer"))
            return Refuse(out, "has a token_type other than Bearer");
    }
    if (expires >= 0 && !ReadExpires(tokens, list[expires], out))
        return false;
    if (!ReadToken(tokens, list[access], "access_token", out->accessToken, out))
        return false;
    if (refresh >= 0 &&
        !ReadToken(tokens, list[refresh], "refresh_token", out->refreshToken, out)) {
        out->accessToken[0] = '\0';
        return false;
    }
    return true;
}
