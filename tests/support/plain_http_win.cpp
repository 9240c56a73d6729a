#include "plain_http_win.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

const DWORD kSilenceMs = 10000;
const size_t kMaxAnswer = 1 << 20;

struct Winsock {
    bool started;
    Winsock() {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~Winsock() {
        if (started)
            WSACleanup();
    }
};

bool Failed(std::string* error, const std::string& what) {
    *error = what + " (error " + std::to_string(WSAGetLastError()) + ")";
    return false;
}

bool SameLetters(const std::string& text, const char* name) {
    if (text.size() != std::strlen(name))
        return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(name[i])))
            return false;
    return true;
}

// The value of header `name` in an answer's head, or "".
std::string HeaderValue(const std::string& head, const char* name) {
    for (size_t start = head.find("\r\n"); start != std::string::npos;) {
        start += 2;
        size_t end = head.find("\r\n", start);
        std::string line = head.substr(start, end == std::string::npos ? end : end - start);
        size_t colon = line.find(':');
        if (colon != std::string::npos && SameLetters(line.substr(0, colon), name)) {
            size_t value = line.find_first_not_of(" \t", colon + 1);
            return value == std::string::npos ? "" : line.substr(value);
        }
        start = end;
    }
    return "";
}

// True once `received` holds a head and as many body bytes as it announced;
// without Content-Length the answer ends with the connection.
bool Whole(const std::string& received) {
    size_t headEnd = received.find("\r\n\r\n");
    if (headEnd == std::string::npos)
        return false;
    std::string length = HeaderValue(received.substr(0, headEnd), "Content-Length");
    return !length.empty() &&
           received.size() - headEnd - 4 >= std::strtoul(length.c_str(), nullptr, 10);
}

}  // namespace

bool PlainHttpRequest(const std::string& host, int port, const std::string& method,
                      const std::string& target, const std::string& body, HttpAnswer* answer,
                      std::string* error) {
    Winsock winsock;
    if (!winsock.started)
        return Failed(error, "WSAStartup failed");
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
        return Failed(error, "cannot find " + host);
    SOCKET handle = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    DWORD silence = kSilenceMs;
    setsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&silence),
               sizeof silence);
    setsockopt(handle, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&silence),
               sizeof silence);
    bool connected = handle != INVALID_SOCKET &&
                     connect(handle, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0;
    freeaddrinfo(found);
    if (!connected) {
        closesocket(handle);
        return Failed(error, "cannot connect to " + host + ":" + std::to_string(port));
    }

    std::string request = method + " " + target + " HTTP/1.1\r\nHost: " + host + ":" +
                          std::to_string(port) + "\r\nConnection: close\r\n";
    if (!body.empty())
        request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                   std::to_string(body.size()) + "\r\n";
    request += "\r\n" + body;
    for (size_t sent = 0; sent < request.size();) {
        int now = send(handle, request.data() + sent, static_cast<int>(request.size() - sent), 0);
        if (now <= 0) {
            closesocket(handle);
            return Failed(error, "cannot send the request");
        }
        sent += static_cast<size_t>(now);
    }

    std::string received;
    int got = 1;
    char buffer[4096];
    while (!Whole(received) && received.size() <= kMaxAnswer &&
           (got = recv(handle, buffer, sizeof buffer, 0)) > 0)
        received.append(buffer, static_cast<size_t>(got));
    closesocket(handle);
    size_t headEnd = received.find("\r\n\r\n");
    if (got < 0 || received.size() > kMaxAnswer || headEnd == std::string::npos ||
        received.compare(0, 5, "HTTP/") != 0)
        return Failed(error, "no whole HTTP answer");
    std::string head = received.substr(0, headEnd);
    answer->status = std::atoi(head.c_str() + head.find(' ') + 1);
    answer->location = HeaderValue(head, "Location");
    answer->body = received.substr(headEnd + 4);
    return true;
}

bool SplitHttpUrl(const std::string& url, std::string* host, int* port, std::string* target) {
    if (url.size() < 8 || !SameLetters(url.substr(0, 7), "http://"))
        return false;
    size_t end = url.find_first_of("/?#", 7);
    std::string authority = url.substr(7, end == std::string::npos ? end : end - 7);
    size_t colon = authority.find(':');
    *host = authority.substr(0, colon);
    *port = 80;
    if (colon != std::string::npos) {
        std::string digits = authority.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        *port = std::atoi(digits.c_str());
    }
    *target = end == std::string::npos ? "/" : url.substr(end, url.find('#', end) - end);
    if (target->empty() || (*target)[0] != '/')
        *target = "/" + *target;
    return !host->empty() && *port > 0 && *port <= 65535;
}
