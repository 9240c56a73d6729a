#include "signin/token_file.h"

#include <cstring>

#include "signin/token_limits.h"
#include "text/bounded_text.h"

namespace {

const char kMagic[] = "Tidewell refresh token 1\n";
const int kBindingParts = 5;

// Length of the binding text at data[0..length): the parts that
// FormTokenBinding writes, read back; 0 when they are not there.
size_t BindingLength(const char* data, size_t length) {
    size_t at = 0;
    for (int part = 0; part < kBindingParts; ++part) {
        size_t value = 0;
        size_t digits = 0;
        for (; at < length && data[at] >= '0' && data[at] <= '9' && digits < 6; ++at, ++digits)
            value = value * 10 + static_cast<size_t>(data[at] - '0');
        if (digits == 0 || at >= length || data[at] != ':' || length - at - 1 < value + 1)
            return 0;
        at += 1 + value;
        if (data[at] != '\n')
            return 0;
        ++at;
    }
    return at;
}

} // namespace

size_t FormTokenBinding(const TokenBinding* binding, char* text, size_t size) {
    const char* const parts[kBindingParts] = {binding->address, binding->login, binding->clientId,
                                              binding->authorizeUrl, binding->tokenUrl};
    size_t at = 0;
    for (const char* part : parts) {
        if (at >= size || !FormatText(text + at, size - at, "%u:%s\n", static_cast<unsigned>(strlen(part)), part)) {
            if (size > 0)
                text[0] = '\0';
            return 0;
        }
        at += strlen(text + at);
    }
    return at;
}

size_t FormTokenFileHead(const char* binding, size_t bindingLength, char* head, size_t size) {
    const size_t magicLength = sizeof kMagic - 1;
    if (magicLength + bindingLength + 1 > size)
        return 0;
    memcpy(head, kMagic, magicLength);
    memcpy(head + magicLength, binding, bindingLength);
    head[magicLength + bindingLength] = '\0';
    return magicLength + bindingLength;
}

TokenFileHead ReadTokenFileHead(const char* data, size_t length, const char* binding,
                                size_t bindingLength, size_t* sealedAt) {
    const size_t magicLength = sizeof kMagic - 1;
    if (length < magicLength || memcmp(data, kMagic, magicLength) != 0)
        return kTokenHeadNotOurs;
    const size_t kept = BindingLength(data + magicLength, length - magicLength);
    if (kept == 0 || kept == length - magicLength)
        return kTokenHeadNotOurs;
    if (kept != bindingLength || memcmp(data + magicLength, binding, bindingLength) != 0)
        return kTokenHeadOtherBinding;
    *sealedAt = magicLength + kept;
    return kTokenHeadOurs;
}

bool IsKeepableToken(const char* token, size_t length) {
    if (length == 0 || length >= kMaxTokenSize)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (static_cast<unsigned char>(token[i]) <= 0x20 || static_cast<unsigned char>(token[i]) >= 0x7F)
            return false;
    return true;
}

bool ReadSealedToken(const char* plain, size_t length, const char* binding, size_t bindingLength,
                     char* token, size_t size) {
    if (size > 0)
        token[0] = '\0';
    if (length < bindingLength || memcmp(plain, binding, bindingLength) != 0)
        return false;
    const size_t tokenLength = length - bindingLength;
    if (!IsKeepableToken(plain + bindingLength, tokenLength) || tokenLength >= size)
        return false;
    memcpy(token, plain + bindingLength, tokenLength);
    token[tokenLength] = '\0';
    return true;
}
