#pragma once
#include <cstdint>

#include "docklet/docklet_instance.h"
#include "net/reply.h"
#include "text/bounded_text.h"

// The one way account checks talk to a mail server: a TCP connection, under
// TLS when the account asks for it, a greeting, then one command and one
// whole reply at a time; the dialogues see plain text either way. The dialogue is
// written to the debug log when the instance's debug flag is set; connection
// errors are printed to standard output. Every wait is bounded by the
// instance's time-out and ends at once when the instance's stop event is set.
// Runs on a check worker; each check has its own connection and reply.

// One open connection; a null pointer stands for none (never opened, or closed).
struct Connection;

// Which reply ends a command: 0 for a one-line reply (every greeting, POP3),
// else the IMAP tag whose status line closes the reply.
typedef char ReplyEnd;

// Connects to the account's Address (dotted IPv4 address or name) at its
// Port, runs the TLS handshake and judges the certificate when its Security
// is tls, and reads the greeting into reply, which is empty (and records why)
// when no connection could be opened. An unknown Security, a port outside
// 1 to 65535, a CertificateFingerprint that is none or one without TLS
// connects to nothing.
Connection* OpenServerConnection(const DockletInstance* instance, Reply* reply, const MailAccount* account);

// After the server's OK to STARTTLS (IMAP) or STLS (POP3): drops whatever the
// server sent after that OK, then runs the handshake and judges the
// certificate as OpenServerConnection does. False, with the connection
// closed and reply recording why, when the connection could not be secured.
bool StartTlsOnConnection(const DockletInstance* instance, Connection** connection, Reply* reply,
                          const MailAccount* account);

// Sends the formatted command and reads its whole reply into reply, which
// names its step after the command word. The reply ends where its kind says;
// what the server sent after that end is kept, and the next reply begins
// with it. A failed send, a reply that is cut short by the server closing,
// does not come in time or grows past its bound, and a stop close the
// connection, leave the reply empty and record why.
void ExchangeCommand(const DockletInstance* instance, Connection** connection, Reply* reply,
                     ReplyEnd end, const char* format, ...) TIDEWELL_PRINTF(5, 6);

// The same for the sign-off (LOGOUT, QUIT), sent as it stands: once part of
// its reply has come and the rest has not, the connection's sending side is
// shut, so that the rest does not wait for a delayed ACK.
void ExchangeLastCommand(const DockletInstance* instance, Connection** connection, Reply* reply, ReplyEnd end,
                         const char* text);

// The same for the rest of a command sent in parts (after an IMAP literal's
// continuation request): text goes as it stands, and the step stays the command's.
void ContinueCommand(const DockletInstance* instance, Connection** connection, Reply* reply,
                     ReplyEnd end, const char* text);

// The same for a command sent as it stands whose reply a server gives at once
// (IMAP DONE, IDLE): the reply is awaited at most boundMs, or the time-out
// when that is shorter, so a path that has gone silent is noticed soon.
void ExchangeQuickCommand(const DockletInstance* instance, Connection** connection, Reply* reply, ReplyEnd end,
                          uint32_t boundMs, const char* text);

// The same two with text sent as it stands and shown written to the debug
// log in its place: the lines that carry a password the log must not show.
void ExchangeCommandShown(const DockletInstance* instance, Connection** connection, Reply* reply,
                          ReplyEnd end, const char* text, const char* shown);
void ContinueCommandShown(const DockletInstance* instance, Connection** connection, Reply* reply,
                          ReplyEnd end, const char* text, const char* shown);

// Opens a connection to a web endpoint, which sends no greeting: host (name
// or dotted IPv4 address) at port, under TLS when tls is set, its certificate
// judged against host and caFile (empty: none) as a mail server's is, but
// never by a pin and never skipped. Null, with reply recording why, when no
// connection could be opened.
Connection* OpenEndpointConnection(const DockletInstance* instance, Reply* reply, const char* host, int32_t port,
                                   bool tls, const char* caFile);

// Sends text as it stands and reads its whole reply as ExchangeCommand does,
// writing neither to the debug log: both may carry secrets, and the caller
// logs what may be shown.
void ExchangeUnshown(const DockletInstance* instance, Connection** connection, Reply* reply, ReplyEnd end,
                     const char* text);

enum ServerBytes {
    kBytesCame,        // one byte or more has been added to the reply
    kNothingInTime,    // the wait ran out with nothing received; the connection stays open
    kWokenUp,          // wake was set before anything came; the connection stays open
    kConnectionEnded,  // closed, failed or stopped: the connection is closed, the reply says why
};

// Waits up to waitMs (longer than the time-out: a server in IMAP IDLE speaks
// only when something changed) for what the server sends of its own accord,
// and appends to the reply what came: the bytes the last reply left ahead, or
// else one receive's, which may end anywhere in a line. The reply, kept text
// and all, stays within the longest reply. Writes nothing to the debug log:
// the caller knows where lines end. Like every other wait it ends at once
// when the instance's stop event is set, even while the server keeps sending;
// it also ends when wake (an event, or null) is set.
ServerBytes AwaitServerBytes(Connection** connection, Reply* reply, uint32_t waitMs, HANDLE wake);

// From now on every wait of the connection also ends when interrupt (an
// event, or null for none) is set, as when the item goes away: the
// connection is closed without a word and the reply is marked stopped. So
// another thread can have a connection let go at once, without waiting for
// a server on a path that may be gone.
void InterruptConnectionWith(Connection* connection, HANDLE interrupt);

// Leaves the reply's bytes from offset from on (received, not yet judged)
// ahead of the next reply, which begins with them; the reply keeps the
// bytes before. False, with the connection closed and the reply saying why,
// when memory runs out.
bool PutBackServerBytes(Connection** connection, Reply* reply, size_t from);

// The normal end, after the sign-off command: logs "Disconnect" and closes.
void CloseServerConnection(const DockletInstance* instance, Connection** connection);

// The bound on each wait of a check, in milliseconds: TimeoutSecond, or a
// minute when it is 0 or less.
uint32_t CheckTimeoutMs(const DockletInstance* instance);

// Closes without a log line, as a check that gives up does. Safe on a
// connection already closed.
void DisconnectFromServer(Connection** connection);
