// Every way a server can misbehave, at every step of the IMAP and POP3
// dialogues: each check ends with its defined result within the time-out,
// the item shows a valid label, the next cycle works, and the debug log
// stays whole lines.
#include "scripted_server_win.h"

#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "check_bed_win.h"
#include "check/check_cycle_win.h"
#include "net/https_post_win.h"
#include "net/loopback_listener_win.h"
#include "recording_host_win.h"
#include "text/bounded_text.h"
#include "tls_scenes_win.h"

namespace {

struct Protocol {
    const char* name;
    int32_t type;
    int32_t security;     // over TLS, the server is a scene of tls_script_server.py
    const char* scenes;   // its scenes' prefix, which plays the same replies
    // The server's replies in order: the greeting, then one per command.
    std::vector<std::string> replies;
    // Replies after which the count is already known: a fault there still counts.
    size_t countKnownAfter;
    // What each reply answers, as the log's reason line names it.
    std::vector<std::string> steps;
};

const Protocol kImap = {"IMAP",
                        kAccountImap,
                        kSecurityNone,
                        "",
                        {"* OK ready\r\n", "1 OK Logged in\r\n", "* 2 EXISTS\r\n2 OK [READ-ONLY] done\r\n",
                         "* SEARCH 1 2\r\n3 OK done\r\n", "* BYE bye\r\n4 OK done\r\n"},
                        4,
                        {"greeting", "reply to LOGIN", "reply to EXAMINE", "reply to SEARCH", "reply to LOGOUT"}};
const Protocol kPop = {"POP3",
                       kAccountPop,
                       kSecurityNone,
                       "",
                       {"+OK ready\r\n", "+OK\r\n", "+OK Logged in.\r\n", "+OK 2 320\r\n", "+OK bye\r\n"},
                       4,
                       {"greeting", "reply to USER", "reply to PASS", "reply to STAT", "reply to QUIT"}};
const Protocol kImapTls = {"IMAPS", kAccountImap, kSecurityTls, "matrix-imap", kImap.replies, 4, kImap.steps};
const Protocol kPopTls = {"POP3S", kAccountPop, kSecurityTls, "matrix-pop3", kPop.replies, 4, kPop.steps};

enum Fault { kClose, kResetMidReply, kSilence, kByteByByte, kGarbage, kNulBytes, kHuge, kEndless };
const char* const kFaultNames[] = {"close",   "reset mid-reply", "silence", "byte by byte",
                                   "garbage", "NUL bytes",       "3 MiB",   "endless"};
// The same faults as tls_script_server.py names them.
const char* const kFaultScenes[] = {"close", "reset", "silence", "bytes", "garbage", "nul", "huge", "endless"};

std::string Garbage(size_t length) {
    std::string bytes;
    unsigned seed = 12345;
    for (size_t i = 0; i < length; ++i) {
        seed = seed * 1103515245 + 12345;
        bytes += static_cast<char>(seed >> 16);
    }
    return bytes;
}

// The dialogue with `fault` in place of reply `at`.
std::vector<ServerStep> Faulty(const Protocol& protocol, size_t at, Fault fault) {
    std::vector<ServerStep> steps;
    for (size_t i = 0; i < protocol.replies.size(); ++i) {
        if (i > 0)
            steps.push_back(ReadLine());
        const std::string& reply = protocol.replies[i];
        if (i < at) {
            steps.push_back(Send(reply));
            continue;
        }
        switch (fault) {
        case kClose:
            steps.push_back(CloseConnection());
            return steps;
        case kResetMidReply:
            steps.push_back(Send(reply.substr(0, reply.size() / 2)));
            steps.push_back(Pause(50));
            steps.push_back(ResetConnection());
            return steps;
        case kSilence:
            steps.push_back(StaySilent());
            return steps;
        case kByteByByte:
            steps.push_back(Send(reply, 1));
            break;
        case kGarbage:
            steps.push_back(Send(Garbage(3000) + "\r\n"));
            steps.push_back(StaySilent());
            return steps;
        case kNulBytes:
            steps.push_back(Send(std::string("\0\0* OK\0+OK\r\n", 12)));
            steps.push_back(StaySilent());
            return steps;
        case kHuge:
            // Finite, but beyond what a reply may hold: untagged lines before
            // an IMAP reply's status line, one long line for POP3.
            if (protocol.type == kAccountImap) {
                std::string lines;
                while (lines.size() < 3 * 1024 * 1024)
                    lines += "* 1 FETCH (FLAGS (\\Seen))\r\n";
                steps.push_back(Send(lines + reply));
            } else {
                steps.push_back(Send("+OK " + std::string(3 * 1024 * 1024, '7') + "\r\n"));
            }
            steps.push_back(StaySilent());
            return steps;
        case kEndless:
            // More than any reply may hold, never ending; the client gives up first.
            steps.push_back(Send(std::string(2 * 1024 * 1024, 'x')));
            steps.push_back(StaySilent());
            return steps;
        }
    }
    return steps;
}

std::vector<ServerStep> Good(const Protocol& protocol) { return Faulty(protocol, 99, kClose); }

// The reason line of a check that fails with `fault` in place of reply `at`.
std::string Reason(const Protocol& protocol, size_t at, Fault fault) {
    const std::string& step = protocol.steps[at];
    // A greeting and every POP3 reply end with their first line; an IMAP
    // reply only with its tagged line, which garbage never brings.
    const bool oneLine = at == 0 || protocol.type == kAccountPop;
    // Over TLS, bytes that are no record end the channel as a close does.
    if (protocol.security == kSecurityTls && fault == kGarbage)
        return "the server closed the connection: " + step;
    switch (fault) {
    case kClose:
    case kResetMidReply:
        return "the server closed the connection: " + step;
    case kSilence:
        return "no answer within 1 s: " + step;
    case kGarbage:
    case kNulBytes:
        return (oneLine ? "rejected by the server: " : "no answer within 1 s: ") + step;
    case kHuge:
        // The greeting's first line is an untagged FETCH: judged and refused.
        if (protocol.type == kAccountImap && at == 0)
            return "rejected by the server: greeting";
        return "reply past 1048576 bytes: " + step;
    case kEndless:
        return "reply past 1048576 bytes: " + step;
    case kByteByByte:
        break;
    }
    return "";
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// Whole lines only: the log ends with a line end, and every line is one of ours.
void ExpectLineStructured(const std::string& log) {
    ASSERT_FALSE(log.empty());
    EXPECT_EQ("\r\n", log.substr(log.size() - 2));
    size_t cycles = 0;
    for (size_t at = log.find("  Total mails:"); at != std::string::npos; at = log.find("  Total mails:", at + 1)) {
        EXPECT_TRUE(at == 0 || log[at - 1] == '\n');
        ++cycles;
    }
    EXPECT_EQ(2u, cycles);
}

class FaultMatrix : public ::testing::TestWithParam<const Protocol*> {};

TEST_P(FaultMatrix, EveryFaultAtEveryStep) {
    const Protocol& protocol = *GetParam();
    for (size_t at = 0; at < protocol.replies.size(); ++at) {
        for (Fault fault : {kClose, kResetMidReply, kSilence, kByteByByte, kGarbage, kNulBytes, kHuge,
                            kEndless}) {
            SCOPED_TRACE(std::string(protocol.name) + ", reply " + std::to_string(at) + ": " +
                         kFaultNames[fault]);
            // The first connection meets the fault, the next one a well-behaved server.
            const bool tls = protocol.security == kSecurityTls;
            const std::string scene =
                std::string(protocol.scenes) + "-" + std::to_string(at) + "-" + kFaultScenes[fault];
            std::unique_ptr<ScriptedServer> server;
            if (!tls)
                server.reset(new ScriptedServer(Scripts{{Faulty(protocol, at, fault), Good(protocol)}}));
            const int before = tls ? tls_scenes::EndedConnections(scene) : 0;
            CheckBed bed;
            bed.instance.timeoutSeconds = 1;
            CopyText(bed.instance.noMessageText, kLabelSize, "None");
            CopyText(bed.instance.manyMessagesTemplate, kLabelSize, "%d new");
            MailAccount& account = bed.AddAccount(protocol.type, tls ? tls_scenes::Port(scene) : server->Port());
            account.security = protocol.security;
            CopyText(account.caFile, sizeof account.caFile, tls_scenes::CertificatePath("ca.pem").c_str());
            RecordingHost::Reset();

            DWORD start = GetTickCount();
            CheckAllAccounts(&bed.instance, kRecentCounts);
            EXPECT_LT(GetTickCount() - start, 8000u);  // the time-out is a second
            const bool counted = fault == kByteByByte || at >= protocol.countKnownAfter;
            const std::vector<std::string> labels = RecordingHost::Labels();
            ASSERT_EQ(2u, labels.size());
            EXPECT_EQ(counted ? "2 new" : "None", labels[1]);
            const std::string firstCycle = bed.Log();
            EXPECT_EQ(counted ? 0u : 1u, Occurrences(firstCycle, "    Error: ")) << firstCycle;
            if (!counted) {
                EXPECT_NE(std::string::npos,
                          firstCycle.find("    Error: " + Reason(protocol, at, fault) + "\r\n    Failed !\r\n"))
                    << firstCycle;
            }

            // The server may still be busy ending the faulty dialogue.
            if (tls)
                ASSERT_NE("<not ended>", tls_scenes::Sent(scene, before));
            else
                ASSERT_TRUE(server->WaitServed(1, 10000));
            RecordingHost::Reset();
            CheckAllAccounts(&bed.instance, kRecentCounts);
            EXPECT_EQ("2 new", RecordingHost::Labels().back());
            ExpectLineStructured(bed.Log());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Protocols, FaultMatrix, ::testing::Values(&kImap, &kPop, &kImapTls, &kPopTls),
                         [](const ::testing::TestParamInfo<const Protocol*>& info) {
                             return std::string(info.param->name);
                         });

// Token requests and the sign-in's listener meet the same faults: a time-out,
// a flood and a stop end each with its reason, and nothing waits longer.

std::string PostAndSay(CheckBed* bed, const std::string& url, HttpResult* result) {
    MailAccount& account = bed->AddAccount(kAccountImap, 0);
    CopyText(account.caFile, sizeof account.caFile, tls_scenes::CertificatePath("ca.pem").c_str());
    PostForm(&bed->instance, &account, url.c_str(), "code=c0de-secret&grant_type=authorization_code",
             "code=<hidden>&grant_type=authorization_code", result);
    return result->stopped ? "stopped" : result->status ? std::to_string(result->status) : result->failure;
}

TEST(TokenRequest, ChunkedReplyInPiecesOverTlsWithTheCaFile) {
    CheckBed bed;
    HttpResult result;
    const std::string url = "https://localhost:" + std::to_string(tls_scenes::Port("https-token")) + "/oauth2/token";
    EXPECT_EQ("200", PostAndSay(&bed, url, &result));
    EXPECT_EQ("{\"access_token\":\"at-secret\",\"token_type\":\"Bearer\",\"expires_in\":3599}",
              std::string(result.body ? result.body : "", result.bodyLength));
    FreeHttpResult(&result);
    FreeHttpResult(&result);
    const std::string sent = tls_scenes::Sent("https-token", 0);
    EXPECT_EQ(0u, sent.find("POST /oauth2/token HTTP/1.1\r\nHost: localhost:" +
                            std::to_string(tls_scenes::Port("https-token")) + "\r\n"))
        << sent;
    EXPECT_NE(std::string::npos, sent.find("\r\nContent-Length: 46\r\nAccept: application/json\r\n")) << sent;
    EXPECT_NE(std::string::npos, sent.find("\r\nConnection: close\r\nUser-Agent: Tidewell/")) << sent;
    const std::string log = bed.Log();
    EXPECT_NE(std::string::npos, log.find("    POST " + url + "\r\n    code=<hidden>&grant_type=authorization_code\r\n"))
        << log;
    EXPECT_NE(std::string::npos, log.find("\r\n    HTTP/1.1 200 OK\r\n")) << log;
    EXPECT_EQ(std::string::npos, log.find("secret")) << log;

    EXPECT_EQ(0, PostAndSay(&bed, "https://localhost:" + std::to_string(tls_scenes::Port("https-token-untrusted")),
                            &result)
                     .find("TLS certificate not trusted"));
    EXPECT_EQ("cannot POST: the URL is http://, which is only for this machine (127.0.0.1 or localhost): use "
              "https://",
              PostAndSay(&bed, "http://example.com/token", &result));
    EXPECT_EQ("cannot POST: the URL has a fragment (#)", PostAndSay(&bed, "https://example.com/t#x", &result));
}

DWORD WINAPI SetStopLater(void* event) {
    Sleep(300);
    SetEvent(static_cast<HANDLE>(event));
    return 0;
}

TEST(TokenRequest, SilenceFloodAndStopEachEndTheRequest) {
    struct Case {
        std::vector<ServerStep> steps;
        int32_t timeoutSeconds;
        bool stop;
        const char* outcome;
        DWORD withinMs;
    };
    const Case kCases[] = {
        {{ReadLine(), StaySilent()}, 1, false, "no answer within 1 s: reply to POST", 3000},
        {{ReadLine(), Send("HTTP/1.1 100 Continue\r\n\r\n"), StaySilent()}, 1, false,
         "no answer within 1 s: reply to POST", 3000},
        {{ReadLine(), Flood("HTTP/1.1 200 OK\r\nContent-Length: 99999999\r\n\r\n", "x", 20000)}, 30, false,
         "reply past 1048576 bytes: reply to POST", 15000},
        {{ReadLine(), Send("HTTP/1.1 200 OK\r\n\r\n{}"), StaySilent()}, 1, false,
         "HTTP reply with neither Content-Length nor chunked transfer coding", 3000},
        {{ReadLine(), StaySilent()}, 30, true, "stopped", 1000},
        {{StaySilent()}, 30, true, "stopped", 1000},
    };
    for (const Case& test : kCases) {
        SCOPED_TRACE(test.outcome);
        ScriptedServer server(test.steps);
        CheckBed bed;
        bed.instance.timeoutSeconds = test.timeoutSeconds;
        HANDLE stopper = test.stop ? CreateThread(nullptr, 0, SetStopLater, bed.instance.stopEvent, 0, nullptr) : nullptr;
        HttpResult result;
        const DWORD start = GetTickCount();
        EXPECT_EQ(test.outcome,
                  PostAndSay(&bed, "http://127.0.0.1:" + std::to_string(server.Port()) + "/token", &result));
        EXPECT_LT(GetTickCount() - start, test.withinMs);
        EXPECT_EQ(nullptr, result.body);
        if (stopper) {
            WaitForSingleObject(stopper, INFINITE);
            CloseHandle(stopper);
        }
    }
}

// The sign-in's listener: clients on 127.0.0.1 and [::1], served side by side.

// A socket of the family bound (or connected) to this machine's own address at port.
SOCKET LoopbackSocket(int family, int port, bool bindIt) {
    SOCKET made = socket(family, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in6 six = sockaddr_in6();
    sockaddr_in four = sockaddr_in();
    six.sin6_family = AF_INET6;
    six.sin6_addr.s6_addr[15] = 1;
    six.sin6_port = four.sin_port = htons(static_cast<u_short>(port));
    four.sin_family = AF_INET;
    four.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const sockaddr* address = family == AF_INET6 ? reinterpret_cast<sockaddr*>(&six) : reinterpret_cast<sockaddr*>(&four);
    const int length = family == AF_INET6 ? sizeof six : sizeof four;
    const int result = bindIt ? bind(made, address, length) : connect(made, address, length);
    if (result != 0) {
        closesocket(made);
        return INVALID_SOCKET;
    }
    return made;
}

SOCKET ConnectToListener(int family, int port) {
    SOCKET client = LoopbackSocket(family, port, false);
    EXPECT_NE(INVALID_SOCKET, client) << WSAGetLastError();
    return client;
}

void SendText(SOCKET client, const std::string& text) {
    EXPECT_EQ(static_cast<int>(text.size()), send(client, text.data(), static_cast<int>(text.size()), 0));
}

// Whether the listener has not closed the client: nothing to read, no end.
bool StillHeld(SOCKET client) {
    u_long nonBlocking = 1;
    ioctlsocket(client, FIONBIO, &nonBlocking);
    char byte;
    return recv(client, &byte, 1, MSG_PEEK) < 0 && WSAGetLastError() == WSAEWOULDBLOCK;
}

// Everything the listener sent the client, to its end.
std::string Answer(SOCKET client) {
    u_long blocking = 0;
    ioctlsocket(client, FIONBIO, &blocking);
    DWORD timeoutMs = 5000;
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
    std::string answer;
    char buffer[512];
    int received;
    while ((received = recv(client, buffer, sizeof buffer, 0)) > 0)
        answer.append(buffer, static_cast<size_t>(received));
    return answer;
}

struct ListenerBed {
    ListenerBed() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        listener = OpenLoopbackListener(why, sizeof why);
        stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    ~ListenerBed() {
        CloseLoopbackListener(listener);
        CloseHandle(stop);
        CloseHandle(wake);
        WSACleanup();
    }
    ListenOutcome Wait(DWORD remainingMs) {
        return WaitForBrowserRequest(listener, stop, wake, remainingMs, request, sizeof request, &length);
    }
    std::string Request() const { return std::string(request, length); }

    char why[200] = "";
    LoopbackListener* listener;
    HANDLE stop;
    HANDLE wake;
    char request[kRequestHeadRoom];
    size_t length = 0;
};

const char kPage[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";

// Clients that say nothing, or send their head in pieces, hold up no other:
// the browser's request comes while they are all still held (beyond the cap,
// the longest waiting give way), on either address.
TEST(LoopbackListener, SilentAndDawdlingClientsHoldUpNoOther) {
    const struct {
        const char* name;
        int silent;
        bool dawdler;
        int family;  // the browser's
        int held;    // silent clients still held when the browser's request comes
    } kCases[] = {
        {"a dawdler and three silent, the browser on 127.0.0.1", 3, true, AF_INET, 3},
        {"a silent one, the browser on [::1]", 1, false, AF_INET6, 1},
        {"more silent than are held, on both", 20, false, AF_INET6, kMaxHeldClients - 1},
    };
    const std::string get = "GET /?code=abc&state=xyz HTTP/1.1\r\nHost: localhost\r\n\r\n";
    const std::string favicon = "GET /favicon.ico HTTP/1.1\r\nHost: localhost\r\n\r\n";
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        ListenerBed bed;
        ASSERT_NE(nullptr, bed.listener) << bed.why;
        const int port = LoopbackPort(bed.listener);
        SOCKET dawdler = INVALID_SOCKET;
        if (c.dawdler) {
            dawdler = ConnectToListener(AF_INET, port);
            SendText(dawdler, favicon.substr(0, 20));
        }
        std::vector<SOCKET> silent;
        for (int i = 0; i < c.silent; ++i)
            silent.push_back(ConnectToListener(i % 2 ? AF_INET6 : AF_INET, port));
        SOCKET browser = ConnectToListener(c.family, port);
        SendText(browser, get);

        ASSERT_EQ(kListenRequest, bed.Wait(60000));
        EXPECT_EQ(get, bed.Request());
        int held = 0;
        for (SOCKET client : silent)
            held += StillHeld(client);
        EXPECT_EQ(c.held, held);
        AnswerBrowser(bed.listener, kPage);
        if (c.dawdler) {
            EXPECT_TRUE(StillHeld(dawdler));
            SendText(dawdler, favicon.substr(20, 7));
            Sleep(50);
            SendText(dawdler, favicon.substr(27));
            ASSERT_EQ(kListenRequest, bed.Wait(60000));
            EXPECT_EQ(favicon, bed.Request());
            AnswerBrowser(bed.listener, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        }
        CloseLoopbackListener(bed.listener);
        bed.listener = nullptr;
        EXPECT_EQ(kPage, Answer(browser));
        if (c.dawdler) {
            EXPECT_EQ("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", Answer(dawdler));
        }
        for (SOCKET client : silent) {
            EXPECT_EQ("", Answer(client));
            closesocket(client);
        }
        closesocket(browser);
        closesocket(dawdler);
    }
}

// The listener holds [::1] at its port as well as 127.0.0.1: no other
// program can bind either and take the redirect of a browser that tries IPv6 first.
TEST(LoopbackListener, NoOtherProgramTakesItsPortOnEitherAddress) {
    ListenerBed bed;
    ASSERT_NE(nullptr, bed.listener) << bed.why;
    EXPECT_EQ(nullptr, WhyNotOnIpv6(bed.listener)) << WhyNotOnIpv6(bed.listener);
    const int port = LoopbackPort(bed.listener);
    for (int family : {AF_INET6, AF_INET}) {
        SCOPED_TRACE(family == AF_INET6 ? "[::1]" : "127.0.0.1");
        EXPECT_EQ(INVALID_SOCKET, LoopbackSocket(family, port, true));
    }
}

// A wait runs out, or ends at once on a stop or a wake, whoever is held.
TEST(LoopbackListener, AStopOrAWakeEndsTheWaitAtOnce) {
    ListenerBed bed;
    ASSERT_NE(nullptr, bed.listener) << bed.why;
    SOCKET silent = ConnectToListener(AF_INET, LoopbackPort(bed.listener));
    EXPECT_EQ(kListenTimedOut, bed.Wait(200));
    for (HANDLE event : {bed.wake, bed.stop}) {
        HANDLE setter = CreateThread(nullptr, 0, SetStopLater, event, 0, nullptr);
        const DWORD start = GetTickCount();
        EXPECT_EQ(event == bed.stop ? kListenStopped : kListenWoken, bed.Wait(60000));
        EXPECT_LT(GetTickCount() - start, 1000u);
        WaitForSingleObject(setter, INFINITE);
        CloseHandle(setter);
    }
    EXPECT_TRUE(StillHeld(silent));
    closesocket(silent);
}

}  // namespace
