"""Faults end to end under Wine: servers that break off, fail or never answer, hosts that cannot be
reached, redirects and a redirect loop, a trickle the user cancels, a temporary directory and
records that cannot be written, configurations without a usable section, overlong values and
command lines, a system DLL that cannot be loaded. Each case checks what the user sees, the install
log, the status keys and the files left (a run that starts nothing leaves no working folder), and
that nothing was started."""
import hashlib
import random
import re
import resource
import signal
import subprocess
import time
import unittest
import urllib.parse

from harness import BINARY_DIR, INSTALL_LOG, STATUS_FILE, Installer, config_text, entries, section_dict
from installer_case import InstallerTestCase
from servers import (Auth, CloseBeforeHeaders, Drip, HugeHeader, Nginx, ResetMidBody, Respond, ScriptedServer,
                     free_port)
from wintools import Started, clear_payload_starts, make_package, payload_starts, stamp_as_given, wait_for_starts

CAPTION = "Quillmoor Internet Security"
EXTRACTED = "vkinstlightx.ini"
# Strings 112 and 113 of the installer's string table.
NO_RESPONSE = "Failed to receive a valid response from the server"
BAD_STATUS = "Failed to receive a valid HTTP response from the server"
# WinINet's own sentences for 12030, 12007 and 12029 in Wine's message table.
CONNECTION_ENDED = "The connection with the server has been terminated."
NAME_NOT_RESOLVED = "The server name could not be resolved."
CANNOT_CONNECT = "The attempt to connect to the server failed."
# ERROR_FILE_TOO_LARGE (223): the system's sentence, or string 114 where the table has none (Wine).
FILE_TOO_LARGE = ("The file size exceeds the limit allowed and cannot be saved.",
                  "An error occurred while downloading the file, Error:223")
# A reset mid-body ends the read with WinINet's 12030 or, depending on when it lands, with the
# socket's own error (10054), whose sentence comes from the system's table.
CONNECTION_RESET = (CONNECTION_ENDED, "Connection reset by peer.")
# A status section left by an earlier run: every run that reaches the download removes it.
EARLIER_STATUS = b"[Status]\r\nError=from an earlier run\r\nDownloaded=true\r\n"
RESET_KEYS = {"Progress": "", "Downloaded": "", "Attempted to run downloaded file": ""}
ABSENT = "absent"


class FaultTest(InstallerTestCase):
    @classmethod
    def make_packages(cls, files):
        cls.package = make_package(files / "setup64.exe", 1500000)

    def setUp(self):
        self.prefix.reset_records()
        (self.prefix.drive_c / STATUS_FILE).write_bytes(EARLIER_STATUS)
        clear_payload_starts(self.prefix)
        self.prefix.clear_work_folders()

    # --- running the installer -------------------------------------------------------------------

    def installer(self, url, name="setup.exe", **keys):
        """A copy named `name` whose configuration downloads `url`. Named ~setup.exe it downloads to
        ~~setup.exe, which the launch step refuses: a complete download then starts nothing."""
        installer = Installer(self.prefix, name=name)
        self.addCleanup(installer.remove)
        return stamp_as_given(installer, config_text(**{"WebFile64": url, "Caption": CAPTION,
                                                        "CompanyNameShort": "Quillmoor", **keys}))

    def run_watching(self, installer, args=(), timeout=60):
        """Runs the installer to its end while watching the screen: every visible window it showed."""
        process = installer.start(args)
        seen = []
        deadline = time.monotonic() + timeout
        while process.poll() is None:
            if time.monotonic() > deadline:
                self.fail(f"the installer is still running after {timeout} s")
            seen += self.gui.list_windows(exe=installer.path.name, visible=True)
            time.sleep(0.05)
        return seen

    def wait_for_end(self, process, timeout, what):
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.fail(f"the installer did not end within {timeout} s {what}")

    def message_box(self, exe, timeout=20):
        """The installer's topmost visible dialog-class window once it is a message box (it has no
        status line 1001, as the download dialog has): (title, [its texts]); None if none came."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            windows = self.gui.list_windows(exe=exe, class_name="#32770", visible=True)
            if windows:
                controls = self.gui.list_controls(exe=exe, class_name="#32770", visible=True, title=windows[0].title)
                if controls and all(c.id != 1001 for c in controls):
                    return windows[0].title, [c.text for c in controls if c.class_name == "Static" and c.text]
            time.sleep(0.1)
        return None

    def press_ok(self, exe, title):
        self.assertTrue(self.gui.click(1, timeout=5, exe=exe, class_name="#32770", visible=True, title=title))

    def wait_for_dialog(self, process, exe, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and process.poll() is None:
            windows = self.gui.list_windows(exe=exe, class_name="#32770", visible=True)
            if windows:
                return windows[0]
            time.sleep(0.1)
        self.fail("the download dialog never showed")

    # --- what the run left -----------------------------------------------------------------------

    def log(self, level=None):
        """Install-log texts in file order, of one level ("ERROR", "FLOW") or all."""
        log, _ = self.prefix.records()
        return [text for section, _, text in entries(log) if level is None or section.split(" ")[0] == level]

    def status(self):
        _, status = self.prefix.records()
        return section_dict(status, "Status")

    def target(self, name="~setup.exe"):
        return self.prefix.target(name)

    def assert_target(self, expected, name="~setup.exe"):
        """ABSENT: the run left no working folder at all; else the bytes of `name` in it."""
        if expected == ABSENT:
            self.assertEqual(self.prefix.work_folders(), [], f"{name} and its folder are deleted")
        else:
            self.assertEqual(self.target(name).read_bytes(), expected, f"{name} holds the whole package")

    def assert_nothing_started(self):
        time.sleep(1.0)  # the shell starts a package after the installer has ended
        self.assertEqual(payload_starts(self.prefix), [])

    # --- the cases -------------------------------------------------------------------------------

    def test_broken_answers_fail_silently_with_their_records(self):
        body = (self.package.read_bytes() * 2)[:3000000]
        # path, behaviour, error text, written by the worker's error exit that records "Error",
        # whether the body had begun, what stays of the target file
        cases = [
            ("/reset.exe", ResetMidBody(body[:1200000], announced=len(body)), CONNECTION_RESET, True, True, ABSENT),
            ("/500.exe", Respond(500, b"<html>broken</html>"), (BAD_STATUS,), True, False, ABSENT),
            # Statuses are no error numbers, though the system has sentences for errors 203 and 301.
            ("/203.exe", Respond(203, b"partial"), (BAD_STATUS,), True, False, ABSENT),
            ("/301.exe", Respond(301), (BAD_STATUS,), True, False, ABSENT),
            ("/silent.exe", CloseBeforeHeaders(), (NO_RESPONSE,), False, False, ABSENT),
            # No proxy is configured: the server asks for a proxy's credentials, and gets no dialog.
            ("/407.exe", Auth("user", "pw", Respond(body=b"x"), proxy=True), (BAD_STATUS,), True, False, ABSENT),
            # 5 GB announced: refused before a byte is written.
            ("/huge.exe", Respond(200, b"x", length=5 * 2**30), FILE_TOO_LARGE, True, True, ABSENT),
        ]
        with ScriptedServer({path: behaviour for path, behaviour, *_ in cases}) as server:
            for path, _, errors, recorded, body_begun, left in cases:
                with self.subTest(path=path):
                    self.setUp()
                    installer = self.installer(server.url(path), progressbar="0")
                    self.assertEqual(self.run_watching(installer), [], "silent: nothing is shown")
                    flow = self.log("FLOW")
                    self.assertEqual(flow[1], "Target: " + server.url(path))
                    self.assertIn("Connected to 127.0.0.1", flow)
                    self.assertEqual("Getting file information" in flow, body_begun)
                    # The error exit that records "Error" also logs; the dialog logs the text again.
                    logged = self.log("ERROR")
                    error = logged[0] if logged else None
                    self.assertIn(error, errors)
                    self.assertEqual(logged, [error] * (2 if recorded else 1))
                    status = self.status()
                    progress = status.pop("Progress")
                    if body_begun:  # at most the share of the body that came before the reset
                        self.assertRegex(progress, r"^(|[0-9]%|[1-3][0-9]%|40%)$")
                    else:
                        self.assertEqual(progress, "")
                    self.assertEqual(status, {"Downloaded": "", "Attempted to run downloaded file": "", "Target": path,
                                              **({"Error": error} if recorded else {})})
                    self.assert_target(left)
        self.assert_nothing_started()

    def test_a_disk_that_fills_at_the_last_flush_fails_the_download(self):
        # The file may grow to the last whole 64 KB the write buffer hands over, so only the flush
        # at the end of the body fails: a full disk, as the file system of the target's folder
        # would report it. Past the limit a write fails instead of ending the process.
        package = self.package.read_bytes()
        limit = len(package) // 65536 * 65536

        def small_disk():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
        with Nginx(self.docroot) as nginx:
            installer = self.installer(nginx.url("/files/setup64.exe"), progressbar="0")
            process = installer.start(preexec_fn=small_disk)
            self.wait_for_end(process, 60, "with a full disk")
        errors = self.log("ERROR")
        self.assertEqual(len(errors), 2, errors)
        self.assertEqual(errors[0], errors[1])
        self.assertEqual(self.status(), {"Progress": "100%", "Downloaded": "", "Attempted to run downloaded file": "",
                                         "Target": "/files/setup64.exe", "Error": errors[0]})
        self.assert_target(ABSENT)
        self.assert_nothing_started()

    def test_unreachable_servers_report_wininets_own_sentence(self):
        cases = [
            ("http://no-such-host.invalid/x.exe", NAME_NOT_RESOLVED, "Resolving name: no-such-host.invalid"),
            (f"http://127.0.0.1:{free_port()}/x.exe", CANNOT_CONNECT, "Connecting to 127.0.0.1"),
        ]
        for url, error, last_flow in cases:
            with self.subTest(url=url):
                self.setUp()
                result = self.installer(url, progressbar="0").run(timeout=60, trace_writes=True)
                self.assertEqual(result.returncode, 0)
                # The traced write shows the value as written: line breaks would show there.
                written = [value for section, key, value, path in result.writes if key == "Error"]
                self.assertEqual(written, [error])
                self.assertEqual(self.log("ERROR"), [error, error])
                self.assertEqual(self.log("FLOW")[1], "Target: " + url)
                self.assertEqual(self.log("FLOW")[-1], last_flow)
                self.assertEqual(self.status(), {**RESET_KEYS, "Target": "/x.exe", "Error": error})
                self.assert_target(ABSENT)
        self.assert_nothing_started()

    def test_an_interactive_failure_shows_its_text_in_a_message_box(self):
        with ScriptedServer({"/silent.exe": CloseBeforeHeaders()}) as server:
            # url, text, what stays of the target file, whether "Error" is recorded
            cases = [
                (server.url("/silent.exe"), NO_RESPONSE, ABSENT, False),
                (f"http://127.0.0.1:{free_port()}/x.exe", CANNOT_CONNECT, ABSENT, True),
            ]
            for url, error, left, recorded in cases:
                with self.subTest(url=url):
                    self.setUp()
                    process = self.installer(url).start()
                    box = self.message_box("setup.exe")
                    self.assertEqual(box, ("File Download", [error]))
                    self.assertIsNone(process.poll(), "the run waits for the box")
                    self.press_ok("setup.exe", "File Download")
                    self.wait_for_end(process, 20, "after the box was dismissed")
                    self.assertEqual(self.log("ERROR"), [error] * (2 if recorded else 1))
                    self.assertEqual(self.status().get("Error"), error if recorded else None)
                    self.assert_target(left)
        self.assert_nothing_started()

    def test_redirects_and_a_64_kb_header_still_download_the_package(self):
        package = self.package.read_bytes()
        with Nginx(self.docroot) as nginx, ScriptedServer({"/huge.exe": HugeHeader(65536, body=package)}) as scripted:
            # url, the "Redirecting to" texts, the paths nginx answered
            cases = [
                (nginx.url("/redirect/files/setup64.exe"), [nginx.url("/files/setup64.exe")],
                 ["/redirect/files/setup64.exe", "/files/setup64.exe"]),
                (nginx.url("/chain/x/x/files/setup64.exe"),
                 [nginx.url(p) for p in ("/chain/x/files/setup64.exe", "/chain/files/setup64.exe", "/files/setup64.exe")],
                 ["/chain/x/x/files/setup64.exe", "/chain/x/files/setup64.exe", "/chain/files/setup64.exe",
                  "/files/setup64.exe"]),
                (scripted.url("/huge.exe"), [], None),
            ]
            for url, redirects, answered in cases:
                with self.subTest(url=url):
                    self.setUp()
                    before = len(nginx.requests())
                    # Pinned: the package starts only when every byte came through.
                    installer = self.installer(url, progressbar="0",
                                               WebFile64Sha256=hashlib.sha256(package).hexdigest())
                    self.assertEqual(self.run_watching(installer), [])
                    flow = self.log("FLOW")
                    self.assertEqual([t[len("Redirecting to "):] for t in flow if t.startswith("Redirecting to ")],
                                     redirects)
                    self.assertIn("Getting file information", flow)
                    if answered is not None:
                        self.assertEqual([r["uri"] for r in nginx.requests()[before:]], answered)
                    # The package's own record: its file goes with the run's end once it has ended.
                    self.assert_started_from(package)
                    self.assertEqual(self.status(), {"Progress": "100%", "Downloaded": "true",
                                                     "Attempted to run downloaded file": "true",
                                                     "Target": urllib.parse.urlsplit(url).path})
                    self.assertEqual(self.log("ERROR"), [])
                    self.assertEqual(len(wait_for_starts(self.prefix, 1)), 1)

    def test_a_redirect_loop_ends_after_ten_hops(self):
        # The worker follows redirects itself, so a loop cannot hold the run (Wine's WinINet would
        # follow it for ever inside one send).
        with Nginx(self.docroot) as nginx:
            installer = self.installer(nginx.url("/loop/x.exe"), progressbar="0")
            started = time.monotonic()
            installer.run(timeout=60)
            elapsed = time.monotonic() - started
            requested = [r["uri"] for r in nginx.requests()]
        self.assertLess(elapsed, 30)
        self.assertEqual(requested, ["/loop/x.exe"] * 11, "the first request and ten redirects")
        flow = self.log("FLOW")
        self.assertEqual(flow.count("Redirecting to " + nginx.url("/loop/x.exe")), 10)
        errors = self.log("ERROR")
        self.assertEqual(len(set(errors)), 1, errors)
        status = self.status()
        self.assertEqual(status.get("Error"), errors[0])
        self.assertEqual(status.get("Downloaded"), "")
        self.assert_target(ABSENT)
        self.assert_nothing_started()

    def test_cancel_during_a_trickle_waits_for_the_blocking_read(self):
        # One byte every 100 ms: a read of one 1024-byte block blocks until the server gives up, long
        # after the clicks and reads below (each a Wine program start, slow under a 32-bit emulator).
        limit = 12.0
        body = (self.package.read_bytes())[:3000]
        with ScriptedServer({"/drip.exe": Drip(body, interval=0.1, limit=limit)}) as server:
            process = self.installer(server.url("/drip.exe")).start()
            started = time.monotonic()
            dialog = self.wait_for_dialog(process, "setup.exe")
            self.assertEqual(dialog.title, "File Download", "no block has arrived, so no percentage")
            time.sleep(1.0)
            self.assertTrue(self.gui.click(2, timeout=5, exe="setup.exe", class_name="#32770", visible=True))
            status_line = None
            for _ in range(30):
                status_line = self.gui.get_text(1001, exe="setup.exe", class_name="#32770", visible=True)
                if status_line == "Aborting transfer":
                    break
                time.sleep(0.1)
            self.assertEqual(status_line, "Aborting transfer")
            cancel = [c for c in self.gui.list_controls(exe="setup.exe", class_name="#32770", visible=True) or []
                      if c.id == 2]
            self.assertEqual([c.enabled for c in cancel], [False], "Cancel is disabled once pressed")
            self.wait_for_end(process, limit + 10, "after the server stopped dripping")
            elapsed = time.monotonic() - started
        self.assertLess(elapsed, limit + 10)
        self.assertIn("Aborting transfer", self.log("FLOW"))
        self.assertEqual(self.log("ERROR"), [])
        self.assertEqual(self.status(), {**RESET_KEYS, "Target": "/drip.exe"})
        self.assert_target(ABSENT)
        self.assert_nothing_started()

    def test_no_working_folder_stops_at_the_configuration(self):
        # The system's Temp replaced by a file: no folder can be made in it, and there is no other
        # place an elevated run would take (never the user's %TEMP%).
        system_temp = self.prefix.system_temp
        away = system_temp.with_name(system_temp.name + ".away")
        system_temp.rename(away)

        def restore():
            if system_temp.is_file():
                system_temp.unlink()
            away.rename(system_temp)
        self.addCleanup(restore)
        system_temp.write_bytes(b"not a directory")
        # Other runs (not elevated ones) leave folders and configurations in the user's %TEMP%:
        # this run is judged by what it adds to it.
        user_temp = self.prefix.temp_dir
        folders_before = set(user_temp.glob("vkinst-*"))
        extracted = user_temp / EXTRACTED
        extracted_before = extracted.stat().st_mtime_ns if extracted.exists() else None
        with ScriptedServer({}) as server:
            installer = self.installer(server.url("/files/setup64.exe"), progressbar="0")
            process = installer.start()
            box = self.message_box("setup.exe")
            self.assertIsNotNone(box, "shown although the configuration says silent")
            title, (message,) = box
            self.assertEqual(title, "setup")
            self.assertRegex(message, r"^Couldn't create the working folder C:\\windows\\Temp\\vkinst-[0-9a-f]{16} "
                                      r"\(error \d+: .+\)$")
            self.press_ok("setup.exe", "setup")
            self.wait_for_end(process, 20, "after the box was dismissed")
            self.assertEqual(self.log(), [message], "nothing else is logged")
            self.assertIsNone(self.status(), "the earlier status section is removed")
            self.assertEqual(server.requests, [], "nothing is requested")
        self.assertEqual(system_temp.read_bytes(), b"not a directory")
        self.assertEqual(set(user_temp.glob("vkinst-*")) - folders_before, set(), "no folder in the user's %TEMP%")
        self.assertEqual(extracted.stat().st_mtime_ns if extracted.exists() else None, extracted_before,
                         "no configuration extracted to the user's %TEMP%")
        self.assert_nothing_started()

    def test_a_system_library_that_cannot_be_loaded_ends_the_run_with_one_entry(self):
        # WinINet disabled in Wine cannot be loaded from the system directory: the delay-load
        # helper's end is one ERROR entry and a clean exit, no crash box, even in silent mode. (The
        # other delay-loaded DLLs are loaded by Wine itself, or not reached under Wine.)
        with Nginx(self.docroot) as nginx:
            installer = self.installer(nginx.url("/files/setup64.exe"), progressbar="0")
            overrides = self.prefix.env["WINEDLLOVERRIDES"] + ";wininet="
            process = installer.start(env={"WINEDLLOVERRIDES": overrides})
            seen = []
            while process.poll() is None:
                seen += self.gui.list_windows(exe="setup.exe", visible=True)
                time.sleep(0.05)
            self.assertEqual(nginx.requests(), [])
        self.assertEqual(process.returncode, 126, "ERROR_MOD_NOT_FOUND")
        self.assertEqual(seen, [], "nothing is shown")
        self.assertRegex("\n".join(self.log("ERROR")), r"^System library wininet\.dll \(error 126: .+\)$")
        # The download had created its file, which it still holds: both wait for the next restart.
        self.assertEqual(self.prefix.pending_deletions()[-2:],
                         [self.prefix.target_windows(), self.prefix.work_folder_windows()])
        self.assert_nothing_started()

    def test_records_that_cannot_be_written_do_not_stop_the_download(self):
        # Directories in the records' places: Wine's INI writer cannot open them (as root, neither
        # file modes nor the read-only attribute stop it).
        records = [self.prefix.drive_c / name for name in (INSTALL_LOG, STATUS_FILE)]
        self.prefix.reset_records()
        for path in records:
            path.mkdir()
            self.addCleanup(path.rmdir)
        with Nginx(self.docroot) as nginx:
            installer = self.installer(nginx.url("/files/setup64.exe"), name="~setup.exe")
            run = Started(self.prefix, [installer.path], env={"WINEDEBUG": "trace+profile,warn+profile"})
            self.addCleanup(run.kill)
            seen = []
            deadline = time.monotonic() + 60
            while run.process.poll() is None and time.monotonic() < deadline:
                seen += self.gui.list_windows(exe="~setup.exe", visible=True)
                time.sleep(0.05)
            code, trace = run.finish(timeout=5)
        self.assertEqual(code, 0)
        self.assertTrue(seen, "the download dialog was shown")
        self.assertEqual({w.hwnd for w in seen}, {seen[0].hwnd}, "no window but the download dialog")
        self.assert_target(ABSENT)
        self.assertEqual([list(path.iterdir()) for path in records], [[], []])
        # Every entry and key was tried, and every try failed to open its file.
        paths = ("C:\\\\VornikInstallInfo.log", "C:\\\\VornikLodestep.log")
        tried = [line for line in trace.splitlines()
                 if "WritePrivateProfileStringW" in line and line.rstrip().endswith(tuple(f'L"{p}")' for p in paths))]
        refused = [line for line in trace.splitlines()
                   if re.search(r'PROFILE_Open Error \d+ opening file L"C:\\\\Vornik', line)]
        self.assertGreater(len(tried), 10)
        self.assertEqual(len(refused), len(tried))
        self.assertTrue(any('L"Downloaded", L"true"' in line for line in tried))
        self.assertTrue(any("Wrong file format: " in line for line in tried))
        self.assert_nothing_started()

    def test_configurations_without_a_usable_runtime_section_do_nothing(self):
        with ScriptedServer({}) as server:
            url = server.url("/files/setup64.exe")
            junk = bytes(random.Random(135).randrange(1, 256) for _ in range(4096))
            cases = {
                "binary junk": junk,
                "no runtime section": f"\r\n[other]\r\nWebFile64={url}\r\nCaption={CAPTION}\r\n".encode(),
                "a longer section name": f"\r\n[runtime old]\r\nWebFile64={url}\r\nCaption={CAPTION}\r\n".encode(),
                "keys before any section": f"WebFile64={url}\r\nCaption={CAPTION}\r\n".encode(),
            }
            installer = Installer(self.prefix)
            self.addCleanup(installer.remove)
            for name, text in cases.items():
                with self.subTest(config=name):
                    self.setUp()
                    self.stamp_bytes(installer, text)
                    self.assertEqual(self.run_watching(installer, timeout=30), [])
                    self.assertEqual(self.log(), [])
                    self.assertIsNone(self.status(), "the earlier status section is removed")
                    self.assertEqual(server.requests, [])
                    self.assert_target(ABSENT)
        self.assert_nothing_started()

    def stamp_bytes(self, installer, data):
        """Installer.stamp for bytes that are no text in any code page."""
        config = installer.dir / "config.ini"
        config.write_bytes(data)
        result = self.prefix.wine([BINARY_DIR / "tools" / "stampcfg" / "stampcfg.exe", "--allow-unverified",
                                   installer.path, config])
        config.unlink()
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_values_of_260_characters_or_more_are_refused(self):
        # The system's reader would cut them, and the installer would fetch another address.
        malformed = "Malformed WebFile64 value in the configuration"
        with ScriptedServer({}) as server:
            base = server.url("/files/")
            for length in (259, 260, 5000):
                with self.subTest(length=length):
                    self.setUp()
                    server.requests.clear()
                    url = base + "x" * (length - len(base))
                    path = url[len(server.url("")):]
                    installer = self.installer(url, progressbar="0")
                    self.assertEqual(self.run_watching(installer), [])
                    if length < 260:
                        self.assertEqual([r.path for r in server.requests], [path])
                        self.assertEqual(self.log("FLOW")[1], "Target: " + url)
                        self.assertEqual(self.log("ERROR"), [BAD_STATUS] * 2)
                        self.assertEqual(self.status(), {**RESET_KEYS, "Target": path, "Error": BAD_STATUS})
                    else:
                        self.assertEqual(server.requests, [])
                        self.assertEqual(self.log("ERROR"), [malformed])
                        self.assertEqual(self.status(), {"Error": malformed})
                    self.assert_target(ABSENT)
        self.assert_nothing_started()

    def test_long_and_many_arguments(self):
        many = [f"/s{i}" for i in range(998)]
        with ScriptedServer({}) as server:
            url = server.url("/files/setup64.exe")
            # arguments, the QA version the request carries
            cases = [
                (["/qa", "7" * 5000], "7" * 5000),
                (["/" + "z" * 5000, "/qa", "7.1.2.3"], "7.1.2.3"),
                (["/qa", "7.1.2.3"] + many, "7.1.2.3"),
                (many + ["/qa", "7.1.2.3"], "7.1.2.3"),
                (["/qa", "7.1.2.3"] + ["x"] * 998, "7.1.2.3"),
            ]
            for args, version in cases:
                with self.subTest(args=f"{len(args)} arguments, {len(' '.join(args))} characters"):
                    self.setUp()
                    server.requests.clear()
                    installer = self.installer(url, progressbar="0")
                    self.assertEqual(self.run_watching(installer, args), [])
                    qa_path = f"/QA/files/{version}/setup64.exe"
                    self.assertEqual([r.path for r in server.requests], [qa_path])
                    self.assertEqual(self.log("FLOW")[1], "Target: " + server.url(qa_path))
                    self.assertEqual(self.status(), {**RESET_KEYS, "Target": qa_path, "Error": BAD_STATUS})
                    self.assert_target(ABSENT)
        self.assert_nothing_started()


if __name__ == "__main__":
    unittest.main()
