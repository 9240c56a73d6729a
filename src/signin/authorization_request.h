#pragma once
#include <cstddef>

#include "signin/oauth_provider.h"
#include "signin/token_limits.h"

// The texts of an authorization code grant with PKCE (RFC 6749 section 4.1,
// RFC 7636): the URL opened in the browser and the two token request bodies.
// Each returns false, with its outputs empty, when they do not fit.

// The redirect URI the browser is sent back to: http://HOST:PORT/.
bool FormRedirectUri(const OAuthEndpoints* endpoints, int port, char* out, size_t size);

// The authorization URL with response_type=code, client_id, redirect_uri,
// scope, state, code_challenge and method S256, and login_hint when loginHint
// is not empty.
bool FormAuthorizationUrl(const OAuthEndpoints* endpoints, const char* clientId,
                          const char* redirectUri, const char* state, const char* challenge,
                          const char* loginHint, char* out, size_t size);

// Room for a token request body: a code or refresh token of the longest
// kind with every byte escaped, and the rest; and for its shown form.
const size_t kTokenRequestSize = 4 * kMaxTokenSize;
const size_t kTokenRequestShownSize = 4 * kOAuthTextSize;

// The values a token request body carries (application/x-www-form-urlencoded).
struct TokenRequestFields {
    const char* clientId;
    const char* clientSecret; // a secret; empty: not sent
    const char* redirectUri;  // code exchange only
    const char* code;         // a secret; code exchange only
    const char* verifier;     // a secret; code exchange only
    const char* refreshToken; // a secret; refresh only
    const char* scope;        // refresh only; empty: not sent
};

// A token request body in body[bodySize], and in shown[shownSize] the same with
// every secret value written as <hidden>, for the log.
bool FormCodeExchangeBody(const TokenRequestFields* fields, char* body, size_t bodySize,
                          char* shown, size_t shownSize);
bool FormRefreshBody(const TokenRequestFields* fields, char* body, size_t bodySize, char* shown,
                     size_t shownSize);
