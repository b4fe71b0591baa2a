#!/usr/bin/env python3
"""Measures the installer beside a bare WinINet loop and curl, all in one run against nginx on
127.0.0.1: size, download throughput and CPU, record and display updates, start-up latency and
peak working set. Prints the tables and writes them to docs/performance.md.

Runs in the Wine world that tools/bench started (tools/wine-env.sh) and reuses the end-to-end
harness. A benchmark, not a test: no figure is judged here beyond saying whether a budget holds;
the exit status is 1 only when a figure could not be measured."""
import ctypes
import datetime
import os
import pathlib
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

SOURCE_DIR = pathlib.Path(os.environ.get("SETUP_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[1]))
sys.path.insert(0, str(SOURCE_DIR / "tests" / "e2e"))

from harness import BINARY_DIR, INSTALL_LOG, STATE_DIR, STATUS_FILE, Installer, Prefix, config_text, record_writes  # noqa: E402
from servers import Nginx  # noqa: E402
from wintools import TOOLS_DIR, clear_payload_starts, make_package  # noqa: E402

MIB = 1048576
BIG = 200 * MIB
SMALL = 10 * MIB
STARTUP_PACKAGE = 2 * MIB
ROUNDS = 3
STARTUP_RUNS = 5
# Seconds for one run. An installer run cut off at that time still gives a rate, from the
# percentage it had reached.
RUN_TIMEOUT = 240
# A case whose last run took less than this runs in every round, budget or not.
CHEAP_RUN = 10.0
# Seconds of measuring after which no further round starts; the first round always runs.
BUDGET = float(os.environ.get("BENCH_BUDGET", "540"))
CAPTION = "Quillmoor Internet Security"
TARGET_NAME = "~setup.exe"
OUTPUT = SOURCE_DIR / "docs" / "performance.md"
RAW_CLOCK = time.CLOCK_MONOTONIC_RAW  # the clock of Wine's +timestamp debug prefix, in seconds
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
TRACE = "-all,+timestamp,trace+profile"
RELAY_INCLUDE = "user32.SetWindowTextA;shell32.Shell_NotifyIconA"
DEBUG_KEY = r"HKCU\Software\Wine\Debug"
# The worker decides by GetTickCount, the gap is seen at the later SetWindowTextA call: the tick's
# granularity and the cross-thread call's latency can shorten a gap by some milliseconds.
GAP_FLOOR = 0.95

problems = []


def note_problem(text):
    problems.append(text)
    print(f"bench: cannot measure: {text}", file=sys.stderr)


# --- Processes and clocks ---------------------------------------------------------------------

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


class Run:
    """One measured process: wall seconds, its own CPU seconds (rusage of the process and what it
    waited for), the CPU seconds the wineserver and Xvfb spent meanwhile, its peak resident set in
    KiB, the raw-clock start, exit code, and timed_out."""

    def __init__(self, start_process, world, timeout=RUN_TIMEOUT, tick=None):
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


OWN_NAME = pathlib.Path("/proc/self/comm").read_text()


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


def _delta(before, after):
    return None if before is None or after is None else after - before


# --- The display ------------------------------------------------------------------------------

class _XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", ctypes.c_ulong), ("class_", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong),
                ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


_IS_VIEWABLE = 2
_X_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)


class Display:
    """The titles of the viewable top-level windows on the Xvfb display, read straight from the X
    server: a poll costs a few round trips, no Wine process, so it can run every few milliseconds."""

    def __init__(self, name):
        x = ctypes.CDLL("libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                 ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                 ctypes.POINTER(ctypes.c_uint)]
        x.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(_XWindowAttributes)]
        x.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_void_p)]
        x.XFree.argtypes = [ctypes.c_void_p]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        # A window may vanish between the listing and the question; the default handler would exit.
        self._ignore = _X_ERROR_HANDLER(lambda display, event: 0)
        x.XSetErrorHandler(self._ignore)
        self.x = x
        self.dpy = x.XOpenDisplay(name.encode())
        if not self.dpy:
            raise RuntimeError(f"cannot open X display {name}")
        self.root = x.XDefaultRootWindow(self.dpy)

    def viewable_titles(self):
        x, root, parent = self.x, ctypes.c_ulong(), ctypes.c_ulong()
        children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not x.XQueryTree(self.dpy, self.root, ctypes.byref(root), ctypes.byref(parent), ctypes.byref(children),
                            ctypes.byref(count)):
            return []
        titles = []
        for i in range(count.value):
            attributes = _XWindowAttributes()
            if not x.XGetWindowAttributes(self.dpy, children[i], ctypes.byref(attributes)):
                continue
            if attributes.map_state != _IS_VIEWABLE:
                continue
            name = ctypes.c_void_p()
            if x.XFetchName(self.dpy, children[i], ctypes.byref(name)) and name.value:
                titles.append(ctypes.string_at(name.value).decode("latin-1"))
                x.XFree(name)
        if children:
            x.XFree(children)
        return titles

    def close(self):
        self.x.XCloseDisplay(self.dpy)


# --- The world --------------------------------------------------------------------------------

class World:
    """The prefix, its wineserver and Xvfb, the packages on nginx and one stamped installer per
    (package, mode)."""

    def __init__(self, server, docroot):
        self.prefix = Prefix()
        self.server_http = server
        self.docroot = docroot
        self.xvfb = xvfb_pid()
        if wineserver_pid(self.prefix.path) is None:
            raise RuntimeError("no wineserver for the prefix")
        self.display = Display(self.prefix.env["DISPLAY"])
        self.installers = {}
        self.target = self.prefix.temp_dir / TARGET_NAME
        self.scratch = self.prefix.temp_dir / "bench.out"

    def url(self, size):
        return self.server_http.url(f"/files/{size}.exe")

    def installer(self, size, silent):
        key = (size, silent)
        if key not in self.installers:
            installer = Installer(self.prefix, directory=f"bench-{size}-{'silent' if silent else 'dialog'}")
            installer.stamp(config_text(WebFile64=self.url(size), Caption=CAPTION, CompanyNameShort="Quillmoor",
                                        progressbar="0" if silent else "1"))
            self.installers[key] = installer
        return self.installers[key]

    def close(self):
        for installer in self.installers.values():
            installer.remove()
        self.display.close()
        for path in (self.target, self.scratch):
            path.unlink(missing_ok=True)


# --- One run of each kind ---------------------------------------------------------------------

_STAMP = re.compile(r"^\s*(\d+\.\d+):")
_SET_TEXT = re.compile(r'^\s*(\d+\.\d+):[0-9a-f]+:Call user32\.SetWindowTextA\([0-9a-f]+,[0-9a-f]+ "(.*)"\) ret=')
_NOTIFY = re.compile(r"^\s*(\d+\.\d+):[0-9a-f]+:Call shell32\.Shell_NotifyIconA\(([0-9a-f]+),")
NIM_MODIFY = 1


def timed_writes(trace):
    """The INI writes of a +timestamp,trace+profile log: (time, section, key, value, file)."""
    writes = []
    for line in trace.splitlines():
        stamp = _STAMP.match(line)
        found = record_writes(line) if stamp and "WritePrivateProfileStringW" in line else []
        writes += [(float(stamp[1]),) + tuple(found[0])] if found else []
    return writes


def _is(path, name):
    return (path or "").lower().endswith(name.lower())


class InstallerRun:
    """One run of the installer with its INI writes traced (and, with relay, its window texts and
    tray-icon calls): the Run figures plus transfer seconds (from recording "Target" in the status
    file, just before the request is opened, to recording "Progress" = "100%" after the last
    block), the status-file writes, the time of the "Target: " install-log entry and, when
    watched, of the dialog becoming viewable."""

    def __init__(self, world, size, silent, relay=False, watch_display=False):
        installer = world.installer(size, silent)
        world.prefix.reset_records()
        clear_payload_starts(world.prefix)
        world.target.unlink(missing_ok=True)
        self.visible_after = None

        def watch(elapsed):
            if self.visible_after is None and any(t == "File Download" or "% completed" in t
                                                  for t in world.display.viewable_titles()):
                self.visible_after = elapsed

        env = {"WINEDEBUG": TRACE + (",+relay" if relay else "")}
        with tempfile.TemporaryFile() as err:
            self.run = Run(lambda: world.prefix.popen([installer.path], env=env, stderr=err), world,
                           tick=watch if watch_display else None)
            err.seek(0)
            trace = err.read().decode("utf-8", errors="replace")
        whole = not self.run.timed_out and world.target.exists() and world.target.stat().st_size == size
        world.target.unlink(missing_ok=True)
        writes = timed_writes(trace)
        status = [w for w in writes if _is(w[4], STATUS_FILE)]
        self.status_writes = len(status)
        progress = [(w[0], w[3]) for w in status if w[2] == "Progress" and w[3]]
        self.progress_writes = len(progress)
        self.progress_in_order = [value for _, value in progress] == [f"{n}%" for n in range(1, 101)]
        started = [w[0] for w in status if w[2] == "Target"]
        self.reached = int(progress[-1][1].rstrip("%")) if progress else 0
        self.complete = (whole and bool(started) and self.reached == 100 and
                         ("Status", "Downloaded", "true") in [w[1:4] for w in status])
        self.transfer = progress[-1][0] - started[0] if self.complete else None
        # A run cut off by the timeout is measured up to its last percentage.
        seconds = progress[-1][0] - started[0] if started and progress else 0
        cut = self.run.timed_out and self.reached > 0
        self.rate = size * self.reached / 100 / MIB / seconds if (self.complete or cut) and seconds > 0 else None
        entry = [w[0] for w in writes if _is(w[4], INSTALL_LOG) and (w[3] or "").startswith("Target: ")]
        self.target_after = entry[0] - self.run.start if entry else None
        if relay:
            self._count_display(trace)

    def _count_display(self, trace):
        texts = [(float(m[1]), m[2]) for m in map(_SET_TEXT.match, trace.splitlines()) if m]
        notify = [int(m[2], 16) for m in map(_NOTIFY.match, trace.splitlines()) if m]
        self.title_updates = len([t for _, t in texts if "% completed - " in t])
        self.tooltip_updates = notify.count(NIM_MODIFY)
        rate = [when for when, t in texts if t.endswith("/Sec")]
        self.rate_updates = len(rate)
        self.time_left_updates = len([t for _, t in texts if t.endswith("copied)")])
        self.blank_status_updates = len([t for _, t in texts if t == " "])
        gaps = [b - a for a, b in zip(rate, rate[1:])]
        self.shortest_rate_gap = min(gaps) if gaps else None


def fetch_run(world, size, block):
    """fetch.exe --block N --out FILE: the Run with transfer = its own seconds (send to end of body)."""
    args = [TOOLS_DIR / "fetch.exe", world.url(size), "--block", block, "--out", world.prefix.windows_path(world.scratch)]
    world.scratch.unlink(missing_ok=True)
    with tempfile.TemporaryFile() as out:
        run = Run(lambda: world.prefix.popen(args, stdout=out), world)
        out.seek(0)
        text = out.read().decode("latin-1")
    m = re.search(r"status=200 length=\S+ bytes=(\d+) seconds=([\d.]+)", text)
    ok = m and int(m[1]) == size and world.scratch.exists() and world.scratch.stat().st_size == size
    world.scratch.unlink(missing_ok=True)
    _settle(run, float(m[2]) if ok and not run.timed_out else None, size)
    return run


def _settle(run, transfer, size):
    run.transfer, run.complete = transfer, transfer is not None
    run.rate = size / MIB / transfer if transfer else None
    run.reached = 100 if transfer is not None else 0


def curl_run(world, size):
    """curl -o FILE: the Run with transfer = curl's own total time."""
    world.scratch.unlink(missing_ok=True)
    with tempfile.TemporaryFile() as out:
        run = Run(lambda: subprocess.Popen(["curl", "-s", "-o", str(world.scratch), "-w", "%{time_total}",
                                            world.url(size)], stdout=out, stderr=subprocess.DEVNULL), world)
        out.seek(0)
        text = out.read().decode()
    ok = run.exit == 0 and world.scratch.exists() and world.scratch.stat().st_size == size
    world.scratch.unlink(missing_ok=True)
    _settle(run, float(text) if ok and not run.timed_out else None, size)
    return run


# --- Figures ----------------------------------------------------------------------------------

def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def fmt(value, digits=2, unit=""):
    return "n/a" if value is None else f"{value:.{digits}f}{unit}"


def pe_sections(path):
    """(name, size of raw data, virtual size) of each section of a PE image."""
    data = pathlib.Path(path).read_bytes()
    pe = int.from_bytes(data[0x3C:0x40], "little")
    if data[pe:pe + 4] != b"PE\0\0":
        raise RuntimeError(f"{path} is no PE image")
    count = int.from_bytes(data[pe + 6:pe + 8], "little")
    optional = int.from_bytes(data[pe + 20:pe + 22], "little")
    table = pe + 24 + optional
    sections = []
    for i in range(count):
        entry = data[table + 40 * i:table + 40 * (i + 1)]
        name = entry[:8].rstrip(b"\0").decode("latin-1")
        sections.append((name, int.from_bytes(entry[16:20], "little"), int.from_bytes(entry[8:12], "little")))
    return sections


def command_text(args):
    return subprocess.run(args, capture_output=True, text=True).stdout.strip()


def machine():
    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo") if line.startswith("model name")), "?")
    memory = next((int(line.split()[1]) // 1024 for line in open("/proc/meminfo") if line.startswith("MemTotal")), 0)
    return {"nproc": os.cpu_count(), "cpu": cpu, "memory": f"{memory} MiB", "kernel": platform.release(),
            "wine": command_text(["wine", "--version"]), "nginx": command_text(["/usr/sbin/nginx", "-v"]) or
            subprocess.run(["/usr/sbin/nginx", "-v"], capture_output=True, text=True).stderr.strip(),
            "curl": command_text(["curl", "--version"]).splitlines()[0], "i386": i386_path(),
            "commit": command_text(["git", "-C", str(SOURCE_DIR), "describe", "--always", "--dirty"]) or "?"}


def i386_path():
    """How Wine's 32-bit side runs here: natively, or through an emulator that binfmt_misc hands every
    i386 ELF program to (tools/i386-env.sh). The emulator changes every CPU figure."""
    for entry in sorted(pathlib.Path("/proc/sys/fs/binfmt_misc").glob("*")):
        if entry.name in ("register", "status"):
            continue
        fields = dict(line.split(" ", 1) for line in entry.read_text().splitlines() if " " in line)
        if entry.read_text().startswith("enabled") and fields.get("magic", "").endswith("02000300") \
                and fields.get("magic", "").startswith("7f454c46010101"):
            emulator = fields.get("interpreter", "?")
            return f"emulated ({command_text([emulator, '--version']).splitlines()[0]}, through binfmt_misc)"
    return "native"


def load_average():
    return " ".join(pathlib.Path("/proc/loadavg").read_text().split()[:3])


# --- The bench --------------------------------------------------------------------------------

SILENT, DIALOG = "installer, silent (progressbar=0)", "installer, dialog (progressbar=1)"
BARE = "bare WinINet loop, 1024-byte reads"


class Bench:
    """The runs, in the order that keeps the whole under the time budget: start-up, the 10 MiB
    relay run, round after round of every download case, and the 200 MiB relay run if time is left."""

    def __init__(self, world, began):
        self.world, self.began = world, began
        self.cases = {SILENT: lambda: InstallerRun(world, BIG, silent=True),
                      DIALOG: lambda: InstallerRun(world, BIG, silent=False),
                      BARE: lambda: fetch_run(world, BIG, 1024),
                      "bare WinINet loop, 65536-byte reads": lambda: fetch_run(world, BIG, 65536),
                      "curl -o file": lambda: curl_run(world, BIG)}
        self.results = {name: [] for name in self.cases}
        self.small = {"silent": [], "dialog": []}
        self.counted = {}
        self.skipped = []

    def elapsed(self):
        return time.monotonic() - self.began

    def run(self):
        curl_run(self.world, BIG)  # the package into the page cache, so that no case pays for the disk
        self.starts = [InstallerRun(self.world, STARTUP_PACKAGE, silent=False, watch_display=True)
                       for _ in range(STARTUP_RUNS)]
        if any(r.target_after is None or r.visible_after is None for r in self.starts):
            note_problem("a start-up run left no \"Target: \" entry or showed no dialog")
        self.count_display(SMALL)
        self.rounds()
        estimate = self.counted[SMALL].run.wall * BIG / SMALL
        if self.elapsed() + estimate <= BUDGET:
            self.count_display(BIG)
        else:
            self.skipped.append(f"the 200 MiB relay run (about {estimate:.0f} s) did not fit the time budget")

    def rounds(self):
        """Each round runs every case once, so that a change in the machine's load falls on all cases
        alike. The first round runs in full; later, a case runs again only while its last run's
        length still fits the time budget (the slow installer cases drop out first), or when that run
        was cheap."""
        small = {f"10 MiB {mode}": (mode, lambda mode=mode: InstallerRun(self.world, SMALL, silent=mode == "silent"))
                 for mode in self.small}
        last, left_out = {}, {}
        for number in range(1, ROUNDS + 1):
            for name, case in list(self.cases.items()) + list(small.items()):
                if number > 1 and self.elapsed() + last[name] > BUDGET and last[name] >= CHEAP_RUN:
                    left_out[name] = left_out.get(name, 0) + 1
                    continue
                if name in small:
                    mode, run_it = case
                    result = run_it()
                    self.small[mode].append(result)
                else:
                    result = case()
                    self.results[name].append(result)
                measured = getattr(result, "run", result)
                last[name] = measured.wall
                if result.rate is None:
                    note_problem(f"{name}: run {number} failed, or timed out before 1%")
                print(f"bench: round {number}: {name}: {fmt(result.transfer, 2, ' s')} transfer, "
                      f"{measured.wall:.2f} s wall", flush=True)
        for name, count in left_out.items():
            self.skipped.append(f"{count} of the {ROUNDS} runs of \"{name}\" (about {last[name]:.1f} s each) did "
                                "not fit the time budget")

    def count_display(self, size):
        """An untimed dialog run with a relay trace of SetWindowTextA and Shell_NotifyIconA only: the
        dialog's window texts and the tray-icon updates, counted directly."""
        self.world.prefix.wine(["reg", "add", DEBUG_KEY, "/v", "RelayInclude", "/d", RELAY_INCLUDE, "/f"], check=True)
        try:
            self.counted[size] = InstallerRun(self.world, size, silent=False, relay=True)
        finally:
            self.world.prefix.wine(["reg", "delete", DEBUG_KEY, "/v", "RelayInclude", "/f"])
        if not self.counted[size].complete:
            note_problem(f"the relay run of {size // MIB} MiB failed")


def figures(runs):
    """Medians of a case's runs: MiB/s, transfer s (of whole runs), wall s, CPU s, wineserver CPU s,
    Xvfb CPU s, peak KiB; and the run count, with the percentages of cut runs."""
    base = [getattr(r, "run", r) for r in runs]
    cut = [f"{r.reached}%" for r in runs if not r.complete and r.rate]
    count = f"{len(runs)}" + (f" (cut at {', '.join(cut)})" if cut else "")
    return {"runs": count, "transfer": median([r.transfer for r in runs]), "rate": median([r.rate for r in runs]),
            "wall": median([b.wall for b in base]), "cpu": median([b.cpu for b in base]),
            "server": median([b.server_cpu for b in base]), "x": median([b.x_cpu for b in base]),
            "peak": median([b.peak_kib for b in base])}


def mib(kib):
    return None if kib is None else kib / 1024


def report(bench, info, size, sections, load_before, load_after):
    rows = {name: figures(runs) for name, runs in bench.results.items()}
    out = []
    add = out.append
    add("# Performance")
    add("")
    add(f"Measured by `{info['command']}` on {info['date']} (commit {info['commit']}), {bench.elapsed():.0f} s of "
        "measuring.")
    add("")
    add(f"Machine: {info['nproc']} CPUs ({info['cpu']}), {info['memory']} memory, Linux {info['kernel']}; "
        f"{info['wine']}; {info['nginx']}; {info['curl']}. Load average before/after: {load_before} / {load_after} "
        "(other work on the machine shows up in every case of a round alike).")
    add("")
    add(f"32-bit programs (Wine's 32-bit side, the installer): **{info['i386']}**.")
    add("")
    add("## Installer size")
    add("")
    add(f"`setup.exe` of the `win32` preset (MinSizeRel): **{size} bytes** ({size / 1024:.1f} KiB).")
    add("")
    add("| section | bytes in the file | virtual size |")
    add("| --- | ---: | ---: |")
    for name, raw, virtual in sections:
        add(f"| `{name}` | {raw} | {virtual} |")
    add("")
    add("## Download of a 200 MiB package")
    add("")
    add(f"nginx on 127.0.0.1 serves a {BIG} byte package (the test payload padded with zeros, so the installer "
        "starts it at the end as usual); median of the runs per case (up to "
        f"{ROUNDS}), the cases interleaved round by round. MiB/s is 1048576 bytes per second over the transfer "
        "time. Transfer: for the installer from recording \"Target\" in the status file (just before the request "
        "is opened) to recording \"Progress\" = \"100%\" (after the last block is written), timed by Wine's "
        "`+timestamp` trace; for the bare loop (`fetch.exe --block N --out file`) its own clock from sending the "
        "request to the end of the body; for curl its `time_total`. Wall: from starting the process to its end "
        "(the installer's includes start-up, its checks and the start of the downloaded package). CPU: user + "
        "system seconds of the process (its rusage); wineserver and Xvfb: what they spent meanwhile "
        "(/proc/<pid>/stat before and after). Peak: the process's peak resident set (VmHWM), polled. An installer "
        f"run still going after {RUN_TIMEOUT} s is ended and measured up to the last percentage it recorded (the "
        "runs column says where it was cut); its counts are left out below.")
    add("")
    add("| case | runs | MiB/s | transfer s | wall s | CPU s | wineserver CPU s | Xvfb CPU s | peak MiB |")
    add("| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |")
    for name, row in rows.items():
        add(f"| {name} | {row['runs']} | {fmt(row['rate'], 1)} | {fmt(row['transfer'])} | {fmt(row['wall'])} | "
            f"{fmt(row['cpu'])} | {fmt(row['server'])} | {fmt(row['x'])} | {fmt(mib(row['peak']), 1)} |")
    if bench.skipped:
        add("")
        add(f"Left out to keep the bench within {BUDGET:.0f} s of measuring (`BENCH_BUDGET`):")
        add("")
        for text in bench.skipped:
            add(f"- {text};")
        out[-1] = out[-1][:-1] + "."
    add("")
    add("## Status-file writes and display updates per download")
    add("")
    add("Status-file writes and \"Progress\" writes are counted from the trace of every INI write "
        "(`WINEDEBUG=trace+profile`) of each whole run above and of the 10 MiB runs beside them (every distinct "
        "count is listed). Each whole-percent change writes \"Progress\" together with the dialog title and the tray "
        "tooltip (`ShowPercentage`). The window texts and tray-icon calls are counted directly in separate, "
        "untimed dialog runs with a relay trace of `SetWindowTextA` and `Shell_NotifyIconA` only; gaps between "
        "rate refreshes are taken at those calls, after the worker's tick read, so the tick's granularity and "
        f"the cross-thread call's latency may shorten one by some milliseconds (the budget allows {GAP_FLOOR} s).")
    add("")
    timed = {SMALL: bench.small, BIG: {"silent": bench.results[SILENT], "dialog": bench.results[DIALOG]}}
    counted = {size: bench.counted.get(size) for size in (SMALL, BIG)}
    add("| figure | 10 MiB | 200 MiB |")
    add("| --- | ---: | ---: |")
    for mode in ("silent", "dialog"):
        add(f"| status-file writes, {mode} | {_counts(timed[SMALL][mode], 'status_writes')} | "
            f"{_counts(timed[BIG][mode], 'status_writes')} |")
        add(f"| of them \"Progress\" with a percentage, {mode} | {_counts(timed[SMALL][mode], 'progress_writes')} | "
            f"{_counts(timed[BIG][mode], 'progress_writes')} |")
    labels = [("title_updates", "dialog title set to \"N% completed - ...\""),
              ("tooltip_updates", "tray tooltip changes (`NIM_MODIFY`)"),
              ("rate_updates", "rate line refreshes"), ("time_left_updates", "time-left line refreshes"),
              ("blank_status_updates", "status line set to \" \" (a WinINet notification)"),
              ("transfer", "transfer s"),
              ("shortest_rate_gap", "shortest gap between rate refreshes, s")]
    for attribute, label in labels:
        cells = [_relay_cell(counted[size], attribute) for size in (SMALL, BIG)]
        add(f"| {label} (relay run) | {cells[0]} | {cells[1]} |")
    add("")
    add("## Start-up")
    add("")
    add(f"From starting the process (`wine setup.exe`, the dialog mode, a {STARTUP_PACKAGE // MIB} MiB package) to "
        "the \"Target: \" install-log entry (its write, timed by Wine's `+timestamp` trace, which uses the same "
        "monotonic clock as this script) and to the download dialog being viewable on the X display (its top-level "
        f"X window mapped, polled every 2 ms); {STARTUP_RUNS} runs.")
    add("")
    add("| figure | median | runs |")
    add("| --- | ---: | --- |")
    for attribute, label in (("target_after", "to the \"Target: \" entry"), ("visible_after", "to the dialog viewable")):
        values = [getattr(r, attribute) for r in bench.starts]
        add(f"| {label} | {fmt(median(values), 3, ' s')} | {', '.join(fmt(v, 3) for v in values)} |")
    add("")
    add("## Peak working set")
    add("")
    add("Under Wine the Windows process is one Linux process, and its peak resident set (VmHWM in "
        "/proc/<pid>/status, polled every 20 ms) is the nearest thing to the Windows peak working set. It "
        "includes Wine's own libraries mapped into the process, so it is a ceiling of the installer's own "
        "footprint; what matters is whether it grows with the package. Median of the runs above.")
    add("")
    peaks = {"silent": (median([r.run.peak_kib for r in bench.small["silent"]]), rows[SILENT]["peak"]),
             "dialog": (median([r.run.peak_kib for r in bench.small["dialog"]]), rows[DIALOG]["peak"])}
    add("| mode | 10 MiB | 200 MiB |")
    add("| --- | ---: | ---: |")
    for mode, (small_peak, big_peak) in peaks.items():
        add(f"| {mode} | {fmt(mib(small_peak), 1)} MiB | {fmt(mib(big_peak), 1)} MiB |")
    add("")
    add("## Budget lines")
    add("")
    add("| budget | holds | measured |")
    add("| --- | --- | --- |")
    for line in budgets(size, rows, timed, counted, peaks):
        add("| " + " | ".join(line) + " |")
    add("")
    return "\n".join(out)


def _counts(runs, attribute):
    """Every distinct value among the whole runs."""
    return ", ".join(str(v) for v in sorted({getattr(r, attribute) for r in runs if r.complete})) or "n/a"


def _relay_cell(run, attribute):
    if run is None:
        return "skipped"
    if not run.complete:
        return f"n/a (cut at {run.reached}%)"
    value = getattr(run, attribute)
    return fmt(value, 3) if isinstance(value, float) or value is None else str(value)


def _holds(condition):
    return "n/a" if condition is None else ("yes" if condition else "**no**")


def budgets(size, rows, timed, counted, peaks):
    bare = rows[BARE]
    lines = [("installer <= 128 KiB (131072 bytes)", _holds(size <= 131072), f"{size} bytes")]
    for name, label, floor in ((DIALOG, "dialog", 0.9), (SILENT, "silent", 0.95)):
        ratio = rows[name]["rate"] / bare["rate"] if rows[name]["rate"] and bare["rate"] else None
        lines.append((f"{label} download >= {floor}x the bare 1024-byte loop",
                      _holds(None if ratio is None else ratio >= floor),
                      f"{fmt(ratio, 2, 'x')} ({fmt(rows[name]['rate'], 1)} vs {fmt(bare['rate'], 1)} MiB/s)"))
    installer_runs = [r for runs in timed.values() for rs in runs.values() for r in rs if r.complete]
    in_order = all(r.progress_in_order for r in installer_runs)
    progress = sorted({r.progress_writes for r in installer_runs})
    lines.append(("exactly one status-file write per whole-percent change",
                  _holds(in_order if installer_runs else None),
                  f"{len(installer_runs)} whole runs of 10 and 200 MiB: \"Progress\" written "
                  + " or ".join(map(str, progress)) + " times, "
                  + ("1% to 100% once each, in order" if in_order else "not 1% to 100% once each")))
    relays = [c for c in counted.values() if c is not None and c.complete]
    gaps = [c.shortest_rate_gap for c in relays if c.shortest_rate_gap is not None]
    per_second = all(max(c.rate_updates, c.time_left_updates) <= c.transfer + 1 for c in relays)
    lines.append(("at most one rate/time-left refresh per second",
                  _holds(min(gaps) >= GAP_FLOOR and per_second if gaps else None),
                  "; ".join([f"shortest gap {min(gaps):.3f} s"] if gaps else ["no whole relay run"]) +
                  "".join(f"; {c.rate_updates} rate and {c.time_left_updates} time-left refreshes in "
                          f"{c.transfer:.1f} s" for c in relays)))
    growth = [big - small for small, big in peaks.values() if small and big]
    lines.append(("working set not growing with package size",
                  _holds(all(g < 1024 for g in growth) if growth else None),
                  "; ".join(f"{mode} {fmt(mib(s), 1)} -> {fmt(mib(b), 1)} MiB" for mode, (s, b) in peaks.items())))
    return lines


def main():
    began = time.monotonic()
    setup = BINARY_DIR / "setup.exe"
    if not setup.exists():
        print(f"bench: no installer at {setup}", file=sys.stderr)
        return 1
    info = machine()
    info["date"] = datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z")
    build_dir = os.environ.get("SETUP_BUILD_DIR", str(SOURCE_DIR / "build"))
    info["command"] = "tools/bench" if pathlib.Path(build_dir) == SOURCE_DIR / "build" else \
        f"SETUP_BUILD_DIR={build_dir} tools/bench"
    load_before = load_average()
    size, sections = setup.stat().st_size, pe_sections(setup)
    docroot = pathlib.Path(tempfile.mkdtemp(prefix="bench-docroot-"))
    world = None
    prefix = Prefix()
    prefix.set_windows_version("win7")
    try:
        for package in (BIG, SMALL, STARTUP_PACKAGE):
            make_package(docroot / "files" / f"{package}.exe", package)
        with Nginx(docroot) as server:
            world = World(server, docroot)
            bench = Bench(world, began)
            bench.run()
        text = report(bench, info, size, sections, load_before, load_average())
    finally:
        if world:
            world.close()
        prefix.set_windows_version(None)
        shutil.rmtree(docroot, ignore_errors=True)
    OUTPUT.parent.mkdir(parents=True, exist_ok=True)
    OUTPUT.write_text(text)
    print(text)
    print(f"bench: wrote {OUTPUT} after {time.monotonic() - began:.0f} s")
    if problems:
        print(f"bench: {len(problems)} figure(s) could not be measured", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
