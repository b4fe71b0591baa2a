"""The whole run under Wine: download, the checks before the start, the start with the configured
parameters, and the refusal of a desktop user who is not an administrator."""
import shutil
import tempfile
import unittest

from harness import (BINARY_DIR, STATUS_FILE, Installer, config_text, entries, language_texts, section_dict, shell_calls,
                     ui_language_env)
from installer_case import InstallerTestCase
from wintools import TOOLS_DIR, make_package, payload_directories, payload_temp_dirs, wait_for_starts

CAPTION = "Quillmoor Internet Security"
NOT_YET = f"The latest version of {CAPTION} is not yet available. Please, try later."
# As the message box shows it (Windows-1252 decoded; guibot writes line feeds as "\n").
ADMIN_REQUIRED = "\\n".join([
    "We\u2019re sorry, but you need to be logged in as an Administrator to install this security software.",
    "",
    "Here\u2019s what you need to do in order to get full protection from Ostravane with free Anti-Virus:",
    "",
    "1. Click the \u201cOK\u201d button below",
    "2. Log off of Windows",
    "3. Log back in to Windows as an \u201cAdmin\u201d user",
    "   (a user with Administrator privileges)" + " " * 52,
    "4. Re-start this install process",
    "",
    "Thanks for your understanding \u2013 this is the only way that we can protect you against spyware, "
    "viruses and other cyber-threats.",
])


class LaunchTest(InstallerTestCase):
    serve = True

    @classmethod
    def make_packages(cls, files):
        for size in (1000000, 1000001, 1500000):
            make_package(files / f"{size}.exe", size)
        (files / "zeros.exe").write_bytes(bytes(1500000))

    def setUp(self):
        self.clear_earlier_runs()

    def installer(self, size, name="setup.exe", source=None, **keys):
        installer = Installer(self.prefix, name=name, source=source)
        self.addCleanup(installer.remove)
        keys = {"WebFile64": self.server.url(f"/files/{size}.exe"), "Caption": CAPTION,
                "CompanyNameShort": "Quillmoor", **keys}
        return installer.stamp(config_text(**keys))

    def assert_nothing_left(self):
        """A run that started nothing takes its working folder away."""
        self.assertEqual(self.prefix.work_folders(), [])

    def test_typical_run_leaves_the_walk_through_records(self):
        result = self.installer(1500000, parameters="/s update").run(trace_shell=True)
        starts = wait_for_starts(self.prefix, 1)
        self.assertEqual(len(starts), 1)
        path, _ = starts[0]
        folder = self.prefix.work_folder_windows()
        self.assertEqual(path.lower(), self.prefix.target_windows().lower())
        self.assertEqual([d.lower() for d in payload_directories(self.prefix)], [folder.lower()],
                         "started in its working folder")
        self.assertEqual(payload_temp_dirs(self.prefix), [folder + "\\Temp\\"], "unpacking in it too")
        # Wine drops the parameters of a start through a class key: what the shell was asked is proven.
        self.assertEqual([(c["verb"], c["file"], c["parameters"], c["directory"]) for c in result.shell],
                         [("runas", self.prefix.target_windows(), "/s update", folder + "\\")])

        log, status = self.prefix.records()
        self.assertEqual(status, [("Status", [("Progress", "100%"), ("Downloaded", "true"),
                                              ("Attempted to run downloaded file", "true"),
                                              ("Target", "/files/1500000.exe")])])
        flow = [text for section, _, text in entries(log) if section.startswith("FLOW ")]
        url = self.server.url("/files/1500000.exe")
        expected = ["Working folder: " + folder, "Target: " + url, "Connecting to 127.0.0.1", "Connected to 127.0.0.1",
                    "Getting file information", "Attempting to run " + self.prefix.target_windows()]
        self.assertEqual([text for text in flow if text in expected or text.startswith("Attempting to run ")],
                         expected)
        self.assertRegex(folder, r"^C:\\windows\\Temp\\vkinst-[0-9a-f]{16}$")
        self.assertEqual([s for s, _, _ in entries(log) if not s.startswith("FLOW ")], [])

    def test_system_dlls_planted_beside_the_installer_are_never_loaded(self):
        # No Wine system DLL imports these two (Wine's user32 imports version.dll itself), and the
        # override makes Wine prefer a copy beside the program to its own.
        marker = self.prefix.drive_c / "planted-loaded.txt"
        marker.unlink(missing_ok=True)
        installer = self.installer(1500000)
        for name in ("wininet.dll", "wtsapi32.dll"):
            shutil.copyfile(TOOLS_DIR / "planted.dll", installer.dir / name)
        overrides = self.prefix.env["WINEDLLOVERRIDES"] + ";wininet,wtsapi32=n,b"
        installer.start(env={"WINEDLLOVERRIDES": overrides}).wait(timeout=60)
        self.assertEqual(len(wait_for_starts(self.prefix, 1)), 1, "the run completes as usual")
        _, status = self.prefix.records()
        self.assertEqual(section_dict(status, "Status")["Attempted to run downloaded file"], "true")
        self.assertFalse(marker.exists(), marker.read_text() if marker.exists() else "")

    def test_a_package_the_shell_cannot_start_leaves_the_systems_reason(self):
        self.installer("zeros", progressbar="0").run()
        log, status = self.prefix.records()
        self.assertEqual([t for s, _, t in entries(log) if s.startswith("ERROR ")],
                         [f"Package could not be started: {self.prefix.target_windows()} "
                          "(error 193: Bad EXE format for %1.)"])
        self.assertEqual(section_dict(status, "Status")["Attempted to run downloaded file"], "true", "attempted")
        self.assert_nothing_left()

    def test_size_gate_refuses_one_million_bytes_and_starts_one_more(self):
        for silent in (False, True):
            with self.subTest(silent=silent):
                self.prefix.reset_records()
                installer = self.installer(1000000, **({"progressbar": "0"} if silent else {}))
                process = installer.start()
                if not silent:
                    box = self.gui.wait_window(timeout=30, title=CAPTION, class_name="#32770", visible=True)
                    self.assertIsNotNone(box, "the too-small message")
                    texts = [c.text for c in self.gui.list_controls(title=CAPTION, class_name="#32770")]
                    self.assertIn(NOT_YET, texts)
                    self.assertTrue(self.gui.click(1, title=CAPTION, class_name="#32770"))
                process.wait(timeout=60)
                refusal = "Too small size detected to execute " + self.prefix.target_windows()
                log, status = self.prefix.records()
                self.assertIn(refusal, [t for s, _, t in entries(log) if s.startswith("ERROR ")])
                status = section_dict(status, "Status")
                self.assertEqual(status["Error"], refusal)
                self.assertEqual(status["Attempted to run downloaded file"], "")
                self.assert_nothing_left()
        self.assertEqual(wait_for_starts(self.prefix, 0), [])

        self.installer(1000001).run()
        self.assertEqual(len(wait_for_starts(self.prefix, 1)), 1)

    def test_an_installer_named_with_a_tilde_never_starts_its_download(self):
        self.installer(1500000, name="~setup.exe").run()
        log, status = self.prefix.records()
        wrong = "Wrong file format: " + self.prefix.target_windows("~~setup.exe")
        self.assertEqual([t for s, _, t in entries(log) if s.startswith("ERROR ")], [wrong])
        self.assertEqual(section_dict(status, "Status")["Attempted to run downloaded file"], "")
        self.assert_nothing_left()
        self.assertEqual(wait_for_starts(self.prefix, 0), [])

    def test_a_user_who_is_not_an_administrator_is_refused(self):
        previous = b"[Status]\r\nProgress=42%\r\nDownloaded=\r\n"
        status_path = self.prefix.drive_c / STATUS_FILE
        banner = "***************************Lodestep***************************"
        # setup_not_elevated is never elevated, under user account control: it asks the shell once
        # for itself with "runas" and its own arguments, and that run, still not elevated, refuses
        # instead of asking again (Wine's shell drops the parameters: the environment's guard holds).
        again = [("FLOW", "Not elevated: starting the installer again with administrator rights"),
                 ("ERROR", banner), ("ERROR", "Started again for administrator rights, but still not elevated"),
                 ("FLOW", banner), ("INFO", banner)]
        # The Russian row: the same box in the user's language, under code page 1252.
        russian = language_texts("ru-RU")["IDS_UI_ADMIN_REQUIRED"].replace("\n", "\\n")
        for variant, silent, shell, logged, language in [
                ("setup_not_admin.exe", False, [], [], None), ("setup_not_admin.exe", True, [], [], None),
                ("setup_not_admin.exe", False, [], [("INFO", "UI language: ru-RU")], "ru_RU"),
                ("setup_not_elevated.exe", True, [("runas", '/relaunched /qa 7.1 -ac "a b"')], again, None)]:
            with self.subTest(variant=variant, silent=silent, language=language), tempfile.TemporaryFile() as trace:
                self.prefix.reset_records()
                status_path.write_bytes(previous)
                installer = self.installer(1500000, source=BINARY_DIR / "tests" / "e2e" / "not_admin" / variant,
                                           **({"progressbar": "0"} if silent else {}))
                process = installer.start(["/qa", "7.1", "-ac", "a b"], stderr=trace,
                                          env={"WINEDEBUG": "trace+exec", "__COMPAT_LAYER": "RunAsInvoker",
                                               **(ui_language_env(language) if language else {})})
                find = {"title": CAPTION, "class_name": "#32770", "utf8": language is not None}
                box = self.gui.wait_window(timeout=30, visible=True, **find)
                texts = [c.text for c in self.gui.list_controls(**find) or []]
                self.gui.click(1, **find)
                process.wait(timeout=30)
                self.assertIsNotNone(box, "the administrator-required message, whatever the UI setting")
                self.assertIn(russian if language else ADMIN_REQUIRED, texts)
                self.assertEqual(status_path.read_bytes(), previous, "the previous run's status stays")
                trace.seek(0)
                calls = shell_calls(trace.read().decode("utf-8", errors="replace"))
                self.assertEqual([(c["verb"], c["parameters"]) for c in calls], shell)
                self.assertTrue(all(c["file"] == self.prefix.windows_path(installer.path) for c in calls))
                log, _ = self.prefix.records()
                self.assertEqual([(s.split(" ")[0], t) for s, _, t in entries(log)], logged)
                self.assert_nothing_left()
        self.assertEqual(wait_for_starts(self.prefix, 0), [])


if __name__ == "__main__":
    unittest.main()
