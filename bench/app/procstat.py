"""What the kernel knows about a running process and its network namespace:
CPU time per thread, wake-ups, resident memory, and the namespace's UDP
datagram counters. Linux /proc only; figures are process CPU time, not
wall-clock shares, so they stay meaningful on a loaded machine."""

import os

TICK = os.sysconf("SC_CLK_TCK")
PAGE = os.sysconf("SC_PAGE_SIZE")


def threads(pid):
    """{tid: name} of the process's threads."""
    out = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/comm") as f:
                out[int(tid)] = f.read().strip()
        except OSError:
            pass
    return out


def thread_cpu(pid, tid):
    """User + system CPU seconds of one thread."""
    with open(f"/proc/{pid}/task/{tid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def process_cpu(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def thread_switches(pid, tid):
    """Voluntary context switches of one thread: how often it went to sleep,
    that is, how often something woke it."""
    with open(f"/proc/{pid}/task/{tid}/status") as f:
        for line in f:
            if line.startswith("voluntary_ctxt_switches:"):
                return int(line.split()[1])
    return 0


def memory(pid):
    """(current RSS, peak RSS) in MiB."""
    status = memory_status(pid)
    return status["VmRSS"], status["VmHWM"]


def anonymous_memory(pid):
    """The anonymous part of the RSS in MiB: heap and private mappings, what
    a leak grows. The rest is mostly the code of shared libraries, which
    enters the RSS page by page as code runs for the first time."""
    return memory_status(pid)["RssAnon"]


def memory_status(pid):
    out = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, value = line.partition(":")
            if key in ("VmRSS", "VmHWM", "RssAnon", "RssFile"):
                out[key] = int(value.split()[0]) / 1024
    return out


def udp_table():
    with open("/proc/net/snmp") as f:
        lines = [line.split() for line in f if line.startswith("Udp:")]
    names, values = lines[0], lines[1]
    return dict(zip(names[1:], (int(v) for v in values[1:])))


def udp_counters():
    """(datagrams in, datagrams out) of this network namespace so far."""
    table = udp_table()
    return table["InDatagrams"], table["OutDatagrams"]


def udp_dropped():
    """Datagrams this namespace dropped for a full receive buffer so far."""
    return udp_table()["RcvbufErrors"]


def load_average():
    return os.getloadavg()[0]


class ThreadSample:
    """CPU seconds and wake-ups of every thread, taken at once."""

    def __init__(self, pid):
        self.pid = pid
        self.names = threads(pid)
        self.cpu, self.wakes = {}, {}
        for tid in self.names:
            try:
                self.cpu[tid] = thread_cpu(pid, tid)
                self.wakes[tid] = thread_switches(pid, tid)
            except OSError:
                pass

    def tid_named(self, name):
        for tid, n in self.names.items():
            if n == name:
                return tid
        return None
