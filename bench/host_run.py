"""Runs the stand-in host under Wine on a scenario script, and follows its
journal while it runs."""
import os
import subprocess
import time

from journal import parse_line


def windows_path(path):
    """A Linux path as a Windows program sees it; folders end with a backslash."""
    text = "Z:" + os.path.abspath(path).replace("/", "\\")
    return text + "\\" if os.path.isdir(path) else text


def script_word(text):
    return '"' + text + '"' if any(c in text for c in ' \t#') else text


class HostRun:
    """One run of the host: starts at once, and is waited for by finish()."""

    def __init__(self, bench, name, steps, options=()):
        self.folder = os.path.join(bench.work, name)
        os.makedirs(self.folder, exist_ok=True)
        self.journal_path = os.path.join(self.folder, "journal.txt")
        script_path = os.path.join(self.folder, "script.txt")
        with open(script_path, "w") as script:
            script.writelines(" ".join(script_word(w) for w in step) + "\n" for step in steps)
        if os.path.exists(self.journal_path):
            os.remove(self.journal_path)
        self.errors_path = os.path.join(self.folder, "host-errors.txt")
        with open(self.errors_path, "w") as errors:
            self.process = subprocess.Popen(
                ["wine", bench.host_exe, *options, "--journal", windows_path(self.journal_path),
                 "--script", windows_path(script_path)],
                env=bench.wine_environment, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=errors)
        self.events = []
        self._read_up_to = 0
        self._partial = ""

    @property
    def pid(self):
        """The host's own process: wine runs the program in the process it was started as."""
        return self.process.pid

    def poll_journal(self):
        """Reads what the journal gained since the last look."""
        try:
            with open(self.journal_path, encoding="latin-1") as journal:
                journal.seek(self._read_up_to)
                text = journal.read()
                self._read_up_to = journal.tell()
        except FileNotFoundError:
            return self.events
        lines = (self._partial + text).split("\n")
        self._partial = lines.pop()
        self.events.extend(e for e in map(parse_line, lines) if e)
        return self.events

    def wait_for(self, condition, what, timeout_s):
        """Follows the journal until condition(events) holds."""
        deadline = time.monotonic() + timeout_s
        while not condition(self.poll_journal()):
            if self.process.poll() is not None:
                self.poll_journal()
                if condition(self.events):
                    return
                raise BenchError(f"{self.folder}: the host ended before {what}{self._errors()}")
            if time.monotonic() > deadline:
                raise BenchError(f"{self.folder}: no {what} within {timeout_s} s (journal: {self.journal_path})")
            time.sleep(0.005)

    def finish(self, timeout_s=120):
        try:
            code = self.process.wait(timeout=timeout_s)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise BenchError(f"{self.folder}: the host did not end within {timeout_s} s")
        self.poll_journal()
        if code != 0:
            raise BenchError(f"{self.folder}: the host ended with status {code}{self._errors()}"
                             f" (journal: {self.journal_path})")
        return self.events

    def _errors(self):
        with open(self.errors_path) as errors:
            text = errors.read().strip()
        return ": " + text if text else ""


class BenchError(Exception):
    pass


def count(events, event, details_start="", item=None):
    return sum(1 for e in events if e.event == event and e.details.startswith(details_start)
               and (item is None or e.item == item))
