#include "net/tls_credentials_win.h"

#include <cstdlib>

struct TlsCredentials {
    CredHandle handle;
};

namespace {

bool Acquire(DWORD protocols, CredHandle* handle) {
    SCHANNEL_CRED credentials = {};
    credentials.dwVersion = SCHANNEL_CRED_VERSION;
    credentials.grbitEnabledProtocols = protocols;
    // The certificate is judged by the check itself, with the account's own
    // CAFile and its reasons in the log; no client certificate is offered.
    credentials.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    TimeStamp expiry;
    return AcquireCredentialsHandleA(nullptr, const_cast<SEC_CHAR*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr,
                                     &credentials, nullptr, nullptr, handle, &expiry) == SEC_E_OK;
}

TlsCredentials* AcquireCredentials() {
    TlsCredentials* credentials = static_cast<TlsCredentials*>(calloc(1, sizeof(TlsCredentials)));
    if (!credentials)
        return nullptr;
    // TLS 1.2 is named explicitly: Windows 7 leaves it off for callers that
    // take the defaults. A system that does not know 1.3 refuses the pair.
    if (Acquire(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT, &credentials->handle) ||
        Acquire(SP_PROT_TLS1_2_CLIENT, &credentials->handle))
        return credentials;
    free(credentials);
    return nullptr;
}

}  // namespace

CredHandle* ItemTlsCredentials(const DockletInstance* instance) {
    TlsCredentials* shared = instance->tlsCredentials;
    if (!shared) {
        TlsCredentials* made = AcquireCredentials();
        if (!made)
            return nullptr;
        // Two workers may have made one each: the first to publish wins.
        shared = static_cast<TlsCredentials*>(InterlockedCompareExchangePointer(
            reinterpret_cast<PVOID volatile*>(&instance->tlsCredentials), made, nullptr));
        if (shared) {
            FreeCredentialsHandle(&made->handle);
            free(made);
        } else {
            shared = made;
        }
    }
    return &shared->handle;
}

void ReleaseItemTlsCredentials(DockletInstance* instance) {
    if (!instance->tlsCredentials)
        return;
    FreeCredentialsHandle(&instance->tlsCredentials->handle);
    free(instance->tlsCredentials);
    instance->tlsCredentials = nullptr;
}
