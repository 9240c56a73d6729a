#include "signin/provider_hosts.h"

#include <cstring>

#include "text/bounded_text.h"

namespace {

struct KnownName {
    const char* name;
    int32_t provider;
};

const KnownName kHosts[] = {
    {"outlook.office365.com", kProviderMicrosoft}, {"imap-mail.outlook.com", kProviderMicrosoft},
    {"pop-mail.outlook.com", kProviderMicrosoft},  {"outlook.live.com", kProviderMicrosoft},
    {"imap.gmail.com", kProviderGoogle},           {"pop.gmail.com", kProviderGoogle},
};

// The domains of the providers' own mail services; a company's domain served
// by either cannot be told from its name.
const KnownName kDomains[] = {
    {"outlook.com", kProviderMicrosoft}, {"hotmail.com", kProviderMicrosoft},
    {"live.com", kProviderMicrosoft},    {"msn.com", kProviderMicrosoft},
    {"gmail.com", kProviderGoogle},      {"googlemail.com", kProviderGoogle},
};

template <size_t N> int32_t Owner(const char* name, const KnownName (&known)[N]) {
    char bare[kAccountTextSize];
    if (!CopyText(bare, sizeof bare, name))
        return kProviderUnknown;
    const size_t length = strlen(bare);
    if (length > 0 && bare[length - 1] == '.')
        bare[length - 1] = '\0';
    for (const KnownName& entry : known) {
        if (EqualsIgnoringCase(bare, entry.name))
            return entry.provider;
    }
    return kProviderUnknown;
}

const char* ProviderName(int32_t provider) {
    return provider == kProviderMicrosoft ? "Microsoft" : "Google";
}

const char* ProviderKey(int32_t provider) {
    return provider == kProviderMicrosoft ? "microsoft" : "google";
}

} // namespace

int32_t ProviderOfHost(const char* host) {
    return Owner(host, kHosts);
}

int32_t ProviderOfAddress(const char* address) {
    const char* at = strrchr(address, '@');
    return at ? Owner(at + 1, kDomains) : kProviderUnknown;
}

bool WhyProviderMisfits(const MailAccount* account, char* why, size_t size) {
    const int32_t hostOwner = ProviderOfHost(account->address);
    const bool fromAddress = account->oauth.provider == kProviderFromAddress;
    const int32_t provider = fromAddress ? hostOwner : account->oauth.provider;
    if (provider != kProviderMicrosoft && provider != kProviderGoogle)
        return false;
    char address[kAccountTextSize];
    char login[kAccountTextSize];
    CopyPrintable(address, sizeof address, account->address, strlen(account->address));
    CopyPrintable(login, sizeof login, account->login, strlen(account->login));
    if (hostOwner != kProviderUnknown && hostOwner != provider) {
        FormatText(
            why, size,
            "OAuthProvider=%s does not go with Address %s, %s's mail server: it takes %s's tokens "
            "only; set OAuthProvider=%s, or leave it out",
            ProviderKey(provider), address, ProviderName(hostOwner), ProviderName(hostOwner),
            ProviderKey(hostOwner));
        return true;
    }
    const int32_t domainOwner = ProviderOfAddress(account->login);
    if (domainOwner != kProviderUnknown && domainOwner != provider) {
        char source[kAccountTextSize + 32];
        if (fromAddress)
            FormatText(source, sizeof source, "from Address %s", address);
        else
            FormatText(source, sizeof source, "OAuthProvider=%s", ProviderKey(provider));
        FormatText(why, size,
                   "the sign-in is %s's (%s), but Login %s is a %s address: a %s mailbox takes "
                   "%s's tokens "
                   "only; check OAuthProvider, Address and Login",
                   ProviderName(provider), source, login, ProviderName(domainOwner),
                   ProviderName(domainOwner), ProviderName(domainOwner));
        return true;
    }
    return false;
}
