"""Time on the host's thread in OnCreate and OnDestroy for an item whose ten
accounts sit on a server that accepts and never answers: items are created,
left to block in their first check, and removed, one after another. Over TLS
the check blocks in the handshake instead of on the greeting."""
from dataclasses import dataclass

from docklet_folder import CHECK_TEXT, make_docklet_folder, tls_lines
from host_run import BenchError, HostRun
from journal import entry_calls, quoted

SILENT_ACCOUNTS = 10
BLOCK_MS = 1500


@dataclass
class EntryFigures:
    creates: list   # journal.EntryCall, in the order the items were made
    destroys: list


def labels_at_destroy(events):
    """The label each item showed when its OnDestroy was called."""
    label = {}
    shown = {}
    for event in events:
        if event.event == "DockletSetLabel":
            label[event.item] = event.details
        elif event.event == "call" and event.details == "OnDestroy":
            shown[event.item] = label.get(event.item)
    return shown


def measure_entry_costs(bench, items, tls=False):
    accounts = [("IMAP", bench.silent_port, f"silent{n}", "secret") for n in range(SILENT_ACCOUNTS)]
    name = "silent-tls" if tls else "silent"
    root, relative = make_docklet_folder(bench, name, accounts, delay_s=180, timeout_s=60,
                                         account_lines=tls_lines(bench) if tls else ())
    steps = []
    for item in range(1, items + 1):
        steps += [["create", str(item), root, relative], ["wait", str(BLOCK_MS)], ["destroy", str(item)]]
    host = HostRun(bench, name, steps)
    events = host.finish()
    for item, label in labels_at_destroy(events).items():
        if label != quoted(CHECK_TEXT):
            raise BenchError(f"{name}: item {item} showed {label} when removed, not a check in progress "
                             f"(journal: {host.journal_path})")
    figures = EntryFigures(entry_calls(events, "OnCreate"), entry_calls(events, "OnDestroy"))
    if len(figures.creates) != items or len(figures.destroys) != items:
        raise BenchError(f"{name}: the journal holds {len(figures.creates)} OnCreate and "
                         f"{len(figures.destroys)} OnDestroy calls, not {items} (journal: {host.journal_path})")
    return figures
