// A certificate's bytes come from the server before anything is trusted:
// reading them, judging a chain of them and showing their names must stay
// within their bytes whatever they hold.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "net/certificate_facts.h"
#include "net/certificate_name.h"
#include "net/chain_rules.h"

namespace {

CertificateFacts facts[2];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first two bytes give the length of the server certificate; its
    // issuer follows it.
    if (size < 2)
        return 0;
    const unsigned char* rest = data + 2;
    size_t restSize = size - 2;
    size_t split = static_cast<size_t>(data[0] << 8 | data[1]);
    if (split > restSize)
        split = restSize;
    const CertificateFacts* chain[2] = {nullptr, nullptr};
    if (ReadCertificateFacts(rest, split, &facts[0]))
        chain[0] = &facts[0];
    if (ReadCertificateFacts(rest + split, restSize - split, &facts[1]))
        chain[1] = &facts[1];
    JudgeChainRules(chain, 2, data[0] & 1 ? kRootFromCaFile : kRootFromSystem);
    if (!chain[0])
        return 0;
    // Spans lie inside the bytes read.
    for (size_t i = 0; i < facts[0].altNameCount; ++i) {
        const DerSpan& value = facts[0].altNames[i].value;
        if (value.data < rest || value.data + value.length > rest + split)
            abort();
    }
    for (const char* host : {"localhost", "127.0.0.1", "a.example.com"})
        CertificateNamesHost(&facts[0], host);
    char shown[256] = "";
    ShowAltNames(&facts[0], shown, sizeof shown);
    AppendShownText(shown, sizeof shown, facts[0].commonNameTag, facts[0].commonName.data, facts[0].commonName.length);
    // Raw bytes as a name with their real length, and as text of each kind.
    HostMatchesDnsName("localhost", reinterpret_cast<const char*>(rest), restSize);
    for (uint8_t tag : {0x0C, 0x1E, 0x1C, 0x13}) {
        char text[64] = "";
        AppendShownText(text, sizeof text, tag, rest, restSize);
        if (strlen(text) >= sizeof text)
            abort();
    }
    return 0;
}
