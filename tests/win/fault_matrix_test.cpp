// Every way a server can misbehave, at every step of the IMAP and POP3
// dialogues: each check ends with its defined result within the time-out,
// the item shows a valid label, the next cycle works, and the debug log
// stays whole lines.
#include "scripted_server_win.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "check_bed_win.h"
#include "check/check_cycle_win.h"
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
            CheckAllAccounts(&bed.instance);
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
            CheckAllAccounts(&bed.instance);
            EXPECT_EQ("2 new", RecordingHost::Labels().back());
            ExpectLineStructured(bed.Log());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Protocols, FaultMatrix, ::testing::Values(&kImap, &kPop, &kImapTls, &kPopTls),
                         [](const ::testing::TestParamInfo<const Protocol*>& info) {
                             return std::string(info.param->name);
                         });

}  // namespace
