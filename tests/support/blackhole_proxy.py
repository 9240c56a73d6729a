#!/usr/bin/env python3
"""A TCP proxy on 127.0.0.1 that can stop forwarding without closing either
side, as a router or a mobile network does when it forgets a connection
(no FIN, no RST), and forward again later, as when the path comes back.

  blackhole_proxy.py start DIR   starts it in the background, writes DIR/pid
                                 and DIR/port (the control port) and returns
  blackhole_proxy.py stop DIR    stops the one DIR/pid names
  blackhole_proxy.py serve       runs in the foreground, the control port on
                                 the first line of standard output

Control: one command per line on a TCP connection to the control port, one
answer line each:

  forward TARGET       -> "port P": a new listener on 127.0.0.1:P whose
                          connections go to 127.0.0.1:TARGET
  hole P [existing]    -> "held N": the connections of P stop forwarding in
                          both directions; both ends stay open and their
                          kernels go on acknowledging, so TCP keepalive sees
                          nothing wrong. Without "existing", connections made
                          meanwhile are held too (the path is down); with it
                          they flow (only the old connections were forgotten)
  resume P             -> "resumed N": everything held flows on, in order,
                          closes included, and new connections flow
  connections P        -> "connections OPEN TOTAL"
  anything else        -> "error ..."

Bytes that arrive while a connection is held stay in this process and its
socket buffers and are delivered on resume, as retransmission delivers them
once a path is back. A connection made while held is connected to the target
at once, so the target's greeting is waiting too.
"""
import asyncio
import os
import signal
import sys
import time

CHUNK = 65536


class Link:
    """One client connection and its connection to the target."""

    def __init__(self, flowing):
        self.flowing = asyncio.Event()
        if flowing:
            self.flowing.set()
        self.writers = []


class Route:
    """One listening port and its connections."""

    def __init__(self, target):
        self.target = target
        self.holds_new = False
        self.links = set()
        self.total = 0
        self.server = None


async def pump(link, reader, writer):
    """Copies one direction, waiting at each step while the link is held."""
    try:
        while True:
            data = await reader.read(CHUNK)
            await link.flowing.wait()
            if not data:
                if writer.can_write_eof():
                    writer.write_eof()
                break
            writer.write(data)
            await writer.drain()
    except (ConnectionError, OSError):
        pass


async def carry(route, client_reader, client_writer):
    link = Link(not route.holds_new)
    route.links.add(link)
    route.total += 1
    try:
        target_reader, target_writer = await asyncio.open_connection("127.0.0.1", route.target)
    except OSError:
        client_writer.close()
        route.links.discard(link)
        return
    link.writers = [client_writer, target_writer]
    await asyncio.gather(pump(link, client_reader, target_writer), pump(link, target_reader, client_writer))
    for writer in link.writers:
        writer.close()
    route.links.discard(link)


class Proxy:
    def __init__(self):
        self.routes = {}

    async def forward(self, target):
        route = Route(target)
        route.server = await asyncio.start_server(lambda r, w: carry(route, r, w), "127.0.0.1", 0)
        port = route.server.sockets[0].getsockname()[1]
        self.routes[port] = route
        return f"port {port}"

    def hole(self, route, scope):
        route.holds_new = scope != "existing"
        for link in route.links:
            link.flowing.clear()
        return f"held {len(route.links)}"

    def resume(self, route):
        route.holds_new = False
        for link in route.links:
            link.flowing.set()
        return f"resumed {len(route.links)}"

    async def answer(self, line):
        words = line.split()
        try:
            if len(words) == 2 and words[0] == "forward":
                return await self.forward(int(words[1]))
            route = self.routes.get(int(words[1])) if len(words) >= 2 else None
        except ValueError:
            route = None
        if route is None:
            return f"error not understood or no such port: {line.strip()!r}"
        if words[0] == "hole" and len(words) in (2, 3) and words[2:] in ([], ["existing"]):
            return self.hole(route, words[2] if len(words) == 3 else "all")
        if words[0] == "resume" and len(words) == 2:
            return self.resume(route)
        if words[0] == "connections" and len(words) == 2:
            return f"connections {len(route.links)} {route.total}"
        return f"error not understood: {line.strip()!r}"

    async def control(self, reader, writer):
        try:
            while line := (await reader.readline()).decode("ascii", "replace"):
                writer.write((await self.answer(line) + "\r\n").encode())
                await writer.drain()
        except (ConnectionError, OSError):
            pass
        writer.close()


async def run(ready):
    proxy = Proxy()
    server = await asyncio.start_server(proxy.control, "127.0.0.1", 0)
    ready(server.sockets[0].getsockname()[1])
    await asyncio.Event().wait()


def serve():
    def ready(port):
        print(port, flush=True)

    asyncio.run(run(ready))


def start(folder):
    folder = os.path.abspath(folder)
    os.makedirs(folder, exist_ok=True)
    stop(folder)
    port_path = os.path.join(folder, "port")
    if os.path.exists(port_path):
        os.remove(port_path)
    if os.fork() > 0:
        # The parent returns once the proxy listens, as ctest's fixture wants.
        for _ in range(100):
            if os.path.exists(port_path):
                return
            time.sleep(0.05)
        sys.exit("blackhole_proxy: the proxy did not start")
    os.setsid()
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)
    with open(os.path.join(folder, "pid"), "w") as f:
        f.write(str(os.getpid()))

    def ready(port):
        with open(port_path + ".new", "w") as f:
            f.write(f"{port}\n")
        os.rename(port_path + ".new", port_path)

    asyncio.run(run(ready))


def stop(folder):
    path = os.path.join(os.path.abspath(folder), "pid")
    try:
        with open(path) as f:
            pid = int(f.read())
        # Only the proxy this folder started: a pid of a past run may be another process's now.
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            if b"blackhole_proxy.py" in f.read():
                os.kill(pid, signal.SIGTERM)
    except (OSError, ValueError):
        pass
    if os.path.exists(path):
        os.remove(path)


if __name__ == "__main__":
    if len(sys.argv) == 2 and sys.argv[1] == "serve":
        serve()
    elif len(sys.argv) == 3 and sys.argv[1] in ("start", "stop"):
        (start if sys.argv[1] == "start" else stop)(sys.argv[2])
    else:
        sys.exit("usage: blackhole_proxy.py start DIR | stop DIR | serve")
