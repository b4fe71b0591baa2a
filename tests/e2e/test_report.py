"""ReportUrl and FullInstallerUrl end to end: the report tools/report-server receives for each way a
run ends, against the status file; a report address that never answers or refuses; the complete
installer's address in the failure box and the log."""
import json
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
KEYS = {"schema", "outcome", "number", "version", "config", "windows", "architecture", "language", "downloadSeconds",
        "startSeconds", "bytesReceived", "bytesResumed", "attempts", "mirrorUsed", "proxy", "silent"}  # the README's
FULL = "https://example.com/full-setup.exe"
BAD_STATUS = "Failed to receive a valid HTTP response from the server"


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
        threading.Thread(target=lambda: [cls.reports.put(json.loads(line)) for line in cls.receiver.stdout],
                         daemon=True).start()

    @classmethod
    def tearDownClass(cls):
        cls.receiver.kill()
        cls.receiver.wait()
        super().tearDownClass()

    def run_installer(self, source=None, click=None, **keys):
        """One run of a copy of `source` with ReportUrl and FullInstallerUrl; with `click`=(a text in
        the window's title, button) the button is pressed once the window shows. Its log (level, text), status."""
        self.clear_earlier_runs()
        installer = Installer(self.prefix, source=source)
        self.addCleanup(installer.remove)
        stamp_as_given(installer, config_text(**{
            "WebFile64": self.server.url("/files/setup64.exe"), "Caption": CAPTION, "CompanyNameShort": "Quillmoor",
            "ReportUrl": self.report_url, "FullInstallerUrl": FULL, **({} if click else {"progressbar": "0"}), **keys}))
        process, started = installer.start(), time.monotonic()
        if click:
            self.assertIsNotNone(self.gui.wait_window(timeout=30, title_contains=click[0], visible=True))
            self.assertTrue(self.gui.click(click[1], timeout=5, title_contains=click[0], class_name="#32770"))
        process.wait(timeout=60)
        self.elapsed = time.monotonic() - started
        log, status = self.prefix.records()
        return [(section.split(" ")[0], text) for section, _, text in entries(log)], section_dict(status, "Status") or {}

    def test_each_way_a_run_ends_is_reported_as_the_status_file_records_it(self):
        body = self.package.read_bytes()
        with ScriptedServer({"/reset.exe": ResetMidBody(body[:600000], announced=len(body)),
                             "/slow.exe": Paced(body, piece=4096)}) as scripted:
            # keys, the installer, what to click, outcome, number (None: any), start of "Error" (None:
            # absent), whether the complete installer is offered
            not_admin = BINARY_DIR / "tests" / "e2e" / "not_admin" / "setup_not_admin.exe"
            cases = [({}, None, None, "started", 0, None, False),
                     ({"WebFile64": self.server.url("/files/missing.exe")}, None, None, "http_status", 404, BAD_STATUS,
                      True),
                     ({"WebFile64": scripted.url("/reset.exe")}, None, None, "network_error", None, "", True),
                     ({"WebFile64Sha256": "ab" * 32}, None, None, "hash_mismatch", 0, "Package hash mismatch: ", True),
                     ({"Retries": "11"}, None, None, "malformed_configuration", 0, "Malformed Retries value", False),
                     ({}, not_admin, (CAPTION, 1), "not_administrator", 0, None, False),
                     ({"WebFile64": scripted.url("/slow.exe")}, None, ("% completed", 2), "cancelled", 0, None, False)]
            for keys, source, click, outcome, number, error, offered in cases:
                with self.subTest(outcome):
                    log, status = self.run_installer(source, click, **keys)
                    report = self.reports.get(timeout=10)
                    self.assertTrue(self.reports.empty(), "one report per run")
                    self.assertEqual(set(report), KEYS)
                    self.assertEqual((report["outcome"], report["architecture"], report["silent"]),
                                     (outcome, "x64", click is None))
                    if number is not None:
                        self.assertEqual(report["number"], number)
                    if error is None:
                        self.assertNotIn("Error", status)
                    else:
                        self.assertTrue(status["Error"].startswith(error), status)
                    started = outcome == "started"
                    self.assertEqual(status.get("Attempted to run downloaded file") == "true", started, status)
                    self.assertEqual(report["startSeconds"] >= report["downloadSeconds"] >= 0, started, report)
                    self.assertEqual(len(wait_for_starts(self.prefix, int(started))), int(started))
                    self.assertEqual(("INFO", "Complete installer: " + FULL) in log, offered, log)
                    self.assertIn(("INFO", "Run report sent to localhost: HTTP 204"), log)

    def test_a_report_address_that_never_answers_or_refuses_delays_nothing_beyond_the_bound(self):
        silent = socket.create_server(("127.0.0.1", 0))  # accepts the connection, never says a word
        self.addCleanup(silent.close)
        self.run_installer(ReportUrl="")
        baseline = self.elapsed
        self.assertEqual(len(wait_for_starts(self.prefix, 1)), 1)
        for port, entry in [(silent.getsockname()[1], "Run report not sent: no answer from localhost within 3000 ms"),
                            (free_port(), "Run report not sent to localhost: ")]:
            with self.subTest(entry):
                log, status = self.run_installer(ReportUrl=f"https://localhost:{port}/runs")
                self.assertEqual([(level, text[:len(entry)]) for level, text in log if "Run report" in text],
                                 [("INFO", entry)])
                self.assertEqual(status.get("Attempted to run downloaded file"), "true")
                self.assertEqual(len(wait_for_starts(self.prefix, 1)), 1)
                self.assertLess(self.elapsed, baseline + 3.0 + 2.0)

    def test_a_failure_box_names_the_complete_installer(self):
        self.clear_earlier_runs()
        installer = Installer(self.prefix)
        self.addCleanup(installer.remove)
        installer.stamp(config_text(WebFile64=self.server.url("/files/missing.exe"), Caption=CAPTION,
                                    FullInstallerUrl=FULL))
        process, texts = installer.start(), []
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and f"{BAD_STATUS}\\n\\nYou can download the complete installer from {FULL}" \
                not in texts:
            texts = [c.text for c in self.gui.list_controls(title="File Download", class_name="#32770") or []]
            time.sleep(0.2)
        self.gui.click(1, timeout=5, title="File Download", class_name="#32770")
        process.wait(timeout=30)
        self.assertIn(f"{BAD_STATUS}\\n\\nYou can download the complete installer from {FULL}", texts)


if __name__ == "__main__":
    unittest.main()
