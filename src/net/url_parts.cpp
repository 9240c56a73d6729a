#include "net/url_parts.h"

#include <cstring>

#include "text/bounded_text.h"

namespace {

const size_t kMaxUrlLength = 2048;

bool StartsWithIgnoringCase(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix) {
        char c = *text >= 'A' && *text <= 'Z' ? static_cast<char>(*text - 'A' + 'a') : *text;
        if (c != *prefix)
            return false;
    }
    return true;
}

bool IsHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// Reads the decimal port in text[0..length); false unless it is 1 to 65535.
bool ReadPort(const char* text, size_t length, int32_t* port) {
    if (length == 0 || length > 5)
        return false;
    int32_t value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    if (value < 1 || value > 65535)
        return false;
    *port = value;
    return true;
}

bool Refuse(char* why, size_t whySize, const char* reason) {
    CopyText(why, whySize, reason);
    return false;
}

}  // namespace

bool SplitHttpUrl(const char* url, UrlParts* parts, char* why, size_t whySize) {
    const size_t length = strlen(url);
    if (length > kMaxUrlLength)
        return Refuse(why, whySize, "the URL is longer than 2048 characters");
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(url[i]);
        if (c <= 0x20 || c >= 0x7F)
            return Refuse(why, whySize,
                          "the URL holds a space, a control character or a non-ASCII byte");
    }
    // A fragment is never sent; a URL that has one was not meant for a request.
    if (strchr(url, '#'))
        return Refuse(why, whySize, "the URL has a fragment (#)");

    const char* rest;
    if (StartsWithIgnoringCase(url, "https://")) {
        parts->tls = true;
        parts->port = 443;
        rest = url + 8;
    } else if (StartsWithIgnoringCase(url, "http://")) {
        parts->tls = false;
        parts->port = 80;
        rest = url + 7;
    } else {
        return Refuse(why, whySize, "the URL is neither https:// nor http://");
    }

    const size_t authority = strcspn(rest, "/?");
    if (memchr(rest, '@', authority))
        return Refuse(why, whySize, "the URL names a user (@)");
    if (authority > 0 && rest[0] == '[')
        return Refuse(why, whySize, "the URL's host is an IPv6 address");
    const char* colon = static_cast<const char*>(memchr(rest, ':', authority));
    const size_t hostLength = colon ? static_cast<size_t>(colon - rest) : authority;
    if (hostLength == 0)
        return Refuse(why, whySize, "the URL has no host");
    if (hostLength >= sizeof parts->host)
        return Refuse(why, whySize, "the URL's host is longer than 255 characters");
    for (size_t i = 0; i < hostLength; ++i) {
        char c =
            rest[i] >= 'A' && rest[i] <= 'Z' ? static_cast<char>(rest[i] - 'A' + 'a') : rest[i];
        if (!IsHostCharacter(c))
            return Refuse(why, whySize, "the URL's host is not a name or an IPv4 address");
        parts->host[i] = c;
    }
    parts->host[hostLength] = '\0';
    if (colon && !ReadPort(colon + 1, authority - hostLength - 1, &parts->port))
        return Refuse(why, whySize, "the URL's port is not a TCP port (1 to 65535)");
    if (!parts->tls && strcmp(parts->host, "127.0.0.1") != 0 &&
        strcmp(parts->host, "localhost") != 0)
        return Refuse(why, whySize,
                      "the URL is http://, which is only for this machine (127.0.0.1 or "
                      "localhost): use https://");

    // A query right after the authority belongs to the root path.
    const char* path = rest + authority;
    if (!FormatText(parts->target, sizeof parts->target, "%s%s", path[0] == '/' ? "" : "/", path))
        return Refuse(why, whySize, "the URL's path and query are longer than 1023 characters");
    return true;
}
