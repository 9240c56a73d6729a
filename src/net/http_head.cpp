#include "net/http_head.h"

#include <cstring>

#include "text/hex_digit.h"

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const char* text, size_t length, const char* name) {
    if (length != strlen(name))
        return false;
    for (size_t i = 0; i < length; ++i)
        if (Lower(text[i]) != name[i])
            return false;
    return true;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The length of the line at text[0..length) without its line end; *next is
// where the following line starts (length when no line end comes).
size_t LineLength(const char* text, size_t length, size_t* next) {
    const char* end = static_cast<const char*>(memchr(text, '\n', length));
    if (!end) {
        *next = length;
        return length;
    }
    size_t line = static_cast<size_t>(end - text);
    *next = line + 1;
    return line > 0 && text[line - 1] == '\r' ? line - 1 : line;
}

// "HTTP/1.1 200 OK": the version, three digits, and an optional reason phrase.
bool ReadStatusLine(const char* line, size_t length, HttpHead* head) {
    if (length < 12 || memcmp(line, "HTTP/1.", 7) != 0 || !IsDigit(line[7]) || line[8] != ' ')
        return false;
    if (!IsDigit(line[9]) || !IsDigit(line[10]) || !IsDigit(line[11]) ||
        (length > 12 && line[12] != ' '))
        return false;
    int32_t status = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
    if (status < 100 || status > 599)
        return false;
    head->status = status;
    head->reason = length > 12 ? line + 13 : line + length;
    head->reasonLength = length > 12 ? length - 13 : 0;
    return true;
}

void Trim(const char** text, size_t* length) {
    while (*length > 0 && (**text == ' ' || **text == '\t')) {
        ++*text;
        --*length;
    }
    while (*length > 0 && ((*text)[*length - 1] == ' ' || (*text)[*length - 1] == '\t'))
        --*length;
}

bool ReadDecimal(const char* text, size_t length, uint64_t* value) {
    if (length == 0)
        return false;
    uint64_t read = 0;
    for (size_t i = 0; i < length; ++i) {
        if (!IsDigit(text[i]) || read > (UINT64_MAX - 9) / 10)
            return false;
        read = read * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    *value = read;
    return true;
}

void Refuse(HttpHead* head, const char* why) {
    if (head->framing != kHttpBodyBad) {
        head->framing = kHttpBodyBad;
        head->why = why;
    }
}

}  // namespace

void ReadHttpHead(const char* text, size_t length, HttpHead* head) {
    head->status = 0;
    head->reason = text;
    head->reasonLength = 0;
    head->framing = kHttpBodyNone;
    head->contentLength = 0;
    head->why = "";
    size_t next = 0;
    size_t line = LineLength(text, length, &next);
    if (!ReadStatusLine(text, line, head)) {
        Refuse(head, "HTTP reply without a status line");
        return;
    }
    bool lengthSeen = false, chunkedSeen = false;
    for (size_t at = next; at < length; at += next) {
        line = LineLength(text + at, length - at, &next);
        if (line == 0)
            break;
        const char* field = text + at;
        const char* colon = static_cast<const char*>(memchr(field, ':', line));
        // RFC 9112 section 5.1: no white space between a field's name and its colon.
        if (!colon || colon == field || memchr(field, ' ', static_cast<size_t>(colon - field)) ||
            memchr(field, '\t', static_cast<size_t>(colon - field))) {
            Refuse(head, "HTTP reply with a header line that is no field");
            continue;
        }
        const size_t nameLength = static_cast<size_t>(colon - field);
        const char* value = colon + 1;
        size_t valueLength = line - nameLength - 1;
        Trim(&value, &valueLength);
        if (SameName(field, nameLength, "content-length")) {
            // Two lengths, even equal ones, are how one response is smuggled inside another.
            if (lengthSeen)
                Refuse(head, "HTTP reply with more than one Content-Length");
            else if (!ReadDecimal(value, valueLength, &head->contentLength))
                Refuse(head, "HTTP reply whose Content-Length is not a number");
            lengthSeen = true;
        } else if (SameName(field, nameLength, "transfer-encoding")) {
            if (chunkedSeen || !SameName(value, valueLength, "chunked"))
                Refuse(head, "HTTP reply with a transfer coding other than chunked");
            chunkedSeen = true;
        }
    }
    if (lengthSeen && chunkedSeen)
        Refuse(head, "HTTP reply with both Content-Length and chunked transfer coding");
    if (head->framing == kHttpBodyBad)
        return;
    head->framing = chunkedSeen ? kHttpBodyChunked : lengthSeen ? kHttpBodyLength : kHttpBodyNone;
}

bool IsInterimStatus(int32_t status) {
    return status >= 100 && status <= 199 && status != 101;
}

bool ReadChunkSize(const char* line, size_t length, size_t limit, size_t* size) {
    size_t read = 0, digits = 0;
    for (; digits < length; ++digits) {
        const int value = HexDigitValue(line[digits]);
        if (value < 0)
            break;
        const size_t digit = static_cast<size_t>(value);
        if (digit > limit || read > (limit - digit) / 16)
            return false;
        read = read * 16 + digit;
    }
    // RFC 9112 section 7.1.1: extensions follow a ';', after optional white space.
    size_t rest = digits;
    while (rest < length && (line[rest] == ' ' || line[rest] == '\t'))
        ++rest;
    if (digits == 0 || (rest < length && line[rest] != ';'))
        return false;
    *size = read;
    return true;
}
