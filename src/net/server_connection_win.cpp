#include <winsock2.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "docklet/worker_wait_win.h"
#include "log/debug_log.h"
#include "net/host_address.h"
#include "net/name_lookup_win.h"
#include "net/reply_scan.h"
#include "net/server_connection.h"

struct Connection {
    SOCKET socket;
    WSAEVENT event;  // network events of the socket, which is non-blocking
    HANDLE stopEvent;
};

namespace {

const DWORD kDefaultTimeoutMs = 60 * 1000;
// Room asked of the reply before each receive.
const size_t kReceiveChunk = 4096;

DWORD TimeoutMs(const DockletInstance* instance) {
    if (instance->timeoutSeconds <= 0)
        return kDefaultTimeoutMs;
    return instance->timeoutSeconds > 0x7FFFFFFF / 1000 ? 0x7FFFFFFF
                                                        : static_cast<DWORD>(instance->timeoutSeconds) * 1000;
}

DWORD RemainingMs(DWORD start, DWORD timeoutMs) {
    DWORD spent = GetTickCount() - start;
    return spent >= timeoutMs ? 0 : timeoutMs - spent;
}

// Waits for the socket's next network events; false on time-out or stop.
bool WaitForNetwork(Connection* connection, DWORD start, DWORD timeoutMs, WSANETWORKEVENTS* events) {
    if (WaitUnlessStopped(connection->event, connection->stopEvent, RemainingMs(start, timeoutMs)) !=
        kWaitSignalled)
        return false;
    return WSAEnumNetworkEvents(connection->socket, connection->event, events) == 0;
}

bool ResolveHost(const DockletInstance* instance, const char* host, DWORD timeoutMs, uint32_t* address) {
    if (ParseDottedIPv4(host, address))
        return true;
    // An empty text names no host; a lookup of it would find this machine.
    return host[0] != '\0' && LookUpHostName(host, instance->stopEvent, timeoutMs, address);
}

void Release(Connection* connection) {
    closesocket(connection->socket);
    WSACloseEvent(connection->event);
    free(connection);
    WSACleanup();
}

// Each connection holds one WSAStartup of its own, so that the pairs of
// overlapping checks on several workers never undo each other.
Connection* ConnectToServer(const DockletInstance* instance, const char* host, int32_t port) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        printf("Error: WSAStartup()\n\n");
        return nullptr;
    }
    Connection* connection = static_cast<Connection*>(calloc(1, sizeof(Connection)));
    if (connection) {
        connection->socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        connection->event = WSACreateEvent();
        connection->stopEvent = instance->stopEvent;
    }
    if (!connection || connection->socket == INVALID_SOCKET || connection->event == WSA_INVALID_EVENT ||
        WSAEventSelect(connection->socket, connection->event, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0) {
        printf("Error: socket()\n\n");
        if (connection) {
            if (connection->socket != INVALID_SOCKET)
                closesocket(connection->socket);
            if (connection->event != WSA_INVALID_EVENT)
                WSACloseEvent(connection->event);
            free(connection);
        }
        WSACleanup();
        return nullptr;
    }

    const DWORD start = GetTickCount();
    const DWORD timeoutMs = TimeoutMs(instance);
    uint32_t address = 0;
    if (!ResolveHost(instance, host, timeoutMs, &address)) {
        printf("Error: Target not found\n\n");
        Release(connection);
        return nullptr;
    }

    sockaddr_in server;
    memset(&server, 0, sizeof server);
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    memcpy(&server.sin_addr, &address, sizeof address);
    bool connected = connect(connection->socket, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
    if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
        WSANETWORKEVENTS events;
        while (WaitForNetwork(connection, start, timeoutMs, &events)) {
            if (events.lNetworkEvents & FD_CONNECT) {
                connected = events.iErrorCode[FD_CONNECT_BIT] == 0;
                break;
            }
        }
    }
    if (!connected) {
        printf("Failed to connect.\n");
        Release(connection);
        return nullptr;
    }
    return connection;
}

// Sends the whole text. On failure the connection is closed.
bool SendText(const DockletInstance* instance, Connection** connection, const char* text) {
    if (!*connection)
        return false;
    const DWORD start = GetTickCount();
    size_t length = strlen(text);
    size_t sent = 0;
    while (sent < length) {
        int result = send((*connection)->socket, text + sent, static_cast<int>(length - sent), 0);
        if (result > 0) {
            sent += static_cast<size_t>(result);
            continue;
        }
        WSANETWORKEVENTS events;
        if (result == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK &&
            WaitForNetwork(*connection, start, TimeoutMs(instance), &events))
            continue;
        printf("Error: send()\n\n");
        DisconnectFromServer(connection);
        return false;
    }
    return true;
}

// Grows the reply so that a receive of up to kReceiveChunk bytes fits,
// doubling to keep a long reply's copies few; never past what the longest
// acceptable reply and one more receive need.
bool MakeRoom(Reply* reply) {
    size_t needed = reply->length + kReceiveChunk + 1;
    if (needed <= reply->capacity)
        return true;
    size_t grown = reply->capacity * 2 > needed ? reply->capacity * 2 : needed;
    const size_t largest = kMaxReplyLength + kReceiveChunk + 1;
    return GrowReply(reply, grown < largest ? grown : largest);
}

enum ReceiveEnd {
    kReceivedWhole,   // the reply is complete
    kReceiveFailed,   // closed or reset before it was, time-out, stop, too long, out of memory
};

ReceiveEnd ReceiveInto(Connection* connection, Reply* reply, ReplyEnd end, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    ReplyScan scan = StartReplyScan(end);
    for (;;) {
        if (!MakeRoom(reply))
            return kReceiveFailed;
        size_t room = reply->capacity - 1 - reply->length;
        int received = recv(connection->socket, reply->text + reply->length, static_cast<int>(room), 0);
        // Closed before the reply was whole: what came is a fragment (say "+OK 2"
        // of "+OK 25 ..."), and judging it could give a wrong count.
        if (received == 0)
            return kReceiveFailed;
        if (received > 0) {
            reply->length += static_cast<size_t>(received);
            reply->text[reply->length] = '\0';
            ReplyState state = ScanReply(&scan, reply->text, reply->length);
            if (state == kReplyComplete)
                return kReceivedWhole;
            if (state == kReplyTooLong)
                return kReceiveFailed;
            continue;
        }
        WSANETWORKEVENTS events;
        if (WSAGetLastError() != WSAEWOULDBLOCK || !WaitForNetwork(connection, start, timeoutMs, &events))
            return kReceiveFailed;
    }
}

// Reads one whole reply, or leaves it empty and the connection closed.
size_t ReceiveReply(const DockletInstance* instance, Connection** connection, Reply* reply, ReplyEnd end) {
    EmptyReply(reply);
    if (!*connection)
        return 0;
    if (ReceiveInto(*connection, reply, end, TimeoutMs(instance)) == kReceiveFailed) {
        EmptyReply(reply);
        DisconnectFromServer(connection);
    }
    return reply->length;
}

}  // namespace

Connection* OpenServerConnection(const DockletInstance* instance, Reply* reply, const char* host,
                                 int32_t port) {
    if (instance->debug)
        WriteDebugLog(instance, "    Connect %s %d", host, port);
    Connection* connection = ConnectToServer(instance, host, port);
    ReceiveReply(instance, &connection, reply, 0);
    if (instance->debug)
        WriteDebugLog(instance, "    %s", reply->text);
    return connection;
}

void ExchangeCommand(const DockletInstance* instance, Connection** connection, Reply* reply,
                     ReplyEnd end, const char* format, ...) {
    // Large enough for an IMAP LOGIN whose two 259-character arguments are
    // quoted with every character escaped.
    char command[2048];
    va_list arguments;
    va_start(arguments, format);
    FormatTextV(command, sizeof command, format, arguments);
    va_end(arguments);
    if (instance->debug)
        WriteDebugLog(instance, "    %s", command);
    SendText(instance, connection, command);
    ReceiveReply(instance, connection, reply, end);
    if (instance->debug)
        WriteDebugLog(instance, "    %s", reply->text);
}

void CloseServerConnection(const DockletInstance* instance, Connection** connection) {
    if (instance->debug)
        WriteDebugLog(instance, "    Disconnect");
    DisconnectFromServer(connection);
}

void DisconnectFromServer(Connection** connection) {
    if (!*connection)
        return;
    Release(*connection);
    *connection = nullptr;
}
