"""The download dialog and the tray icon at the display scales users run: 100, 125, 150 and 200 %.
Under Wine the scale is the prefix's LogPixels, read by each program as it starts."""
import itertools
import unittest

from harness import BINARY_DIR, Prefix
from wintools import TOOLS_DIR, run_captured

DESKTOP = r"HKCU\Control Panel\Desktop"

# Logical pixels per inch and the small-icon size Windows uses at that scale.
SCALES = [(96, 16), (120, 20), (144, 24), (192, 32)]

# The longest texts of a usual run: the product's name in the file line, a host name being
# resolved, a download of some hundred megabytes on a slow line, a rate below 1 KB per second.
TEXTS = {
    1001: "Resolving name: downloads.example.com",
    1002: "Downloading the latest version of Quillmoor Internet Security",
    1004: "12 min 34 sec (123.45 MB of 456.78 MB copied)",
    1005: "1023 Bytes/Sec",
}


def parse(output):
    """The layout tool's lines: (fields of the first line, client size, one dict per control)."""
    lines = output.splitlines()
    icon = dict(field.split("=") for field in lines[0].split())
    client = tuple(int(v) for v in lines[1].partition("=")[2].split(","))
    controls = []
    for line in lines[2:]:
        head, _, text = line.partition(" text=")
        fields = dict(field.split("=") for field in head.split())
        controls.append({"id": int(fields["id"]), "class": fields["class"], "text": text,
                         "rect": tuple(int(v) for v in fields["rect"].split(",")),
                         "text_size": tuple(int(v) for v in fields["text-size"].split(","))})
    return icon, client, controls


class ScaleTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = Prefix()

    def tearDown(self):
        # Later tests run at the prefix's default scale.
        self.prefix.wine(["reg", "delete", DESKTOP, "/v", "LogPixels", "/f"])

    def test_dialog_texts_fit_controls_do_not_overlap_and_the_tray_icon_is_drawn_for_the_scale(self):
        for dpi, small_icon in SCALES:
            with self.subTest(dpi=dpi):
                self.prefix.wine(["reg", "add", DESKTOP, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"],
                                 check=True)
                result = run_captured(self.prefix, [TOOLS_DIR / "layout.exe", self.prefix.windows_path(BINARY_DIR / "setup.exe")]
                                      + [f"{id}={text}" for id, text in TEXTS.items()])
                self.assertEqual(result.returncode, 0, result.stderr)
                icon, (width, height), controls = parse(result.stdout.decode())
                self.assertEqual(icon["dpi"], str(dpi))

                # The tray's icon: loaded at the small-icon size from an image drawn for it.
                self.assertEqual(icon["small-icon"], f"{small_icon},{small_icon}")
                self.assertEqual(icon["loaded"], icon["small-icon"])
                self.assertEqual(icon["drawn"], str(small_icon))

                self.assertEqual(len(controls), 9)
                for c in controls:
                    left, top, right, bottom = c["rect"]
                    self.assertTrue(0 <= left < right <= width and 0 <= top < bottom <= height, c)
                    if c["text"]:
                        text_width, text_height = c["text_size"]
                        self.assertLessEqual(text_width, right - left, f"{c['text']!r} cut")
                        self.assertLessEqual(text_height, bottom - top, f"{c['text']!r} cut")
                for a, b in itertools.combinations(controls, 2):
                    (al, at, ar, ab), (bl, bt, br, bb) = a["rect"], b["rect"]
                    self.assertFalse(al < br and bl < ar and at < bb and bt < ab,
                                     f"{a['id']} {a['rect']} overlaps {b['id']} {b['rect']}")


if __name__ == "__main__":
    unittest.main()
