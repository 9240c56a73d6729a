#include "config/keys_not_applying.h"

#include "log/debug_log.h"
#include "text/bounded_text.h"

namespace {

const char kNotUsed[] = "not used";

bool Encrypted(const MailAccount& account) {
    return account.security != kSecurityNone;
}

bool Pinned(const MailAccount& account) {
    return account.pin == kPinSet;
}

bool OAuth2(const MailAccount& account) {
    return account.auth == kAuthOAuth2;
}

// Where a set key does not apply: the accounts it applies to (null where it
// applies here) and what happens instead.
struct Verdict {
    const char* appliesTo;
    const char* instead;
};

Verdict TypeVerdict(bool applies, const char* type) {
    return {applies ? nullptr : type, kNotUsed};
}

// The certificate keys: TLS with the mail server, and for CAFile the token
// endpoint of a sign-in too; a pinned certificate leaves both to the pin.
Verdict VerifyVerdict(const MailAccount& account) {
    if (!Encrypted(account))
        return {"accounts with Security=tls or starttls", kNotUsed};
    return {Pinned(account) ? "accounts without CertificateFingerprint" : nullptr, kNotUsed};
}

Verdict CaFileVerdict(const MailAccount& account) {
    if (OAuth2(account))
        return {nullptr, nullptr};
    if (!Encrypted(account))
        return {"accounts with Security=tls or starttls, or Auth=oauth2,", kNotUsed};
    return {Pinned(account) ? "accounts without CertificateFingerprint, or with Auth=oauth2," : nullptr, kNotUsed};
}

void Log(const DockletInstance* instance, int index, const char* key, const Verdict& verdict) {
    if (verdict.appliesTo)
        WriteDebugLog(instance, "Account %d: %s applies to %s only: %s", index, key, verdict.appliesTo,
                      verdict.instead);
}

} // namespace

void LogKeysNotApplying(const DockletInstance* instance, int index, const MailAccount* account) {
    const MailAccount& a = *account;
    if (a.type != kAccountImap && a.type != kAccountPop)
        return;
    const bool imap = a.type == kAccountImap;
    if (a.security != kSecurityUnknown) {
        if (a.verifyText[0] != '\0')
            Log(instance, index, "VerifyCertificate", VerifyVerdict(a));
        if (a.caFile[0] != '\0')
            Log(instance, index, "CAFile", CaFileVerdict(a));
        if (Pinned(a) && !Encrypted(a))
            Log(instance, index, "CertificateFingerprint",
                {"accounts with Security=tls or starttls", "every check of the account fails"});
    }
    if (OAuth2(a) && (a.password[0] != '\0' || a.protectedPassword[0] != '\0'))
        Log(instance, index, "Password", {"accounts with Auth=password", kNotUsed});
    const OAuthSettings& oauth = a.oauth;
    const struct {
        const char* key;
        const char* text;
    } oauthKeys[] = {
        {"OAuthProvider", oauth.providerText}, {"OAuthClientId", oauth.clientId},
        {"OAuthClientSecret", oauth.clientSecret}, {"OAuthTenant", oauth.tenant},
        {"OAuthAuthorizeUrl", oauth.authorizeUrl}, {"OAuthTokenUrl", oauth.tokenUrl},
        {"OAuthScope", oauth.scope}, {"OAuthBrowser", oauth.browser},
    };
    for (const auto& key : oauthKeys) {
        if (key.text[0] != '\0' && a.auth == kAuthPassword)
            Log(instance, index, key.key, {"accounts with Auth=oauth2", kNotUsed});
    }
    if (oauth.tenant[0] != '\0' && OAuth2(a) &&
        (oauth.provider == kProviderGoogle || oauth.provider == kProviderCustom))
        Log(instance, index, "OAuthTenant", {"OAuthProvider=microsoft", kNotUsed});
    if (a.folder[0] != '\0')
        Log(instance, index, "Folder", TypeVerdict(imap, "IMAP accounts"));
    if (a.registryPath[0] != '\0')
        Log(instance, index, "RegKey", TypeVerdict(!imap, "POP accounts"));
    for (int j = 0; j < a.dbxCount; ++j) {
        char key[32];
        FormatText(key, sizeof key, "DbxFile%d", j);
        if (a.dbxPaths[j][0] != '\0')
            Log(instance, index, key, TypeVerdict(!imap, "POP accounts"));
    }
}

void LogCommonKeysNotApplying(const DockletInstance* instance, bool idleRenewWritten, bool signInWritten) {
    bool idling = false;
    bool signingIn = false;
    for (int i = 0; i < instance->accountCount; ++i) {
        const MailAccount& account = instance->accounts[i];
        idling = idling || (account.idle && account.type == kAccountImap);
        signingIn = signingIn || OAuth2(account);
    }
    if (idleRenewWritten && !idling)
        WriteDebugLog(instance, "IdleRenewSecond applies to IMAP accounts with Idle=1 only: %s", kNotUsed);
    if (signInWritten && !signingIn)
        WriteDebugLog(instance, "stringSignIn applies to accounts with Auth=oauth2 only: %s", kNotUsed);
}
