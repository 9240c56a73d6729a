#include "signin/random_and_hash_win.h"

#include <windows.h>

#include <wincrypt.h>

namespace {

// The default provider type has no SHA-256 on XP; the AES one has it from SP3 on.
bool AcquireProvider(HCRYPTPROV* provider) {
    *provider = 0;
    return CryptAcquireContextA(provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
}

} // namespace

bool FillRandomBytes(unsigned char* bytes, size_t count, unsigned long* error) {
    HCRYPTPROV provider = 0;
    bool filled =
        AcquireProvider(&provider) && CryptGenRandom(provider, static_cast<DWORD>(count), bytes);
    *error = filled ? 0 : GetLastError();
    if (provider)
        CryptReleaseContext(provider, 0);
    return filled;
}

bool Sha256(const void* data, size_t length, unsigned char digest[kSha256Size],
            unsigned long* error) {
    // CALG_SHA_256, which the headers give only to builds for XP SP3 and later.
    const ALG_ID kSha256 = ALG_CLASS_HASH | ALG_TYPE_ANY | 12;
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    DWORD size = kSha256Size;
    bool hashed =
        AcquireProvider(&provider) && CryptCreateHash(provider, kSha256, 0, 0, &hash) &&
        CryptHashData(hash, static_cast<const BYTE*>(data), static_cast<DWORD>(length), 0) &&
        CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) && size == kSha256Size;
    *error = hashed ? 0 : GetLastError();
    if (hash)
        CryptDestroyHash(hash);
    if (provider)
        CryptReleaseContext(provider, 0);
    return hashed;
}

bool NewPkce(Pkce* out, unsigned long* error) {
    unsigned char bytes[2 * kPkceBytes];
    unsigned char digest[kSha256Size];
    *out = Pkce{};
    if (!FillRandomBytes(bytes, sizeof bytes, error))
        return false;
    EncodePkceText(bytes, out->verifier);
    EncodePkceText(bytes + kPkceBytes, out->state);
    SecureZeroMemory(bytes, sizeof bytes);
    if (!Sha256(out->verifier, kPkceTextSize - 1, digest, error)) {
        *out = Pkce{};
        return false;
    }
    EncodePkceText(digest, out->challenge);
    return true;
}
