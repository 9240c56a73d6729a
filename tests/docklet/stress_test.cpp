// Many items, many rounds, many holds, against the private Dovecot and against
// servers that never answer: nothing crashes, nothing calls the host for a
// removed item, and the host's handles and memory come back to where they were.
#include "scripted_server_win.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "dovecot_fixture_win.h"
#include "host_run_win.h"

namespace {

// Each test has a Dovecot user of its own (login and password alike): tests run side by side.
// `security`: the account's Security and CAFile lines, or nothing.
std::string Settings(int port, int delaySeconds, int debug, const std::string& user,
                     const std::string& security = "") {
    return "[Common]\r\nDebug=" + std::to_string(debug) + "\r\nNbAccount=1\r\nDelaySecond=" +
           std::to_string(delaySeconds) +
           "\r\nstringCheck=Checking\r\nstringNoMsg=None\r\nstringOneMsg=One\r\nstringHaveMsg=%d new\r\n"
           "[account0]\r\nType=IMAP\r\nAddress=127.0.0.1\r\nPort=" + std::to_string(port) +
           "\r\nLogin=" + user + "\r\nPassword=" + user + "\r\n" + security;
}

std::string OverTls() { return "Security=tls\r\nCAFile=" + dovecot::CaFile() + "\r\n"; }

void ExpectBackToBaseline(const HostRun& run, const char* what) {
    Stats before = StatsAt(run, 0);
    Stats after = StatsAt(run, 1);
    ASSERT_GE(before.handles, 0) << run.Text();
    ASSERT_GE(after.handles, 0) << run.Text();
    printf("%s: handles %ld -> %ld, pagefile %lld -> %lld bytes\n", what, before.handles, after.handles,
           before.pagefile, after.pagefile);
    ::testing::Test::RecordProperty(std::string(what) + ".handles",
                                    std::to_string(before.handles) + " -> " + std::to_string(after.handles));
    ::testing::Test::RecordProperty(std::string(what) + ".pagefile",
                                    std::to_string(before.pagefile) + " -> " + std::to_string(after.pagefile));
    // Loose bounds: a leak per round or per check would be far above them.
    EXPECT_LE(after.handles, before.handles + 20);
    EXPECT_LE(after.pagefile, before.pagefile + 8 * 1024 * 1024);
}

void ExpectNoLateCalls(const HostRun& run) {
    EXPECT_EQ(0, run.exitCode) << run.Text().substr(0, 4000);
    EXPECT_EQ(0, run.Count("LATE"));
}

TEST(Stress, CreateAndDestroyWhileChecksAreInFlight) {
    const dovecot::Ports ports = dovecot::ReadPorts();
    dovecot::AddUser("rounds", "rounds");
    dovecot::Deliver("rounds", 3);
    ScriptedServer silent({StaySilent()});
    DockletFolder answering("Answering", Settings(ports.imap, 0, 0, "rounds"));
    DockletFolder quiet("Quiet", Settings(silent.Port(), 0, 0, "rounds"));
    DockletFolder encrypted("Encrypted", Settings(ports.imaps, 0, 0, "rounds", OverTls()));
    DockletFolder stalled("Stalled", Settings(silent.Port(), 0, 0, "rounds", OverTls()));

    // Rounds take turns between folders whose checks reach Dovecot, in clear
    // and over TLS, and folders whose checks wait on a server that never
    // answers: its greeting, or the handshake.
    const std::string script = TestWorkFolder() + "rounds.txt";
    {
        std::ofstream out(script, std::ios::binary);
        for (int round = 1; round <= 200; ++round) {
            const DockletFolder* folders[] = {&answering, &quiet, &encrypted, &stalled};
            const DockletFolder& folder = *folders[round % 4];
            out << "create " << round << " \"" << folder.Root() << "\" \"" << folder.Relative() << "\"\n"
                << "wait " << (round % 7) * 3 << "\ndestroy " << round << "\n";
            if (round == 20 || round == 200)
                out << "stats\n";
        }
    }
    HostRun run = RunHost({"--script", script});
    ExpectNoLateCalls(run);
    int destroyed = 0;
    for (const JournalLine& line : run.journal)
        destroyed += line.event == "return" && line.details.rfind("OnDestroy", 0) == 0;
    EXPECT_EQ(200, destroyed);
    ExpectBackToBaseline(run, "200 create/destroy rounds");
    dovecot::Empty("rounds");
}

TEST(Stress, HundredRapidHolds) {
    const dovecot::Ports ports = dovecot::ReadPorts();
    dovecot::AddUser("holds", "holds");
    dovecot::Deliver("holds", 4);
    DockletFolder folder("Holds", Settings(ports.imap, 180, 1, "holds"));
    // A first item makes the baseline: the module loaded, one check done, the item gone.
    std::vector<std::string> steps = {"create", "2", folder.Root(), folder.Relative(), "waitlabel", "2",
                                      "4 new", "30000", "destroy", "2", "stats",
                                      "create", "1", folder.Root(), folder.Relative(), "waitlabel", "1",
                                      "4 new", "30000"};
    for (int i = 0; i < 100; ++i)
        steps.insert(steps.end(), {"hold", "1"});
    steps.insert(steps.end(), {"wait", "8000", "destroy", "1", "stats"});
    HostRun run = RunHost(steps);
    ExpectNoLateCalls(run);
    const std::string log = folder.Read("Debug.log");
    auto count = [&log](const std::string& text) {
        size_t found = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++found;
        return found;
    };
    EXPECT_EQ(100u, count("TidewellOnce\r\n"));
    // Dovecot lets one user log in ten times at once from one address and
    // refuses the rest; every other check, and each item's first, found the 4.
    const size_t refused = count("1 NO [LIMIT]");
    EXPECT_EQ(refused, count("  Total mails:0\r\n"));
    EXPECT_EQ(102u - refused, count("  Total mails:4\r\n"));
    EXPECT_LT(refused, 95u);
    ExpectBackToBaseline(run, "100 holds");
    dovecot::Empty("holds");
}

class StressTenItems : public ::testing::TestWithParam<bool> {};

TEST_P(StressTenItems, CheckTheSameServerAtOnce) {
    const bool tls = GetParam();
    const dovecot::Ports ports = dovecot::ReadPorts();
    const std::string user = tls ? "tenitemstls" : "tenitems";
    dovecot::AddUser(user, user);
    dovecot::Deliver(user, 3);
    // One folder for all ten: their log lines meet in one Debug.log.
    DockletFolder folder(tls ? "SharedTls" : "Shared",
                         tls ? Settings(ports.imaps, 1, 1, user, OverTls()) : Settings(ports.imap, 1, 1, user));
    std::vector<std::string> steps = {"create", "11", folder.Root(), folder.Relative(), "waitlabel", "11",
                                      "3 new", "30000", "destroy", "11", "stats"};
    for (int item = 1; item <= 10; ++item)
        steps.insert(steps.end(), {"create", std::to_string(item), folder.Root(), folder.Relative()});
    for (int item = 1; item <= 10; ++item)
        steps.insert(steps.end(), {"waitlabel", std::to_string(item), "3 new", "30000"});
    steps.insert(steps.end(), {"wait", "3000"});
    for (int item = 1; item <= 10; ++item)
        steps.insert(steps.end(), {"destroy", std::to_string(item)});
    steps.push_back("stats");
    HostRun run = RunHost(steps);
    ExpectNoLateCalls(run);
    ExpectBackToBaseline(run, tls ? "10 items at once over TLS" : "10 items at once");
    for (int item = 1; item <= 10; ++item)
        EXPECT_GE(run.Find("waitlabel", std::to_string(item), "\"3 new\" reached"), 0) << item;
    // Lines written at the same moment by twenty workers stay whole.
    const std::string log = folder.Read("Debug.log");
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        ASSERT_NE(std::string::npos, end);
        std::string line = log.substr(start, end - start);
        bool known = line.empty() || line == "\r" || line.rfind("    ", 0) == 0 || line.rfind("  ", 0) == 0 ||
                     line.rfind("TidewellThread", 0) == 0 || line.rfind("Account 0 :", 0) == 0 ||
                     line.rfind("---", 0) == 0 || line.rfind("NbAccounts:", 0) == 0 ||
                     line.rfind("Delay:", 0) == 0 || line.rfind("Link:", 0) == 0 || line.rfind("* ", 0) == 0 ||
                     line.rfind("2 OK", 0) == 0 || line.rfind("3 OK", 0) == 0 || line.rfind("4 OK", 0) == 0 ||
                     line.rfind("Resume from sleep is not watched: ", 0) == 0;
        EXPECT_TRUE(known) << "line: " << line;
        start = end + 1;
    }
    if (tls) {
        EXPECT_EQ(std::string::npos, log.find("    Error: ")) << log;
    }
    dovecot::Empty(user);
}

INSTANTIATE_TEST_SUITE_P(InClearAndOverTls, StressTenItems, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "OverTls" : "InClear";
                         });

}  // namespace
