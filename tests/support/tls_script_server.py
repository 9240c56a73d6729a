#!/usr/bin/env python3
"""Scripted TLS mail servers on 127.0.0.1 for the Windows tests (ctest fixture
"tls_servers"): each scene listens on a port of its own and plays one fixed
dialogue, good or faulty, over TLS from the first byte or after STARTTLS/STLS.
Wine's SChannel may not serve as a server, so the servers run on the Linux side.

  tls_script_server.py start DIR   makes fresh certificates in DIR/certs, starts
                                   the servers in the background and writes
                                   DIR/ports ("scene port" lines) and DIR/pid
  tls_script_server.py stop DIR    stops them

What a client sends lands in DIR/<scene>.received, one line per line received,
and "-- end" when the connection ends; a test reads what its check added.
"""
import os
import signal
import socket
import ssl
import subprocess
import sys
import threading
import time

IMAP_GREETING = b"* OK [CAPABILITY IMAP4rev1] Ready.\r\n"
IMAP_REPLIES = {
    b"LOGIN": [b"1 OK Logged in\r\n"],
    b"EXAMINE": [b"* FLAGS (\\Seen)\r\n", b"* 5 EXISTS\r\n", b"* 0 RECENT\r\n",
                 b"2 OK [READ-ONLY] Examine completed.\r\n"],
    b"SEARCH": [b"* SEARCH 2 4 5\r\n", b"3 OK Search completed.\r\n"],
    b"LOGOUT": [b"* BYE Logging out\r\n", b"4 OK Logout completed.\r\n"],
}
POP_GREETING = b"+OK Ready.\r\n"
POP_REPLIES = {
    b"USER": [b"+OK\r\n"],
    b"PASS": [b"+OK Logged in.\r\n"],
    b"STAT": [b"+OK 7 4242\r\n"],
    b"QUIT": [b"+OK Logging out.\r\n"],
}
# Sent in the same packet as the OK to STARTTLS/STLS: were it read as replies,
# the counts would change or the check would go on in clear.
IMAP_INJECTED = b"0 OK Begin TLS negotiation now.\r\n1 OK Logged in\r\n* SEARCH 1\r\n"
POP_INJECTED = b"+OK Begin TLS negotiation now.\r\n+OK\r\n+OK\r\n+OK 99 0\r\n"


class Recorder:
    """What one connection's client sent, written out whole when it ends."""

    lock = threading.Lock()

    def __init__(self, path):
        self.path = path
        self.lines = []

    def write(self, text):
        self.lines.append(text)

    def end(self):
        with Recorder.lock, open(self.path, "ab") as f:
            f.write(b"".join(self.lines) + b"-- end\n")


class Plain:
    """The connection before TLS."""

    def __init__(self, sock, recorder):
        self.sock = sock
        self.recorder = recorder
        self.pending = b""

    def send(self, data):
        self.sock.sendall(data)

    def read_line(self):
        while b"\n" not in self.pending:
            data = self.sock.recv(4096)
            if not data:
                return None
            self.pending += data
        line, self.pending = self.pending.split(b"\n", 1)
        self.recorder.write(line + b"\n")
        return line + b"\n"


class Tls:
    """TLS through memory buffers, so that the scene decides how the bytes go
    out: records flushed together, or in small pieces."""

    def __init__(self, sock, context, recorder, piece=0):
        self.sock = sock
        self.incoming = ssl.MemoryBIO()
        self.outgoing = ssl.MemoryBIO()
        self.tls = context.wrap_bio(self.incoming, self.outgoing, server_side=True)
        self.recorder = recorder
        self.piece = piece
        self.pending = b""

    def flush(self):
        data = self.outgoing.read()
        if not self.piece:
            self.sock.sendall(data)
            return
        for i in range(0, len(data), self.piece):
            self.sock.sendall(data[i:i + self.piece])
            time.sleep(0.001)

    def receive(self):
        data = self.sock.recv(16384)
        if not data:
            raise EOFError
        self.incoming.write(data)

    def handshake(self):
        """Leaves the server's last flight unsent: the greeting goes with it."""
        while True:
            try:
                self.tls.do_handshake()
                return
            except ssl.SSLWantReadError:
                self.flush()
                self.receive()

    def send(self, data):
        self.tls.write(data)

    def send_lines(self, lines):
        # One record per line, all in one packet.
        for line in lines:
            self.tls.write(line)
        self.flush()

    def read_line(self):
        while b"\n" not in self.pending:
            try:
                self.pending += self.tls.read(4096)
            except ssl.SSLWantReadError:
                self.flush()
                try:
                    self.receive()
                except EOFError:
                    return None
            except (ssl.SSLZeroReturnError, ssl.SSLError):
                return None
        line, self.pending = self.pending.split(b"\n", 1)
        self.recorder.write(line + b"\n")
        return line + b"\n"

    def close_notify(self):
        try:
            self.tls.unwrap()
        except ssl.SSLError:
            pass
        self.flush()


def play(channel, greeting, replies, greeted=False):
    """The mail dialogue, greeting first unless it was sent already."""
    if not greeted:
        channel.send_lines([greeting]) if isinstance(channel, Tls) else channel.send(greeting)
    while True:
        line = channel.read_line()
        if line is None:
            return
        words = line.split()
        word = words[1].upper() if greeting is IMAP_GREETING and len(words) > 1 else (words[0].upper() if words else b"")
        answer = replies.get(word, [b"-ERR\r\n"] if greeting is POP_GREETING else [words[0] + b" BAD\r\n"])
        if isinstance(channel, Tls):
            channel.send_lines(answer)
        else:
            channel.send(b"".join(answer))
        if word in (b"LOGOUT", b"QUIT"):
            if isinstance(channel, Tls):
                channel.close_notify()
            return


def tls_scene(certificate, greeting, replies, piece=0):
    def scene(sock, contexts, recorder):
        channel = Tls(sock, contexts[certificate], recorder, piece)
        channel.handshake()
        play(channel, greeting, replies)
    return scene


def starttls_scene(greeting, replies, command, answer, then_tls=True):
    def scene(sock, contexts, recorder):
        plain = Plain(sock, recorder)
        plain.send(greeting)
        line = plain.read_line()
        if line is None or command not in line.upper():
            return
        plain.send(answer)
        if not then_tls:
            # Refused: whatever the client sends after is recorded, never answered.
            while plain.read_line() is not None:
                pass
            return
        channel = Tls(sock, contexts["server"], recorder)
        channel.handshake()
        # No second greeting after STARTTLS (RFC 3501 6.2.1, RFC 2595 4).
        play(channel, greeting, replies, greeted=True)
    return scene


def handshake_fault(kind):
    """The server's first flight is real; then the server closes half-way
    through it, stalls, or sends what is no TLS at all."""
    def scene(sock, contexts, recorder):
        channel = Tls(sock, contexts["server"], recorder)
        channel.receive()
        try:
            channel.tls.do_handshake()
        except ssl.SSLWantReadError:
            pass
        flight = channel.outgoing.read()
        if kind == "garbage":
            sock.sendall(b"HTTP/1.0 400 Bad Request\r\n\r\n" * 20)
        else:
            sock.sendall(flight[:len(flight) // 2])
        if kind != "close":
            while sock.recv(4096):
                pass
    return scene


def close_notify_after_greeting(sock, contexts, recorder):
    channel = Tls(sock, contexts["server"], recorder)
    channel.handshake()
    channel.send_lines([IMAP_GREETING])
    channel.read_line()
    channel.close_notify()
    while sock.recv(4096):
        pass


def http_chunked(certificate):
    """A token endpoint: reads one POST, head and body, and answers with an
    interim 100 Continue and then a chunked body, each piece its own record
    sent in small packets; a bad certificate ends it at the handshake."""
    def scene(sock, contexts, recorder):
        channel = Tls(sock, contexts[certificate], recorder, piece=5)
        channel.handshake()
        length = 0
        while True:
            line = channel.read_line()
            if line is None:
                return
            if line.lower().startswith(b"content-length:"):
                length = int(line.split(b":", 1)[1])
            if line == b"\r\n":
                break
        while len(channel.pending) < length:
            try:
                channel.pending += channel.tls.read(4096)
            except ssl.SSLWantReadError:
                channel.receive()
        recorder.write(channel.pending[:length] + b"\n")
        body = b'{"access_token":"at-secret","token_type":"Bearer","expires_in":3599}'
        pieces = [b"HTTP/1.1 100 Continue\r\n\r\n", b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n",
                  b"Transfer-Encoding: chunked\r\n\r\n"]
        for at in range(0, len(body), 9):
            pieces.append(b"%x\r\n%s\r\n" % (len(body[at:at + 9]), body[at:at + 9]))
        pieces.append(b"0\r\n\r\n")
        for piece in pieces:
            channel.send_lines([piece])
        channel.close_notify()
    return scene


# The fault matrix over TLS: the dialogues of tests/win/fault_matrix_test.cpp,
# with a fault in place of reply `at`; every other connection is well-behaved.
MATRIX_REPLIES = {
    "imap": [b"* OK ready\r\n", b"1 OK Logged in\r\n", b"* 2 EXISTS\r\n2 OK [READ-ONLY] done\r\n",
             b"* SEARCH 1 2\r\n3 OK done\r\n", b"* BYE bye\r\n4 OK done\r\n"],
    "pop3": [b"+OK ready\r\n", b"+OK\r\n", b"+OK Logged in.\r\n", b"+OK 2 320\r\n", b"+OK bye\r\n"],
}
FAULTS = ["close", "reset", "silence", "bytes", "garbage", "nul", "huge", "endless"]


def garbage(length):
    seed, data = 12345, bytearray()
    for _ in range(length):
        seed = (seed * 1103515245 + 12345) & 0xFFFFFFFF
        data.append((seed >> 16) & 0xFF)
    return bytes(data)


def matrix_scene(protocol, at, fault):
    replies = MATRIX_REPLIES[protocol]
    served = [0]

    def silent(sock):
        while sock.recv(4096):
            pass

    def scene(sock, contexts, recorder):
        faulty = served[0] % 2 == 0
        served[0] += 1
        channel = Tls(sock, contexts["server"], recorder)
        channel.handshake()
        for i, reply in enumerate(replies):
            if i > 0 and channel.read_line() is None:
                return
            if not faulty or i < at:
                channel.send_lines([reply])
                continue
            if fault == "close":
                # The handshake's last flight goes first: the close is the reply's.
                channel.flush()
                return
            if fault == "reset":
                channel.send_lines([reply[:len(reply) // 2]])
                time.sleep(0.05)
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\1\0\0\0\0\0\0\0")
                return
            if fault == "silence":
                channel.flush()
                return silent(sock)
            if fault == "bytes":
                channel.piece = 1
                channel.send_lines([reply])
                channel.piece = 0
                continue
            if fault == "garbage":
                # Bytes that are no TLS record, in the middle of the stream.
                channel.flush()
                sock.sendall(garbage(3000) + b"\r\n")
            elif fault == "nul":
                channel.send_lines([b"\0\0* OK\0+OK\r\n"])
            elif fault == "huge":
                line = b"* 1 FETCH (FLAGS (\\Seen))\r\n" if protocol == "imap" else None
                channel.send(line * (3 * 1024 * 1024 // len(line)) + reply if line else
                             b"+OK " + b"7" * (3 * 1024 * 1024) + b"\r\n")
                channel.flush()
            elif fault == "endless":
                channel.send(b"x" * (2 * 1024 * 1024))
                channel.flush()
            return silent(sock)
        channel.close_notify()
    return scene


SCENES = {
    "imaps": tls_scene("server", IMAP_GREETING, IMAP_REPLIES),
    # The same as "imaps", for tests that run beside the one that uses it.
    "imaps-judged": tls_scene("server", IMAP_GREETING, IMAP_REPLIES),
    "imaps-names": tls_scene("server", IMAP_GREETING, IMAP_REPLIES),
    "imaps-next": tls_scene("server", IMAP_GREETING, IMAP_REPLIES),
    "imaps-pieces": tls_scene("server", IMAP_GREETING, IMAP_REPLIES, piece=7),
    "pop3s": tls_scene("server", POP_GREETING, POP_REPLIES),
    "imaps-other-name": tls_scene("other-name", IMAP_GREETING, IMAP_REPLIES),
    "imaps-expired": tls_scene("expired", IMAP_GREETING, IMAP_REPLIES),
    "imaps-untrusted": tls_scene("untrusted", IMAP_GREETING, IMAP_REPLIES),
    # Certificates that name no host the way a careful client reads them.
    "imaps-nul-name": tls_scene("nul-name", IMAP_GREETING, IMAP_REPLIES),
    "imaps-fullwidth-name": tls_scene("fullwidth-name", IMAP_GREETING, IMAP_REPLIES),
    "imaps-constrained": tls_scene("constrained", IMAP_GREETING, IMAP_REPLIES),
    "imaps-client-only": tls_scene("client-only", IMAP_GREETING, IMAP_REPLIES),
    "imaps-code-and-mail": tls_scene("code-and-mail", IMAP_GREETING, IMAP_REPLIES),
    "imaps-address-in-cn": tls_scene("address-in-cn", IMAP_GREETING, IMAP_REPLIES),
    "imaps-weak-key": tls_scene("weak-key", IMAP_GREETING, IMAP_REPLIES),
    "imaps-sha1": tls_scene("sha1", IMAP_GREETING, IMAP_REPLIES),
    "imap-starttls": starttls_scene(IMAP_GREETING, IMAP_REPLIES, b"STARTTLS", IMAP_INJECTED),
    "imap-starttls-bad": starttls_scene(IMAP_GREETING, IMAP_REPLIES, b"STARTTLS",
                                        b"0 BAD STARTTLS not offered\r\n", then_tls=False),
    "imap-starttls-no": starttls_scene(IMAP_GREETING, IMAP_REPLIES, b"STARTTLS",
                                       b"* OK still here\r\n0 NO [UNAVAILABLE] Try later\r\n", then_tls=False),
    "pop3-stls": starttls_scene(POP_GREETING, POP_REPLIES, b"STLS", POP_INJECTED),
    "pop3-stls-refused": starttls_scene(POP_GREETING, POP_REPLIES, b"STLS", b"-ERR Unknown command\r\n",
                                        then_tls=False),
    "handshake-close": handshake_fault("close"),
    "handshake-stall": handshake_fault("stall"),
    "handshake-garbage": handshake_fault("garbage"),
    "imaps-close-notify": close_notify_after_greeting,
    "https-token": http_chunked("server"),
    "https-token-untrusted": http_chunked("untrusted"),
}
for _protocol in MATRIX_REPLIES:
    for _at in range(len(MATRIX_REPLIES[_protocol])):
        for _fault in FAULTS:
            SCENES["matrix-%s-%d-%s" % (_protocol, _at, _fault)] = matrix_scene(_protocol, _at, _fault)


def contexts_from(certs):
    contexts = {}
    for name, chain in (("server", "server.pem"), ("other-name", "other-name.pem"),
                        ("expired", "expired.pem"), ("untrusted", "untrusted-chain.pem"),
                        ("nul-name", "nul-name.pem"), ("fullwidth-name", "fullwidth-name.pem"),
                        ("constrained", "constrained.pem"), ("client-only", "client-only.pem"),
                        ("code-and-mail", "code-and-mail.pem"), ("address-in-cn", "address-in-cn.pem"),
                        ("weak-key", "weak-key.pem"), ("sha1", "sha1.pem")):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.minimum_version = ssl.TLSVersion.TLSv1_2
        if name in ("weak-key", "sha1"):
            # OpenSSL would not serve them otherwise: the client is to judge them.
            context.set_ciphers("DEFAULT:@SECLEVEL=0")
        context.load_cert_chain(os.path.join(certs, chain), os.path.join(certs, name + ".key"))
        contexts[name] = context
    return contexts


def serve(name, listener, contexts, folder):
    scene = SCENES[name]

    def run(sock):
        recorder = Recorder(os.path.join(folder, name + ".received"))
        try:
            scene(sock, contexts, recorder)
        except (OSError, EOFError, ssl.SSLError):
            pass
        finally:
            sock.close()
            recorder.end()

    while True:
        sock, _ = listener.accept()
        threading.Thread(target=run, args=(sock,), daemon=True).start()


def start(folder):
    folder = os.path.abspath(folder)
    os.makedirs(folder, exist_ok=True)
    stop(folder)
    certs = os.path.join(folder, "certs")
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "certificates.sh")
    subprocess.run(["bash", script, certs], check=True)
    for entry in os.listdir(folder):
        if entry.endswith(".received") or entry == "ports":
            os.remove(os.path.join(folder, entry))
    contexts = contexts_from(certs)
    listeners = {}
    for name in SCENES:
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(16)
        listeners[name] = listener
    if os.fork() > 0:
        # The parent returns once the servers are up, as ctest's fixture wants.
        for _ in range(100):
            if os.path.exists(os.path.join(folder, "ports")):
                return
            time.sleep(0.05)
        sys.exit("tls_script_server: the servers did not start")
    os.setsid()
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)
    with open(os.path.join(folder, "pid"), "w") as f:
        f.write(str(os.getpid()))
    for name, listener in listeners.items():
        threading.Thread(target=serve, args=(name, listener, contexts, folder), daemon=True).start()
    with open(os.path.join(folder, "ports.new"), "w") as f:
        for name, listener in listeners.items():
            f.write("%s %d\n" % (name, listener.getsockname()[1]))
    os.rename(os.path.join(folder, "ports.new"), os.path.join(folder, "ports"))
    while True:
        time.sleep(3600)


def stop(folder):
    path = os.path.join(os.path.abspath(folder), "pid")
    try:
        with open(path) as f:
            pid = int(f.read())
        # Only the servers this folder started: a pid of a past run may be another process's now.
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            if b"tls_script_server.py" in f.read():
                os.kill(pid, signal.SIGTERM)
    except (OSError, ValueError):
        pass
    if os.path.exists(path):
        os.remove(path)


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop"):
        sys.exit("usage: tls_script_server.py start|stop DIR")
    (start if sys.argv[1] == "start" else stop)(sys.argv[2])
