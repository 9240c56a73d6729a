#include <winsock2.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "docklet/worker_wait_win.h"
#include "log/debug_log.h"
#include "net/certificate_check_win.h"
#include "net/host_address.h"
#include "net/name_lookup_win.h"
#include "net/reply_scan.h"
#include "net/server_connection.h"
#include "net/tls_channel_win.h"
#include "net/tls_credentials_win.h"
#include "text/bounded_text.h"

struct Connection {
    SOCKET socket;
    WSAEVENT event;  // network events of the socket, which is non-blocking
    HANDLE stopEvent;
    TlsChannel* tls;      // null while the connection is plain
    DWORD stepStart;      // tick count when the send, reply or handshake under way began
    DWORD stepTimeoutMs;  // its bound
    WaitOutcome lastWait;  // how the last wait for the network ended
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
    connection->lastWait = WaitUnlessStopped(connection->event, connection->stopEvent, RemainingMs(start, timeoutMs));
    if (connection->lastWait != kWaitSignalled)
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
    FreeTlsChannel(connection->tls);
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

void StartStep(const DockletInstance* instance, Connection* connection) {
    connection->stepStart = GetTickCount();
    connection->stepTimeoutMs = TimeoutMs(instance);
}

// Sends all the bytes as they are, within the step's bound.
bool SendRaw(Connection* connection, const char* data, size_t length) {
    size_t sent = 0;
    while (sent < length) {
        int result = send(connection->socket, data + sent, static_cast<int>(length - sent), 0);
        if (result > 0) {
            sent += static_cast<size_t>(result);
            continue;
        }
        WSANETWORKEVENTS events;
        if (result == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK &&
            WaitForNetwork(connection, connection->stepStart, connection->stepTimeoutMs, &events))
            continue;
        return false;
    }
    return true;
}

// At least one byte as it comes from the socket, within the step's bound: the
// count, 0 when the server closed, -1 on failure.
int ReceiveRaw(Connection* connection, char* buffer, size_t room) {
    for (;;) {
        int received = recv(connection->socket, buffer, static_cast<int>(room), 0);
        if (received >= 0)
            return received;
        WSANETWORKEVENTS events;
        if (WSAGetLastError() != WSAEWOULDBLOCK ||
            !WaitForNetwork(connection, connection->stepStart, connection->stepTimeoutMs, &events))
            return -1;
    }
}

bool SendRawFor(void* connection, const char* data, size_t length) {
    return SendRaw(static_cast<Connection*>(connection), data, length);
}

int ReceiveRawFor(void* connection, char* buffer, size_t room) {
    return ReceiveRaw(static_cast<Connection*>(connection), buffer, room);
}

// Sends the whole text. On failure the connection is closed.
bool SendText(const DockletInstance* instance, Connection** connection, const char* text) {
    if (!*connection)
        return false;
    StartStep(instance, *connection);
    size_t length = strlen(text);
    bool sent = (*connection)->tls ? SendTls((*connection)->tls, text, length) : SendRaw(*connection, text, length);
    if (!sent) {
        printf("Error: send()\n\n");
        DisconnectFromServer(connection);
    }
    return sent;
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

ReceiveEnd ReceiveInto(Connection* connection, Reply* reply, ReplyEnd end) {
    ReplyScan scan = StartReplyScan(end);
    for (;;) {
        if (!MakeRoom(reply))
            return kReceiveFailed;
        size_t room = reply->capacity - 1 - reply->length;
        char* into = reply->text + reply->length;
        int received = connection->tls ? ReceiveTls(connection->tls, into, room) : ReceiveRaw(connection, into, room);
        // Closed before the reply was whole: what came is a fragment (say "+OK 2"
        // of "+OK 25 ..."), and judging it could give a wrong count.
        if (received <= 0)
            return kReceiveFailed;
        reply->length += static_cast<size_t>(received);
        reply->text[reply->length] = '\0';
        ReplyState state = ScanReply(&scan, reply->text, reply->length);
        if (state == kReplyComplete)
            return kReceivedWhole;
        if (state == kReplyTooLong)
            return kReceiveFailed;
    }
}

// Reads one whole reply, or leaves it empty and the connection closed.
size_t ReceiveReply(const DockletInstance* instance, Connection** connection, Reply* reply, ReplyEnd end) {
    EmptyReply(reply);
    if (!*connection)
        return 0;
    StartStep(instance, *connection);
    if (ReceiveInto(*connection, reply, end) == kReceiveFailed) {
        EmptyReply(reply);
        DisconnectFromServer(connection);
    }
    return reply->length;
}

// A failure's reason as its Error line gives it, or none for a stop: the
// check then ends without having failed.
struct Failure {
    char text[640];
};

void DescribeHandshakeFailure(const Connection* connection, TlsStart started, SECURITY_STATUS status,
                              Failure* failure) {
    const unsigned long code = static_cast<unsigned long>(status);
    if (started == kTlsClosed || (started == kTlsTransportFailed && connection->lastWait == kWaitSignalled))
        CopyText(failure->text, sizeof failure->text, "the server closed the connection: TLS handshake");
    else if (started == kTlsTransportFailed && connection->lastWait == kWaitTimedOut)
        FormatText(failure->text, sizeof failure->text, "no answer within %u s: TLS handshake",
                   static_cast<unsigned>(connection->stepTimeoutMs / 1000));
    else if (started == kTlsTransportFailed)
        failure->text[0] = '\0';
    else if (const char* meaning = SspiStatusMeaning(static_cast<uint32_t>(status)))
        FormatText(failure->text, sizeof failure->text, "TLS handshake failed (%s, SSPI status 0x%08lX)", meaning, code);
    else
        FormatText(failure->text, sizeof failure->text, "TLS handshake failed (SSPI status 0x%08lX)", code);
}

// Judges the certificate of a channel just opened and writes the connection's
// TLS line; false, with the reason, when the certificate is refused.
bool AcceptCertificate(const DockletInstance* instance, TlsChannel* channel, const MailAccount* account,
                       Failure* failure) {
    PCCERT_CONTEXT certificate = TlsServerCertificate(channel);
    if (!certificate) {
        CopyText(failure->text, sizeof failure->text, "TLS handshake failed (the server sent no certificate)");
        return false;
    }
    char subject[256];
    CertificateSubject(certificate, subject, sizeof subject);
    CertificateVerdict verdict = kCertificateAccepted;
    bool caFileUsable = true;
    char names[512];
    if (!account->acceptAnyCertificate)
        verdict = CheckServerCertificate(certificate, account->address, account->caFile, &caFileUsable, names,
                                         sizeof names);
    CertFreeCertificateContext(certificate);

    switch (verdict) {
    case kCertificateAccepted:
        if (instance->debug) {
            SecPkgContext_ConnectionInfo info = {};
            char protocol[32] = "TLS";
            char cipher[48] = "unknown cipher";
            if (TlsConnectionInfo(channel, &info)) {
                FormatTlsProtocol(protocol, sizeof protocol, info.dwProtocol);
                FormatTlsCipher(cipher, sizeof cipher, info.aiCipher, info.dwCipherStrength);
            }
            WriteDebugLog(instance, "    %s, %s, certificate of %s %s", protocol, cipher, subject,
                          account->acceptAnyCertificate ? "not verified (VerifyCertificate=0)" : "accepted");
        }
        return true;
    case kCertificateUntrusted:
        if (caFileUsable)
            FormatText(failure->text, sizeof failure->text, "TLS certificate not trusted: %s", subject);
        else
            FormatText(failure->text, sizeof failure->text,
                       "TLS certificate not trusted: %s (CAFile holds no certificate: %s)", subject, account->caFile);
        return false;
    case kCertificateExpired:
        FormatText(failure->text, sizeof failure->text, "TLS certificate expired or not yet valid: %s", subject);
        return false;
    case kCertificateWrongName:
        FormatText(failure->text, sizeof failure->text, "TLS certificate is for %s, not %s", names, account->address);
        return false;
    }
    return false;
}

// Runs the handshake on an open connection and judges the certificate; on
// failure the connection is closed and the reason logged.
bool SecureConnection(const DockletInstance* instance, Connection** connection, const MailAccount* account) {
    Failure failure = {};
    CredHandle* credentials = ItemTlsCredentials(instance);
    bool secured = false;
    if (!credentials) {
        CopyText(failure.text, sizeof failure.text, "TLS handshake failed (SChannel gives no credentials)");
    } else {
        StartStep(instance, *connection);
        TlsTransport transport = {*connection, SendRawFor, ReceiveRawFor};
        SECURITY_STATUS status = SEC_E_OK;
        TlsStart started = StartTlsChannel(credentials, account->address, &transport, &(*connection)->tls, &status);
        if (started != kTlsStarted)
            DescribeHandshakeFailure(*connection, started, status, &failure);
        else
            secured = AcceptCertificate(instance, (*connection)->tls, account, &failure);
    }
    if (!secured) {
        if (instance->debug && failure.text[0] != '\0')
            WriteDebugLog(instance, "    Error: %s", failure.text);
        DisconnectFromServer(connection);
    }
    return secured;
}

}  // namespace

Connection* OpenServerConnection(const DockletInstance* instance, Reply* reply, const MailAccount* account) {
    EmptyReply(reply);
    if (account->security == kSecurityUnknown) {
        if (instance->debug)
            WriteDebugLog(instance, "    Error: unknown Security \"%s\"", account->securityText);
        return nullptr;
    }
    if (instance->debug)
        WriteDebugLog(instance, "    Connect %s %d", account->address, account->port);
    Connection* connection = ConnectToServer(instance, account->address, account->port);
    // A connection that could not be secured has no greeting to show.
    if (connection && account->security == kSecurityTls && !SecureConnection(instance, &connection, account))
        return nullptr;
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

bool StartTlsOnConnection(const DockletInstance* instance, Connection** connection, const MailAccount* account) {
    if (!*connection)
        return false;
    // Bytes the server sent after its OK came before the handshake: they are
    // no part of it nor any reply, and whoever put them there may not be the
    // server. Whatever is still on its way breaks the handshake instead.
    char discarded[512];
    while (recv((*connection)->socket, discarded, sizeof discarded, 0) > 0) {
    }
    return SecureConnection(instance, connection, account);
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
