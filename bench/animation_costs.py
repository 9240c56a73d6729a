"""Processor time and memory of animating items (no accounts, so nothing but
the animation runs), and the pace of their frames."""
import time
from dataclasses import dataclass, field

from docklet_folder import final_label, make_docklet_folder
from host_run import BenchError, HostRun, count
from journal import detail_value, frame_intervals
from procfs import cpu_seconds, resident_bytes, thread_spending, thread_times

SETTLE_MS = 2000
# Items showing new mail, for the badge: each counts this many messages once.
BADGE_MESSAGES = 3


@dataclass
class AnimationFigures:
    items: int
    host_cpu_per_minute: float        # seconds of processor time per minute of wall time
    wineserver_cpu_per_minute: float
    resident_bytes: int
    pagefile_bytes: int
    frame_intervals: list             # ms, every item's together; empty for quiet frames
    quiet: bool = False               # the host kept the frames unread and unjournaled
    badge: bool = False               # the items show new mail with Badge=1
    direct: bool = False              # the host took each frame on the docklet's thread
    frames_per_minute: float = 0.0    # every item's together, from the host's own count
    main_thread_cpu_per_minute: float = 0.0
    other_threads_cpu_per_minute: list = field(default_factory=list)  # the busiest first
    main_thread_wakes_per_minute: float = 0.0
    other_threads_wakes_per_minute: float = 0.0
    wineserver_wakes_per_minute: float = 0.0


def stats_value(details, key):
    value = detail_value(details, key)
    if value is None:
        raise BenchError(f"the host's stats hold no {key}: {details}")
    return int(value)


def per_minute(value, wall):
    return value * 60 / wall


def measure_animation(bench, items, seconds, quiet=False, badge=False, direct=False):
    """items may be 0: the host alone, with no docklet loaded. quiet: the host
    neither reads nor journals the frames (--quiet-frames), so what is left
    is the docklet's own work and the hand-over of each frame to the host's
    thread. direct: the host takes each frame on the docklet's thread that
    hands it over (--direct), without the hand-over. badge: each item counts
    BADGE_MESSAGES messages at the two-piece server once, and shows them on
    its new-mail pictures (Badge=1)."""
    name = (f"animation-{items}" + ("-quiet" if quiet else "") + ("-direct" if direct else "") +
            ("-badge" if badge else ""))
    accounts = []
    if badge:
        login = "whole-badge"  # replies in one piece: the check is not the subject
        accounts = [("IMAP", bench.two_piece_ports[("imap", False)], login, login + "-secret")]
    root, relative = make_docklet_folder(bench, name, accounts, common_lines=["Badge=1"] if badge else ())
    steps = [["create", str(i), root, relative] for i in range(1, items + 1)]
    if badge:
        steps += [["waitlabel", str(i), final_label(BADGE_MESSAGES), "60000"] for i in range(1, items + 1)]
    steps += [["wait", str(SETTLE_MS)], ["stats"], ["wait", str((seconds + 5) * 1000)], ["stats"]]
    steps += [["destroy", str(i)] for i in range(1, items + 1)]
    host = HostRun(bench, name, steps, options=(["--quiet-frames"] if quiet else []) + (["--direct"] if direct else []))
    host.wait_for(lambda events: count(events, "stats") > 0, "stats", 120)
    if any(e.event == "waitlabel" and " timeout " in e.details for e in host.events):
        raise BenchError(f"{name}: an item did not count its messages (journal: {host.journal_path})")

    start = time.monotonic()
    host_start = cpu_seconds(host.pid)
    server_start = cpu_seconds(bench.wineserver_pid)
    host_threads = thread_times(host.pid)
    server_threads = thread_times(bench.wineserver_pid)
    resident = resident_bytes(host.pid)
    time.sleep(seconds)
    wall = time.monotonic() - start
    host_cpu = cpu_seconds(host.pid) - host_start
    server_cpu = cpu_seconds(bench.wineserver_pid) - server_start
    host_spent = thread_spending(host_threads, thread_times(host.pid))
    server_spent = thread_spending(server_threads, thread_times(bench.wineserver_pid))

    events = host.finish()
    stats = [e for e in events if e.event == "stats"]
    intervals = []
    for item in range(1, items + 1):
        intervals += frame_intervals(events, str(item), after_ms=stats[0].ms)
    frames = stats_value(stats[1].details, "frames") - stats_value(stats[0].details, "frames")
    main = host_spent.pop(host.pid, None)
    return AnimationFigures(
        items, per_minute(host_cpu, wall), per_minute(server_cpu, wall), resident,
        stats_value(stats[0].details, "pagefile"), intervals, quiet, badge, direct,
        frames * 60000 / (stats[1].ms - stats[0].ms),
        per_minute(main.cpu_seconds, wall) if main else 0.0,
        sorted((per_minute(t.cpu_seconds, wall) for t in host_spent.values()), reverse=True),
        per_minute(main.wakes, wall) if main else 0.0,
        per_minute(sum(t.wakes for t in host_spent.values()), wall),
        per_minute(sum(t.wakes for t in server_spent.values()), wall))
