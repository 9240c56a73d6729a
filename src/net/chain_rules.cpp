#include "net/chain_rules.h"

#include <cstring>

#include "net/certificate_name.h"
#include "text/bounded_text.h"

namespace {

char Lower(unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

bool SameText(const unsigned char* left, const unsigned char* right, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (Lower(left[i]) != Lower(right[i]))
            return false;
    }
    return true;
}

// A DNS name is within a constraint when it is the constraint's name or under
// it ("example.com" holds "a.example.com", not "aexample.com"); a constraint
// starting with a dot holds only names under it. A wildcard's star is taken
// as one more label, which is what it stands for.
bool DnsWithin(DerSpan name, DerSpan constraint) {
    if (constraint.length == 0)
        return true;
    if (name.length < constraint.length ||
        !SameText(name.data + name.length - constraint.length, constraint.data, constraint.length))
        return false;
    return constraint.data[0] == '.' || name.length == constraint.length ||
           name.data[name.length - constraint.length - 1] == '.';
}

// A constraint is an address and a mask of the same family.
bool IpWithin(DerSpan address, DerSpan constraint) {
    if (constraint.length != 2 * address.length)
        return false;
    for (size_t i = 0; i < address.length; ++i) {
        unsigned char mask = constraint.data[address.length + i];
        if ((address.data[i] & mask) != (constraint.data[i] & mask))
            return false;
    }
    return true;
}

// A mask is a run of ones then zeros: anything else is a malformed constraint.
bool IpConstraintSound(DerSpan constraint) {
    if (constraint.length != 8 && constraint.length != 32)
        return false;
    bool zeros = false;
    for (size_t i = constraint.length / 2; i < constraint.length; ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            bool one = (constraint.data[i] >> bit) & 1;
            if (one && zeros)
                return false;
            zeros = zeros || !one;
        }
    }
    return true;
}

// The constraint's RDNs begin the name's, whole RDN by whole RDN (DER makes
// equal names equal bytes).
bool DirectoryWithin(DerSpan name, DerSpan constraint) {
    if (constraint.length == 0)
        return true;
    if (constraint.length > name.length ||
        memcmp(name.data, constraint.data, constraint.length) != 0)
        return false;
    size_t at = 0;
    while (at < constraint.length) {
        // Each RDN is a SET with a length of at most two bytes' worth here.
        if (at + 2 > name.length)
            return false;
        size_t header = 2, length = name.data[at + 1];
        if (length & 0x80) {
            size_t count = length & 0x7F;
            if (count == 0 || count > 2 || at + 2 + count > name.length)
                return false;
            length = count == 1 ? name.data[at + 2] : (name.data[at + 2] << 8) | name.data[at + 3];
            header += count;
        }
        at += header + length;
    }
    return at == constraint.length;
}

bool Within(const GeneralName& name, const GeneralName& constraint) {
    switch (name.kind) {
    case kNameDns:
        return DnsWithin(name.value, constraint.value);
    case kNameIp:
        return IpWithin(name.value, constraint.value);
    case kNameDirectory:
        return DirectoryWithin(name.value, constraint.value);
    case kNameOther:
        return false;
    }
    return false;
}

// RFC 5280 6.1.3 (b, c): every name of a kind the CA constrains lies within
// one of its permitted subtrees of that kind and in none of its excluded ones.
bool NameAllowed(const CertificateFacts* ca, const GeneralName& name) {
    bool constrained = false, permitted = false;
    for (size_t i = 0; i < ca->permittedCount; ++i) {
        const GeneralName& constraint = ca->permitted[i];
        if (constraint.kind != name.kind)
            continue;
        constrained = true;
        permitted = permitted || Within(name, constraint);
    }
    if (constrained && !permitted)
        return false;
    for (size_t i = 0; i < ca->excludedCount; ++i) {
        if (ca->excluded[i].kind == name.kind && Within(name, ca->excluded[i]))
            return false;
    }
    return true;
}

bool ConstraintsSound(const CertificateFacts* ca) {
    for (size_t i = 0; i < ca->permittedCount + ca->excludedCount; ++i) {
        const GeneralName& constraint =
            i < ca->permittedCount ? ca->permitted[i] : ca->excluded[i - ca->permittedCount];
        // Constraints on names not judged here cannot be kept: refuse rather than ignore them.
        if (constraint.kind == kNameOther ||
            (constraint.kind == kNameIp && !IpConstraintSound(constraint.value)))
            return false;
    }
    return true;
}

bool NamesAllowed(const CertificateFacts* ca, const CertificateFacts* certificate) {
    GeneralName subject = {kNameDirectory, certificate->subject};
    if (certificate->subject.length > 0 && !NameAllowed(ca, subject))
        return false;
    for (size_t i = 0; i < certificate->altNameCount; ++i) {
        if (!NameAllowed(ca, certificate->altNames[i]))
            return false;
    }
    return true;
}

ChainFault JudgeIssuer(const CertificateFacts* const* chain, size_t at, bool anchor) {
    const CertificateFacts* issuer = chain[at];
    bool markedCa = issuer->hasBasicConstraints && issuer->basicConstraintsCritical && issuer->isCa;
    // Some roots Windows trusts are old enough to say none of this.
    bool anchorNotDenied = anchor && !(issuer->hasBasicConstraints && !issuer->isCa);
    if (!markedCa && !anchorNotDenied)
        return kChainIssuerNotCa;
    if (issuer->hasKeyUsage && !(issuer->keyUsage & kKeyUsageKeyCertSign))
        return kChainIssuerMayNotSign;
    // The CAs between it and the server's certificate, a CA's self-issued
    // certificates not counted.
    size_t below = 0;
    for (size_t i = 1; i < at; ++i)
        below += !IsSelfIssued(chain[i]);
    if (issuer->pathLength >= 0 && below > static_cast<size_t>(issuer->pathLength))
        return kChainPathTooLong;
    if (issuer->hasNameConstraints) {
        if (!ConstraintsSound(issuer))
            return kChainOutsideNameConstraints;
        for (size_t i = 0; i < at; ++i) {
            if ((i == 0 || !IsSelfIssued(chain[i])) && !NamesAllowed(issuer, chain[i]))
                return kChainOutsideNameConstraints;
        }
    }
    return kChainSound;
}

// RFC 5280 4.1.2.2: a positive number of at most 20 octets.
bool SerialSound(DerSpan serial) {
    if (serial.length == 0 || serial.length > 20 || (serial.data[0] & 0x80))
        return false;
    for (size_t i = 0; i < serial.length; ++i) {
        if (serial.data[i] != 0)
            return true;
    }
    return false;
}

// A certificate's own make: its key, and below the root its signature, its
// serial number and the key identifier that names its issuer's key (RFC 5280
// 4.2.1.1: in every certificate but a self-signed one).
ChainFault JudgeMake(const CertificateFacts* certificate, bool belowRoot) {
    ChainFault fault = JudgeKey(certificate);
    if (fault != kChainSound || !belowRoot)
        return fault;
    if (certificate->signatureFlaw != kSignatureSound)
        return kChainWeakSignature;
    if (!SerialSound(certificate->serial))
        return kChainBadSerial;
    if (!certificate->authorityKeyIdHasKeyId && !IsSelfIssued(certificate))
        return kChainNoAuthorityKeyId;
    return kChainSound;
}

// The CAs between the server's certificate and the root, a CA's self-issued
// certificates (a new key of its own, say) not counted.
size_t IntermediateCount(const CertificateFacts* const* chain, size_t count) {
    size_t intermediates = 0;
    for (size_t i = 1; i + 1 < count; ++i)
        intermediates += !IsSelfIssued(chain[i]);
    return intermediates;
}

// Which certificate a fault is in, as the log names it.
void NameCertificate(const CertificateFacts* const* chain, size_t count, size_t at, char* text,
                     size_t size) {
    const CertificateFacts* certificate = chain[at];
    const bool root = at + 1 == count;
    if (at == 0) {
        CopyText(text, size, "the server's certificate");
    } else if (certificate->commonName.length == 0) {
        CopyText(text, size,
                 root ? "the root CA's certificate" : "an intermediate CA's certificate");
    } else {
        FormatText(text, size, "the certificate of the %s CA ", root ? "root" : "intermediate");
        size_t used = strlen(text);
        AppendShownText(text + used, size - used, certificate->commonNameTag,
                        certificate->commonName.data, certificate->commonName.length);
    }
}

const char* SignatureName(SignatureFlaw flaw) {
    switch (flaw) {
    case kSignatureSound:
        return "a sound algorithm";
    case kSignatureMd2:
        return "MD2";
    case kSignatureMd4:
        return "MD4";
    case kSignatureMd5:
        return "MD5";
    case kSignatureSha1:
        return "SHA-1";
    case kSignatureDsa:
        return "DSA";
    }
    return "an unknown algorithm";
}

// The few words for a fault that needs no more than its kind.
const char* FaultMeaning(ChainFault fault) {
    switch (fault) {
    case kChainSound:
        return "sound";
    case kChainUnreadable:
        return "a certificate of the chain cannot be read";
    case kChainUnknownCritical:
        return "a certificate has a critical extension that is not understood";
    case kChainLeafNotForServers:
        return "not for servers: its extended key usage lacks serverAuth";
    case kChainAltNamesMisplaced:
        return "its subjectAltName is marked critical wrongly";
    case kChainRootWithPurposes:
        return "its root limits its extended key usage, which roots may not";
    case kChainIssuerNotCa:
        return "an issuer of the chain is not a CA";
    case kChainIssuerMayNotSign:
        return "an issuer of the chain may not sign certificates";
    case kChainPathTooLong:
        return "the chain is longer than an issuer allows";
    case kChainOutsideNameConstraints:
        return "its names are outside what an issuer may vouch for";
    case kChainRootAuthorityKeyId:
        return "its root's authority key identifier is not its key identifier alone, as a root's "
               "must be";
    default:
        return nullptr;
    }
}

} // namespace

ChainFault JudgeKey(const CertificateFacts* facts) {
    switch (facts->keyKind) {
    case kKeyDsa:
        return kChainDsaKey;
    case kKeyRsa:
        return facts->keyBits < kMinRsaBits ? kChainSmallKey : kChainSound;
    case kKeyEc:
        return facts->keyBits < kMinEcBits ? kChainSmallKey : kChainSound;
    case kKeyOther:
        return kChainSound;
    }
    return kChainSound;
}

ChainJudgement JudgeChainRules(const CertificateFacts* const* chain, size_t count, ChainRoot root,
                               size_t maxIntermediates) {
    for (size_t i = 0; i < count; ++i) {
        if (!chain[i])
            return {kChainUnreadable, i};
        if (chain[i]->unknownCriticalExtension)
            return {kChainUnknownCritical, i};
    }
    if (count == 0)
        return {kChainUnreadable, 0};
    const CertificateFacts* leaf = chain[0];
    if (leaf->hasExtendedKeyUsage && (!leaf->serverAuth || leaf->anyExtendedKeyUsage))
        return {kChainLeafNotForServers, 0};
    // An empty subject leaves the names to the subjectAltName alone, which
    // must then be critical; beside a subject it must not be.
    if (leaf->hasAltNames && leaf->altNamesCritical != (leaf->subject.length == 0))
        return {kChainAltNamesMisplaced, 0};
    const CertificateFacts* last = chain[count - 1];
    if (count > 1 && root == kRootFromCaFile && last->hasExtendedKeyUsage)
        return {kChainRootWithPurposes, count - 1};
    // A root's key identifier names its own key; naming a certificate
    // (issuer and serial) it would point at something above the root.
    if (count > 1 && root == kRootFromCaFile && last->hasAuthorityKeyId &&
        (!last->authorityKeyIdHasKeyId || last->authorityKeyIdNamesCertificate))
        return {kChainRootAuthorityKeyId, count - 1};
    for (size_t at = 0; at < count; ++at) {
        ChainFault fault = JudgeMake(chain[at], at + 1 < count);
        if (fault != kChainSound)
            return {fault, at};
    }
    if (IntermediateCount(chain, count) > maxIntermediates)
        return {kChainTooDeep, 0};
    for (size_t at = 1; at < count; ++at) {
        ChainFault fault = JudgeIssuer(chain, at, root == kRootFromSystem && at == count - 1);
        if (fault != kChainSound)
            return {fault, at};
    }
    return {kChainSound, 0};
}

void DescribeChainFault(const CertificateFacts* const* chain, size_t count, size_t maxIntermediates,
                        ChainJudgement judgement, char* text, size_t size) {
    if (const char* meaning = FaultMeaning(judgement.fault)) {
        CopyText(text, size, meaning);
        return;
    }
    if (judgement.fault == kChainTooDeep) {
        size_t intermediates = IntermediateCount(chain, count);
        FormatText(text, size, "the chain has %u intermediate CA%s; at most %u are accepted",
                   static_cast<unsigned>(intermediates), intermediates == 1 ? "" : "s",
                   static_cast<unsigned>(maxIntermediates));
        return;
    }
    char who[200];
    NameCertificate(chain, count, judgement.at, who, sizeof who);
    const CertificateFacts* certificate = chain[judgement.at];
    const DerSpan serial = certificate->serial;
    switch (judgement.fault) {
    case kChainDsaKey:
        FormatText(text, size, "%s has a DSA key; DSA keys are not accepted", who);
        return;
    case kChainSmallKey:
        if (certificate->keyKind == kKeyRsa)
            FormatText(text, size, "%s has an RSA key of %u bits; at least %u are needed", who,
                       static_cast<unsigned>(certificate->keyBits),
                       static_cast<unsigned>(kMinRsaBits));
        else
            FormatText(text, size,
                       "%s has an elliptic-curve key of %u bits; at least %u (P-256) are needed",
                       who, static_cast<unsigned>(certificate->keyBits),
                       static_cast<unsigned>(kMinEcBits));
        return;
    case kChainWeakSignature:
        if (certificate->signatureFlaw == kSignatureDsa)
            FormatText(text, size, "%s is signed with DSA; DSA signatures are not accepted", who);
        else
            FormatText(text, size,
                       "%s is signed with %s, which can be forged; SHA-256 or stronger is needed",
                       who, SignatureName(certificate->signatureFlaw));
        return;
    case kChainBadSerial:
        if (serial.length > 20)
            FormatText(text, size, "%s has a serial number of %u octets; at most 20 are allowed",
                       who, static_cast<unsigned>(serial.length));
        else if (serial.length > 0 && (serial.data[0] & 0x80))
            FormatText(text, size, "%s has a negative serial number; it must be positive", who);
        else
            FormatText(text, size, "%s has a serial number of zero; it must be positive", who);
        return;
    case kChainNoAuthorityKeyId:
        FormatText(text, size,
                   "%s does not name its issuer's key (it has no authority key identifier)", who);
        return;
    default:
        CopyText(text, size, "unknown fault");
    }
}
