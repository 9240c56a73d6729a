#include "net/certificate_facts.h"

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
const unsigned char kOidServerAuth[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x01};
const unsigned char kOidAnyExtendedKeyUsage[] = {0x55, 0x1D, 0x25, 0x00};

// Extensions that may be critical without changing what is judged here:
// key identifiers, policies (not enforced), CRL points and authority access.
const unsigned char kKnownExtensions[][3] = {
    {0x55, 0x1D, 0x0E}, {0x55, 0x1D, 0x23}, {0x55, 0x1D, 0x20}, {0x55, 0x1D, 0x1F},
    {0x55, 0x1D, 0x24}, {0x55, 0x1D, 0x36}, {0x55, 0x1D, 0x21},
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
    Der outer = Open(value);
    DerSpan list;
    if (!Expect(&outer, kSequence, &list) || outer.left != 0 || list.length == 0)
        return false;
    Der names = Open(list);
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
    Der outer = Open(value);
    DerSpan sequence, part;
    if (!Expect(&outer, kSequence, &sequence) || outer.left != 0)
        return false;
    Der fields = Open(sequence);
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
    Der outer = Open(value);
    DerSpan list, purpose;
    if (!Expect(&outer, kSequence, &list) || outer.left != 0 || list.length == 0)
        return false;
    Der purposes = Open(list);
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
    Der outer = Open(value);
    DerSpan sequence, list;
    if (!Expect(&outer, kSequence, &sequence) || outer.left != 0)
        return false;
    Der fields = Open(sequence);
    if (Optional(&fields, 0xA0, &list) &&
        !ReadSubtrees(list, facts->permitted, &facts->permittedCount))
        return false;
    if (Optional(&fields, 0xA1, &list) &&
        !ReadSubtrees(list, facts->excluded, &facts->excludedCount))
        return false;
    facts->hasNameConstraints = true;
    return fields.left == 0;
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
        bool (*read)(DerSpan, CertificateFacts*);
        bool CertificateFacts::*seen;
    };
    static const Reader kReaders[] = {
        {kOidAltName, ReadAltNames, &CertificateFacts::hasAltNames},
        {kOidBasicConstraints, ReadBasicConstraints, &CertificateFacts::hasBasicConstraints},
        {kOidKeyUsage, ReadKeyUsage, &CertificateFacts::hasKeyUsage},
        {kOidExtendedKeyUsage, ReadExtendedKeyUsage, &CertificateFacts::hasExtendedKeyUsage},
        {kOidNameConstraints, ReadNameConstraints, &CertificateFacts::hasNameConstraints},
    };
    facts->basicConstraintsCritical =
        facts->basicConstraintsCritical || (isCritical && Is(oid, kOidBasicConstraints));
    facts->altNamesCritical = facts->altNamesCritical || (isCritical && Is(oid, kOidAltName));
    for (const Reader& reader : kReaders) {
        if (Is(oid, reader.oid, 3))
            return !(facts->*reader.seen) && reader.read(value, facts);
    }
    bool known = false;
    for (const unsigned char(&known_oid)[3] : kKnownExtensions)
        known = known || Is(oid, known_oid);
    facts->unknownCriticalExtension = facts->unknownCriticalExtension || (isCritical && !known);
    return true;
}

} // namespace

bool ReadCertificateFacts(const unsigned char* der, size_t length, CertificateFacts* facts) {
    memset(facts, 0, sizeof *facts);
    facts->pathLength = -1;
    Der outer = {der, length};
    DerSpan certificate, tbs, part;
    if (!Expect(&outer, kSequence, &certificate) || outer.left != 0)
        return false;
    Der whole = Open(certificate);
    if (!Expect(&whole, kSequence, &tbs))
        return false;
    Der fields = Open(tbs);
    Optional(&fields, 0xA0, &part); // version
    if (!Expect(&fields, kInteger, &part) || !Expect(&fields, kSequence, &part) ||
        !Expect(&fields, kSequence, &facts->issuer) || !Expect(&fields, kSequence, &part) ||
        !Expect(&fields, kSequence, &facts->subject) || !Expect(&fields, kSequence, &part))
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
