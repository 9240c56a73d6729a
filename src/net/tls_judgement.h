#pragma once
#include <cstddef>
#include <cstdint>

#include "net/chain_rules.h"

// Portable judgements over what SChannel and CryptoAPI report about a TLS
// connection, so that the rules are tested without Windows.

enum CertificateVerdict {
    kCertificateAccepted,
    kCertificateUntrusted,  // no chain to a trusted root (or CAFile), or a broken one
    kCertificateExpired,    // some certificate of the chain is out of its dates
    kCertificateWrongName,  // trusted and in date, but for some other host
};

// What was found about the server's certificate chain.
struct ChainFacts {
    uint32_t trustErrors;   // the chain's TrustStatus.dwErrorStatus (CERT_TRUST_* bits)
    uint32_t policyError;   // CertVerifyCertificateChainPolicy(SSL) status, checked without a name
    bool rootIsCaFile;      // the chain ends in the account's CAFile certificate
    bool nameMatches;       // the certificate names the Address
    ChainFault chainFault = kChainSound;  // what the chain engine may leave unchecked
};

// The chain's own rules first, then trust, then dates, then the name. The policy alone is not enough:
// some implementations answer success for a chain that reached no root.
// Revocation is not checked, so its "unknown" bits are no fault.
CertificateVerdict JudgeCertificate(const ChainFacts* facts);

// "TLS 1.2" for SChannel's protocol bits (SP_PROT_*), or "TLS (0x........)".
void FormatTlsProtocol(char* text, size_t size, uint32_t protocol);

// "AES-256" and the like for SChannel's cipher algorithm (CALG_*) and strength in bits.
void FormatTlsCipher(char* text, size_t size, uint32_t algorithm, uint32_t strength);

// What an SSPI failure status means, in a few words, or null for one without
// a well-known meaning.
const char* SspiStatusMeaning(uint32_t status);
