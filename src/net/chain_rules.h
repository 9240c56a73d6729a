#pragma once
#include <cstddef>
#include <cstdint>

#include "net/certificate_facts.h"

// The rules of a certificate chain that a chain engine may leave unchecked:
// what each certificate may be used for, which may issue others, how long a
// chain may be below each CA and which names each CA may vouch for, and how
// strong its keys and signatures are. Judged over facts read from the
// certificates themselves.

// The most CAs a chain may have between the server's certificate and its
// root, a CA's self-issued certificates not counted: real chains have one or
// two, cross-signed ones three.
const size_t kMaxIntermediateCas = 6;

// Key sizes below which a key is refused.
const uint32_t kMinRsaBits = 2048;
const uint32_t kMinEcBits = 256;

enum ChainFault {
    kChainSound,
    kChainUnreadable,        // a certificate this reader cannot read in full
    kChainUnknownCritical,   // a critical extension no rule here knows
    kChainLeafNotForServers, // an extended key usage without serverAuth, or with any usage at all
    kChainAltNamesMisplaced, // a subjectAltName critical beside a subject, or not critical without
                             // one
    kChainIssuerNotCa,       // an issuer not marked as a CA in critical basic constraints
    kChainRootWithPurposes,  // a root that limits its extended key usage
    kChainIssuerMayNotSign,  // an issuer whose key usage lacks keyCertSign
    kChainPathTooLong,       // more CAs below an issuer than its path length allows
    kChainOutsideNameConstraints,
    kChainDsaKey,            // a DSA key, of any size
    kChainSmallKey,          // an RSA key below kMinRsaBits, an elliptic-curve one below kMinEcBits
    kChainWeakSignature,     // signed with MD2, MD4, MD5, SHA-1 or DSA
    kChainBadSerial,         // a serial number that is zero, negative or longer than 20 octets
    kChainNoAuthorityKeyId,  // not self-issued, yet without the keyIdentifier of its issuer's key
    kChainRootAuthorityKeyId, // a root's authority key identifier that is not its key's alone
    kChainTooDeep,           // more CAs between the server's certificate and the root than allowed
};

// Where the chain's last certificate is trusted from.
enum ChainRoot {
    kRootFromCaFile,  // the user's own word: judged as every other certificate
    kRootFromSystem,  // a root Windows trusts: a trust anchor, whose profile (basic
                      // constraints, purposes) is its root programme's business; only
                      // its key, key usage, path length and name constraints still bind
};

struct ChainJudgement {
    ChainFault fault;
    size_t at; // the certificate at fault: 0 the server's, each next one its issuer
};

// chain[0] is the server's certificate, each next one its issuer, the last
// the trusted root (the trust anchor). The first fault found, or kChainSound;
// a certificate that could not be read is passed as null. Every key of the
// chain is judged, the root's too, as it signed the certificate below it;
// signatures, serial numbers and key identifiers only below the root, whose
// own self-signature vouches for nothing and whose serial is its programme's.
ChainJudgement JudgeChainRules(const CertificateFacts* const* chain, size_t count, ChainRoot root,
                               size_t maxIntermediates);

// kChainDsaKey, kChainSmallKey or kChainSound for one certificate's key: the
// rule a pinned certificate is still held to, whose key alone proves the server.
ChainFault JudgeKey(const CertificateFacts* facts);

// What a judgement found, in a few words for the log, e.g. "not for servers:
// its extended key usage lacks serverAuth" or "the server's certificate has
// an RSA key of 1024 bits; at least 2048 are needed".
void DescribeChainFault(const CertificateFacts* const* chain, size_t count, size_t maxIntermediates,
                        ChainJudgement judgement, char* text, size_t size);
