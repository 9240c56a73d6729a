#include <winsock2.h>

#include "net/loopback_listener_win.h"

#include <cstdlib>
#include <cstring>

#include "docklet/worker_wait_win.h"
#include "text/bounded_text.h"

struct LoopbackListener {
    SOCKET listener;
    WSAEVENT listenEvent; // connections waiting on the listener
    SOCKET client;        // the client being read or answered, or INVALID_SOCKET
    WSAEVENT clientEvent; // network events of the client
    int32_t port;
    HANDLE stopEvent; // of the last wait, which also ends the answer's
};

namespace {

// How long one client may take to send its request head, or to take its answer.
const DWORD kClientBoundMs = 10 * 1000;
// Bytes read and dropped after an answer, so that closing does not reset
// the connection before the browser has read the answer.
const size_t kMaxDrained = 64 * 1024;
const DWORD kDrainMs = 1000;

DWORD RemainingMs(DWORD start, DWORD timeoutMs) {
    DWORD spent = GetTickCount() - start;
    return spent >= timeoutMs ? 0 : timeoutMs - spent;
}

void DropClient(LoopbackListener* listener) {
    if (listener->client != INVALID_SOCKET)
        closesocket(listener->client);
    listener->client = INVALID_SOCKET;
}

// How reading one client's request head ended.
enum HeadOutcome { kHeadRead, kHeadDropped, kHeadTimedOut, kHeadStopped };

// Waits for the client's next network event, within whichever ends first:
// the client's own bound or the whole wait's.
HeadOutcome WaitForClient(LoopbackListener* listener, DWORD clientStart, DWORD start,
                          DWORD remainingMs) {
    const DWORD overall = RemainingMs(start, remainingMs);
    const DWORD own = RemainingMs(clientStart, kClientBoundMs);
    switch (WaitUnlessStopped(listener->clientEvent, listener->stopEvent,
                              own < overall ? own : overall)) {
    case kWaitStopped:
        return kHeadStopped;
    case kWaitTimedOut:
        return own < overall ? kHeadDropped : kHeadTimedOut;
    case kWaitSignalled:
        break;
    }
    WSANETWORKEVENTS events;
    WSAEnumNetworkEvents(listener->client, listener->clientEvent, &events);
    return kHeadRead;
}

HeadOutcome ReadHead(LoopbackListener* listener, DWORD start, DWORD remainingMs, char* request,
                     size_t size, size_t* length) {
    const DWORD clientStart = GetTickCount();
    size_t got = 0;
    for (;;) {
        // One byte of room stays for the terminator: a head that fills the rest is too long.
        if (got + 1 >= size)
            return kHeadDropped;
        int received = recv(listener->client, request + got, static_cast<int>(size - 1 - got), 0);
        if (received == 0 || (received < 0 && WSAGetLastError() != WSAEWOULDBLOCK))
            return kHeadDropped;
        if (received > 0) {
            // The empty line may straddle two receives: look from three bytes back.
            const size_t from = got > 3 ? got - 3 : 0;
            got += static_cast<size_t>(received);
            request[got] = '\0';
            const char* end = strstr(request + from, "\r\n\r\n");
            if (end) {
                *length = static_cast<size_t>(end - request) + 4;
                request[*length] = '\0';
                return kHeadRead;
            }
            continue;
        }
        HeadOutcome waited = WaitForClient(listener, clientStart, start, remainingMs);
        if (waited != kHeadRead)
            return waited;
    }
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
    listener->client = INVALID_SOCKET;
    listener->listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    listener->listenEvent = WSACreateEvent();
    listener->clientEvent = WSACreateEvent();
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int addressLength = sizeof address;
    // No other program may bind the same port and take the browser's request.
    BOOL exclusive = TRUE;
    bool listening =
        listener->listener != INVALID_SOCKET && listener->listenEvent != WSA_INVALID_EVENT &&
        listener->clientEvent != WSA_INVALID_EVENT &&
        setsockopt(listener->listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                   reinterpret_cast<const char*>(&exclusive), sizeof exclusive) == 0 &&
        bind(listener->listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        listen(listener->listener, 8) == 0 &&
        getsockname(listener->listener, reinterpret_cast<sockaddr*>(&address), &addressLength) ==
            0 &&
        WSAEventSelect(listener->listener, listener->listenEvent, FD_ACCEPT) == 0;
    if (!listening) {
        FormatText(why, whySize, "cannot listen on 127.0.0.1 (Winsock error %d)",
                   WSAGetLastError());
        CloseLoopbackListener(listener);
        return nullptr;
    }
    listener->port = ntohs(address.sin_port);
    return listener;
}

int32_t LoopbackPort(const LoopbackListener* listener) {
    return listener->port;
}

ListenOutcome WaitForBrowserRequest(LoopbackListener* listener, HANDLE stopEvent, DWORD remainingMs,
                                    char* request, size_t size, size_t* length) {
    const DWORD start = GetTickCount();
    listener->stopEvent = stopEvent;
    DropClient(listener);
    *length = 0;
    if (size > 0)
        request[0] = '\0';
    for (;;) {
        switch (
            WaitUnlessStopped(listener->listenEvent, stopEvent, RemainingMs(start, remainingMs))) {
        case kWaitStopped:
            return kListenStopped;
        case kWaitTimedOut:
            return kListenTimedOut;
        case kWaitSignalled:
            break;
        }
        WSANETWORKEVENTS events;
        WSAEnumNetworkEvents(listener->listener, listener->listenEvent, &events);
        listener->client = accept(listener->listener, nullptr, nullptr);
        if (listener->client == INVALID_SOCKET)
            continue;
        // An accepted socket shares the listener's event until given its own.
        if (WSAEventSelect(listener->client, listener->clientEvent,
                           FD_READ | FD_WRITE | FD_CLOSE) != 0) {
            DropClient(listener);
            continue;
        }
        WSAResetEvent(listener->clientEvent);
        switch (ReadHead(listener, start, remainingMs, request, size, length)) {
        case kHeadRead:
            return kListenRequest;
        case kHeadStopped:
            DropClient(listener);
            return kListenStopped;
        case kHeadTimedOut:
            DropClient(listener);
            return kListenTimedOut;
        case kHeadDropped:
            DropClient(listener);
            *length = 0;
            if (size > 0)
                request[0] = '\0';
            // More connections may wait behind this one, with no new event.
            WSASetEvent(listener->listenEvent);
            break;
        }
    }
}

void AnswerBrowser(LoopbackListener* listener, const char* response) {
    if (listener->client == INVALID_SOCKET)
        return;
    const DWORD start = GetTickCount();
    const size_t length = strlen(response);
    size_t sent = 0;
    while (sent < length) {
        int result = send(listener->client, response + sent, static_cast<int>(length - sent), 0);
        if (result > 0) {
            sent += static_cast<size_t>(result);
            continue;
        }
        if (result == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK &&
            WaitUnlessStopped(listener->clientEvent, listener->stopEvent,
                              RemainingMs(start, kClientBoundMs)) == kWaitSignalled)
            continue;
        break;
    }
    if (sent == length && shutdown(listener->client, SD_SEND) == 0) {
        const DWORD drainStart = GetTickCount();
        char discarded[512];
        size_t drained = 0;
        while (drained < kMaxDrained) {
            int received = recv(listener->client, discarded, sizeof discarded, 0);
            if (received > 0) {
                drained += static_cast<size_t>(received);
                continue;
            }
            if (received == 0 || WSAGetLastError() != WSAEWOULDBLOCK ||
                WaitUnlessStopped(listener->clientEvent, listener->stopEvent,
                                  RemainingMs(drainStart, kDrainMs)) != kWaitSignalled)
                break;
        }
    }
    DropClient(listener);
}

void CloseLoopbackListener(LoopbackListener* listener) {
    if (!listener)
        return;
    DropClient(listener);
    if (listener->listener != INVALID_SOCKET)
        closesocket(listener->listener);
    if (listener->listenEvent != WSA_INVALID_EVENT)
        WSACloseEvent(listener->listenEvent);
    if (listener->clientEvent != WSA_INVALID_EVENT)
        WSACloseEvent(listener->clientEvent);
    free(listener);
    WSACleanup();
}
