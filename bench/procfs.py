"""What Linux knows of a process: its processor time and resident memory, and
each of its threads' processor time and wakes."""
import os
from dataclasses import dataclass

_TICKS_PER_SECOND = os.sysconf("SC_CLK_TCK")


def _stat_cpu_seconds(path):
    with open(path) as stat:
        # The name in parentheses may hold spaces; the fields after it do not.
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / _TICKS_PER_SECOND


def cpu_seconds(pid):
    """User plus system time of the process so far."""
    return _stat_cpu_seconds(f"/proc/{pid}/stat")


@dataclass
class ThreadTimes:
    cpu_seconds: float
    wakes: int  # voluntary context switches: each time the thread slept and was woken


def thread_times(pid):
    """Each thread's ThreadTimes so far, by thread id; a thread that ended
    while being read is left out."""
    times = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            cpu = _stat_cpu_seconds(f"/proc/{pid}/task/{tid}/stat")
            with open(f"/proc/{pid}/task/{tid}/status") as status:
                wakes = next(int(line.split()[1]) for line in status
                             if line.startswith("voluntary_ctxt_switches:"))
        except (FileNotFoundError, ProcessLookupError, StopIteration):
            continue
        times[int(tid)] = ThreadTimes(cpu, wakes)
    return times


def thread_spending(before, after):
    """ThreadTimes spent between two readings, by thread id; threads that
    began meanwhile count from zero."""
    spent = {}
    for tid, later in after.items():
        earlier = before.get(tid, ThreadTimes(0.0, 0))
        spent[tid] = ThreadTimes(later.cpu_seconds - earlier.cpu_seconds, later.wakes - earlier.wakes)
    return spent


def resident_bytes(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    raise ValueError(f"process {pid} reports no resident memory")
