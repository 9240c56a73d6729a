#pragma once
#include <winsock2.h>

#include <string>
#include <vector>

// A one-connection server on 127.0.0.1 that plays a fixed dialogue from a
// thread of its own, for tests of the docklet's side of a conversation.
struct ServerStep {
    enum Kind {
        kSend,       // send text, in pieces of `piece` bytes (0: at once)
        kReadLine,   // wait for one line from the client
        kClose,      // close the connection
        kReset,      // close with a reset
        kStaySilent  // keep the connection open, say nothing, until the server is destroyed
    } kind;
    std::string text;
    size_t piece;
};

ServerStep Send(const std::string& text, size_t piece = 0);
ServerStep ReadLine();
ServerStep CloseConnection();
ServerStep ResetConnection();
ServerStep StaySilent();

class ScriptedServer {
public:
    explicit ScriptedServer(std::vector<ServerStep> steps);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int Port() const { return port_; }
    // Everything the client sent; call once the client is done.
    std::string Received();

private:
    static DWORD WINAPI Play(void* server);
    void PlaySteps(SOCKET client);

    std::vector<ServerStep> steps_;
    SOCKET listener_;
    SOCKET client_;  // the one connection, once accepted
    int port_;
    HANDLE thread_;
    HANDLE finish_;  // set by the destructor: silence ends
    CRITICAL_SECTION lock_;
    std::string received_;
};
