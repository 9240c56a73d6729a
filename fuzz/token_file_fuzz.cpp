// A token file's bytes as the store reads them: the head judged against a
// binding, and the unsealed bytes read for a token, which is either whole
// and keepable or empty.
#include <cstdlib>
#include <cstring>
#include <string>

#include "signin/token_file.h"
#include "signin/token_limits.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const TokenBinding parts = {"imap.example.org", "me", "client", "https://a/auth", "https://a/token"};
    char binding[kTokenBindingSize];
    const size_t bindingLength = FormTokenBinding(&parts, binding, sizeof binding);
    size_t sealedAt = 0;
    if (ReadTokenFileHead(bytes.data(), bytes.size(), binding, bindingLength, &sealedAt) == kTokenHeadOurs &&
        (sealedAt >= bytes.size() || memcmp(bytes.data() + sealedAt - bindingLength, binding, bindingLength) != 0))
        abort();
    static char token[kMaxTokenSize];
    if (ReadSealedToken(bytes.data(), bytes.size(), binding, bindingLength, token, sizeof token)) {
        if (strlen(token) != bytes.size() - bindingLength || !IsKeepableToken(token, strlen(token)))
            abort();
    } else if (token[0] != '\0') {
        abort();
    }
    return 0;
}
