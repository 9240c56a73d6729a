// x509-limbo's server cases through the check a TLS connection makes: the
// case's trusted certificates as the account's CAFile, its intermediates as
// what the server sent, its validation time when it has one. Run by the ctest
// test "limbo.server_cases" over the files tests/support/limbo_cases.py makes.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "net/certificate_check_win.h"
#include "net/certificate_file.h"
#include "linux_files_win.h"

namespace {

struct LimboCase {
    std::string number, id, expected, host, when, depth;
};

// Cases where the check and the suite part, and why. Each is a refusal of a
// certificate the suite accepts: the check never accepts one it refuses.
const std::map<std::string, std::string> kKnownDisagreements = {
    {"pathlen::self-issued-certs-pathlen", "refused: Wine's chain engine builds no trusted chain through a self-issued CA"},
    {"rfc5280::ca-nameconstraints-permitted-self-issued",
     "refused: Wine's chain engine builds no trusted chain through a self-issued CA"},
    {"rfc5280::ca-nameconstraints-permitted-dn-match",
     "refused: the certificate names no DNS host at all (its one subjectAltName is a directory name), "
     "and the case asks for example.com"},
};

std::string Folder() { return WindowsFolder(TIDEWELL_LIMBO_DIR); }

std::vector<LimboCase> ReadCases() {
    std::vector<LimboCase> cases;
    std::istringstream lines(ReadWholeFile(Folder() + "cases.txt"));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        LimboCase c;
        if (std::getline(fields, c.number, '\t') && std::getline(fields, c.id, '\t') &&
            std::getline(fields, c.expected, '\t') && std::getline(fields, c.host, '\t') &&
            std::getline(fields, c.when, '\t') && std::getline(fields, c.depth, '\t'))
            cases.push_back(c);
    }
    return cases;
}

bool ParseTime(const std::string& text, FILETIME* time) {
    SYSTEMTIME moment = {};
    int year, month, day, hour, minute, second;
    if (sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &year, &month, &day, &hour, &minute, &second) != 6)
        return false;
    moment.wYear = static_cast<WORD>(year);
    moment.wMonth = static_cast<WORD>(month);
    moment.wDay = static_cast<WORD>(day);
    moment.wHour = static_cast<WORD>(hour);
    moment.wMinute = static_cast<WORD>(minute);
    moment.wSecond = static_cast<WORD>(second);
    return SystemTimeToFileTime(&moment, time) != FALSE;
}

// The check's verdict on one case, with its reason for the log.
bool Accepted(const LimboCase& c, std::string* reason) {
    const std::string folder = Folder() + c.number + "\\";
    const std::string sent = ReadWholeFile(folder + "sent.pem");
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    PCCERT_CONTEXT leaf = nullptr;
    std::vector<unsigned char> der(sent.size() + 1);
    size_t at = 0;
    for (size_t length; (length = NextCertificateInFile(sent.data(), sent.size(), &at, der.data(), der.size())) > 0;)
        CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(length),
                                         CERT_STORE_ADD_ALWAYS, leaf ? nullptr : &leaf);
    FILETIME time;
    bool timed = c.when != "-" && ParseTime(c.when, &time);
    char why[400] = "";
    CertificateVerdict verdict = kCertificateUntrusted;
    // The case's longest chain is a setting of the client it plays.
    size_t maxIntermediates = c.depth == "-" ? kMaxIntermediateCas : strtoul(c.depth.c_str(), nullptr, 10);
    if (leaf)
        verdict = CheckServerCertificate(leaf, c.host.c_str(), (folder + "trusted.pem").c_str(),
                                         timed ? &time : nullptr, maxIntermediates, why, sizeof why);
    static const char* const kVerdicts[] = {"accepted", "not trusted", "out of date", "other name"};
    *reason = std::string(kVerdicts[verdict]) + (why[0] ? std::string(" (") + why + ")" : "");
    if (leaf)
        CertFreeCertificateContext(leaf);
    CertCloseStore(store, 0);
    return verdict == kCertificateAccepted;
}

TEST(CertificateLimbo, EveryServerCaseAgreesOrIsListedWithItsReason) {
    const std::vector<LimboCase> cases = ReadCases();
    ASSERT_FALSE(cases.empty()) << "no cases in " << Folder() << "cases.txt";
    std::map<std::string, std::pair<int, int>> byNamespace;  // agreeing, all
    int agreeing = 0;
    for (const LimboCase& c : cases) {
        std::string reason;
        bool accepted = Accepted(c, &reason);
        bool agrees = accepted == (c.expected == "SUCCESS");
        std::string space = c.id.substr(0, c.id.find("::"));
        byNamespace[space].first += agrees;
        byNamespace[space].second += 1;
        agreeing += agrees;
        bool listed = kKnownDisagreements.count(c.id) > 0;
        EXPECT_FALSE(accepted && !agrees) << c.id << ": accepted, which the suite refuses";
        EXPECT_TRUE(agrees || listed) << c.id << ": expected " << c.expected << ", the check says " << reason;
        EXPECT_FALSE(agrees && listed) << c.id << " agrees now: take it off the list";
        printf("%s %s: expected %s, %s\n", agrees ? "agrees  " : "DIFFERS ", c.id.c_str(), c.expected.c_str(),
               reason.c_str());
    }
    for (const auto& space : byNamespace)
        printf("namespace %s: %d of %d agree\n", space.first.c_str(), space.second.first, space.second.second);
    printf("all: %d of %d agree\n", agreeing, static_cast<int>(cases.size()));
}

}  // namespace
