#!/usr/bin/env python3
"""A mail server that writes each reply in two pieces, a short first piece and
then the rest, with Nagle's algorithm on (TCP_NODELAY off), as many real
servers do: the second piece leaves only once the client has acknowledged the
first, so a client that delays its ACK waits for its delayed-ACK timer.

IMAP and POP3, in clear and over TLS from the first byte, all on 127.0.0.1.
Enough of each dialogue for the docklet, curl and the floor client: any user
whose password is LOGIN-secret holds 5 messages, 3 of them unseen.

Prints "IMAP IMAPS POP3 POP3S" ports on one line, then serves until killed.
With --trace FILE it appends one line per reply whose second piece the
kernel held back: "held MS STEP", where STEP is the greeting or the command
word, MS how long the piece waited to be sent."""
import argparse
import fcntl
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
        return f"* CAPABILITY IMAP4rev1 LITERAL+\r\n{tag} OK Capability completed.\r\n", False
    if command == "NOOP":
        return f"{tag} OK NOOP completed.\r\n", False
    if command == "LOGOUT":
        return f"* BYE Logging out\r\n{tag} OK Logout completed.\r\n", True
    if command == "LOGIN" and len(words) == 4:
        if words[3] != password_of(words[2]):
            return f"{tag} NO [AUTHENTICATIONFAILED] Authentication failed.\r\n", False
        state["user"] = words[2]
        return f"{tag} OK [CAPABILITY IMAP4rev1 LITERAL+] Logged in\r\n", False
    if command in ("EXAMINE", "SELECT", "SEARCH") and not state.get("user"):
        return f"{tag} NO Log in first.\r\n", False
    if command in ("EXAMINE", "SELECT") and len(words) == 3 and words[2].upper() == "INBOX":
        how = "[READ-ONLY] Examine" if command == "EXAMINE" else "[READ-WRITE] Select"
        return ("* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)\r\n"
                f"* {MESSAGES} EXISTS\r\n* 0 RECENT\r\n* OK [UIDVALIDITY 1700000000] UIDs valid\r\n"
                f"{tag} OK {how} completed.\r\n"), False
    if command == "SEARCH" and [w.upper() for w in words[2:]] == ["UNSEEN"]:
        found = " ".join(str(n) for n in UNSEEN)
        return f"* SEARCH {found}\r\n{tag} OK Search completed.\r\n", False
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


GREETINGS = {"imap": "* OK [CAPABILITY IMAP4rev1 LITERAL+] Two-piece server ready.\r\n",
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

    def send(self, connection, text, step):
        reply = text.encode()
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
        state, pending = {}, b""
        while True:
            while b"\r\n" not in pending:
                data = connection.recv(4096)
                if not data or len(pending) > 65536:
                    return
                pending += data
            line, pending = pending.split(b"\r\n", 1)
            text = line.decode("utf-8")
            reply, last = REPLIES[protocol](state, text)
            words = text.split(" ")
            step = (words[1] if protocol == "imap" and len(words) > 1 else words[0]).upper()
            self.send(connection, reply, step)
            if last:
                return


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, protocol, tls, trace):
        super().__init__(("127.0.0.1", 0), Handler)
        self.protocol = protocol
        self.tls = tls
        self.trace = trace


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
    servers = [Server(p, t, trace) for p, t in (("imap", None), ("imap", tls), ("pop3", None), ("pop3", tls))]
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
