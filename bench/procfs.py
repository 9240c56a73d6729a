"""What Linux knows of a process: its processor time and resident memory."""
import os

_TICKS_PER_SECOND = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """User plus system time of the process so far."""
    with open(f"/proc/{pid}/stat") as stat:
        # The name in parentheses may hold spaces; the fields after it do not.
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / _TICKS_PER_SECOND


def resident_bytes(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    raise ValueError(f"process {pid} reports no resident memory")
