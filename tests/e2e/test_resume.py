"""A download that survives a broken connection, under Wine against a scripted server: further
attempts (Retries) that resume with a byte range where the server allows it and start again where
it does not, a server's Retry-After, a second address (the mirror), Cancel during a wait, and
attempts used up. The package is pinned by its SHA-256, so a started package proves every byte."""
import hashlib
import random
import shutil
import time

from harness import Installer, config_text, entries
from installer_case import InstallerTestCase
from servers import Ranged, Respond, ScriptedServer, Sequence, ShortBody
from wintools import PAYLOAD, clear_payload_starts, payload_starts, wait_for_starts

CAPTION = "Quillmoor Internet Security"
SIZE = 1000100
# WinINet's sentence for 12030 in Wine's message table: a body that ended before its length.
CONNECTION_ENDED = "The connection with the server has been terminated."
DONE = {"Progress": "100%", "Downloaded": "true", "Attempted to run downloaded file": "true"}
FAILED = {"Downloaded": "", "Attempted to run downloaded file": ""}


class ResumeTest(InstallerTestCase):
    @classmethod
    def make_packages(cls, files):
        # The payload and random bytes after it: a byte out of place shows in the hash.
        files.mkdir(parents=True, exist_ok=True)
        package = files / "setup64.exe"
        shutil.copyfile(PAYLOAD, package)
        with open(package, "ab") as f:
            f.write(random.Random(18).randbytes(SIZE - package.stat().st_size))
        cls.body = package.read_bytes()

    def setUp(self):
        self.prefix.reset_records()
        clear_payload_starts(self.prefix)
        (self.prefix.temp_dir / "~setup.exe").unlink(missing_ok=True)

    def installer(self, url, **keys):
        installer = Installer(self.prefix)
        self.addCleanup(installer.remove)
        return installer.stamp(config_text(WebFile64=url, WebFile64Sha256=hashlib.sha256(self.body).hexdigest(),
                                           Caption=CAPTION, CompanyNameShort="Quillmoor", **keys))

    def log(self, level):
        log, _ = self.prefix.records()
        return [text for section, _, text in entries(log) if section.split(" ")[0] == level]

    def status(self):
        _, status = self.prefix.records()
        return dict(next((items for section, items in status if section == "Status"), []))

    def test_further_attempts_resume_restart_wait_and_move_to_the_mirror(self):
        body, size = self.body, len(self.body)
        busy = Respond(503, b"busy", [("Retry-After", "1")])
        after_busy, mirror = Ranged(body), Ranged(body)
        # path, behaviour, configuration keys, the further attempts' INFO entries as (path, resumed
        # from, reason; None where a reset makes it vary), body bytes the server sent, a status line
        cases = [
            ("/cut-once.exe", Ranged(body, cuts=[400000], reset=True), {"Retries": "2"},
             [("/cut-once.exe", None, None)], None, None),
            ("/cut-thrice.exe", Ranged(body, cuts=[250000, 500000, 750000]), {"Retries": "3"},
             [("/cut-thrice.exe", at, CONNECTION_ENDED) for at in (250000, 500000, 750000)], size, None),
            ("/no-ranges.exe", Ranged(body, cuts=[400000], ranges=False), {"Retries": "1"},
             [("/no-ranges.exe", 400000, CONNECTION_ENDED)], size + 400000, None),
            ("/new-build.exe", Ranged(body, cuts=[400000], new_etag_at=1), {"Retries": "1"},
             [("/new-build.exe", 400000, CONNECTION_ENDED)], size + 400000, None),
            ("/busy.exe", Sequence(busy, after_busy), {"Retries": "1"},
             [("/busy.exe", 0, "HTTP status 503")], size,
             "The server is busy, trying again in 1 seconds (attempt 2 of 2)..."),
            ("/gone.exe", Respond(503, b"busy", [("Retry-After", "0")]), {"Retries": "1", "WebFile64Mirror": "/mirror.exe"},
             [("/gone.exe", 0, "HTTP status 503"), ("/mirror.exe", 0, "HTTP status 503")], size, None),
        ]
        routes = {path: behaviour for path, behaviour, *_ in cases}
        routes["/mirror.exe"] = mirror
        counters = {**routes, "/busy.exe": after_busy}
        with ScriptedServer(routes) as server:
            for path, behaviour, keys, further, sent, status_line in cases:
                with self.subTest(path=path):
                    self.setUp()
                    keys = {k: server.url(v) if k == "WebFile64Mirror" else v for k, v in keys.items()}
                    self.installer(server.url(path), progressbar="0", **keys).run(timeout=120)
                    self.assertEqual(len(wait_for_starts(self.prefix, 1)), 1, "the pinned package was started")
                    attempts = 1 + int(keys["Retries"])
                    numbers = list(range(2, len(further) + 2))
                    if "WebFile64Mirror" in keys:
                        numbers[-1] = 1
                    info = self.log("INFO")
                    self.assertEqual(len(info), len(further), info)
                    for text, number, (at, start, reason) in zip(info, numbers, further):
                        prefix = f"Attempt {number} of {attempts}: {server.url(at)} from byte "
                        self.assertTrue(text.startswith(prefix), (text, prefix))
                        resumed, _, why = text[len(prefix):].partition(" after: ")
                        self.assertEqual((resumed, why), (str(start) if start is not None else resumed,
                                                          reason if reason is not None else why))
                        if start is None:
                            self.assertGreater(int(resumed), 0, "a reset run resumes too")
                    self.assertEqual(self.log("ERROR"), [])
                    # The same records as a run that needed no further attempt.
                    target = "/mirror.exe" if "WebFile64Mirror" in keys else path
                    self.assertEqual(self.status(), {**DONE, "Target": target})
                    if sent is not None:
                        self.assertEqual(counters[target].sent, sent)
                    if status_line is not None:
                        self.assertIn(status_line, self.log("FLOW"))
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
                    status = self.status()
                    self.assertRegex(status.pop("Progress"), r"^[0-9]*%?$")
                    self.assertEqual(status, {**FAILED, "Target": "/short.exe", "Error": CONNECTION_ENDED})
                    self.assertFalse((self.prefix.temp_dir / "~setup.exe").exists())
        self.assertEqual(wait_for_starts(self.prefix, 0), [])

    def test_cancel_during_a_wait_ends_the_run_at_once(self):
        cut = Ranged(self.body, cuts=[400000])
        busy = Respond(503, b"busy", [("Retry-After", "60")])
        with ScriptedServer({"/wait.exe": Sequence(cut, busy)}) as server:
            process = self.installer(server.url("/wait.exe"), Retries="3").start()
            waiting = "The server is busy, trying again in 60 seconds (attempt 3 of 4)..."
            deadline = time.monotonic() + 30
            line = None
            while line != waiting and time.monotonic() < deadline and process.poll() is None:
                line = self.gui.get_text(1001, exe="setup.exe", class_name="#32770", visible=True)
                time.sleep(0.2)
            self.assertEqual(line, waiting)
            title = self.gui.list_windows(exe="setup.exe", class_name="#32770", visible=True)[0].title
            self.assertRegex(title, r"^[34]\d% completed - ", "the progress stays where the file stands")
            clicked = time.monotonic()
            self.assertTrue(self.gui.click(2, timeout=5, exe="setup.exe", class_name="#32770", visible=True))
            process.wait(timeout=30)
            self.assertLess(time.monotonic() - clicked, 10, "no wait for the 60 seconds")
            self.assertEqual(len(server.requests), 2)
        self.assertIn("Aborting transfer", self.log("FLOW"))
        self.assertEqual(self.log("ERROR"), [])
        self.assertEqual(self.status().get("Downloaded"), "")
        self.assertFalse((self.prefix.temp_dir / "~setup.exe").exists(), "the part written is deleted")
        self.assertEqual(wait_for_starts(self.prefix, 0), [])
