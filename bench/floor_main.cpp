// tidewell-floor: checks the given accounts one after another, as one check
// cycle of the docklet does, and prints how long each cycle took.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "mail_dialogue.h"

namespace {

const char kUsage[] =
    "usage: tidewell-floor imap|pop3 PORT CYCLES LOGIN:PASSWORD...\n"
    "       tidewell-floor imaps|pop3s CAFILE PORT CYCLES LOGIN:PASSWORD...\n"
    "  checks every account on 127.0.0.1:PORT in turn, CYCLES times, and prints\n"
    "  the milliseconds of each cycle, one a line; imaps and pop3s over TLS,\n"
    "  trusting the CA certificate in CAFILE (PEM)\n";

bool ParseWhole(const std::string& text, int low, int high, int* value) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *value = std::stoi(text);
    return *value >= low && *value <= high;
}

int BadInput(const std::string& message) {
    fprintf(stderr, "tidewell-floor: %s\n%s", message.c_str(), kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5)
        return BadInput("too few arguments");
    std::string protocol = argv[1];
    std::string ca_file;
    if (protocol == "imaps" || protocol == "pop3s") {
        ca_file = argv[2];
        protocol.pop_back();
        --argc;
        ++argv;
        if (argc < 5)
            return BadInput("too few arguments");
    }
    if (protocol != "imap" && protocol != "pop3")
        return BadInput("the protocol is imap, pop3, imaps or pop3s, not \"" + protocol + "\"");
    int port = 0;
    int cycles = 0;
    if (!ParseWhole(argv[2], 1, 65535, &port))
        return BadInput(std::string("PORT must be from 1 to 65535, not \"") + argv[2] + "\"");
    if (!ParseWhole(argv[3], 1, 10000, &cycles))
        return BadInput(std::string("CYCLES must be from 1 to 10000, not \"") + argv[3] + "\"");
    std::vector<MailAccount> accounts;
    for (int i = 4; i < argc; ++i) {
        std::string word = argv[i];
        size_t colon = word.find(':');
        if (colon == 0 || colon == std::string::npos || colon + 1 == word.size())
            return BadInput("an account is LOGIN:PASSWORD, not \"" + word + "\"");
        accounts.push_back({word.substr(0, colon), word.substr(colon + 1)});
    }

    std::string error;
    MailTransport* transport = NewMailTransport(ca_file, &error);
    if (!transport) {
        fprintf(stderr, "tidewell-floor: %s\n", error.c_str());
        return 1;
    }
    int status = 0;
    auto check = protocol == "imap" ? CheckImapAccount : CheckPop3Account;
    for (int cycle = 0; cycle < cycles && status == 0; ++cycle) {
        auto start = std::chrono::steady_clock::now();
        for (const MailAccount& account : accounts) {
            if (!check(transport, port, account, &error)) {
                fprintf(stderr, "tidewell-floor: account %s: %s\n", account.login.c_str(), error.c_str());
                status = 1;
                break;
            }
        }
        if (status == 0) {
            std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
            printf("%.3f\n", spent.count());
        }
    }
    FreeMailTransport(transport);
    return status;
}
