#pragma once
#include <winsock2.h>

#include <string>
#include <vector>

// A server on 127.0.0.1 that plays fixed dialogues from a thread of its own,
// for tests of the docklet's side of a conversation. Connections are served
// one after the other, the k-th with script k modulo the number of scripts,
// until the server is destroyed.
struct ServerStep {
    enum Kind {
        kSend,       // send text, in pieces of `piece` bytes (0: at once)
        kReadLine,   // wait for one line from the client
        kClose,      // close the connection
        kReset,      // close with a reset
        kStaySilent,  // say nothing until the client closes or the server is destroyed
        kPause,       // wait `piece` milliseconds
        kFlood,       // send text, then `again` again and again, without a pause between them, for
                      // `piece` milliseconds or until the client goes
        kAwaitEnd,    // wait up to `piece` milliseconds for the client to end its sending side,
                      // keeping what it sends meanwhile; the connection ends here if it does not
        kSignal       // set `event`: the test learns that the steps before it are done
    } kind;
    std::string text;
    size_t piece;
    std::string again;
    HANDLE event = nullptr;
};

ServerStep Send(const std::string& text, size_t piece = 0);
ServerStep ReadLine();
ServerStep CloseConnection();
ServerStep ResetConnection();
ServerStep StaySilent();
ServerStep Pause(size_t milliseconds);
ServerStep Flood(const std::string& text, const std::string& again, size_t milliseconds);
ServerStep AwaitClientEnd(size_t milliseconds);
ServerStep Signal(HANDLE event);

// A socket listening on 127.0.0.1 at a free port, which *address receives.
SOCKET ListenOnLoopback(int backlog, sockaddr_in* address);

// Several dialogues, for a server whose connections are not all alike.
struct Scripts {
    std::vector<std::vector<ServerStep>> dialogues;
};

class ScriptedServer {
public:
    explicit ScriptedServer(std::vector<ServerStep> steps);
    explicit ScriptedServer(Scripts scripts);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int Port() const { return port_; }
    // Everything the clients sent; call once they are done.
    std::string Received();
    // Connections accepted so far.
    int Connections();
    // Waits until this many connections have been served to their end.
    bool WaitServed(int connections, DWORD timeoutMs);

private:
    static DWORD WINAPI Play(void* server);
    // False when the script ended the connection with a reset.
    bool PlaySteps(const std::vector<ServerStep>& steps, SOCKET client);

    std::vector<std::vector<ServerStep>> scripts_;
    SOCKET listener_;
    SOCKET client_;  // the connection being served
    int connections_;
    int served_;
    int port_;
    HANDLE thread_;
    HANDLE finish_;  // set by the destructor: silence ends
    CRITICAL_SECTION lock_;
    std::string received_;
};
