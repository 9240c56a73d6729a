#include <winsock2.h>
#include <ws2tcpip.h>

#include "net/loopback_listener_win.h"

#include <cstdlib>
#include <cstring>

#include "text/bounded_text.h"
#include "text/secret_wipe.h"

namespace {

// How long a client may take to send its request head, to take its answer,
// and to close once answered.
const DWORD kHeadBoundMs = 10 * 1000;
const DWORD kAnswerBoundMs = 10 * 1000;
const DWORD kDrainBoundMs = 1000;
// Bytes read and dropped after an answer, so that closing does not reset
// the connection before the browser has read the answer.
const size_t kMaxDrained = 64 * 1024;
const size_t kAnswerRoom = 4096;
// Ports tried for one where [::1] is free as well as 127.0.0.1.
const int kPortAttempts = 8;

enum ClientStage {
    kStageFree,      // no client in this slot
    kStageReading,   // its request head is coming
    kStageWhole,     // its head is whole, waiting to be handed out
    kStageHanded,    // handed out: the caller answers it
    kStageAnswering, // its answer is going out
    kStageDraining,  // answered: what it still sends is dropped until it closes
};

struct HeldClient {
    SOCKET socket;
    int32_t stage;      // ClientStage
    DWORD since;        // GetTickCount when the stage began; its bound counts from here
    size_t got;         // bytes of head read, or bytes dropped while draining
    size_t headLength;  // of a whole head
    size_t answerLength;
    size_t answerSent;
    char head[kRequestHeadRoom]; // may carry the code: wiped when the client goes
    char answer[kAnswerRoom];
};

}  // namespace

struct LoopbackListener {
    SOCKET listening[2]; // on 127.0.0.1 and on [::1]; INVALID_SOCKET when closed or none
    WSAEVENT event;      // network events of every socket of the listener
    int32_t port;
    char ipv6Why[160];   // why it is not on [::1]; empty when it is
    HANDLE stopEvent;    // of the last wait, which also ends the answers'
    int32_t handed;      // the client whose request came last, or -1
    HeldClient clients[kMaxHeldClients];
};

namespace {

DWORD RemainingMs(DWORD start, DWORD timeoutMs) {
    DWORD spent = GetTickCount() - start;
    return spent >= timeoutMs ? 0 : timeoutMs - spent;
}

DWORD StageBoundMs(int32_t stage) {
    switch (stage) {
    case kStageReading:
        return kHeadBoundMs;
    case kStageAnswering:
        return kAnswerBoundMs;
    case kStageDraining:
        return kDrainBoundMs;
    default:
        return INFINITE;
    }
}

void StartStage(HeldClient* client, ClientStage stage) {
    client->stage = stage;
    client->since = GetTickCount();
}

void DropClient(HeldClient* client) {
    if (client->stage == kStageFree)
        return;
    closesocket(client->socket);
    client->socket = INVALID_SOCKET;
    client->stage = kStageFree;
    WipeSecret(client->head, sizeof client->head);
    client->got = 0;
}

// Reads what the client has sent of its head, until it would block.
void ReadHead(HeldClient* client) {
    const size_t limit = sizeof client->head - 1;
    for (;;) {
        const int received =
            recv(client->socket, client->head + client->got, static_cast<int>(limit - client->got), 0);
        if (received <= 0) {
            if (received == 0 || WSAGetLastError() != WSAEWOULDBLOCK)
                DropClient(client);
            return;
        }
        const size_t scanned = client->got;
        client->got += static_cast<size_t>(received);
        switch (ScanRequestHead(client->head, client->got, scanned, limit, &client->headLength)) {
        case kRequestHeadWhole:
            client->head[client->headLength] = '\0';
            StartStage(client, kStageWhole);
            return;
        case kRequestHeadTooLong:
            DropClient(client);
            return;
        case kRequestHeadPartial:
            break;
        }
    }
}

// Drops what an answered client still sends, until it closes or would block.
void Drain(HeldClient* client) {
    char discarded[512];
    for (;;) {
        const int received = recv(client->socket, discarded, sizeof discarded, 0);
        if (received > 0 && client->got + static_cast<size_t>(received) <= kMaxDrained) {
            client->got += static_cast<size_t>(received);
            continue;
        }
        if (received < 0 && WSAGetLastError() == WSAEWOULDBLOCK)
            return;
        DropClient(client);
        return;
    }
}

// Sends what the client takes of its answer; once all is out, ends the
// sending side and drains.
void SendAnswer(HeldClient* client) {
    while (client->answerSent < client->answerLength) {
        const int sent = send(client->socket, client->answer + client->answerSent,
                              static_cast<int>(client->answerLength - client->answerSent), 0);
        if (sent > 0) {
            client->answerSent += static_cast<size_t>(sent);
            continue;
        }
        if (sent < 0 && WSAGetLastError() == WSAEWOULDBLOCK)
            return;
        DropClient(client);
        return;
    }
    if (shutdown(client->socket, SD_SEND) != 0) {
        DropClient(client);
        return;
    }
    StartStage(client, kStageDraining);
    client->got = 0;
    Drain(client);
}

// A slot for a new client: a free one, else that of the client that has
// waited longest for its head, else of the one answered longest ago. Null
// when every client has a whole request or an answer going out.
HeldClient* SlotForNewClient(LoopbackListener* listener) {
    HeldClient* chosen = nullptr;
    const DWORD now = GetTickCount();
    for (int32_t pass = kStageFree; pass <= kStageDraining && !chosen; ++pass) {
        if (pass == kStageWhole || pass == kStageHanded || pass == kStageAnswering)
            continue;
        for (HeldClient& client : listener->clients) {
            if (client.stage == pass && (!chosen || now - client.since > now - chosen->since))
                chosen = &client;
        }
    }
    if (chosen)
        DropClient(chosen);
    return chosen;
}

void AcceptClients(LoopbackListener* listener, SOCKET listening) {
    // Bounded, so that a stream of connections cannot keep the loop from a stop.
    for (int accepted = 0; accepted < kMaxHeldClients; ++accepted) {
        SOCKET socket = accept(listening, nullptr, nullptr);
        if (socket == INVALID_SOCKET) {
            if (WSAGetLastError() == WSAEWOULDBLOCK)
                return;
            continue;
        }
        HeldClient* client = SlotForNewClient(listener);
        // An accepted socket shares the listener's events until given its own.
        if (!client ||
            WSAEventSelect(socket, listener->event, FD_READ | FD_WRITE | FD_CLOSE) != 0) {
            closesocket(socket);
            continue;
        }
        client->socket = socket;
        client->got = 0;
        StartStage(client, kStageReading);
        // A browser's request is often there already: whole, it cannot be pushed out.
        ReadHead(client);
    }
    // More may wait, with no new event to tell.
    WSASetEvent(listener->event);
}

// Moves every client on as far as it can go without waiting. The event is
// reset first and every socket then driven until it would block, so any
// later network event sets it again.
void Serve(LoopbackListener* listener) {
    WSAResetEvent(listener->event);
    for (SOCKET listening : listener->listening) {
        if (listening != INVALID_SOCKET)
            AcceptClients(listener, listening);
    }
    for (HeldClient& client : listener->clients) {
        if (client.stage == kStageReading)
            ReadHead(&client);
        else if (client.stage == kStageAnswering)
            SendAnswer(&client);
        else if (client.stage == kStageDraining)
            Drain(&client);
    }
    const DWORD now = GetTickCount();
    for (HeldClient& client : listener->clients) {
        if (client.stage != kStageFree && now - client.since >= StageBoundMs(client.stage))
            DropClient(&client);
    }
}

// Until the first client's bound runs out.
DWORD NextBoundMs(const LoopbackListener* listener) {
    DWORD next = INFINITE;
    const DWORD now = GetTickCount();
    for (const HeldClient& client : listener->clients) {
        const DWORD bound = StageBoundMs(client.stage);
        if (bound == INFINITE)
            continue;
        const DWORD spent = now - client.since;
        const DWORD left = spent >= bound ? 0 : bound - spent;
        if (left < next)
            next = left;
    }
    return next;
}

enum ListenerWait { kWaitNetwork, kWaitStop, kWaitWake, kWaitTime };

// Waits for the stop, the wake or a network event, which win in that order.
ListenerWait WaitForEvents(const LoopbackListener* listener, HANDLE wakeEvent, DWORD timeoutMs) {
    HANDLE handles[3];
    ListenerWait meanings[3];
    DWORD count = 0;
    if (listener->stopEvent) {
        handles[count] = listener->stopEvent;
        meanings[count++] = kWaitStop;
    }
    if (wakeEvent) {
        handles[count] = wakeEvent;
        meanings[count++] = kWaitWake;
    }
    handles[count] = listener->event;
    meanings[count++] = kWaitNetwork;
    const DWORD result = WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
    if (result == WAIT_TIMEOUT)
        return kWaitTime;
    // A wait that failed cannot be waited again: it ends the listening as a stop does.
    return result < WAIT_OBJECT_0 + count ? meanings[result - WAIT_OBJECT_0] : kWaitStop;
}

bool Stopped(const LoopbackListener* listener) {
    return listener->stopEvent && WaitForSingleObject(listener->stopEvent, 0) == WAIT_OBJECT_0;
}

// Binds socket to address and listens, no other program sharing the address.
bool ListenAt(SOCKET socket, const sockaddr* address, int length) {
    BOOL exclusive = TRUE;
    return socket != INVALID_SOCKET &&
           setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                      reinterpret_cast<const char*>(&exclusive), sizeof exclusive) == 0 &&
           bind(socket, address, length) == 0 && listen(socket, SOMAXCONN) == 0;
}

// Listens on 127.0.0.1 at a port the system chooses and on [::1] at the same
// port; another program may hold [::1] at the first port chosen, so a few are tried.
bool ListenOnBoth(LoopbackListener* listener, char* why, size_t whySize) {
    for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
        SOCKET ipv4 = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address4;
        memset(&address4, 0, sizeof address4);
        address4.sin_family = AF_INET;
        address4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address4;
        if (!ListenAt(ipv4, reinterpret_cast<sockaddr*>(&address4), sizeof address4) ||
            getsockname(ipv4, reinterpret_cast<sockaddr*>(&address4), &length) != 0) {
            FormatText(why, whySize, "cannot listen on 127.0.0.1 (Winsock error %d)",
                       WSAGetLastError());
            if (ipv4 != INVALID_SOCKET)
                closesocket(ipv4);
            return false;
        }
        listener->listening[0] = ipv4;
        listener->port = ntohs(address4.sin_port);

        SOCKET ipv6 = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
        if (ipv6 == INVALID_SOCKET) {
            FormatText(listener->ipv6Why, sizeof listener->ipv6Why,
                       "this system has no IPv6 (Winsock error %d)", WSAGetLastError());
            return true;
        }
        sockaddr_in6 address6;
        memset(&address6, 0, sizeof address6);
        address6.sin6_family = AF_INET6;
        address6.sin6_port = address4.sin_port;
        address6.sin6_addr.s6_addr[15] = 1;
        if (ListenAt(ipv6, reinterpret_cast<sockaddr*>(&address6), sizeof address6)) {
            listener->listening[1] = ipv6;
            return true;
        }
        const int error = WSAGetLastError();
        closesocket(ipv6);
        if (error != WSAEADDRINUSE && error != WSAEACCES) {
            FormatText(listener->ipv6Why, sizeof listener->ipv6Why,
                       "[::1] cannot be listened on (Winsock error %d)", error);
            return true;
        }
        closesocket(ipv4);
        listener->listening[0] = INVALID_SOCKET;
    }
    FormatText(why, whySize,
               "cannot listen on 127.0.0.1 and [::1] at one port: another program held [::1] at "
               "each of the %d ports tried",
               kPortAttempts);
    return false;
}

}  // namespace

LoopbackListener* OpenLoopbackListener(char* why, size_t whySize) {
    WSADATA data;
    int started = WSAStartup(MAKEWORD(2, 2), &data);
    if (started != 0) {
        FormatText(why, whySize, "cannot listen on 127.0.0.1 (WSAStartup error %d)", started);
        return nullptr;
    }
    LoopbackListener* listener =
        static_cast<LoopbackListener*>(calloc(1, sizeof(LoopbackListener)));
    if (!listener) {
        CopyText(why, whySize, "cannot listen on 127.0.0.1 (out of memory)");
        WSACleanup();
        return nullptr;
    }
    listener->listening[0] = INVALID_SOCKET;
    listener->listening[1] = INVALID_SOCKET;
    listener->handed = -1;
    for (HeldClient& client : listener->clients)
        client.socket = INVALID_SOCKET;
    listener->event = WSACreateEvent();
    if (listener->event == WSA_INVALID_EVENT) {
        FormatText(why, whySize, "cannot listen on 127.0.0.1 (Winsock error %d)",
                   WSAGetLastError());
        CloseLoopbackListener(listener);
        return nullptr;
    }
    if (!ListenOnBoth(listener, why, whySize)) {
        CloseLoopbackListener(listener);
        return nullptr;
    }
    for (SOCKET listening : listener->listening) {
        if (listening != INVALID_SOCKET &&
            WSAEventSelect(listening, listener->event, FD_ACCEPT) != 0) {
            FormatText(why, whySize, "cannot listen on 127.0.0.1 (Winsock error %d)",
                       WSAGetLastError());
            CloseLoopbackListener(listener);
            return nullptr;
        }
    }
    return listener;
}

int32_t LoopbackPort(const LoopbackListener* listener) {
    return listener->port;
}

const char* WhyNotOnIpv6(const LoopbackListener* listener) {
    return listener->ipv6Why[0] != '\0' ? listener->ipv6Why : nullptr;
}

ListenOutcome WaitForBrowserRequest(LoopbackListener* listener, HANDLE stopEvent, HANDLE wakeEvent,
                                    DWORD remainingMs, char* request, size_t size, size_t* length) {
    const DWORD start = GetTickCount();
    listener->stopEvent = stopEvent;
    *length = 0;
    if (size > 0)
        request[0] = '\0';
    if (listener->handed >= 0 && listener->clients[listener->handed].stage == kStageHanded)
        DropClient(&listener->clients[listener->handed]);
    listener->handed = -1;
    for (;;) {
        if (Stopped(listener))
            return kListenStopped;
        Serve(listener);
        for (int32_t i = 0; i < kMaxHeldClients; ++i) {
            HeldClient* client = &listener->clients[i];
            if (client->stage != kStageWhole)
                continue;
            if (client->headLength >= size) {
                DropClient(client);
                continue;
            }
            memcpy(request, client->head, client->headLength + 1);
            *length = client->headLength;
            StartStage(client, kStageHanded);
            listener->handed = i;
            return kListenRequest;
        }
        const DWORD overall = RemainingMs(start, remainingMs);
        if (overall == 0)
            return kListenTimedOut;
        const DWORD bound = NextBoundMs(listener);
        switch (WaitForEvents(listener, wakeEvent, bound < overall ? bound : overall)) {
        case kWaitStop:
            return kListenStopped;
        case kWaitWake:
            return kListenWoken;
        case kWaitNetwork:
        case kWaitTime:
            break;
        }
    }
}

void AnswerBrowser(LoopbackListener* listener, const char* response) {
    if (listener->handed < 0)
        return;
    HeldClient* client = &listener->clients[listener->handed];
    listener->handed = -1;
    if (client->stage != kStageHanded)
        return;
    const size_t length = strlen(response);
    if (length >= sizeof client->answer) {
        DropClient(client);
        return;
    }
    memcpy(client->answer, response, length);
    client->answerLength = length;
    client->answerSent = 0;
    StartStage(client, kStageAnswering);
    SendAnswer(client);
}

void CloseLoopbackListener(LoopbackListener* listener) {
    if (!listener)
        return;
    for (SOCKET& listening : listener->listening) {
        if (listening != INVALID_SOCKET)
            closesocket(listening);
        listening = INVALID_SOCKET;
    }
    if (listener->event != WSA_INVALID_EVENT) {
        for (;;) {
            if (Stopped(listener))
                break;
            Serve(listener);
            bool answering = false;
            for (const HeldClient& client : listener->clients)
                answering = answering || client.stage == kStageAnswering ||
                            client.stage == kStageDraining;
            if (!answering || WaitForEvents(listener, nullptr, NextBoundMs(listener)) == kWaitStop)
                break;
        }
        WSACloseEvent(listener->event);
    }
    for (HeldClient& client : listener->clients)
        DropClient(&client);
    WipeSecret(listener, sizeof *listener);
    free(listener);
    WSACleanup();
}
