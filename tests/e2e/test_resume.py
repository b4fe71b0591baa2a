"""Further attempts against a scripted server: resumed, started again, after Retry-After, at the
mirror, cancelled in a wait, used up. The package's SHA-256 is pinned: a start proves every byte."""
import hashlib
import random
import re
import time

from harness import Installer, config_text, entries, section_dict
from installer_case import InstallerTestCase
from servers import Ranged, Respond, ScriptedServer, Sequence, ShortBody
from wintools import PAYLOAD, wait_for_starts

# WinINet's sentence for 12030 in Wine's message table: a body that ended before its length.
CONNECTION_ENDED = "The connection with the server has been terminated."


class ResumeTest(InstallerTestCase):
    @classmethod
    def make_packages(cls, files):
        # The payload and random bytes after it: a byte out of place shows in the hash.
        cls.body = PAYLOAD.read_bytes() + random.Random(18).randbytes(1000100 - PAYLOAD.stat().st_size)

    def setUp(self):
        self.clear_earlier_runs()

    def installer(self, url, **keys):
        installer = Installer(self.prefix)
        self.addCleanup(installer.remove)
        return installer.stamp(config_text(WebFile64=url, WebFile64Sha256=hashlib.sha256(self.body).hexdigest(),
                                           Caption="Quillmoor Internet Security", **keys))

    def log(self, level):
        return [text for section, _, text in entries(self.prefix.records()[0]) if section.split(" ")[0] == level]

    def status(self):
        return section_dict(self.prefix.records()[1], "Status")

    def test_further_attempts_resume_restart_wait_and_move_to_the_mirror(self):
        body, size = self.body, len(self.body)
        after_busy, mirror = Ranged(body), Ranged(body)
        ended = " after: " + re.escape(CONNECTION_ENDED)
        # path, behaviour, keys, the INFO entries ({u}: the server), body bytes sent, a status line
        # (a pattern: each wait lies between half its step and the whole)
        cases = [
            ("/cut-once.exe", Ranged(body, cuts=[400000], reset=True), {"Retries": "2"},
             [r"Attempt 2 of 3: {u}/cut-once.exe from byte [1-9]\d* after: .+"], None, None),
            ("/cut-thrice.exe", Ranged(body, cuts=[250000, 500000, 750000]), {"Retries": "3"},
             [f"Attempt {n} of 4: {{u}}/cut-thrice.exe from byte {at}" + ended
              for n, at in ((2, 250000), (3, 500000), (4, 750000))], size,
             r"Connection lost, trying again in (1(\.\d)?|2) seconds \(attempt 2 of 4\)\.\.\."),
            ("/no-ranges.exe", Ranged(body, cuts=[400000], ranges=False), {"Retries": "1"},
             ["Attempt 2 of 2: {u}/no-ranges.exe from byte 400000" + ended], size + 400000, None),
            ("/new-build.exe", Ranged(body, cuts=[400000], new_etag_at=1), {"Retries": "1"},
             ["Attempt 2 of 2: {u}/new-build.exe from byte 400000" + ended], size + 400000, None),
            ("/busy.exe", Sequence(Respond(503, b"busy", [("Retry-After", "1")]), after_busy), {"Retries": "1"},
             ["Attempt 2 of 2: {u}/busy.exe from byte 0 after: HTTP status 503"], size,
             r"The server is busy, trying again in (1(\.\d)?|2) seconds \(attempt 2 of 2\)\.\.\."),
            ("/gone.exe", Respond(503, b"busy", [("Retry-After", "0")]),
             {"Retries": "1", "WebFile64Mirror": "/m.exe"},
             [f"Attempt {n} of 2: {{u}}/{p} from byte 0 after: HTTP status 503"
              for n, p in ((2, "gone.exe"), (1, "m.exe"))],
             size, None),
            # A 206 that starts a byte after the one asked is not appended: the mirror has it whole.
            ("/shifted.exe", Ranged(body, cuts=[400000], shift=1), {"Retries": "1", "WebFile64Mirror": "/m.exe"},
             ["Attempt 2 of 2: {u}/shifted.exe from byte 400000" + ended,
              "Attempt 1 of 2: {u}/m.exe from byte 0 after: HTTP status 206"], None, None),
        ]
        routes = {path: behaviour for path, behaviour, *_ in cases}
        counters = {**routes, "/busy.exe": after_busy, "/m.exe": mirror}
        with ScriptedServer({**routes, "/m.exe": mirror}) as server:
            for path, _, keys, info, sent, status_line in cases:
                with self.subTest(path=path):
                    self.setUp()
                    keys = {k: server.url(v) if k == "WebFile64Mirror" else v for k, v in keys.items()}
                    self.installer(server.url(path), progressbar="0", **keys).run(timeout=120)
                    self.assertEqual(len(wait_for_starts(self.prefix, 1)), 1, "the pinned package was started")
                    logged = self.log("INFO")
                    self.assertEqual(len(logged), len(info), logged)
                    for text, pattern in zip(logged, info):
                        self.assertRegex(text, "^" + pattern.format(u=re.escape(server.url(""))) + "$")
                    self.assertEqual(self.log("ERROR"), [])
                    # The same records as a run that needed no further attempt.
                    target = "/m.exe" if "WebFile64Mirror" in keys else path
                    self.assertEqual(self.status(), {"Progress": "100%", "Downloaded": "true", "Target": target,
                                                     "Attempted to run downloaded file": "true"})
                    if sent is not None:
                        self.assertEqual(counters[target].sent, sent)
                    if status_line is not None:
                        self.assertTrue(any(re.fullmatch(status_line, text) for text in self.log("FLOW")),
                                        self.log("FLOW"))
            resumed = [r.headers.get("range") for r in server.requests if r.path == "/cut-thrice.exe"]
            self.assertEqual(resumed, [None, "bytes=250000-", "bytes=500000-", "bytes=750000-"])
            self.assertEqual({r.headers.get("if-range") for r in server.requests if "range" in r.headers}, {'"pkg-1"'})

    def test_attempts_used_up_or_none_configured_fail_as_one_request_does(self):
        short = ShortBody(self.body[:300000], announced=len(self.body))
        with ScriptedServer({"/short.exe": short}) as server:
            for keys, requests in (({}, 1), ({"Retries": "1"}, 2)):
                with self.subTest(keys=keys):
                    self.setUp()
                    before = len(server.requests)
                    self.installer(server.url("/short.exe"), progressbar="0", **keys).run(timeout=60)
                    self.assertEqual(len(server.requests) - before, requests)
                    self.assertEqual(len(self.log("INFO")), requests - 1)
                    self.assertEqual(self.log("ERROR"), [CONNECTION_ENDED] * 2)
                    self.assertEqual(self.status(), {"Progress": "29%", "Downloaded": "", "Target": "/short.exe",
                                                     "Attempted to run downloaded file": "", "Error": CONNECTION_ENDED})
                    self.assertFalse(self.prefix.target().exists())
        self.assertEqual(wait_for_starts(self.prefix, 0), [])

    def test_cancel_during_a_wait_ends_the_run_at_once(self):
        cut = Ranged(self.body, cuts=[400000])
        busy = Respond(503, b"busy", [("Retry-After", "60")])
        with ScriptedServer({"/wait.exe": Sequence(cut, busy)}) as server:
            process = self.installer(server.url("/wait.exe"), Retries="3").start()
            waiting = "The server is busy, trying again in 60 seconds (attempt 3 of 4)..."
            line, deadline = None, time.monotonic() + 30
            while line != waiting and time.monotonic() < deadline and process.poll() is None:
                line = self.gui.get_text(1001, exe="setup.exe", class_name="#32770", visible=True)
            self.assertEqual(line, waiting)
            title = self.gui.list_windows(exe="setup.exe", class_name="#32770", visible=True)[0].title
            self.assertRegex(title, r"^[34]\d% completed - ", "the progress stays where the file stands")
            self.assertTrue(self.gui.click(2, timeout=5, exe="setup.exe", class_name="#32770", visible=True))
            process.wait(timeout=10)  # not the 60 seconds: subprocess.TimeoutExpired fails the test
            self.assertEqual(len(server.requests), 2)
        self.assertEqual(self.log("ERROR"), [])
        self.assertEqual(self.status().get("Downloaded"), "")
        self.assertFalse(self.prefix.target().exists(), "the part written is deleted")
        self.assertEqual(wait_for_starts(self.prefix, 0), [])
