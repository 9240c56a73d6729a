#pragma once
#include <cstddef>

#include "net/certificate_facts.h"

// The rules of a certificate chain that a chain engine may leave unchecked:
// what each certificate may be used for, which may issue others, how long a
// chain may be below each CA and which names each CA may vouch for. Judged
// over facts read from the certificates themselves.

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
};

// Where the chain's last certificate is trusted from.
enum ChainRoot {
    kRootFromCaFile,  // the user's own word: judged as every other certificate
    kRootFromSystem,  // a root Windows trusts: a trust anchor, whose profile (basic
                      // constraints, purposes) is its root programme's business; only
                      // its key usage, path length and name constraints still bind
};

// chain[0] is the server's certificate, each next one its issuer, the last
// the trusted root. The first fault found, or kChainSound; a certificate that
// could not be read is passed as null.
ChainFault JudgeChainRules(const CertificateFacts* const* chain, size_t count, ChainRoot root);

// A few words for the log, e.g. "not for servers: its extended key usage lacks serverAuth".
const char* ChainFaultMeaning(ChainFault fault);
