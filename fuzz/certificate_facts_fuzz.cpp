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
    // The length's low bits double as the most intermediates allowed.
    const size_t maxIntermediates = data[1] & 1;
    ChainJudgement judgement = JudgeChainRules(chain, 2, data[0] & 1 ? kRootFromCaFile : kRootFromSystem,
                                               maxIntermediates);
    char why[400];
    DescribeChainFault(chain, 2, maxIntermediates, judgement, why, sizeof why);
    if (strlen(why) >= sizeof why || (judgement.fault != kChainSound && why[0] == '\0'))
        abort();
    if (!chain[0])
        return 0;
    // Spans lie inside the bytes read.
    auto inside = [&](const DerSpan& span) {
        return span.data >= rest && span.data + span.length <= rest + split;
    };
    for (size_t i = 0; i < facts[0].altNameCount; ++i) {
        if (!inside(facts[0].altNames[i].value))
            abort();
    }
    // A serial is at least one byte; a key has no more bits than its certificate.
    if (!inside(facts[0].serial) || facts[0].serial.length == 0 || facts[0].keyBits > 8 * split ||
        (facts[0].keyKind != kKeyRsa && facts[0].keyKind != kKeyEc && facts[0].keyBits != 0))
        abort();
    const CertificateFacts* alone[1] = {chain[0]};
    DescribeChainFault(alone, 1, 0, {JudgeKey(chain[0]), 0}, why, sizeof why);
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
