#!/usr/bin/env python3
"""Mail servers that talk on while an item is removed, on 127.0.0.1:

- IMAP offers IDLE; once a connection idles it sends "* OK still here"
  lines without pause, as fast as the client takes them, until the client
  goes. Before that: any LOGIN is accepted, the folder is empty of news and
  SEARCH finds messages 1 and 2.
- POP3 accepts any USER and PASS and answers UIDL with a listing of 350,000
  unique-ids (some 12 MB), written as fast as the client takes it.

Prints "IMAP POP3" ports on one line, then serves until killed. With --trace
FILE it appends a line when each POP3 connection ends: "pop3 SENT TOTAL
QUIT", the bytes of the listing written by then, the listing's size, and 1
when the client said QUIT."""
import argparse
import socket
import socketserver
import sys
import threading

LISTING_IDS = 350_000
STILL_HERE = b"* OK still here\r\n"
FLOOD_BLOCK = STILL_HERE * 4096
LISTING_PIECE = 256 * 1024


def uidl_listing(count=LISTING_IDS):
    """The reply to UIDL: ids of 26 characters in an order unlike theirs."""
    lines = [b"+OK %d messages\r\n" % count]
    lines += [b"%d %08x.%017d\r\n" % (n + 1, (n * 2654435761) % 2**32, n) for n in range(count)]
    lines.append(b".\r\n")
    return b"".join(lines)


class Trace:
    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()

    def write(self, line):
        if not self.path:
            return
        with self.lock, open(self.path, "a") as trace:
            trace.write(line + "\n")


class Handler(socketserver.StreamRequestHandler):
    def send(self, data):
        self.connection.sendall(data)

    def commands(self):
        """The client's lines, without their ends, until it goes."""
        while True:
            line = self.rfile.readline(65536)
            if not line:
                return
            yield line.rstrip(b"\r\n").decode("latin-1")


class ImapHandler(Handler):
    def handle(self):
        try:
            self.send(b"* OK [CAPABILITY IMAP4rev1 IDLE] talking server ready\r\n")
            for line in self.commands():
                tag, _, rest = line.partition(" ")
                words = rest.upper().split()
                command = words[1] if words[:1] == ["UID"] and len(words) > 1 else (words or [""])[0]
                if command == "IDLE":
                    self.send(b"+ idling\r\n")
                    while True:
                        self.send(FLOOD_BLOCK)
                elif command == "CAPABILITY":
                    self.send(b"* CAPABILITY IMAP4rev1 IDLE\r\n%s OK\r\n" % tag.encode())
                elif command in ("EXAMINE", "SELECT"):
                    self.send(b"* 2 EXISTS\r\n* OK [UIDVALIDITY 1] UIDs valid\r\n"
                              b"* OK [UIDNEXT 3] Predicted next UID\r\n%s OK [READ-ONLY] done\r\n" % tag.encode())
                elif command == "SEARCH":
                    self.send(b"* SEARCH 1 2\r\n%s OK\r\n" % tag.encode())
                elif command == "LOGOUT":
                    self.send(b"* BYE\r\n%s OK\r\n" % tag.encode())
                    return
                elif command == "LOGIN":
                    self.send(b"%s OK\r\n" % tag.encode())
                else:
                    self.send(b"%s BAD unknown\r\n" % tag.encode())
        except OSError:
            pass


class PopHandler(Handler):
    def handle(self):
        listing = self.server.listing
        sent = 0
        quit_said = False
        try:
            self.send(b"+OK talking server ready\r\n")
            for line in self.commands():
                command = line.split(" ", 1)[0].upper()
                if command == "UIDL":
                    while sent < len(listing):
                        self.send(listing[sent:sent + LISTING_PIECE])
                        sent = min(len(listing), sent + LISTING_PIECE)
                elif command == "STAT":
                    self.send(b"+OK %d %d\r\n" % (self.server.listing_ids, self.server.listing_ids * 1000))
                elif command in ("USER", "PASS"):
                    self.send(b"+OK\r\n")
                elif command == "QUIT":
                    quit_said = True
                    self.send(b"+OK bye\r\n")
                    return
                else:
                    self.send(b"-ERR unknown command\r\n")
        except OSError:
            pass
        finally:
            self.server.trace.write(f"pop3 {sent} {len(listing)} {int(quit_said)}")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def start(trace_path=None, listing_ids=LISTING_IDS):
    """The IMAP and POP3 servers, serving on threads of their own."""
    imap = Server(("127.0.0.1", 0), ImapHandler)
    pop3 = Server(("127.0.0.1", 0), PopHandler)
    pop3.listing = uidl_listing(listing_ids)
    pop3.listing_ids = listing_ids
    pop3.trace = Trace(trace_path)
    for server in (imap, pop3):
        threading.Thread(target=server.serve_forever, daemon=True).start()
    return imap, pop3


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--trace", help="file the POP3 connections' ends are appended to")
    imap, pop3 = start(parser.parse_args().trace)
    print(imap.server_address[1], pop3.server_address[1], flush=True)
    threading.Event().wait()


if __name__ == "__main__":
    sys.exit(main())
