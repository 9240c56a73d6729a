"""The users of the private Dovecot that the check cycles ask: one user per
account, each with a few messages."""
import subprocess
from dataclasses import dataclass

UNSEEN_PER_USER = 3
SEEN_PER_USER = 2


@dataclass
class Account:
    login: str
    password: str


def accounts(protocol, count):
    prefix = {"imap": "imap", "pop3": "pop"}[protocol]
    return [Account(f"{prefix}{n:02d}", f"{prefix}{n:02d}-secret") for n in range(1, count + 1)]


def fill(bench, protocol, count):
    """Adds the users with UNSEEN_PER_USER unseen and SEEN_PER_USER seen messages:
    IMAP counts the unseen ones, POP3 all of them."""
    for account in accounts(protocol, count):
        for arguments in (["user", account.login, account.password],
                          ["deliver", account.login, str(UNSEEN_PER_USER)],
                          ["deliver", account.login, str(SEEN_PER_USER), "seen"]):
            subprocess.run([bench.dovecot_script, arguments[0], bench.dovecot_dir] + arguments[1:],
                           check=True)


def expected_count(protocol, count):
    per_user = UNSEEN_PER_USER if protocol == "imap" else UNSEEN_PER_USER + SEEN_PER_USER
    return per_user * count
