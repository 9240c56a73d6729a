#!/usr/bin/env python3
"""A mail server that went silent: accepts connections on 127.0.0.1 and never
answers them. Prints its port on the first line, then serves until killed."""
import socket
import sys


def main():
    if len(sys.argv) != 1:
        print("usage: silent_server.py   (prints the port it listens on)", file=sys.stderr)
        return 2
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    print(listener.getsockname()[1], flush=True)
    # Held, not closed: a closed connection would answer the client with an end.
    held = []
    while True:
        connection, _ = listener.accept()
        held.append(connection)


if __name__ == "__main__":
    sys.exit(main())
