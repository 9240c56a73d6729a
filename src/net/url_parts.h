#pragma once
#include <cstddef>
#include <cstdint>

// The parts of an http or https URL that a request needs. Only the forms a
// token endpoint or an authorization page can take are accepted: a name or a
// dotted IPv4 address, no user name, no fragment, plain ASCII.
struct UrlParts {
    bool tls;          // https
    char host[256];    // DNS name or dotted IPv4 address, lowercased
    int32_t port;      // 1 to 65535; 443 for https and 80 for http when not given
    char target[1024]; // path and query as sent in the request line; "/" when none
};

// Splits url into parts; false, with why[whySize] saying what is wrong, when
// the URL is refused. Plain http is only accepted towards this machine
// (127.0.0.1 or localhost): what goes to a token endpoint must not travel in clear.
bool SplitHttpUrl(const char* url, UrlParts* parts, char* why, size_t whySize);
