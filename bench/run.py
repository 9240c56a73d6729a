#!/usr/bin/env python3
"""Runs every measurement of the benchmark against servers that scripts/bench.sh
started, and prints the table. Progress goes to standard error."""
import argparse
import os
import platform
import subprocess
import sys
import time
from types import SimpleNamespace

from animation_costs import measure_animation
from dead_path import measure_dead_path
from entry_costs import measure_entry_costs
from host_run import BenchError
from idle_delivery import measure_delivery
from mail_cycles import measure_cycles
from mailboxes import fill
from report import (animation_rows, cycle_rows, dead_path_rows, delivery_rows, entry_rows, net_animation_rows,
                    table, teardown_rows, tls_cycle_rows, two_piece_rows)
from teardown_costs import measure_teardown

CYCLE_SCENARIOS = (("imap", 1), ("imap", 10), ("imap", 50), ("pop3", 1), ("pop3", 10))
TLS_SCENARIOS = (("imap", 1), ("imap", 10), ("pop3", 1), ("pop3", 10))
# Against the server that writes each reply in two pieces: (protocol, accounts, TLS).
TWO_PIECE_SCENARIOS = (("imap", 10, False), ("pop3", 10, False), ("imap", 10, True), ("pop3", 10, True))
# Idle=1 against the two-piece server: (TLS, replies in two pieces).
DELIVERY_SCENARIOS = ((False, False), (True, False), (False, True), (True, True))


def progress(text):
    print(f"bench: {text}", file=sys.stderr, flush=True)


def first_line(command):
    try:
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        return result.stdout.splitlines()[0].strip()
    except (OSError, IndexError):
        return "unknown"


def cpu_model():
    with open("/proc/cpuinfo") as cpuinfo:
        for line in cpuinfo:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return platform.processor() or "unknown"


def load_average():
    return os.getloadavg()[0]


def header(started, load_before, load_after):
    return [f"Tidewell benchmark, {time.strftime('%Y-%m-%d %H:%M', time.localtime(started))}, "
            f"{time.time() - started:.0f} s",
            f"machine: {os.cpu_count()} cores, {cpu_model()}, Linux {platform.release()}; "
            f"load average (1 min) {load_before:.2f} before, {load_after:.2f} after",
            f"{first_line(['wine', '--version'])}; Dovecot {first_line(['dovecot', '--version'])}; "
            f"{' '.join(first_line(['curl', '--version']).split()[:2])}"]


def positive(text):
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"{text} is not a whole number of at least 1")
    return value


def arguments():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--work", required=True, help="folder for docklet folders and journals")
    parser.add_argument("--host-exe", required=True)
    parser.add_argument("--dist", required=True, help="the built docklet folder")
    parser.add_argument("--floor", required=True, help="the floor client")
    parser.add_argument("--dovecot-script", required=True)
    parser.add_argument("--dovecot-dir", required=True)
    parser.add_argument("--imap-port", type=int, required=True)
    parser.add_argument("--pop3-port", type=int, required=True)
    parser.add_argument("--imaps-port", type=int, required=True)
    parser.add_argument("--pop3s-port", type=int, required=True)
    parser.add_argument("--ca-file", required=True, help="the test CA of the Dovecot's certificates (PEM)")
    parser.add_argument("--silent-port", type=int, required=True)
    parser.add_argument("--two-piece-ports", required=True,
                        help="IMAP, IMAPS, POP3, POP3S and control ports of bench/two_piece_server.py, "
                             "in one word each")
    parser.add_argument("--two-piece-trace", required=True, help="the trace file of that server")
    parser.add_argument("--talking-ports", required=True,
                        help="IMAP and POP3 ports of bench/talking_server.py, in one word each")
    parser.add_argument("--talking-trace", required=True, help="the trace file of that server")
    parser.add_argument("--blackhole-port", type=int, required=True,
                        help="the control port of tests/support/blackhole_proxy.py")
    parser.add_argument("--wineprefix", required=True)
    parser.add_argument("--wineserver-pid", type=int, required=True)
    parser.add_argument("--rounds", type=positive, default=7)
    parser.add_argument("--cpu-seconds", type=positive, default=30)
    parser.add_argument("--only", type=parts, default=list(PARTS),
                        help=f"the parts to measure, comma-separated: {','.join(PARTS)} (default: all)")
    return parser.parse_args()


def cycle_part(bench, options):
    progress("adding users and mail")
    fill(bench, "imap", max(n for p, n in CYCLE_SCENARIOS if p == "imap"))
    fill(bench, "pop3", max(n for p, n in CYCLE_SCENARIOS if p == "pop3"))
    cycles = []
    for protocol, count in CYCLE_SCENARIOS:
        progress(f"check cycles, {protocol} with {count} accounts, animated item and still item")
        cycles.append((measure_cycles(bench, protocol, count, options.rounds),
                       measure_cycles(bench, protocol, count, options.rounds, animated=False)))
    tls_cycles = []
    for protocol, count in TLS_SCENARIOS:
        progress(f"check cycles over TLS, {protocol} with {count} accounts")
        tls_cycles.append(measure_cycles(bench, protocol, count, options.rounds, tls=True))
    return cycle_rows(cycles) + [""] + tls_cycle_rows(tls_cycles)


def two_piece_part(bench, options):
    two_piece_cycles = []
    for protocol, count, tls in TWO_PIECE_SCENARIOS:
        progress(f"check cycles against the two-piece server, {protocol}{'s' if tls else ''} with {count} accounts")
        two_piece_cycles.append(measure_cycles(bench, protocol, count, options.rounds, tls=tls,
                                               server="two-piece"))
    return two_piece_rows(two_piece_cycles)


def idle_part(bench, options):
    deliveries = []
    for tls, two_piece in DELIVERY_SCENARIOS:
        progress(f"Idle=1, announcement to label, {'IMAPS' if tls else 'IMAP'}, "
                 f"{'two-piece' if two_piece else 'whole'} replies")
        deliveries.append(measure_delivery(bench, options.rounds, tls, two_piece))
    return delivery_rows(deliveries)


def dead_path_part(bench, options):
    progress("Idle=1 on a path that goes silent, five items at once: noticed, then the mail once it is back "
             "(some 4 minutes)")
    return dead_path_rows(measure_dead_path(bench))


def entry_part(bench, options):
    progress("OnCreate and OnDestroy with silent servers, in clear and over TLS")
    return entry_rows(measure_entry_costs(bench, options.rounds + 1),
                      measure_entry_costs(bench, options.rounds + 1, tls=True))


def teardown_part(bench, options):
    progress("OnDestroy with silent servers, in IDLE at a server that talks without pause, "
             "in IDLE on a black-holed path, and while a 12 MB UIDL listing comes in")
    return teardown_rows(measure_teardown(bench))


def animation_part(bench, options):
    animation = []
    for items in (0, 1, 10):
        progress(f"animation, {items} items, {options.cpu_seconds} s")
        animation.append(measure_animation(bench, items, options.cpu_seconds))
    variants = []
    for badge in (False, True):
        for direct in (False, True):
            progress(f"animation, 10 items{' showing 3 messages with Badge=1' if badge else ''}, frames unread by "
                     f"the host, on {'the calling' if direct else 'its own'} thread, {options.cpu_seconds} s")
            variants.append(measure_animation(bench, 10, options.cpu_seconds, quiet=True, badge=badge, direct=direct))
    return animation_rows(*animation) + [""] + net_animation_rows(animation[0], variants)


# In the table's order.
PARTS = {"cycles": cycle_part, "two-piece": two_piece_part, "idle": idle_part, "dead-path": dead_path_part,
         "entries": entry_part, "teardown": teardown_part, "animation": animation_part}


def parts(text):
    chosen = text.split(",")
    unknown = [p for p in chosen if p not in PARTS]
    if unknown or not text:
        raise argparse.ArgumentTypeError(f"not a part: {','.join(unknown) or text!r} (parts: {','.join(PARTS)})")
    return [p for p in PARTS if p in chosen]


def main():
    options = arguments()
    bench = SimpleNamespace(**vars(options))
    bench.wine_environment = dict(os.environ, WINEPREFIX=options.wineprefix, WINEDEBUG="-all",
                                  WINEDLLOVERRIDES="mscoree,mshtml=")
    ports = [int(p) for p in options.two_piece_ports.split()]
    bench.two_piece_ports = {("imap", False): ports[0], ("imap", True): ports[1],
                             ("pop3", False): ports[2], ("pop3", True): ports[3]}
    bench.two_piece_control_port = ports[4]
    bench.talking_imap_port, bench.talking_pop3_port = (int(p) for p in options.talking_ports.split())
    started = time.time()
    load_before = load_average()
    try:
        sections = [PARTS[part](bench, options) for part in options.only]
    except BenchError as error:
        print(f"bench: {error}", file=sys.stderr)
        return 1
    print(table(header(started, load_before, load_average()), sections))
    return 0


if __name__ == "__main__":
    sys.exit(main())
