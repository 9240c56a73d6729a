#include "net/certificate_check_win.h"

#include <cstdlib>
#include <cstring>

#include "net/certificate_file.h"
#include "net/certificate_name.h"
#include "text/bounded_text.h"

namespace {

// Far more than any single certificate, PEM or DER.
const DWORD kMaxCaFileSize = 256 * 1024;

PCCERT_CONTEXT LoadCaFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    PCCERT_CONTEXT certificate = nullptr;
    DWORD size = GetFileSize(file, nullptr);
    char* data = size != INVALID_FILE_SIZE && size <= kMaxCaFileSize ? static_cast<char*>(malloc(size + 1)) : nullptr;
    unsigned char* der = data ? static_cast<unsigned char*>(malloc(size + 1)) : nullptr;
    DWORD read = 0;
    if (der && ReadFile(file, data, size, &read, nullptr) && read == size) {
        size_t length = DecodeCertificateFile(data, size, der, size + 1);
        if (length > 0)
            certificate = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der,
                                                       static_cast<DWORD>(length));
    }
    free(der);
    free(data);
    CloseHandle(file);
    return certificate;
}

bool SameCertificate(PCCERT_CONTEXT left, PCCERT_CONTEXT right) {
    return left && right && left->cbCertEncoded == right->cbCertEncoded &&
           memcmp(left->pbCertEncoded, right->pbCertEncoded, left->cbCertEncoded) == 0;
}

void AppendName(char* names, size_t size, const char* name) {
    size_t used = strlen(names);
    FormatText(names + used, size - used, "%s%s", used > 0 ? ", " : "", name);
}

// Certificate names are ASCII (international names come as "xn--" labels);
// anything else cannot name the host and is shown as '?'.
void NarrowName(const wchar_t* wide, char* name, size_t size) {
    size_t i = 0;
    for (; wide[i] && i + 1 < size; ++i)
        name[i] = wide[i] < 0x80 ? static_cast<char>(wide[i]) : '?';
    name[i] = '\0';
}

// Looks at the subject alternative names, then (with no DNS name among them)
// the common name, as mail clients do.
bool NamesMatch(PCCERT_CONTEXT certificate, const char* host, char* names, size_t size) {
    names[0] = '\0';
    bool matches = false;
    bool hasDnsName = false;
    PCERT_EXTENSION extension = CertFindExtension(szOID_SUBJECT_ALT_NAME2, certificate->pCertInfo->cExtension,
                                                  certificate->pCertInfo->rgExtension);
    CERT_ALT_NAME_INFO* alternatives = nullptr;
    DWORD length = 0;
    if (extension && CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                                         extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &alternatives,
                                         &length)) {
        for (DWORD i = 0; i < alternatives->cAltEntry; ++i) {
            const CERT_ALT_NAME_ENTRY& entry = alternatives->rgAltEntry[i];
            char name[256];
            if (entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME) {
                hasDnsName = true;
                NarrowName(entry.pwszDNSName, name, sizeof name);
                matches = matches || HostMatchesDnsName(host, name, strlen(name));
            } else if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS) {
                const CRYPT_DATA_BLOB& ip = entry.IPAddress;
                if (ip.cbData == 4)
                    FormatText(name, sizeof name, "%u.%u.%u.%u", ip.pbData[0], ip.pbData[1], ip.pbData[2], ip.pbData[3]);
                else
                    CopyText(name, sizeof name, "(IPv6 address)");
                matches = matches || HostMatchesIpEntry(host, ip.pbData, ip.cbData);
            } else {
                continue;
            }
            AppendName(names, size, name);
        }
        LocalFree(alternatives);
    }
    if (!hasDnsName) {
        char commonName[256];
        CertGetNameStringA(certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), commonName,
                           sizeof commonName);
        if (commonName[0] != '\0') {
            matches = matches || HostMatchesDnsName(host, commonName, strlen(commonName));
            AppendName(names, size, commonName);
        }
    }
    if (names[0] == '\0')
        CopyText(names, size, "no name");
    return matches;
}

// A store to find the chain's other certificates in: what the server sent,
// and the CAFile certificate when there is one.
HCERTSTORE SupportingStore(PCCERT_CONTEXT certificate, PCCERT_CONTEXT caCertificate) {
    HCERTSTORE collection = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
    HCERTSTORE extra = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    if (!collection || !extra || !CertAddCertificateContextToStore(extra, caCertificate, CERT_STORE_ADD_ALWAYS, nullptr) ||
        !CertAddStoreToCollection(collection, extra, 0, 0) ||
        (certificate->hCertStore && !CertAddStoreToCollection(collection, certificate->hCertStore, 0, 0))) {
        if (collection)
            CertCloseStore(collection, 0);
        collection = nullptr;
    }
    // The collection holds its own reference to the memory store.
    if (extra)
        CertCloseStore(extra, 0);
    return collection;
}

bool JudgeChain(PCCERT_CONTEXT certificate, PCCERT_CONTEXT caCertificate, ChainFacts* facts) {
    HCERTSTORE supporting = caCertificate ? SupportingStore(certificate, caCertificate) : certificate->hCertStore;
    if (caCertificate && !supporting)
        return false;
    CERT_CHAIN_PARA parameters = {};
    parameters.cbSize = sizeof parameters;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    bool built = CertGetCertificateChain(nullptr, certificate, nullptr, supporting, &parameters, 0, nullptr, &chain);
    if (built) {
        facts->trustErrors = chain->TrustStatus.dwErrorStatus;
        if (chain->cChain > 0 && chain->rgpChain[0]->cElement > 0) {
            const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
            facts->rootIsCaFile = SameCertificate(simple->rgpElement[simple->cElement - 1]->pCertContext, caCertificate);
        }
        // No name here: the names are matched above, IP entries included.
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
    if (caCertificate)
        CertCloseStore(supporting, 0);
    return built;
}

}  // namespace

CertificateVerdict CheckServerCertificate(PCCERT_CONTEXT certificate, const char* host, const char* caFile,
                                          bool* caFileUsable, char* names, size_t size) {
    ChainFacts facts = {};
    facts.nameMatches = NamesMatch(certificate, host, names, size);
    PCCERT_CONTEXT caCertificate = caFile[0] != '\0' ? LoadCaFile(caFile) : nullptr;
    *caFileUsable = caFile[0] == '\0' || caCertificate != nullptr;
    CertificateVerdict verdict = kCertificateUntrusted;
    if (*caFileUsable && JudgeChain(certificate, caCertificate, &facts))
        verdict = JudgeCertificate(&facts);
    if (caCertificate)
        CertFreeCertificateContext(caCertificate);
    return verdict;
}

void CertificateSubject(PCCERT_CONTEXT certificate, char* subject, size_t size) {
    if (CertGetNameStringA(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, subject, static_cast<DWORD>(size)) <= 1)
        CopyText(subject, size, "(no subject)");
}
