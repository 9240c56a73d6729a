"""Docklet folders as a user drops them into the dock: the built DLL and
strips, and a TidewellDocklet.ini written for one measurement."""
import os
import shutil

from host_run import windows_path

RELATIVE = "Docklets\\Tidewell\\"
CHECK_TEXT = "Checking"
COUNT_TEMPLATE = "%d new messages"


def final_label(count):
    return {0: "No mail", 1: "1 new message"}.get(count, COUNT_TEMPLATE.replace("%d", str(count)))


def tls_lines(bench):
    """An account's lines for TLS from the first byte, trusting the benchmark
    Dovecot's test CA."""
    return ["Security=tls", f"CAFile={windows_path(bench.ca_file)}"]


def make_docklet_folder(bench, name, accounts, delay_s=86400, timeout_s=10, pictures=True, account_lines=(),
                        common_lines=()):
    """accounts: (type, port, login, password) each; account_lines: more lines
    for every account; common_lines: more lines for [Common]. Without pictures the item shows none and runs no
    animation. Returns the root folder and the relative folder, as the host's
    create step takes them."""
    root = os.path.join(bench.work, name)
    folder = os.path.join(root, *RELATIVE.strip("\\").split("\\"))
    os.makedirs(folder, exist_ok=True)
    for file in ("TidewellDocklet.dll",) + (("NoMail.png", "NewMail.png") if pictures else ()):
        shutil.copy(os.path.join(bench.dist, file), folder)
    lines = ["[Common]", f"NbAccount={len(accounts)}", f"DelaySecond={delay_s}",
             f"TimeoutSecond={timeout_s}", f"stringCheck={CHECK_TEXT}",
             f"stringNoMsg={final_label(0)}", f"stringOneMsg={final_label(1)}",
             f"stringHaveMsg={COUNT_TEMPLATE}", *common_lines]
    for number, (kind, port, login, password) in enumerate(accounts):
        lines += ["", f"[account{number}]", f"Type={kind}", "Address=127.0.0.1",
                  f"Port={port}", f"Login={login}", f"Password={password}", *account_lines]
    with open(os.path.join(folder, "TidewellDocklet.ini"), "w", newline="\r\n") as ini:
        ini.write("\n".join(lines) + "\n")
    return windows_path(root), RELATIVE
