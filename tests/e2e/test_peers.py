"""The test peers on their own, before any installer relies on them: nginx and the scripted server
answer as they claim, and the Win32 helpers (guibot, payload, trustcert, fetch) work under Wine."""
import base64
import http.client
import os
import pathlib
import shutil
import socket
import ssl
import tempfile
import time
import unittest
import urllib.error
import urllib.request

import servers
from harness import Prefix
from servers import (Auth, CloseBeforeHeaders, Drip, HugeHeader, Nginx, ResetMidBody, Respond, ScriptedServer,
                     Sequence, ShortBody, Stall)
from wintools import GuiBot, clear_payload_starts, fetch, make_package, payload_starts, run_captured, trustcert

PACKAGE = os.urandom(1000001)
SECRET = os.urandom(5000)


def get(url, headers=None, context=None):
    """(status, headers, body) of one GET; error statuses are answers too."""
    try:
        with urllib.request.urlopen(urllib.request.Request(url, headers=headers or {}), timeout=10,
                                    context=context) as response:
            return response.status, response.headers, response.read()
    except urllib.error.HTTPError as error:
        return error.code, error.headers, error.read()


def basic(user, password):
    return "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()


def exchange(port, request=b"GET /x HTTP/1.1\r\nHost: t\r\nConnection: close\r\n\r\n", timeout=10):
    """Sends a raw request and reads until the server closes: (bytes, the error that ended the
    read or None, seconds taken)."""
    start = time.monotonic()
    data = b""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(request)
        try:
            while True:
                part = s.recv(65536)
                if not part:
                    return data, None, time.monotonic() - start
                data += part
        except OSError as error:
            return data, error, time.monotonic() - start


def split_head(data):
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    return lines[0], {k.lower(): v.strip() for k, _, v in (line.partition(":") for line in lines[1:])}, body


class NginxTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = pathlib.Path(tempfile.mkdtemp(prefix="peers-"))
        docroot = cls.tmp / "www"
        (docroot / "files").mkdir(parents=True)
        (docroot / "secure").mkdir()
        (docroot / "files" / "package.exe").write_bytes(PACKAGE)
        (docroot / "secure" / "package.exe").write_bytes(SECRET)
        cls.cert, key = servers.make_certificate(cls.tmp / "tls")
        cls.server = cls.enterClassContext(
            Nginx(docroot, auth={"/secure/": ("user", "pa ss")}, tls=(cls.cert, key)))

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_files_are_served_byte_for_byte_and_others_are_404(self):
        status, headers, body = get(self.server.url("/files/package.exe"))
        self.assertEqual((status, headers["Content-Length"]), (200, "1000001"))
        self.assertEqual(body, PACKAGE)
        self.assertEqual(get(self.server.url("/files/missing.exe"))[0], 404)

    def test_basic_authentication(self):
        url = self.server.url("/secure/package.exe")
        for credentials, status in [(None, 401), (("user", "wrong"), 401), (("other", "pa ss"), 401),
                                    (("user", "pa ss"), 200)]:
            with self.subTest(credentials=credentials):
                headers = {"Authorization": basic(*credentials)} if credentials else {}
                got, answer_headers, body = get(url, headers)
                self.assertEqual(got, status)
                if status == 401:
                    self.assertEqual(answer_headers["WWW-Authenticate"], 'Basic realm="Vornik test"')
                else:
                    self.assertEqual(body, SECRET)

    def test_chunked_location_sends_the_file_without_a_length(self):
        connection = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=10)
        connection.request("GET", "/chunked/files/package.exe")
        response = connection.getresponse()
        self.assertEqual(response.status, 200)
        self.assertEqual(response.getheader("Transfer-Encoding"), "chunked")
        self.assertIsNone(response.getheader("Content-Length"))
        self.assertEqual(response.read(), PACKAGE)
        connection.close()

    def test_redirects(self):
        base = f"http://127.0.0.1:{self.server.port}"
        cases = [("/redirect/files/package.exe", ["/files/package.exe"]),
                 ("/chain/x/x/files/package.exe", ["/chain/x/files/package.exe", "/chain/files/package.exe",
                                                   "/files/package.exe"]),
                 ("/loop/files/package.exe", ["/loop/files/package.exe"] * 3)]
        for start, hops in cases:
            with self.subTest(start=start):
                connection = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=10)
                path, seen = start, []
                for _ in hops:
                    connection.request("GET", path)
                    response = connection.getresponse()
                    response.read()
                    self.assertEqual(response.status, 302)
                    path = response.getheader("Location").removeprefix(base)
                    seen.append(path)
                self.assertEqual(seen, hops)
                connection.close()

    def test_tls_with_the_localhost_certificate(self):
        context = ssl.create_default_context(cafile=str(self.cert))
        status, _, body = get(self.server.url("/files/package.exe", tls=True), context=context)
        self.assertEqual((status, body), (200, PACKAGE))
        self.assertTrue(self.server.url("/x", tls=True).startswith("https://localhost:"))
        with self.assertRaises(urllib.error.URLError):  # the name is checked: an IP literal fails
            get(f"https://127.0.0.1:{self.server.tls_port}/files/package.exe", context=context)

    def test_request_log_names_each_answer(self):
        get(self.server.url("/files/missing.exe?x=1"), {"User-Agent": "peer-agent"})
        get(self.server.url("/secure/package.exe"), {"Authorization": basic("user", "pa ss"), "User-Agent": "a b"})
        self.assertEqual(self.server.requests()[-2:], [
            {"method": "GET", "uri": "/files/missing.exe?x=1", "status": "404",
             "bytes": self.server.requests()[-2]["bytes"], "authorization": "-", "agent": "peer-agent"},
            {"method": "GET", "uri": "/secure/package.exe", "status": "200",
             "bytes": self.server.requests()[-1]["bytes"], "authorization": basic("user", "pa ss"), "agent": "a b"}])
        self.assertGreater(int(self.server.requests()[-1]["bytes"]), len(SECRET))


class NginxLifecycleTest(unittest.TestCase):
    def test_listed_while_running_and_gone_after(self):
        with tempfile.TemporaryDirectory() as docroot:
            port = servers.free_port()
            with Nginx(docroot, port=port) as server:
                pid = server.process.pid
                self.assertEqual(server.port, port)
                self.assertEqual(get(server.url("/"))[0], 403)  # a directory without an index
                if servers.STATE_DIR.is_dir():
                    self.assertEqual((servers.SERVER_PIDS / f"nginx-{pid}.pid").read_text(), f"{pid}\n")
            self.assertFalse((servers.SERVER_PIDS / f"nginx-{pid}.pid").exists())
            self.assertEqual([(r["uri"], r["status"]) for r in server.requests()], [("/", "403")])
            self.assertFalse(pathlib.Path(f"/proc/{pid}").exists())
            with self.assertRaises(OSError):
                socket.create_connection(("127.0.0.1", port), timeout=2).close()

    def test_a_taken_port_is_reported(self):
        with tempfile.TemporaryDirectory() as docroot, socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen()
            with self.assertRaisesRegex(RuntimeError, "Address already in use"):
                Nginx(docroot, port=taken.getsockname()[1]).start()


class ScriptedServerTest(unittest.TestCase):
    def serve(self, routes, **bounds):
        server = ScriptedServer(routes, **bounds)
        self.enterContext(server)
        return server

    def test_complete_answers(self):
        cases = [
            # behaviour, status line, headers expected (None: must be absent), body
            (Respond(body=b"hello"), "HTTP/1.1 200 OK", {"content-length": "5"}, b"hello"),
            (Respond(500, b"oops"), "HTTP/1.1 500 Internal Server Error", {"content-length": "4"}, b"oops"),
            (Respond(299, b"", reason="Odd"), "HTTP/1.1 299 Odd", {"content-length": "0"}, b""),
            (Respond(799, b"x"), "HTTP/1.1 799 Unknown", {}, b"x"),
            (Respond(body=b"to the end", length=False), "HTTP/1.1 200 OK",
             {"content-length": None, "connection": "close"}, b"to the end"),
            (Respond(body=b"0123456789", chunked=True, chunk=4), "HTTP/1.1 200 OK",
             {"transfer-encoding": "chunked", "content-length": None}, b"4\r\n0123\r\n4\r\n4567\r\n2\r\n89\r\n0\r\n\r\n"),
        ]
        for behaviour, status_line, headers, body in cases:
            with self.subTest(status_line=status_line, headers=headers):
                server = self.serve({"/x": behaviour})
                data, error, _ = exchange(server.port)
                self.assertIsNone(error)
                line, got_headers, got_body = split_head(data)
                self.assertEqual(line, status_line)
                for name, value in headers.items():
                    self.assertEqual(got_headers.get(name), value, name)
                self.assertEqual(got_body, body)

    def test_connection_is_kept_between_complete_answers(self):
        server = self.serve({"/a": Respond(body=b"A"), "/b": Respond(body=b"B")})
        connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=5)
        bodies = []
        for path in ("/a", "/b", "/nothing"):
            connection.request("GET", path)
            response = connection.getresponse()
            bodies.append((response.status, response.read()))
        connection.close()
        self.assertEqual(bodies, [(200, b"A"), (200, b"B"), (404, b"<html><body>Not found</body></html>")])
        self.assertEqual([r.path for r in server.requests], ["/a", "/b", "/nothing"])

    def test_short_body_announces_more_than_it_sends_and_closes(self):
        server = self.serve({"/x": ShortBody(b"s" * 1000, announced=5000)})
        data, error, _ = exchange(server.port)
        _, headers, body = split_head(data)
        self.assertIsNone(error, "an orderly end, not a reset")
        self.assertEqual((headers["content-length"], body), ("5000", b"s" * 1000))

    def test_reset_mid_body(self):
        server = self.serve({"/x": ResetMidBody(b"r" * 1000, announced=5000, pause=0.3)})
        data, error, _ = exchange(server.port)
        self.assertIsInstance(error, ConnectionResetError)
        self.assertLessEqual(len(split_head(data)[2]), 1000)

    def test_close_before_any_header(self):
        server = self.serve({"/x": CloseBeforeHeaders()})
        data, error, _ = exchange(server.port)
        self.assertEqual((data, error), (b"", None))

    def test_stall_answers_nothing_until_its_time(self):
        server = self.serve({"/x": Stall(1.0)})
        data, error, elapsed = exchange(server.port)
        self.assertEqual((data, error), (b"", None))
        self.assertGreaterEqual(elapsed, 0.9)

    def test_drip_sends_one_byte_per_interval(self):
        server = self.serve({"/x": Drip(b"abcdef", interval=0.2)})
        connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=10)
        start = time.monotonic()
        connection.request("GET", "/x")
        response = connection.getresponse()
        arrivals = []
        while len(arrivals) < 6:
            self.assertEqual(len(response.read(1)), 1)
            arrivals.append(time.monotonic() - start)
        self.assertEqual(response.read(), b"")
        connection.close()
        gaps = [b - a for a, b in zip(arrivals, arrivals[1:])]
        self.assertGreaterEqual(min(gaps), 0.15, gaps)
        self.assertGreaterEqual(arrivals[-1] - arrivals[0], 0.95)

    def test_drip_stops_at_its_time_limit(self):
        server = self.serve({"/x": Drip(b"d" * 1000, interval=0.1, limit=0.5)})
        data, error, elapsed = exchange(server.port)
        _, headers, body = split_head(data)
        self.assertIsNone(error)
        self.assertEqual(headers["content-length"], "1000")
        self.assertTrue(3 <= len(body) <= 6, len(body))
        self.assertLess(elapsed, 2)

    def test_huge_header(self):
        server = self.serve({"/x": HugeHeader(65536, b"ok")})
        data, _, _ = exchange(server.port, timeout=2)
        lines = data.split(b"\r\n")
        filler = [line for line in lines if line.startswith(b"X-Filler: ")]
        self.assertEqual([len(line) for line in filler], [65536])
        self.assertTrue(data.endswith(b"\r\n\r\nok"))

    def test_authentication_sequences(self):
        cases = [(False, "authorization", "www-authenticate", 401), (True, "proxy-authorization", "proxy-authenticate", 407)]
        for proxy, header, challenge, status in cases:
            with self.subTest(proxy=proxy):
                server = self.serve({"/x": Auth("user", "pw", Respond(body=b"granted"), proxy=proxy)})
                connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=5)
                answers = []
                # A proxy is asked for the absolute URL; the path decides the behaviour all the same.
                target = "http://example.test/x" if proxy else "/x"
                for credentials in (None, basic("user", "bad"), basic("user", "pw")):
                    connection.request("GET", target, headers={header: credentials} if credentials else {})
                    response = connection.getresponse()
                    answers.append((response.status, response.getheader(challenge), response.read()))
                connection.close()
                refusal = b"<html><body>Authorization required</body></html>"
                self.assertEqual(answers, [(status, 'Basic realm="Vornik test"', refusal)] * 2 + [(200, None, b"granted")])
                self.assertEqual([r.target for r in server.requests], [target] * 3)

    def test_sequence_answers_in_turn_then_repeats_the_last(self):
        server = self.serve({"/x": Sequence(Respond(404), Respond(500), Respond(body=b"ok"))})
        self.assertEqual([get(server.url("/x"))[0] for _ in range(4)], [404, 500, 200, 200])

    def test_bounded_in_requests_and_lifetime(self):
        server = self.serve({"/x": Respond(body=b"x")}, max_requests=2)
        self.assertEqual([exchange(server.port)[0][:12] for _ in range(3)],
                         [b"HTTP/1.1 200", b"HTTP/1.1 200", b""])
        server = self.serve({"/x": Drip(b"x" * 100, interval=0.1, limit=60)}, lifetime=0.5)
        data, _, elapsed = exchange(server.port)
        self.assertLess(elapsed, 3, "the drip ends when the server's lifetime does")
        time.sleep(0.3)
        with self.assertRaises(OSError):
            socket.create_connection(("127.0.0.1", server.port), timeout=2).close()


class WinToolsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = Prefix()
        cls.bot = GuiBot(cls.prefix)

    def test_guibot_finds_and_clicks_a_message_box(self):
        for control_id, method in [(1, "command"), (2, "command"), (1, "bm-click"), (2, "bm-click")]:
            with self.subTest(control_id=control_id, method=method):
                box = self.bot.start("demo-box", "--title", "Peer Box", "--text", "Line one\nline two")
                self.addCleanup(box.kill)
                # A dialog exists hidden before it is shown; a click needs it shown (BM_CLICK is lost before).
                window = self.bot.wait_window(title="Peer Box", visible=True, timeout=20)
                self.assertIsNotNone(window)
                self.assertEqual((window.class_name, window.exe, window.visible), ("#32770", "guibot.exe", True))
                left, top, right, bottom = window.rect
                self.assertTrue(right > left and bottom > top, window.rect)
                controls = self.bot.list_controls(title="Peer Box")
                self.assertIn((1, "Button", "OK"), [(c.id, c.class_name, c.text) for c in controls])
                self.assertIn("Line one\\nline two", [c.text for c in controls])
                self.assertTrue(self.bot.click(control_id, method=method, title="Peer Box"))
                self.assertEqual(box.finish(), (0, f"result={control_id}\n"))
                self.assertEqual(self.bot.list_windows(title="Peer Box"), [])

    def test_guibot_sets_and_reads_edit_texts(self):
        dialog = self.bot.start("demo-dialog", "--title", "Peer Credentials")
        self.addCleanup(dialog.kill)
        self.assertIsNotNone(self.bot.wait_window(title="Peer Credentials", timeout=20))
        self.assertTrue(self.bot.set_text(1027, "user one", title="Peer Credentials"))
        self.assertTrue(self.bot.set_text(1028, "pa ss", title="Peer Credentials"))
        self.assertEqual(self.bot.get_text(1027, title="Peer Credentials"), "user one")
        self.assertEqual(self.bot.get_text(title="Peer Credentials"), "Peer Credentials")
        self.assertTrue(self.bot.click(1, title="Peer Credentials"))
        self.assertEqual(dialog.finish(), (0, "result=1 user=user one password=pa ss\n"))

    def test_guibot_filters_and_exit_codes(self):
        box = self.bot.start("demo-box", "--title", "Filter Box")
        self.addCleanup(box.kill)
        self.assertIsNotNone(self.bot.wait_window(title="Filter Box", timeout=20))
        cases = [({"title": "Filter Box"}, 1), ({"title_contains": "ilter B", "class_name": "#32770"}, 1),
                 ({"exe": "GUIBOT.EXE", "class_name": "#32770", "visible": True}, 1),
                 ({"title": "Filter"}, 0), ({"title": "Filter Box", "class_name": "Edit"}, 0),
                 ({"title": "Filter Box", "exe": "setup.exe"}, 0)]
        for filters, count in cases:
            with self.subTest(filters=filters):
                self.assertEqual(len(self.bot.list_windows(**filters)), count)
        start = time.monotonic()
        missing = self.bot.run("wait-window", "--title", "No Such Window", "--timeout", "1")
        self.assertEqual(missing.returncode, 1)
        self.assertGreaterEqual(time.monotonic() - start, 1)
        self.assertEqual(self.bot.run("click", "--control-id", "999", title="Filter Box").returncode, 1)
        self.assertEqual(self.bot.run("click", title="Filter Box").returncode, 2)
        self.assertEqual(self.bot.run("frobnicate").returncode, 2)
        self.assertTrue(self.bot.click(1, title="Filter Box"))
        self.assertEqual(box.finish(), (0, "result=1\n"))

    def test_packages_have_the_exact_size_and_record_their_starts(self):
        clear_payload_starts(self.prefix)
        self.addCleanup(clear_payload_starts, self.prefix)
        directory = self.prefix.drive_c / "peers"
        self.addCleanup(shutil.rmtree, directory, True)
        for size in (1000000, 1000001):
            self.assertEqual(make_package(directory / f"p{size}.exe", size).stat().st_size, size)
        with self.assertRaises(ValueError):
            make_package(directory / "tiny.exe", 1000)
        self.assertEqual(run_captured(self.prefix, [directory / "p1000001.exe", "/S", "two words"]).returncode, 0)
        self.assertEqual(run_captured(self.prefix, [directory / "p1000000.exe"]).returncode, 0)
        self.assertEqual(payload_starts(self.prefix), [
            (r"C:\peers\p1000001.exe", r'"C:\peers\p1000001.exe" /S "two words"'),
            (r"C:\peers\p1000000.exe", r'"C:\peers\p1000000.exe"')])
        elsewhere = directory / "elsewhere.txt"
        run_captured(self.prefix, [directory / "p1000001.exe", "x"], env={"PAYLOAD_RECORD": r"C:\peers\elsewhere.txt"})
        self.assertEqual(payload_starts(self.prefix, elsewhere), [(r"C:\peers\p1000001.exe", r'"C:\peers\p1000001.exe" x')])

    def test_fetch_reads_whole_bodies_through_wininet(self):
        with tempfile.TemporaryDirectory() as tmp:
            docroot = pathlib.Path(tmp) / "www"
            (docroot / "files").mkdir(parents=True)
            (docroot / "files" / "package.exe").write_bytes(PACKAGE)
            with Nginx(docroot) as server:
                out = pathlib.Path(tmp) / "got.exe"
                # path, fetch options, status, whether the answer is chunked (has no length)
                cases = [("/files/package.exe", {}, 200, False), ("/files/package.exe", {"block": 65536}, 200, False),
                         ("/chunked/files/package.exe", {}, 200, True), ("/redirect/files/package.exe", {}, 200, False),
                         ("/files/none.exe", {}, 404, False)]
                for path, options, status, chunked in cases:
                    with self.subTest(path=path, options=options):
                        out.unlink(missing_ok=True)
                        result = fetch(self.prefix, server.url(path), out=out, **options)
                        self.assertEqual(result["status"], status)
                        self.assertEqual(result["length"], None if chunked else str(result["bytes"]))
                        self.assertEqual(out.stat().st_size, result["bytes"])
                        if status == 200:
                            self.assertEqual(out.read_bytes(), PACKAGE)
                self.assertEqual({r["agent"] for r in server.requests()}, {"fetch"})
            with ScriptedServer({"/short": ShortBody(b"s" * 3000, 9000)}) as scripted:
                result = fetch(self.prefix, scripted.url("/short"))
                self.assertEqual((result["status"], result["bytes"]), (200, 3000), "WinINet counts a short body as done")

    def test_trusted_localhost_certificate_makes_https_work(self):
        with tempfile.TemporaryDirectory() as tmp:
            docroot = pathlib.Path(tmp) / "www"
            (docroot / "files").mkdir(parents=True)
            (docroot / "files" / "package.exe").write_bytes(PACKAGE)
            cert, key = servers.make_certificate(pathlib.Path(tmp) / "tls")
            self.addCleanup(trustcert, self.prefix, "remove", cert)
            with Nginx(docroot, tls=(cert, key)) as server:
                url = server.url("/files/package.exe", tls=True)
                by_ip = f"https://127.0.0.1:{server.tls_port}/files/package.exe"
                self.assertEqual(trustcert(self.prefix, "contains", cert), 1)
                self.assertEqual(fetch(self.prefix, url)["error"], 12045)  # unknown issuer
                self.assertEqual(trustcert(self.prefix, "add", cert), 0)
                self.assertEqual(trustcert(self.prefix, "contains", cert), 0)
                result = fetch(self.prefix, url)
                self.assertEqual((result["status"], result["bytes"]), (200, 1000001))
                self.assertEqual(fetch(self.prefix, by_ip)["error"], 12038)  # the name does not match
                self.assertEqual(trustcert(self.prefix, "remove", cert), 0)
                self.assertEqual(trustcert(self.prefix, "contains", cert), 1)
                self.assertEqual(fetch(self.prefix, url)["error"], 12045)


if __name__ == "__main__":
    unittest.main()
