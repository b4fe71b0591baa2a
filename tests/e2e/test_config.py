"""The embedded configuration under Wine: which key a system uses, the QA rewrite, the local
package beside the installer, and installers stamped with another configuration. The configuration
is extracted into the run's working folder and deleted once read; the user's %TEMP% never sees it."""
import hashlib
import socket
import unittest

from harness import Installer, Prefix, config_text, entries, section_dict
from wintools import (GuiBot, clear_payload_starts, make_package, payload_directories, payload_hashes, stamp_as_given,
                      wait_for_starts)

EXTRACTED = "vkinstlightx.ini"


def closed_port():
    """A loopback port with nothing listening on it."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class ConfigTest(unittest.TestCase):
    bits = 64

    @classmethod
    def setUpClass(cls):
        cls.prefix = Prefix(cls.bits)
        cls.prefix.set_windows_version("win7")

    def setUp(self):
        self.prefix.reset_records()
        clear_payload_starts(self.prefix)
        self.prefix.clear_work_folders()
        self.installer = Installer(self.prefix)
        self.addCleanup(self.installer.remove)
        # Each named for its folder: the copy in the working folder keeps the name.
        for sub in ("32", "64"):
            make_package(self.installer.dir / sub / f"package{sub}.exe", 1000001)

    def run_with(self, args=(), **keys):
        """Stamps `keys`, runs the installer to its end and returns its records; self.shell is what it
        asked of the shell."""
        self.shell = stamp_as_given(self.installer, config_text(**keys)).run(args, trace_shell=True).shell
        self.assertFalse((self.prefix.temp_dir / EXTRACTED).exists(), "nothing in the user's %TEMP%")
        return self.prefix.records()

    def started_packages(self, expected_count):
        """The names of the packages started, which say where each came from ("package64.exe")."""
        starts = wait_for_starts(self.prefix, expected_count)
        self.assertEqual(len(starts), expected_count, starts)
        return [path.rsplit("\\", 1)[-1] for path, _ in starts]

    def target_entries(self, log):
        return [text for _, _, text in entries(log) if text.startswith("Target: ")]


class ConfigOn64BitTest(ConfigTest):
    def test_64_bit_windows_uses_WebFile64(self):
        # Wine is an x64 machine: an Arm64 package in the configuration is not for it.
        log, _ = self.run_with(WebFile="32\\package32.exe", WebFile64="64\\package64.exe", WebFileArm64="arm.exe")
        self.assertEqual(self.started_packages(1), ["package64.exe"])
        self.assertIn("Package for x64: WebFile64", [text for _, _, text in entries(log)])

    def test_64_bit_windows_never_falls_back_to_WebFile(self):
        # Without WebFile64 the location is empty: it would name the installer's own directory,
        # which is no package, so nothing is started (not even a folder window).
        _, status = self.run_with(WebFile="32\\package32.exe", Caption="x")
        self.assertIsNone(section_dict(status, "Status"))
        self.assertEqual(self.started_packages(0), [])
        folder_windows = [w for w in GuiBot(self.prefix).list_windows() if w.visible and w.title == self.installer.dir.name]
        self.assertEqual(folder_windows, [])

    def test_local_package_is_copied_and_started_with_open_and_the_ac_value(self):
        cases = [
            (["/ac", "  7f3a  "], "/ac 7f3a"),
            (["-AC", "TrUe"], ""),
            ([], ""),
        ]
        for args, parameters in cases:
            with self.subTest(args=args):
                clear_payload_starts(self.prefix)
                self.prefix.clear_work_folders()
                self.prefix.reset_records()
                log, status = self.run_with(args, WebFile64=" \\64\\package64.exe\\ ")
                self.assertEqual(self.started_packages(1), ["package64.exe"])
                folder = self.prefix.work_folder_windows()
                copy = self.prefix.target_windows("package64.exe")
                self.assertEqual([(c["verb"], c["file"], c["parameters"], c["directory"]) for c in self.shell],
                                 [("open", copy, parameters, folder + "\\")])
                self.assertEqual([d.lower() for d in payload_directories(self.prefix)], [folder.lower()])
                # The run's end deletes the copy once the package has ended; the package hashed itself.
                left = sorted(p.name for p in self.prefix.unix_path(folder).iterdir())
                self.assertIn(left, (["Temp"], ["Temp", "package64.exe"]), "the configuration is deleted")
                source = (self.installer.dir / "64" / "package64.exe").read_bytes()
                self.assertEqual(payload_hashes(self.prefix), [hashlib.sha256(source).hexdigest()], "a copy")
                self.assertEqual(section_dict(status, "Status"), {"Attempted to run local file": "true"})
                self.assertEqual([t for s, _, t in entries(log) if s.startswith("ERROR ")], [])

    def test_a_local_package_passes_the_checks_a_download_passes(self):
        package = self.installer.dir / "64" / "package64.exe"
        right = hashlib.sha256(package.read_bytes()).hexdigest()
        # the keys, the refusal (None: started)
        cases = [
            ({"WebFile64Sha256": right}, None),
            ({"WebFile64Sha256": "0" * 64}, "Package hash mismatch: {copy}"),
            ({"RequireSignature": "1"}, "Package signature not valid: {copy} (0x800B0100)"),
            ({"WebFile64Sha256": right[:63]}, "Malformed WebFile64Sha256 value in the configuration"),
            # A "/" separates as a backslash does: the copy takes the name after it.
            ({"WebFile64": "64/package64.exe", "WebFile64Sha256": right}, None),
        ]
        for keys, refusal in cases:
            with self.subTest(keys=keys):
                clear_payload_starts(self.prefix)
                self.prefix.clear_work_folders()
                self.prefix.reset_records()
                log, status = self.run_with(**{"WebFile64": "64\\package64.exe", "progressbar": "0", **keys})
                errors = [t for s, _, t in entries(log) if s.startswith("ERROR ")]
                if refusal is None:
                    self.assertEqual(self.started_packages(1), ["package64.exe"])
                    self.assertEqual(errors, [])
                    continue
                refusal = refusal.format(copy=self.prefix.target_windows("package64.exe"))
                self.assertEqual(errors, [refusal])
                self.assertEqual(section_dict(status, "Status"), {"Error": refusal})
                self.assertEqual(self.started_packages(0), [])
                self.assertEqual(self.prefix.work_folders(), [], "the copy and its folder are gone")
                self.assertTrue(package.exists(), "the package beside the installer stays")

    def test_missing_or_capitalised_locations_start_nothing(self):
        for location in ("64\\absent.exe", "HTTP://127.0.0.1/files/x.exe", "http"):
            with self.subTest(location=location):
                self.prefix.reset_records()
                log, status = self.run_with(WebFile64=location)
                self.assertEqual(self.started_packages(0), [])
                self.assertEqual(self.target_entries(log), [], "no download was tried")
                self.assertIsNone(section_dict(status, "Status"), "removed, and nothing written after")
                self.assertEqual(self.prefix.work_folders(), [], "the configuration and its folder are gone")

    def test_qa_mode_rewrites_the_url(self):
        port = closed_port()
        url = f"http://127.0.0.1:{port}/files/setup64.exe"
        cases = [
            (["/qa", "7.1.2.3"], url, f"http://127.0.0.1:{port}/QA/files/7.1.2.3/setup64.exe"),
            (["/qa"], url, f"http://127.0.0.1:{port}/QA/files/6.10.18.01/setup64.exe"),
            (["-QA", "true"], url, f"http://127.0.0.1:{port}/QA/files/6.10.18.01/setup64.exe"),
            (["/qa", "5"], f"http://127.0.0.1:{port}/setup64.exe", f"http://127.0.0.1:{port}/setup64.exe"),
            # Line breaks in a value never reach the records as line breaks.
            (["/qa", "7\r\n[Status]\r\nDownloaded=true"], url,
             f"http://127.0.0.1:{port}/QA/files/7  [Status]  Downloaded=true/setup64.exe"),
            ([], url, url),
        ]
        for args, configured, fetched in cases:
            with self.subTest(args=args, url=configured):
                self.prefix.reset_records()
                log, _ = self.run_with(args, WebFile64=configured, progressbar="0")
                self.assertEqual(self.target_entries(log), ["Target: " + fetched])
                self.assertEqual(self.prefix.work_folders(), [], "the configuration and its folder are gone")

    def test_stamping_turns_one_installer_into_another(self):
        self.run_with(WebFile64="64\\package64.exe")
        self.run_with(["/ac", "second"], WebFile64="32\\package32.exe")
        self.assertEqual(self.started_packages(2), ["package64.exe", "package32.exe"])
        self.assertEqual([c["parameters"] for c in self.shell], ["/ac second"])


class ConfigOn32BitTest(ConfigTest):
    bits = 32

    def test_32_bit_windows_uses_WebFile(self):
        log, _ = self.run_with(WebFile="32\\package32.exe", WebFile64="64\\package64.exe", WebFileArm64="arm.exe")
        self.assertEqual(self.started_packages(1), ["package32.exe"])
        self.assertIn("Package for x86: WebFile", [text for _, _, text in entries(log)])


del ConfigTest  # only its subclasses run

if __name__ == "__main__":
    unittest.main()
