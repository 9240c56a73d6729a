"""A path that goes silent under an account in IDLE, as when a home router
forgets a quiet connection: how long the docklet takes to notice (from the
moment the path went silent to the label that shows the account failed), and
how soon the mail delivered meanwhile shows once the path is back.

Each run is an item of its own, all in one host, with one account reaching
the private Dovecot through a route of its own of the black-hole proxy
(tests/support/blackhole_proxy.py). Every setting is the default but
DelaySecond (a day, so that no periodic check asks the server meanwhile),
Debug=1 and stringFailed. Each connection first answers a check-in, as one
that was quiet for a minute does; its route is black-holed right after, as
late as a path can die before the next check-in, 2 messages are delivered,
and the route is given back a different time after the failure shows: while
the first new connection waits for its greeting, and once it has given up."""
import os
import socket
import subprocess
import time
from dataclasses import dataclass

from docklet_folder import RELATIVE, final_label, make_docklet_folder
from host_run import BenchError, HostRun
from idle_delivery import clock_ms, clock_origin
from journal import quoted

UNSEEN = 3
DELIVERED = 2
# Seconds after the failure shows that each run's path comes back.
RESUME_AFTER_S = (2, 5, 10, 30, 65)
CHECK_IN = "    No word from the server for 60 s"
IDLING = "    + idling"
FAILED_LABEL = "1 failed"
DEADLINE_S = 600


class Proxy:
    """The black-hole proxy's control port."""

    def __init__(self, port):
        self.connection = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.replies = self.connection.makefile("r")

    def ask(self, command, expected):
        self.connection.sendall(f"{command}\n".encode())
        words = self.replies.readline().split()
        if words[:1] != [expected]:
            raise BenchError(f"the black-hole proxy answered {command!r} with {' '.join(words)!r}")
        return words[1:]

    def forward(self, target):
        return int(self.ask(f"forward {target}", "port")[0])

    def hole(self, port):
        self.ask(f"hole {port}", "held")

    def resume(self, port):
        self.ask(f"resume {port}", "resumed")

    def close(self):
        self.replies.close()
        self.connection.close()


@dataclass
class DeadPathRun:
    noticed_ms: float        # from the path going silent to the failed label
    resumed_after_s: float   # when the path came back, after the failed label
    back_to_label_ms: float  # from the path coming back to the label with the mail


@dataclass
class Route:
    item: str
    user: str
    port: int
    log: str
    resume_after_s: float
    phase: str = "idling"
    holed_ms: float = 0.0
    noticed_ms: float = 0.0
    resumed_ms: float = 0.0
    shown_ms: float = 0.0


def dovecot(bench, *arguments):
    subprocess.run([bench.dovecot_script, arguments[0], bench.dovecot_dir, *arguments[1:]], check=True,
                   stdout=subprocess.DEVNULL)


def checked_in(log_path):
    """True once the log holds a check-in and the IDLE begun after it."""
    try:
        with open(log_path, encoding="latin-1") as log:
            text = log.read()
    except FileNotFoundError:
        return False
    at = text.find(CHECK_IN)
    return at >= 0 and text.find(IDLING, at) >= 0


def label_after(events, item, text, after_ms):
    return next((e.ms for e in events if e.item == item and e.event == "DockletSetLabel"
                 and e.details == quoted(text) and e.ms >= after_ms), None)


def advance(bench, proxy, route, events, origin):
    """Moves one route a step on, when what it waits for has come."""
    now = clock_ms()
    if route.phase == "idling" and checked_in(route.log):
        proxy.hole(route.port)
        route.holed_ms = clock_ms()
        dovecot(bench, "deliver", route.user, str(DELIVERED))
        route.phase = "holed"
    elif route.phase == "holed":
        shown = label_after(events, route.item, FAILED_LABEL, route.holed_ms - origin)
        if shown is not None:
            route.noticed_ms = shown + origin
            route.phase = "noticed"
    elif route.phase == "noticed" and now >= route.noticed_ms + route.resume_after_s * 1000:
        proxy.resume(route.port)
        route.resumed_ms = clock_ms()
        route.phase = "resumed"
    elif route.phase == "resumed":
        shown = label_after(events, route.item, final_label(UNSEEN + DELIVERED), route.resumed_ms - origin)
        if shown is not None:
            route.shown_ms = shown + origin
            route.phase = "done"


def measure_dead_path(bench):
    proxy = Proxy(bench.blackhole_port)
    routes = []
    steps = []
    try:
        for number, resume_after_s in enumerate(RESUME_AFTER_S, 1):
            user = f"path{number}"
            dovecot(bench, "user", user, user + "-secret")
            dovecot(bench, "empty", user)
            dovecot(bench, "deliver", user, str(UNSEEN))
            port = proxy.forward(bench.imap_port)
            name = f"dead-path-{number}"
            root, relative = make_docklet_folder(bench, name, [("IMAP", port, user, user + "-secret")],
                                                 delay_s=86400, timeout_s=60, account_lines=["Idle=1"],
                                                 common_lines=["Debug=1", "stringFailed=%d failed"])
            log = os.path.join(bench.work, name, *RELATIVE.strip("\\").split("\\"), "Debug.log")
            if os.path.exists(log):
                os.remove(log)
            steps.append(["create", str(number), root, relative])
            routes.append(Route(str(number), user, port, log, resume_after_s))
        steps += [["waitlabel", r.item, final_label(UNSEEN + DELIVERED), str(DEADLINE_S * 1000)] for r in routes]
        steps += [["destroy", r.item] for r in routes]
        host = HostRun(bench, "dead-path", steps)
        host.wait_for(lambda events: clock_origin(events) is not None, "the host's start", 60)
        origin = clock_origin(host.events)
        deadline = time.monotonic() + DEADLINE_S
        while True:
            # The host ends once every label it waits for has come: its journal is read first.
            ended = host.process.poll() is not None
            events = host.poll_journal()
            for route in routes:
                advance(bench, proxy, route, events, origin)
            if all(r.phase == "done" for r in routes):
                break
            if ended or time.monotonic() > deadline:
                waiting = ", ".join(f"item {r.item} {r.phase}" for r in routes if r.phase != "done")
                raise BenchError(f"dead-path: not done ({waiting}; journal: {host.journal_path})")
            time.sleep(0.02)
        host.finish(timeout_s=120)
    finally:
        for route in routes:
            if route.phase in ("holed", "noticed"):
                proxy.resume(route.port)
        proxy.close()
    return [DeadPathRun(r.noticed_ms - r.holed_ms, r.resume_after_s, r.shown_ms - r.resumed_ms) for r in routes]


def measure_blackholed_teardown(bench, runs):
    """OnDestroy of items whose connection in IDLE is black-holed: each item
    its own route, black-holed once its count shows, removed 1.5 s later."""
    proxy = Proxy(bench.blackhole_port)
    name = "teardown-blackholed"
    dovecot(bench, "user", "holed", "holed-secret")
    dovecot(bench, "empty", "holed")
    dovecot(bench, "deliver", "holed", "1")
    steps = []
    ports = []
    try:
        for item in range(1, runs + 1):
            ports.append(proxy.forward(bench.imap_port))
            root, relative = make_docklet_folder(bench, f"{name}-{item}", [("IMAP", ports[-1], "holed",
                                                                             "holed-secret")],
                                                 delay_s=86400, timeout_s=60, account_lines=["Idle=1"])
            steps += [["create", str(item), root, relative], ["waitlabel", str(item), final_label(1), "30000"],
                      ["wait", "1500"], ["destroy", str(item)]]
        host = HostRun(bench, name, steps)
        for item, port in enumerate(ports, 1):
            host.wait_for(lambda events: label_after(events, str(item), final_label(1), 0) is not None,
                          f"item {item}'s count", 60)
            proxy.hole(port)
        events = host.finish()
    finally:
        proxy.close()
    return events
