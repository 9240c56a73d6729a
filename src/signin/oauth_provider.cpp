#include "signin/oauth_provider.h"

#include "config/built_in_clients.h"
#include "signin/provider_hosts.h"
#include "text/bounded_text.h"

namespace {

// The mail scopes and, for the ID token that says who signed in, openid and
// email; Microsoft gives its sign-in name (preferred_username) for profile only.
const char kMicrosoftScope[] = "https://outlook.office.com/IMAP.AccessAsUser.All "
                               "https://outlook.office.com/POP.AccessAsUser.All offline_access openid profile email";
const char kGoogleScope[] = "https://mail.google.com/ openid email";

// The tenant becomes a path segment of both URLs: nothing may end it or start
// a query there.
bool IsTenantName(const char* tenant) {
    for (const char* c = tenant; *c; ++c) {
        bool allowed = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') ||
                       (*c >= '0' && *c <= '9') || *c == '.' || *c == '-';
        if (!allowed)
            return false;
    }
    return tenant[0] != '\0';
}

bool SetMicrosoft(const OAuthSettings& oauth, OAuthEndpoints* out, char* why, size_t size) {
    const char* tenant = oauth.tenant[0] ? oauth.tenant : "common";
    if (!IsTenantName(tenant)) {
        FormatText(why, size, "OAuthTenant \"%s\" may hold only letters, digits, '.' and '-'",
                   oauth.tenant);
        return false;
    }
    FormatText(out->authorizeUrl, sizeof out->authorizeUrl,
               "https://login.microsoftonline.com/%s/oauth2/v2.0/authorize", tenant);
    FormatText(out->tokenUrl, sizeof out->tokenUrl,
               "https://login.microsoftonline.com/%s/oauth2/v2.0/token", tenant);
    CopyText(out->scope, sizeof out->scope, kMicrosoftScope);
    // Microsoft registers loopback redirects of desktop apps under this name.
    CopyText(out->redirectHost, sizeof out->redirectHost, "localhost");
    CopyText(out->providerName, sizeof out->providerName, "microsoft");
    return true;
}

void SetGoogle(OAuthEndpoints* out) {
    CopyText(out->authorizeUrl, sizeof out->authorizeUrl,
             "https://accounts.google.com/o/oauth2/v2/auth");
    CopyText(out->tokenUrl, sizeof out->tokenUrl, "https://oauth2.googleapis.com/token");
    CopyText(out->scope, sizeof out->scope, kGoogleScope);
    CopyText(out->redirectHost, sizeof out->redirectHost, "127.0.0.1");
    CopyText(out->providerName, sizeof out->providerName, "google");
}

} // namespace

bool ResolveOAuthEndpoints(const MailAccount* account, OAuthEndpoints* out, char* why,
                           size_t size) {
    const OAuthSettings& oauth = account->oauth;
    *out = OAuthEndpoints{};
    why[0] = '\0';
    const char* const noClient = "no OAuthClientId: the sign-in needs the application's client ID";
    if (oauth.clientId[0] == '\0' && !CarriesBuiltInClients()) {
        CopyText(why, size, noClient);
        return false;
    }
    int32_t provider = oauth.provider;
    if (provider == kProviderFromAddress) {
        provider = ProviderOfHost(account->address);
        if (provider == kProviderUnknown) {
            FormatText(why, size,
                       "the OAuth provider cannot be told from Address \"%s\": set OAuthProvider",
                       account->address);
            return false;
        }
    }
    switch (provider) {
    case kProviderMicrosoft:
        if (!SetMicrosoft(oauth, out, why, size))
            return false;
        break;
    case kProviderGoogle:
        SetGoogle(out);
        break;
    case kProviderCustom:
        if (!oauth.authorizeUrl[0] || !oauth.tokenUrl[0] || !oauth.scope[0]) {
            CopyText(why, size,
                     "OAuthProvider custom needs OAuthAuthorizeUrl, OAuthTokenUrl and OAuthScope");
            return false;
        }
        CopyText(out->redirectHost, sizeof out->redirectHost, "127.0.0.1");
        CopyText(out->providerName, sizeof out->providerName, "custom");
        break;
    default:
        FormatText(why, size, "unknown OAuthProvider \"%s\": microsoft, google or custom",
                   oauth.providerText);
        return false;
    }
    // The INI's client wins, with its own secret or none.
    const BuiltInClient builtIn = BuiltInClientOf(provider);
    out->clientId = oauth.clientId[0] != '\0' ? oauth.clientId : builtIn.id;
    out->clientSecret = oauth.clientId[0] != '\0' ? oauth.clientSecret : builtIn.secret;
    if (out->clientId[0] == '\0') {
        CopyText(why, size, noClient);
        return false;
    }
    if (oauth.authorizeUrl[0])
        CopyText(out->authorizeUrl, sizeof out->authorizeUrl, oauth.authorizeUrl);
    if (oauth.tokenUrl[0])
        CopyText(out->tokenUrl, sizeof out->tokenUrl, oauth.tokenUrl);
    if (oauth.scope[0])
        CopyText(out->scope, sizeof out->scope, oauth.scope);
    return true;
}
