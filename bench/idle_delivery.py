"""Delivery to label with Idle=1: from the moment the server begins to write
its announcement of a new message to the moment the stand-in host journals
the label with the new count. The server's send times and the journal's are
on one clock: the host journals its performance counter's reading at its
start, and under Wine that counter is CLOCK_MONOTONIC_RAW, which the server
reads too."""
import socket
import time
from dataclasses import dataclass

from docklet_folder import final_label, make_docklet_folder, tls_lines
from host_run import BenchError, HostRun
from journal import detail_value, quoted
from mailboxes import UNSEEN_PER_USER

IDLE_WAIT_S = 30
LABEL_WAIT_S = 10
# Mail comes long after IDLE began, not within the client's delayed ACK of the
# go-ahead: an announcement written then would wait for that ACK (Nagle, on
# in this server), which is the timing of the test and not of the client.
QUIET_BEFORE_S = 0.3


@dataclass
class DeliveryFigures:
    tls: bool
    two_piece: bool  # the server writes each reply in two pieces with Nagle on
    delays: list     # ms from the announcement to the label, one per delivery


def clock_ms():
    return time.clock_gettime(time.CLOCK_MONOTONIC_RAW) * 1000


def clock_origin(events):
    """The journal's zero on CLOCK_MONOTONIC_RAW, from the host-start line."""
    for event in events:
        if event.event == "host-start":
            value = detail_value(event.details, "clock-origin-ms")
            return float(value) if value is not None else None
    return None


def label_time(events, text, after_ms):
    """The journal time of the first label text set at or after after_ms."""
    return next((e.ms for e in events
                 if e.event == "DockletSetLabel" and e.details == quoted(text) and e.ms >= after_ms), None)


class Control:
    """The two-piece server's control port."""

    def __init__(self, port):
        self.connection = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.replies = self.connection.makefile("r")

    def deliver(self, login):
        """The time the announcement began to be written, or None when no
        connection of the login was idling."""
        self.connection.sendall(f"deliver {login}\n".encode())
        words = self.replies.readline().split()
        if words[:1] == ["none"]:
            return None
        if words[:1] != ["sent"] or len(words) != 2:
            raise BenchError(f"the two-piece server answered a delivery with {' '.join(words)!r}")
        return float(words[1])

    def close(self):
        self.replies.close()
        self.connection.close()


def measure_delivery(bench, rounds, tls, two_piece):
    """rounds deliveries to one account with Idle=1, each once the docklet
    waits in IDLE again."""
    name = f"idle-{'tls' if tls else 'plain'}-{'two-piece' if two_piece else 'whole'}"
    login = name if two_piece else "whole-" + name
    port = bench.two_piece_ports[("imap", tls)]
    root, relative = make_docklet_folder(bench, name, [("IMAP", port, login, login + "-secret")],
                                         account_lines=["Idle=1"] + (tls_lines(bench) if tls else []))
    last = final_label(UNSEEN_PER_USER + rounds)
    started = clock_ms()
    host = HostRun(bench, name, [["create", "1", root, relative], ["waitlabel", "1", last, "600000"],
                                 ["destroy", "1"]])
    host.wait_for(lambda events: clock_origin(events) is not None, "the host's start", 60)
    origin = clock_origin(host.events)
    if not started <= origin <= clock_ms():
        raise BenchError(f"{name}: the journal's clock is not CLOCK_MONOTONIC_RAW (origin {origin:.1f} ms, "
                         f"host started at {started:.1f} ms)")
    control = Control(bench.two_piece_control_port)
    delays = []
    try:
        for delivery in range(1, rounds + 1):
            time.sleep(QUIET_BEFORE_S)
            deadline = time.monotonic() + IDLE_WAIT_S
            while (sent := control.deliver(login)) is None:
                if time.monotonic() > deadline or host.process.poll() is not None:
                    raise BenchError(f"{name}: the docklet did not wait in IDLE (journal: {host.journal_path})")
                time.sleep(0.05)
            text = final_label(UNSEEN_PER_USER + delivery)
            host.wait_for(lambda events: label_time(events, text, sent - origin) is not None,
                          f"the label {text!r}", LABEL_WAIT_S)
            delays.append(label_time(host.events, text, sent - origin) + origin - sent)
    finally:
        control.close()
    host.finish()
    return DeliveryFigures(tls, two_piece, delays)
