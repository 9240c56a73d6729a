#pragma once
#include <cstddef>

#include "config/oauth_settings.h"

// The layout of a refresh token's file, apart from the sealing itself. The
// file is the head (a line naming it, then the binding in clear) followed by
// the sealed bytes; sealed is the binding again, then the token. The binding
// ties a token to the account and endpoints it was issued for, so that a
// token kept after any of them changed is never sent elsewhere.

// What a kept token is bound to: texts as the account's check uses them.
struct TokenBinding {
    const char* address;       // the account's Address
    const char* login;         // the account's Login
    const char* clientId;      // OAuthClientId
    const char* authorizeUrl;  // the authorization endpoint, resolved
    const char* tokenUrl;      // the token endpoint, resolved
};

// Room for a binding's text: five parts, each with its length written before it.
const size_t kTokenBindingSize = 5 * (kOAuthTextSize + 16);

// The binding as one text in text[size]: for each part its length in
// decimal, ':', the part and a line end, so that no two bindings give the
// same text. Returns its length; 0 when it does not fit.
size_t FormTokenBinding(const TokenBinding* binding, char* text, size_t size);

// The head of the file in head[size]; returns its length, 0 when it does not fit.
size_t FormTokenFileHead(const char* binding, size_t bindingLength, char* head, size_t size);

enum TokenFileHead {
    kTokenHeadOurs,          // the sealed bytes start at *sealedAt
    kTokenHeadNotOurs,       // no head of a token file
    kTokenHeadOtherBinding,  // a token file for another binding
};

// Judges the head of a file's bytes against the binding expected.
TokenFileHead ReadTokenFileHead(const char* data, size_t length, const char* binding,
                                size_t bindingLength, size_t* sealedAt);

// True for a token that can be kept: 1 to kMaxTokenSize - 1 characters,
// printable ASCII other than the space.
bool IsKeepableToken(const char* token, size_t length);

// The token's check after unsealing: the plain bytes must be the binding,
// then a token of 1 to kMaxTokenSize - 1 printable characters, copied into
// token[size]. False (token empty) otherwise.
bool ReadSealedToken(const char* plain, size_t length, const char* binding, size_t bindingLength,
                     char* token, size_t size);
