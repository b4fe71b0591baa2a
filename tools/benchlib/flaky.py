"""The flaky-link case: the package served with byte ranges by a scripted server that ends every
connection after a fixed number of body bytes, fetched by the installer with Retries and by curl
with --retry, each beside the same client through the same server uncut."""
import email.utils
import os
import re
import socket
import subprocess
import threading
import time

from harness import INSTALL_LOG, entries, read_ini
from servers import ScriptedServer
from wintools import payload_starts, wait_for_starts

from .proc import Run
from .runs import MIB, InstallerRun, file_digest

CUT = 20 * MIB
RETRIES = 10
CURL_DELAY = 2
# curl's own --retry (with --retry-all-errors, as a cut is none of its transient errors) asks for the
# whole file again each time, -C - or not: it resumes only when started again, so it runs in a loop.
CURL_LOOP = (f'for attempt in $(seq 0 {RETRIES}); do curl -s -C - -o "$0" "$1" && exit 0; sleep {CURL_DELAY}; done; '
             "exit 1")
# A cut run waits through its back-offs on top of the transfer: at most 30 s before each attempt.
CUT_RUN_TIMEOUT = 240 + 30 * RETRIES
# The installer's status line before a further attempt says how long it waits, as string 117 or
# 118 puts it ("Connection lost, trying again in 8 seconds (attempt 2 of 4)...", "... in 1.4 seconds ...").
_ANNOUNCED_WAIT = re.compile(r"trying again in (\d+(?:\.\d)?) seconds \(attempt ")
_RANGE = re.compile(r"^bytes=(\d+)-(\d*)$")
_REASONS = {200: "OK", 206: "Partial Content", 416: "Range Not Satisfiable"}


class RangedFile:
    """A behaviour of the ScriptedServer: serves one file to GET and HEAD with its length, a strong
    ETag, Last-Modified and Accept-Ranges. "Range: bytes=N-" or "bytes=N-M" gets 206 with
    Content-Range unless an If-Range names another validator (then the whole file, 200); a range
    past the end gets 416. With `cut`, an answer sends at most that many body bytes and then ends the
    connection in order, before its announced length. Counts every byte it sends (heads and bodies)
    and keeps one (seconds since start, status, first byte, body bytes sent) per request."""

    def __init__(self, path, cut=None):
        self.path, self.cut = path, cut
        stat = os.stat(path)
        self.size = stat.st_size
        self.etag = f'"{int(stat.st_mtime):x}-{self.size:x}"'
        self.last_modified = email.utils.formatdate(stat.st_mtime, usegmt=True)
        self.lock = threading.Lock()
        self.reset()

    def reset(self):
        with self.lock:
            self.started = time.monotonic()
            self.bytes_sent = 0
            self.answers = []

    def _range(self, request):
        """(status, first, last) for the request: 200 with the whole file, 206 with a range, or 416."""
        whole = (200, 0, self.size - 1)
        found = _RANGE.match(request.headers.get("range", "").replace(" ", ""))
        if not found:
            return whole
        validator = request.headers.get("if-range")
        if validator is not None and validator not in (self.etag, self.last_modified):
            return whole
        first = int(found[1])
        last = min(int(found[2]), self.size - 1) if found[2] else self.size - 1
        if first >= self.size or first > last:
            return 416, 0, -1
        return 206, first, last

    def __call__(self, conn, request):
        status, first, last = self._range(request)
        headers = [("Accept-Ranges", "bytes"), ("ETag", self.etag), ("Last-Modified", self.last_modified),
                   ("Content-Type", "application/octet-stream")]
        if status == 416:
            headers += [("Content-Range", f"bytes */{self.size}"), ("Content-Length", 0)]
        else:
            headers.append(("Content-Length", last - first + 1))
        if status == 206:
            headers.append(("Content-Range", f"bytes {first}-{last}/{self.size}"))
        lines = [f"HTTP/1.1 {status} {_REASONS[status]}"] + [f"{k}: {v}" for k, v in headers]
        head = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")
        sent = 0
        try:
            conn.send(head)
            self._count(len(head))
            length = last - first + 1 if request.method != "HEAD" and status != 416 else 0
            count = min(length, self.cut) if self.cut else length
            if count > 0:
                with open(self.path, "rb") as body:
                    sent = conn.sock.sendfile(body, first, count)
                self._count(sent)
            if count < length:
                conn.sock.shutdown(socket.SHUT_WR)
                return False
            return True
        finally:
            with self.lock:
                self.answers.append((time.monotonic() - self.started, status, first, sent))

    def _count(self, number):
        with self.lock:
            self.bytes_sent += number


class FlakyServer:
    """The package at /whole/<name> and, cut every `cut` bytes, at /cut/<name>, on one scripted
    server on 127.0.0.1 for the whole bench."""

    def __init__(self, package, cut=CUT):
        name = os.path.basename(package)
        self.routes = {"whole": RangedFile(package), "cut": RangedFile(package, cut)}
        self.paths = {kind: f"/{kind}/{name}" for kind in self.routes}
        self.server = ScriptedServer({self.paths[k]: b for k, b in self.routes.items()}, max_requests=100000,
                                     lifetime=24 * 3600.0, idle_timeout=60.0)

    def __enter__(self):
        self.server.start()
        return self

    def __exit__(self, *exc):
        self.server.stop()

    def url(self, kind):
        return self.server.url(self.paths[kind])


def announced_waits(prefix):
    """The seconds of every wait the installer's install log announced, in order."""
    log = read_ini(prefix.drive_c / INSTALL_LOG)
    return [float(m[1]) for _, _, text in entries(log) for m in [_ANNOUNCED_WAIT.search(text)] if m]


class FlakyRun:
    """One run of a client against one route: its Run (wall, CPU), whether it ended with the package
    byte for byte (and, for the installer, started it), the requests and bytes the server saw."""

    def __init__(self, world, flaky, kind, client, size, package_digest):
        route = flaky.routes[kind]
        route.reset()
        self.kind, self.client = kind, client
        if client == "installer":
            self._installer(world, flaky.url(kind), size, package_digest)
        else:
            self._curl(world, flaky.url(kind), kind, package_digest)
        self.requests = len(route.answers)
        self.statuses = [status for _, status, _, _ in route.answers]
        self.bytes_per_byte = route.bytes_sent / route.size
        if client == "curl":
            self.backoffs = CURL_DELAY * max(0, self.requests - 1)

    def _installer(self, world, url, size, digest):
        keys = {"Retries": str(RETRIES)} if self.kind == "cut" else {}
        result = InstallerRun(world, size, silent=True, location=url, keys=keys,
                              timeout=CUT_RUN_TIMEOUT, keep_digest=True)
        self.run = result.run
        self.backoffs = round(sum(announced_waits(world.prefix)), 1)
        started = wait_for_starts(world.prefix, 1) if result.complete else payload_starts(world.prefix)
        self.complete = result.complete and result.digest == digest and bool(started)

    def _curl(self, world, url, kind, digest):
        world.scratch.unlink(missing_ok=True)
        command = ["sh", "-c", CURL_LOOP, str(world.scratch), url] if kind == "cut" else \
            ["curl", "-s", "-o", str(world.scratch), url]
        self.run = Run(lambda: subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL),
                       world, CUT_RUN_TIMEOUT)
        self.complete = self.run.exit == 0 and world.scratch.exists() and file_digest(world.scratch) == digest
        world.scratch.unlink(missing_ok=True)


# (name, route, client) of the case's runs, in the order they run.
FLAKY_CASES = [("installer, silent, uncut", "whole", "installer"),
               (f"installer, silent, cut every {CUT // MIB} MiB, Retries={RETRIES}", "cut", "installer"),
               ("curl, uncut", "whole", "curl"),
               (f"curl -C - in a loop, cut every {CUT // MIB} MiB", "cut", "curl")]


def run_flaky(world, package, report=print):
    """Every run of FLAKY_CASES once, each reported as it ends: {name: FlakyRun}."""
    size, digest = os.path.getsize(package), file_digest(package)
    runs = {}
    with FlakyServer(package) as flaky:
        for name, kind, client in FLAKY_CASES:
            runs[name] = run = FlakyRun(world, flaky, kind, client, size, digest)
            report(f"bench: flaky link: {name}: {'whole' if run.complete else 'NOT whole'}, {run.requests} requests "
                   f"{run.statuses}, {run.bytes_per_byte:.4f} bytes per byte, {run.run.wall:.2f} s wall")
    return runs


def flaky_verdicts(runs):
    """(name, bytes_ok, wall_ok, limit) for each cut run against the uncut run of the same client:
    bytes per byte at most 1.02, wall at most the uncut wall plus 10 % plus the back-offs."""
    uncut = {client: runs[name] for name, kind, client in FLAKY_CASES if kind == "whole"}
    verdicts = {}
    for name, kind, client in FLAKY_CASES:
        if kind != "cut":
            continue
        run, base = runs[name], uncut[client]
        limit = base.run.wall * 1.10 + run.backoffs if base.complete else None
        verdicts[name] = (run.complete and run.bytes_per_byte <= 1.02,
                          None if limit is None else run.complete and run.run.wall <= limit, limit)
    return verdicts
