#include "net/certificate_check_win.h"

#include <cstdlib>
#include <cstring>

#include "net/certificate_facts.h"
#include "docklet/bounded_file_win.h"
#include "net/certificate_file.h"
#include "net/certificate_name.h"
#include "net/chain_rules.h"
#include "text/bounded_text.h"

namespace {

// Far more than a few CA certificates, PEM or DER; a whole system bundle fits.
const DWORD kMaxCaFileSize = 256 * 1024;
// Chains of real servers have three or four certificates.
const DWORD kMaxChainLength = 16;

// The CAFile's certificates in a memory store, or null with why[size] saying
// what is wrong with the file.
HCERTSTORE LoadCaFile(const char* path, char* why, size_t size) {
    char* data;
    size_t length;
    DWORD error;
    switch (ReadBoundedFile(path, kMaxCaFileSize, &data, &length, &error)) {
    case kBoundedFileRead:
        break;
    case kBoundedFileNotFound: {
        // Where it was looked for: a relative path depends on the host's folder.
        char full[MAX_PATH];
        DWORD fullLength = GetFullPathNameA(path, sizeof full, full, nullptr);
        FormatText(why, size, "CAFile not found: %s", fullLength > 0 && fullLength < sizeof full ? full : path);
        return nullptr;
    }
    case kBoundedFileTooLarge:
        FormatText(why, size, "CAFile larger than %lu KiB: %s", static_cast<unsigned long>(kMaxCaFileSize / 1024), path);
        return nullptr;
    case kBoundedFileNoMemory:
    case kBoundedFileUnreadable:
        FormatText(why, size, "CAFile cannot be read (Windows error %lu): %s", static_cast<unsigned long>(error), path);
        return nullptr;
    }
    HCERTSTORE store = nullptr;
    unsigned char* der = static_cast<unsigned char*>(malloc(length + 1));
    if (der)
        store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    size_t at = 0, added = 0;
    for (size_t certificate; store && (certificate = NextCertificateInFile(data, length, &at, der, length + 1)) > 0;) {
        added += CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der, static_cast<DWORD>(certificate),
                                                  CERT_STORE_ADD_USE_EXISTING, nullptr) != FALSE;
    }
    if (store && added == 0) {
        CertCloseStore(store, 0);
        store = nullptr;
    }
    if (!store)
        FormatText(why, size, "CAFile holds no certificate: %s", path);
    free(der);
    free(data);
    return store;
}

// A store to find the chain's other certificates in: what the server sent,
// and the CAFile's certificates when there are some.
HCERTSTORE SupportingStore(PCCERT_CONTEXT certificate, HCERTSTORE caStore) {
    HCERTSTORE collection = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
    if (collection && CertAddStoreToCollection(collection, caStore, 0, 0) &&
        (!certificate->hCertStore || CertAddStoreToCollection(collection, certificate->hCertStore, 0, 0)))
        return collection;
    if (collection)
        CertCloseStore(collection, 0);
    return nullptr;
}

bool InStore(HCERTSTORE store, PCCERT_CONTEXT certificate) {
    if (!store)
        return false;
    PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, certificate,
                                                      nullptr);
    if (found)
        CertFreeCertificateContext(found);
    return found != nullptr;
}

// The chain's own rules over what its certificates say, issuer by issuer;
// for a fault, why[size] says what it is.
ChainFault JudgeChainElements(const CERT_SIMPLE_CHAIN* simple, ChainRoot root, size_t maxIntermediates, char* why,
                              size_t size) {
    DWORD count = simple->cElement;
    if (count == 0 || count > kMaxChainLength) {
        FormatText(why, size, "a chain of %lu certificates cannot be judged", static_cast<unsigned long>(count));
        return kChainUnreadable;
    }
    CertificateFacts* facts = static_cast<CertificateFacts*>(calloc(count, sizeof(CertificateFacts)));
    const CertificateFacts* chain[kMaxChainLength] = {};
    if (!facts) {
        CopyText(why, size, "no memory to judge the chain");
        return kChainUnreadable;
    }
    for (DWORD i = 0; i < count; ++i) {
        PCCERT_CONTEXT element = simple->rgpElement[i]->pCertContext;
        if (ReadCertificateFacts(element->pbCertEncoded, element->cbCertEncoded, &facts[i]))
            chain[i] = &facts[i];
    }
    ChainJudgement judgement = JudgeChainRules(chain, count, root, maxIntermediates);
    if (judgement.fault != kChainSound)
        DescribeChainFault(chain, count, maxIntermediates, judgement, why, size);
    free(facts);
    return judgement.fault;
}

bool JudgeChain(PCCERT_CONTEXT certificate, HCERTSTORE caStore, const FILETIME* when, size_t maxIntermediates,
                ChainFacts* facts, char* why, size_t size) {
    HCERTSTORE supporting = caStore ? SupportingStore(certificate, caStore) : certificate->hCertStore;
    if (caStore && !supporting)
        return false;
    // The engine is asked for a chain fit for a TLS server; the leaf's
    // extended key usage is judged again with the chain's rules.
    static char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    static LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA parameters = {};
    parameters.cbSize = sizeof parameters;
    parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
    parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    FILETIME time = when ? *when : FILETIME{};
    bool built = CertGetCertificateChain(nullptr, certificate, when ? &time : nullptr, supporting, &parameters, 0,
                                         nullptr, &chain);
    if (built) {
        facts->trustErrors = chain->TrustStatus.dwErrorStatus;
        if (chain->cChain > 0 && chain->rgpChain[0]->cElement > 0) {
            const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
            facts->rootIsCaFile = InStore(caStore, simple->rgpElement[simple->cElement - 1]->pCertContext);
            facts->chainFault = JudgeChainElements(simple, facts->rootIsCaFile ? kRootFromCaFile : kRootFromSystem,
                                                   maxIntermediates, why, size);
        }
        // No name here: the names are matched apart, IP entries included.
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
        ssl.cbSize = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        CERT_CHAIN_POLICY_PARA policy = {};
        policy.cbSize = sizeof policy;
        policy.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS status = {};
        status.cbSize = sizeof status;
        if (CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status))
            facts->policyError = status.dwError;
        else
            built = false;
        CertFreeCertificateChain(chain);
    }
    if (caStore)
        CertCloseStore(supporting, 0);
    return built;
}

// Says why the certificate does not name the host: the names it has, or that
// it has none where they count.
void DescribeWrongName(const CertificateFacts* leaf, const char* host, char* why, size_t size) {
    char names[512];
    ShowAltNames(leaf, names, sizeof names);
    if (names[0] != '\0') {
        FormatText(why, size, "is for %s, not %s", names, host);
        return;
    }
    CopyText(why, size, "names no host in its subjectAltName");
    if (leaf->commonName.length > 0) {
        char shown[256] = "";
        AppendShownText(shown, sizeof shown, leaf->commonNameTag, leaf->commonName.data, leaf->commonName.length);
        size_t used = strlen(why);
        FormatText(why + used, size - used, " (its common name %s is not used)", shown);
    }
}

}  // namespace

CertificateVerdict CheckServerCertificate(PCCERT_CONTEXT certificate, const char* host, const char* caFile,
                                          const FILETIME* when, size_t maxIntermediates, char* why, size_t size) {
    why[0] = '\0';
    CertificateFacts* leaf = static_cast<CertificateFacts*>(malloc(sizeof(CertificateFacts)));
    if (!leaf)
        return kCertificateUntrusted;
    ChainFacts facts = {};
    bool readable = ReadCertificateFacts(certificate->pbCertEncoded, certificate->cbCertEncoded, leaf);
    facts.nameMatches = readable && CertificateNamesHost(leaf, host);
    HCERTSTORE caStore = caFile[0] != '\0' ? LoadCaFile(caFile, why, size) : nullptr;
    CertificateVerdict verdict = kCertificateUntrusted;
    char chainWhy[400] = "";
    if ((caFile[0] == '\0' || caStore) &&
        JudgeChain(certificate, caStore, when, maxIntermediates, &facts, chainWhy, sizeof chainWhy)) {
        if (!readable) {
            facts.chainFault = kChainUnreadable;
            CopyText(chainWhy, sizeof chainWhy, "the server's certificate cannot be read");
        }
        verdict = JudgeCertificate(&facts);
        if (verdict == kCertificateUntrusted && facts.chainFault != kChainSound)
            CopyText(why, size, chainWhy);
        else if (verdict == kCertificateWrongName)
            DescribeWrongName(leaf, host, why, size);
    }
    if (caStore)
        CertCloseStore(caStore, 0);
    free(leaf);
    return verdict;
}

bool PinnedKeyStrong(PCCERT_CONTEXT certificate, char* why, size_t size) {
    why[0] = '\0';
    CertificateFacts* facts = static_cast<CertificateFacts*>(malloc(sizeof(CertificateFacts)));
    bool strong = false;
    if (!facts) {
        CopyText(why, size, "no memory to judge its key");
    } else if (!ReadCertificateFacts(certificate->pbCertEncoded, certificate->cbCertEncoded, facts)) {
        CopyText(why, size, "the server's certificate cannot be read, so neither can its key");
    } else {
        ChainJudgement judgement = {JudgeKey(facts), 0};
        const CertificateFacts* chain[1] = {facts};
        strong = judgement.fault == kChainSound;
        if (!strong)
            DescribeChainFault(chain, 1, 0, judgement, why, size);
    }
    free(facts);
    return strong;
}

void CertificateSubject(PCCERT_CONTEXT certificate, char* subject, size_t size) {
    // Shown escaped from the certificate's own bytes: a conversion to the
    // code page could cut a name at a NUL or turn other letters into ASCII.
    CertificateFacts* facts = static_cast<CertificateFacts*>(malloc(sizeof(CertificateFacts)));
    wchar_t wide[128];
    subject[0] = '\0';
    if (facts && ReadCertificateFacts(certificate->pbCertEncoded, certificate->cbCertEncoded, facts) &&
        facts->commonName.length > 0) {
        AppendShownText(subject, size, facts->commonNameTag, facts->commonName.data, facts->commonName.length);
    } else if (DWORD length = CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, wide, 128)) {
        unsigned char utf16[2 * 128];
        for (DWORD i = 0; i + 1 < length; ++i) {
            utf16[2 * i] = static_cast<unsigned char>(wide[i] >> 8);
            utf16[2 * i + 1] = static_cast<unsigned char>(wide[i]);
        }
        AppendShownText(subject, size, 0x1E, utf16, 2 * (length - 1));
    }
    free(facts);
    if (subject[0] == '\0')
        CopyText(subject, size, "(no subject)");
}

bool CertificateSha256(PCCERT_CONTEXT certificate, unsigned char digest[kSha256Size], unsigned long* error) {
    // CALG_SHA_256, which the headers give only to builds for XP SP3 and later.
    const ALG_ID kSha256 = ALG_CLASS_HASH | ALG_TYPE_ANY | 12;
    // The default provider type has no SHA-256 on XP; the AES one has it from SP3 on.
    HCRYPTPROV provider = 0;
    DWORD size = kSha256Size;
    bool hashed = CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
                  CryptHashCertificate(provider, kSha256, 0, certificate->pbCertEncoded, certificate->cbCertEncoded,
                                       digest, &size) &&
                  size == kSha256Size;
    *error = hashed ? 0 : GetLastError();
    if (provider)
        CryptReleaseContext(provider, 0);
    return hashed;
}
