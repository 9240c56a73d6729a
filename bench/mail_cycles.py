"""Check-cycle time: the docklet in the stand-in host, curl, and the floor
client, asking the same accounts of the same server. The three take turns
cycle by cycle, so that a busy moment of the machine falls on all of them."""
import subprocess
import time
from dataclasses import dataclass

from docklet_folder import CHECK_TEXT, final_label, make_docklet_folder, tls_lines
from host_run import BenchError, HostRun, count
from journal import check_cycles, quoted
from mailboxes import UNSEEN_PER_USER, accounts, expected_count

ACCOUNT_TYPES = {"imap": "IMAP", "pop3": "POP"}
# Each client starts its cycle after this long with nothing to do, as the
# docklet does after its pause: a cycle started right after other work runs
# faster, under Wine by up to a fifth with one account, and would favour
# whoever follows another client.
QUIET_BEFORE_MS = 400
# Linux delays an ACK by 40 ms at least; a piece held for less went when the
# client acknowledged at once.
DELAYED_ACK_MS = 20


@dataclass
class CycleFigures:
    protocol: str
    accounts: int
    docklet: list
    curl: list
    floor: list
    animated: bool
    overlaps: int  # rounds in which the docklet's next check began before the floor and curl were done
    tls: bool  # TLS from the first byte, verified against the test CA
    first_docklet: float  # the item's first cycle, the first of its host process
    server: str = "dovecot"  # or "two-piece": bench/two_piece_server.py
    held: dict = None  # replies that waited for a delayed ACK per account check, by client (two-piece server)


def server_port(bench, protocol, tls, server="dovecot"):
    if server == "two-piece":
        return bench.two_piece_ports[(protocol, tls)]
    return {("imap", False): bench.imap_port, ("pop3", False): bench.pop3_port,
            ("imap", True): bench.imaps_port, ("pop3", True): bench.pop3s_port}[(protocol, tls)]


def curl_command(bench, protocol, account, tls, server="dovecot"):
    command = ["curl", "-s", "--max-time", "10", "-u", f"{account.login}:{account.password}"]
    scheme = protocol + ("s" if tls else "")
    port = server_port(bench, protocol, tls, server)
    if tls:
        command += ["--cacert", bench.ca_file]
    if protocol == "imap":
        return command + [f"{scheme}://127.0.0.1:{port}/INBOX", "-X", "SEARCH UNSEEN"]
    # -I: STAT has a one-line reply; without it curl waits for the end of a
    # multi-line one, until the server gives up on it.
    return command + ["-I", f"{scheme}://127.0.0.1:{port}", "-X", "STAT"]


def curl_cycle(bench, protocol, cycle_accounts, tls, server):
    start = time.perf_counter()
    for account in cycle_accounts:
        result = subprocess.run(curl_command(bench, protocol, account, tls, server), stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        found = result.stdout.split()
        if result.returncode != 0 or (protocol == "imap" and len(found) != 2 + UNSEEN_PER_USER):
            raise BenchError(f"curl failed on {account.login} (status {result.returncode}): {result.stdout!r}")
    return (time.perf_counter() - start) * 1000


def floor_cycle(bench, protocol, cycle_accounts, tls, server):
    mode = [protocol + "s", bench.ca_file] if tls else [protocol]
    result = subprocess.run([bench.floor, *mode, str(server_port(bench, protocol, tls, server)), "1"] +
                            [f"{a.login}:{a.password}" for a in cycle_accounts],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        raise BenchError(f"the floor client failed: {result.stderr.strip()}")
    return float(result.stdout)


def timed_out(event):
    return event.event == "waitlabel" and " timeout label=" in event.details


def delayed_acks(lines):
    """The replies of the two-piece server's trace lines whose second piece
    waited for a delayed ACK; a piece let go at once is held for a moment too."""
    return sum(1 for line in lines if len(line.split()) == 3 and line.startswith("held ")
               and float(line.split()[1]) >= DELAYED_ACK_MS)


def held_so_far(bench):
    try:
        with open(bench.two_piece_trace) as trace:
            return delayed_acks(trace)
    except (AttributeError, FileNotFoundError):
        return 0


def measure_cycles(bench, protocol, account_count, rounds, animated=True, tls=False, server="dovecot"):
    """animated: the item shows its pictures, as it does for a user; without
    them it runs no animation, which tells the animation's share. tls: every
    client over TLS from the first byte (IMAPS, POP3S), trusting the test CA.
    server: "two-piece" asks bench/two_piece_server.py instead of Dovecot."""
    cycle_accounts = accounts(protocol, account_count)
    port = server_port(bench, protocol, tls, server)
    name = (f"cycle-{protocol}{'s' if tls else ''}-{account_count}" + ("" if animated else "-still") +
            ("" if server == "dovecot" else f"-{server}"))
    root, relative = make_docklet_folder(
        bench, name, [(ACCOUNT_TYPES[protocol], port, a.login, a.password) for a in cycle_accounts],
        pictures=animated, account_lines=tls_lines(bench) if tls else ())
    final = final_label(expected_count(protocol, account_count))
    # Room for a quiet spell and a cycle of the floor client, another and a
    # cycle of curl, and the quiet spell of the docklet, between two checks;
    # against the two-piece server each reply may wait for a delayed ACK.
    gap_ms = 3 * QUIET_BEFORE_MS + (80 if server == "dovecot" else 800) * account_count
    steps = [["create", "1", root, relative], ["waitlabel", "1", final, "120000"]]
    for _ in range(rounds):
        steps += [["wait", str(gap_ms)], ["hold", "1"], ["waitlabel", "1", CHECK_TEXT, "10000"],
                  ["waitlabel", "1", final, "120000"]]
    steps.append(["destroy", "1"])

    host = HostRun(bench, name, steps)
    curl_ms, floor_ms, overlaps = [], [], 0
    held = {"docklet": 0, "curl": 0, "floor": 0}
    after_curl = held_so_far(bench)
    # The item's first check, right after its creation, warms up all three.
    for cycle in range(rounds + 1):
        host.wait_for(lambda events: count(events, "waitlabel", quoted(final)) > cycle or
                      any(timed_out(e) for e in events), f"check {cycle + 1} of {name}", 180)
        failed = [e for e in host.events if timed_out(e)]
        if failed:
            raise BenchError(f"{name}: the label did not become {failed[0].details} "
                             f"(journal: {host.journal_path})")
        after_docklet = held_so_far(bench)
        time.sleep(QUIET_BEFORE_MS / 1000)
        floor = floor_cycle(bench, protocol, cycle_accounts, tls, server)
        after_floor = held_so_far(bench)
        time.sleep(QUIET_BEFORE_MS / 1000)
        curl = curl_cycle(bench, protocol, cycle_accounts, tls, server)
        if count(host.poll_journal(), "call", "OnLeftButtonHeld") > cycle:
            overlaps += 1
        if cycle > 0:
            curl_ms.append(curl)
            floor_ms.append(floor)
            held["docklet"] += after_docklet - after_curl
            held["floor"] += after_floor - after_docklet
            held["curl"] += held_so_far(bench) - after_floor
        after_curl = held_so_far(bench)
    events = host.finish()
    docklet_ms = check_cycles(events, "1", CHECK_TEXT, final)
    if len(docklet_ms) != rounds + 1:
        raise BenchError(f"{name}: {len(docklet_ms)} whole checks instead of {rounds + 1} "
                         f"(journal: {host.journal_path})")
    checks = rounds * account_count
    return CycleFigures(protocol, account_count, docklet_ms[1:], curl_ms, floor_ms, animated, overlaps, tls,
                        docklet_ms[0], server, {k: v / checks for k, v in held.items()} if server != "dovecot" else None)
