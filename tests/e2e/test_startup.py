"""Start-up under Wine: the version gate, the install-log banner and trim, and the log's layout."""
import re
import unittest

from harness import INSTALL_LOG, Installer, Prefix, config_text, entries

BANNER = "***************************Lodestep***************************"
KEY = re.compile(r"^(\d{3,}) \d\d \d\d:\d\d:\d\d \d{3,4}  \.$")
SECTION = re.compile(r"^(ERROR|FLOW|INFO) \(Thread ID=(\d+)\)$")


def write_log(prefix, size):
    """An install log of exactly `size` bytes, in INI form."""
    head = b"[Old]\r\nfiller="
    body = head + b"x" * (size - len(head) - 2) + b"\r\n"
    assert len(body) == size
    (prefix.drive_c / INSTALL_LOG).write_bytes(body)


class StartupTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = Prefix()
        # A configuration that resolves to nothing usable: the run ends after start-up.
        cls.installer = Installer(cls.prefix).stamp(
            config_text(WebFile="missing\\none.exe", WebFile64="missing\\none.exe", Caption="Test"))

    @classmethod
    def tearDownClass(cls):
        cls.prefix.set_windows_version(None)
        cls.installer.remove()

    def setUp(self):
        self.prefix.reset_records()
        self.prefix.set_windows_version("win7")

    def banner_entries(self):
        log, _ = self.prefix.records()
        return [(s, k) for s, k, text in entries(log) if text == BANNER]

    def test_windows_before_2000_leaves_one_error_entry(self):
        self.prefix.set_windows_version("nt40")
        self.installer.run()
        log, status = self.prefix.records()
        self.assertEqual([(s, t) for s, _, t in entries(log)],
                         [("ERROR (Thread ID=)", "Microsoft operating systems before Windows 2000 are not supported.")])
        self.assertRegex(entries(log)[0][1], KEY)
        self.assertEqual(status, [])

    def test_windows_2000_and_7_pass_the_gate(self):
        for version in ("win2k", "winxp", "win7"):
            with self.subTest(version=version):
                self.prefix.set_windows_version(version)
                write_log(self.prefix, 100)
                self.installer.run()
                self.assertEqual([s.split(" ")[0] for s, _ in self.banner_entries()], ["ERROR", "FLOW", "INFO"])

    def test_no_log_means_no_banner(self):
        self.installer.run()
        self.assertEqual(self.banner_entries(), [])

    def test_log_is_trimmed_only_past_100000_bytes(self):
        write_log(self.prefix, 100000)
        self.installer.run()
        self.assertEqual(len(self.banner_entries()), 3)
        log, _ = self.prefix.records()
        self.assertEqual(log[0][0], "Old", "older entries stay")

        write_log(self.prefix, 100001)
        self.installer.run()
        self.assertEqual(self.banner_entries(), [])
        log, _ = self.prefix.records()
        self.assertNotIn("Old", [s for s, _ in log])

    def test_sections_carry_the_main_thread_and_keys_count_up(self):
        write_log(self.prefix, 100)
        self.installer.run()
        log, _ = self.prefix.records()
        run_entries = [(s, k) for s, k, _ in entries(log) if s != "Old"]
        self.assertGreaterEqual(len(run_entries), 3)
        thread_ids = set()
        numbers = []
        for section, key in run_entries:
            section_match = SECTION.match(section)
            self.assertIsNotNone(section_match, section)
            thread_ids.add(section_match.group(2))
            key_match = KEY.match(key)
            self.assertIsNotNone(key_match, key)
            numbers.append(int(key_match.group(1)))
        self.assertEqual(len(thread_ids), 1, "every section names the same (main) thread")
        self.assertNotEqual(thread_ids.pop(), "0")
        self.assertEqual(sorted(numbers), list(range(1, len(numbers) + 1)))


if __name__ == "__main__":
    unittest.main()
