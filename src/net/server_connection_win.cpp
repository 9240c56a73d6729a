#include <winsock2.h>
#include <mstcpip.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "docklet/abandonable_call_win.h"
#include "docklet/worker_wait_win.h"
#include "log/debug_log.h"
#include "net/certificate_check_win.h"
#include "net/host_address.h"
#include "net/name_lookup_win.h"
#include "net/reply_scan.h"
#include "net/server_connection.h"
#include "net/tls_channel_win.h"
#include "net/tls_credentials_win.h"

struct Connection {
    SOCKET socket;
    WSAEVENT event;  // network events of the socket, which is non-blocking
    TlsChannel* tls;       // null while the connection is plain
    DWORD stepStart;       // tick count when the send, reply or handshake under way began
    DWORD stepBoundMs;     // how long that step may wait: the time-out, or longer while idling
    WaitOutcome lastWait;  // how the step's last wait for the network ended
    HANDLE interrupt;      // when set, every wait ends as a stop does; null: none
    HANDLE stepWake;       // when set, the step's wait ends as a time-out does (woken); null: none
    bool woken;            // the step's last wait ended on stepWake
    bool lastCommand;      // the command under way ends the dialogue: nothing more will be sent
    char* ahead;           // bytes received past the last reply's end, which the next reply begins
                           // with (heap, aheadLength of them); null when none
    size_t aheadLength;
    const DockletInstance* instance;  // whose time-out bounds each step and whose stop ends every wait
};

namespace {

const DWORD kDefaultTimeoutMs = 60 * 1000;
// Room asked of the reply before each receive.
const size_t kReceiveChunk = 4096;
// Bytes one receive takes at most: a reply of megabytes comes in many
// receives, with a look at the stop after each.
const size_t kLargestReceive = 256 * 1024;
// Bytes in clear dropped after the OK to STARTTLS or STLS, at most.
const size_t kMaxClearAfterOk = 4096;
// TCP keepalive: the first probe after a minute without traffic, then one
// every 5 s. A path that drops packets is so noticed within 110 s on Windows
// (10 probes), 105 s under Wine (Linux's 9) and 85 s on XP (5), even on a
// connection that nothing else would test; and a router that forgets quiet
// connections sees traffic every minute.
const ULONG kKeepaliveIdleMs = 60 * 1000;
const ULONG kKeepaliveIntervalMs = 5 * 1000;

struct ConsoleText {
    char text[64];
};

// Straight to the handle: a C runtime stream would hold its lock for as long
// as an abandoned write hangs, and every other use of the stream with it.
void PrintText(void* data) {
    const char* text = static_cast<ConsoleText*>(data)->text;
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written;
    if (output && output != INVALID_HANDLE_VALUE)
        WriteFile(output, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
}

// Standard output may be a pipe that nobody reads: a full one would hold the
// check, so the write is a call the check can abandon. While an abandoned
// write hangs, later lines are dropped rather than left hanging behind it.
void Print(const DockletInstance* instance, const char* text) {
    ConsoleText console;
    CopyText(console.text, sizeof console.text, text);
    CallOnceUnlessStopped("standard output", PrintText, &console, sizeof console, instance->stopEvent,
                          CheckTimeoutMs(instance));
}

DWORD RemainingMs(DWORD start, DWORD timeoutMs) {
    DWORD spent = GetTickCount() - start;
    return spent >= timeoutMs ? 0 : timeoutMs - spent;
}

// Waits for the socket's next network events, which are then in events. The
// item's stop and the connection's interrupt end it as a stop; the step's
// wake as a time-out, with woken set.
WaitOutcome WaitForNetwork(Connection* connection, DWORD start, DWORD timeoutMs, WSANETWORKEVENTS* events) {
    HANDLE waits[4];
    DWORD count = 0;
    const HANDLE enders[] = {connection->instance->stopEvent, connection->interrupt};
    for (HANDLE ender : enders)
        if (ender)
            waits[count++] = ender;
    const DWORD enderCount = count;
    if (connection->stepWake)
        waits[count++] = connection->stepWake;
    waits[count++] = connection->event;
    const DWORD result = WaitForMultipleObjects(count, waits, FALSE, RemainingMs(start, timeoutMs));
    connection->woken = connection->stepWake && result == WAIT_OBJECT_0 + enderCount;
    if (result == WAIT_TIMEOUT || connection->woken)
        return kWaitTimedOut;
    if (result != WAIT_OBJECT_0 + count - 1)
        return kWaitStopped;
    if (WSAEnumNetworkEvents(connection->socket, connection->event, events) != 0)
        events->lNetworkEvents = FD_CLOSE;
    return kWaitSignalled;
}

// Records in reply why a wait bounded by boundMs ended without what it waited for.
void RecordWaitEnd(Reply* reply, WaitOutcome outcome, const char* step, DWORD boundMs) {
    if (outcome == kWaitStopped)
        reply->stopped = true;
    else if (outcome == kWaitTimedOut)
        SetReplyFailure(reply, "no answer within %lu s: %s", static_cast<unsigned long>(boundMs / 1000), step);
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
        RecordWaitEnd(reply, kWaitTimedOut, "name lookup", timeoutMs);
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
    free(connection->ahead);
    FreeTlsChannel(connection->tls);
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
        connection->instance = instance;
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

    tcp_keepalive keepalive = {1, kKeepaliveIdleMs, kKeepaliveIntervalMs};
    DWORD returned = 0;
    if (WSAIoctl(connection->socket, SIO_KEEPALIVE_VALS, &keepalive, sizeof keepalive, nullptr, 0, &returned,
                 nullptr, nullptr) != 0 &&
        instance->debug)
        WriteDebugLog(instance, "    TCP keepalive not set (Winsock error %d): a dead path is noticed later",
                      WSAGetLastError());

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
            RecordWaitEnd(reply, outcome, "connecting", timeoutMs);
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

void StartStep(Connection* connection, DWORD boundMs) {
    connection->stepStart = GetTickCount();
    connection->stepBoundMs = boundMs;
    connection->lastWait = kWaitSignalled;
}

// Waits within the step's bound; false, with the outcome kept, on time-out or stop.
bool WaitInStep(Connection* connection) {
    WSANETWORKEVENTS events;
    connection->lastWait = WaitForNetwork(connection, connection->stepStart, connection->stepBoundMs, &events);
    return connection->lastWait == kWaitSignalled;
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
        if (result == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK && WaitInStep(connection))
            continue;
        return false;
    }
    return true;
}

bool StopIsSet(const Connection* connection) {
    const HANDLE enders[] = {connection->instance->stopEvent, connection->interrupt};
    for (HANDLE ender : enders)
        if (ender && WaitForSingleObject(ender, 0) == WAIT_OBJECT_0)
            return true;
    return false;
}

// At least one byte as it comes from the socket, within the step's bound: the
// count, 0 when the server closed, -1 on failure (lastWait says whether a
// time-out or a stop ended it).
int ReceiveRaw(Connection* connection, char* buffer, size_t room) {
    for (;;) {
        // A server that never stops sending never lets a receive wait, where
        // the stop is seen otherwise: every receive looks at it first.
        if (StopIsSet(connection)) {
            connection->lastWait = kWaitStopped;
            return -1;
        }
        int received = recv(connection->socket, buffer, static_cast<int>(room), 0);
        if (received >= 0)
            return received;
        if (WSAGetLastError() != WSAEWOULDBLOCK || !WaitInStep(connection))
            return -1;
    }
}

bool SendRawFor(void* connection, const char* data, size_t length) {
    return SendRaw(static_cast<Connection*>(connection), data, length);
}

int ReceiveRawFor(void* connection, char* buffer, size_t room) {
    return ReceiveRaw(static_cast<Connection*>(connection), buffer, room);
}

// Sends the whole text. On failure the connection is closed and reply says why.
bool SendText(const DockletInstance* instance, Connection** connection, Reply* reply, const char* text) {
    if (!*connection)
        return false;
    StartStep(*connection, CheckTimeoutMs(instance));
    size_t length = strlen(text);
    bool sent = (*connection)->tls ? SendTls((*connection)->tls, text, length) : SendRaw(*connection, text, length);
    if (!sent) {
        RecordWaitEnd(reply, (*connection)->lastWait, reply->step, (*connection)->stepBoundMs);
        Print(instance, "Error: send()\n\n");
        DisconnectFromServer(connection);
    }
    return sent;
}

// Grows the reply so that a receive of up to kReceiveChunk bytes fits,
// doubling to keep a long reply's copies few; never past what the longest
// acceptable reply and one more receive need.
bool MakeRoom(Reply* reply, size_t longest) {
    size_t needed = reply->length + kReceiveChunk + 1;
    if (needed <= reply->capacity)
        return true;
    size_t grown = reply->capacity * 2 > needed ? reply->capacity * 2 : needed;
    const size_t largest = longest + kReceiveChunk + 1;
    return GrowReply(reply, grown < largest ? grown : largest);
}

void RecordTooLong(Reply* reply, size_t longest) {
    SetReplyFailure(reply, "reply past %u bytes: %s", static_cast<unsigned>(longest), reply->step);
}

// Appends to the reply the bytes the last reply left ahead; false, with the
// reason recorded, when memory runs out.
bool TakeBytesAhead(Connection* connection, Reply* reply) {
    if (!connection->ahead)
        return true;
    if (!GrowReply(reply, reply->length + connection->aheadLength + 1)) {
        SetReplyFailure(reply, "out of memory: %s", reply->step);
        return false;
    }
    memcpy(reply->text + reply->length, connection->ahead, connection->aheadLength);
    reply->length += connection->aheadLength;
    reply->text[reply->length] = '\0';
    free(connection->ahead);
    connection->ahead = nullptr;
    connection->aheadLength = 0;
    return true;
}

// Moves the reply's bytes from offset end on ahead of the next reply, so that
// what the server sent after a reply, in the same receive, is never lost;
// false, with the reason recorded, when memory runs out. None are ahead
// then: every read takes them first.
bool KeepBytesAhead(Connection* connection, Reply* reply, size_t end) {
    if (end >= reply->length)
        return true;
    const size_t length = reply->length - end;
    connection->ahead = static_cast<char*>(malloc(length));
    if (!connection->ahead) {
        SetReplyFailure(reply, "out of memory: %s", reply->step);
        return false;
    }
    memcpy(connection->ahead, reply->text + end, length);
    connection->aheadLength = length;
    reply->length = end;
    reply->text[end] = '\0';
    return true;
}

// Reads until the reply is whole; false, with the reason recorded, when it
// cannot be: closed or reset before, time-out, stop, too long, out of memory.
bool ReceiveInto(Connection* connection, Reply* reply, ReplyEnd end, DWORD boundMs) {
    StartStep(connection, boundMs);
    ReplyScan scan = StartReplyScan(end);
    const size_t longest = LongestReply(end);
    if (!TakeBytesAhead(connection, reply))
        return false;
    for (ReplyState state = ScanReply(&scan, reply->text, reply->length);;) {
        if (state == kReplyComplete)
            return KeepBytesAhead(connection, reply, scan.scanned);
        if (state == kReplyTooLong) {
            RecordTooLong(reply, longest);
            return false;
        }
        // Room runs out only short of the bound: the reply outgrew what can be held.
        if (!MakeRoom(reply, longest)) {
            RecordTooLong(reply, longest);
            return false;
        }
        size_t room = reply->capacity - 1 - reply->length;
        room = room < kLargestReceive ? room : kLargestReceive;
        char* into = reply->text + reply->length;
        int received = connection->tls ? ReceiveTls(connection->tls, into, room) : ReceiveRaw(connection, into, room);
        // Closed before the reply was whole: what came is a fragment (say "+OK 2"
        // of "+OK 25 ..."), and judging it could give a wrong count. A TLS
        // record that cannot be read ends the connection as surely.
        if (received <= 0) {
            RecordWaitEnd(reply, received == 0 ? kWaitSignalled : connection->lastWait, reply->step,
                          connection->stepBoundMs);
            return false;
        }
        reply->length += static_cast<size_t>(received);
        reply->text[reply->length] = '\0';
        state = ScanReply(&scan, reply->text, reply->length);
        if (state != kReplyNeedsMore)
            continue;
        // A server that writes a reply in pieces with Nagle's algorithm on
        // sends the rest only once this part is acknowledged, and in a
        // dialogue going back and forth the stack delays that ACK by some
        // 40 ms. After the last command our FIN, which nothing else would
        // follow anyway, carries the ACK at once.
        if (connection->lastCommand) {
            connection->lastCommand = false;
            shutdown(connection->socket, SD_SEND);
        }
    }
}

// Reads one whole reply within boundMs, or leaves it empty and the connection closed.
size_t ReceiveReplyWithin(Connection** connection, Reply* reply, ReplyEnd end, DWORD boundMs) {
    EmptyReply(reply);
    if (!*connection)
        return 0;
    if (!ReceiveInto(*connection, reply, end, boundMs)) {
        EmptyReply(reply);
        DisconnectFromServer(connection);
    }
    return reply->length;
}

size_t ReceiveReply(const DockletInstance* instance, Connection** connection, Reply* reply, ReplyEnd end) {
    return ReceiveReplyWithin(connection, reply, end, CheckTimeoutMs(instance));
}

// The step a command's reply answers, named by the command word alone (never
// its arguments, which may hold a password), after an IMAP tag of digits.
void NameStep(Reply* reply, const char* command) {
    size_t tag = strspn(command, "0123456789");
    const char* word = tag > 0 && command[tag] == ' ' ? command + tag + 1 : command;
    size_t length = strcspn(word, " \r\n");
    FormatText(reply->step, sizeof reply->step, "reply to %.*s", static_cast<int>(length < 16 ? length : 16), word);
}

// Records why a handshake did not complete.
void RecordHandshakeFailure(const Connection* connection, Reply* reply, TlsStart started,
                            SECURITY_STATUS status) {
    const unsigned long code = static_cast<unsigned long>(status);
    if (started == kTlsClosed)
        RecordWaitEnd(reply, kWaitSignalled, "TLS handshake", connection->stepBoundMs);
    else if (started == kTlsTransportFailed)
        RecordWaitEnd(reply, connection->lastWait, "TLS handshake", connection->stepBoundMs);
    else if (const char* meaning = SspiStatusMeaning(static_cast<uint32_t>(status)))
        SetReplyFailure(reply, "TLS handshake failed (%s, SSPI status 0x%08lX)", meaning, code);
    else
        SetReplyFailure(reply, "TLS handshake failed (SSPI status 0x%08lX)", code);
}

// Records a refused certificate's reason, with the certificate's fingerprint
// at its end, cutting the reason rather than the fingerprint: the user checks
// the certificate and may then pin it from this line.
void RefuseCertificate(Reply* reply, const char* fingerprint, const char* format, ...) TIDEWELL_PRINTF(3, 4);
void RefuseCertificate(Reply* reply, const char* fingerprint, const char* format, ...) {
    char reason[sizeof reply->failure];
    size_t room = sizeof reason - strlen(fingerprint);
    va_list arguments;
    va_start(arguments, format);
    FormatTextV(reason, room, format, arguments);
    va_end(arguments);
    SetReplyFailure(reply, "%s%s", reason, fingerprint);
}

// The certificate's fingerprint as a refusal shows it, in fingerprint[size];
// true when it is the account's pinned one.
bool FingerprintCertificate(PCCERT_CONTEXT certificate, const MailAccount* account, char* fingerprint, size_t size) {
    unsigned char digest[kSha256Size];
    unsigned long hashError = 0;
    if (!CertificateSha256(certificate, digest, &hashError)) {
        FormatText(fingerprint, size, " (no SHA-256: Windows error %lu)", hashError);
        return false;
    }
    char shown[kFingerprintShownSize];
    FormatCertificateFingerprint(digest, shown);
    FormatText(fingerprint, size, " (SHA-256 %s)", shown);
    return account->pin == kPinSet && memcmp(digest, account->pinnedDigest, kSha256Size) == 0;
}

// Judges the certificate of a channel just opened and writes the connection's
// TLS line; false, with the reason recorded, when the certificate is refused.
// A pinned certificate is accepted by its SHA-256, whatever its chain, names,
// dates and signatures, as long as its key is strong: the pin trusts its
// bytes, but its key is what the handshake proves. VerifyCertificate=0
// accepts no other.
bool AcceptCertificate(const DockletInstance* instance, TlsChannel* channel, Reply* reply,
                       const MailAccount* account) {
    PCCERT_CONTEXT certificate = TlsServerCertificate(channel);
    if (!certificate) {
        SetReplyFailure(reply, "TLS handshake failed (the server sent no certificate)");
        return false;
    }
    char subject[256];
    CertificateSubject(certificate, subject, sizeof subject);
    const bool pinned = account->pin == kPinSet;
    CertificateVerdict verdict = kCertificateAccepted;
    char why[400] = "";
    bool pinnedKeyStrong = true;
    if (pinned)
        pinnedKeyStrong = PinnedKeyStrong(certificate, why, sizeof why);
    else if (!account->acceptAnyCertificate)
        verdict = CheckServerCertificate(certificate, account->address, account->caFile, nullptr,
                                         kMaxIntermediateCas, why, sizeof why);
    // Hashed only where the fingerprint decides or is shown: a pin, or a refusal.
    char fingerprint[kFingerprintShownSize + 48] = "";
    bool matchesPin = false;
    if (pinned || verdict != kCertificateAccepted)
        matchesPin = FingerprintCertificate(certificate, account, fingerprint, sizeof fingerprint);
    CertFreeCertificateContext(certificate);

    if (pinned && !matchesPin) {
        RefuseCertificate(reply, fingerprint, "TLS certificate of %s is not the one CertificateFingerprint pins",
                          subject);
        return false;
    }
    if (!pinnedKeyStrong) {
        RefuseCertificate(reply, fingerprint, "TLS certificate not trusted although pinned: %s (%s)", subject, why);
        return false;
    }
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
            const char* how = pinned                          ? "accepted by its pin (CertificateFingerprint)"
                              : account->acceptAnyCertificate ? "not verified (VerifyCertificate=0)"
                                                              : "accepted";
            WriteDebugLog(instance, "    %s, %s, certificate of %s %s", protocol, cipher, subject, how);
        }
        return true;
    case kCertificateUntrusted:
        if (why[0] == '\0')
            RefuseCertificate(reply, fingerprint, "TLS certificate not trusted: %s", subject);
        else
            RefuseCertificate(reply, fingerprint, "TLS certificate not trusted: %s (%s)", subject, why);
        return false;
    case kCertificateExpired:
        RefuseCertificate(reply, fingerprint, "TLS certificate expired or not yet valid: %s", subject);
        return false;
    case kCertificateWrongName:
        RefuseCertificate(reply, fingerprint, "TLS certificate %s", why);
        return false;
    }
    return false;
}

// Runs the handshake on an open connection and judges the certificate; on
// failure the connection is closed and reply says why.
bool SecureConnection(const DockletInstance* instance, Connection** connection, Reply* reply,
                      const MailAccount* account) {
    CredHandle* credentials = ItemTlsCredentials(instance);
    bool secured = false;
    if (!credentials) {
        SetReplyFailure(reply, "TLS handshake failed (SChannel gives no credentials)");
    } else {
        StartStep(*connection, CheckTimeoutMs(instance));
        TlsTransport transport = {*connection, SendRawFor, ReceiveRawFor};
        SECURITY_STATUS status = SEC_E_OK;
        TlsStart started = StartTlsChannel(credentials, account->address, &transport, &(*connection)->tls, &status);
        if (started != kTlsStarted)
            RecordHandshakeFailure(*connection, reply, started, status);
        else
            secured = AcceptCertificate(instance, (*connection)->tls, reply, account);
    }
    if (!secured)
        DisconnectFromServer(connection);
    return secured;
}

}  // namespace

Connection* OpenServerConnection(const DockletInstance* instance, Reply* reply, const MailAccount* account) {
    if (account->security == kSecurityUnknown) {
        SetReplyFailure(reply, "unknown Security \"%s\"", account->securityText);
        return nullptr;
    }
    // A pin promises that only one certificate is trusted with the password:
    // without TLS there is no certificate, so no connection either.
    if (account->pin == kPinUnreadable) {
        SetReplyFailure(reply, "CertificateFingerprint \"%s\" is not a SHA-256 fingerprint (64 hex digits)",
                        account->fingerprintText);
        return nullptr;
    }
    if (account->pin == kPinSet && account->security == kSecurityNone) {
        SetReplyFailure(reply, "CertificateFingerprint needs Security=tls or Security=starttls");
        return nullptr;
    }
    if (account->port < 1 || account->port > 65535) {
        SetReplyFailure(reply, "Port \"%s\" is not a TCP port (1 to 65535)", account->portText);
        return nullptr;
    }
    if (instance->debug)
        WriteDebugLog(instance, "    Connect %s %d", account->address, account->port);
    CopyText(reply->step, sizeof reply->step, "greeting");
    Connection* connection = ConnectToServer(instance, reply, account->address, account->port);
    if (connection && account->security == kSecurityTls)
        SecureConnection(instance, &connection, reply, account);
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
    ExchangeCommandShown(instance, connection, reply, end, command, command);
}

void ExchangeCommandShown(const DockletInstance* instance, Connection** connection, Reply* reply,
                          ReplyEnd end, const char* text, const char* shown) {
    NameStep(reply, text);
    ContinueCommandShown(instance, connection, reply, end, text, shown);
}

void ExchangeLastCommand(const DockletInstance* instance, Connection** connection, Reply* reply, ReplyEnd end,
                         const char* text) {
    if (*connection)
        (*connection)->lastCommand = true;
    ExchangeCommandShown(instance, connection, reply, end, text, text);
}

void ContinueCommand(const DockletInstance* instance, Connection** connection, Reply* reply,
                     ReplyEnd end, const char* text) {
    ContinueCommandShown(instance, connection, reply, end, text, text);
}

void ContinueCommandShown(const DockletInstance* instance, Connection** connection, Reply* reply,
                          ReplyEnd end, const char* text, const char* shown) {
    if (instance->debug)
        WriteDebugLog(instance, "    %s", shown);
    SendText(instance, connection, reply, text);
    ReceiveReply(instance, connection, reply, end);
    if (instance->debug)
        WriteDebugLog(instance, "    %s", reply->text);
}

void ExchangeQuickCommand(const DockletInstance* instance, Connection** connection, Reply* reply, ReplyEnd end,
                          uint32_t boundMs, const char* text) {
    NameStep(reply, text);
    if (instance->debug)
        WriteDebugLog(instance, "    %s", text);
    SendText(instance, connection, reply, text);
    const uint32_t timeoutMs = CheckTimeoutMs(instance);
    ReceiveReplyWithin(connection, reply, end, boundMs < timeoutMs ? boundMs : timeoutMs);
    if (instance->debug)
        WriteDebugLog(instance, "    %s", reply->text);
}

void InterruptConnectionWith(Connection* connection, HANDLE interrupt) {
    if (connection)
        connection->interrupt = interrupt;
}

bool StartTlsOnConnection(const DockletInstance* instance, Connection** connection, Reply* reply,
                          const MailAccount* account) {
    if (!*connection)
        return false;
    // Bytes the server sent after its OK (with it, and so kept ahead of the
    // next reply, or later) came before the handshake: they are no part of it
    // nor any reply, and whoever put them there may not be the server.
    // Whatever is still on its way breaks the handshake instead. Only what
    // has already come is dropped, without waiting, and no more than a
    // server could have a reason to send: a peer that goes on sending never
    // lets the queue run dry, and would hold the check (and the item's
    // teardown, which no wait here would see) for as long as it liked.
    char discarded[512];
    size_t dropped = (*connection)->aheadLength;
    free((*connection)->ahead);
    (*connection)->ahead = nullptr;
    (*connection)->aheadLength = 0;
    int received;
    do {
        if (dropped > kMaxClearAfterOk) {
            SetReplyFailure(reply, "more than %u bytes in clear after the server's OK: %s",
                            static_cast<unsigned>(kMaxClearAfterOk), reply->step);
            DisconnectFromServer(connection);
            return false;
        }
        received = recv((*connection)->socket, discarded, sizeof discarded, 0);
        dropped += received > 0 ? static_cast<size_t>(received) : 0;
    } while (received > 0);
    return SecureConnection(instance, connection, reply, account);
}

Connection* OpenEndpointConnection(const DockletInstance* instance, Reply* reply, const char* host, int32_t port,
                                   bool tls, const char* caFile) {
    // The certificate rules of an account with no pin and verification on,
    // for this host and CA file.
    MailAccount* endpoint = static_cast<MailAccount*>(calloc(1, sizeof(MailAccount)));
    if (!endpoint) {
        SetReplyFailure(reply, "out of memory: connecting to %s", host);
        return nullptr;
    }
    CopyText(endpoint->address, sizeof endpoint->address, host);
    CopyText(endpoint->caFile, sizeof endpoint->caFile, caFile);
    CopyText(reply->step, sizeof reply->step, "connecting");
    Connection* connection = ConnectToServer(instance, reply, host, port);
    if (connection && tls)
        SecureConnection(instance, &connection, reply, endpoint);
    free(endpoint);
    return connection;
}

void ExchangeUnshown(const DockletInstance* instance, Connection** connection, Reply* reply, ReplyEnd end,
                     const char* text) {
    NameStep(reply, text);
    SendText(instance, connection, reply, text);
    ReceiveReply(instance, connection, reply, end);
}

ServerBytes AwaitServerBytes(Connection** connection, Reply* reply, uint32_t waitMs, HANDLE wake) {
    if (!*connection)
        return kConnectionEnded;
    CopyText(reply->step, sizeof reply->step, "idling");
    const size_t before = reply->length;
    if (!TakeBytesAhead(*connection, reply)) {
        DisconnectFromServer(connection);
        return kConnectionEnded;
    }
    if (reply->length > before)
        return kBytesCame;
    // What the caller keeps is a line not yet whole: past the bound it never will be.
    if (reply->length > kMaxReplyLength || !MakeRoom(reply, kMaxReplyLength)) {
        RecordTooLong(reply, kMaxReplyLength);
        DisconnectFromServer(connection);
        return kConnectionEnded;
    }
    StartStep(*connection, waitMs);
    (*connection)->stepWake = wake;
    const size_t room = reply->capacity - 1 - reply->length;
    char* into = reply->text + reply->length;
    const int received = (*connection)->tls ? ReceiveTls((*connection)->tls, into, room)
                                            : ReceiveRaw(*connection, into, room);
    (*connection)->stepWake = nullptr;
    if (received > 0) {
        reply->length += static_cast<size_t>(received);
        reply->text[reply->length] = '\0';
        return kBytesCame;
    }
    // A quiet server is what this wait expects: its end is no failure, and
    // the connection stays as it was.
    if (received < 0 && (*connection)->lastWait == kWaitTimedOut)
        return (*connection)->woken ? kWokenUp : kNothingInTime;
    RecordWaitEnd(reply, received == 0 ? kWaitSignalled : (*connection)->lastWait, reply->step,
                  (*connection)->stepBoundMs);
    DisconnectFromServer(connection);
    return kConnectionEnded;
}

bool PutBackServerBytes(Connection** connection, Reply* reply, size_t from) {
    if (!*connection)
        return false;
    if (KeepBytesAhead(*connection, reply, from))
        return true;
    DisconnectFromServer(connection);
    return false;
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
