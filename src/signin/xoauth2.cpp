#include "signin/xoauth2.h"

#include <cstdlib>
#include <cstring>

#include "signin/token_limits.h"
#include "text/base64.h"
#include "text/bounded_text.h"
#include "text/secret_wipe.h"

namespace {

const char kUser[] = "user=";
const char kAuth[] = "\x01" "auth=Bearer ";
const char kEnd[] = "\x01\x01";

// The challenge shown is bounded so that the reason line stays one readable line.
const size_t kShownChallenge = 160;

bool HasControl(const char* text) {
    for (; *text; ++text)
        if (static_cast<unsigned char>(*text) < 0x20 || *text == 0x7F)
            return true;
    return false;
}

// Appends bytes to reason, printable ASCII as it is and the rest as \xNN,
// with "..." when not all of them fit within kShownChallenge.
void AppendPrintable(char* reason, size_t size, const unsigned char* bytes, size_t length) {
    size_t at = strlen(reason);
    const size_t start = at;
    for (size_t i = 0; i < length; ++i) {
        char piece[5];
        unsigned char c = bytes[i];
        if (c >= 0x20 && c < 0x7F && c != '\\')
            FormatText(piece, sizeof piece, "%c", c);
        else
            FormatText(piece, sizeof piece, "\\x%02X", c);
        const size_t pieceLength = strlen(piece);
        if (at - start + pieceLength > kShownChallenge || at + pieceLength + 4 > size) {
            CopyText(reason + at, size - at, "...");
            return;
        }
        memcpy(reason + at, piece, pieceLength + 1);
        at += pieceLength;
    }
}

} // namespace

char* FormXoauth2Line(const char* prefix, const char* login, const char* accessToken, char* why,
                      size_t whySize) {
    const size_t tokenLength = strlen(accessToken);
    if (HasControl(login)) {
        CopyText(why, whySize, "the account's Login holds a control character, which XOAUTH2 cannot carry");
        return nullptr;
    }
    if (tokenLength == 0 || HasControl(accessToken)) {
        FormatText(why, whySize, "the access token cannot be sent: %s",
                   tokenLength == 0 ? "it is empty" : "it holds a control character");
        return nullptr;
    }
    if (tokenLength >= kMaxTokenSize) {
        FormatText(why, whySize, "the access token cannot be sent: it is longer than %u bytes",
                   static_cast<unsigned>(kMaxTokenSize - 1));
        return nullptr;
    }
    const size_t loginLength = strlen(login);
    const size_t plainLength = sizeof kUser - 1 + loginLength + sizeof kAuth - 1 + tokenLength + sizeof kEnd - 1;
    char* plain = static_cast<char*>(malloc(plainLength + 1));
    const size_t prefixLength = strlen(prefix);
    const size_t lineSize = prefixLength + (plainLength + 2) / 3 * 4 + 3;
    char* line = static_cast<char*>(malloc(lineSize));
    bool formed = plain && line;
    if (formed) {
        FormatText(plain, plainLength + 1, "%s%s%s%s%s", kUser, login, kAuth, accessToken, kEnd);
        memcpy(line, prefix, prefixLength);
        formed = EncodeBase64(reinterpret_cast<unsigned char*>(plain), plainLength, line + prefixLength,
                              lineSize - prefixLength - 2);
    }
    if (formed)
        memcpy(line + strlen(line), "\r\n", 3);
    if (plain) {
        WipeSecret(plain, plainLength + 1);
        free(plain);
    }
    if (!formed) {
        CopyText(why, whySize, "no memory for the XOAUTH2 line");
        FreeSecretLine(line);
        return nullptr;
    }
    return line;
}

void FreeSecretLine(char* line) {
    if (!line)
        return;
    WipeSecret(line, strlen(line));
    free(line);
}

void DescribeXoauth2Challenge(const char* challenge, size_t length, char* reason, size_t size) {
    // A little more than is ever shown, so that a longer challenge shows as cut;
    // only its start is decoded, in whole groups of four.
    unsigned char decoded[(kShownChallenge / 3 + 1) * 3];
    const size_t decodable = sizeof decoded / 3 * 4;
    size_t decodedLength = DecodeBase64(challenge, length < decodable ? length : decodable, decoded, sizeof decoded);
    if (length == 0) {
        CopyText(reason, size, "XOAUTH2 refused (an empty challenge)");
    } else if (decodedLength > 0) {
        CopyText(reason, size, "XOAUTH2 refused: ");
        AppendPrintable(reason, size, decoded, decodedLength);
    } else {
        CopyText(reason, size, "XOAUTH2 refused, a challenge that is no Base64: ");
        AppendPrintable(reason, size, reinterpret_cast<const unsigned char*>(challenge), length);
    }
}
