#include "config/read_configuration.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "log/debug_log.h"
#include "text/bounded_text.h"

static int32_t MissingInt(const char*, const char*, const char*, int32_t fallback) { return fallback; }

static void MissingText(const char*, const char*, const char*, char* buffer, uint32_t size) {
    if (size > 0)
        buffer[0] = '\0';
}

static bool MissingHasKeys(const char*, const char*) { return false; }

const ProfileReader kMissingProfile = {MissingInt, MissingText, MissingHasKeys};

// Far beyond any dock item; a larger NbAccount reads only this many sections,
// so that OnCreate stays short whatever the file says.
const int32_t kMaxAccounts = 100;
// The pause between periodic checks: never a flood of logins, never a check
// that waits for weeks.
const int32_t kMinDelaySeconds = 10;
const int32_t kMaxDelaySeconds = 24 * 60 * 60;
// RFC 2177 asks for IDLE to be renewed within 29 minutes; servers may drop
// a connection idle for 30. A minimum keeps a typo from a renewal storm.
// By default a count every 5 minutes without news, well inside what home
// routers and mobile networks allow a quiet connection (5 to 15 minutes).
const int32_t kMinIdleRenewSeconds = 10;
const int32_t kMaxIdleRenewSeconds = 24 * 60;
const int32_t kDefaultIdleRenewSeconds = 5 * 60;

static int32_t Bounded(int32_t value, int32_t lowest, int32_t highest) {
    return value < lowest ? lowest : value > highest ? highest : value;
}

static int32_t AccountTypeFromText(const char* text) {
    if (EqualsIgnoringCase(text, "POP"))
        return kAccountPop;
    if (EqualsIgnoringCase(text, "IMAP"))
        return kAccountImap;
    return kAccountNone;
}

static int32_t SecurityFromText(const char* text) {
    if (text[0] == '\0' || EqualsIgnoringCase(text, "none"))
        return kSecurityNone;
    if (EqualsIgnoringCase(text, "tls"))
        return kSecurityTls;
    if (EqualsIgnoringCase(text, "starttls"))
        return kSecurityStartTls;
    return kSecurityUnknown;
}

static int32_t AuthFromText(const char* text) {
    if (text[0] == '\0' || EqualsIgnoringCase(text, "password"))
        return kAuthPassword;
    if (EqualsIgnoringCase(text, "oauth2"))
        return kAuthOAuth2;
    return kAuthUnknown;
}

static int32_t ProviderFromText(const char* text) {
    if (text[0] == '\0')
        return kProviderFromAddress;
    if (EqualsIgnoringCase(text, "microsoft"))
        return kProviderMicrosoft;
    if (EqualsIgnoringCase(text, "google"))
        return kProviderGoogle;
    if (EqualsIgnoringCase(text, "custom"))
        return kProviderCustom;
    return kProviderUnknown;
}

// Port as written: nothing takes the default, and only a plain decimal
// number from 1 to 65535 names a port; anything else (0, 99999, "imap") is
// 0, which the check refuses rather than dial some other port.
static int32_t PortFromText(const char* text, int32_t defaultPort) {
    if (text[0] == '\0')
        return defaultPort;
    int32_t port = 0;
    for (const char* digit = text; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9' || digit - text >= 5)
            return 0;
        port = port * 10 + (*digit - '0');
    }
    return port <= 65535 ? port : 0;
}

// A drive-letter, UNC or rooted path stands as written; anything else is
// taken from the docklet folder, where the INI file lies.
static void FormGivenFilePath(char* path, size_t size, const char* rootFolder, const char* relativeFolder,
                           const char* given) {
    bool absolute = (given[0] != '\0' && given[1] == ':') || given[0] == '\\' || given[0] == '/';
    if (given[0] == '\0' || absolute)
        CopyText(path, size, given);
    else
        FormFolderPath(path, size, rootFolder, relativeFolder, given);
}

// A text that filled its buffer may have been cut: what was read of it is
// not what the user wrote, so it pins nothing.
static int32_t ReadPin(const char* text, unsigned char digest[kSha256Size]) {
    if (text[0] == '\0')
        return kPinNone;
    if (strlen(text) + 1 >= static_cast<size_t>(kFingerprintTextSize) || !ParseCertificateFingerprint(text, digest))
        return kPinUnreadable;
    return kPinSet;
}

static void DumpAccount(const DockletInstance* instance, int index, const MailAccount* account) {
    WriteDebugLog(instance, "Account %d :", index);
    WriteDebugLog(instance, "  Type:%d (%s)", account->type, account->typeText);
    if (account->port != 0)
        WriteDebugLog(instance, "  Port:%d", account->port);
    else
        WriteDebugLog(instance, "  Port:%s", account->portText);
    WriteDebugLog(instance, "  Address:%s", account->address);
    WriteDebugLog(instance, "  Login:%s", account->login);
    WriteDebugLog(instance, "  Password:%s", account->maskPassword ? "********" : account->password);
    WriteDebugLog(instance, "  RegKey:%s", account->registryPath);
    for (int j = 0; j < account->dbxCount; ++j)
        WriteDebugLog(instance, "  DbxFile%d:%s", j, account->dbxPaths[j]);
    // The keys that came later show only where they are set, so that the
    // dump of an INI without them stays as it was.
    if (account->securityText[0] != '\0')
        WriteDebugLog(instance, "  Security:%s", account->securityText);
    if (account->verifyText[0] != '\0')
        WriteDebugLog(instance, "  VerifyCertificate:%s (%s)", account->verifyText,
                      account->acceptAnyCertificate ? "certificate not checked" : "certificate checked");
    if (account->caFile[0] != '\0')
        WriteDebugLog(instance, "  CAFile:%s", account->caFile);
    if (account->fingerprintText[0] != '\0')
        WriteDebugLog(instance, "  CertificateFingerprint:%s", account->fingerprintText);
    if (account->authText[0] != '\0')
        WriteDebugLog(instance, "  Auth:%s", account->authText);
    if (account->idle)
        WriteDebugLog(instance, "  Idle:1");
    const OAuthSettings& oauth = account->oauth;
    const char* const shown[][2] = {
        {"OAuthProvider", oauth.providerText}, {"OAuthClientId", oauth.clientId},
        {"OAuthClientSecret", oauth.clientSecret[0] != '\0' ? "********" : ""},
        {"OAuthTenant", oauth.tenant}, {"OAuthAuthorizeUrl", oauth.authorizeUrl},
        {"OAuthTokenUrl", oauth.tokenUrl}, {"OAuthScope", oauth.scope}, {"OAuthBrowser", oauth.browser},
    };
    for (const auto& key : shown) {
        if (key[1][0] != '\0')
            WriteDebugLog(instance, "  %s:%s", key[0], key[1]);
    }
    if (account->folder[0] != '\0')
        WriteDebugLog(instance, "  Folder:%s", account->folder);
    if (account->countNewText[0] != '\0')
        WriteDebugLog(instance, "  CountNew:%s", account->countNewText);
}

static void ReadOAuthSettings(const ProfileReader* reader, const char* iniPath, const char* section,
                              OAuthSettings* oauth) {
    reader->readText(iniPath, section, "OAuthProvider", oauth->providerText, sizeof oauth->providerText);
    oauth->provider = ProviderFromText(oauth->providerText);
    struct {
        const char* key;
        char* text;
        uint32_t size;
    } const texts[] = {
        {"OAuthClientId", oauth->clientId, sizeof oauth->clientId},
        {"OAuthClientSecret", oauth->clientSecret, sizeof oauth->clientSecret},
        {"OAuthTenant", oauth->tenant, sizeof oauth->tenant},
        {"OAuthAuthorizeUrl", oauth->authorizeUrl, sizeof oauth->authorizeUrl},
        {"OAuthTokenUrl", oauth->tokenUrl, sizeof oauth->tokenUrl},
        {"OAuthScope", oauth->scope, sizeof oauth->scope},
        {"OAuthBrowser", oauth->browser, sizeof oauth->browser},
    };
    for (const auto& text : texts)
        reader->readText(iniPath, section, text.key, text.text, text.size);
}

static void ReadPassword(const DockletInstance* instance, const ProfileReader* reader, const char* iniPath,
                         const char* section, MailAccount* account) {
    const size_t prefixLength = sizeof kProtectedPrefix - 1;
    char written[kProtectedPasswordSize + prefixLength];
    reader->readText(iniPath, section, "Password", written, sizeof written);
    char prefix[sizeof kProtectedPrefix];
    CopyText(prefix, sizeof prefix, written);
    if (EqualsIgnoringCase(prefix, kProtectedPrefix))
        CopyText(account->protectedPassword, sizeof account->protectedPassword, written + prefixLength);
    else
        CopyText(account->password, sizeof account->password, written);
    account->maskPassword = instance->protectPasswords || EqualsIgnoringCase(prefix, kProtectedPrefix);
}

static void ReadAccount(const DockletInstance* instance, const ProfileReader* reader,
                        const char* iniPath, const char* rootFolder, const char* relativeFolder, int index,
                        MailAccount* account) {
    char section[32];
    FormatText(section, sizeof section, "account%d", index);

    // A section without keys answers every key with its fallback: not asking
    // for them one by one keeps a large NbAccount over a small file quick.
    if (!reader->hasKeys(iniPath, section))
        reader = &kMissingProfile;
    reader->readText(iniPath, section, "Type", account->typeText, sizeof account->typeText);
    account->type = AccountTypeFromText(account->typeText);
    reader->readText(iniPath, section, "Security", account->securityText, sizeof account->securityText);
    account->security = SecurityFromText(account->securityText);
    int32_t defaultPort = 143;
    if (account->security == kSecurityTls)
        defaultPort = account->type == kAccountPop ? 995 : 993;
    reader->readText(iniPath, section, "Port", account->portText, sizeof account->portText);
    account->port = PortFromText(account->portText, defaultPort);
    // Only an explicit 0 turns the check off: "yes", "true" or a typo keep it.
    reader->readText(iniPath, section, "VerifyCertificate", account->verifyText, sizeof account->verifyText);
    account->acceptAnyCertificate = account->verifyText[0] == '0' && account->verifyText[1] == '\0';
    char caFile[kAccountTextSize];
    reader->readText(iniPath, section, "CAFile", caFile, sizeof caFile);
    FormGivenFilePath(account->caFile, sizeof account->caFile, rootFolder, relativeFolder, caFile);
    reader->readText(iniPath, section, "CertificateFingerprint", account->fingerprintText,
                     sizeof account->fingerprintText);
    account->pin = ReadPin(account->fingerprintText, account->pinnedDigest);
    reader->readText(iniPath, section, "Address", account->address, sizeof account->address);
    reader->readText(iniPath, section, "Login", account->login, sizeof account->login);
    ReadPassword(instance, reader, iniPath, section, account);
    reader->readText(iniPath, section, "Auth", account->authText, sizeof account->authText);
    account->auth = AuthFromText(account->authText);
    ReadOAuthSettings(reader, iniPath, section, &account->oauth);
    account->idle = reader->readInt(iniPath, section, "Idle", 0) == 1;
    reader->readText(iniPath, section, "Folder", account->folder, sizeof account->folder);
    // As VerifyCertificate: only an exact 1 turns it on.
    reader->readText(iniPath, section, "CountNew", account->countNewText, sizeof account->countNewText);
    account->countNew = account->countNewText[0] == '1' && account->countNewText[1] == '\0';
    reader->readText(iniPath, section, "RegKey", account->registryPath,
                     sizeof account->registryPath);

    account->dbxCount = reader->readInt(iniPath, section, "NbDbxFiles", 1);
    if (account->dbxCount > kMaxDbxFiles)
        account->dbxCount = kMaxDbxFiles;
    for (int j = 0; j < account->dbxCount; ++j) {
        char key[32];
        FormatText(key, sizeof key, "DbxFile%d", j);
        reader->readText(iniPath, section, key, account->dbxPaths[j], sizeof account->dbxPaths[j]);
    }
    // The list of DBX files counts only when its first entry names one.
    if (account->dbxCount <= 0 || account->dbxPaths[0][0] == '\0')
        account->dbxCount = 0;

    if (instance->debug)
        DumpAccount(instance, index, account);
}

void ReadConfiguration(DockletInstance* instance, const char* rootFolder, const char* relativeFolder,
                       const ProfileReader* reader) {
    char iniPath[kPathSize];
    if (!FormFolderPath(iniPath, sizeof iniPath, rootFolder, relativeFolder, "TidewellDocklet.ini"))
        reader = &kMissingProfile;

    instance->debug = reader->readInt(iniPath, "common", "Debug", 0) == 1;
    const int32_t accountsWritten = reader->readInt(iniPath, "common", "NbAccount", 1);
    const int32_t delayWritten = reader->readInt(iniPath, "common", "DelaySecond", 180);
    instance->accountCount = accountsWritten > kMaxAccounts ? kMaxAccounts : accountsWritten;
    instance->delaySeconds = Bounded(delayWritten, kMinDelaySeconds, kMaxDelaySeconds);
    // No one writes this value: it tells a missing key from any written one.
    const int32_t kNotWritten = INT32_MIN;
    const int32_t timeoutWritten = reader->readInt(iniPath, "common", "TimeoutSecond", kNotWritten);
    instance->timeoutSeconds = timeoutWritten == kNotWritten ? 60 : timeoutWritten;
    instance->protectPasswords = reader->readInt(iniPath, "common", "ProtectPasswords", 0) == 1;
    const int32_t renewWritten = reader->readInt(iniPath, "common", "IdleRenewSecond", kNotWritten);
    instance->idleRenewSeconds = renewWritten == kNotWritten
                                     ? kDefaultIdleRenewSeconds
                                     : Bounded(renewWritten, kMinIdleRenewSeconds, kMaxIdleRenewSeconds);
    CopyText(instance->iniPath, sizeof instance->iniPath, iniPath);
    reader->readText(iniPath, "Common", "Link", instance->link, sizeof instance->link);
    reader->readText(iniPath, "Common", "stringCheck", instance->checkText,
                     sizeof instance->checkText);
    reader->readText(iniPath, "Common", "stringNoMsg", instance->noMessageText,
                     sizeof instance->noMessageText);
    reader->readText(iniPath, "Common", "stringOneMsg", instance->oneMessageText,
                     sizeof instance->oneMessageText);
    reader->readText(iniPath, "Common", "stringHaveMsg", instance->manyMessagesTemplate,
                     sizeof instance->manyMessagesTemplate);
    reader->readText(iniPath, "Common", "stringFailed", instance->failedTemplate,
                     sizeof instance->failedTemplate);
    reader->readText(iniPath, "Common", "stringSignIn", instance->signInText, sizeof instance->signInText);
    if (instance->signInText[0] == '\0')
        CopyText(instance->signInText, sizeof instance->signInText, "Click to sign in");
    FormFolderPath(instance->logPath, sizeof instance->logPath, rootFolder, relativeFolder,
                   "Debug.log");
    instance->badge = reader->readInt(iniPath, "common", "Badge", 0) == 1;
    char sound[kPathSize];
    reader->readText(iniPath, "common", "Sound", sound, sizeof sound);
    instance->sound = sound[0] == '\0' ? kSoundNone : EqualsIgnoringCase(sound, "default") ? kSoundDefault : kSoundFile;
    if (instance->sound == kSoundFile)
        FormGivenFilePath(instance->soundPath, sizeof instance->soundPath, rootFolder, relativeFolder, sound);

    if (instance->debug) {
        WriteDebugLog(instance, "----------------------------");
        // As written: the bounds are the user guide's to tell.
        WriteDebugLog(instance, "NbAccounts:%d", accountsWritten);
        if (delayWritten == instance->delaySeconds)
            WriteDebugLog(instance, "Delay:%d seconds", delayWritten);
        else
            WriteDebugLog(instance, "Delay:%d seconds (%d used)", delayWritten, instance->delaySeconds);
        WriteDebugLog(instance, "Link:%s", instance->link);
        if (timeoutWritten != kNotWritten)
            WriteDebugLog(instance, "TimeoutSecond:%d", timeoutWritten);
        if (instance->failedTemplate[0] != '\0')
            WriteDebugLog(instance, "stringFailed:%s", instance->failedTemplate);
        if (instance->protectPasswords)
            WriteDebugLog(instance, "ProtectPasswords:1");
        if (renewWritten != kNotWritten)
            WriteDebugLog(instance, "IdleRenewSecond:%d (%d used)", renewWritten, instance->idleRenewSeconds);
        if (instance->badge)
            WriteDebugLog(instance, "Badge:1");
        if (sound[0] != '\0')
            WriteDebugLog(instance, "Sound:%s", instance->sound == kSoundFile ? instance->soundPath : sound);
    }

    if (instance->accountCount <= 0)
        return;
    // Without memory for them the instance has no accounts at all, which
    // every check cycle handles as an empty list.
    instance->accounts = static_cast<MailAccount*>(calloc(instance->accountCount, sizeof(MailAccount)));
    if (!instance->accounts) {
        instance->accountCount = 0;
        return;
    }
    for (int i = 0; i < instance->accountCount; ++i)
        ReadAccount(instance, reader, iniPath, rootFolder, relativeFolder, i, &instance->accounts[i]);
}
