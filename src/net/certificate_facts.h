#pragma once
#include <cstddef>
#include <cstdint>

// What a certificate says about itself, read from its DER bytes: the facts a
// chain is judged by beyond its signatures and dates. Every span points into
// the DER given, which must outlive the facts.

struct DerSpan {
    const unsigned char* data;
    size_t length;
};

enum GeneralNameKind {
    kNameDns,       // IA5String bytes, as they are (a NUL or 8-bit byte included)
    kNameIp,        // 4 or 16 bytes; in a name constraint 8 or 32 (address, then mask)
    kNameDirectory, // a Name's RDNs (the SEQUENCE's content)
    kNameOther,     // e-mail, URI and the rest: kept so that constraints on them are seen
};

struct GeneralName {
    GeneralNameKind kind;
    DerSpan value;
};

// More entries than these make the certificate unreadable rather than half read.
const size_t kMaxAltNames = 1024;
const size_t kMaxNameConstraints = 16;

// keyUsage bits, as the first two bytes of the BIT STRING read big-endian.
const uint16_t kKeyUsageDigitalSignature = 0x8000;
const uint16_t kKeyUsageKeyEncipherment = 0x2000;
const uint16_t kKeyUsageKeyCertSign = 0x0400;

// The kind of key a certificate holds, where its strength is judged.
enum KeyKind {
    kKeyOther, // Ed25519 and the rest: left to the chain engine
    kKeyRsa,   // rsaEncryption or RSASSA-PSS
    kKeyEc,    // id-ecPublicKey, on any curve
    kKeyDsa,
};

// What a certificate's signature is made with, when that is known to be weak.
enum SignatureFlaw {
    kSignatureSound, // none known (whether it verifies is the chain engine's business)
    kSignatureMd2,
    kSignatureMd4,
    kSignatureMd5,
    kSignatureSha1,
    kSignatureDsa, // with any hash
};

struct CertificateFacts {
    DerSpan serial; // the serial number INTEGER's content bytes, as encoded
    DerSpan issuer; // the Names' RDNs
    DerSpan subject;
    DerSpan commonName;    // the subject's first common name, its string's bytes
    uint8_t commonNameTag; // that string's type (UTF8String 0x0C, BMPString 0x1E, ...)
    KeyKind keyKind;
    uint32_t keyBits; // RSA: the modulus's; elliptic curve: the field's, from the point's
                      // size in whole bytes (so P-521 reads as 528)
    SignatureFlaw signatureFlaw;
    bool hasAuthorityKeyId;
    bool authorityKeyIdHasKeyId;         // its keyIdentifier field
    bool authorityKeyIdNamesCertificate; // its authorityCertIssuer or authorityCertSerialNumber
    bool hasAuthorityInfoAccess;         // read only to refuse a malformed one: it is not used
    bool hasBasicConstraints;
    bool basicConstraintsCritical;
    bool isCa;
    int32_t pathLength; // -1 when not limited
    bool hasKeyUsage;
    uint16_t keyUsage;
    bool hasExtendedKeyUsage;
    bool serverAuth;
    bool anyExtendedKeyUsage;
    bool hasAltNames;
    bool altNamesCritical;
    size_t altNameCount;
    GeneralName altNames[kMaxAltNames];
    bool hasNameConstraints;
    size_t permittedCount;
    GeneralName permitted[kMaxNameConstraints];
    size_t excludedCount;
    GeneralName excluded[kMaxNameConstraints];
    bool unknownCriticalExtension;
};

// Reads a certificate. False when der is no certificate, or one whose
// extensions this reader cannot read in full (a repeated extension, one that
// is malformed, more names than it keeps), whose key of a judged kind is
// malformed, or whose two signature algorithm fields differ: such a
// certificate is refused.
bool ReadCertificateFacts(const unsigned char* der, size_t length, CertificateFacts* facts);

// A certificate issued by its own subject (a root, or a CA's new key).
bool IsSelfIssued(const CertificateFacts* facts);
