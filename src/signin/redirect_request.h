#pragma once
#include <cstddef>
#include <cstdint>

#include "signin/token_limits.h"

// The browser's request to the loopback listener at the end of a sign-in
// (RFC 8252 section 7.3), and the page answered to it.

enum RedirectKind : int32_t {
    kRedirectCode = 0,       // a code with this sign-in's state
    kRedirectRefused = 1,    // the provider's error with this sign-in's state
    kRedirectWrongState = 2, // a redirect without this sign-in's state: not ours
    kRedirectOther = 3,      // a request for another path (a favicon, say): not the redirect
    kRedirectBad = 4,        // not an HTTP GET, or a query that cannot be read
};

// What the request said. Large: callers allocate it on the heap.
struct RedirectRequest {
    int32_t kind;               // RedirectKind
    char code[kMaxTokenSize];   // a secret: never written to the log
    char error[64];             // the provider's error code, printable, cut to fit
    char errorDescription[200]; // printable, cut to fit
    char why[200];              // for the log: what was wrong with the request
};

// Judges the request head[length] (NUL bytes possible): "GET /?query HTTP/1.x"
// with code and state, or error [error_description] and state (RFC 6749
// section 4.1.2). A parameter given twice makes the request bad.
void JudgeRedirectRequest(const char* head, size_t length, const char* expectedState,
                          RedirectRequest* out);

enum BrowserPage {
    kPageSignedIn,       // 200: the sign-in is done
    kPageRefused,        // 400: the provider refused; detail is its error
    kPageNotThisSignIn,  // 400: wrong or missing state
    kPageExchangeFailed, // 400: the code could not be exchanged; detail is the reason
};

// Writes a whole HTTP/1.1 response carrying a short HTML page in out[size],
// detail and note (a remark on the account's settings; empty: none)
// HTML-escaped. False, with out empty, when it does not fit.
bool FormatBrowserPage(char* out, size_t size, BrowserPage kind, const char* detail, const char* note);
