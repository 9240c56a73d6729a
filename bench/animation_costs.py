"""Processor time and memory of animating items (no accounts, so nothing but
the animation runs), and the pace of their frames."""
import time
from dataclasses import dataclass

from docklet_folder import make_docklet_folder
from host_run import BenchError, HostRun, count
from journal import frame_intervals
from procfs import cpu_seconds, resident_bytes

SETTLE_MS = 2000


@dataclass
class AnimationFigures:
    items: int
    host_cpu_per_minute: float        # seconds of processor time per minute of wall time
    wineserver_cpu_per_minute: float
    resident_bytes: int
    pagefile_bytes: int
    frame_intervals: list             # ms, every item's together


def stats_value(details, key):
    for word in details.split():
        name, _, value = word.partition("=")
        if name == key:
            return int(value)
    raise BenchError(f"the host's stats hold no {key}: {details}")


def measure_animation(bench, items, seconds):
    """items may be 0: the host alone, with no docklet loaded."""
    name = f"animation-{items}"
    root, relative = make_docklet_folder(bench, name, [])
    steps = [["create", str(i), root, relative] for i in range(1, items + 1)]
    steps += [["wait", str(SETTLE_MS)], ["stats"], ["wait", str((seconds + 5) * 1000)]]
    steps += [["destroy", str(i)] for i in range(1, items + 1)]
    host = HostRun(bench, name, steps)
    host.wait_for(lambda events: count(events, "stats") > 0, "stats", 120)

    start = time.monotonic()
    host_start = cpu_seconds(host.pid)
    server_start = cpu_seconds(bench.wineserver_pid)
    resident = resident_bytes(host.pid)
    time.sleep(seconds)
    wall = time.monotonic() - start
    host_cpu = cpu_seconds(host.pid) - host_start
    server_cpu = cpu_seconds(bench.wineserver_pid) - server_start

    events = host.finish()
    stats = next(e for e in events if e.event == "stats")
    intervals = []
    for item in range(1, items + 1):
        intervals += frame_intervals(events, str(item), after_ms=stats.ms)
    return AnimationFigures(items, host_cpu * 60 / wall, server_cpu * 60 / wall, resident,
                            stats_value(stats.details, "pagefile"), intervals)
