"""Processes as /proc and the kernel see them: CPU seconds, peak resident set, the wineserver and
Xvfb of the Wine world, and one measured run of a process."""
import os
import pathlib
import re
import threading
import time

from harness import STATE_DIR

RAW_CLOCK = time.CLOCK_MONOTONIC_RAW  # the clock of Wine's +timestamp debug prefix, in seconds
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
OWN_NAME = pathlib.Path("/proc/self/comm").read_text()


def cpu_seconds(pid):
    """User plus system CPU seconds of a live process so far; None once it is gone."""
    try:
        fields = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    except (OSError, IndexError):
        return None
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def wineserver_pid(prefix_path):
    """The running wineserver of a prefix, the newest if one is still on its way out: it works in a
    directory named after the prefix's device and inode."""
    st = os.stat(prefix_path)
    suffix = f"/server-{st.st_dev:x}-{st.st_ino:x}"
    found = []
    for proc in pathlib.Path("/proc").iterdir():
        if not proc.name.isdigit():
            continue
        try:
            if (proc / "comm").read_text().startswith("wineserver") and os.readlink(proc / "cwd").endswith(suffix):
                fields = (proc / "stat").read_text().rsplit(")", 1)[1].split()
                if fields[0] not in "ZX":
                    found.append((int(fields[19]), int(proc.name)))
        except (OSError, IndexError):
            continue
    return max(found)[1] if found else None


def xvfb_pid():
    try:
        return int((STATE_DIR / "xvfb.pid").read_text())
    except (OSError, ValueError):
        return None


def peak_resident_kib(pid):
    """VmHWM of a process once it runs its own image; None before (the forked copy of this script
    would report this script's size) and after its end. rusage's ru_maxrss cannot serve: it keeps
    the size the process had before exec."""
    try:
        status = pathlib.Path(f"/proc/{pid}/status").read_text()
    except OSError:
        return None
    if status.startswith(f"Name:\t{OWN_NAME}"):
        return None
    found = re.search(r"^VmHWM:\s+(\d+) kB", status, re.M)
    return int(found[1]) if found else None


class Run:
    """One measured process: wall seconds, its own CPU seconds (rusage of the process and what it
    waited for), the CPU seconds the wineserver and Xvfb spent meanwhile, its peak resident set in
    KiB, the raw-clock start, exit code, and timed_out (killed after timeout seconds)."""

    def __init__(self, start_process, world, timeout, tick=None):
        server = wineserver_pid(world.prefix.path)
        server_before, x_before = cpu_seconds(server), cpu_seconds(world.xvfb)
        self.start = time.clock_gettime(RAW_CLOCK)
        process = start_process()
        reaped = {}

        def reap():
            reaped["wait"] = os.wait4(process.pid, 0)
            reaped["end"] = time.clock_gettime(RAW_CLOCK)

        waiter = threading.Thread(target=reap, daemon=True)
        waiter.start()
        deadline = self.start + timeout
        self.peak_kib = None
        while waiter.is_alive() and time.clock_gettime(RAW_CLOCK) < deadline:
            self.peak_kib = max(filter(None, (self.peak_kib, peak_resident_kib(process.pid))), default=None)
            if tick:
                tick(time.clock_gettime(RAW_CLOCK) - self.start)
            time.sleep(0.002 if tick else 0.02)
        waiter.join(max(0.0, deadline - time.clock_gettime(RAW_CLOCK)))
        self.timed_out = waiter.is_alive()
        if self.timed_out:
            process.kill()
            waiter.join(30)
        _, status, usage = reaped["wait"]
        process.returncode = os.waitstatus_to_exitcode(status)  # reaped here, not by Popen
        self.exit = process.returncode
        self.wall = reaped["end"] - self.start
        self.cpu = usage.ru_utime + usage.ru_stime
        self.server_cpu = _delta(server_before, cpu_seconds(server))
        self.x_cpu = _delta(x_before, cpu_seconds(world.xvfb))


def _delta(before, after):
    return None if before is None or after is None else after - before
