// A token endpoint's JSON body as the sign-in reads it: whatever the bytes, a
// reply is either refused with a reason and no token, or gives a token of
// printable ASCII without space, whole, and a lifetime of a second to a day.
// Its ID token names who signed in printable, or says why it names no one; a
// name read whole is its own Login, and no name is an empty Login.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "shown_text.h"
#include "signin/token_reply.h"

namespace {

bool IsTokenText(const char* token, bool mayBeEmpty) {
    size_t length = strnlen(token, kMaxTokenSize);
    if (length == kMaxTokenSize || (length == 0 && !mayBeEmpty))
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (token[i] < 0x21 || token[i] > 0x7E)
            return false;
    }
    return true;
}

bool HoldsNames(const SignedInNames& names) {
    return names.email[0] != '\0' || names.username[0] != '\0';
}

// What the ID token's reading promises, checked against the plain rule.
bool NamesKeepTheirWord(const SignedInNames& names) {
    if (!IsShown(names.email, sizeof names.email) || !IsShown(names.username, sizeof names.username) ||
        !IsShown(names.why, sizeof names.why))
        return false;
    if (!names.sent)
        return !HoldsNames(names) && names.why[0] == '\0';
    if (HoldsNames(names) == (names.why[0] != '\0'))
        return false;
    if (names.username[0] != '\0' && !strchr(names.username, '@'))
        return false;
    if ((names.emailWhole && (strchr(names.email, ' ') || JudgeSignedIn(&names, names.email) != kSignedInAsLogin)) ||
        (names.usernameWhole && JudgeSignedIn(&names, names.username) != kSignedInAsLogin))
        return false;
    return JudgeSignedIn(&names, "") == (HoldsNames(names) ? kSignedInAsOther : kSignedInUnknown);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::unique_ptr<TokenReply> reply(new TokenReply);
    memset(reply.get(), 0x5A, sizeof *reply);
    bool read = ReadTokenReply(reinterpret_cast<const char*>(data), size, reply.get());
    if (read) {
        if (!IsTokenText(reply->accessToken, false) || !IsTokenText(reply->refreshToken, true) ||
            reply->expiresSeconds < 1 || reply->expiresSeconds > 86400 || reply->error[0] != '\0' ||
            !NamesKeepTheirWord(reply->signedIn))
            abort();
    } else if (reply->accessToken[0] != '\0' || reply->refreshToken[0] != '\0' ||
               reply->why[0] == '\0' || !IsShown(reply->why, sizeof reply->why) ||
               !IsShown(reply->error, sizeof reply->error) ||
               !IsShown(reply->errorDescription, sizeof reply->errorDescription) || reply->signedIn.sent ||
               !NamesKeepTheirWord(reply->signedIn)) {
        abort();
    }
    return 0;
}
