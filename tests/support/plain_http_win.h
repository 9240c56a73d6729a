#pragma once
// One plain HTTP/1.1 request to a test server, for the stand-in browser and
// the Dovecot fixture's talk with the stand-in OAuth2 server. No TLS; every
// wait is bounded.
#include <string>

struct HttpAnswer {
    int status = 0;        // from the status line
    std::string location;  // the Location header, empty when absent
    std::string body;
};

// Sends METHOD TARGET to host:port (a name or a dotted address), with `body`
// as a form when it is not empty, and reads the answer. False with *error set
// when no whole answer came within 10 s of silence.
bool PlainHttpRequest(const std::string& host, int port, const std::string& method,
                      const std::string& target, const std::string& body, HttpAnswer* answer,
                      std::string* error);

// Splits http://HOST[:PORT][/PATH][?QUERY] into its host, port (80 when not
// given) and request target ("/" at least). False for any other URL.
bool SplitHttpUrl(const std::string& url, std::string* host, int* port, std::string* target);
