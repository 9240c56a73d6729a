"""OnDestroy while a server talks on, next to the plain figure (checks
blocked on a silent server): an account in IDLE at a server that sends
"* OK still here" lines without pause, one in IDLE whose path is
black-holed, and a CountNew POP3 account whose UIDL listing of 350,000 ids
(12 MB) is coming in or being compared with the marks, which are on file.
Each run's figure is kept."""
import hashlib
import os
from dataclasses import dataclass

from dead_path import measure_blackholed_teardown
from docklet_folder import CHECK_TEXT, RELATIVE, final_label, make_docklet_folder
from entry_costs import measure_entry_costs
from host_run import BenchError, HostRun
from journal import check_cycles, entry_calls

RUNS = 5
# Removed this long after the watcher's count showed: the lines flow by then.
FLOOD_AFTER_MS = 300
FLOOD_COUNT = 2  # what the server's SEARCH finds
# Where in a whole check each listing run is removed.
LISTING_SHARES = (0.1, 0.3, 0.5, 0.7, 0.9)
SEEN_FILE = "TidewellDocklet.seen"


@dataclass
class ListingRun:
    destroy_ms: float
    share: float          # of a whole check, when removed
    sent: float           # share of the listing the server had written by the end
    quit_said: bool       # the check went on to QUIT: it had ended before the removal


@dataclass
class TeardownFigures:
    plain: list     # OnDestroy ms, checks blocked on a silent server
    flood: list     # OnDestroy ms, in IDLE at a server that talks without pause
    blackholed: list  # OnDestroy ms, in IDLE on a black-holed path
    listing: list   # ListingRun
    check_ms: float  # a whole check of the listing against marks on file


def pop3_trace(path):
    """(sent, total, quit) of each POP3 connection the talking server ended."""
    if not os.path.exists(path):
        return []
    with open(path) as trace:
        rows = [line.split() for line in trace]
    return [(int(r[1]), int(r[2]), r[3] == "1") for r in rows if len(r) == 4 and r[0] == "pop3"]


def destroys(host, name, expected):
    calls = entry_calls(host.finish(timeout_s=600), "OnDestroy")
    if len(calls) != expected:
        raise BenchError(f"{name}: the journal holds {len(calls)} OnDestroy calls, not {expected} "
                         f"(journal: {host.journal_path})")
    return [c.ms for c in calls]


def measure_flood(bench):
    name = "teardown-idle-flood"
    # IdleRenewSecond bounds how long a watcher that misses the stop keeps reading.
    root, relative = make_docklet_folder(bench, name, [("IMAP", bench.talking_imap_port, "flood", "secret")],
                                         delay_s=86400, timeout_s=60, account_lines=["Idle=1"],
                                         common_lines=["IdleRenewSecond=10"])
    steps = []
    for item in range(1, RUNS + 1):
        steps += [["create", str(item), root, relative],
                  ["waitlabel", str(item), final_label(FLOOD_COUNT), "20000"],
                  ["wait", str(FLOOD_AFTER_MS)], ["destroy", str(item)]]
    return destroys(HostRun(bench, name, steps), name, RUNS)


def seen_digest(folder):
    path = os.path.join(folder, SEEN_FILE)
    if not os.path.exists(path):
        return None
    with open(path, "rb") as seen:
        return hashlib.sha256(seen.read()).hexdigest()


def measure_listing(bench):
    name = "teardown-uidl"
    accounts = [("POP", bench.talking_pop3_port, "kept", "secret")]
    root, relative = make_docklet_folder(bench, name, accounts, delay_s=86400, timeout_s=60,
                                         account_lines=["CountNew=1"])
    folder = os.path.join(bench.work, name, *RELATIVE.strip("\\").split("\\"))
    if os.path.exists(os.path.join(folder, SEEN_FILE)):
        os.remove(os.path.join(folder, SEEN_FILE))
    nothing_new = final_label(0)
    # The first check marks the whole listing as not new; the marks file is
    # written after it, on a thread of its own.
    HostRun(bench, name + "-marks", [["create", "1", root, relative], ["waitlabel", "1", nothing_new, "60000"],
                                     ["wait", "5000"], ["destroy", "1"]]).finish()
    marks = seen_digest(folder)
    if marks is None:
        raise BenchError(f"{name}: no {SEEN_FILE} after the first check (folder: {folder})")
    # A whole check of a new item: the listing, the marks read and compared.
    whole = HostRun(bench, name + "-whole", [["create", "1", root, relative],
                                             ["waitlabel", "1", nothing_new, "60000"], ["destroy", "1"]])
    cycles = check_cycles(whole.finish(), "1", CHECK_TEXT, nothing_new)
    if not cycles:
        raise BenchError(f"{name}: no whole check in {whole.journal_path}")
    check_ms = cycles[0]
    ended_before = len(pop3_trace(bench.talking_trace))
    steps = []
    for item, share in enumerate(LISTING_SHARES, 1):
        steps += [["create", str(item), root, relative], ["waitlabel", str(item), CHECK_TEXT, "20000"],
                  ["wait", str(round(share * check_ms))], ["destroy", str(item)]]
    figures = destroys(HostRun(bench, name, steps), name, RUNS)
    if seen_digest(folder) != marks:
        raise BenchError(f"{name}: {SEEN_FILE} changed while items were removed (folder: {folder})")
    ended = pop3_trace(bench.talking_trace)[ended_before:]
    if len(ended) != RUNS:
        raise BenchError(f"{name}: the server saw {len(ended)} POP3 connections end, not {RUNS}")
    runs = [ListingRun(ms, share, sent / total, quit_said)
            for ms, share, (sent, total, quit_said) in zip(figures, LISTING_SHARES, ended)]
    return runs, check_ms


def measure_teardown(bench):
    plain = [d.ms for d in measure_entry_costs(bench, RUNS).destroys]
    flood = measure_flood(bench)
    blackholed = [c.ms for c in entry_calls(measure_blackholed_teardown(bench, RUNS), "OnDestroy")]
    if len(blackholed) != RUNS:
        raise BenchError(f"teardown-blackholed: {len(blackholed)} OnDestroy calls, not {RUNS}")
    listing, check_ms = measure_listing(bench)
    return TeardownFigures(plain, flood, blackholed, listing, check_ms)
