"""The demo run: serves a package where the shipped configuration expects it, pins that package's
SHA-256 into the installer's configuration, runs the installer with its dialog, and shows what the
run left behind. A screenshot of the dialog mid-transfer goes to build/demo-download.png.

  --docs-pictures   run it twice, at 100 % and at 200 % display scale, and write the screenshots
                    to docs/demo-download.png and docs/demo-download-200.png (the README's pictures)
"""
import argparse
import hashlib
import pathlib
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

from harness import INSTALL_LOG, STATUS_FILE, Installer, Prefix  # noqa: E402
from servers import ScriptedServer  # noqa: E402
from wintools import GuiBot, clear_payload_starts, make_package, payload_starts  # noqa: E402

PORT = 18080  # the port of the shipped configuration's URLs
PACKAGE_SIZE = 6 * 1048576
SCREENSHOT = ROOT / "build" / "demo-download.png"
# The prefix's display scale (logical pixels per inch) and where the screenshot at it goes.
DOCS_PICTURES = [(96, ROOT / "docs" / "demo-download.png"), (192, ROOT / "docs" / "demo-download-200.png")]
DESKTOP = r"HKCU\Control Panel\Desktop"


class Paced:
    """The package with its length, in pieces, slowly enough for a person to watch."""

    def __init__(self, body, piece=65536, interval=0.04):
        self.body, self.piece, self.interval = body, piece, interval

    def __call__(self, conn, request):
        conn.send_head(200, [("Content-Length", len(self.body)), ("Content-Type", "application/octet-stream")])
        for i in range(0, len(self.body), self.piece):
            conn.send(self.body[i:i + self.piece])
            if conn.wait(self.interval):
                return False
        return True


def screenshot(display, window, path):
    left, top, right, bottom = window.rect
    path.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(["/usr/bin/import", "-display", display, "-window", "root",
                    "-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage", str(path)], check=True)


def show(title, path):
    print(f"\n===== {title}: {path.name}")
    print(path.read_bytes().decode("cp1252").replace("\r\n", "\n") if path.exists() else "(absent)")


def run_installer(prefix, gui, shot_path):
    """One download with the dialog, against a paced server; a screenshot at 40 % or more."""
    prefix.reset_records()
    clear_payload_starts(prefix)
    prefix.clear_work_folders()
    with tempfile.TemporaryDirectory() as work:
        package = make_package(pathlib.Path(work) / "package.exe", PACKAGE_SIZE).read_bytes()
        routes = {"/files/setup64.exe": Paced(package), "/files/setup32.exe": Paced(package)}
        with ScriptedServer(routes, port=PORT, lifetime=120) as server:
            installer = Installer(prefix, directory="Downloads")
            # The shipped configuration's locations, each pinned to the package it fetches; stampcfg
            # would refuse them unpinned.
            sha256 = hashlib.sha256(package).hexdigest()
            shipped = (ROOT / "res" / "config" / "default.ini").read_bytes().decode("cp1252")
            pins = f"[runtime]\r\nWebFileSha256={sha256}\r\nWebFile64Sha256={sha256}\r\n"
            installer.stamp(shipped.replace("[runtime]\r\n", pins, 1), allow_unverified=False)
            print(f"demo: package server on {server.url('/files/')} ({PACKAGE_SIZE} bytes, SHA-256 {sha256})")
            print(f"demo: running {prefix.windows_path(installer.path)} under Wine ({prefix.env['DISPLAY']})")
            process = installer.start()
            shot = False
            while process.poll() is None:
                windows = [w for w in gui.list_windows(exe="setup.exe", visible=True, class_name="#32770")
                           if "completed" in w.title]
                if windows and not shot and windows[0].title.split("%")[0].strip().isdigit() \
                        and int(windows[0].title.split("%")[0]) >= 40:
                    screenshot(prefix.env["DISPLAY"], windows[0], shot_path)
                    print(f"demo: screenshot of \"{windows[0].title}\" saved to {shot_path.relative_to(ROOT)}")
                    shot = True
                time.sleep(0.1)
            print(f"demo: installer ended with exit code {process.returncode}; "
                  f"{len(server.requests)} request(s) served")
    installer.remove()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--docs-pictures", action="store_true",
                        help="refresh the README's screenshots at 100 %% and 200 %% scale in docs/")
    args = parser.parse_args()
    prefix = Prefix()
    prefix.set_windows_version("win7")
    gui = GuiBot(prefix)
    if not args.docs_pictures:
        run_installer(prefix, gui, SCREENSHOT)
    else:
        try:
            for dpi, path in DOCS_PICTURES:
                prefix.wine(["reg", "add", DESKTOP, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"],
                            check=True)
                print(f"demo: display scale {dpi * 100 // 96} %")
                run_installer(prefix, gui, path)
        finally:
            prefix.wine(["reg", "delete", DESKTOP, "/v", "LogPixels", "/f"])

    deadline = time.monotonic() + 10
    while not payload_starts(prefix) and time.monotonic() < deadline:
        time.sleep(0.1)
    print("\n===== started package")
    for path, command in payload_starts(prefix) or [("(nothing was started)", "")]:
        print(f"{path}\n  command line: {command}")
    show("install log", prefix.drive_c / INSTALL_LOG)
    show("status file", prefix.drive_c / STATUS_FILE)
    return 0 if payload_starts(prefix) else 1


if __name__ == "__main__":
    sys.exit(main())
