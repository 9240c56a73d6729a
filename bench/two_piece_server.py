#!/usr/bin/env python3
"""A mail server that writes each reply in two pieces, a short first piece and
then the rest, with Nagle's algorithm on (TCP_NODELAY off), as many real
servers do: the second piece leaves only once the client has acknowledged the
first, so a client that delays its ACK waits for its delayed-ACK timer.

IMAP and POP3, in clear and over TLS from the first byte, all on 127.0.0.1.
Enough of each dialogue for the docklet, curl and the floor client: any user
whose password is LOGIN-secret holds 5 messages, 3 of them unseen. A user
whose login begins with "whole" gets every reply after LOGIN in one write.

IMAP offers IDLE. A line "deliver LOGIN" on the control port adds an unseen
message to that user's mailbox and has every connection of the user that
waits in IDLE announce it at once ("* N EXISTS"); the answer is "sent T ..."
with the time each announcement began to be written (ms of CLOCK_MONOTONIC_RAW,
the clock of Wine's performance counter), or "none" when no connection of the
user was idling (nothing is added then).

Prints "IMAP IMAPS POP3 POP3S CONTROL" ports on one line, then serves until
killed. With --trace FILE it appends one line per reply whose second piece
the kernel held back: "held MS STEP", where STEP is the greeting or the
command word, MS how long the piece waited to be sent."""
import argparse
import fcntl
import select
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time

MESSAGES = 5
UNSEEN = (1, 2, 3)
# Bytes queued on a socket and not yet sent (Linux: SIOCOUTQNSD).
SIOCOUTQNSD = 0x894B
HELD_POLL_S = 0.0005
HELD_LIMIT_S = 1.0
CAPABILITIES = "IMAP4rev1 LITERAL+ IDLE"
# How long the control port waits for an idling connection to write an announcement.
ANNOUNCE_WAIT_S = 5.0


def monotonic_ms():
    return time.clock_gettime(time.CLOCK_MONOTONIC_RAW) * 1000


class Mailboxes:
    """The unseen messages delivered to each user, and the connections of
    each user that wait in IDLE."""

    def __init__(self):
        self.lock = threading.Lock()
        self.delivered = {}
        self.idlers = {}

    def added(self, user):
        with self.lock:
            return self.delivered.get(user, 0)

    def idle(self, user, idler):
        with self.lock:
            self.idlers.setdefault(user, set()).add(idler)

    def done(self, user, idler):
        with self.lock:
            self.idlers.get(user, set()).discard(idler)

    def deliver(self, user):
        """The idlers asked to announce the new message; none: nothing delivered."""
        with self.lock:
            idlers = list(self.idlers.get(user, ()))
            if idlers:
                self.delivered[user] = self.delivered.get(user, 0) + 1
        for idler in idlers:
            idler.wake()
        return idlers


class Idler:
    """A connection waiting in IDLE, woken through a pipe of its own."""

    def __init__(self):
        self.read_end, self.write_end = socket.socketpair()
        self.sent = threading.Event()
        self.sent_ms = 0.0

    def wake(self):
        self.write_end.send(b"!")

    def close(self):
        self.read_end.close()
        self.write_end.close()


def first_piece(reply):
    """The short first piece: up to and with the first space of the reply."""
    space = reply.find(b" ")
    return reply[:space + 1] if 0 <= space < len(reply) - 1 else reply[:1]


def unsent_bytes(connection):
    try:
        return struct.unpack("i", fcntl.ioctl(connection.fileno(), SIOCOUTQNSD, b"\0\0\0\0"))[0]
    except OSError:
        return 0


def password_of(login):
    return login + "-secret"


def imap_words(line):
    """The words of an IMAP command line; a quoted string is one word."""
    words, at = [], 0
    while at < len(line):
        if line[at] == " ":
            at += 1
        elif line[at] == '"':
            word, at = "", at + 1
            while at < len(line) and line[at] != '"':
                if line[at] == "\\" and at + 1 < len(line):
                    at += 1
                word += line[at]
                at += 1
            words.append(word)
            at += 1
        else:
            end = line.find(" ", at)
            end = len(line) if end < 0 else end
            words.append(line[at:end])
            at = end
    return words


def imap_reply(state, line):
    """The reply to one command line, and whether the connection ends after it."""
    words = imap_words(line)
    tag = words[0] if words else "*"
    command = words[1].upper() if len(words) > 1 else ""
    if command == "CAPABILITY":
        return f"* CAPABILITY {CAPABILITIES}\r\n{tag} OK Capability completed.\r\n", False
    if command == "NOOP":
        return f"{tag} OK NOOP completed.\r\n", False
    if command == "LOGOUT":
        return f"* BYE Logging out\r\n{tag} OK Logout completed.\r\n", True
    if command == "LOGIN" and len(words) == 4:
        if words[3] != password_of(words[2]):
            return f"{tag} NO [AUTHENTICATIONFAILED] Authentication failed.\r\n", False
        state["user"] = words[2]
        return f"{tag} OK [CAPABILITY {CAPABILITIES}] Logged in\r\n", False
    if command in ("EXAMINE", "SELECT", "SEARCH", "IDLE") and not state.get("user"):
        return f"{tag} NO Log in first.\r\n", False
    added = state["mailboxes"].added(state.get("user"))
    if command in ("EXAMINE", "SELECT") and len(words) == 3 and words[2].upper() == "INBOX":
        how = "[READ-ONLY] Examine" if command == "EXAMINE" else "[READ-WRITE] Select"
        return ("* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)\r\n"
                f"* {MESSAGES + added} EXISTS\r\n* 0 RECENT\r\n* OK [UIDVALIDITY 1700000000] UIDs valid\r\n"
                f"{tag} OK {how} completed.\r\n"), False
    if command == "SEARCH" and [w.upper() for w in words[2:]] == ["UNSEEN"]:
        found = " ".join(str(n) for n in UNSEEN + tuple(range(MESSAGES + 1, MESSAGES + added + 1)))
        return f"* SEARCH {found}\r\n{tag} OK Search completed.\r\n", False
    if command == "IDLE" and len(words) == 2:
        state["idle_tag"] = tag
        return "+ idling\r\n", False
    return f"{tag} BAD Not understood here.\r\n", False


def pop3_reply(state, line):
    words = line.split(" ")
    command = words[0].upper()
    if command == "CAPA":
        return "+OK\r\nUSER\r\nUIDL\r\n.\r\n", False
    if command == "QUIT":
        return "+OK Logging out.\r\n", True
    if command == "USER" and len(words) == 2:
        state["login"] = words[1]
        return "+OK\r\n", False
    if command == "PASS" and len(words) == 2 and state.get("login"):
        if words[1] != password_of(state["login"]):
            return "-ERR [AUTH] Authentication failed.\r\n", False
        state["user"] = state["login"]
        return "+OK Logged in.\r\n", False
    if command == "STAT" and state.get("user"):
        return f"+OK {MESSAGES} {MESSAGES * 500}\r\n", False
    return "-ERR Not understood here.\r\n", False


GREETINGS = {"imap": f"* OK [CAPABILITY {CAPABILITIES}] Two-piece server ready.\r\n",
             "pop3": "+OK Two-piece server ready.\r\n"}
REPLIES = {"imap": imap_reply, "pop3": pop3_reply}


class Trace:
    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()

    def held(self, milliseconds, step):
        if not self.path:
            return
        with self.lock, open(self.path, "a") as trace:
            trace.write(f"held {milliseconds:.1f} {step}\n")


class Handler(socketserver.BaseRequestHandler):
    def setup(self):
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 0)
        self.request.settimeout(30)

    def send(self, connection, text, step, whole=False):
        reply = text.encode()
        if whole:
            connection.sendall(reply)
            return
        head = first_piece(reply)
        connection.sendall(head)
        connection.sendall(reply[len(head):])
        # The second piece waits for the ACK of the first while it is unsent.
        started = time.perf_counter()
        if unsent_bytes(connection) > 0:
            while unsent_bytes(connection) > 0 and time.perf_counter() - started < HELD_LIMIT_S:
                time.sleep(HELD_POLL_S)
            self.server.trace.held((time.perf_counter() - started) * 1000, step)

    def handle(self):
        connection = self.request
        try:
            if self.server.tls:
                connection = self.server.tls.wrap_socket(connection, server_side=True)
            self.serve(connection)
        except (OSError, ssl.SSLError, UnicodeDecodeError):
            pass
        finally:
            try:
                connection.close()
            except OSError:
                pass

    def serve(self, connection):
        protocol = self.server.protocol
        self.send(connection, GREETINGS[protocol], "greeting")
        state, self.pending = {"mailboxes": self.server.mailboxes}, b""
        while True:
            line = self.next_line(connection)
            if line is None:
                return
            text = line.decode("utf-8")
            reply, last = REPLIES[protocol](state, text)
            words = text.split(" ")
            step = (words[1] if protocol == "imap" and len(words) > 1 else words[0]).upper()
            whole = state.get("user", "").startswith("whole")
            # Known as idling before the go-ahead leaves: a delivery the
            # moment the client reads it is announced.
            idler = self.start_idling(state, whole) if state.pop("idle_tag", None) is not None else None
            self.send(connection, reply, step, whole)
            if last:
                return
            if idler and not self.idle(connection, idler, words[0], whole):
                return

    def next_line(self, connection, idler=None):
        """The next command line; None when the connection ended. An idler's
        wake-up meanwhile has the new message announced."""
        while b"\r\n" not in self.pending:
            # Bytes already decrypted wait in the TLS layer, unseen by select.
            if idler and not (self.server.tls and connection.pending()):
                ready, _, _ = select.select([connection, idler.read_end], [], [])
                if idler.read_end in ready:
                    idler.read_end.recv(64)
                    idler.sent_ms = monotonic_ms()
                    total = MESSAGES + self.server.mailboxes.added(self.user)
                    self.send(connection, f"* {total} EXISTS\r\n", "EXISTS", self.whole)
                    idler.sent.set()
                if connection not in ready:
                    continue
            data = connection.recv(4096)
            if not data or len(self.pending) > 65536:
                return None
            self.pending += data
        line, self.pending = self.pending.split(b"\r\n", 1)
        return line

    def start_idling(self, state, whole):
        self.user, self.whole = state["user"], whole
        idler = Idler()
        self.server.mailboxes.idle(self.user, idler)
        return idler

    def idle(self, connection, idler, tag, whole):
        """Waits in IDLE for DONE, announcing deliveries; false when the connection ended."""
        try:
            line = self.next_line(connection, idler)
        finally:
            self.server.mailboxes.done(self.user, idler)
            idler.close()
        if line is None:
            return False
        answer = "OK Idle completed." if line.upper() == b"DONE" else "BAD Expected DONE."
        self.send(connection, f"{tag} {answer}\r\n", "DONE", whole)
        return True


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, protocol, tls, trace, mailboxes):
        super().__init__(("127.0.0.1", 0), Handler)
        self.protocol = protocol
        self.tls = tls
        self.trace = trace
        self.mailboxes = mailboxes


class ControlHandler(socketserver.StreamRequestHandler):
    def handle(self):
        for line in self.rfile:
            words = line.decode("utf-8", "replace").split()
            if len(words) != 2 or words[0] != "deliver":
                self.wfile.write(b"bad\n")
                continue
            idlers = self.server.mailboxes.deliver(words[1])
            if not all(idler.sent.wait(ANNOUNCE_WAIT_S) for idler in idlers):
                self.wfile.write(b"late\n")
                continue
            sent = " ".join(f"{idler.sent_ms:.3f}" for idler in idlers)
            self.wfile.write(f"sent {sent}\n".encode() if idlers else b"none\n")


class ControlServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, mailboxes):
        super().__init__(("127.0.0.1", 0), ControlHandler)
        self.mailboxes = mailboxes


def arguments():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("certificate", help="the server's certificate chain (PEM), for IMAPS and POP3S")
    parser.add_argument("key", help="its private key (PEM)")
    parser.add_argument("--trace", default="", help="file to append a line to for each held second piece")
    return parser.parse_args()


def main():
    options = arguments()
    tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    try:
        tls.load_cert_chain(options.certificate, options.key)
    except (OSError, ssl.SSLError) as error:
        print(f"two_piece_server: the certificate cannot be used: {error}", file=sys.stderr)
        return 1
    trace = Trace(options.trace)
    mailboxes = Mailboxes()
    servers = [Server(p, t, trace, mailboxes)
               for p, t in (("imap", None), ("imap", tls), ("pop3", None), ("pop3", tls))]
    servers.append(ControlServer(mailboxes))
    for server in servers:
        threading.Thread(target=server.serve_forever, daemon=True).start()
    print(" ".join(str(s.server_address[1]) for s in servers), flush=True)
    try:
        threading.Event().wait()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
