"""The demo run: serves a package where the shipped configuration expects it, pins that package's
SHA-256 into the installer's configuration (with parameters for the package, so that one can see
where they go), runs the installer with its dialog, and shows what the run left behind: what the
installer asked of the shell beside what the started package received, the install log and the
status file. A screenshot of the dialog mid-transfer goes to build/demo-download.png.

  --docs-pictures   run it at 100 % and at 200 % display scale, then at 100 % for a user whose
                    language is German and one whose language is Russian, and write the
                    screenshots to docs/ (the README's pictures)
"""
import argparse
import re
import hashlib
import pathlib
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

from harness import BINARY_DIR, INSTALL_LOG, LANGUAGES_INSTALLER, STATUS_FILE, Installer, Prefix, shell_calls  # noqa: E402
from servers import ScriptedServer  # noqa: E402
from wintools import GuiBot, clear_payload_starts, make_package, payload_starts  # noqa: E402

PORT = 18080  # the port of the shipped configuration's URLs
PACKAGE_SIZE = 6 * 1048576
SCREENSHOT = ROOT / "build" / "demo-download.png"
# The prefix's display scale (logical pixels per inch), the user's locale (Wine takes the user's UI
# language from it) and where the screenshot goes.
DOCS_PICTURES = [(96, None, ROOT / "docs" / "demo-download.png"), (192, None, ROOT / "docs" / "demo-download-200.png"),
                 (96, "de_DE.UTF-8", ROOT / "docs" / "demo-download-de.png"),
                 (96, "ru_RU.UTF-8", ROOT / "docs" / "demo-download-ru.png")]
DESKTOP = r"HKCU\Control Panel\Desktop"
# Given to the package through the configuration's "parameters" (the shipped one has none).
PARAMETERS = "/s demo"
# Where Wine's record of the installer's ShellExecuteEx calls goes (WINEDEBUG=trace+exec).
SHELL_TRACE = ROOT / "build" / "demo-shell-trace.log"


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


def run_installer(prefix, gui, shot_path, locale=None):
    """One download with the dialog, against a paced server; a screenshot at 40 % or more. Returns
    what the installer asked of the shell (harness.shell_calls)."""
    prefix.reset_records()
    clear_payload_starts(prefix)
    prefix.clear_work_folders()
    with tempfile.TemporaryDirectory() as work:
        package = make_package(pathlib.Path(work) / "package.exe", PACKAGE_SIZE).read_bytes()
        routes = {"/files/setup64.exe": Paced(package), "/files/setup32.exe": Paced(package)}
        with ScriptedServer(routes, port=PORT, lifetime=120) as server:
            # setup.exe speaks English; for another locale, the same build with every shipped language.
            installer = Installer(prefix, directory="Downloads", source=BINARY_DIR / LANGUAGES_INSTALLER if locale else None)
            # The shipped configuration's locations, each pinned to the package it fetches; stampcfg
            # would refuse them unpinned.
            sha256 = hashlib.sha256(package).hexdigest()
            shipped = (ROOT / "res" / "config" / "default.ini").read_bytes().decode("cp1252")
            pins = (f"[runtime]\r\nWebFileSha256={sha256}\r\nWebFile64Sha256={sha256}\r\n"
                    f"parameters={PARAMETERS}\r\n")
            installer.stamp(shipped.replace("[runtime]\r\n", pins, 1), allow_unverified=False)
            print(f"demo: package server on {server.url('/files/')} ({PACKAGE_SIZE} bytes, SHA-256 {sha256})")
            print(f"demo: configuration: res/config/default.ini, pinned to that SHA-256, with parameters={PARAMETERS}")
            print(f"demo: running {prefix.windows_path(installer.path)} under Wine ({prefix.env['DISPLAY']})")
            SHELL_TRACE.parent.mkdir(parents=True, exist_ok=True)
            with open(SHELL_TRACE, "wb") as trace:
                env = {"WINEDEBUG": "trace+exec", **({"LC_ALL": locale} if locale else {})}
                process = installer.start(env=env, stderr=trace)
                shot = False
                while process.poll() is None:
                    # The title's percentage, in whichever language the dialog shows ("40% completed",
                    # "40 % abgeschlossen", "%40 tamamlandı").
                    done = [int(m.group(1) or m.group(2)) for w in gui.list_windows(exe="setup.exe", visible=True,
                                                                                     class_name="#32770")
                            for m in [re.search(r"(\d+) ?%|%(\d+)", w.title)] if m]
                    windows = [w for w in gui.list_windows(exe="setup.exe", visible=True, class_name="#32770")
                               if re.search(r"\d ?%|%\d", w.title)]
                    if windows and not shot and done and done[0] >= 40:
                        screenshot(prefix.env["DISPLAY"], windows[0], shot_path)
                        print(f"demo: screenshot of \"{windows[0].title}\" saved to {shot_path.relative_to(ROOT)}")
                        shot = True
                    time.sleep(0.1)
            print(f"demo: installer ended with exit code {process.returncode}; "
                  f"{len(server.requests)} request(s) served")
    installer.remove()
    return shell_calls(SHELL_TRACE.read_bytes().decode("utf-8", errors="replace"))


def show_start(calls, starts):
    """What the installer asked of the shell beside what the package received."""
    print("\n===== started package")
    print("asked of the shell (ShellExecuteEx, as Wine's trace+exec recorded it):")
    for call in calls or [None]:
        if call is None:
            print("  (no shell request)")
            continue
        class_key = "given (SEE_MASK_CLASSKEY)" if call["mask"] & 0x3 == 0x3 else "none"
        print(f"  verb: {call['verb']}\n  file: {call['file']}\n  parameters: {call['parameters']}\n"
              f"  directory: {call['directory']}\n  class key: {class_key}")
    print("received by the package (its own command line):")
    for path, command in starts or [("(nothing was started)", "")]:
        print(f"  {path}\n  command line: {command}")
    print("why they differ: Wine runs the class key's command (\"%1\" %*) without the request's parameters; "
          "Windows passes them.")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--docs-pictures", action="store_true",
                        help="refresh the README's screenshots at 100 %% and 200 %% scale in docs/")
    args = parser.parse_args()
    prefix = Prefix()
    prefix.set_windows_version("win7")
    gui = GuiBot(prefix)
    calls = []
    if not args.docs_pictures:
        calls = run_installer(prefix, gui, SCREENSHOT)
    else:
        try:
            for dpi, locale, path in DOCS_PICTURES:
                prefix.wine(["reg", "add", DESKTOP, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"],
                            check=True)
                print(f"demo: display scale {dpi * 100 // 96} %" + (f", locale {locale}" if locale else ""))
                calls = run_installer(prefix, gui, path, locale)
        finally:
            prefix.wine(["reg", "delete", DESKTOP, "/v", "LogPixels", "/f"])

    deadline = time.monotonic() + 10
    while not payload_starts(prefix) and time.monotonic() < deadline:
        time.sleep(0.1)
    show_start(calls, payload_starts(prefix))
    show("install log", prefix.drive_c / INSTALL_LOG)
    show("status file", prefix.drive_c / STATUS_FILE)
    return 0 if payload_starts(prefix) else 1


if __name__ == "__main__":
    sys.exit(main())
