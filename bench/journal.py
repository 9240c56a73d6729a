"""Reads the stand-in host's journal ("<ms>\t<thread>\t<item>\t<event>\t<details>",
see host/journal_text.h) and the figures the benchmark takes from it."""
import re
from dataclasses import dataclass


@dataclass
class Event:
    ms: float
    thread: int
    item: str
    event: str
    details: str


def parse_line(line):
    """The event of one journal line, or None for a line that is not one."""
    fields = line.rstrip("\r\n").split("\t", 4)
    if len(fields) != 5:
        return None
    try:
        return Event(float(fields[0]), int(fields[1]), fields[2], fields[3], fields[4])
    except ValueError:
        return None


def detail_value(details, key):
    """The value of key=value among an event's details, or None."""
    for word in details.split():
        name, _, value = word.partition("=")
        if name == key:
            return value
    return None


def quoted(text):
    """A label as the journal quotes it (printable text only)."""
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def check_cycles(events, item, check_text, final_text):
    """Milliseconds from the check label to the final label, set by the same
    worker thread, for each check of the item that ended with final_text."""
    started = {}
    durations = []
    for event in events:
        if event.item != item or event.event != "DockletSetLabel":
            continue
        if event.details == quoted(check_text):
            started[event.thread] = event.ms
        elif event.thread in started:
            begun = started.pop(event.thread)
            if event.details == quoted(final_text):
                durations.append(event.ms - begun)
    return durations


def frame_intervals(events, item, after_ms=0.0):
    """Milliseconds between consecutive pictures handed to the item."""
    times = [e.ms for e in events
             if e.item == item and e.event == "DockletSetImage" and e.ms >= after_ms]
    return [later - earlier for earlier, later in zip(times, times[1:])]


_DURATION = re.compile(r"^(\w+) ([0-9.]+)ms")
_LOAD_DURATION = re.compile(r" ([0-9.]+)ms, decoding ([0-9.]+)ms$")


@dataclass
class EntryCall:
    item: str
    ms: float
    image_loading_ms: float = 0.0   # spent inside DockletLoadGDIPlusImage during the call
    image_decoding_ms: float = 0.0  # the part of it that decoded the files


def entry_calls(events, name):
    """Each call of the entry point, with the time the host spent loading
    images for it (only the main thread calls entry points and loads images)."""
    calls = []
    call = None
    for event in events:
        if event.event == "call" and event.details == name:
            call = EntryCall(event.item, 0.0)
        elif event.event == "DockletLoadGDIPlusImage" and call:
            found = _LOAD_DURATION.search(event.details)
            if found:
                call.image_loading_ms += float(found.group(1))
                call.image_decoding_ms += float(found.group(2))
        elif event.event == "return":
            found = _DURATION.match(event.details)
            if found and found.group(1) == name and call:
                call.ms = float(found.group(2))
                calls.append(call)
            call = None
    return calls
