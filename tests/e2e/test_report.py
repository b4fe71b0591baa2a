"""The run report (ReportUrl) and the way forward (FullInstallerUrl) end to end: the report that
tools/report-server receives for each way a run ends, against the status file the same run left; a
report address that never answers or refuses the connection; the complete installer's address in
the failure box and the log."""
import json
import pathlib
import queue
import socket
import subprocess
import sys
import threading
import time
import unittest

from harness import BINARY_DIR, SOURCE_DIR, Installer, config_text, entries, section_dict
from installer_case import InstallerTestCase
from servers import ResetMidBody, ScriptedServer, free_port, make_certificate
from test_download import Paced
from wintools import make_package, stamp_as_given, wait_for_starts

CAPTION = "Quillmoor Internet Security"
# The README's table, no more and no fewer.
REPORT_KEYS = {"schema", "outcome", "number", "version", "config", "windows", "architecture", "language",
               "downloadSeconds", "startSeconds", "bytesReceived", "bytesResumed", "attempts", "mirrorUsed", "proxy",
               "silent"}
BOUND = 3.0  # seconds the report may add to a run
FULL = "https://example.com/full-setup.exe"


class ReportTest(InstallerTestCase):
    serve = True

    @classmethod
    def make_packages(cls, files):
        cls.package = make_package(files / "setup64.exe", 1500000)

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cert, key = make_certificate(cls.docroot / "tls")
        cls.trust_root(cert)
        cls.reports = queue.Queue()
        cls.receiver = subprocess.Popen([sys.executable, SOURCE_DIR / "tools" / "report-server", "serve", "--port", "0",
                                         "--cert", cert, "--key", key], stdout=subprocess.PIPE, text=True)
        cls.report_url = cls.receiver.stdout.readline().split()[-1] + "runs"
        threading.Thread(target=lambda: [cls.reports.put((time.monotonic(), json.loads(line)))
                                         for line in cls.receiver.stdout], daemon=True).start()

    @classmethod
    def tearDownClass(cls):
        cls.receiver.kill()
        cls.receiver.wait()
        super().tearDownClass()

    def setUp(self):
        self.clear_earlier_runs()
        while not self.reports.empty():
            self.reports.get()

    def installer(self, source=None, **keys):
        installer = Installer(self.prefix, source=source)
        self.addCleanup(installer.remove)
        return stamp_as_given(installer, config_text(**{
            "WebFile64": self.server.url("/files/setup64.exe"), "Caption": CAPTION, "CompanyNameShort": "Quillmoor",
            "ReportUrl": self.report_url, "FullInstallerUrl": FULL, **keys}))

    def records(self):
        log, status = self.prefix.records()
        return [(section.split(" ")[0], text) for section, _, text in entries(log)], section_dict(status, "Status") or {}

    def report(self):
        """The one report of the last run, once it has come."""
        _, report = self.reports.get(timeout=10)
        self.assertTrue(self.reports.empty(), "one report per run")
        return report

    def test_each_way_a_run_ends_is_reported_as_the_status_file_records_it(self):
        not_admin = BINARY_DIR / "tests" / "e2e" / "not_admin" / "setup_not_admin.exe"
        with ScriptedServer({"/reset.exe": ResetMidBody(self.package.read_bytes()[:600000], announced=1500000),
                             "/slow.exe": Paced(self.package.read_bytes(), piece=4096)}) as scripted:
            # what, keys, the installer to copy, the outcome and number reported, the status key "Error"
            # (None: absent), whether the complete installer is offered
            cases = [
                ("started", {}, None, "started", 0, None, False),
                ("404", {"WebFile64": self.server.url("/files/missing.exe")}, None, "http_status", 404,
                 "Failed to receive a valid HTTP response from the server", True),
                ("cut, no retries left", {"WebFile64": scripted.url("/reset.exe")}, None, "network_error", None, "",
                 True),
                ("hash mismatch", {"WebFile64Sha256": "ab" * 32}, None, "hash_mismatch", 0, "Package hash mismatch: ",
                 True),
                ("malformed key", {"Retries": "11"}, None, "malformed_configuration", 0,
                 "Malformed Retries value in the configuration", False),
                ("not administrator", {}, not_admin, "not_administrator", 0, None, False),
                ("cancelled", {"WebFile64": scripted.url("/slow.exe")}, None, "cancelled", 0, None, False),
            ]
            for what, keys, source, outcome, number, error, offered in cases:
                with self.subTest(what):
                    self.setUp()
                    interactive = source is not None or outcome == "cancelled"
                    installer = self.installer(source, **keys, **({} if interactive else {"progressbar": "0"}))
                    process = installer.start()
                    if interactive:  # the administrator's box, or the download dialog's Cancel
                        window = CAPTION if source is not None else "File Download"
                        self.assertIsNotNone(self.gui.wait_window(timeout=30, title=window, visible=True))
                        self.gui.click(1 if source is not None else 2, timeout=5, title=window, class_name="#32770")
                    process.wait(timeout=60)
                    ended = time.monotonic()
                    report = self.report(); print(what, json.dumps(report), [t for l, t in self.records()[0] if l == "INFO"], file=sys.stderr)
                    log, status = self.records()
                    self.assertEqual(set(report), REPORT_KEYS)
                    self.assertEqual((report["outcome"], report["schema"], report["architecture"]), (outcome, 1, "x64"))
                    if number is not None:
                        self.assertEqual(report["number"], number)
                    self.assertEqual(report["silent"], not interactive)
                    if error is None:
                        self.assertNotIn("Error", status)
                    else:
                        self.assertTrue(status["Error"].startswith(error), status)
                    started = outcome == "started"
                    self.assertEqual(status.get("Attempted to run downloaded file") == "true", started, status)
                    self.assertEqual(report["startSeconds"] >= report["downloadSeconds"] >= 0, started, report)
                    self.assertEqual(len(wait_for_starts(self.prefix, 1 if started else 0)), int(started))
                    self.assertEqual(("INFO", "Complete installer: " + FULL) in log, offered, log)
                    self.assertIn(("INFO", "Run report sent to localhost: HTTP 204"), log)
                    self.assertLess(time.monotonic() - ended, 10)

    def test_a_report_address_that_never_answers_or_refuses_delays_nothing_beyond_the_bound(self):
        silent = socket.socket()
        silent.bind(("127.0.0.1", 0))
        silent.listen(4)  # accepts the connection, never says a word
        self.addCleanup(silent.close)
        baseline = self.installer(progressbar="0", ReportUrl="").run().elapsed
        self.assertEqual(len(wait_for_starts(self.prefix, 1)), 1)
        cases = [("never answers", silent.getsockname()[1], "Run report not sent: no answer from localhost within 3000 ms"),
                 ("refuses", free_port(), "Run report not sent to localhost: ")]
        for what, port, entry in cases:
            with self.subTest(what):
                self.setUp()
                result = self.installer(progressbar="0", ReportUrl=f"https://localhost:{port}/runs").run()
                log, status = self.records(); print(what, result.elapsed, baseline, [t for l, t in log if l == "INFO"], file=sys.stderr)
                self.assertEqual([text for level, text in log if text.startswith("Run report")],
                                 [text for level, text in log if level == "INFO" and text.startswith(entry)])
                self.assertEqual(len([1 for _, text in log if text.startswith("Run report")]), 1)
                self.assertEqual(status.get("Attempted to run downloaded file"), "true")
                self.assertEqual(len(wait_for_starts(self.prefix, 1)), 1)
                self.assertLess(result.elapsed, baseline + BOUND + 2.0, f"{what}: {result.elapsed} vs {baseline}")

    def test_a_failure_box_names_the_complete_installer(self):
        installer = self.installer(WebFile64=self.server.url("/files/missing.exe"), ReportUrl="")
        process = installer.start()
        self.assertIsNotNone(self.gui.wait_window(timeout=30, title="File Download", class_name="#32770",
                                                  visible=True))
        deadline, texts = time.monotonic() + 20, []
        while time.monotonic() < deadline and not any(FULL in t for t in texts):
            texts = [c.text for c in self.gui.list_controls(title="File Download", class_name="#32770") or []]
            time.sleep(0.2)
        self.gui.click(1, timeout=5, title="File Download", class_name="#32770")
        process.wait(timeout=30)
        self.assertIn("Failed to receive a valid HTTP response from the server\\n\\n"
                      "You can download the complete installer from " + FULL, texts)


if __name__ == "__main__":
    unittest.main()
