#include "signin/redirect_request.h"

#include <cstring>

#include "text/bounded_text.h"
#include "text/percent_encoding.h"

namespace {

const size_t kMaxStateLength = 256;

// Only a code with this sign-in's state is kept, and only its provider's error.
void Judge(RedirectRequest* out, RedirectKind kind, const char* why) {
    out->kind = kind;
    if (kind != kRedirectCode)
        out->code[0] = '\0';
    if (kind != kRedirectRefused) {
        out->error[0] = '\0';
        out->errorDescription[0] = '\0';
    }
    CopyText(out->why, sizeof out->why, why);
}

bool StartsWith(const char* at, const char* end, const char* prefix) {
    size_t length = strlen(prefix);
    return static_cast<size_t>(end - at) >= length && memcmp(at, prefix, length) == 0;
}

// The parameters the judge reads; any other is ignored.
struct Parameters {
    bool seen[4];
    char state[kMaxStateLength];
    bool stateTooLong;
};

const char* const kNames[] = {"code", "state", "error", "error_description"};

// Reads one name=value pair of the query; false with the reason in why[kWhySize].
const size_t kWhySize = sizeof RedirectRequest{}.why;
bool ReadParameter(const char* at, const char* end, Parameters* parameters, RedirectRequest* out,
                   char* why) {
    const char* equals = static_cast<const char*>(memchr(at, '=', static_cast<size_t>(end - at)));
    const char* nameEnd = equals ? equals : end;
    const char* value = equals ? equals + 1 : end;
    size_t valueLength = static_cast<size_t>(end - value);
    char name[32];
    QueryDecoding decoded =
        DecodeQueryValue(at, static_cast<size_t>(nameEnd - at), name, sizeof name);
    if (decoded == kQueryBad) {
        CopyText(why, kWhySize, "a parameter name with a bad %-escape");
        return false;
    }
    int which = -1;
    for (int i = 0; i < 4 && decoded == kQueryDecoded; ++i) {
        if (strcmp(name, kNames[i]) == 0)
            which = i;
    }
    if (which < 0) {
        char scratch[1];
        if (DecodeQueryValue(value, valueLength, scratch, sizeof scratch) == kQueryBad) {
            CopyText(why, kWhySize, "a parameter value with a bad %-escape");
            return false;
        }
        return true;
    }
    if (parameters->seen[which]) {
        FormatText(why, kWhySize, "the parameter %s twice", kNames[which]);
        return false;
    }
    parameters->seen[which] = true;
    char text[512];
    switch (which) {
    case 0:
        decoded = DecodeQueryValue(value, valueLength, out->code, sizeof out->code);
        break;
    case 1:
        decoded = DecodeQueryValue(value, valueLength, parameters->state, sizeof parameters->state);
        parameters->stateTooLong = decoded == kQueryTooLong;
        break;
    default:
        decoded = DecodeQueryValue(value, valueLength, text, sizeof text);
        if (decoded != kQueryBad) {
            if (which == 2)
                CopyPrintable(out->error, sizeof out->error, text, strlen(text));
            else
                CopyPrintable(out->errorDescription, sizeof out->errorDescription, text,
                              strlen(text));
        }
        break;
    }
    if (decoded == kQueryBad) {
        FormatText(why, kWhySize, "the parameter %s with a bad %%-escape or a NUL", kNames[which]);
        return false;
    }
    if (which == 0 && decoded == kQueryTooLong) {
        FormatText(why, kWhySize, "a code longer than %u bytes",
                   static_cast<unsigned>(kMaxTokenSize - 1));
        return false;
    }
    return true;
}

// Room for six bytes per character of text is always enough.
void AppendHtmlEscaped(char* out, size_t size, size_t* used, const char* text) {
    for (const char* c = text; *c; ++c) {
        const char* entity = *c == '<'    ? "&lt;"
                             : *c == '>'  ? "&gt;"
                             : *c == '&'  ? "&amp;"
                             : *c == '"'  ? "&quot;"
                             : *c == '\'' ? "&#39;"
                                          : nullptr;
        char one[2] = {*c, '\0'};
        const char* piece = entity ? entity : one;
        size_t length = strlen(piece);
        if (*used + length >= size)
            return;
        memcpy(out + *used, piece, length + 1);
        *used += length;
    }
}

// A provider's description can be long: the page shows its start, printable.
const size_t kShownSize = 400;
const size_t kShownEscapedSize = 6 * kShownSize;

void ShowEscaped(char (&out)[kShownEscapedSize], const char* text) {
    char shown[kShownSize];
    CopyPrintable(shown, sizeof shown, text, strlen(text));
    size_t used = 0;
    out[0] = '\0';
    AppendHtmlEscaped(out, sizeof out, &used, shown);
}

} // namespace

void JudgeRedirectRequest(const char* head, size_t length, const char* expectedState,
                          RedirectRequest* out) {
    out->code[0] = '\0';
    out->error[0] = '\0';
    out->errorDescription[0] = '\0';
    const char* lineEnd = static_cast<const char*>(memchr(head, '\n', length));
    if (!lineEnd)
        return Judge(out, kRedirectBad, "no request line");
    if (lineEnd > head && lineEnd[-1] == '\r')
        --lineEnd;
    if (!StartsWith(head, lineEnd, "GET "))
        return Judge(out, kRedirectBad, "a request other than GET");
    const char* target = head + 4;
    const char* targetEnd =
        static_cast<const char*>(memchr(target, ' ', static_cast<size_t>(lineEnd - target)));
    if (!targetEnd || memchr(head, '\0', static_cast<size_t>(lineEnd - head)) ||
        !(StartsWith(targetEnd, lineEnd, " HTTP/1.1") ||
          StartsWith(targetEnd, lineEnd, " HTTP/1.0")) ||
        targetEnd + 9 != lineEnd)
        return Judge(out, kRedirectBad, "a request line that is not GET TARGET HTTP/1.x");
    if (!StartsWith(target, targetEnd, "/?") && !(targetEnd - target == 1 && *target == '/'))
        return Judge(out, kRedirectOther, "a request for another path");

    Parameters parameters{};
    for (const char* at = target + 2; at < targetEnd;) {
        const char* pairEnd =
            static_cast<const char*>(memchr(at, '&', static_cast<size_t>(targetEnd - at)));
        if (!pairEnd)
            pairEnd = targetEnd;
        char why[kWhySize];
        if (pairEnd > at && !ReadParameter(at, pairEnd, &parameters, out, why))
            return Judge(out, kRedirectBad, why);
        at = pairEnd + 1;
    }
    // An empty expected state would let any request with "state=" through.
    if (!parameters.seen[1] || parameters.stateTooLong || expectedState[0] == '\0' ||
        strcmp(parameters.state, expectedState) != 0)
        return Judge(out, kRedirectWrongState,
                     parameters.seen[1] ? "a state other than this sign-in's" : "no state");
    if (parameters.seen[2])
        return Judge(out, kRedirectRefused, "the provider's error");
    if (!parameters.seen[0] || out->code[0] == '\0')
        return Judge(out, kRedirectBad, "neither a code nor an error");
    Judge(out, kRedirectCode, "");
}

bool FormatBrowserPage(char* out, size_t size, BrowserPage kind, const char* detail, const char* note) {
    const char* status = kind == kPageSignedIn ? "200 OK" : "400 Bad Request";
    const char* words = kind == kPageSignedIn  ? "You are signed in. You can close this page."
                        : kind == kPageRefused ? "The provider refused the sign-in:"
                        : kind == kPageNotThisSignIn
                            ? "This is not the sign-in the docklet is waiting for. "
                              "Start the sign-in again from the docklet."
                            : "The sign-in could not be completed:";
    bool hasDetail = kind == kPageRefused || kind == kPageExchangeFailed;
    char escaped[kShownEscapedSize];
    char noted[kShownEscapedSize];
    ShowEscaped(escaped, detail);
    ShowEscaped(noted, note);
    char body[2 * kShownEscapedSize + 512];
    FormatText(body, sizeof body,
               "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Tidewell "
               "sign-in</title></head>\n"
               "<body><p>%s</p>%s%s%s%s%s%s\n</body></html>\n",
               words, hasDetail ? "\n<p>" : "", hasDetail ? escaped : "", hasDetail ? "</p>" : "",
               noted[0] ? "\n<p>Note: " : "", noted, noted[0] ? "</p>" : "");
    if (FormatText(out, size,
                   "HTTP/1.1 %s\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: %u\r\n"
                   "Connection: close\r\n\r\n%s",
                   status, static_cast<unsigned>(strlen(body)), body))
        return true;
    if (size > 0)
        out[0] = '\0';
    return false;
}
