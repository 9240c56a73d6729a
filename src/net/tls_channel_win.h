#pragma once
#define SECURITY_WIN32
#include <windows.h>
#include <wincrypt.h>
#include <security.h>
#include <schannel.h>

#include <cstddef>

// A TLS client channel over SChannel on top of a byte stream that someone
// else owns (the connection's socket). It runs the handshake, then turns
// records into plain text and back, so the layer above reads and writes text
// as over a plain socket. Runs on one check worker; the credentials handle
// may be shared by channels on other workers.

// The byte stream under the channel. Both calls wait within the bounds of
// whoever owns the stream (time-out, stop).
struct TlsTransport {
    void* context;
    bool (*sendAll)(void* context, const char* data, size_t length);  // false on any failure
    // At least one byte into buffer[room]; 0 when the peer closed, -1 on failure.
    int (*receiveSome)(void* context, char* buffer, size_t room);
};

struct TlsChannel;

enum TlsStart {
    kTlsStarted,
    kTlsRefused,          // SChannel ended the handshake: see the status
    kTlsClosed,           // the server closed the connection during the handshake
    kTlsTransportFailed,  // time-out, stop or network failure, as the transport saw it
};

// Runs a client handshake with serverName sent as SNI. On kTlsStarted
// *channel is the open channel (free it with FreeTlsChannel); otherwise it is
// null and *status holds SChannel's last status. The stream must carry
// nothing from before the handshake.
TlsStart StartTlsChannel(CredHandle* credentials, const char* serverName, const TlsTransport* transport,
                         TlsChannel** channel, SECURITY_STATUS* status);

// Decrypted bytes into buffer[room], at least one: returns their count, 0
// once the server closed (close_notify or end of stream), -1 on failure.
int ReceiveTls(TlsChannel* channel, char* buffer, size_t room);

// Encrypts and sends all of data; false on failure.
bool SendTls(TlsChannel* channel, const char* data, size_t length);

// The server's certificate (free with CertFreeCertificateContext) or null.
PCCERT_CONTEXT TlsServerCertificate(TlsChannel* channel);

// The protocol version and cipher agreed; false when SChannel does not say.
bool TlsConnectionInfo(TlsChannel* channel, SecPkgContext_ConnectionInfo* info);

void FreeTlsChannel(TlsChannel* channel);
