// The check workers of whole items under the stand-in host: when they check,
// how they overlap, and that removing an item ends them at once whatever
// they are waiting for.
#include "scripted_server_win.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host_run_win.h"
#include "linux_files_win.h"
#include "silent_pipe_win.h"
#include "tls_scenes_win.h"

namespace {

std::string Settings(int port, int delaySeconds, const std::string& extra = "",
                     const std::string& address = "127.0.0.1") {
    return "[Common]\r\nDebug=1\r\nNbAccount=1\r\nDelaySecond=" + std::to_string(delaySeconds) +
           "\r\nTimeoutSecond=60\r\nstringCheck=Checking\r\nstringNoMsg=None\r\nstringOneMsg=One\r\n"
           "stringHaveMsg=%d new\r\n" + extra +
           "[account0]\r\nType=IMAP\r\nAddress=" + address + "\r\nPort=" + std::to_string(port) +
           "\r\nLogin=me\r\nPassword=secret\r\n";
}

std::vector<ServerStep> Finding(const std::string& found, size_t pauseMs = 0) {
    std::vector<ServerStep> steps = {Send("* OK ready\r\n"), ReadLine(), Send("1 OK\r\n"), ReadLine(),
                                     Send("2 OK\r\n"), ReadLine()};
    if (pauseMs)
        steps.push_back(Pause(pauseMs));
    steps.insert(steps.end(), {Send("* SEARCH" + found + "\r\n3 OK\r\n"), ReadLine(), Send("4 OK\r\n")});
    return steps;
}

// How long OnDestroy of the item took, from the host's journal; -1 when it did not return.
double DestroyMs(const HostRun& run, const std::string& item = "1") {
    int returned = run.Find("return", item, "OnDestroy ");
    if (returned < 0)
        return -1;
    return atof(run.At(returned).details.c_str() + strlen("OnDestroy "));
}

void ExpectPromptTeardown(const HostRun& run, const char* state) {
    ASSERT_EQ(0, run.exitCode) << state << "\n" << run.Text();
    double ms = DestroyMs(run);
    // The goal is well under 100 ms; the bound only catches a wait for a server.
    EXPECT_GE(ms, 0) << state;
    EXPECT_LT(ms, 1000) << state << "\n" << run.Text();
    EXPECT_EQ(0, run.Count("LATE")) << state << "\n" << run.Text();
    ::testing::Test::RecordProperty(std::string("OnDestroyMs.") + state, std::to_string(ms));
    printf("OnDestroy while %s: %.1f ms\n", state, ms);
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// DelaySecond=1 is below the least pause: the next check comes 10 s after.
TEST(Workers, ChecksAtOnceThenAfterEachPause) {
    ScriptedServer server(Finding(" 3 4"));
    DockletFolder folder("Tidewell", Settings(server.Port(), 1));
    HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "2 new",
                           "5000", "wait", "11500", "destroy", "1"});
    ASSERT_EQ(0, run.exitCode) << run.Text();
    int first = run.Find("DockletSetLabel", "1", "\"Checking\"");
    int result = run.Find("DockletSetLabel", "1", "\"2 new\"", first);
    ASSERT_GE(first, 0) << run.Text();
    ASSERT_GT(result, first) << run.Text();
    EXPECT_NE(run.MainThread(), run.At(first).thread);
    int attention = run.Find("DockletDoAttentionAnimation", "1");
    EXPECT_GE(attention, 0);
    EXPECT_LT(attention, first);
    // The second cycle starts ten seconds after the first ended.
    int second = run.Find("DockletSetLabel", "1", "\"Checking\"", result);
    ASSERT_GT(second, result) << run.Text();
    double pause = run.At(second).milliseconds - run.At(result).milliseconds;
    EXPECT_GT(pause, 9900);
    EXPECT_LT(pause, 11500);
    EXPECT_EQ(0u, folder.Read("Debug.log").find("----------------------------"));
    EXPECT_NE(std::string::npos, folder.Read("Debug.log").find("TidewellThread\r\n  Account 0\r\n"));
}

// 0 (also text, read as 0) and a product that overflowed 32 bits (4294968 s)
// once made checks follow each other without pause: a flood of logins that
// gets an account locked. The other bounds are the configuration's test.
TEST(Workers, NoDelayChecksInAFlood) {
    for (const char* delay : {"0", "4294968"}) {
        SCOPED_TRACE(delay);
        DockletFolder folder("Tidewell", std::string("[Common]\r\nNbAccount=0\r\nDelaySecond=") + delay +
                                             "\r\nstringCheck=Checking\r\nstringNoMsg=None\r\n");
        HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "wait", "1500", "hold", "1",
                               "wait", "300", "destroy", "1"});
        ExpectPromptTeardown(run, "in the least pause");
        EXPECT_EQ(1, run.Count("DockletDoAttentionAnimation", "1")) << run.Text();
        // A hold still checks at once.
        int held = run.Find("call", "1", "OnLeftButtonHeld");
        ASSERT_GE(held, 0);
        EXPECT_GE(run.Find("DockletSetLabel", "1", "\"Checking\"", held), 0) << run.Text();
    }
}

TEST(Workers, HoldsStartOverlappingOneShotChecks) {
    ScriptedServer server(Finding(" 1", 400));
    DockletFolder folder("Tidewell", Settings(server.Port(), 180));
    HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "hold", "1", "hold", "1",
                           "wait", "3000", "destroy", "1"});
    ASSERT_EQ(0, run.exitCode) << run.Text();
    const std::string log = folder.Read("Debug.log");
    EXPECT_EQ(1u, Occurrences(log, "TidewellThread\r\n"));
    EXPECT_EQ(2u, Occurrences(log, "TidewellOnce\r\n"));
    EXPECT_EQ(3u, Occurrences(log, "  Total mails:1\r\n"));
    EXPECT_EQ(3, server.Connections());
    // A hold returns at once, without waiting for its check.
    int held = run.Find("return", "1", "OnLeftButtonHeld");
    ASSERT_GE(held, 0);
    EXPECT_LT(atof(run.At(held).details.c_str() + strlen("OnLeftButtonHeld ")), 100);
}

TEST(Workers, TwoItemsCheckTheirOwnAccounts) {
    ScriptedServer two(Finding(" 1 2"));
    ScriptedServer five(Finding(" 1 2 3 4 5"));
    DockletFolder first("First", Settings(two.Port(), 1));
    DockletFolder second("Second", Settings(five.Port(), 1));
    HostRun run = RunHost({"create", "1", first.Root(), first.Relative(), "create", "2", second.Root(),
                           second.Relative(), "waitlabel", "1", "2 new", "5000", "waitlabel", "2",
                           "5 new", "5000", "destroy", "1", "hold", "2", "wait", "1500", "destroy", "2"});
    ASSERT_EQ(0, run.exitCode) << run.Text();
    EXPECT_EQ(-1, run.Find("DockletSetLabel", "1", "\"5 new\""));
    EXPECT_EQ(-1, run.Find("DockletSetLabel", "2", "\"2 new\""));
    // Item 2 goes on checking after item 1 is gone.
    int gone = run.Find("return", "1", "OnDestroy");
    EXPECT_GE(run.Find("DockletSetLabel", "2", "\"Checking\"", gone), 0) << run.Text();
    EXPECT_EQ(0, run.Count("LATE")) << run.Text();
}

// A change of the machine's addresses (the host completes the docklet's
// request, as Windows does) checks every item at once, the periodic worker's
// next check being an hour away; three changes in a row make one check. An
// item that is gone is not checked; the last one's OnDestroy cancels the
// request and ends the thread that waited for it.
TEST(Workers, AnAddressChangeChecksEveryItemOnce) {
    ScriptedServer server(Finding(" 1"));
    DockletFolder first("First", Settings(server.Port(), 3600));
    DockletFolder second("Second", Settings(server.Port(), 3600));
    HostRun run = RunHost({"stats", "create", "1", first.Root(), first.Relative(), "create", "2", second.Root(),
                           second.Relative(), "waitlabel", "1", "One", "5000", "waitlabel", "2", "One", "5000",
                           "addresschange", "wait", "100", "addresschange", "wait", "100", "addresschange", "wait", "1500",
                           "destroy", "1", "addresschange", "wait", "1500", "destroy", "2", "wait", "300",
                           "stats", "addresschange"});
    ASSERT_EQ(0, run.exitCode) << run.Text();
    const char* const reason = "TidewellOnce\r\n  Checking at once: the machine's network addresses changed\r\n";
    EXPECT_EQ(1u, Occurrences(first.Read("Debug.log"), reason)) << first.Read("Debug.log");
    EXPECT_EQ(2u, Occurrences(second.Read("Debug.log"), reason)) << second.Read("Debug.log");
    // Wine makes no window without a display: that is said before the first check, and changes still count.
    if (!getenv("DISPLAY")) {
        EXPECT_NE(std::string::npos, first.Read("Debug.log").find("  RegKey:\r\nResume from sleep is not watched: "
                                                                  "Windows made no window for it\r\nTidewellThread\r\n"))
            << first.Read("Debug.log");
    }
    EXPECT_EQ(5, server.Connections());
    int change = -1;
    for (const char* answer : {"delivered", "delivered", "delivered", "delivered", "none-waiting"}) {
        change = run.Find("addresschange", "-", "", change + 1);
        ASSERT_GE(change, 0) << run.Text();
        EXPECT_EQ(answer, run.At(change).details) << run.Text();
    }
    EXPECT_EQ(StatsAt(run, 0).threads, StatsAt(run, 1).threads) << run.Text();
    EXPECT_EQ(0, run.Count("LATE")) << run.Text();
}

TEST(WorkersTeardown, InThePause) {
    DockletFolder folder("Tidewell", "[Common]\r\nNbAccount=0\r\nstringNoMsg=None\r\n");
    ExpectPromptTeardown(RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1",
                                  "None", "5000", "destroy", "1"}),
                         "in the pause");
}

TEST(WorkersTeardown, WhileAServerSaysNothing) {
    ScriptedServer silent({StaySilent()});
    DockletFolder folder("Tidewell", Settings(silent.Port(), 180));
    ExpectPromptTeardown(RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1",
                                  "Checking", "5000", "wait", "300", "destroy", "1"}),
                         "a server says nothing");
}

// The item's last OnDestroy while the check an address change started waits
// for a server that says nothing.
TEST(WorkersTeardown, WhileTheCheckOfAnAddressChangeWaits) {
    Scripts scripts;
    scripts.dialogues = {Finding(" 1"), {StaySilent()}};
    ScriptedServer server(scripts);
    DockletFolder folder("Tidewell", Settings(server.Port(), 3600));
    HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "One", "5000",
                           "addresschange", "waitlabel", "1", "Checking", "5000", "wait", "300", "destroy", "1"});
    ExpectPromptTeardown(run, "the check of an address change waits");
    EXPECT_EQ(2, server.Connections());
}

TEST(WorkersTeardown, DuringAStalledTlsHandshake) {
    // The server sends half its first flight, then nothing.
    DockletFolder folder("Tidewell", Settings(tls_scenes::Port("handshake-stall"), 180) + "Security=tls\r\n");
    ExpectPromptTeardown(RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1",
                                  "Checking", "5000", "wait", "300", "destroy", "1"}),
                         "a TLS handshake stalls");
}

TEST(WorkersTeardown, WhileOneShotChecksWait) {
    ScriptedServer silent({StaySilent()});
    DockletFolder folder("Tidewell", Settings(silent.Port(), 180));
    ExpectPromptTeardown(RunHost({"create", "1", folder.Root(), folder.Relative(), "hold", "1", "hold",
                                  "1", "hold", "1", "wait", "300", "destroy", "1"}),
                         "one-shot checks wait");
}

TEST(WorkersTeardown, WhileReadingADbxFileThatNeverAnswers) {
    SilentPipe pipe;
    ScriptedServer server(Finding(" 1"));
    DockletFolder folder("Tidewell", "[Common]\r\nDebug=1\r\nNbAccount=1\r\nstringCheck=Checking\r\n"
                                     "[account0]\r\nType=POP\r\nAddress=127.0.0.1\r\nPort=" +
                                         std::to_string(server.Port()) + "\r\nDbxFile0=" + pipe.Name() + "\r\n");
    HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "Checking",
                           "5000", "wait", "500", "destroy", "1"});
    ExpectPromptTeardown(run, "a DBX file never answers");
    // The check was still reading: it had not counted the file.
    const std::string log = folder.Read("Debug.log");
    EXPECT_NE(std::string::npos, log.find("  Account 0\r\n")) << log;
    EXPECT_EQ(std::string::npos, log.find("Nb messages in DBX file")) << log;
    EXPECT_EQ(0, server.Connections());
}

// Plain text without end after the OK to STARTTLS (IMAP) or STLS (POP3).
TEST(WorkersTeardown, WhilePlainTextFloodsAfterTheOkToStartTls) {
    struct Case {
        const char* type;
        std::vector<ServerStep> steps;
    };
    const Case cases[] = {
        {"IMAP", {Send("* OK ready\r\n"), ReadLine(), Flood("0 OK Begin TLS now\r\n", "* 1 EXISTS\r\n", 30000)}},
        {"POP", {Send("+OK ready\r\n"), ReadLine(), Flood("+OK Begin TLS now\r\n", "+OK\r\n", 30000)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        ScriptedServer flood(c.steps);
        std::string settings = Settings(flood.Port(), 180) + "Security=starttls\r\n";
        settings.replace(settings.find("Type=IMAP"), 9, std::string("Type=") + c.type);
        DockletFolder folder("Tidewell", settings);
        HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "Checking",
                               "5000", "wait", "500", "destroy", "1"});
        ExpectPromptTeardown(run, (std::string(c.type) + " plain text floods after the OK").c_str());
        EXPECT_EQ(1, flood.Connections());
    }
}

// Every hold checks a POP account whose DBX file never answers. Each check
// gives up after the time-out, leaving its read behind: those reads must
// neither hold the debug log nor pile up, one thread each.
TEST(WorkersTeardown, AfterManyHoldsOnADbxFileThatNeverAnswers) {
    for (const char* debug : {"1", "0"}) {
        SCOPED_TRACE(std::string("Debug=") + debug);
        SilentPipe pipe;
        DockletFolder folder("Tidewell", std::string("[Common]\r\nDebug=") + debug +
                                             "\r\nNbAccount=1\r\nDelaySecond=3600\r\nTimeoutSecond=1\r\n"
                                             "stringCheck=Checking\r\nstringFailed=Failed\r\n[account0]\r\nType=POP\r\n"
                                             "Address=127.0.0.1\r\nPort=1\r\nDbxFile0=" + pipe.Name() + "\r\n");
        std::vector<std::string> steps = {"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "Failed",
                                          "5000", "stats"};
        for (int i = 0; i < 60; ++i)
            steps.insert(steps.end(), {"hold", "1", "wait", "50"});
        steps.insert(steps.end(), {"wait", "1500", "stats", "destroy", "1"});
        HostRun run = RunHost(steps);
        ExpectPromptTeardown(run, (std::string("60 holds on a DBX file that never answers, Debug=") + debug).c_str());
        const Stats first = StatsAt(run, 0);
        const Stats held = StatsAt(run, 1);
        printf("after the first check: handles %ld, pagefile %lld; after 60 holds: handles %ld, pagefile %lld\n",
               first.handles, first.pagefile, held.handles, held.pagefile);
        ::testing::Test::RecordProperty(std::string("Handles.Debug") + debug,
                                        std::to_string(first.handles) + " -> " + std::to_string(held.handles));
        ASSERT_GE(first.handles, 0) << run.Text();
        EXPECT_LE(held.handles, first.handles + 30);
        EXPECT_EQ(1, pipe.Clients());
        if (debug[0] == '1') {
            const std::string log = folder.Read("Debug.log");
            EXPECT_EQ(60u, Occurrences(log, "    Error: DBX file still not answering from an earlier check: " +
                                                pipe.Name() + "\r\n"))
                << log;
        }
    }
}

// CountNew=1 and a POP3 listing of 350,000 ids (12 MB), their marks on file:
// removed while the listing comes in or is read, the check ends where it is,
// without QUIT, and the marks file stays as it was.
TEST(WorkersTeardown, WhileAListingOfMegabytesComesIn) {
    std::string listing = "+OK\r\n";
    std::string marks = "Tidewell seen 1\npop pop%2F127.0.0.1%2Fme%2F 350000\n";
    for (int i = 0; i < 350000; ++i) {
        const std::string id = std::to_string(1000000 + i) + ".M0123456789abcdef01234567";
        listing += std::to_string(i + 1) + " " + id + "\r\n";
        marks += id + "\n";
    }
    listing += ".\r\n";
    ScriptedServer server({Send("+OK ready\r\n"), ReadLine(), Send("+OK\r\n"), ReadLine(), Send("+OK\r\n"),
                           ReadLine(), Send("+OK 350000 99\r\n"), ReadLine(), Send(listing), ReadLine(),
                           Send("+OK bye\r\n")});
    std::string settings = Settings(server.Port(), 180) + "CountNew=1\r\n";
    settings.replace(settings.find("Type=IMAP"), 9, "Type=POP");
    DockletFolder folder("Tidewell", settings);
    std::ofstream(folder.Path() + "TidewellDocklet.seen", std::ios::binary) << marks;
    HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "Checking", "5000",
                           "wait", "50", "destroy", "1"});
    ExpectPromptTeardown(run, "a listing of 12 MB comes in");
    ASSERT_TRUE(server.WaitServed(1, 10000));
    EXPECT_EQ("USER me\r\nPASS secret\r\nSTAT\r\nUIDL\r\n", server.Received());
    EXPECT_TRUE(folder.Read("TidewellDocklet.seen") == marks);
}

// A listener whose queue of connections waiting to be accepted is full: the
// system drops further connection requests, so a connect to it hangs.
class FullListener {
public:
    FullListener() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        sockaddr_in address;
        listener_ = ListenOnLoopback(1, &address);
        port_ = ntohs(address.sin_port);
        for (int i = 0; i < 4; ++i) {
            SOCKET filler = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            u_long nonBlocking = 1;
            ioctlsocket(filler, FIONBIO, &nonBlocking);
            connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
            fillers_.push_back(filler);
        }
        Sleep(200);
    }
    ~FullListener() {
        for (SOCKET filler : fillers_)
            closesocket(filler);
        closesocket(listener_);
        WSACleanup();
    }
    int Port() const { return port_; }

private:
    SOCKET listener_;
    int port_;
    std::vector<SOCKET> fillers_;
};

TEST(WorkersTeardown, WhileConnecting) {
    FullListener full;
    DockletFolder folder("Tidewell", Settings(full.Port(), 180));
    HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1",
                           "Checking", "5000", "wait", "500", "destroy", "1"});
    ExpectPromptTeardown(run, "connecting");
    // The check was still connecting: it had not read a greeting.
    const std::string log = folder.Read("Debug.log");
    EXPECT_NE(std::string::npos, log.find("    Connect 127.0.0.1 " + std::to_string(full.Port()) + "\r\n"));
    EXPECT_EQ(std::string::npos, log.find("Total mails"));
}

// Needs silent_dns.sh: anywhere else the lookup would ask the machine's real
// name server.
TEST(WorkersTeardown, WhileResolving) {
    if (!getenv("TIDEWELL_SILENT_DNS"))
        GTEST_SKIP() << "runs only under tests/docklet/silent_dns.sh, which gives it a name server that never "
                        "answers (the test WorkersTeardown.WhileResolvingOnASilentResolver)";
    DockletFolder folder("Tidewell", Settings(143, 180, "", "mail.tidewell.invalid"));
    HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "Checking",
                           "5000", "wait", "500", "destroy", "1"});
    ExpectPromptTeardown(run, "resolving");
    const std::string log = folder.Read("Debug.log");
    EXPECT_NE(std::string::npos, log.find("    Connect mail.tidewell.invalid 143\r\n"));
    EXPECT_EQ(std::string::npos, log.find("Total mails"));
}

}  // namespace

// Seconds until the first TCP keepalive probe of the client's connection to
// serverPort, as Linux shows it for the Wine process (/proc/net/tcp: the
// timer kind 2, and its time in hundredths); -1 when the connection has no
// such timer, -2 when there is no such connection or bytes are on their way.
double KeepaliveSeconds(int serverPort) {
    std::istringstream table(ReadWholeFile("Z:\\proc\\net\\tcp"));
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer;
        fields >> slot >> local >> remote >> state >> queues >> timer;
        if (state != "01" || std::stoi(remote.substr(remote.find(':') + 1), nullptr, 16) != serverPort)
            continue;
        // Bytes on their way have the retransmission timer instead: look again.
        if (timer.compare(0, 3, "01:") == 0)
            continue;
        if (timer.compare(0, 3, "02:") != 0)
            return -1;
        return std::stoul(timer.substr(3), nullptr, 16) / 100.0;
    }
    return -2;
}

// Idle=1: the watcher's count shows, then each change the server announces,
// without a check of the cycle's own, and the cycle that comes first shows
// no count of its own for the account (not "None"); the connection has TCP
// keepalive, its first probe due within a minute; removing the item ends
// the idle connection as promptly as any wait.
TEST(WorkersTeardown, WhileIdling) {
    ScriptedServer server({Send("* OK [CAPABILITY IMAP4rev1 IDLE] ready\r\n"), ReadLine(), Send("1 OK\r\n"),
                           ReadLine(), Send("2 OK\r\n"), ReadLine(), Pause(300), Send("* SEARCH 3\r\n3 OK\r\n"),
                           ReadLine(), Send("+ idling\r\n"), Pause(500), Send("* 4 EXISTS\r\n"), ReadLine(),
                           Send("5 OK\r\n"), ReadLine(), Send("* SEARCH 3 4\r\n6 OK\r\n"), ReadLine(),
                           Send("+ idling\r\n"), StaySilent()});
    DockletFolder folder("Tidewell", Settings(server.Port(), 180) + "Idle=1\r\n");
    HostRun run;
    std::thread host([&] {
        run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "2 new", "5000", "wait",
                       "1500", "destroy", "1"});
    });
    double keepalive = -2;
    for (DWORD start = GetTickCount(); keepalive == -2 && GetTickCount() - start < 5000; Sleep(20))
        keepalive = KeepaliveSeconds(server.Port());
    host.join();
    ExpectPromptTeardown(run, "idling");
    EXPECT_EQ(1, server.Connections());
    EXPECT_GT(keepalive, 0);
    EXPECT_LE(keepalive, 60);
    const int first = run.Find("DockletSetLabel", "1", "\"One\"");
    EXPECT_GT(first, run.Find("DockletSetLabel", "1", "\"Checking\"")) << run.Text();
    EXPECT_EQ(-1, run.Find("DockletSetLabel", "1", "\"None\"")) << run.Text();
    const std::string log = folder.Read("Debug.log");
    EXPECT_NE(std::string::npos, log.find("Its connection for IDLE is logging in")) << log;
    EXPECT_NE(std::string::npos, log.find("Total mails:2 (idle account 0 counted)")) << log;
}

// Idle=1 against a server that, once idling, talks on without news: the
// stop is seen however fast the lines come, the watcher leaves the server
// after 64 KiB of them and opens its connection again as after a drop, and
// Debug.log holds no more than those.
TEST(WorkersTeardown, WhileAnIdleServerTalksWithoutNews) {
    ScriptedServer server({Send("* OK [CAPABILITY IMAP4rev1 IDLE] ready\r\n"), ReadLine(), Send("1 OK\r\n"),
                           ReadLine(), Send("2 OK\r\n"), ReadLine(), Send("* SEARCH 3\r\n3 OK\r\n"), ReadLine(),
                           Flood("+ idling\r\n", "* OK still here\r\n", 30000)});
    DockletFolder folder("Tidewell", Settings(server.Port(), 180) + "Idle=1\r\n");
    HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "One", "5000",
                           "wait", "500", "destroy", "1"});
    ExpectPromptTeardown(run, "an idle server talks without news");
    const std::string log = folder.Read("Debug.log");
    const std::string tail = log.substr(log.size() > 2000 ? log.size() - 2000 : 0);
    EXPECT_NE(std::string::npos,
              log.find("    Error: the server talked on without news while idling (more than 65536 bytes)\r\n"))
        << tail;
    EXPECT_TRUE(std::regex_search(log, std::regex("  Idle account 0: connection lost, opened again in (8|9|10|11)\\.\\d s")))
        << tail;
    EXPECT_LT(log.size(), 256u * 1024) << "Debug.log grows with the flood";
}

// Idle=1 on a server that never lets its connection reach IDLE: the account
// shows as failed once that connection gives up, as a check's would, not a
// DelaySecond later, with the reason in Debug.log; its connection is opened
// again 10 s later give or take 20 %, so that items do not return together.
TEST(Workers, AnIdleConnectionThatNeverIdlesShowsAsFailed) {
    const std::vector<ServerStep> loggedIn = {Send("* OK [CAPABILITY IMAP4rev1 IDLE] ready\r\n"),
                                              ReadLine()};
    const struct {
        const char* name;
        std::vector<ServerStep> then;
        const char* reason;
    } kCases[] = {
        {"silent", {}, "no answer within 2 s: greeting"},
        {"login refused",
         {Send("1 NO [AUTHENTICATIONFAILED] no\r\n")},
         "rejected by the server: reply to LOGIN"},
        {"IDLE refused",
         {Send("1 OK\r\n"), ReadLine(), Send("2 OK\r\n"), ReadLine(),
          Send("* SEARCH 3\r\n3 OK\r\n"), ReadLine(), Send("5 BAD no\r\n")},
         "rejected by the server: reply to IDLE"},
    };
    int row = 0;
    std::vector<double> pauses;
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        std::vector<ServerStep> steps = c.then.empty() ? std::vector<ServerStep>{} : loggedIn;
        steps.insert(steps.end(), c.then.begin(), c.then.end());
        steps.push_back(StaySilent());
        ScriptedServer server(steps);
        std::string settings =
            Settings(server.Port(), 180, "stringFailed=%d failed\r\n") + "Idle=1\r\n";
        settings.replace(settings.find("TimeoutSecond=60"), 16, "TimeoutSecond=2");
        DockletFolder folder("Idle" + std::to_string(++row), settings);
        HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1",
                               "1 failed", "15000", "destroy", "1"});
        ASSERT_EQ(0, run.exitCode) << run.Text() << folder.Read("Debug.log");
        EXPECT_GE(run.Find("waitlabel", "1", "\"1 failed\" reached"), 0) << run.Text();
        // In this order, the cycle's own lines may come between.
        const std::string log = folder.Read("Debug.log");
        size_t at = 0;
        for (const std::string& line :
             {std::string("    Error: ") + c.reason + "\r\n", std::string("    Failed !\r\n"),
              std::string("  Total mails:0 (idle account 0 failed)\r\n")}) {
            at = log.find(line, at);
            ASSERT_NE(std::string::npos, at) << line << log;
        }
        std::smatch pause;
        const std::string rest = log.substr(at);
        ASSERT_TRUE(std::regex_search(rest, pause,
                                      std::regex("  Idle account 0: IDLE not reached, opened again in (\\d+\\.\\d) s")))
            << log;
        pauses.push_back(std::stod(pause[1]));
        EXPECT_GE(pauses.back(), 8.0);
        EXPECT_LT(pauses.back(), 12.0);
    }
    // Each exactly 10 s by chance: once in 64,000 runs.
    EXPECT_NE(std::vector<double>(pauses.size(), 10.0), pauses);
}

// Idle=1 with CountNew=1: the idle connection counts by UID above the
// user's last click. A click shows 0 for it at once; one that comes while a
// search is under way has the search made again above the new mark.
TEST(WorkersTeardown, IdleCountsWhatCameSinceTheClick) {
    const std::string examined = "* OK [UIDVALIDITY 7] UIDs valid\r\n* OK [UIDNEXT 5] Predicted\r\n2 OK\r\n";
    ScriptedServer server({Send("* OK [CAPABILITY IMAP4rev1 IDLE] ready\r\n"), ReadLine(), Send("1 OK\r\n"),
                           ReadLine(), Send(examined), ReadLine(), Send("* SEARCH\r\n3 OK\r\n"), ReadLine(),
                           Send("+ idling\r\n"), Pause(300), Send("* 6 EXISTS\r\n"), ReadLine(), Send("5 OK\r\n"),
                           ReadLine(), Send("* SEARCH 5 6\r\n6 OK\r\n"), ReadLine(), Send("+ idling\r\n"),
                           Pause(300), Send("* 7 EXISTS\r\n"), ReadLine(), Send("5 OK\r\n"), ReadLine(),
                           Pause(1500), Send("* SEARCH 5 6 7\r\n6 OK\r\n"), ReadLine(),
                           Send("* SEARCH 7\r\n6 OK\r\n"), ReadLine(), Send("+ idling\r\n"), StaySilent()});
    DockletFolder folder("Tidewell", Settings(server.Port(), 180) + "Idle=1\r\nCountNew=1\r\n");
    HostRun run = RunHost({"create", "1", folder.Root(), folder.Relative(), "waitlabel", "1", "2 new", "5000",
                           "wait", "700", "click", "1", "waitlabel", "1", "One", "5000", "destroy", "1"});
    ASSERT_EQ(0, run.exitCode) << run.Text();
    EXPECT_EQ(1, server.Connections());
    EXPECT_EQ("1 LOGIN me secret\r\n2 EXAMINE INBOX\r\n3 UID SEARCH UNSEEN UID 5:*\r\n5 IDLE\r\nDONE\r\n"
              "6 UID SEARCH UNSEEN UID 5:*\r\n5 IDLE\r\nDONE\r\n6 UID SEARCH UNSEEN UID 5:*\r\n"
              "6 UID SEARCH UNSEEN UID 7:*\r\n5 IDLE\r\n",
              server.Received());
    EXPECT_GE(run.Find("DockletSetLabel", "1", "\"None\"", run.Find("DockletSetLabel", "1", "\"2 new\"")), 0)
        << run.Text();
    EXPECT_LT(run.Find("DockletSetLabel", "1", "\"3 new\""), 0) << run.Text();
    EXPECT_NE(std::string::npos, folder.Read("TidewellDocklet.seen").find(" 7 6")) << folder.Read("TidewellDocklet.seen");
}
