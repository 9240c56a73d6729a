#include "mail_dialogue.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstring>

#include "net/reply_scan.h"

struct MailTransport {
    SSL_CTX* tls = nullptr;  // nullptr: in clear
};

namespace {

const int kReplyWaitMs = 10000;

std::string OpenSslError() {
    char text[256];
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    return text;
}

class Dialogue {
  public:
    Dialogue(MailTransport* transport, std::string* error) : transport_(transport), error_(error) {}
    ~Dialogue() {
        if (tls_)
            SSL_free(tls_);
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
        return !transport_->tls || Handshake();
    }

    // Sends the command (unless empty) and reads its whole reply; the reply
    // must start with `ok`, or hold it right after the tag for IMAP. After the
    // last command, once its reply has begun, ends the sending side as the
    // docklet does, so the rest of the reply never waits for a delayed ACK.
    bool Exchange(const std::string& command, char tag, const std::string& ok, bool signOff = false) {
        if (!command.empty() && !SendAll(command))
            return false;
        std::string reply;
        if (!Receive(tag, &reply, signOff))
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

    // Blocking, bounded by the socket's receive time-out: a server that stalls
    // in the handshake fails it rather than holding the run.
    bool Handshake() {
        timeval wait{kReplyWaitMs / 1000, 0};
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        tls_ = SSL_new(transport_->tls);
        if (!tls_ || !SSL_set_fd(tls_, socket_))
            return Fail("TLS: " + OpenSslError());
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(tls_), "127.0.0.1");
        if (SSL_connect(tls_) != 1) {
            long verdict = SSL_get_verify_result(tls_);
            if (verdict != X509_V_OK)
                return Fail(std::string("TLS certificate refused: ") + X509_verify_cert_error_string(verdict));
            return Fail("TLS handshake failed: " + OpenSslError());
        }
        return true;
    }

    bool SendAll(const std::string& text) {
        size_t sent = 0;
        while (sent < text.size()) {
            ssize_t result = tls_ ? SSL_write(tls_, text.data() + sent, static_cast<int>(text.size() - sent))
                                  : send(socket_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
            if (result <= 0)
                return Fail(std::string("send: ") + (tls_ ? OpenSslError() : strerror(errno)));
            sent += static_cast<size_t>(result);
        }
        return true;
    }

    // Decrypted bytes may already wait inside OpenSSL, where poll cannot see them.
    bool Readable() {
        if (tls_ && SSL_pending(tls_) > 0)
            return true;
        pollfd readable{socket_, POLLIN, 0};
        return poll(&readable, 1, kReplyWaitMs) > 0;
    }

    bool Receive(char tag, std::string* reply, bool signOff) {
        ReplyScan scan = StartReplyScan(tag);
        char buffer[4096];
        for (;;) {
            if (!Readable())
                return Fail("no whole reply within " + std::to_string(kReplyWaitMs) + " ms");
            ssize_t received = tls_ ? SSL_read(tls_, buffer, sizeof buffer) : recv(socket_, buffer, sizeof buffer, 0);
            if (received <= 0)
                return Fail("the server closed the connection");
            reply->append(buffer, static_cast<size_t>(received));
            ReplyState state = ScanReply(&scan, reply->data(), reply->size());
            if (state == kReplyComplete)
                return true;
            if (state == kReplyTooLong)
                return Fail("a reply longer than the docklet accepts");
            if (signOff) {
                signOff = false;
                shutdown(socket_, SHUT_WR);
            }
        }
    }

    bool Fail(const std::string& reason) {
        *error_ = reason;
        return false;
    }

    MailTransport* transport_;
    std::string* error_;
    int socket_ = -1;
    SSL* tls_ = nullptr;
};

}  // namespace

MailTransport* NewMailTransport(const std::string& ca_file, std::string* error) {
    MailTransport* transport = new MailTransport;
    if (ca_file.empty())
        return transport;
    // As the docklet asks of SChannel: TLS 1.2 or later, the CA given trusted.
    transport->tls = SSL_CTX_new(TLS_client_method());
    if (!transport->tls || !SSL_CTX_set_min_proto_version(transport->tls, TLS1_2_VERSION) ||
        SSL_CTX_load_verify_locations(transport->tls, ca_file.c_str(), nullptr) != 1) {
        *error = "the CA file " + ca_file + " cannot be used: " + OpenSslError();
        FreeMailTransport(transport);
        return nullptr;
    }
    SSL_CTX_set_verify(transport->tls, SSL_VERIFY_PEER, nullptr);
    return transport;
}

void FreeMailTransport(MailTransport* transport) {
    if (transport && transport->tls)
        SSL_CTX_free(transport->tls);
    delete transport;
}

bool CheckImapAccount(MailTransport* transport, int port, const MailAccount& account, std::string* error) {
    Dialogue dialogue(transport, error);
    return dialogue.Connect(port) && dialogue.Exchange("", 0, "* OK") &&
           dialogue.Exchange("1 LOGIN " + account.login + " " + account.password + "\r\n", '1', "1 OK") &&
           dialogue.Exchange("2 EXAMINE INBOX\r\n", '2', "2 OK") &&
           dialogue.Exchange("3 SEARCH UNSEEN\r\n", '3', "3 OK") &&
           dialogue.Exchange("4 LOGOUT\r\n", '4', "4 OK", true);
}

bool CheckPop3Account(MailTransport* transport, int port, const MailAccount& account, std::string* error) {
    Dialogue dialogue(transport, error);
    return dialogue.Connect(port) && dialogue.Exchange("", 0, "+OK") &&
           dialogue.Exchange("USER " + account.login + "\r\n", 0, "+OK") &&
           dialogue.Exchange("PASS " + account.password + "\r\n", 0, "+OK") &&
           dialogue.Exchange("STAT\r\n", 0, "+OK") && dialogue.Exchange("QUIT\r\n", 0, "+OK", true);
}
