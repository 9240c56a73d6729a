#include "line_connection_win.h"

#include <winsock2.h>

#include <stdexcept>

namespace {

const DWORD kReplyTimeoutMs = 10000;

void StartWinsock() {
    static bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started)
        throw std::runtime_error("WSAStartup failed");
}

}  // namespace

LineConnection::LineConnection(int port) {
    StartWinsock();
    SOCKET handle = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (handle == INVALID_SOCKET)
        throw std::runtime_error("socket() failed");
    socket_ = handle;
    DWORD timeout = kReplyTimeoutMs;
    setsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    setsockopt(handle, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closesocket(handle);
        throw std::runtime_error("cannot connect to 127.0.0.1:" + std::to_string(port));
    }
}

LineConnection::~LineConnection() { closesocket(static_cast<SOCKET>(socket_)); }

void LineConnection::Send(const std::string& line) {
    std::string data = line + "\r\n";
    size_t sent = 0;
    while (sent < data.size()) {
        int n = send(static_cast<SOCKET>(socket_), data.data() + sent, static_cast<int>(data.size() - sent), 0);
        if (n <= 0)
            throw std::runtime_error("send failed: " + line);
        sent += static_cast<size_t>(n);
    }
}

std::string LineConnection::ReadLine() {
    size_t end;
    while ((end = received_.find("\r\n")) == std::string::npos) {
        char chunk[4096];
        int n = recv(static_cast<SOCKET>(socket_), chunk, sizeof chunk, 0);
        if (n <= 0)
            throw std::runtime_error("the server closed or went silent; unfinished: " + received_);
        received_.append(chunk, static_cast<size_t>(n));
    }
    std::string line = received_.substr(0, end);
    received_.erase(0, end + 2);
    return line;
}
