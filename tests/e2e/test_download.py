"""The download under Wine against real servers: the typical run, progress, the "~" fallback,
authentication, broken servers, cancel, silent mode and https."""
import pathlib
import re
import shutil
import tempfile
import threading
import time
import unittest

from harness import (INSTALL_LOG, STATUS_FILE as STATUS_FILE_NAME, Installer, config_text, entries, language_texts,
                     section_dict, translated_installer, ui_language_env)
from installer_case import InstallerTestCase
from servers import Auth, Nginx, Respond, ScriptedServer, ShortBody, make_certificate
from wintools import make_package, payload_starts, trustcert, wait_for_starts

CAPTION = "Quillmoor Internet Security"
IDOK, IDCANCEL, IDC_FILE_LINE, IDC_TIME_LEFT, IDC_RATE = 1, 2, 1002, 1004, 1005
STATUS_FILE = "C:\\VornikLodestep.log"
WORK_FOLDER = "<working folder>"


class Paced:
    """A 200 answer of `body` with its length, sent in `piece`-byte pieces every `interval` s; with
    `gate` (a threading.Event) each later piece also waits until it is set (30 s at most), with
    `hold` the last piece only."""

    def __init__(self, body, piece=16384, interval=0.05, gate=None, hold=None):
        self.body, self.piece, self.interval, self.gate, self.hold = body, piece, interval, gate, hold

    def __call__(self, conn, request):
        conn.send_head(200, [("Content-Length", len(self.body))])
        for i in range(0, len(self.body), self.piece):
            if self.hold is not None and i + self.piece >= len(self.body):
                self.hold.wait(30)
            conn.send(self.body[i:i + self.piece])
            if self.gate is not None:
                self.gate.wait(30)
            if conn.wait(self.interval):
                return False
        return True


class DownloadTest(InstallerTestCase):
    @classmethod
    def make_packages(cls, files):
        cls.package = make_package(files / "setup64.exe", 1500000)

    def setUp(self):
        self.clear_earlier_runs()
        self.installer = Installer(self.prefix)
        self.addCleanup(self.installer.remove)

    def target(self):
        """The package in the last run's working folder (gone after a run that started nothing)."""
        return self.prefix.target()

    def configure(self, url, **keys):
        keys = {"WebFile64": url, "Caption": CAPTION, "CompanyNameShort": "Quillmoor", **keys}
        self.installer.stamp(config_text(**keys))

    def log_texts(self, level=None):
        log, _ = self.prefix.records()
        return [text for section, _, text in entries(log) if level is None or section.startswith(level + " ")]

    def status(self):
        _, status = self.prefix.records()
        return section_dict(status, "Status") or {}

    def wait_for_window(self, process, title="File Download", timeout=15):
        """The installer's window once it is visible (titles change as the percentage does)."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and process.poll() is None:
            for window in self.gui.list_windows(exe="setup.exe", visible=True):
                if window.class_name == "#32770" and (title is None or title in window.title):
                    return window
            time.sleep(0.1)
        self.fail(f"no visible window {title!r} of the installer")

    def finish(self, process, timeout=60):
        try:
            process.wait(timeout=timeout)
        finally:
            if process.poll() is None:
                process.kill()

    def test_typical_run_downloads_byte_for_byte_and_starts_the_package(self):
        with Nginx(self.docroot) as server:
            url = server.url("/files/setup64.exe")
            self.configure(url, parameters="/s update")
            result = self.installer.run(trace_shell=True)
            # Without ReportUrl nothing but the package is asked for, of any server (the world has
            # no other to ask: a report would show as an INFO entry).
            self.assertEqual([r["uri"] for r in server.requests()], ["/files/setup64.exe"])
        self.assertEqual(self.log_texts("INFO"), [])
        self.assert_started_from(self.package.read_bytes())
        flow = self.log_texts("FLOW")
        self.assertEqual(flow[:2], ["Working folder: " + self.prefix.work_folder_windows(), "Target: " + url])
        for expected in ("Connecting to 127.0.0.1", "Connected to 127.0.0.1", "Getting file information"):
            self.assertIn(expected, flow)
        self.assertEqual(self.status(), {"Progress": "100%", "Downloaded": "true",
                                         "Attempted to run downloaded file": "true", "Target": "/files/setup64.exe"})
        self.assertEqual(len(wait_for_starts(self.prefix, 1)), 1)
        self.assertEqual([c["parameters"] for c in result.shell], ["/s update"])

    def test_ten_megabytes_change_the_percentage_exactly_one_hundred_times(self):
        make_package(self.docroot / "files" / "ten.exe", 10 * 1048576)
        with Nginx(self.docroot) as server:
            self.configure(server.url("/files/ten.exe"), progressbar="0")
            result = self.installer.run(trace_writes=True)
        progress = [value for section, key, value, path in result.writes
                    if path == STATUS_FILE and key == "Progress"]
        self.assertEqual(self.status()["Downloaded"], "true", self.log_texts())
        self.assertEqual(progress, [""] + [f"{n}%" for n in range(1, 101)])

    def test_chunked_body_without_length_completes_without_percentage(self):
        with Nginx(self.docroot) as server:
            self.configure(server.url("/chunked/files/setup64.exe"))
            result = self.installer.run(trace_writes=True)
        self.assert_started_from(self.package.read_bytes())
        self.assertEqual(self.status()["Downloaded"], "true")
        self.assertEqual([w[2] for w in result.writes if w[1] == "Progress"], [""])

    def test_tilde_fallback_fetches_the_rewritten_path_once(self):
        with Nginx(self.docroot) as server:
            self.configure(server.url("/files/~setup64.exe"))
            result = self.installer.run(trace_writes=True)
            requested = [r["uri"] for r in server.requests()]
        self.assertEqual(requested, ["/files/~setup64.exe", "/files/setup64.exe"])
        flow = self.log_texts("FLOW")
        self.assertIn("Target .../files/~setup64.exe could not be found.", flow)
        self.assertIn("Attempting to get .../files/setup64.exe", flow)
        self.assertEqual([w[2] for w in result.writes if w[1] == "Target"], ["/files/~setup64.exe", "/files/setup64.exe"])
        self.assertEqual(self.status()["Downloaded"], "true")

    def test_not_found_fails_with_the_http_error_text(self):
        cases = ["/files/missing.exe", "/~files/missing.exe", "/files/~gone/missing.exe"]
        with Nginx(self.docroot) as server:
            for path in cases:
                with self.subTest(path=path):
                    self.prefix.reset_records()
                    self.configure(server.url(path), progressbar="0")
                    self.installer.run()
                    error = self.status().get("Error")
                    self.assertIsNotNone(error)
                    self.assertIn(error, self.log_texts("ERROR"))
                    self.assertNotIn("Downloaded", [k for k, v in self.status().items() if v])
                    self.assertFalse(self.target().exists(), "the partial file is deleted")
                    self.assertEqual(self.prefix.work_folders(), [], "and its folder")
        self.assertEqual(payload_starts(self.prefix), [])

    def test_truncated_body_fails_and_leaves_no_file(self):
        body = self.package.read_bytes()
        with ScriptedServer({"/short.exe": ShortBody(body[:600000], announced=len(body))}) as server:
            self.configure(server.url("/short.exe"), progressbar="0")
            self.installer.run()
        self.assertFalse(self.target().exists())
        self.assertIn("Error", self.status())
        self.assertNotEqual(self.status().get("Downloaded"), "true")
        time.sleep(0.5)
        self.assertEqual(payload_starts(self.prefix), [])

    def test_basic_authentication_through_the_credentials_dialog(self):
        for answer in ("ok", "cancel"):
            with self.subTest(answer=answer):
                self.prefix.reset_records()
                with Nginx(self.docroot, auth={"/secure/": ("vornik", "s3cret")}) as server:
                    shutil.copytree(self.docroot / "files", self.docroot / "secure", dirs_exist_ok=True)
                    self.configure(server.url("/secure/setup64.exe"))
                    process = self.installer.start()
                    box = self.gui.wait_window(timeout=20, title_contains="Authentication", visible=True)
                    self.assertIsNotNone(box, "the credentials dialog")
                    if answer == "ok":
                        self.assertTrue(self.gui.set_text(1027, "vornik", timeout=5, title=box.title))
                        self.assertTrue(self.gui.set_text(1028, "s3cret", timeout=5, title=box.title))
                        self.assertTrue(self.gui.click(1, timeout=5, title=box.title))
                    else:
                        self.assertTrue(self.gui.click(2, timeout=5, title=box.title))
                    if answer == "cancel":
                        error_box = self.gui.wait_window(timeout=20, title="File Download", class_name="#32770",
                                                         visible=True, exe="setup.exe")
                        self.assertIsNotNone(error_box)
                        # The error box is the second "File Download" window: dismiss whatever has an OK.
                        self.gui.click(2, timeout=5, title="File Download")
                        self.gui.click(1, timeout=5, title="File Download")
                    self.finish(process)
                if answer == "ok":
                    self.assert_started_from(self.package.read_bytes())
                    self.assertEqual(self.status()["Downloaded"], "true")
                else:
                    self.assertFalse(self.target().exists())
                    self.assertIn("Error", self.status())
                    self.assertNotEqual(self.status().get("Downloaded"), "true")

    def test_credentials_stay_with_the_origin_they_were_typed_for(self):
        # A asks for credentials and sends its client to B, another origin that asks too and is
        # busy; the further attempt goes to A again, then the mirror M, a third origin, is asked.
        with ScriptedServer() as a, ScriptedServer() as b, ScriptedServer() as m:
            auths = [Auth("vornik", "s3cret", Respond(302, headers=[("Location", b.url("/x.exe"))])),
                     Auth("bee", "b-pass", Respond(503, b"busy", [("Retry-After", "0")])), Auth("em", "m", Respond())]
            for server, auth in zip((a, b, m), auths):
                server.routes["/x.exe"] = auth
            self.configure(a.url("/x.exe"), progressbar="0", Retries="1", WebFile64Mirror=m.url("/x.exe"))
            process = self.installer.start()
            for server, typed in ((a, ("vornik", "s3cret")), (b, ("bee", "b-pass")), (m, ())):
                box = self.gui.wait_window(timeout=20, title_contains="Authentication", visible=True)
                self.assertEqual(len(server.requests), 1, "asked once, by the origin at hand")
                for control, text in zip((1027, 1028), typed):
                    self.assertTrue(self.gui.set_text(control, text, timeout=5, title=box.title))
                self.assertTrue(self.gui.click(1 if typed else 2, timeout=5, title=box.title))
                while process.poll() is None and box.hwnd in [w.hwnd for w in self.gui.list_windows(visible=True)]:
                    time.sleep(0.05)
            self.finish(process)
        # Each origin received only what was typed for it (WinINet first sends a request without);
        # the further attempt reached A and B again with it and asked nobody; the mirror got nothing.
        sent = [[r.headers.get("authorization") for r in server.requests] for server in (a, b, m)]
        for received, auth in zip(sent[:2], auths):
            self.assertEqual((set(received), received[-1], received.count(auth.expected) >= 2),
                             ({None, auth.expected}, auth.expected, True))
        self.assertEqual(sent[2], [None])

    def test_cancel_mid_transfer_deletes_the_file_and_starts_nothing(self):
        body = (self.package.read_bytes() * 4)[:6000000]
        with ScriptedServer({"/slow.exe": Paced(body)}, lifetime=60) as server:
            self.configure(server.url("/slow.exe"))
            process = self.installer.start()
            self.wait_for_window(process, title="completed")
            self.assertTrue(self.gui.click(2, timeout=5, exe="setup.exe", class_name="#32770"))
            self.finish(process)
        self.assertIn("Aborting transfer", self.log_texts("FLOW"))
        self.assertFalse(self.target().exists())
        self.assertNotEqual(self.status().get("Downloaded"), "true")
        self.assertNotIn("Error", self.status())
        time.sleep(0.5)
        self.assertEqual(payload_starts(self.prefix), [])

    def test_each_user_reads_their_language_under_code_page_1252_while_the_records_stay_english(self):
        # One run per user: the dialog and the tray tooltip held at the last piece, then the box
        # refusing the package. Swahili has no translation: English, and the reference records.
        # German, Russian and Japanese are shown under code page 1252, which lacks Cyrillic and Japanese.
        body, piece, hold = self.package.read_bytes(), 100000, threading.Event()
        held = str(100 * (len(body) - piece) // len(body))
        reference = None
        self.installer = Installer(self.prefix, source=translated_installer())
        self.addCleanup(self.installer.remove)
        # A second of transfer before the hold, for the rate and time-left lines to show.
        with ScriptedServer({"/held.exe": Paced(body, piece=piece, interval=0.1, hold=hold)}, lifetime=120) as server:
            self.configure(server.url("/held.exe"), WebFile64Sha256="0" * 64)
            for locale, tag in (("sw_KE", None), ("de_DE", "de-DE"), ("ru_RU", "ru-RU"), ("ja_JP", "ja-JP")):
                with self.subTest(locale=locale):
                    self.clear_earlier_runs()
                    hold.clear()
                    process = self.installer.start(env=ui_language_env(locale))
                    try:
                        self.see_the_run_in(language_texts(tag), process, held, hold)
                    finally:
                        # A row that failed must not leave its run to the next.
                        if process.poll() is None:
                            process.kill()
                    log, status = (self.prefix.drive_c / name for name in (INSTALL_LOG, STATUS_FILE_NAME))
                    self.assertTrue(log.read_bytes().isascii() and status.read_bytes().isascii())
                    log_entries, status = records = self.records_of_the_run()
                    language = [("INFO", "UI language: " + tag)] if tag else []
                    self.assertEqual([e for e in log_entries if e[1].startswith("UI language")], language)
                    log_entries[:] = [e for e in log_entries if e not in language]
                    if reference is None:
                        reference = records
                        self.assertIn("Package hash mismatch: " + WORK_FOLDER, status["Error"])
                    self.assertEqual(records, reference, "the records of an English run")

    def see_the_run_in(self, texts, process, held, hold):
        """The dialog and the tray tooltip in `texts` once the download holds at `held` %, then
        the box refusing the package (dismissed, up to the run's end)."""
        find = {"exe": "setup.exe", "class_name": "#32770", "visible": True, "utf8": True}
        self.wait_for_window(process, title=None)
        title = texts["IDS_PERCENT_TITLE"].replace("%1", held).replace("%2", CAPTION)
        deadline = time.monotonic() + 15
        while self.gui.get_text(**find) != title and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(self.gui.get_text(**find), title)
        # The tooltip follows the percentage in the same words.
        self.assertIn(title, self.gui.tray_tips(timeout=10))
        controls = self.gui.list_controls(**find)
        shown = {c.id: c.text for c in controls}
        self.assertEqual((shown[IDCANCEL], shown[IDC_FILE_LINE]),
                         (texts["IDS_UI_CANCEL"], texts["IDS_FILE_LINE"].replace("%1", CAPTION)))
        self.assertEqual([c.text for c in controls if c.id in (-1, 0xFFFF)],
                         [texts["IDS_UI_TIME_LEFT_LABEL"], texts["IDS_UI_RATE_LABEL"]])
        # The translated rate and time-left lines keep their numbers.
        self.assertRegex(shown[IDC_RATE], r"\d")
        self.assertRegex(shown[IDC_TIME_LEFT], r"\d")
        hold.set()
        box = texts["IDS_UI_DOWNLOAD_NOT_VERIFIED"].replace("%1", CAPTION)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline and box not in [c.text for c in self.gui.list_controls(**find) or []]:
            time.sleep(0.1)
        self.assertIn(box, [c.text for c in self.gui.list_controls(**find) or []])
        self.assertTrue(self.gui.click(IDOK, timeout=5, exe="setup.exe", class_name="#32770"))
        self.finish(process)

    def records_of_the_run(self):
        """The install log's entries as (level, text) and the status file's keys, with the working
        folder's random name taken out: what an English run leaves the same."""
        folder = self.prefix.work_folder_windows()
        log_entries = [(section.split(" ")[0], text.replace(folder, WORK_FOLDER)) for section, _, text in
                       sorted(entries(self.prefix.records()[0]), key=lambda e: e[1])]
        return log_entries, {key: value.replace(folder, WORK_FOLDER) for key, value in self.status().items()}

    def test_silent_mode_never_shows_a_window(self):
        body = (self.package.read_bytes() * 3)[:4000000]
        seen = []
        with ScriptedServer({"/slow.exe": Paced(body, interval=0.02)}, lifetime=60) as server:
            self.configure(server.url("/slow.exe"), progressbar="0")
            process = self.installer.start()
            while process.poll() is None:
                seen += [w for w in self.gui.list_windows(exe="setup.exe", visible=True)]
                time.sleep(0.05)
            self.finish(process)
        self.assertEqual(seen, [])
        self.assertEqual(self.status()["Downloaded"], "true")

    def test_nothing_is_swapped_between_writing_and_starting(self):
        body = self.package.read_bytes()
        evil = self.docroot / "evil.exe"
        evil.write_bytes(b"not the installer's")
        gate = threading.Event()
        with ScriptedServer({"/held.exe": Paced(body, piece=len(body) // 2, gate=gate)}) as server:
            self.configure(server.url("/held.exe"))
            process = self.installer.start()
            self.wait_for_window(process, title="completed")
            # Mid-download another process tries to replace, rename and delete the package.
            target, other = self.prefix.target_windows(), self.prefix.windows_path(evil)
            for command in (["copy", "/y", other, target], ["move", "/y", other, target],
                            ["move", target, target + ".moved"], ["del", "/f", target]):
                self.prefix.wine(["cmd", "/c"] + command)
            gate.set()
            self.finish(process)
        self.assert_started_from(body)
        self.assertEqual(evil.read_bytes(), b"not the installer's")

    def test_https_needs_a_trusted_certificate(self):
        certs = pathlib.Path(tempfile.mkdtemp(prefix="certs-"))
        self.addCleanup(shutil.rmtree, certs, True)
        cert, key = make_certificate(certs)
        with Nginx(self.docroot, tls=(cert, key)) as server:
            url = server.url("/files/setup64.exe", tls=True)
            self.configure(url, progressbar="0")
            self.installer.run()
            self.assertFalse(self.target().exists())
            # WinINet's sentence for 12045 (certificate authority invalid) where its message table has
            # one; Wine's has none, and the text falls back to string 111 with the number.
            error = self.status()["Error"]
            self.assertTrue("12045" in error or "certificate" in error.lower(), error)
            self.assertNotIn("\r\n", error)
            self.assertEqual([r for r in server.requests() if r["uri"] == "/files/setup64.exe"], [])

            self.assertEqual(trustcert(self.prefix, "add", cert), 0)
            self.addCleanup(trustcert, self.prefix, "remove", cert)
            self.prefix.reset_records()
            self.installer.run()
        self.assert_started_from(self.package.read_bytes())
        self.assertEqual(self.status()["Downloaded"], "true")


if __name__ == "__main__":
    unittest.main()
