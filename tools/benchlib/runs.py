"""One run of each kind: the installer with its INI writes traced, the bare WinINet loop
(fetch.exe) and curl, each a measured process with its transfer seconds and rate."""
import hashlib
import re
import subprocess
import tempfile

from harness import INSTALL_LOG, STATUS_FILE
from wintools import TOOLS_DIR, clear_payload_starts

from .proc import Run
from .traces import TRACE, names_file, notify_messages, timed_writes, window_texts

MIB = 1048576
# Seconds for one run. An installer run cut off at that time still gives a rate, from the
# percentage it had reached.
RUN_TIMEOUT = 240
NIM_MODIFY = 1


class InstallerRun:
    """One run of the installer with its INI writes traced (and, with relay, its window texts and
    tray-icon calls): the Run figures plus transfer seconds (from recording "Target" in the status
    file, just before the request is opened, to recording "Progress" = "100%" after the last
    block), the status-file writes, the time of the "Target: " install-log entry and, when
    watched, of the dialog becoming viewable."""

    def __init__(self, world, size, silent, relay=False, watch_display=False, location=None, keys=None,
                 timeout=RUN_TIMEOUT, keep_digest=False):
        installer = world.installer(size, silent, location, keys)
        world.prefix.reset_records()
        clear_payload_starts(world.prefix)
        world.clear_targets()
        self.visible_after = None

        def watch(elapsed):
            if self.visible_after is None and any(t == "File Download" or "% completed" in t
                                                  for t in world.display.viewable_titles()):
                self.visible_after = elapsed

        env = {"WINEDEBUG": TRACE + (",+relay" if relay else "")}
        with tempfile.TemporaryFile() as err:
            self.run = Run(lambda: world.prefix.popen([installer.path], env=env, stderr=err), world, timeout,
                           tick=watch if watch_display else None)
            err.seek(0)
            trace = err.read().decode("utf-8", errors="replace")
        whole = not self.run.timed_out and world.target.exists() and world.target.stat().st_size == size
        self.digest = file_digest(world.target) if whole and keep_digest else None
        world.clear_targets()
        writes = timed_writes(trace)
        status = [w for w in writes if names_file(w[4], STATUS_FILE)]
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
        entry = [w[0] for w in writes if names_file(w[4], INSTALL_LOG) and (w[3] or "").startswith("Target: ")]
        self.target_after = entry[0] - self.run.start if entry else None
        if relay:
            self._count_display(trace)

    def _count_display(self, trace):
        texts = window_texts(trace)
        notify = notify_messages(trace)
        self.title_updates = len([t for _, t in texts if "% completed - " in t])
        self.tooltip_updates = notify.count(NIM_MODIFY)
        rate = [when for when, t in texts if t.endswith("/Sec")]
        self.rate_updates = len(rate)
        self.time_left_updates = len([t for _, t in texts if t.endswith("copied)")])
        self.blank_status_updates = len([t for _, t in texts if t == " "])
        gaps = [b - a for a, b in zip(rate, rate[1:])]
        self.shortest_rate_gap = min(gaps) if gaps else None


def file_digest(path):
    """The SHA-256 of a file as hex digits."""
    with open(path, "rb") as f:
        return hashlib.file_digest(f, "sha256").hexdigest()


def fetch_run(world, size, block, callback=False):
    """fetch.exe --block N --out FILE [--callback 1]: the Run with transfer = its own seconds (send to
    end of body)."""
    args = [TOOLS_DIR / "fetch.exe", world.url(size), "--block", block, "--out", world.prefix.windows_path(world.scratch)]
    if callback:
        args += ["--callback", 1]
    world.scratch.unlink(missing_ok=True)
    with tempfile.TemporaryFile() as out:
        run = Run(lambda: world.prefix.popen(args, stdout=out), world, RUN_TIMEOUT)
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
                                            world.url(size)], stdout=out, stderr=subprocess.DEVNULL), world,
                  RUN_TIMEOUT)
        out.seek(0)
        text = out.read().decode()
    ok = run.exit == 0 and world.scratch.exists() and world.scratch.stat().st_size == size
    world.scratch.unlink(missing_ok=True)
    _settle(run, float(text) if ok and not run.timed_out else None, size)
    return run
