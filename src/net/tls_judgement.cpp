#include "net/tls_judgement.h"

#include "text/bounded_text.h"

namespace {

// CERT_TRUST_* bits of a chain's error status.
const uint32_t kTrustNotTimeValid = 0x00000001;
const uint32_t kTrustNotTimeNested = 0x00000002;
const uint32_t kTrustUntrustedRoot = 0x00000020;
const uint32_t kTrustRevocationUnknown = 0x00000040;
const uint32_t kTrustOfflineRevocation = 0x01000000;

// Policy results.
const uint32_t kPolicyExpired = 0x800B0101;        // CERT_E_EXPIRED
const uint32_t kPolicyUntrustedRoot = 0x800B0109;  // CERT_E_UNTRUSTEDROOT

}  // namespace

CertificateVerdict JudgeCertificate(const ChainFacts* facts) {
    if (facts->chainFault != kChainSound)
        return kCertificateUntrusted;
    uint32_t errors = facts->trustErrors & ~(kTrustRevocationUnknown | kTrustOfflineRevocation);
    bool outOfDate = (errors & (kTrustNotTimeValid | kTrustNotTimeNested)) != 0 || facts->policyError == kPolicyExpired;
    errors &= ~(kTrustNotTimeValid | kTrustNotTimeNested);
    // A chain to the account's own CA comes back as reaching an untrusted
    // root, and that alone: exactly what the CAFile is there to accept.
    bool caFileRoot = facts->rootIsCaFile && errors == kTrustUntrustedRoot;
    if (caFileRoot)
        errors = 0;
    if (errors != 0)
        return kCertificateUntrusted;
    uint32_t policy = facts->policyError;
    if (policy != 0 && policy != kPolicyExpired && !(caFileRoot && policy == kPolicyUntrustedRoot))
        return kCertificateUntrusted;
    if (outOfDate)
        return kCertificateExpired;
    return facts->nameMatches ? kCertificateAccepted : kCertificateWrongName;
}

void FormatTlsProtocol(char* text, size_t size, uint32_t protocol) {
    struct Name {
        uint32_t bits;  // client and server bits of one version
        const char* name;
    };
    static const Name kNames[] = {
        {0x00003000, "TLS 1.3"}, {0x00000C00, "TLS 1.2"}, {0x00000300, "TLS 1.1"},
        {0x000000C0, "TLS 1.0"}, {0x00000030, "SSL 3"},   {0x0000000C, "SSL 2"},
    };
    for (const Name& name : kNames) {
        if (protocol & name.bits) {
            CopyText(text, size, name.name);
            return;
        }
    }
    FormatText(text, size, "TLS (0x%08x)", static_cast<unsigned>(protocol));
}

void FormatTlsCipher(char* text, size_t size, uint32_t algorithm, uint32_t strength) {
    switch (algorithm) {
    case 0x660E:  // CALG_AES_128
    case 0x660F:  // CALG_AES_192
    case 0x6610:  // CALG_AES_256
    case 0x6611:  // CALG_AES
        FormatText(text, size, "AES-%u", static_cast<unsigned>(strength));
        return;
    case 0x6603:  // CALG_3DES
        CopyText(text, size, "3DES");
        return;
    case 0x6801:  // CALG_RC4
        CopyText(text, size, "RC4");
        return;
    default:
        FormatText(text, size, "cipher 0x%04x, %u bits", static_cast<unsigned>(algorithm),
                   static_cast<unsigned>(strength));
    }
}

const char* SspiStatusMeaning(uint32_t status) {
    switch (status) {
    case 0x80090326:  // SEC_E_ILLEGAL_MESSAGE
        return "the server's answer is not TLS or is damaged";
    case 0x80090331:  // SEC_E_ALGORITHM_MISMATCH
        return "no TLS version or cipher in common";
    case 0x80090318:  // SEC_E_INCOMPLETE_MESSAGE
        return "the handshake ended half-way";
    case 0x8009030F:  // SEC_E_MESSAGE_ALTERED
    case 0x80090330:  // SEC_E_DECRYPT_FAILURE
        return "a record failed its integrity check";
    case 0x80090327:  // SEC_E_CERT_UNKNOWN
    case 0x80090328:  // SEC_E_CERT_EXPIRED
    case 0x80090349:  // SEC_E_CERT_WRONG_USAGE
        return "the server's certificate was refused";
    case 0x80090302:  // SEC_E_UNSUPPORTED_FUNCTION
        return "the server refused the TLS version";
    case 0x8009030E:  // SEC_E_NO_CREDENTIALS
        return "no TLS credentials";
    case 0x80090300:  // SEC_E_INSUFFICIENT_MEMORY
        return "out of memory";
    default:
        return nullptr;
    }
}
