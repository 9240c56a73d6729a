#include "net/certificate_facts.h"

#include <cstdint>
#include <cstring>

namespace {

// A run of DER bytes read from its start, one TLV after another. Nested
// values are read by opening their content as a reader of its own: no
// recursion, so no depth an attacker could choose.
struct Der {
    const unsigned char* at;
    size_t left;
};

const unsigned char kBoolean = 0x01;
const unsigned char kInteger = 0x02;
const unsigned char kBitString = 0x03;
const unsigned char kOctetString = 0x04;
const unsigned char kOid = 0x06;
const unsigned char kSequence = 0x30;
const unsigned char kSet = 0x31;

// Reads one TLV with a one-byte tag and a definite length.
bool Next(Der* der, unsigned char* tag, DerSpan* content) {
    if (der->left < 2 || (der->at[0] & 0x1F) == 0x1F)
        return false;
    *tag = der->at[0];
    size_t header = 2;
    size_t length = der->at[1];
    if (length & 0x80) {
        size_t count = length & 0x7F;
        if (count == 0 || count > 4 || der->left < 2 + count)
            return false;
        length = 0;
        for (size_t i = 0; i < count; ++i)
            length = (length << 8) | der->at[2 + i];
        header += count;
    }
    if (length > der->left - header)
        return false;
    content->data = der->at + header;
    content->length = length;
    der->at += header + length;
    der->left -= header + length;
    return true;
}

bool Expect(Der* der, unsigned char expected, DerSpan* content) {
    unsigned char tag;
    return Next(der, &tag, content) && tag == expected;
}

// Reads the next TLV only when it has the tag given.
bool Optional(Der* der, unsigned char expected, DerSpan* content) {
    if (der->left == 0 || der->at[0] != expected)
        return false;
    return Expect(der, expected, content);
}

Der Open(DerSpan span) {
    return Der{span.data, span.length};
}

// An extension's value or a key that must be one SEQUENCE and nothing after
// it: opens its contents, which a list must not leave empty.
bool OpenWholeSequence(DerSpan value, Der* contents, bool emptyAllowed) {
    Der outer = Open(value);
    DerSpan sequence;
    if (!Expect(&outer, kSequence, &sequence) || outer.left != 0 ||
        (!emptyAllowed && sequence.length == 0))
        return false;
    *contents = Open(sequence);
    return true;
}

bool Is(DerSpan span, const unsigned char* bytes, size_t length) {
    return span.length == length && memcmp(span.data, bytes, length) == 0;
}

template <size_t N> bool Is(DerSpan span, const unsigned char (&bytes)[N]) {
    return Is(span, bytes, N);
}

const unsigned char kOidCommonName[] = {0x55, 0x04, 0x03};
const unsigned char kOidKeyUsage[] = {0x55, 0x1D, 0x0F};
const unsigned char kOidAltName[] = {0x55, 0x1D, 0x11};
const unsigned char kOidBasicConstraints[] = {0x55, 0x1D, 0x13};
const unsigned char kOidNameConstraints[] = {0x55, 0x1D, 0x1E};
const unsigned char kOidExtendedKeyUsage[] = {0x55, 0x1D, 0x25};
const unsigned char kOidAuthorityKeyId[] = {0x55, 0x1D, 0x23};
const unsigned char kOidAuthorityInfoAccess[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x01, 0x01};
const unsigned char kOidServerAuth[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x01};
const unsigned char kOidAnyExtendedKeyUsage[] = {0x55, 0x1D, 0x25, 0x00};

// Extensions that may be critical without changing what is judged here:
// key identifiers, policies (not enforced), CRL points and authority access.
const unsigned char kKnownExtensions[][3] = {
    {0x55, 0x1D, 0x0E}, {0x55, 0x1D, 0x20}, {0x55, 0x1D, 0x1F},
    {0x55, 0x1D, 0x24}, {0x55, 0x1D, 0x36}, {0x55, 0x1D, 0x21},
};

const unsigned char kOidRsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
const unsigned char kOidRsaPss[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0A};
const unsigned char kOidEcPublicKey[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
const unsigned char kOidDsa[] = {0x2A, 0x86, 0x48, 0xCE, 0x38, 0x04, 0x01};
const unsigned char kOidOiwDsa[] = {0x2B, 0x0E, 0x03, 0x02, 0x0C};
const unsigned char kOidSha1[] = {0x2B, 0x0E, 0x03, 0x02, 0x1A};
const unsigned char kOidMd5[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x05};
// x9-57 signatures (dsa-with-sha1) lie under 1.2.840.10040.4; NIST's DSA
// ones (with SHA-2 and SHA-3) are 2.16.840.1.101.3.4.3.1 to .8.
const unsigned char kOidX957[] = {0x2A, 0x86, 0x48, 0xCE, 0x38, 0x04};
const unsigned char kOidNistSignatures[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x03};

struct WeakSignature {
    unsigned char oid[9];
    size_t length;
    SignatureFlaw flaw;
};

const WeakSignature kWeakSignatures[] = {
    {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x02}, 9, kSignatureMd2},
    {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x03}, 9, kSignatureMd4},
    {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x04}, 9, kSignatureMd5},
    {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x05}, 9, kSignatureSha1},
    {{0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x04, 0x01}, 7, kSignatureSha1}, // ecdsa-with-SHA1
    // The old OIW names: md5WithRSA, sha1WithRSASignature, dsaWithSHA, dsaWithSHA1.
    {{0x2B, 0x0E, 0x03, 0x02, 0x03}, 5, kSignatureMd5},
    {{0x2B, 0x0E, 0x03, 0x02, 0x1D}, 5, kSignatureSha1},
    {{0x2B, 0x0E, 0x03, 0x02, 0x0D}, 5, kSignatureDsa},
    {{0x2B, 0x0E, 0x03, 0x02, 0x1B}, 5, kSignatureDsa},
};

bool FindCommonName(DerSpan name, CertificateFacts* facts) {
    Der rdns = Open(name);
    DerSpan rdn;
    while (rdns.left > 0) {
        if (!Expect(&rdns, kSet, &rdn))
            return false;
        Der attributes = Open(rdn);
        DerSpan attribute;
        while (attributes.left > 0) {
            if (!Expect(&attributes, kSequence, &attribute))
                return false;
            Der parts = Open(attribute);
            DerSpan type, value;
            unsigned char tag;
            if (!Expect(&parts, kOid, &type) || !Next(&parts, &tag, &value))
                return false;
            if (Is(type, kOidCommonName) && !facts->commonName.data) {
                facts->commonName = value;
                facts->commonNameTag = tag;
            }
        }
    }
    return true;
}

// A GeneralName by its context tag: [2] dNSName, [7] iPAddress,
// [4] directoryName (explicit, holding a Name), the rest as other.
bool ReadGeneralName(unsigned char tag, DerSpan content, GeneralName* name) {
    name->value = content;
    switch (tag) {
    case 0x82:
        name->kind = kNameDns;
        return true;
    case 0x87:
        name->kind = kNameIp;
        return true;
    case 0xA4: {
        Der inner = Open(content);
        name->kind = kNameDirectory;
        return Expect(&inner, kSequence, &name->value) && inner.left == 0;
    }
    default:
        name->kind = kNameOther;
        return (tag & 0x80) != 0;
    }
}

bool ReadAltNames(DerSpan value, CertificateFacts* facts) {
    Der names;
    if (!OpenWholeSequence(value, &names, false))
        return false;
    while (names.left > 0) {
        unsigned char tag;
        DerSpan content;
        if (facts->altNameCount == kMaxAltNames || !Next(&names, &tag, &content) ||
            !ReadGeneralName(tag, content, &facts->altNames[facts->altNameCount]))
            return false;
        ++facts->altNameCount;
    }
    facts->hasAltNames = true;
    return true;
}

bool ReadBasicConstraints(DerSpan value, CertificateFacts* facts) {
    DerSpan part;
    Der fields;
    if (!OpenWholeSequence(value, &fields, true))
        return false;
    facts->pathLength = -1;
    if (Optional(&fields, kBoolean, &part)) {
        if (part.length != 1)
            return false;
        facts->isCa = part.data[0] != 0;
    }
    if (Optional(&fields, kInteger, &part)) {
        // Small and not negative: anything else limits nothing sensible.
        if (part.length == 0 || part.length > 2 || (part.data[0] & 0x80))
            return false;
        facts->pathLength = part.length == 1 ? part.data[0] : (part.data[0] << 8) | part.data[1];
    }
    facts->hasBasicConstraints = true;
    return fields.left == 0;
}

bool ReadKeyUsage(DerSpan value, CertificateFacts* facts) {
    Der outer = Open(value);
    DerSpan bits;
    if (!Expect(&outer, kBitString, &bits) || outer.left != 0 || bits.length < 1 ||
        bits.data[0] > 7)
        return false;
    facts->keyUsage = static_cast<uint16_t>((bits.length > 1 ? bits.data[1] << 8 : 0) |
                                            (bits.length > 2 ? bits.data[2] : 0));
    facts->hasKeyUsage = true;
    return true;
}

bool ReadExtendedKeyUsage(DerSpan value, CertificateFacts* facts) {
    DerSpan purpose;
    Der purposes;
    if (!OpenWholeSequence(value, &purposes, false))
        return false;
    while (purposes.left > 0) {
        if (!Expect(&purposes, kOid, &purpose))
            return false;
        facts->serverAuth = facts->serverAuth || Is(purpose, kOidServerAuth);
        facts->anyExtendedKeyUsage =
            facts->anyExtendedKeyUsage || Is(purpose, kOidAnyExtendedKeyUsage);
    }
    facts->hasExtendedKeyUsage = true;
    return true;
}

bool ReadSubtrees(DerSpan list, GeneralName* names, size_t* count) {
    Der subtrees = Open(list);
    DerSpan subtree;
    while (subtrees.left > 0) {
        if (*count == kMaxNameConstraints || !Expect(&subtrees, kSequence, &subtree))
            return false;
        Der fields = Open(subtree);
        unsigned char tag;
        DerSpan content;
        if (!Next(&fields, &tag, &content) || !ReadGeneralName(tag, content, &names[*count]))
            return false;
        // minimum 0 and no maximum, as the profile says: anything else is not understood.
        if (fields.left != 0)
            return false;
        ++*count;
    }
    return true;
}

bool ReadNameConstraints(DerSpan value, CertificateFacts* facts) {
    DerSpan list;
    Der fields;
    if (!OpenWholeSequence(value, &fields, true))
        return false;
    if (Optional(&fields, 0xA0, &list) &&
        !ReadSubtrees(list, facts->permitted, &facts->permittedCount))
        return false;
    if (Optional(&fields, 0xA1, &list) &&
        !ReadSubtrees(list, facts->excluded, &facts->excludedCount))
        return false;
    facts->hasNameConstraints = true;
    return fields.left == 0;
}

// RFC 5280 4.2.1.1: keyIdentifier [0], authorityCertIssuer [1] and
// authorityCertSerialNumber [2], each optional, in that order.
bool ReadAuthorityKeyId(DerSpan value, CertificateFacts* facts) {
    DerSpan part;
    Der fields;
    if (!OpenWholeSequence(value, &fields, true))
        return false;
    facts->authorityKeyIdHasKeyId = Optional(&fields, 0x80, &part);
    bool issuer = Optional(&fields, 0xA1, &part);
    bool serial = Optional(&fields, 0x82, &part);
    facts->authorityKeyIdNamesCertificate = issuer || serial;
    facts->hasAuthorityKeyId = true;
    return fields.left == 0;
}

// RFC 5280 4.2.2.1: one or more access descriptions, each a method and a location.
bool ReadAuthorityInfoAccess(DerSpan value, CertificateFacts* facts) {
    DerSpan description, method, location;
    Der descriptions;
    if (!OpenWholeSequence(value, &descriptions, false))
        return false;
    while (descriptions.left > 0) {
        if (!Expect(&descriptions, kSequence, &description))
            return false;
        Der parts = Open(description);
        unsigned char tag;
        GeneralName name;
        if (!Expect(&parts, kOid, &method) || !Next(&parts, &tag, &location) ||
            !ReadGeneralName(tag, location, &name) || parts.left != 0)
            return false;
    }
    facts->hasAuthorityInfoAccess = true;
    return true;
}

bool ReadExtension(DerSpan extension, CertificateFacts* facts) {
    Der fields = Open(extension);
    DerSpan oid, critical, value;
    if (!Expect(&fields, kOid, &oid))
        return false;
    bool isCritical = false;
    if (Optional(&fields, kBoolean, &critical)) {
        if (critical.length != 1)
            return false;
        isCritical = critical.data[0] != 0;
    }
    if (!Expect(&fields, kOctetString, &value) || fields.left != 0)
        return false;
    struct Reader {
        const unsigned char* oid;
        size_t oidLength;
        bool (*read)(DerSpan, CertificateFacts*);
        bool CertificateFacts::*seen;
        bool mayBeCritical; // false: read to refuse a malformed one, but not acted on
    };
    static const Reader kReaders[] = {
        {kOidAltName, sizeof kOidAltName, ReadAltNames, &CertificateFacts::hasAltNames, true},
        {kOidBasicConstraints, sizeof kOidBasicConstraints, ReadBasicConstraints,
         &CertificateFacts::hasBasicConstraints, true},
        {kOidKeyUsage, sizeof kOidKeyUsage, ReadKeyUsage, &CertificateFacts::hasKeyUsage, true},
        {kOidExtendedKeyUsage, sizeof kOidExtendedKeyUsage, ReadExtendedKeyUsage,
         &CertificateFacts::hasExtendedKeyUsage, true},
        {kOidNameConstraints, sizeof kOidNameConstraints, ReadNameConstraints,
         &CertificateFacts::hasNameConstraints, true},
        {kOidAuthorityKeyId, sizeof kOidAuthorityKeyId, ReadAuthorityKeyId,
         &CertificateFacts::hasAuthorityKeyId, true},
        {kOidAuthorityInfoAccess, sizeof kOidAuthorityInfoAccess, ReadAuthorityInfoAccess,
         &CertificateFacts::hasAuthorityInfoAccess, false},
    };
    facts->basicConstraintsCritical =
        facts->basicConstraintsCritical || (isCritical && Is(oid, kOidBasicConstraints));
    facts->altNamesCritical = facts->altNamesCritical || (isCritical && Is(oid, kOidAltName));
    for (const Reader& reader : kReaders) {
        if (Is(oid, reader.oid, reader.oidLength)) {
            facts->unknownCriticalExtension =
                facts->unknownCriticalExtension || (isCritical && !reader.mayBeCritical);
            return !(facts->*reader.seen) && reader.read(value, facts);
        }
    }
    bool known = false;
    for (const unsigned char(&known_oid)[3] : kKnownExtensions)
        known = known || Is(oid, known_oid);
    facts->unknownCriticalExtension = facts->unknownCriticalExtension || (isCritical && !known);
    return true;
}

uint32_t Bits(size_t bytes, unsigned char top) {
    uint32_t topBits = 0;
    for (; top != 0; top >>= 1)
        ++topBits;
    return bytes > (UINT32_MAX - 8) / 8 ? UINT32_MAX : static_cast<uint32_t>(bytes * 8 + topBits);
}

// RFC 8017 A.1.1: a SEQUENCE of the modulus and the exponent, both positive.
bool ReadRsaModulus(DerSpan key, CertificateFacts* facts) {
    DerSpan modulus, exponent;
    Der numbers;
    if (!OpenWholeSequence(key, &numbers, true))
        return false;
    if (!Expect(&numbers, kInteger, &modulus) || !Expect(&numbers, kInteger, &exponent) ||
        numbers.left != 0 || modulus.length == 0 || (modulus.data[0] & 0x80))
        return false;
    size_t at = 0;
    while (at < modulus.length && modulus.data[at] == 0)
        ++at;
    facts->keyKind = kKeyRsa;
    facts->keyBits = at == modulus.length ? 0 : Bits(modulus.length - at - 1, modulus.data[at]);
    return true;
}

// SEC 1 2.3.3: 04 (or the hybrid 06 and 07) before both coordinates, 02 or
// 03 before x alone; each coordinate takes the field's size in bytes.
bool ReadEcPoint(DerSpan point, CertificateFacts* facts) {
    size_t field;
    unsigned char form = point.data[0];
    if (form == 0x02 || form == 0x03)
        field = point.length - 1;
    else if ((form == 0x04 || form == 0x06 || form == 0x07) && (point.length - 1) % 2 == 0)
        field = (point.length - 1) / 2;
    else
        return false;
    facts->keyKind = kKeyEc;
    facts->keyBits = field == 0 ? 0 : Bits(field - 1, 0xFF);
    return true;
}

bool ReadPublicKey(DerSpan spki, CertificateFacts* facts) {
    Der fields = Open(spki);
    DerSpan algorithm, key, oid;
    if (!Expect(&fields, kSequence, &algorithm) || !Expect(&fields, kBitString, &key) ||
        fields.left != 0)
        return false;
    Der parts = Open(algorithm);
    if (!Expect(&parts, kOid, &oid))
        return false;
    if (Is(oid, kOidDsa) || Is(oid, kOidOiwDsa)) {
        facts->keyKind = kKeyDsa;
        return true;
    }
    bool rsa = Is(oid, kOidRsa) || Is(oid, kOidRsaPss);
    if (!rsa && !Is(oid, kOidEcPublicKey))
        return true;
    // Both keys are whole bytes: no unused bits.
    if (key.length < 2 || key.data[0] != 0)
        return false;
    DerSpan bits = {key.data + 1, key.length - 1};
    return rsa ? ReadRsaModulus(bits, facts) : ReadEcPoint(bits, facts);
}

// RFC 4055 3.1: RSASSA-PSS names its hash in its parameters' [0], SHA-1
// when it names none.
bool ReadPssHash(Der* parameters, SignatureFlaw* flaw) {
    DerSpan sequence, wrapped, algorithm, hash;
    *flaw = kSignatureSha1;
    if (parameters->left == 0)
        return true;
    if (!Expect(parameters, kSequence, &sequence) || parameters->left != 0)
        return false;
    Der fields = Open(sequence);
    if (!Optional(&fields, 0xA0, &wrapped))
        return true;
    Der inner = Open(wrapped);
    if (!Expect(&inner, kSequence, &algorithm))
        return false;
    Der named = Open(algorithm);
    if (!Expect(&named, kOid, &hash))
        return false;
    *flaw = Is(hash, kOidSha1)  ? kSignatureSha1
            : Is(hash, kOidMd5) ? kSignatureMd5
                                : kSignatureSound;
    return true;
}

bool ReadSignatureAlgorithm(DerSpan algorithm, SignatureFlaw* flaw) {
    Der fields = Open(algorithm);
    DerSpan oid;
    if (!Expect(&fields, kOid, &oid))
        return false;
    if (Is(oid, kOidRsaPss))
        return ReadPssHash(&fields, flaw);
    *flaw = kSignatureSound;
    for (const WeakSignature& weak : kWeakSignatures) {
        if (Is(oid, weak.oid, weak.length))
            *flaw = weak.flaw;
    }
    bool x957 =
        oid.length == sizeof kOidX957 + 1 && memcmp(oid.data, kOidX957, sizeof kOidX957) == 0;
    bool nistDsa = oid.length == sizeof kOidNistSignatures + 1 &&
                   memcmp(oid.data, kOidNistSignatures, sizeof kOidNistSignatures) == 0 &&
                   oid.data[oid.length - 1] >= 1 && oid.data[oid.length - 1] <= 8;
    if (x957 || nistDsa)
        *flaw = kSignatureDsa;
    return true;
}

} // namespace

bool ReadCertificateFacts(const unsigned char* der, size_t length, CertificateFacts* facts) {
    memset(facts, 0, sizeof *facts);
    facts->pathLength = -1;
    Der outer = {der, length};
    DerSpan certificate, tbs, part, tbsSignature, signature, spki;
    if (!Expect(&outer, kSequence, &certificate) || outer.left != 0)
        return false;
    Der whole = Open(certificate);
    // The algorithm inside the signed part must be the one the signature is
    // made with (RFC 5280 4.1.1.2), or judging one would not judge the other.
    if (!Expect(&whole, kSequence, &tbs) || !Expect(&whole, kSequence, &signature) ||
        !Expect(&whole, kBitString, &part) || whole.left != 0 ||
        !ReadSignatureAlgorithm(signature, &facts->signatureFlaw))
        return false;
    Der fields = Open(tbs);
    Optional(&fields, 0xA0, &part); // version
    if (!Expect(&fields, kInteger, &facts->serial) || facts->serial.length == 0 ||
        !Expect(&fields, kSequence, &tbsSignature) ||
        !Is(tbsSignature, signature.data, signature.length) ||
        !Expect(&fields, kSequence, &facts->issuer) || !Expect(&fields, kSequence, &part) ||
        !Expect(&fields, kSequence, &facts->subject) || !Expect(&fields, kSequence, &spki) ||
        !ReadPublicKey(spki, facts))
        return false;
    Optional(&fields, 0x81, &part); // issuerUniqueID
    Optional(&fields, 0x82, &part); // subjectUniqueID
    DerSpan wrapped, list;
    if (Optional(&fields, 0xA3, &wrapped)) {
        Der inner = Open(wrapped);
        if (!Expect(&inner, kSequence, &list) || inner.left != 0)
            return false;
        Der extensions = Open(list);
        DerSpan extension;
        while (extensions.left > 0) {
            if (!Expect(&extensions, kSequence, &extension) || !ReadExtension(extension, facts))
                return false;
        }
    }
    return fields.left == 0 && FindCommonName(facts->subject, facts);
}

bool IsSelfIssued(const CertificateFacts* facts) {
    return facts->issuer.length == facts->subject.length &&
           (facts->subject.length == 0 ||
            memcmp(facts->issuer.data, facts->subject.data, facts->subject.length) == 0);
}
