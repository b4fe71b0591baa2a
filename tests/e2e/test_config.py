"""The embedded configuration under Wine: which key a system uses, the QA rewrite, the local
package beside the installer, and installers stamped with another configuration."""
import socket
import unittest

from harness import Installer, Prefix, config_text, entries, section_dict
from wintools import GuiBot, clear_payload_starts, make_package, wait_for_starts

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
        (self.prefix.temp_dir / EXTRACTED).unlink(missing_ok=True)
        self.installer = Installer(self.prefix)
        self.addCleanup(self.installer.remove)
        for sub in ("32", "64"):
            make_package(self.installer.dir / sub / "package.exe", 1000001)

    def run_with(self, args=(), **keys):
        self.installer.stamp(config_text(**keys)).run(args)
        return self.prefix.records()

    def started_packages(self, expected_count):
        starts = wait_for_starts(self.prefix, expected_count)
        self.assertEqual(len(starts), expected_count, starts)
        return [(path.rsplit("\\", 2)[-2], command) for path, command in starts]

    def target_entries(self, log):
        return [text for _, _, text in entries(log) if text.startswith("Target: ")]


class ConfigOn64BitTest(ConfigTest):
    def test_64_bit_windows_uses_WebFile64(self):
        self.run_with(WebFile="32\\package.exe", WebFile64="64\\package.exe")
        self.assertEqual([sub for sub, _ in self.started_packages(1)], ["64"])

    def test_64_bit_windows_never_falls_back_to_WebFile(self):
        # Without WebFile64 the location is empty: it would name the installer's own directory,
        # which is no package, so nothing is started (not even a folder window).
        _, status = self.run_with(WebFile="32\\package.exe", Caption="x")
        self.assertIsNone(section_dict(status, "Status"))
        self.assertEqual(self.started_packages(0), [])
        folder_windows = [w for w in GuiBot(self.prefix).list_windows() if w.visible and w.title == self.installer.dir.name]
        self.assertEqual(folder_windows, [])

    def test_local_package_is_started_with_open_and_the_ac_value(self):
        cases = [
            (["/ac", "  7f3a  "], "/ac 7f3a"),
            (["-AC", "TrUe"], None),
            ([], None),
        ]
        for args, parameters in cases:
            with self.subTest(args=args):
                clear_payload_starts(self.prefix)
                _, status = self.run_with(args, WebFile64=" \\64\\package.exe\\ ")
                ((sub, command),) = self.started_packages(1)
                self.assertEqual(sub, "64")
                tail = command.split("package.exe", 1)[1].strip().strip('"').strip()
                self.assertEqual(tail, parameters or "")
                self.assertEqual(section_dict(status, "Status"), {"Attempted to run local file": "true"})
                self.assertFalse((self.prefix.temp_dir / EXTRACTED).exists(), "deleted after a local package")

    def test_missing_or_capitalised_locations_start_nothing(self):
        for location in ("64\\absent.exe", "HTTP://127.0.0.1/files/x.exe", "http"):
            with self.subTest(location=location):
                self.prefix.reset_records()
                log, status = self.run_with(WebFile64=location)
                self.assertEqual(self.started_packages(0), [])
                self.assertEqual(self.target_entries(log), [], "no download was tried")
                self.assertIsNone(section_dict(status, "Status"), "removed, and nothing written after")
                self.assertTrue((self.prefix.temp_dir / EXTRACTED).exists(), "kept when nothing is usable")

    def test_qa_mode_rewrites_the_url(self):
        port = closed_port()
        url = f"http://127.0.0.1:{port}/files/setup64.exe"
        cases = [
            (["/qa", "7.1.2.3"], url, f"http://127.0.0.1:{port}/QA/files/7.1.2.3/setup64.exe", True),
            (["/qa"], url, f"http://127.0.0.1:{port}/QA/files/6.10.18.01/setup64.exe", True),
            (["-QA", "true"], url, f"http://127.0.0.1:{port}/QA/files/6.10.18.01/setup64.exe", True),
            (["/qa", "5"], f"http://127.0.0.1:{port}/setup64.exe", f"http://127.0.0.1:{port}/setup64.exe", True),
            # Line breaks in a value never reach the records as line breaks.
            (["/qa", "7\r\n[Status]\r\nDownloaded=true"], url,
             f"http://127.0.0.1:{port}/QA/files/7  [Status]  Downloaded=true/setup64.exe", True),
            ([], url, url, False),
        ]
        for args, configured, fetched, extracted_kept in cases:
            with self.subTest(args=args, url=configured):
                (self.prefix.temp_dir / EXTRACTED).unlink(missing_ok=True)
                self.prefix.reset_records()
                log, _ = self.run_with(args, WebFile64=configured, progressbar="0")
                self.assertEqual(self.target_entries(log), ["Target: " + fetched])
                self.assertEqual((self.prefix.temp_dir / EXTRACTED).exists(), extracted_kept)

    def test_stamping_turns_one_installer_into_another(self):
        self.run_with(WebFile64="64\\package.exe")
        self.run_with(["/ac", "second"], WebFile64="32\\package.exe")
        starts = self.started_packages(2)
        self.assertEqual([sub for sub, _ in starts], ["64", "32"])
        self.assertTrue(starts[1][1].rstrip().endswith("/ac second"), starts[1][1])


class ConfigOn32BitTest(ConfigTest):
    bits = 32

    def test_32_bit_windows_uses_WebFile(self):
        self.run_with(WebFile="32\\package.exe", WebFile64="64\\package.exe")
        self.assertEqual([sub for sub, _ in self.started_packages(1)], ["32"])


del ConfigTest  # only its subclasses run

if __name__ == "__main__":
    unittest.main()
