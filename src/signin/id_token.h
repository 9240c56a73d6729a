#pragma once
#include <cstddef>

// Who signed in, as the ID token names them that the token endpoint sends
// when the sign-in asked for the openid scope: Google in its email claim,
// Microsoft in email or only in preferred_username, its sign-in name.

const size_t kSignedInNameSize = 260;

// Each name is printable ('?' for any other byte) and cut to fit; empty when
// the token gave none. Only a name that came whole and in printable ASCII may
// equal a Login.
struct SignedInNames {
    bool sent;                        // the reply carried an id_token
    char email[kSignedInNameSize];    // the email claim
    char username[kSignedInNameSize]; // preferred_username, when it holds an '@'
    bool emailWhole;                  // email came whole, in printable ASCII
    bool usernameWhole;               // likewise for username
    char why[160];                    // why an ID token that was sent names no one; else empty
};

// Reads the names from the ID token jwt[length] (NULs possible), a JSON Web
// Token: header, payload and signature in base64url, separated by dots, the
// payload a JSON object. The signature is not checked: an ID token received
// straight from the token endpoint over TLS may be trusted on the strength of
// that connection's server check (OpenID Connect Core 1.0, section 3.1.3.7),
// and its names only ever stop a token from being used. Fills every field of out.
void ReadIdTokenNames(const char* jwt, size_t length, SignedInNames* out);

enum SignedInJudgement {
    kSignedInUnknown, // the token named no address
    kSignedInAsLogin, // login is one of the names
    kSignedInAsOther, // someone else signed in
};

// Whether login names who signed in: ASCII letters compared without regard
// to case, every other byte as it is; a name or a login that is not wholly
// printable ASCII is never equal (no look-alike letters, no hidden NULs).
SignedInJudgement JudgeSignedIn(const SignedInNames* names, const char* login);

// The name to show for who signed in: the email, else the username; empty when neither.
const char* ShownSignedIn(const SignedInNames* names);

// The reason an account whose Login is not who signed in fails, in why[size].
void FormSignedInElsewhere(const char* shown, const char* login, char* why, size_t size);
