"""Real peers for the end-to-end tests, all on the loopback interface: nginx for what a web server
really does (files, 404, basic authentication, chunked bodies, redirects, TLS) and a small scripted
server for the misbehaviour nginx will not produce (cut bodies, resets, drips, odd answers)."""
import base64
import ctypes
import hashlib
import http
import pathlib
import re
import shutil
import signal
import socket
import socketserver
import subprocess
import tempfile
import threading
import time
import urllib.parse

from harness import STATE_DIR

NGINX = "/usr/sbin/nginx"
SERVER_PIDS = STATE_DIR / "servers"


def free_port():
    """A TCP port on 127.0.0.1 that nobody listened on a moment ago."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _wait_until_serving(ports, process, pid_file, timeout):
    """True once nginx has bound its ports (it writes its pid file only after that; a port that
    accepts may still belong to someone else) and they accept; False if it ended or time ran out."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if process.poll() is not None:
            return False
        try:
            if pid_file.read_text().strip():
                for port in ports:
                    socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
                return True
        except OSError:
            pass
        time.sleep(0.05)
    return False


def _die_with_parent():
    # Runs in the child between fork and exec: a test process that dies takes nginx with it.
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def make_certificate(directory, host="localhost"):
    """A self-signed certificate for `host` (a DNS name or an IP literal, which goes into the
    subject alternative name as such) and its key, as PEM files in `directory`: (cert, key)."""
    directory = pathlib.Path(directory)
    directory.mkdir(parents=True, exist_ok=True)
    cert, key = directory / f"{host}.crt", directory / f"{host}.key"
    kind = "IP" if all(part.isdigit() for part in host.split(".")) else "DNS"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30",
                    "-keyout", str(key), "-out", str(cert), "-subj", f"/CN={host}",
                    "-addext", f"subjectAltName={kind}:{host}"],
                   check=True, capture_output=True, timeout=60)
    return cert, key


def _htpasswd_line(user, password):
    digest = base64.b64encode(hashlib.sha1(password.encode()).digest()).decode()
    return f"{user}:{{SHA}}{digest}\n"


class Nginx:
    """nginx as a child process on 127.0.0.1, serving `docroot` with a generated configuration.

    Paths (all of them map to files under `docroot` by their full path unless said otherwise):
      /...                  the file, or 404
      <prefix> in `auth`    basic authentication with that (user, password): 401 without it
      /chunked/<p>          docroot/<p> with a chunked body and no Content-Length (HTTP/1.1 clients)
      /redirect/<p>         302 to /<p>
      /chain/x/x/<p>        a chain of redirects, one per "x/": 302 to /chain/x/<p>, then to /chain/<p>,
                            then to /<p>
      /loop/<p>             302 to itself, for ever (Wine's WinINet follows it without end)
    With `tls`=(cert, key) the same paths are also served over TLS on `tls_port`.
    Stops on leaving the `with` block; its pid is listed in $WINE_STATE_DIR/servers meanwhile, so
    that wine_env_stop ends it if the test process could not."""

    def __init__(self, docroot, auth=None, tls=None, port=None, tls_port=None):
        self.docroot = pathlib.Path(docroot).resolve()
        self.auth = dict(auth or {})
        self.tls = tls
        self._fixed_ports = (port, tls_port)
        self.port = port
        self.tls_port = tls_port
        self.process = None
        self.dir = None
        self._pid_file = None
        self._final_logs = ("", "")

    def url(self, path, tls=False, host="127.0.0.1"):
        """The URL of `path` on this server; with tls=True the https one, for the host `localhost`
        unless told otherwise (the certificate names localhost)."""
        if tls:
            return f"https://{'localhost' if host == '127.0.0.1' else host}:{self.tls_port}{path}"
        return f"http://{host}:{self.port}{path}"

    def requests(self):
        """What nginx answered so far (also after it stopped), in order: dicts with method, uri,
        status, bytes (sent, headers included), authorization and agent ("-" when the request had
        none). A request is listed once its answer has ended."""
        text = self._read("access.log") if self.dir else self._final_logs[0]
        fields = ("method", "uri", "status", "bytes", "authorization", "agent")
        return [dict(zip(fields, line.split("\t"))) for line in text.splitlines() if line]

    def error_log(self):
        return self._read("error.log") if self.dir else self._final_logs[1]

    def _read(self, name):
        path = self.dir / name
        return path.read_text() if path.exists() else ""

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        self.dir = pathlib.Path(tempfile.mkdtemp(prefix="nginx-"))
        for _ in range(5):
            self.port = self._fixed_ports[0] or free_port()
            if self.tls:
                self.tls_port = self._fixed_ports[1] or free_port()
            (self.dir / "nginx.conf").write_text(self._config())
            (self.dir / "nginx.pid").unlink(missing_ok=True)
            self.process = subprocess.Popen(
                [NGINX, "-p", str(self.dir), "-c", str(self.dir / "nginx.conf"), "-e", str(self.dir / "error.log")],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                preexec_fn=_die_with_parent)
            self._list_pid()
            ports = [self.port] + ([self.tls_port] if self.tls else [])
            if _wait_until_serving(ports, self.process, self.dir / "nginx.pid", 10):
                return
            self._end_process()
            if all(self._fixed_ports[:1 + bool(self.tls)]):
                break  # a port the caller chose will not become free by trying again
        log = self._read("error.log")
        shutil.rmtree(self.dir, ignore_errors=True)
        raise RuntimeError(f"nginx did not start:\n{log}")

    def stop(self):
        self._end_process()
        if self.dir:
            self._final_logs = (self._read("access.log"), self._read("error.log"))
            shutil.rmtree(self.dir, ignore_errors=True)
            self.dir = None

    def _end_process(self):
        if self.process is not None:
            if self.process.poll() is None:
                self.process.terminate()
                try:
                    self.process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    self.process.kill()
                    self.process.wait(timeout=5)
            self.process = None
        if self._pid_file is not None:
            self._pid_file.unlink(missing_ok=True)
            self._pid_file = None

    def _list_pid(self):
        if STATE_DIR.is_dir():
            SERVER_PIDS.mkdir(exist_ok=True)
            self._pid_file = SERVER_PIDS / f"nginx-{self.process.pid}.pid"
            self._pid_file.write_text(f"{self.process.pid}\n")

    def _config(self):
        d = self.dir
        locations = []
        for i, (prefix, (user, password)) in enumerate(sorted(self.auth.items())):
            (d / f"htpasswd-{i}").write_text(_htpasswd_line(user, password))
            locations.append(f'location {prefix} {{ auth_basic "Vornik test"; auth_basic_user_file {d}/htpasswd-{i}; }}')
        # sub_filter drops Content-Length from every answer it filters, so nginx sends the file
        # chunked; the needle never occurs, so the bytes pass unchanged.
        locations += [
            f"location /chunked/ {{ alias {self.docroot}/; sub_filter_types *; "
            f"sub_filter 'n0t-1n-any-test-f1le-7c3a' 'x'; }}",
            r"location /redirect/ { rewrite ^/redirect(/.*)$ $1 redirect; }",
            r"location /chain/ { rewrite ^/chain/x(/.*)$ /chain$1 redirect; rewrite ^/chain(/.*)$ $1 redirect; }",
            "location /loop/ { return 302 $uri; }",
        ]
        listen = [f"listen 127.0.0.1:{self.port};"]
        if self.tls:
            cert, key = (pathlib.Path(p).resolve() for p in self.tls)
            listen += [f"listen 127.0.0.1:{self.tls_port} ssl;", f"ssl_certificate {cert};",
                       f"ssl_certificate_key {key};"]
        return "\n".join([
            "daemon off;", "master_process off;", "worker_processes 1;", f"pid {d}/nginx.pid;",
            f"error_log {d}/error.log warn;",
            "events { worker_connections 256; }",
            "http {",
            r"  log_format peer '$request_method\t$request_uri\t$status\t$bytes_sent\t$http_authorization\t$http_user_agent';",
            f"  access_log {d}/access.log peer;",
            f"  client_body_temp_path {d}/client_body;", f"  proxy_temp_path {d}/proxy;",
            f"  fastcgi_temp_path {d}/fastcgi;", f"  uwsgi_temp_path {d}/uwsgi;", f"  scgi_temp_path {d}/scgi;",
            "  default_type application/octet-stream;", "  sendfile on;", "  server_tokens off;",
            "  keepalive_timeout 15;",
            "  server {", "    server_name localhost;",
            *("    " + line for line in listen),
            f"    root {self.docroot};",
            *("    " + line for line in locations),
            "  }",
            "}", ""])


# ---------------------------------------------------------------------------------------------------
# The scripted server. Each behaviour is a callable (connection, request) -> True to keep the
# connection for another request, False to close it.

class Request:
    """One request as the scripted server read it: method, target (as sent: a proxy receives an
    absolute URL), path (the target's path and query) and headers (names in lower case)."""

    def __init__(self, method, target, headers):
        self.method = method
        self.target = target
        split = urllib.parse.urlsplit(target)
        self.path = (split.path or "/") + (f"?{split.query}" if split.query else "")
        self.headers = headers

    def __repr__(self):
        return f"Request({self.method} {self.target})"


class Connection:
    """The server side of one client connection, as the behaviours see it."""

    def __init__(self, sock, stopping):
        self.sock = sock
        self.stopping = stopping  # threading.Event: the server is shutting down

    def send(self, data):
        self.sock.sendall(data)

    def send_head(self, status, headers=(), reason=None):
        if reason is None:
            try:
                reason = http.HTTPStatus(status).phrase
            except ValueError:
                reason = "Unknown"
        lines = [f"HTTP/1.1 {status} {reason}"] + [f"{k}: {v}" for k, v in headers]
        self.send(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))

    def wait(self, seconds):
        """Sleeps, but wakes when the server stops; True if the server is stopping."""
        return self.stopping.wait(seconds)

    def reset(self):
        """Closes with a TCP reset instead of an orderly end."""
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
        self.sock.close()


class Respond:
    """A complete answer. `length`: True announces the body's length; False sends none and ends the
    body by closing; an int announces that number whatever the body is. chunked=True sends the body
    in chunks of `chunk` bytes instead of any length."""

    def __init__(self, status=200, body=b"", headers=(), reason=None, length=True, chunked=False, chunk=4096):
        self.status, self.body, self.headers, self.reason = status, body, list(headers), reason
        self.length, self.chunked, self.chunk = length, chunked, chunk

    def __call__(self, conn, request):
        headers = list(self.headers)
        if self.chunked:
            headers.append(("Transfer-Encoding", "chunked"))
        elif self.length is True:
            headers.append(("Content-Length", len(self.body)))
        elif self.length is not False:
            headers.append(("Content-Length", self.length))
        keep = self.chunked or self.length is True
        if not keep:
            headers.append(("Connection", "close"))
        conn.send_head(self.status, headers, self.reason)
        if request.method == "HEAD":
            return keep
        if self.chunked:
            for i in range(0, len(self.body), self.chunk):
                part = self.body[i:i + self.chunk]
                conn.send(b"%x\r\n%s\r\n" % (len(part), part))
            conn.send(b"0\r\n\r\n")
        else:
            conn.send(self.body)
        return keep


class ShortBody:
    """Announces `announced` bytes, sends only `body`, then ends the connection in order (FIN)."""

    def __init__(self, body, announced):
        assert announced > len(body)
        self.body, self.announced = body, announced

    def __call__(self, conn, request):
        conn.send_head(200, [("Content-Length", self.announced)])
        conn.send(self.body)
        conn.sock.shutdown(socket.SHUT_WR)
        return False


class ResetMidBody:
    """Announces `announced` bytes, sends `body`, waits `pause` seconds, then resets the connection."""

    def __init__(self, body, announced, pause=0.3):
        assert announced > len(body)
        self.body, self.announced, self.pause = body, announced, pause

    def __call__(self, conn, request):
        conn.send_head(200, [("Content-Length", self.announced)])
        conn.send(self.body)
        conn.wait(self.pause)
        conn.reset()
        return False


class CloseBeforeHeaders:
    """Reads the request and closes without answering."""

    def __call__(self, conn, request):
        return False


class Stall:
    """Reads the request and answers nothing for `seconds` (or until the server stops), then
    closes: a server that keeps the client waiting for its answer."""

    def __init__(self, seconds):
        self.seconds = seconds

    def __call__(self, conn, request):
        conn.wait(self.seconds)
        return False


class Drip:
    """Announces the body's length and sends one byte every `interval` seconds; after `limit`
    seconds (or when the server stops) it closes, whatever is left unsent."""

    def __init__(self, body, interval=0.1, limit=30.0):
        self.body, self.interval, self.limit = body, interval, limit

    def __call__(self, conn, request):
        conn.send_head(200, [("Content-Length", len(self.body))])
        deadline = time.monotonic() + self.limit
        for i in range(len(self.body)):
            conn.send(self.body[i:i + 1])
            if i + 1 == len(self.body):
                return True
            if time.monotonic() + self.interval > deadline or conn.wait(self.interval):
                break
        return False


class HugeHeader:
    """A 200 answer with one header line "X-Filler: xxx..." of `size` bytes (name and value)."""

    def __init__(self, size=65536, body=b"ok"):
        self.size, self.body = size, body

    def __call__(self, conn, request):
        filler = "x" * (self.size - len("X-Filler: "))
        conn.send_head(200, [("X-Filler", filler), ("Content-Length", len(self.body))])
        conn.send(self.body)
        return True


class Auth:
    """Basic authentication in front of `then` (a behaviour): 401 with WWW-Authenticate, or with
    proxy=True 407 with Proxy-Authenticate, until the request carries (user, password)."""

    def __init__(self, user, password, then, proxy=False, realm="Vornik test"):
        self.expected = "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()
        self.then, self.proxy, self.realm = then, proxy, realm

    def __call__(self, conn, request):
        header = "proxy-authorization" if self.proxy else "authorization"
        if request.headers.get(header) == self.expected:
            return self.then(conn, request)
        body = b"<html><body>Authorization required</body></html>"
        challenge = "Proxy-Authenticate" if self.proxy else "WWW-Authenticate"
        conn.send_head(407 if self.proxy else 401,
                       [(challenge, f'Basic realm="{self.realm}"'), ("Content-Length", len(body)),
                        ("Content-Type", "text/html")])
        conn.send(body)
        return True


class Sequence:
    """The n-th request for the path gets the n-th behaviour; the last one answers every later one."""

    def __init__(self, *behaviours):
        self.behaviours = behaviours
        self.count = 0
        self.lock = threading.Lock()

    def __call__(self, conn, request):
        with self.lock:
            behaviour = self.behaviours[min(self.count, len(self.behaviours) - 1)]
            self.count += 1
        return behaviour(conn, request)


class Ranged:
    """`body` as a file server serves it: a strong ETag, a Range with its If-Range (206 to the end, or
    200 when If-Range names another ETag). `cuts`: body offsets, used up in order, where an answer ends
    the connection (FIN, or a reset with reset=True). ranges=False ignores Range; from answer
    `new_etag_at` on (0 the first) the ETag is another; a 206 starts `shift` bytes after the byte
    asked (and says so). `sent` counts the body bytes sent."""

    def __init__(self, body, cuts=(), reset=False, ranges=True, new_etag_at=None, shift=0):
        self.body, self.cuts, self.reset, self.ranges, self.new_etag_at = body, list(cuts), reset, ranges, new_etag_at
        self.shift = shift
        self.answers, self.sent, self.lock = 0, 0, threading.Lock()

    def __call__(self, conn, request):
        size, asked = len(self.body), re.fullmatch(r"bytes=(\d+)-", request.headers.get("range", ""))
        with self.lock:
            etag = '"pkg-2"' if self.new_etag_at is not None and self.answers >= self.new_etag_at else '"pkg-1"'
            self.answers += 1
            start = int(asked.group(1)) if self.ranges and asked and request.headers.get("if-range") == etag else 0
            start += self.shift if start else 0
            cut = next((c for c in self.cuts if c > start), None)
            if cut is not None:
                self.cuts.remove(cut)
            end = size if cut is None else cut
            self.sent += end - start
        conn.send_head(206 if start else 200, [("ETag", etag), ("Content-Length", size - start)]
                       + ([("Content-Range", f"bytes {start}-{size - 1}/{size}")] if start else []))
        conn.send(self.body[start:end])
        if cut is not None and self.reset:
            conn.wait(0.3)  # let the bytes arrive before the reset could throw them away
            conn.reset()
        elif cut is not None:
            conn.sock.shutdown(socket.SHUT_WR)
        return cut is None


NOT_FOUND = Respond(404, b"<html><body>Not found</body></html>", [("Content-Type", "text/html")])


class _Handler(socketserver.BaseRequestHandler):
    def handle(self):
        server = self.server.owner
        self.request.settimeout(server.idle_timeout)
        conn = Connection(self.request, server.stopping)
        reader = self.request.makefile("rb")
        try:
            while not server.stopping.is_set():
                request = _read_request(reader)
                if request is None or not server.count_request(request):
                    return
                behaviour = server.routes.get(request.path, NOT_FOUND)
                if not behaviour(conn, request) or request.headers.get("connection", "").lower() == "close":
                    return
        except OSError:
            pass  # the client left, or a behaviour ended the connection itself
        finally:
            reader.close()


def _read_request(reader):
    line = reader.readline(65537)
    if not line:
        return None
    parts = line.decode("latin-1").split()
    if len(parts) != 3:
        return None
    headers = {}
    while True:
        raw = reader.readline(65537)
        if raw in (b"\r\n", b"\n", b""):
            break
        name, _, value = raw.decode("latin-1").partition(":")
        headers[name.strip().lower()] = value.strip()
    length = int(headers.get("content-length", "0") or 0)
    if length:
        reader.read(length)
    return Request(parts[0], parts[1], headers)


class _TcpServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, owner, port):
        self.owner = owner
        super().__init__(("127.0.0.1", port), _Handler)

    def process_request(self, request, client_address):
        self.owner.track(request)
        super().process_request(request, client_address)


class ScriptedServer:
    """A threaded HTTP/1.1 server on 127.0.0.1 whose answer for each path is a behaviour object
    (Respond, ShortBody, ResetMidBody, CloseBeforeHeaders, Stall, Drip, HugeHeader, Auth, Sequence,
    Ranged);
    other paths get 404. It keeps connections alive between complete answers unless the client
asks to close. Bounded: it answers
    at most `max_requests` requests (later ones are closed unanswered) and stops by itself after
    `lifetime` seconds; an idle connection is dropped after `idle_timeout` seconds.
    `requests` lists every request read, in order."""

    def __init__(self, routes=None, port=0, max_requests=100, lifetime=120.0, idle_timeout=15.0):
        self.routes = dict(routes or {})
        self.max_requests, self.lifetime, self.idle_timeout = max_requests, lifetime, idle_timeout
        self.requests = []
        self.stopping = threading.Event()
        self._lock = threading.Lock()
        self._sockets = []
        self._server = _TcpServer(self, port)
        self.port = self._server.server_address[1]
        self._thread = None
        self._timer = None

    def url(self, path, host="127.0.0.1"):
        return f"http://{host}:{self.port}{path}"

    def count_request(self, request):
        with self._lock:
            self.requests.append(request)
            return len(self.requests) <= self.max_requests

    def track(self, sock):
        with self._lock:
            self._sockets.append(sock)

    def start(self):
        self._thread = threading.Thread(target=self._server.serve_forever, kwargs={"poll_interval": 0.1},
                                        daemon=True)
        self._thread.start()
        self._timer = threading.Timer(self.lifetime, self._expire)
        self._timer.daemon = True
        self._timer.start()

    def _expire(self):
        threading.Thread(target=self.stop, daemon=True).start()

    def stop(self):
        if self.stopping.is_set():
            return
        self.stopping.set()
        if self._timer:
            self._timer.cancel()
        self._server.shutdown()
        with self._lock:
            for sock in self._sockets:
                try:
                    sock.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
        self._server.server_close()

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()
