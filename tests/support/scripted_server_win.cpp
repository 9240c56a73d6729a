#include "scripted_server_win.h"

ServerStep Send(const std::string& text, size_t piece) { return {ServerStep::kSend, text, piece, ""}; }
ServerStep ReadLine() { return {ServerStep::kReadLine, "", 0, ""}; }
ServerStep CloseConnection() { return {ServerStep::kClose, "", 0, ""}; }
ServerStep ResetConnection() { return {ServerStep::kReset, "", 0, ""}; }
ServerStep StaySilent() { return {ServerStep::kStaySilent, "", 0, ""}; }
ServerStep Pause(size_t milliseconds) { return {ServerStep::kPause, "", milliseconds, ""}; }
ServerStep Flood(const std::string& text, const std::string& again, size_t milliseconds) {
    return {ServerStep::kFlood, text, milliseconds, again};
}
ServerStep AwaitClientEnd(size_t milliseconds) { return {ServerStep::kAwaitEnd, "", milliseconds, ""}; }
ServerStep Signal(HANDLE event) { return {ServerStep::kSignal, "", 0, "", event}; }

SOCKET ListenOnLoopback(int backlog, sockaddr_in* address) {
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    *address = sockaddr_in();
    address->sin_family = AF_INET;
    address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(address), sizeof *address);
    listen(listener, backlog);
    int length = sizeof *address;
    getsockname(listener, reinterpret_cast<sockaddr*>(address), &length);
    return listener;
}

ScriptedServer::ScriptedServer(std::vector<ServerStep> steps)
    : ScriptedServer(Scripts{{std::move(steps)}}) {}

ScriptedServer::ScriptedServer(Scripts scripts)
    : scripts_(std::move(scripts.dialogues)), listener_(INVALID_SOCKET), client_(INVALID_SOCKET),
      connections_(0), served_(0), port_(0), thread_(nullptr),
      finish_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    InitializeCriticalSection(&lock_);
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    sockaddr_in address;
    listener_ = ListenOnLoopback(16, &address);
    port_ = ntohs(address.sin_port);
    thread_ = CreateThread(nullptr, 0, Play, this, 0, nullptr);
}

ScriptedServer::~ScriptedServer() {
    SetEvent(finish_);
    // Closing ends an accept or a receive still waiting.
    closesocket(listener_);
    EnterCriticalSection(&lock_);
    if (client_ != INVALID_SOCKET)
        shutdown(client_, SD_BOTH);
    LeaveCriticalSection(&lock_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(finish_);
    DeleteCriticalSection(&lock_);
    WSACleanup();
}

bool ScriptedServer::WaitServed(int connections, DWORD timeoutMs) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(10)) {
        EnterCriticalSection(&lock_);
        bool served = served_ >= connections;
        LeaveCriticalSection(&lock_);
        if (served)
            return true;
    }
    return false;
}

int ScriptedServer::Connections() {
    EnterCriticalSection(&lock_);
    int count = connections_;
    LeaveCriticalSection(&lock_);
    return count;
}

std::string ScriptedServer::Received() {
    EnterCriticalSection(&lock_);
    std::string copy = received_;
    LeaveCriticalSection(&lock_);
    return copy;
}

DWORD WINAPI ScriptedServer::Play(void* parameter) {
    ScriptedServer* server = static_cast<ScriptedServer*>(parameter);
    for (size_t k = 0;; ++k) {
        SOCKET client = accept(server->listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            return 0;
        // A client that stops reading must not hold the server in a send for ever.
        DWORD sendTimeoutMs = 5000;
        setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<char*>(&sendTimeoutMs),
                   sizeof sendTimeoutMs);
        EnterCriticalSection(&server->lock_);
        server->client_ = client;
        ++server->connections_;
        LeaveCriticalSection(&server->lock_);
        // An orderly end first, unless the script ends with a reset.
        if (server->PlaySteps(server->scripts_[k % server->scripts_.size()], client))
            shutdown(client, SD_BOTH);
        closesocket(client);
        EnterCriticalSection(&server->lock_);
        server->client_ = INVALID_SOCKET;
        ++server->served_;
        LeaveCriticalSection(&server->lock_);
        if (WaitForSingleObject(server->finish_, 0) == WAIT_OBJECT_0)
            return 0;
    }
}

bool ScriptedServer::PlaySteps(const std::vector<ServerStep>& steps, SOCKET client) {
    std::string unread;  // received already, beyond the lines the steps have read
    for (const ServerStep& step : steps) {
        switch (step.kind) {
        case ServerStep::kSend: {
            size_t piece = step.piece ? step.piece : step.text.size();
            for (size_t at = 0; at < step.text.size(); at += piece) {
                size_t length = std::min(piece, step.text.size() - at);
                if (send(client, step.text.data() + at, static_cast<int>(length), 0) <= 0)
                    return true;
                if (step.piece)
                    Sleep(1);  // let each piece arrive on its own
            }
            break;
        }
        case ServerStep::kReadLine: {
            // Read in chunks: a byte per call takes seconds for a long line
            // under Wine. What came after the line waits for the next step.
            size_t end;
            while ((end = unread.find('\n')) == std::string::npos) {
                char buffer[4096];
                int got = recv(client, buffer, sizeof buffer, 0);
                if (got <= 0)
                    return true;
                EnterCriticalSection(&lock_);
                received_.append(buffer, got);
                LeaveCriticalSection(&lock_);
                unread.append(buffer, got);
            }
            unread.erase(0, end + 1);
            break;
        }
        case ServerStep::kClose:
            return true;
        case ServerStep::kReset: {
            // Closing at once with a zero linger time sends a reset, not an orderly end.
            linger hard = {1, 0};
            setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&hard), sizeof hard);
            return false;
        }
        case ServerStep::kStaySilent: {
            // Whatever comes is swallowed; the client leaving (or the
            // server's end) lets the next connection be served.
            char ignored[512];
            while (recv(client, ignored, sizeof ignored, 0) > 0) {
            }
            return true;
        }
        case ServerStep::kFlood: {
            // The first text comes with the flood's start, so the client finds more behind it at once.
            std::string many = step.text;
            while (many.size() < 16384)
                many += step.again;
            for (DWORD start = GetTickCount(); GetTickCount() - start < step.piece;) {
                if (WaitForSingleObject(finish_, 0) == WAIT_OBJECT_0 ||
                    send(client, many.data(), static_cast<int>(many.size()), 0) <= 0)
                    return true;
                many.erase(0, step.text.size());
                while (many.size() < 16384)
                    many += step.again;
            }
            break;
        }
        case ServerStep::kSignal:
            SetEvent(step.event);
            break;
        case ServerStep::kAwaitEnd: {
            char buffer[512];
            const DWORD start = GetTickCount();
            for (;;) {
                DWORD spent = GetTickCount() - start;
                if (spent >= step.piece)
                    return true;
                fd_set readable;
                FD_ZERO(&readable);
                FD_SET(client, &readable);
                timeval wait = {0, static_cast<long>((step.piece - spent) * 1000)};
                if (select(0, &readable, nullptr, nullptr, &wait) != 1)
                    return true;
                int got = recv(client, buffer, sizeof buffer, 0);
                if (got == 0)
                    break;
                if (got < 0)
                    return true;
                EnterCriticalSection(&lock_);
                received_.append(buffer, got);
                LeaveCriticalSection(&lock_);
            }
            break;
        }
        case ServerStep::kPause:
            if (WaitForSingleObject(finish_, static_cast<DWORD>(step.piece)) == WAIT_OBJECT_0)
                return true;
            break;
        }
    }
    // After the script, read what else comes until the client closes.
    char buffer[512];
    int got;
    while ((got = recv(client, buffer, sizeof buffer, 0)) > 0) {
        EnterCriticalSection(&lock_);
        received_.append(buffer, got);
        LeaveCriticalSection(&lock_);
    }
    return true;
}
