#pragma once
#include <cstddef>
#include <cstdint>

#include "docklet/docklet_instance.h"

// One HTTP/1.1 POST of a form to a token endpoint, over the connection layer
// of the mail checks: the item's time-out bounds every step, its stop event
// ends every wait, and the endpoint's certificate is always verified (the
// account's CAFile is trusted as well; its pin and VerifyCertificate are
// about the mail server and do not apply). Runs on a worker and blocks.

struct HttpResult {
    int32_t status;    // the final response's status; 0 when none was judged
    char* body;        // the decoded body, NUL-terminated, on the heap; null when none
    size_t bodyLength; // bytes of body, the terminator excluded
    char failure[400]; // why no usable response came ("no answer within 5 s: reply to POST")
    bool stopped;      // the item is going away: nothing failed, nothing to say
};

// Posts body (application/x-www-form-urlencoded) to url, which must be https
// (or http to this machine). The debug log shows the URL, shownBody in place
// of body (the caller hides its secret values) and the response's status line,
// never the response's body. True when a response was judged, whatever its
// status; false with failure or stopped set. Free the result with FreeHttpResult.
bool PostForm(const DockletInstance* instance, const MailAccount* account, const char* url,
              const char* body, const char* shownBody, HttpResult* result);

// Wipes and frees the body; safe to call twice.
void FreeHttpResult(HttpResult* result);
