// The request a browser, or anything else on this machine, sends to the
// sign-in's loopback listener: only a GET of / with this sign-in's state
// carries a code, and whatever is kept of it is whole and printable where it
// is shown.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "shown_text.h"
#include "signin/redirect_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::unique_ptr<RedirectRequest> request(new RedirectRequest);
    memset(request.get(), 0x5A, sizeof *request);
    const std::string head(reinterpret_cast<const char*>(data), size);
    JudgeRedirectRequest(head.data(), head.size(), "S1", request.get());
    bool hasCode = strnlen(request->code, sizeof request->code) > 0;
    if (request->kind < kRedirectCode || request->kind > kRedirectBad ||
        strnlen(request->code, sizeof request->code) == sizeof request->code ||
        hasCode != (request->kind == kRedirectCode) ||
        (request->kind != kRedirectRefused && request->error[0] != '\0') ||
        !IsShown(request->error, sizeof request->error) ||
        !IsShown(request->errorDescription, sizeof request->errorDescription) ||
        !IsShown(request->why, sizeof request->why))
        abort();
    // A code only ever comes from a GET of / with the state.
    if (request->kind == kRedirectCode &&
        (head.compare(0, 6, "GET /?") != 0 || head.find("state=S1") == std::string::npos))
        abort();
    return 0;
}
