"""The benchmark's floor client against scripted servers: it must say exactly
what the docklet says, and wait for each whole reply before going on."""
import os
import select
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest

FLOOR = os.environ.get("TIDEWELL_FLOOR", "")
CERTIFICATES_SCRIPT = os.environ.get("TIDEWELL_CERTIFICATES_SCRIPT", "")
PIECE_PAUSE_S = 0.05


class ScriptedServer(threading.Thread):
    """Serves each connection the same dialogue on 127.0.0.1: the greeting,
    then one reply for each command received. Replies come in pieces, and a
    command that arrives before the last piece was sent is noted as early; a
    client that ends its sending side meanwhile is noted as having ended."""

    def __init__(self, greeting, replies, tls=None):
        """tls: an ssl.SSLContext to serve TLS from the first byte."""
        super().__init__(daemon=True)
        self.tls = tls
        self.greeting = greeting
        self.replies = replies
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.port = self.listener.getsockname()[1]
        self.commands = []
        self.early = []
        self.ended = []
        self.start()

    def run(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            if self.tls:
                try:
                    connection = self.tls.wrap_socket(connection, server_side=True)
                except (OSError, ssl.SSLError):
                    connection.close()
                    continue
            with connection:
                self.serve(connection)

    def serve(self, connection):
        self.send_in_pieces(connection, self.greeting, None)
        received = b""
        for reply in self.replies:
            while b"\r\n" not in received:
                data = connection.recv(4096)
                if not data:
                    return
                received += data
            command, received = received.split(b"\r\n", 1)
            self.commands.append(command.decode())
            self.send_in_pieces(connection, reply, command.decode())

    def send_in_pieces(self, connection, pieces, command):
        for number, piece in enumerate(pieces):
            connection.sendall(piece.encode())
            if number + 1 < len(pieces):
                readable = self.tls and connection.pending()
                if not readable:
                    readable, _, _ = select.select([connection], [], [], PIECE_PAUSE_S)
                # A peek under any TLS: no bytes at all is the client's end.
                if readable and socket.socket.recv(connection, 1, socket.MSG_PEEK) == b"":
                    if command not in self.ended:
                        self.ended.append(command)
                elif readable:
                    self.early.append(command)

    def close(self):
        self.listener.close()


def run_floor(*arguments):
    return subprocess.run([FLOOR, *arguments], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, timeout=30)


IMAP_GREETING = ["* OK [CAPABILITY IMAP4rev1] ", "ready\r\n"]
IMAP_REPLIES = [
    # "1 " inside a line ends nothing and judges nothing: only the line that starts with the tag does.
    ["* CAPABILITY IMAP4rev1 I18NLEVEL=1 CONDSTORE\r\n", "1 OK [CAPABILITY I18NLEVEL=1 NO", "TIFY] Logged in\r\n"],
    ["* FLAGS (\\Seen)\r\n* 5 EXISTS\r\n", "* OK [UIDNEXT 6]\r\n2 OK [READ-ONLY] done\r", "\n"],
    ["* SEARCH 1 2 3\r\n", "3 OK Search completed\r\n"],
    ["* BYE Logging out\r\n", "4 OK Logout completed.\r\n"],
]


@unittest.skipUnless(FLOOR, "TIDEWELL_FLOOR names the floor client")
class Dialogues(unittest.TestCase):
    def test_imap_says_what_the_docklet_says_and_waits_for_whole_replies(self):
        server = ScriptedServer(IMAP_GREETING, IMAP_REPLIES)
        self.addCleanup(server.close)
        result = run_floor("imap", str(server.port), "2", "someone:secret")
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertEqual(2, len(result.stdout.split()))
        self.assertTrue(all(float(ms) >= 0 for ms in result.stdout.split()))
        self.assertEqual(["1 LOGIN someone secret", "2 EXAMINE INBOX", "3 SEARCH UNSEEN", "4 LOGOUT"] * 2,
                         server.commands)
        self.assertEqual([], server.early)
        # Once LOGOUT's reply has begun, as the docklet does.
        self.assertEqual(["4 LOGOUT"], server.ended)

    def test_pop3_says_what_the_docklet_says_and_waits_for_whole_replies(self):
        server = ScriptedServer(["+OK ", "ready\r\n"],
                                [["+OK\r\n"], ["+OK ", "Logged in.\r\n"], ["+OK 3 ", "834\r\n"], ["+OK ", "Bye\r\n"]])
        self.addCleanup(server.close)
        result = run_floor("pop3", str(server.port), "1", "someone:secret")
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertEqual(["USER someone", "PASS secret", "STAT", "QUIT"], server.commands)
        self.assertEqual([], server.early)
        self.assertEqual(["QUIT"], server.ended)

    def test_a_refusal_fails_the_run_and_keeps_the_password_out_of_the_message(self):
        server = ScriptedServer(IMAP_GREETING, [["* OK almost\r\n1 NO [AUTHENTICATIONFAILED] no\r\n"]])
        self.addCleanup(server.close)
        result = run_floor("imap", str(server.port), "1", "someone:secret")
        self.assertEqual(1, result.returncode)
        self.assertIn('"1 LOGIN" was answered: * OK almost', result.stderr)
        self.assertNotIn("secret", result.stderr)
        self.assertEqual("", result.stdout)

    def test_bad_arguments_get_a_reason_and_the_usage(self):
        for arguments, reason in ((["smtp", "25", "1", "a:b"], "imap, pop3, imaps or pop3s"),
                                  (["imaps", "ca.pem", "993", "1"], "too few"),
                                  (["imap", "70000", "1", "a:b"], "PORT"),
                                  (["imap", "143", "0", "a:b"], "CYCLES"),
                                  (["imap", "143", "1", "nopassword"], "LOGIN:PASSWORD"),
                                  (["imap", "143", "1"], "too few")):
            result = run_floor(*arguments)
            self.assertEqual(2, result.returncode, arguments)
            self.assertIn(reason, result.stderr)
            self.assertIn("usage:", result.stderr)


@unittest.skipUnless(FLOOR and CERTIFICATES_SCRIPT, "TIDEWELL_FLOOR and TIDEWELL_CERTIFICATES_SCRIPT name the programs")
class OverTls(unittest.TestCase):
    """The same dialogues with TLS from the first byte, verified as the docklet verifies."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        subprocess.run([CERTIFICATES_SCRIPT, cls.folder.name], check=True)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def file(self, name):
        return os.path.join(self.folder.name, name)

    def server(self, certificate, chain=None):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(self.file(chain or f"{certificate}.pem"), self.file(f"{certificate}.key"))
        server = ScriptedServer(IMAP_GREETING, IMAP_REPLIES, context)
        self.addCleanup(server.close)
        return server

    def test_a_verified_server_gets_the_whole_dialogue(self):
        server = self.server("server")
        result = run_floor("imaps", self.file("ca.pem"), str(server.port), "2", "someone:secret")
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertEqual(2, len(result.stdout.split()))
        self.assertEqual(["1 LOGIN someone secret", "2 EXAMINE INBOX", "3 SEARCH UNSEEN", "4 LOGOUT"] * 2,
                         server.commands)
        self.assertEqual([], server.early)
        self.assertEqual(["4 LOGOUT"], server.ended)

    def test_a_certificate_the_docklet_refuses_fails_the_run_before_any_command(self):
        for certificate, chain, reason in (("other-name", None, "IP address mismatch"),
                                           ("expired", None, "certificate has expired"),
                                           ("untrusted", "untrusted-chain.pem", "self-signed certificate in certificate chain")):
            with self.subTest(certificate):
                server = self.server(certificate, chain)
                result = run_floor("imaps", self.file("ca.pem"), str(server.port), "1", "someone:secret")
                self.assertEqual(1, result.returncode)
                self.assertIn(f"TLS certificate refused: {reason}", result.stderr)
                self.assertEqual([], server.commands)

    def test_a_ca_file_that_cannot_be_read_fails_before_connecting(self):
        result = run_floor("pop3s", self.file("missing.pem"), "1", "1", "someone:secret")
        self.assertEqual(1, result.returncode)
        self.assertIn("the CA file", result.stderr)


TWO_PIECE_SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench",
                                "two_piece_server.py")


@unittest.skipUnless(FLOOR and CERTIFICATES_SCRIPT, "TIDEWELL_FLOOR and TIDEWELL_CERTIFICATES_SCRIPT name the programs")
class AgainstTheTwoPieceServer(unittest.TestCase):
    """The benchmark's server that writes each reply in two pieces with Nagle
    on serves the floor's dialogues in clear and over TLS, and traces the
    replies whose second piece was held."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        folder = cls.folder.name
        subprocess.run([CERTIFICATES_SCRIPT, folder], check=True, stdout=subprocess.DEVNULL)
        cls.trace = os.path.join(folder, "trace.txt")
        cls.server = subprocess.Popen(
            [sys.executable, "-B", TWO_PIECE_SERVER, os.path.join(folder, "server.pem"),
             os.path.join(folder, "server.key"), "--trace", cls.trace], stdout=subprocess.PIPE, text=True)
        words = cls.server.stdout.readline().split()
        cls.ports = dict(zip(("imap", "imaps", "pop3", "pop3s", "control"), words))

    @classmethod
    def tearDownClass(cls):
        cls.server.kill()
        cls.server.wait()
        cls.server.stdout.close()
        cls.folder.cleanup()

    def traced(self):
        try:
            with open(self.trace) as trace:
                return [line.split() for line in trace]
        except FileNotFoundError:
            return []

    def test_each_dialogue_is_served_and_only_held_replies_are_traced(self):
        ca_file = os.path.join(self.folder.name, "ca.pem")
        before = len(self.traced())
        for mode, account in (("imap", "imap01:imap01-secret"), ("imaps", "imap02:imap02-secret"),
                              ("pop3", "pop01:pop01-secret"), ("pop3s", "pop02:pop02-secret")):
            with self.subTest(mode):
                arguments = [mode, ca_file] if mode.endswith("s") else [mode]
                result = run_floor(*arguments, self.ports[mode], "2", account)
                self.assertEqual(0, result.returncode, result.stderr)
                self.assertEqual(2, len(result.stdout.split()))
        steps = self.traced()[before:]
        self.assertTrue(steps, "no reply was held: is Nagle off?")
        for step in steps:
            self.assertEqual("held", step[0])
            self.assertGreaterEqual(float(step[1]), 0)
            self.assertIn(step[2], ("greeting", "LOGIN", "EXAMINE", "SEARCH", "LOGOUT", "USER", "PASS", "STAT", "QUIT",
                                    "IDLE", "EXISTS", "DONE"))

    def test_an_idling_connection_announces_a_delivery_at_once(self):
        context = ssl.create_default_context(cafile=os.path.join(self.folder.name, "ca.pem"))
        with socket.create_connection(("127.0.0.1", int(self.ports["control"])), timeout=10) as control:
            answers = control.makefile("r")
            for mode, login, new in (("imap", "idler", 6), ("imaps", "idler", 7),
                                     ("imap", "whole-idler", 6), ("imaps", "whole-idler", 7)):
                with self.subTest(mode=mode, login=login):
                    control.sendall(f"deliver {login}\n".encode())
                    self.assertEqual("none\n", answers.readline(), "delivered with nobody idling")
                    client = socket.create_connection(("127.0.0.1", int(self.ports[mode])), timeout=10)
                    if mode == "imaps":
                        client = context.wrap_socket(client, server_hostname="127.0.0.1")
                    with client:
                        reader = client.makefile("rb")
                        self.assertIn(b" IDLE", reader.readline())
                        client.sendall(f"1 LOGIN {login} {login}-secret\r\n2 IDLE\r\n".encode())
                        self.assertTrue(reader.readline().startswith(b"1 OK"))
                        self.assertEqual(b"+ idling\r\n", reader.readline())
                        control.sendall(f"deliver {login}\n".encode())
                        self.assertEqual(f"* {new} EXISTS\r\n".encode(), reader.readline())
                        self.assertEqual("sent", answers.readline().split()[0])
                        client.sendall(b"DONE\r\n3 SEARCH UNSEEN\r\n")
                        self.assertEqual(b"2 OK Idle completed.\r\n", reader.readline())
                        found = reader.readline().split()
                        self.assertEqual([b"*", b"SEARCH", b"1", b"2", b"3"] + [str(n).encode() for n in range(6, new + 1)],
                                         found)
                        reader.close()
            # Others' mailboxes keep their 3 unseen messages, as curl's figures expect.
            with socket.create_connection(("127.0.0.1", int(self.ports["imap"]))) as other:
                reader = other.makefile("rb")
                reader.readline()
                other.sendall(b"1 LOGIN imap01 imap01-secret\r\n2 SEARCH UNSEEN\r\n")
                reader.readline()
                self.assertEqual(b"* SEARCH 1 2 3\r\n", reader.readline())
                reader.close()
            for line in ("deliver\n", "deliver a b\n", "send idler\n"):
                control.sendall(line.encode())
                self.assertEqual("bad\n", answers.readline(), line)
            answers.close()

    def test_a_wrong_password_and_an_unknown_command_are_refused(self):
        for mode, account, answered in (("imap", "imap01:wrong", '"1 LOGIN" was answered: 1 NO'),
                                        ("pop3", "pop01:wrong", '"PASS" was answered: -ERR')):
            with self.subTest(mode):
                result = run_floor(mode, self.ports[mode], "1", account)
                self.assertEqual(1, result.returncode)
                self.assertIn(answered, result.stderr)
        with socket.create_connection(("127.0.0.1", int(self.ports["imap"]))) as client:
            client.sendall(b"a STORE 1 +FLAGS (\\Seen)\r\n")
            received = b""
            while b"a BAD" not in received or not received.endswith(b"\r\n"):
                data = client.recv(4096)
                self.assertTrue(data, received)
                received += data
        # The server traces the held reply once its second piece is out, which
        # may be after the client has it: wait, so that no later test sees it.
        deadline = time.monotonic() + 2
        while not any(step[2:] == ["STORE"] for step in self.traced()) and time.monotonic() < deadline:
            time.sleep(0.01)


if __name__ == "__main__":
    unittest.main()
