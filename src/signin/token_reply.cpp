#include "signin/token_reply.h"

#include <cstdlib>
#include <cstring>

#include "signin/json_object.h"
#include "text/bounded_text.h"

namespace {

// Room for a flat object of a dozen members with a few small nested values; a
// reply with more is no token reply.
const unsigned kMaxReplyValues = 64;
const int32_t kDefaultExpiresSeconds = 3600; // RFC 6749 5.1 leaves it to the server
const int32_t kMaxExpiresSeconds = 24 * 60 * 60;

bool Refuse(TokenReply* out, const char* reason) {
    FormatText(out->why, sizeof out->why, "the token endpoint's reply %s", reason);
    return false;
}

// A token must be sent back as it came: never cut, and only characters that
// survive a header line and a SASL string (RFC 6750 section 2.1 allows fewer).
bool ReadToken(const JsonObject* reply, const JsonValue* value, const char* name, char* token,
               TokenReply* out) {
    char reason[120];
    size_t length = 0;
    // "an access_token", "a refresh_token"
    const char* article = name[0] == 'a' ? "an" : "a";
    if (value->kind != kJsonString) {
        FormatText(reason, sizeof reason, "has %s %s that is not a string", article, name);
        return Refuse(out, reason);
    }
    if (!UnescapeJsonString(reply, value, token, kMaxTokenSize, &length)) {
        token[0] = '\0';
        FormatText(reason, sizeof reason, "has %s %s longer than %u bytes", article, name,
                   static_cast<unsigned>(kMaxTokenSize - 1));
        return Refuse(out, reason);
    }
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(token[i]);
        if (c < 0x21 || c > 0x7E) {
            token[0] = '\0';
            FormatText(reason, sizeof reason, "has %s %s with the byte 0x%02X at offset %u",
                       article, name, c, static_cast<unsigned>(i));
            return Refuse(out, reason);
        }
    }
    if (length == 0) {
        FormatText(reason, sizeof reason, "has an empty %s", name);
        return Refuse(out, reason);
    }
    return true;
}

void ReadPrintable(const JsonObject* reply, const JsonValue* value, char* out, size_t size) {
    char text[512];
    size_t length = 0;
    if (value->kind == kJsonString)
        UnescapeJsonString(reply, value, text, sizeof text, &length);
    else
        CopyText(text, sizeof text, "(not a string)");
    CopyPrintable(out, size, text, value->kind == kJsonString ? length : strlen(text));
}

// expires_in: a number, or digits in a string as some endpoints send it,
// held to one day at most; a fraction of a second is refused, and so is a
// token that has expired before it came (0 or less).
bool ReadExpires(const JsonObject* reply, const JsonValue* value, TokenReply* out) {
    const char* at = reply->json + value->start;
    const char* end = reply->json + value->end;
    bool negative = value->kind == kJsonPrimitive && at < end && *at == '-';
    if (negative)
        ++at;
    if ((value->kind != kJsonPrimitive && value->kind != kJsonString) || at == end)
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
        CopyPrintable(shown, sizeof shown, reply->json + value->start,
                      static_cast<size_t>(value->end - value->start));
        char reason[120];
        FormatText(reason, sizeof reason,
                   "has an expires_in of %s, not a positive number of seconds", shown);
        return Refuse(out, reason);
    }
    out->expiresSeconds = static_cast<int32_t>(seconds);
    return true;
}

// The ID token is no reason to refuse the reply: the access token holds
// without it, only who signed in stays unknown.
void ReadIdToken(const JsonObject* reply, const JsonValue* value, SignedInNames* out) {
    if (value->kind != kJsonString) {
        out->sent = true;
        CopyText(out->why, sizeof out->why, "the id_token is not a string");
        return;
    }
    char* jwt = static_cast<char*>(malloc(kMaxTokenSize));
    size_t length = 0;
    if (!jwt) {
        out->sent = true;
        CopyText(out->why, sizeof out->why, "the ID token cannot be read: no memory");
    } else if (!UnescapeJsonString(reply, value, jwt, kMaxTokenSize, &length)) {
        out->sent = true;
        FormatText(out->why, sizeof out->why, "the ID token is longer than %u bytes",
                   static_cast<unsigned>(kMaxTokenSize - 1));
    } else {
        ReadIdTokenNames(jwt, length, out);
    }
    free(jwt);
}

bool ReadMembers(const JsonObject* reply, TokenReply* out) {
    const JsonValue* error = FindJsonMember(reply, "error");
    if (error) {
        ReadPrintable(reply, error, out->error, sizeof out->error);
        if (const JsonValue* description = FindJsonMember(reply, "error_description"))
            ReadPrintable(reply, description, out->errorDescription, sizeof out->errorDescription);
        FormatText(out->why, sizeof out->why, "the token endpoint refused: %s%s%s", out->error,
                   out->errorDescription[0] ? ": " : "", out->errorDescription);
        return false;
    }
    const JsonValue* access = FindJsonMember(reply, "access_token");
    if (!access)
        return Refuse(out, "has no access_token");
    if (const JsonValue* type = FindJsonMember(reply, "token_type")) {
        char tokenType[16];
        size_t typeLength = 0;
        if (type->kind != kJsonString ||
            !UnescapeJsonString(reply, type, tokenType, sizeof tokenType, &typeLength) ||
            typeLength != strlen(tokenType) || !EqualsIgnoringCase(tokenType, "Bearer"))
            return Refuse(out, "has a token_type other than Bearer");
    }
    const JsonValue* expires = FindJsonMember(reply, "expires_in");
    if (expires && !ReadExpires(reply, expires, out))
        return false;
    if (!ReadToken(reply, access, "access_token", out->accessToken, out))
        return false;
    const JsonValue* refresh = FindJsonMember(reply, "refresh_token");
    if (refresh && !ReadToken(reply, refresh, "refresh_token", out->refreshToken, out)) {
        out->accessToken[0] = '\0';
        return false;
    }
    if (const JsonValue* idToken = FindJsonMember(reply, "id_token"))
        ReadIdToken(reply, idToken, &out->signedIn);
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
    out->signedIn = SignedInNames{};
    JsonObject* reply = static_cast<JsonObject*>(malloc(sizeof(JsonObject)));
    if (!reply)
        return Refuse(out, "cannot be read: no memory");
    char why[120];
    const bool read = ReadJsonObject(json, length, kMaxReplyValues, reply, why, sizeof why)
                          ? ReadMembers(reply, out)
                          : Refuse(out, why);
    free(reply);
    return read;
}
