"""The benchmark's one table."""
from figures import median, percentile

CURL_GOAL = 0.70
FLOOR_GOAL = 1.10
CREATE_GOAL_MS = 20
DESTROY_GOAL_MS = 5
FRAME_GOAL_MS = 75


def verdict(met):
    return "met" if met else "MISSED"


def cycle_rows(cycles):
    rows = [f"{'Check cycle, median ms':<26}{'docklet':>9}{'curl':>9}{'floor':>9}"
            f"  {'docklet/curl':<15}{'docklet/floor':<15}cycles",
            f"{'':<26}{'':>9}{'':>9}{'':>9}  {'(goal <= %.2f)' % CURL_GOAL:<15}"
            f"{'(goal <= %.2f)' % FLOOR_GOAL:<15}"]
    for figures in cycles:
        docklet, curl, floor = median(figures.docklet), median(figures.curl), median(figures.floor)
        noun = "account" if figures.accounts == 1 else "accounts"
        to_curl, to_floor = docklet / curl, docklet / floor
        note = f"  ({figures.overlaps} overlapped)" if figures.overlaps else ""
        rows.append(f"{f'{figures.protocol.upper()}, {figures.accounts} {noun}':<26}"
                    f"{docklet:>9.1f}{curl:>9.1f}{floor:>9.1f}"
                    f"  {f'{to_curl:.2f} {verdict(to_curl <= CURL_GOAL)}':<15}"
                    f"{f'{to_floor:.2f} {verdict(to_floor <= FLOOR_GOAL)}':<15}"
                    f"{len(figures.docklet)}{note}")
    return rows


def entry_rows(entries):
    def line(title, values, goal=None):
        warm = values[1:] or values
        text = f"{title:<34}{median(warm):>8.1f}{values[0]:>10.1f}{max(warm):>8.1f}"
        if goal is not None:
            text += f"   <= {goal} ms {verdict(median(warm) <= goal)}"
        return text

    creates = entries.creates
    return [f"{'Host thread, 10 silent accounts, ms':<34}{'median':>8}{'first':>10}{'max':>8}   goal (median)",
            line("OnCreate, total", [c.ms for c in creates], CREATE_GOAL_MS),
            line("  inside the host's image loading", [c.image_loading_ms for c in creates]),
            line("  the docklet's own share", [c.ms - c.image_loading_ms for c in creates]),
            line("OnDestroy, checks blocked", [d.ms for d in entries.destroys], DESTROY_GOAL_MS),
            f"(median and max over items 2-{len(creates)}; the first item is created in a fresh host)"]


def animation_rows(idle, one, ten):
    mib = 1024 * 1024

    def line(title, value, per_item, unit_format):
        cells = "".join(f"{unit_format.format(value(f)):>10}" for f in (idle, one, ten))
        return f"{title:<34}{cells}{unit_format.format(per_item):>10}"

    rows = [f"{'Animation, NbAccount=0':<34}{'no item':>10}{'1 item':>10}{'10 items':>10}{'per item':>10}",
            line("CPU s/min, host process", lambda f: f.host_cpu_per_minute,
                 (ten.host_cpu_per_minute - idle.host_cpu_per_minute) / 10, "{:.2f}"),
            line("CPU s/min, wineserver", lambda f: f.wineserver_cpu_per_minute,
                 (ten.wineserver_cpu_per_minute - idle.wineserver_cpu_per_minute) / 10, "{:.2f}"),
            line("resident memory, MiB", lambda f: f.resident_bytes / mib,
                 (ten.resident_bytes - one.resident_bytes) / 9 / mib, "{:.2f}"),
            line("pagefile (stats step), MiB", lambda f: f.pagefile_bytes / mib,
                 (ten.pagefile_bytes - one.pagefile_bytes) / 9 / mib, "{:.2f}"),
            "(per item: CPU is (10 items - no item) / 10, memory (10 items - 1 item) / 9)"]
    for title, figure in (("frame interval, median ms", lambda v: median(v)),
                          ("frame interval, 99th percentile ms", lambda v: percentile(v, 99))):
        cells = f"{'-':>10}{figure(one.frame_intervals):>10.1f}{figure(ten.frame_intervals):>10.1f}"
        rows.append(f"{title:<34}{cells}")
    pace = median(one.frame_intervals)
    rows[-2] += f"   goal {FRAME_GOAL_MS} ms {verdict(abs(pace - FRAME_GOAL_MS) <= 0.5)}"
    return rows


def table(header, cycles, entries, idle, one, ten):
    return "\n".join(header + [""] + cycle_rows(cycles) + [""] + entry_rows(entries) + [""] +
                     animation_rows(idle, one, ten))
