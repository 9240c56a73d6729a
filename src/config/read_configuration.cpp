#include "config/read_configuration.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "config/built_in_clients.h"
#include "config/keys_not_applying.h"
#include "log/debug_log.h"
#include "text/bounded_text.h"

static int32_t MissingInt(const void*, const char*, const char*, int32_t fallback) { return fallback; }

static bool MissingText(const void*, const char*, const char*, ProfileTextForm, char* buffer, uint32_t size) {
    if (size > 0)
        buffer[0] = '\0';
    return true;
}

static bool MissingHasKeys(const void*, const char*) { return false; }

const ProfileReader kMissingProfile = {nullptr, false, MissingInt, MissingText, MissingHasKeys};

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

// Room for the reason lines of one section's texts that lost a character to
// the code page: every text key of an account, DbxFile keys included.
const int kMaxLostTexts = 40;

// One section being read, and the keys whose texts came out of the UTF-8 of
// the file changed, for their reason lines.
struct SectionReading {
    const ProfileReader* reader;
    const char* section;
    struct {
        char key[24];
        const char* read;  // the text as read; null for a secret, never shown
    } lost[kMaxLostTexts];
    int lostCount;
};

static int32_t ReadInt(const SectionReading* reading, const char* key, int32_t fallback) {
    return reading->reader->readInt(reading->reader->file, reading->section, key, fallback);
}

// The text of the key, in the code page unless asked as written.
static void ReadText(SectionReading* reading, const char* key, char* buffer, uint32_t size,
                     ProfileTextForm form = kProfileCodePage, bool secret = false) {
    const ProfileReader* reader = reading->reader;
    if (reader->readText(reader->file, reading->section, key, form, buffer, size) ||
        reading->lostCount == kMaxLostTexts)
        return;
    CopyText(reading->lost[reading->lostCount].key, sizeof reading->lost[0].key, key);
    reading->lost[reading->lostCount].read = secret ? nullptr : buffer;
    ++reading->lostCount;
}

// Says which texts of the section lost a character: prefix names the account.
static void LogLostTexts(const DockletInstance* instance, const SectionReading& reading, const char* prefix) {
    for (int i = 0; i < reading.lostCount; ++i) {
        if (reading.lost[i].read)
            WriteDebugLog(instance, "%s%s: a character of it is not in Windows' ANSI code page: read as \"%s\"",
                          prefix, reading.lost[i].key, reading.lost[i].read);
        else
            WriteDebugLog(instance,
                          "%s%s: a character of it is not in Windows' ANSI code page: read with a stand-in for it",
                          prefix, reading.lost[i].key);
    }
}

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

// The client IDs a build carries for the account's provider (either, while
// its Address decides), and whether the account uses them; never a secret.
static void DumpBuiltInClients(const DockletInstance* instance, const OAuthSettings& oauth) {
    const struct {
        int32_t provider;
        const char* name;
    } providers[] = {{kProviderMicrosoft, "microsoft"}, {kProviderGoogle, "google"}};
    for (const auto& provider : providers) {
        const BuiltInClient client = BuiltInClientOf(provider.provider);
        if (client.id[0] == '\0' || (oauth.provider != kProviderFromAddress && oauth.provider != provider.provider))
            continue;
        WriteDebugLog(instance, "  OAuthClientId of this build for %s:%s%s", provider.name, client.id,
                      oauth.clientId[0] != '\0' ? " (not used: the INI's wins)" : "");
    }
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
    if (account->auth == kAuthOAuth2)
        DumpBuiltInClients(instance, oauth);
    if (account->folder[0] != '\0')
        WriteDebugLog(instance, "  Folder:%s", account->folder);
    if (account->countNewText[0] != '\0')
        WriteDebugLog(instance, "  CountNew:%s", account->countNewText);
}

static void ReadOAuthSettings(SectionReading* reading, OAuthSettings* oauth) {
    ReadText(reading, "OAuthProvider", oauth->providerText, sizeof oauth->providerText);
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
        ReadText(reading, text.key, text.text, text.size, kProfileCodePage, text.text == oauth->clientSecret);
}

// Login and password go to the server byte for byte as the file holds them.
static void ReadPassword(const DockletInstance* instance, SectionReading* reading, MailAccount* account) {
    const size_t prefixLength = sizeof kProtectedPrefix - 1;
    char written[kProtectedPasswordSize + prefixLength];
    ReadText(reading, "Password", written, sizeof written, kProfileAsWritten);
    char prefix[sizeof kProtectedPrefix];
    CopyText(prefix, sizeof prefix, written);
    if (EqualsIgnoringCase(prefix, kProtectedPrefix))
        CopyText(account->protectedPassword, sizeof account->protectedPassword, written + prefixLength);
    else
        CopyText(account->password, sizeof account->password, written);
    account->maskPassword = instance->protectPasswords || EqualsIgnoringCase(prefix, kProtectedPrefix);
}

static void ReadAccount(const DockletInstance* instance, const ProfileReader* reader,
                        const char* rootFolder, const char* relativeFolder, int index, MailAccount* account) {
    char section[32];
    FormatText(section, sizeof section, "account%d", index);

    account->folderUtf8 = reader->utf8;
    // A section without keys answers every key with its fallback: not asking
    // for them one by one keeps a large NbAccount over a small file quick.
    if (!reader->hasKeys(reader->file, section))
        reader = &kMissingProfile;
    SectionReading reading = {reader, section, {}, 0};
    ReadText(&reading, "Type", account->typeText, sizeof account->typeText);
    account->type = AccountTypeFromText(account->typeText);
    ReadText(&reading, "Security", account->securityText, sizeof account->securityText);
    account->security = SecurityFromText(account->securityText);
    int32_t defaultPort = 143;
    if (account->security == kSecurityTls)
        defaultPort = account->type == kAccountPop ? 995 : 993;
    ReadText(&reading, "Port", account->portText, sizeof account->portText);
    account->port = PortFromText(account->portText, defaultPort);
    // Only an explicit 0 turns the check off: "yes", "true" or a typo keep it.
    ReadText(&reading, "VerifyCertificate", account->verifyText, sizeof account->verifyText);
    account->acceptAnyCertificate = account->verifyText[0] == '0' && account->verifyText[1] == '\0';
    char caFile[kAccountTextSize];
    ReadText(&reading, "CAFile", caFile, sizeof caFile);
    FormGivenFilePath(account->caFile, sizeof account->caFile, rootFolder, relativeFolder, caFile);
    ReadText(&reading, "CertificateFingerprint", account->fingerprintText, sizeof account->fingerprintText);
    account->pin = ReadPin(account->fingerprintText, account->pinnedDigest);
    ReadText(&reading, "Address", account->address, sizeof account->address);
    ReadText(&reading, "Login", account->login, sizeof account->login, kProfileAsWritten);
    ReadPassword(instance, &reading, account);
    ReadText(&reading, "Auth", account->authText, sizeof account->authText);
    account->auth = AuthFromText(account->authText);
    ReadOAuthSettings(&reading, &account->oauth);
    account->idle = ReadInt(&reading, "Idle", 0) == 1;
    // The server is asked for the folder in Unicode: nothing of a UTF-8 name is lost.
    ReadText(&reading, "Folder", account->folder, sizeof account->folder, kProfileAsWritten);
    // As VerifyCertificate: only an exact 1 turns it on.
    ReadText(&reading, "CountNew", account->countNewText, sizeof account->countNewText);
    account->countNew = account->countNewText[0] == '1' && account->countNewText[1] == '\0';
    ReadText(&reading, "RegKey", account->registryPath, sizeof account->registryPath);

    account->dbxCount = ReadInt(&reading, "NbDbxFiles", 1);
    if (account->dbxCount > kMaxDbxFiles)
        account->dbxCount = kMaxDbxFiles;
    for (int j = 0; j < account->dbxCount; ++j) {
        char key[32];
        FormatText(key, sizeof key, "DbxFile%d", j);
        ReadText(&reading, key, account->dbxPaths[j], sizeof account->dbxPaths[j]);
    }
    // The list of DBX files counts only when its first entry names one.
    if (account->dbxCount <= 0 || account->dbxPaths[0][0] == '\0')
        account->dbxCount = 0;

    if (instance->debug) {
        DumpAccount(instance, index, account);
        char prefix[32];
        FormatText(prefix, sizeof prefix, "Account %d: ", index);
        LogLostTexts(instance, reading, prefix);
        LogKeysNotApplying(instance, index, account);
    }
}

bool FormIniPath(char* path, size_t size, const char* rootFolder, const char* relativeFolder) {
    return FormFolderPath(path, size, rootFolder, relativeFolder, "TidewellDocklet.ini");
}

void ReadConfiguration(DockletInstance* instance, const char* rootFolder, const char* relativeFolder,
                       const ProfileReader* reader) {
    char iniPath[kPathSize];
    if (!FormIniPath(iniPath, sizeof iniPath, rootFolder, relativeFolder))
        reader = &kMissingProfile;

    SectionReading common = {reader, "common", {}, 0};
    instance->debug = ReadInt(&common, "Debug", 0) == 1;
    const int32_t accountsWritten = ReadInt(&common, "NbAccount", 1);
    const int32_t delayWritten = ReadInt(&common, "DelaySecond", 180);
    instance->accountCount = accountsWritten > kMaxAccounts ? kMaxAccounts : accountsWritten;
    instance->delaySeconds = Bounded(delayWritten, kMinDelaySeconds, kMaxDelaySeconds);
    // No one writes this value: it tells a missing key from any written one.
    const int32_t kNotWritten = INT32_MIN;
    const int32_t timeoutWritten = ReadInt(&common, "TimeoutSecond", kNotWritten);
    instance->timeoutSeconds = timeoutWritten == kNotWritten ? 60 : timeoutWritten;
    instance->protectPasswords = ReadInt(&common, "ProtectPasswords", 0) == 1;
    const int32_t renewWritten = ReadInt(&common, "IdleRenewSecond", kNotWritten);
    instance->idleRenewSeconds = renewWritten == kNotWritten
                                     ? kDefaultIdleRenewSeconds
                                     : Bounded(renewWritten, kMinIdleRenewSeconds, kMaxIdleRenewSeconds);
    CopyText(instance->iniPath, sizeof instance->iniPath, iniPath);
    ReadText(&common, "Link", instance->link, sizeof instance->link);
    ReadText(&common, "stringCheck", instance->checkText, sizeof instance->checkText);
    ReadText(&common, "stringNoMsg", instance->noMessageText, sizeof instance->noMessageText);
    ReadText(&common, "stringOneMsg", instance->oneMessageText, sizeof instance->oneMessageText);
    ReadText(&common, "stringHaveMsg", instance->manyMessagesTemplate, sizeof instance->manyMessagesTemplate);
    ReadText(&common, "stringFailed", instance->failedTemplate, sizeof instance->failedTemplate);
    ReadText(&common, "stringSignIn", instance->signInText, sizeof instance->signInText);
    const bool signInWritten = instance->signInText[0] != '\0';
    if (!signInWritten)
        CopyText(instance->signInText, sizeof instance->signInText, "Click to sign in");
    FormFolderPath(instance->logPath, sizeof instance->logPath, rootFolder, relativeFolder,
                   "Debug.log");
    instance->badge = ReadInt(&common, "Badge", 0) == 1;
    char sound[kPathSize];
    ReadText(&common, "Sound", sound, sizeof sound);
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
        if (reader->utf8)
            WriteDebugLog(instance, "%s read as UTF-8", iniPath);
        LogLostTexts(instance, common, "");
    }

    // Without memory for them the instance has no accounts at all, which
    // every check cycle handles as an empty list.
    if (instance->accountCount > 0) {
        instance->accounts = static_cast<MailAccount*>(calloc(instance->accountCount, sizeof(MailAccount)));
        if (!instance->accounts)
            instance->accountCount = 0;
    }
    for (int i = 0; i < instance->accountCount; ++i)
        ReadAccount(instance, reader, rootFolder, relativeFolder, i, &instance->accounts[i]);
    if (instance->debug)
        LogCommonKeysNotApplying(instance, renewWritten != kNotWritten, signInWritten);
}
