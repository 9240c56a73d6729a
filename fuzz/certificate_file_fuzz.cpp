// A CAFile is whatever the user named: PEM, DER or anything else. Every
// certificate read from it fits the room given and starts a DER SEQUENCE,
// and reading always moves on.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "net/certificate_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    std::vector<unsigned char> der(size + 1);
    size_t at = 0;
    for (int reads = 0;; ++reads) {
        size_t before = at;
        size_t length = NextCertificateInFile(text, size, &at, der.data(), der.size());
        if (length == 0)
            break;
        if (length > der.size() || der[0] != 0x30 || at <= before || at > size || reads > static_cast<int>(size))
            abort();
    }
    return 0;
}
