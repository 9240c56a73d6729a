#include <winsock2.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "docklet/abandonable_call_win.h"
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

// The time-out as the log states it.
int32_t TimeoutSeconds(const DockletInstance* instance) {
    return static_cast<int32_t>(CheckTimeoutMs(instance) / 1000);
}

struct ConsoleText {
    char text[64];
};

void PrintText(void* data) { printf("%s", static_cast<ConsoleText*>(data)->text); }

// Standard output may be a pipe that nobody reads: a full one would hold the
// check, so the write is a call the check can abandon.
void Print(const DockletInstance* instance, const char* text) {
    ConsoleText console;
    CopyText(console.text, sizeof console.text, text);
    CallUnlessStopped(PrintText, &console, sizeof console, instance->stopEvent, CheckTimeoutMs(instance));
}

DWORD RemainingMs(DWORD start, DWORD timeoutMs) {
    DWORD spent = GetTickCount() - start;
    return spent >= timeoutMs ? 0 : timeoutMs - spent;
}

// Waits for the socket's next network events, which are then in events.
WaitOutcome WaitForNetwork(Connection* connection, DWORD start, DWORD timeoutMs, WSANETWORKEVENTS* events) {
    WaitOutcome outcome =
        WaitUnlessStopped(connection->event, connection->stopEvent, RemainingMs(start, timeoutMs));
    if (outcome == kWaitSignalled && WSAEnumNetworkEvents(connection->socket, connection->event, events) != 0)
        events->lNetworkEvents = FD_CLOSE;
    return outcome;
}

// Records in reply why a wait ended without what it waited for.
void RecordWaitEnd(const DockletInstance* instance, Reply* reply, WaitOutcome outcome, const char* step) {
    if (outcome == kWaitStopped)
        reply->stopped = true;
    else if (outcome == kWaitTimedOut)
        SetReplyFailure(reply, "no answer within %d s: %s", TimeoutSeconds(instance), step);
    else
        SetReplyFailure(reply, "the server closed the connection: %s", step);
}

bool ResolveHost(const DockletInstance* instance, Reply* reply, const char* host, DWORD timeoutMs,
                 uint32_t* address) {
    if (ParseDottedIPv4(host, address))
        return true;
    // An empty text names no host; a lookup of it would find this machine.
    if (host[0] == '\0') {
        SetReplyFailure(reply, "no Address set");
        return false;
    }
    switch (LookUpHostName(host, instance->stopEvent, timeoutMs, address)) {
    case kNameFound:
        return true;
    case kNameNotFound:
        SetReplyFailure(reply, "name not found: %s", host);
        break;
    case kLookupTimedOut:
        RecordWaitEnd(instance, reply, kWaitTimedOut, "name lookup");
        break;
    case kLookupStopped:
        reply->stopped = true;
        break;
    }
    return false;
}

void RecordConnectError(Reply* reply, const char* host, int32_t port, int error) {
    if (error == WSAECONNREFUSED)
        SetReplyFailure(reply, "connection refused: %s port %d", host, port);
    else
        SetReplyFailure(reply, "cannot connect to %s port %d (Winsock error %d)", host, port, error);
}

void Release(Connection* connection) {
    closesocket(connection->socket);
    WSACloseEvent(connection->event);
    free(connection);
    WSACleanup();
}

// Each connection holds one WSAStartup of its own, so that the pairs of
// overlapping checks on several workers never undo each other.
Connection* ConnectToServer(const DockletInstance* instance, Reply* reply, const char* host, int32_t port) {
    WSADATA data;
    int started = WSAStartup(MAKEWORD(2, 2), &data);
    if (started != 0) {
        RecordConnectError(reply, host, port, started);
        Print(instance, "Error: WSAStartup()\n\n");
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
        RecordConnectError(reply, host, port, WSAGetLastError());
        Print(instance, "Error: socket()\n\n");
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
    const DWORD timeoutMs = CheckTimeoutMs(instance);
    uint32_t address = 0;
    if (!ResolveHost(instance, reply, host, timeoutMs, &address)) {
        Print(instance, "Error: Target not found\n\n");
        Release(connection);
        return nullptr;
    }

    sockaddr_in server;
    memset(&server, 0, sizeof server);
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    memcpy(&server.sin_addr, &address, sizeof address);
    bool connected = connect(connection->socket, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
    int error = connected ? 0 : WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
        WSANETWORKEVENTS events;
        WaitOutcome outcome;
        while ((outcome = WaitForNetwork(connection, start, timeoutMs, &events)) == kWaitSignalled &&
               !(events.lNetworkEvents & (FD_CONNECT | FD_CLOSE))) {
        }
        if (outcome != kWaitSignalled) {
            RecordWaitEnd(instance, reply, outcome, "connecting");
        } else {
            error = events.lNetworkEvents & FD_CONNECT ? events.iErrorCode[FD_CONNECT_BIT] : WSAECONNRESET;
            connected = error == 0;
        }
    }
    if (!connected && error != WSAEWOULDBLOCK)
        RecordConnectError(reply, host, port, error);
    if (!connected) {
        Print(instance, "Failed to connect.\n");
        Release(connection);
        return nullptr;
    }
    return connection;
}

// Sends the whole text. On failure the connection is closed and reply says why.
bool SendText(const DockletInstance* instance, Connection** connection, Reply* reply, const char* text) {
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
        WaitOutcome outcome = kWaitSignalled;
        if (result == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK &&
            (outcome = WaitForNetwork(*connection, start, CheckTimeoutMs(instance), &events)) == kWaitSignalled)
            continue;
        RecordWaitEnd(instance, reply, outcome, reply->step);
        Print(instance, "Error: send()\n\n");
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

// Reads until the reply is whole; false, with the reason recorded, when it
// cannot be: closed or reset before, time-out, stop, too long, out of memory.
bool ReceiveInto(const DockletInstance* instance, Connection* connection, Reply* reply, ReplyEnd end) {
    const DWORD start = GetTickCount();
    ReplyScan scan = StartReplyScan(end);
    for (;;) {
        // Room runs out only short of the bound: the reply outgrew what can be held.
        if (!MakeRoom(reply)) {
            SetReplyFailure(reply, "reply past %u bytes: %s", static_cast<unsigned>(kMaxReplyLength), reply->step);
            return false;
        }
        size_t room = reply->capacity - 1 - reply->length;
        int received = recv(connection->socket, reply->text + reply->length, static_cast<int>(room), 0);
        // Closed before the reply was whole: what came is a fragment (say "+OK 2"
        // of "+OK 25 ..."), and judging it could give a wrong count.
        if (received == 0) {
            RecordWaitEnd(instance, reply, kWaitSignalled, reply->step);
            return false;
        }
        if (received > 0) {
            reply->length += static_cast<size_t>(received);
            reply->text[reply->length] = '\0';
            ReplyState state = ScanReply(&scan, reply->text, reply->length);
            if (state == kReplyComplete)
                return true;
            if (state == kReplyTooLong) {
                SetReplyFailure(reply, "reply past %u bytes: %s", static_cast<unsigned>(kMaxReplyLength),
                                reply->step);
                return false;
            }
            continue;
        }
        WSANETWORKEVENTS events;
        WaitOutcome outcome = kWaitSignalled;
        if (WSAGetLastError() != WSAEWOULDBLOCK ||
            (outcome = WaitForNetwork(connection, start, CheckTimeoutMs(instance), &events)) != kWaitSignalled) {
            RecordWaitEnd(instance, reply, outcome, reply->step);
            return false;
        }
    }
}

// Reads one whole reply, or leaves it empty and the connection closed.
size_t ReceiveReply(const DockletInstance* instance, Connection** connection, Reply* reply, ReplyEnd end) {
    EmptyReply(reply);
    if (!*connection)
        return 0;
    if (!ReceiveInto(instance, *connection, reply, end)) {
        EmptyReply(reply);
        DisconnectFromServer(connection);
    }
    return reply->length;
}

// The step a command's reply answers, named by the command word alone (never
// its arguments, which may hold a password), after an IMAP tag of digits.
void NameStep(Reply* reply, const char* command) {
    size_t tag = strspn(command, "0123456789");
    const char* word = tag > 0 && command[tag] == ' ' ? command + tag + 1 : command;
    size_t length = strcspn(word, " \r\n");
    FormatText(reply->step, sizeof reply->step, "reply to %.*s", static_cast<int>(length < 16 ? length : 16), word);
}

}  // namespace

Connection* OpenServerConnection(const DockletInstance* instance, Reply* reply, const char* host,
                                 int32_t port) {
    if (instance->debug)
        WriteDebugLog(instance, "    Connect %s %d", host, port);
    CopyText(reply->step, sizeof reply->step, "greeting");
    Connection* connection = ConnectToServer(instance, reply, host, port);
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
    NameStep(reply, command);
    ContinueCommand(instance, connection, reply, end, command);
}

void ContinueCommand(const DockletInstance* instance, Connection** connection, Reply* reply,
                     ReplyEnd end, const char* text) {
    if (instance->debug)
        WriteDebugLog(instance, "    %s", text);
    SendText(instance, connection, reply, text);
    ReceiveReply(instance, connection, reply, end);
    if (instance->debug)
        WriteDebugLog(instance, "    %s", reply->text);
}

void CloseServerConnection(const DockletInstance* instance, Connection** connection) {
    if (instance->debug)
        WriteDebugLog(instance, "    Disconnect");
    DisconnectFromServer(connection);
}

uint32_t CheckTimeoutMs(const DockletInstance* instance) {
    if (instance->timeoutSeconds <= 0)
        return kDefaultTimeoutMs;
    return instance->timeoutSeconds > 0x7FFFFFFF / 1000 ? 0x7FFFFFFF
                                                        : static_cast<DWORD>(instance->timeoutSeconds) * 1000;
}

void DisconnectFromServer(Connection** connection) {
    if (!*connection)
        return;
    Release(*connection);
    *connection = nullptr;
}
