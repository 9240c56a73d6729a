#pragma once

// An account check that signs in with an OAuth2 access token (SASL XOAUTH2)
// instead of the account's password: what the caller gives and learns back.
struct BearerLogin {
    const char* accessToken;  // sent to the server, never written to the log
    bool refused;             // set when the server answered the token with a
                              // refusal; not for a connection that failed
    bool accepted;            // set when the server took the token
};
