#include "mail_dialogue.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/reply_scan.h"

namespace {

const int kReplyWaitMs = 10000;

class Dialogue {
  public:
    explicit Dialogue(std::string* error) : error_(error) {}
    ~Dialogue() {
        if (socket_ >= 0)
            close(socket_);
    }

    bool Connect(int port) {
        socket_ = socket(AF_INET, SOCK_STREAM, 0);
        if (socket_ < 0)
            return Fail(std::string("socket: ") + strerror(errno));
        // The floor leaves nothing to chance: no small write ever waits.
        int on = 1;
        setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(static_cast<uint16_t>(port));
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(socket_, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0)
            return Fail("connect to port " + std::to_string(port) + ": " + strerror(errno));
        return true;
    }

    // Sends the command (unless empty) and reads its whole reply; the reply
    // must start with `ok`, or hold it right after the tag for IMAP.
    bool Exchange(const std::string& command, char tag, const std::string& ok) {
        if (!command.empty() && !SendAll(command))
            return false;
        std::string reply;
        if (!Receive(tag, &reply))
            return false;
        // The verdict is in the last line: the tagged one, or the only one.
        size_t last = reply.size() < 2 ? 0 : reply.rfind('\n', reply.size() - 2);
        last = last == std::string::npos ? 0 : last + 1;
        if (reply.compare(last, ok.size(), ok) != 0)
            return Fail(Name(command, tag) + " was answered: " + reply);
        return true;
    }

  private:
    // The command as a reader of an error message wants it: never the password.
    static std::string Name(const std::string& command, char tag) {
        if (command.empty())
            return "the greeting";
        size_t end = command.find(' ');
        if (tag && end != std::string::npos)
            end = command.find_first_of(" \r", end + 1);
        return "\"" + command.substr(0, end) + "\"";
    }

    bool SendAll(const std::string& text) {
        size_t sent = 0;
        while (sent < text.size()) {
            ssize_t result = send(socket_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
            if (result <= 0)
                return Fail(std::string("send: ") + strerror(errno));
            sent += static_cast<size_t>(result);
        }
        return true;
    }

    bool Receive(char tag, std::string* reply) {
        ReplyScan scan = StartReplyScan(tag);
        char buffer[4096];
        for (;;) {
            pollfd readable{socket_, POLLIN, 0};
            if (poll(&readable, 1, kReplyWaitMs) <= 0)
                return Fail("no whole reply within " + std::to_string(kReplyWaitMs) + " ms");
            ssize_t received = recv(socket_, buffer, sizeof buffer, 0);
            if (received <= 0)
                return Fail("the server closed the connection");
            reply->append(buffer, static_cast<size_t>(received));
            ReplyState state = ScanReply(&scan, reply->data(), reply->size());
            if (state == kReplyComplete)
                return true;
            if (state == kReplyTooLong)
                return Fail("a reply longer than the docklet accepts");
        }
    }

    bool Fail(const std::string& reason) {
        *error_ = reason;
        return false;
    }

    std::string* error_;
    int socket_ = -1;
};

}  // namespace

bool CheckImapAccount(int port, const MailAccount& account, std::string* error) {
    Dialogue dialogue(error);
    return dialogue.Connect(port) && dialogue.Exchange("", 0, "* OK") &&
           dialogue.Exchange("1 LOGIN " + account.login + " " + account.password + "\r\n", '1', "1 OK") &&
           dialogue.Exchange("2 EXAMINE INBOX\r\n", '2', "2 OK") &&
           dialogue.Exchange("3 SEARCH UNSEEN\r\n", '3', "3 OK") &&
           dialogue.Exchange("4 LOGOUT\r\n", '4', "4 OK");
}

bool CheckPop3Account(int port, const MailAccount& account, std::string* error) {
    Dialogue dialogue(error);
    return dialogue.Connect(port) && dialogue.Exchange("", 0, "+OK") &&
           dialogue.Exchange("USER " + account.login + "\r\n", 0, "+OK") &&
           dialogue.Exchange("PASS " + account.password + "\r\n", 0, "+OK") &&
           dialogue.Exchange("STAT\r\n", 0, "+OK") && dialogue.Exchange("QUIT\r\n", 0, "+OK");
}
