"""The download dialog and the tray icon at the display scales users run: 100, 125, 150 and 200 %.
Under Wine the scale is the prefix's LogPixels, read by each program as it starts; the checks are
the Win32 tests AtTheDisplayScale.* (tests/win/display_scale_test.cpp), run here at each scale. Each
run lays the dialog out in English and in every translation the executable carries, so the four
runs cover every (language, scale) pair."""
import unittest

from harness import BINARY_DIR, Prefix
from wintools import run_captured

DESKTOP = r"HKCU\Control Panel\Desktop"
WIN_TESTS = BINARY_DIR / "tests" / "win" / "win_tests.exe"


class ScaleTest(unittest.TestCase):
    def test_dialog_texts_fit_controls_do_not_overlap_and_the_tray_icon_is_drawn_for_the_scale(self):
        prefix = Prefix()
        try:
            for dpi in (96, 120, 144, 192):
                with self.subTest(dpi=dpi):
                    prefix.wine(["reg", "add", DESKTOP, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"],
                                check=True)
                    result = run_captured(prefix, [WIN_TESTS, "--gtest_filter=AtTheDisplayScale.*"],
                                          env={"SETUP_EXPECTED_DPI": str(dpi)})
                    output = result.stdout.decode(errors="replace")
                    self.assertEqual(result.returncode, 0, output)
                    self.assertIn("[  PASSED  ] 2 tests.", output)
        finally:
            # Later tests run at the prefix's default scale.
            prefix.wine(["reg", "delete", DESKTOP, "/v", "LogPixels", "/f"])


if __name__ == "__main__":
    unittest.main()
