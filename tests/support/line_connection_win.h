#pragma once
// A plain conversation in text lines with a server on 127.0.0.1, for tests
// that talk to a real mail server. Every wait is bounded; failures throw
// std::runtime_error.
#include <cstdint>
#include <string>

class LineConnection {
  public:
    explicit LineConnection(int port);
    ~LineConnection();
    LineConnection(const LineConnection&) = delete;
    LineConnection& operator=(const LineConnection&) = delete;

    // Sends the line with CRLF after it.
    void Send(const std::string& line);
    // The next line the server sent, without its line break.
    std::string ReadLine();

  private:
    // A SOCKET, kept opaque so that including this header never clashes
    // with an earlier windows.h.
    std::uintptr_t socket_;
    std::string received_;
};
