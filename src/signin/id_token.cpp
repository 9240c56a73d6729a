#include "signin/id_token.h"

#include <cstdlib>
#include <cstring>

#include "signin/json_object.h"
#include "text/base64.h"
#include "text/bounded_text.h"

namespace {

bool IsPlainByte(unsigned char c) {
    return c > 0x20 && c < 0x7F;
}

bool IsPlainText(const char* text) {
    for (const char* c = text; *c; ++c) {
        if (!IsPlainByte(static_cast<unsigned char>(*c)))
            return false;
    }
    return true;
}

// Copies a string claim into name[kSignedInNameSize], printable, and says in
// *whole whether it came whole and in printable ASCII. A claim that is no
// string, is empty or (needAt) holds no '@', naming no mailbox, leaves name empty.
void ReadName(const JsonObject* payload, const char* claim, bool needAt, char* name, bool* whole) {
    const JsonValue* value = FindJsonMember(payload, claim);
    if (!value || value->kind != kJsonString)
        return;
    char text[kSignedInNameSize];
    size_t length = 0;
    const bool fits = UnescapeJsonString(payload, value, text, sizeof text, &length);
    if (length == 0 || (needAt && !memchr(text, '@', length)))
        return;
    *whole = fits;
    for (size_t i = 0; i < length; ++i)
        *whole = *whole && IsPlainByte(static_cast<unsigned char>(text[i]));
    CopyPrintable(name, kSignedInNameSize, text, length);
}

bool NamesLogin(const char* name, bool whole, const char* login) {
    return whole && name[0] != '\0' && EqualsIgnoringCase(name, login);
}

void Fail(SignedInNames* out, const char* reason) {
    FormatText(out->why, sizeof out->why, "the ID token %s", reason);
}

} // namespace

void ReadIdTokenNames(const char* jwt, size_t length, SignedInNames* out) {
    *out = SignedInNames{};
    out->sent = true;
    const char* firstDot = static_cast<const char*>(memchr(jwt, '.', length));
    const char* end = jwt + length;
    const char* secondDot =
        firstDot ? static_cast<const char*>(
                       memchr(firstDot + 1, '.', static_cast<size_t>(end - firstDot - 1)))
                 : nullptr;
    if (!secondDot || memchr(secondDot + 1, '.', static_cast<size_t>(end - secondDot - 1)))
        return Fail(out, "is not header.payload.signature");
    const char* segment = firstDot + 1;
    const size_t segmentLength = static_cast<size_t>(secondDot - segment);
    const size_t capacity = segmentLength / 4 * 3 + 3;
    unsigned char* bytes = static_cast<unsigned char*>(malloc(capacity));
    if (!bytes)
        return Fail(out, "cannot be read: no memory");
    const size_t decoded = DecodeBase64Url(segment, segmentLength, bytes, capacity);
    JsonObject* payload =
        decoded > 0 ? static_cast<JsonObject*>(malloc(sizeof(JsonObject))) : nullptr;
    char why[80];
    if (decoded == 0) {
        Fail(out, "has a payload that is no base64url");
    } else if (!payload) {
        Fail(out, "cannot be read: no memory");
    } else if (!ReadJsonObject(reinterpret_cast<const char*>(bytes), decoded, kMaxJsonValues,
                               payload, why, sizeof why)) {
        FormatText(out->why, sizeof out->why, "has a payload that %s", why);
    } else {
        ReadName(payload, "email", false, out->email, &out->emailWhole);
        ReadName(payload, "preferred_username", true, out->username, &out->usernameWhole);
        if (!out->email[0] && !out->username[0])
            Fail(out, "names no address (no email, no preferred_username with an '@')");
    }
    free(payload);
    free(bytes);
}

SignedInJudgement JudgeSignedIn(const SignedInNames* names, const char* login) {
    if (names->email[0] == '\0' && names->username[0] == '\0')
        return kSignedInUnknown;
    if (IsPlainText(login) && (NamesLogin(names->email, names->emailWhole, login) ||
                               NamesLogin(names->username, names->usernameWhole, login)))
        return kSignedInAsLogin;
    return kSignedInAsOther;
}

const char* ShownSignedIn(const SignedInNames* names) {
    return names->email[0] ? names->email : names->username;
}

void FormSignedInElsewhere(const char* shown, const char* login, char* why, size_t size) {
    char loginShown[kSignedInNameSize];
    CopyPrintable(loginShown, sizeof loginShown, login, strlen(login));
    if (login[0] == '\0')
        FormatText(why, size,
                   "signed in as %s, but Login is empty: set Login to the address you sign in with",
                   shown);
    else
        FormatText(why, size,
                   "signed in as %s, but Login is %s: set Login to the address you sign in with",
                   shown, loginShown);
}
