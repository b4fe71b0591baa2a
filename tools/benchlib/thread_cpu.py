#!/usr/bin/env python3
"""Where a download's CPU goes, thread by thread: installer builds side by side (and the bare loop),
round after round, each thread's user + system seconds read from /proc every 50 ms and taken between
the status file's "Target" and "Progress" = "100%" writes; the wineserver's and Xvfb's likewise.
Runs in a Wine world that tools/wine-env.sh started; tools/thread-cpu starts one and runs this.

usage: thread_cpu.py MIB ROUNDS NAME=EXE[:VAR=VALUE;...] ... [--bare]
A NAME ending in -s runs silent only, in -d with the dialog only, otherwise both; VAR=VALUE go into
that variant's environment. Prints each run and the medians per case."""
import os
import pathlib
import re
import statistics
import sys
import tempfile
import threading
import time

SOURCE_DIR = pathlib.Path(os.environ.get("SETUP_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
sys.path.insert(0, str(SOURCE_DIR / "tests" / "e2e"))
sys.path.insert(0, str(SOURCE_DIR / "tools"))

from harness import STATUS_FILE, Installer, Prefix, config_text  # noqa: E402
from servers import Nginx  # noqa: E402
from wintools import TOOLS_DIR, make_package  # noqa: E402

from benchlib.proc import CLOCK_TICKS, RAW_CLOCK, cpu_seconds, wineserver_pid, xvfb_pid  # noqa: E402
from benchlib.runs import MIB  # noqa: E402
from benchlib.traces import TRACE, names_file, timed_writes  # noqa: E402


def thread_seconds(pid):
    """{thread id: user + system seconds} of a live process."""
    found = {}
    try:
        for task in pathlib.Path(f"/proc/{pid}/task").iterdir():
            try:
                fields = (task / "stat").read_text().rsplit(")", 1)[1].split()
                found[int(task.name)] = (int(fields[11]) + int(fields[12])) / CLOCK_TICKS
            except (OSError, IndexError):
                continue
    except OSError:
        pass
    return found


def sampled(start, server, xvfb):
    """Runs `start()` to its end: (samples of (time, threads, wineserver s, Xvfb s), pid, CPU s)."""
    samples, stop = [], threading.Event()
    process = start()

    def poll():
        while not stop.is_set():
            samples.append((time.clock_gettime(RAW_CLOCK), thread_seconds(process.pid), cpu_seconds(server),
                            cpu_seconds(xvfb)))
            time.sleep(0.05)

    poller = threading.Thread(target=poll, daemon=True)
    poller.start()
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    stop.set()
    poller.join()
    return samples, process.pid, usage.ru_utime + usage.ru_stime


def upto(samples, moment):
    """Each thread's last reading at or before `moment` (a thread that ended keeps its last one)."""
    threads, server, x = {}, 0.0, 0.0
    for when, readings, server_now, x_now in samples:
        if when > moment:
            break
        threads.update(readings)
        server = server_now if server_now is not None else server
        x = x_now if x_now is not None else x
    return threads, server, x


def installer_row(samples, pid, cpu, trace):
    writes = [w for w in timed_writes(trace) if names_file(w[4], STATUS_FILE)]
    begin = [w[0] for w in writes if w[2] == "Target"]
    end = [w[0] for w in writes if w[2] == "Progress" and w[3] == "100%"]
    if not begin or not end:
        return None
    (before, server0, x0), (after, server1, x1) = upto(samples, begin[0]), upto(samples, end[-1])
    spent = {tid: seconds - before.get(tid, 0.0) for tid, seconds in after.items()}
    main = spent.pop(pid, 0.0)  # the process's first thread runs the dialog
    others = sorted(spent.values(), reverse=True)
    return dict(transfer=end[-1] - begin[0], worker=others[0] if others else 0.0, main=main,
                others=sum(others[1:]), wineserver=server1 - server0, xvfb=x1 - x0, whole=cpu)


def main():
    size, rounds = int(sys.argv[1]) * MIB, int(sys.argv[2])
    variants = []
    for argument in sys.argv[3:]:
        if "=" not in argument or argument.startswith("--"):
            continue
        name, rest = argument.split("=", 1)
        path, _, assignments = rest.partition(":")
        env = dict(a.split("=", 1) for a in assignments.split(";") if a)
        for mode in ("silent", "dialog"):
            if not (name.endswith("-d") and mode == "silent" or name.endswith("-s") and mode == "dialog"):
                variants.append((name, mode, path, env))
    prefix = Prefix()
    server, xvfb = wineserver_pid(prefix.path), xvfb_pid()
    docroot = pathlib.Path(tempfile.mkdtemp(prefix="thread-cpu-"))
    make_package(docroot / "files" / f"{size}.exe", size)
    results = {}

    def note(key, row):
        results.setdefault(key, []).append(row)
        print(f"{key[0]:12} {key[1]:6} " + " ".join(f"{k}={v:.2f}" for k, v in row.items()), flush=True)

    with Nginx(docroot) as http:
        url = http.url(f"/files/{size}.exe")
        installers = {}
        for name, mode, path, env in variants:
            installer = Installer(prefix, source=path, directory=f"thread-cpu-{name}-{mode}")
            installer.stamp(config_text(WebFile64=url, Caption="Quillmoor Internet Security",
                                        CompanyNameShort="Quillmoor", progressbar="0" if mode == "silent" else "1"))
            installers[(name, mode)] = (installer, env)
        for _ in range(rounds):
            for key, (installer, env) in installers.items():
                prefix.reset_records()
                prefix.clear_work_folders()
                with tempfile.TemporaryFile() as err:
                    samples, pid, cpu = sampled(
                        lambda: prefix.popen([installer.path], env={"WINEDEBUG": TRACE, **env}, stderr=err), server, xvfb)
                    err.seek(0)
                    row = installer_row(samples, pid, cpu, err.read().decode("utf-8", errors="replace"))
                if row:
                    note(key, row)
                else:
                    print(f"{key[0]} {key[1]}: no complete transfer", flush=True)
            if "--bare" in sys.argv:
                out_file = prefix.temp_dir / "thread-cpu.out"
                args = [TOOLS_DIR / "fetch.exe", url, "--block", 1024, "--out", prefix.windows_path(out_file)]
                with tempfile.TemporaryFile() as out:
                    samples, _, cpu = sampled(lambda: prefix.popen(args, stdout=out), server, xvfb)
                    out.seek(0)
                    found = re.search(r"seconds=([\d.]+)", out.read().decode("latin-1"))
                out_file.unlink(missing_ok=True)
                if found:
                    note(("bare", "-"), dict(transfer=float(found[1]), whole=cpu,
                                             wineserver=(samples[-1][2] or 0) - (samples[0][2] or 0)))
        for installer, _ in installers.values():
            installer.remove()
    print("medians; load average", " ".join(f"{x:.2f}" for x in os.getloadavg()))
    for (name, mode), rows in results.items():
        print(f"{name:12} {mode:6} n={len(rows)} " +
              " ".join(f"{k}={statistics.median(r[k] for r in rows):.2f}" for k in rows[0]))


if __name__ == "__main__":
    main()
