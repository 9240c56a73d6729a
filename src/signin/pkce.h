#pragma once
#include <cstddef>

// PKCE (RFC 7636) texts: the code verifier and the state are 32 random bytes,
// the challenge the SHA-256 of the verifier's text, each written in base64url
// without padding (RFC 4648 section 5), 43 characters.

const size_t kPkceBytes = 32;
const size_t kPkceTextSize = 44; // 43 characters and the terminator

struct Pkce {
    char verifier[kPkceTextSize];  // a secret until the code is exchanged
    char challenge[kPkceTextSize]; // sent in the authorization URL
    char state[kPkceTextSize];     // ties the browser's redirect to this sign-in
};

// Writes bytes[kPkceBytes] in base64url without padding.
void EncodePkceText(const unsigned char bytes[kPkceBytes], char text[kPkceTextSize]);
