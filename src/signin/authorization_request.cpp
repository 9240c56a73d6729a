#include "signin/authorization_request.h"

#include <cstring>

#include "text/bounded_text.h"
#include "text/percent_encoding.h"

namespace {

// Writes name=value pairs, values percent-encoded, into one text and, when
// shown is set, a second one for the log with secret values hidden.
struct FormWriter {
    char* out;
    size_t size;
    size_t used;
    char* shown;
    size_t shownSize;
    size_t shownUsed;
    bool fits;
};

bool AppendRaw(char* out, size_t size, size_t* used, const char* text) {
    size_t length = strlen(text);
    if (*used + length >= size)
        return false;
    memcpy(out + *used, text, length + 1);
    *used += length;
    return true;
}

void AddField(FormWriter* writer, const char* separator, const char* name, const char* value,
              bool secret) {
    writer->fits = writer->fits && AppendRaw(writer->out, writer->size, &writer->used, separator) &&
                   AppendRaw(writer->out, writer->size, &writer->used, name) &&
                   AppendRaw(writer->out, writer->size, &writer->used, "=") &&
                   AppendPercentEncoded(writer->out, writer->size, &writer->used, value);
    if (!writer->shown)
        return;
    writer->fits =
        writer->fits &&
        AppendRaw(writer->shown, writer->shownSize, &writer->shownUsed, separator) &&
        AppendRaw(writer->shown, writer->shownSize, &writer->shownUsed, name) &&
        AppendRaw(writer->shown, writer->shownSize, &writer->shownUsed, "=") &&
        (secret
             ? AppendRaw(writer->shown, writer->shownSize, &writer->shownUsed, "<hidden>")
             : AppendPercentEncoded(writer->shown, writer->shownSize, &writer->shownUsed, value));
}

FormWriter StartForm(char* out, size_t size, char* shown, size_t shownSize) {
    if (size > 0)
        out[0] = '\0';
    if (shown && shownSize > 0)
        shown[0] = '\0';
    return FormWriter{out, size, 0, shown, shownSize, 0, size > 0 && (!shown || shownSize > 0)};
}

bool EndForm(FormWriter* writer) {
    if (!writer->fits) {
        if (writer->size > 0)
            writer->out[0] = '\0';
        if (writer->shown && writer->shownSize > 0)
            writer->shown[0] = '\0';
    }
    return writer->fits;
}

} // namespace

bool FormRedirectUri(const OAuthEndpoints* endpoints, int port, char* out, size_t size) {
    if (FormatText(out, size, "http://%s:%d/", endpoints->redirectHost, port))
        return true;
    if (size > 0)
        out[0] = '\0';
    return false;
}

bool FormAuthorizationUrl(const OAuthEndpoints* endpoints, const char* clientId,
                          const char* redirectUri, const char* state, const char* challenge,
                          const char* loginHint, char* out, size_t size) {
    FormWriter writer = StartForm(out, size, nullptr, 0);
    writer.fits = writer.fits && AppendRaw(out, size, &writer.used, endpoints->authorizeUrl);
    // An endpoint may come with a query of its own (a policy name, say).
    AddField(&writer, strchr(endpoints->authorizeUrl, '?') ? "&" : "?", "response_type", "code",
             false);
    AddField(&writer, "&", "client_id", clientId, false);
    AddField(&writer, "&", "redirect_uri", redirectUri, false);
    AddField(&writer, "&", "scope", endpoints->scope, false);
    AddField(&writer, "&", "state", state, false);
    AddField(&writer, "&", "code_challenge", challenge, false);
    AddField(&writer, "&", "code_challenge_method", "S256", false);
    if (loginHint[0])
        AddField(&writer, "&", "login_hint", loginHint, false);
    return EndForm(&writer);
}

bool FormCodeExchangeBody(const TokenRequestFields* fields, char* body, size_t bodySize,
                          char* shown, size_t shownSize) {
    FormWriter writer = StartForm(body, bodySize, shown, shownSize);
    AddField(&writer, "", "grant_type", "authorization_code", false);
    AddField(&writer, "&", "code", fields->code, true);
    AddField(&writer, "&", "redirect_uri", fields->redirectUri, false);
    AddField(&writer, "&", "client_id", fields->clientId, false);
    AddField(&writer, "&", "code_verifier", fields->verifier, true);
    if (fields->clientSecret[0])
        AddField(&writer, "&", "client_secret", fields->clientSecret, true);
    return EndForm(&writer);
}

bool FormRefreshBody(const TokenRequestFields* fields, char* body, size_t bodySize, char* shown,
                     size_t shownSize) {
    FormWriter writer = StartForm(body, bodySize, shown, shownSize);
    AddField(&writer, "", "grant_type", "refresh_token", false);
    AddField(&writer, "&", "refresh_token", fields->refreshToken, true);
    AddField(&writer, "&", "client_id", fields->clientId, false);
    if (fields->clientSecret[0])
        AddField(&writer, "&", "client_secret", fields->clientSecret, true);
    if (fields->scope[0])
        AddField(&writer, "&", "scope", fields->scope, false);
    return EndForm(&writer);
}
