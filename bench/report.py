"""The benchmark's one table."""
from figures import median, percentile

CURL_GOAL = 0.70
TLS_CURL_GOAL = 0.80
FLOOR_GOAL = 1.10
CREATE_GOAL_MS = 20
DESTROY_GOAL_MS = 5
FRAME_GOAL_MS = 75


def verdict(met):
    return "met" if met else "MISSED"


def paired_ratio(numerators, denominators):
    """The median of cycle-by-cycle ratios: each docklet cycle against the
    cycle of the other client that ran right after it, under the same load."""
    return median([n / d for n, d in zip(numerators, denominators)])


def cycle_rows(cycles):
    """cycles: (animated item, still item) figures of each account set."""
    rows = [f"{'Check cycle, median ms':<24}{'docklet':>8}{'curl':>8}{'floor':>8}"
            f"  {'docklet/curl':<14}{'docklet/floor':<14}{'still item':>10}{'still/floor':>12}  cycles",
            f"{'':<48}  {'(goal <= %.2f)' % CURL_GOAL:<14}{'(goal <= %.2f)' % FLOOR_GOAL:<14}"]
    for animated, still in cycles:
        noun = "account" if animated.accounts == 1 else "accounts"
        to_curl = paired_ratio(animated.docklet, animated.curl)
        to_floor = paired_ratio(animated.docklet, animated.floor)
        overlaps = animated.overlaps + still.overlaps
        note = f"  ({overlaps} overlapped)" if overlaps else ""
        rows.append(f"{f'{animated.protocol.upper()}, {animated.accounts} {noun}':<24}"
                    f"{median(animated.docklet):>8.1f}{median(animated.curl):>8.1f}{median(animated.floor):>8.1f}"
                    f"  {f'{to_curl:.2f} {verdict(to_curl <= CURL_GOAL)}':<14}"
                    f"{f'{to_floor:.2f} {verdict(to_floor <= FLOOR_GOAL)}':<14}"
                    f"{median(still.docklet):>10.1f}{paired_ratio(still.docklet, still.floor):>12.2f}"
                    f"  {len(animated.docklet)}{note}")
    rows += ["(ratios: median of cycle-by-cycle ratios, each docklet cycle against the curl and floor",
             " cycles right after it; docklet: the item as shipped, animating; still item: the same",
             " item without its pictures, so without animation, in turns with a floor of its own)"]
    return rows


def tls_cycle_rows(cycles):
    rows = [f"{'Check cycle over TLS, ms':<24}{'docklet':>8}{'curl':>8}{'floor':>8}"
            f"  {'docklet/curl':<14}{'docklet/floor':<14}{'first cycle':>12}  cycles",
            f"{'':<48}  {'(goal <= %.2f)' % TLS_CURL_GOAL:<14}"]
    for figures in cycles:
        noun = "account" if figures.accounts == 1 else "accounts"
        to_curl = paired_ratio(figures.docklet, figures.curl)
        note = f"  ({figures.overlaps} overlapped)" if figures.overlaps else ""
        rows.append(f"{f'{figures.protocol.upper()}S, {figures.accounts} {noun}':<24}"
                    f"{median(figures.docklet):>8.1f}{median(figures.curl):>8.1f}{median(figures.floor):>8.1f}"
                    f"  {f'{to_curl:.2f} {verdict(to_curl <= TLS_CURL_GOAL)}':<14}"
                    f"{paired_ratio(figures.docklet, figures.floor):<14.2f}{figures.first_docklet:>12.1f}"
                    f"  {len(figures.docklet)}{note}")
    rows += ["(medians of the later cycles, as above; first cycle: the item's first check, the first",
             " TLS connection of its host process, left out of the medians)"]
    return rows


def two_piece_rows(cycles):
    rows = [f"{'Two-piece server, ms':<24}{'docklet':>8}{'curl':>8}{'floor':>8}"
            f"  {'docklet/curl':<14}{'docklet/floor':<14}{'delayed ACKs per check':>24}",
            f"{'':<48}  {'(TLS: <= %.2f)' % TLS_CURL_GOAL:<14}{'':<14}{'docklet  curl  floor':>24}"]
    for figures in cycles:
        to_curl = paired_ratio(figures.docklet, figures.curl)
        shown = f"{to_curl:.2f} {verdict(to_curl <= TLS_CURL_GOAL)}" if figures.tls else f"{to_curl:.2f}"
        held = figures.held
        note = f"  ({figures.overlaps} overlapped)" if figures.overlaps else ""
        name = f"{figures.protocol.upper()}{'S' if figures.tls else ''}, {figures.accounts} accounts"
        rows.append(f"{name:<24}"
                    f"{median(figures.docklet):>8.1f}{median(figures.curl):>8.1f}{median(figures.floor):>8.1f}"
                    f"  {shown:<14}{paired_ratio(figures.docklet, figures.floor):<14.2f}"
                    f"{held['docklet']:>11.1f}{held['curl']:>6.1f}{held['floor']:>7.1f}{note}")
    rows += ["(each reply written in two pieces with Nagle on; medians of the later cycles, as above;",
             " delayed ACKs: replies whose second piece waited 20 ms or more, per account checked)"]
    return rows


def entry_rows(entries, tls_entries):
    def line(title, values, goal=None):
        warm = values[1:] or values
        text = f"{title:<38}{median(warm):>8.1f}{min(warm):>8.1f}{max(warm):>8.1f}{values[0]:>8.1f}"
        if goal is not None:
            text += f"   <= {goal} ms {verdict(median(warm) <= goal)}"
        return text

    creates = entries.creates
    return [f"{'Host thread, 10 silent accounts, ms':<38}{'median':>8}{'min':>8}{'max':>8}{'first':>8}"
            "   goal (median)",
            line("OnCreate, total", [c.ms for c in creates], CREATE_GOAL_MS),
            line("  inside the host's image loading", [c.image_loading_ms for c in creates]),
            line("    of which decoding the strips", [c.image_decoding_ms for c in creates]),
            line("  the docklet's own share", [c.ms - c.image_loading_ms for c in creates]),
            line("  total, were decoding all the host did",
                 [c.ms - c.image_loading_ms + c.image_decoding_ms for c in creates]),
            line("OnDestroy, checks blocked", [d.ms for d in entries.destroys], DESTROY_GOAL_MS),
            line("OnCreate, 10 silent TLS accounts", [c.ms for c in tls_entries.creates], CREATE_GOAL_MS),
            line("OnDestroy, TLS handshakes blocked", [d.ms for d in tls_entries.destroys], DESTROY_GOAL_MS),
            f"(median, min and max over items 2-{len(creates)}; first: item 1, created in a fresh host;",
            " the rest of the host's image loading is this stand-in host's journaling: pixel fingerprints)"]


def animation_rows(idle, one, ten):
    mib = 1024 * 1024

    def line(title, value, per_item, unit_format):
        cells = "".join(f"{unit_format.format(value(f)):>10}" for f in (idle, one, ten))
        return f"{title:<38}{cells}{unit_format.format(per_item):>10}"

    rows = [f"{'Animation, NbAccount=0':<38}{'no item':>10}{'1 item':>10}{'10 items':>10}{'per item':>10}",
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
        rows.append(f"{title:<38}{cells}")
    pace = median(one.frame_intervals)
    rows[-2] += f"   goal {FRAME_GOAL_MS} ms {verdict(abs(pace - FRAME_GOAL_MS) <= 0.5)}"
    return rows


def table(header, cycles, tls_cycles, two_piece_cycles, entries, tls_entries, idle, one, ten):
    return "\n".join(header + [""] + cycle_rows(cycles) + [""] + tls_cycle_rows(tls_cycles) + [""] +
                     two_piece_rows(two_piece_cycles) + [""] + entry_rows(entries, tls_entries) + [""] +
                     animation_rows(idle, one, ten))
