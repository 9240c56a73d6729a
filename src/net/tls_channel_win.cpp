#include "net/tls_channel_win.h"

#include <cstdlib>
#include <cstring>

#include "net/tls_record.h"
#include "text/bounded_text.h"

struct TlsChannel {
    CredHandle* credentials;
    CtxtHandle context;
    bool hasContext;
    TlsTransport transport;
    char serverName[256];
    SecPkgContext_StreamSizes sizes;
    // Bytes received and not yet decrypted: raw[0..rawLength). While
    // decrypted text waits to be read it lies inside raw, at plain, and the
    // bytes after its record start at raw[extraStart].
    char* raw;
    size_t rawLength;
    char* plain;
    size_t plainLength;
    size_t extraStart;
    bool closed;  // close_notify came
    char* sendBuffer;  // header, one message, trailer
};

namespace {

// Room for the records of a handshake flight or one record of data (at most
// 16 KiB of text plus its overhead), with plenty to spare.
const size_t kRawCapacity = 64 * 1024;

const unsigned char kAlertRecord = 21;  // content type of TLS 1.2 alerts (RFC 5246 6.2.1)

const DWORD kRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                       ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                       ISC_REQ_MANUAL_CRED_VALIDATION;

// SChannel takes a non-const name.
SEC_CHAR* ServerName(TlsChannel* channel) { return channel->serverName[0] ? channel->serverName : nullptr; }

bool SendToken(TlsChannel* channel, SecBuffer* token) {
    if (!token->pvBuffer)
        return true;
    bool sent = token->cbBuffer == 0 ||
                channel->transport.sendAll(channel->transport.context, static_cast<const char*>(token->pvBuffer),
                                           token->cbBuffer);
    FreeContextBuffer(token->pvBuffer);
    token->pvBuffer = nullptr;
    return sent;
}

// Keeps the bytes SChannel left unread at the end of raw, at its start.
void KeepExtra(TlsChannel* channel, const SecBuffer* extra) {
    if (extra->BufferType == SECBUFFER_EXTRA && extra->cbBuffer > 0 && extra->cbBuffer <= channel->rawLength) {
        memmove(channel->raw, channel->raw + channel->rawLength - extra->cbBuffer, extra->cbBuffer);
        channel->rawLength = extra->cbBuffer;
    } else {
        channel->rawLength = 0;
    }
}

// Appends what the server sends next to raw.
TlsStart ReceiveRaw(TlsChannel* channel) {
    if (channel->rawLength == kRawCapacity)
        return kTlsRefused;
    int received = channel->transport.receiveSome(channel->transport.context, channel->raw + channel->rawLength,
                                                  kRawCapacity - channel->rawLength);
    if (received == 0)
        return kTlsClosed;
    if (received < 0)
        return kTlsTransportFailed;
    channel->rawLength += static_cast<size_t>(received);
    return kTlsStarted;
}

// The handshake after the first message: tokens in, tokens out, until
// SChannel says done. Also serves a renegotiation, whose first bytes are in raw.
TlsStart ContinueHandshake(TlsChannel* channel, bool receiveFirst, SECURITY_STATUS* status) {
    int incompleteCredentials = 0;
    for (;;) {
        if (receiveFirst) {
            TlsStart received = ReceiveRaw(channel);
            if (received != kTlsStarted) {
                *status = SEC_E_INCOMPLETE_MESSAGE;
                return received;
            }
        }
        if (LookAtTlsRecordHeader(reinterpret_cast<unsigned char*>(channel->raw), channel->rawLength) ==
            kRecordHeaderInvalid) {
            *status = SEC_E_ILLEGAL_MESSAGE;
            return kTlsRefused;
        }
        SecBuffer in[2] = {{static_cast<unsigned long>(channel->rawLength), SECBUFFER_TOKEN, channel->raw},
                           {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDesc = {SECBUFFER_VERSION, 2, in};
        SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, out};
        unsigned long attributes = 0;
        *status = InitializeSecurityContextA(channel->credentials, &channel->context, ServerName(channel), kRequest,
                                             0, 0, &inDesc, 0, nullptr, &outDesc, &attributes, nullptr);
        if (*status == SEC_E_INCOMPLETE_MESSAGE) {
            receiveFirst = true;
            continue;
        }
        // On a failure the token, when there is one, is the alert that tells the server why.
        bool sent = SendToken(channel, &out[0]);
        if (*status != SEC_E_OK && *status != SEC_I_CONTINUE_NEEDED && *status != SEC_I_INCOMPLETE_CREDENTIALS)
            return kTlsRefused;
        if (!sent)
            return kTlsTransportFailed;
        KeepExtra(channel, &in[1]);
        if (*status == SEC_E_OK)
            return kTlsStarted;
        if (*status == SEC_I_INCOMPLETE_CREDENTIALS) {
            // The server asked for a client certificate: go on without one, once.
            if (++incompleteCredentials > 1)
                return kTlsRefused;
            receiveFirst = false;
            continue;
        }
        receiveFirst = channel->rawLength == 0;
    }
}

// The decrypted text of the next record, or the channel's end.
int DecryptNext(TlsChannel* channel) {
    for (;;) {
        if (channel->closed)
            return 0;
        TlsRecordHeader header =
            LookAtTlsRecordHeader(reinterpret_cast<unsigned char*>(channel->raw), channel->rawLength);
        if (header == kRecordHeaderInvalid)
            return -1;
        if (header == kRecordHeaderValid) {
            SecBuffer buffers[4] = {{static_cast<unsigned long>(channel->rawLength), SECBUFFER_DATA, channel->raw},
                                    {0, SECBUFFER_EMPTY, nullptr},
                                    {0, SECBUFFER_EMPTY, nullptr},
                                    {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
            const unsigned char recordType = static_cast<unsigned char>(channel->raw[0]);
            SECURITY_STATUS status = DecryptMessage(&channel->context, &desc, 0, nullptr);
            if (status == SEC_E_OK || status == SEC_I_RENEGOTIATE || status == SEC_I_CONTEXT_EXPIRED) {
                const SecBuffer* data = nullptr;
                const SecBuffer* extra = nullptr;
                for (SecBuffer& buffer : buffers) {
                    if (buffer.BufferType == SECBUFFER_DATA)
                        data = &buffer;
                    else if (buffer.BufferType == SECBUFFER_EXTRA)
                        extra = &buffer;
                }
                size_t extraLength = extra ? extra->cbBuffer : 0;
                if (extraLength > channel->rawLength)
                    return -1;
                channel->extraStart = channel->rawLength - extraLength;
                if (status == SEC_I_CONTEXT_EXPIRED) {
                    // close_notify: the server said it is done.
                    channel->closed = true;
                    return 0;
                }
                if (status == SEC_I_RENEGOTIATE) {
                    // The server wants a new handshake (or, with TLS 1.3, sent a
                    // post-handshake message); its bytes are the extra ones.
                    memmove(channel->raw, channel->raw + channel->extraStart, extraLength);
                    channel->rawLength = extraLength;
                    SECURITY_STATUS handshake;
                    if (ContinueHandshake(channel, false, &handshake) != kTlsStarted)
                        return -1;
                    continue;
                }
                if (data && data->cbBuffer > 0) {
                    channel->plain = static_cast<char*>(data->pvBuffer);
                    channel->plainLength = data->cbBuffer;
                    return 1;
                }
                // Some implementations (Wine's) hand a close_notify up as an
                // alert record without text rather than as the context's end.
                if (recordType == kAlertRecord) {
                    channel->closed = true;
                    return 0;
                }
                // A record without text: go on with what follows it.
                memmove(channel->raw, channel->raw + channel->extraStart, extraLength);
                channel->rawLength = extraLength;
                continue;
            }
            if (status != SEC_E_INCOMPLETE_MESSAGE)
                return -1;
        }
        TlsStart received = ReceiveRaw(channel);
        if (received == kTlsClosed)
            return 0;
        if (received != kTlsStarted)
            return -1;
    }
}

}  // namespace

TlsStart StartTlsChannel(CredHandle* credentials, const char* serverName, const TlsTransport* transport,
                         TlsChannel** result, SECURITY_STATUS* status) {
    *result = nullptr;
    *status = SEC_E_INSUFFICIENT_MEMORY;
    TlsChannel* channel = static_cast<TlsChannel*>(calloc(1, sizeof(TlsChannel)));
    if (!channel)
        return kTlsRefused;
    channel->raw = static_cast<char*>(malloc(kRawCapacity));
    channel->credentials = credentials;
    channel->transport = *transport;
    CopyText(channel->serverName, sizeof channel->serverName, serverName);
    if (!channel->raw) {
        FreeTlsChannel(channel);
        return kTlsRefused;
    }

    SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
    SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, out};
    unsigned long attributes = 0;
    *status = InitializeSecurityContextA(credentials, nullptr, ServerName(channel), kRequest, 0, 0, nullptr, 0,
                                         &channel->context, &outDesc, &attributes, nullptr);
    TlsStart started = kTlsRefused;
    if (*status == SEC_I_CONTINUE_NEEDED) {
        channel->hasContext = true;
        started = SendToken(channel, &out[0]) ? ContinueHandshake(channel, true, status) : kTlsTransportFailed;
    } else {
        SendToken(channel, &out[0]);
    }
    if (started == kTlsStarted) {
        *status = QueryContextAttributesA(&channel->context, SECPKG_ATTR_STREAM_SIZES, &channel->sizes);
        if (*status == SEC_E_OK)
            channel->sendBuffer = static_cast<char*>(
                malloc(channel->sizes.cbHeader + channel->sizes.cbMaximumMessage + channel->sizes.cbTrailer));
        if (!channel->sendBuffer)
            started = kTlsRefused;
    }
    if (started != kTlsStarted) {
        FreeTlsChannel(channel);
        return started;
    }
    *result = channel;
    return kTlsStarted;
}

int ReceiveTls(TlsChannel* channel, char* buffer, size_t room) {
    if (channel->plainLength == 0) {
        int next = DecryptNext(channel);
        if (next <= 0)
            return next;
    }
    size_t length = channel->plainLength < room ? channel->plainLength : room;
    memcpy(buffer, channel->plain, length);
    channel->plain += length;
    channel->plainLength -= length;
    if (channel->plainLength == 0) {
        size_t extraLength = channel->rawLength - channel->extraStart;
        memmove(channel->raw, channel->raw + channel->extraStart, extraLength);
        channel->rawLength = extraLength;
    }
    return static_cast<int>(length);
}

bool SendTls(TlsChannel* channel, const char* data, size_t length) {
    const SecPkgContext_StreamSizes& sizes = channel->sizes;
    while (length > 0) {
        size_t part = length < sizes.cbMaximumMessage ? length : sizes.cbMaximumMessage;
        char* text = channel->sendBuffer + sizes.cbHeader;
        memcpy(text, data, part);
        SecBuffer buffers[4] = {{sizes.cbHeader, SECBUFFER_STREAM_HEADER, channel->sendBuffer},
                                {static_cast<unsigned long>(part), SECBUFFER_DATA, text},
                                {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, text + part},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
        if (EncryptMessage(&channel->context, 0, &desc, 0) != SEC_E_OK)
            return false;
        size_t record = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
        if (!channel->transport.sendAll(channel->transport.context, channel->sendBuffer, record))
            return false;
        data += part;
        length -= part;
    }
    return true;
}

PCCERT_CONTEXT TlsServerCertificate(TlsChannel* channel) {
    PCCERT_CONTEXT certificate = nullptr;
    if (QueryContextAttributesA(&channel->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK)
        return nullptr;
    return certificate;
}

bool TlsConnectionInfo(TlsChannel* channel, SecPkgContext_ConnectionInfo* info) {
    return QueryContextAttributesA(&channel->context, SECPKG_ATTR_CONNECTION_INFO, info) == SEC_E_OK;
}

void FreeTlsChannel(TlsChannel* channel) {
    if (!channel)
        return;
    if (channel->hasContext)
        DeleteSecurityContext(&channel->context);
    // Text is decrypted in place in raw and encrypted in place in sendBuffer:
    // what went either way (a token, a password) may still be there.
    if (channel->raw)
        SecureZeroMemory(channel->raw, kRawCapacity);
    if (channel->sendBuffer)
        SecureZeroMemory(channel->sendBuffer,
                         channel->sizes.cbHeader + channel->sizes.cbMaximumMessage + channel->sizes.cbTrailer);
    free(channel->raw);
    free(channel->sendBuffer);
    free(channel);
}
