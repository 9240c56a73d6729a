#pragma once
#include <cstddef>
#include <cstdint>

#include "signin/id_token.h"
#include "signin/token_limits.h"

// The token endpoint's answer (RFC 6749 sections 5.1 and 5.2), as read from its
// JSON body. Large: callers allocate it on the heap.
struct TokenReply {
    char accessToken[kMaxTokenSize];  // a secret: never written to the log
    char refreshToken[kMaxTokenSize]; // a secret; empty when the endpoint sent none
    int32_t expiresSeconds;           // lifetime of the access token, 1 to 86400
    char error[64];                   // the endpoint's error code, printable; empty on success
    char errorDescription[200];       // its error_description, printable and cut to fit
    char why[200];                    // why the reply was refused, for the log
    SignedInNames signedIn;           // who its id_token names; all empty when it sent none
};

// Reads the body json[length] (NUL bytes possible) of a token endpoint's
// response. True when it holds a Bearer access token. False otherwise, with the
// reason in why: an error reply (then error and errorDescription are filled too),
// text that is not one well-formed JSON object, a key given twice, a token
// that is too long or holds a byte other than printable ASCII without space,
// or a lifetime (expires_in) that is not positive. An id_token that cannot be
// read refuses nothing: signedIn then says why.
bool ReadTokenReply(const char* json, size_t length, TokenReply* out);
