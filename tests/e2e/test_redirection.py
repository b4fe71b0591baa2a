"""Nothing that a program of the same user can redirect is trusted while the installer runs
elevated: the user's %TEMP% (a link repointed mid-run changes nothing), a package beside the
installer (changed after the installer started, it is refused), the shell's verbs (the start goes
through the machine's class key), and what is left after a start (marked for the next restart).
Junctions, RedirectionGuard and descriptors are Windows' own: docs/what-wine-cannot-show.md."""
import ctypes
import hashlib
import os
import select
import shutil
import signal
import threading
import time
import unittest

from harness import Installer, config_text, entries, section_dict, shell_calls
from installer_case import InstallerTestCase
from servers import ScriptedServer
from test_download import Paced
from wintools import make_package, payload_compat_layers, payload_directories, payload_temp_dirs, wait_for_starts

CAPTION = "Quillmoor Internet Security"
EXTRACTED = "vkinstlightx.ini"
SEE_MASK_CLASSKEY = 0x3
IN_CREATE = 0x100


class Watch:
    """inotify on one directory: wait() answers the name of the next entry created in it."""

    def __init__(self, directory):
        self.libc = ctypes.CDLL(None, use_errno=True)
        self.fd = self.libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self.fd < 0 or self.libc.inotify_add_watch(self.fd, str(directory).encode(), IN_CREATE) < 0:
            raise OSError(ctypes.get_errno(), "inotify")

    def wait(self, prefix, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if not select.select([self.fd], [], [], max(0.0, deadline - time.monotonic()))[0]:
                break
            data = os.read(self.fd, 65536)
            at = 0
            while at < len(data):
                length = int.from_bytes(data[at + 12:at + 16], "little")
                name = data[at + 16:at + 16 + length].rstrip(b"\0").decode()
                at += 16 + length
                if name.startswith(prefix):
                    return name
        return None

    def close(self):
        os.close(self.fd)


class RedirectionTest(InstallerTestCase):
    serve = True

    @classmethod
    def make_packages(cls, files):
        cls.package = make_package(files / "package.exe", 1500000)

    def setUp(self):
        self.clear_earlier_runs()

    def installer(self, **keys):
        installer = Installer(self.prefix)
        self.addCleanup(installer.remove)
        keys = {"Caption": CAPTION, "CompanyNameShort": "Quillmoor", **keys}
        return installer.stamp(config_text(**keys))

    def errors(self):
        log, _ = self.prefix.records()
        return [text for section, _, text in entries(log) if section.startswith("ERROR ")]

    def test_a_users_temp_repointed_mid_run_changes_nothing(self):
        # %TEMP% is a link the user's program owns: first to one folder, then, while the download
        # runs, to another in which a configuration, a package and a directory of the package's
        # name wait, and a hard link of the package's name leads to a file of the user's.
        drive_c = self.prefix.drive_c
        link, first, second = drive_c / "user-temp", drive_c / "user-temp-1", drive_c / "user-temp-2"
        for folder in (first, second):
            folder.mkdir()
            self.addCleanup(shutil.rmtree, folder, True)
        link.symlink_to(first)
        self.addCleanup(link.unlink)
        planted = {
            second / EXTRACTED: config_text(WebFile64=self.server.url("/files/evil.exe"), progressbar="0").encode(),
            second / "~setup.exe": b"MZ the user's own program",
            first / "sentinel.exe": b"the user's file",
        }
        for path, data in planted.items():
            path.write_bytes(data)
        os.link(first / "sentinel.exe", first / "~setup.exe")
        (second / "~~setup.exe").mkdir()

        body = self.package.read_bytes()
        gate = threading.Event()
        with ScriptedServer({"/held.exe": Paced(body, piece=len(body) // 2, gate=gate)}) as server:
            installer = self.installer(WebFile64=server.url("/held.exe"), parameters="/s", progressbar="0",
                                       WebFile64Sha256=hashlib.sha256(body).hexdigest())
            temp = "C:\\" + link.name
            command = (f"set TMP={temp}&& set TEMP={temp}&& set __COMPAT_LAYER=RunAsInvoker&& "
                       f"{self.prefix.windows_path(installer.path)}")
            env = {"WINEDEBUG": "trace+exec"}
            with open(os.devnull, "wb") as quiet, open(installer.dir / "trace.txt", "wb") as trace:
                shell = self.prefix.popen(["cmd", "/c", command], env=env, stdout=quiet, stderr=trace)
                self.addCleanup(lambda: shell.poll() is None and shell.kill())
                deadline = time.monotonic() + 30
                while not any(r.path == "/held.exe" for r in server.requests) and time.monotonic() < deadline:
                    time.sleep(0.02)
                link.unlink()
                link.symlink_to(second)  # repointed while the package is being written
                gate.set()
                shell.wait(timeout=60)
            calls = shell_calls((installer.dir / "trace.txt").read_text(errors="replace"))

        folder = self.prefix.work_folder_windows()
        self.assertRegex(folder, r"^C:\\windows\\Temp\\vkinst-[0-9a-f]{16}$")
        self.assertEqual(self.errors(), [])
        starts = wait_for_starts(self.prefix, 1)
        self.assertEqual([path.lower() for path, _ in starts], [self.prefix.target_windows().lower()])
        self.assertEqual([d.lower() for d in payload_directories(self.prefix)], [folder.lower()])
        # The package inherits neither the user's TEMP nor the user's compatibility layer.
        self.assertEqual(payload_temp_dirs(self.prefix), [folder + "\\Temp\\"])
        self.assertEqual(payload_compat_layers(self.prefix), ["-"])
        self.assertEqual([(c["file"], c["parameters"], c["directory"]) for c in calls],
                         [(self.prefix.target_windows(), "/s", folder + "\\")])
        self.assert_started_from(body)
        # The user's folders are as they were: nothing was read from them, written or started there.
        for path, data in planted.items():
            self.assertEqual(path.read_bytes(), data)
        self.assertEqual((first / "~setup.exe").read_bytes(), b"the user's file")
        self.assertEqual(sorted(p.name for p in first.iterdir()), ["sentinel.exe", "~setup.exe"])
        self.assertEqual(sorted(p.name for p in second.iterdir()), [EXTRACTED, "~setup.exe", "~~setup.exe"])

    def test_a_local_package_changed_after_the_installer_started_is_refused(self):
        installer = self.installer(WebFile64="64\\package.exe", progressbar="0",
                                   WebFile64Sha256=hashlib.sha256(self.package.read_bytes()).hexdigest())
        beside = installer.dir / "64" / "package.exe"
        beside.parent.mkdir()
        beside.write_bytes(self.package.read_bytes())
        changed = bytearray(self.package.read_bytes())
        changed[1400000] ^= 1  # in the zero padding: the changed package would still run
        watch = Watch(self.prefix.system_temp)
        self.addCleanup(watch.close)
        process = installer.start()
        # The installer makes its working folder while it reads the configuration, after it has
        # resolved the location and before it copies the package: it is held there while the user's
        # program replaces the package, as a program could at that moment on Windows.
        folder = watch.wait("vkinst-")
        self.assertIsNotNone(folder, "no working folder was made")
        os.kill(process.pid, signal.SIGSTOP)  # Wine runs the program as the process it was started as
        try:
            self.assertFalse((self.prefix.system_temp / folder / "package.exe").exists(), "stopped before the copy")
            replacement = beside.with_name("package.new")
            replacement.write_bytes(bytes(changed))
            os.replace(replacement, beside)
        finally:
            os.kill(process.pid, signal.SIGCONT)
        process.wait(timeout=60)

        refusal = "Package hash mismatch: " + self.prefix.target_windows("package.exe")
        self.assertEqual(self.errors(), [refusal])
        _, status = self.prefix.records()
        self.assertEqual(section_dict(status, "Status"), {"Error": refusal})
        self.assertEqual(wait_for_starts(self.prefix, 0), [])
        self.assertEqual(self.prefix.work_folders(), [], "the copy and its folder are gone")
        self.assertEqual(beside.read_bytes(), bytes(changed), "the package beside the installer is the user's")

    def test_the_shell_is_asked_with_the_machines_class_key_and_no_user_verb_runs(self):
        # A user's own verbs for programs, as any program of the user can write them. Wine's shell
        # consults only the class key it is given, so that the machine's key is the one passed is
        # proven in tests/win/launch_shell_test.cpp; here, what the real installer asks.
        marker = self.prefix.drive_c / "user-verb-ran.txt"
        marker.unlink(missing_ok=True)
        for verb in ("runas", "open"):
            key = rf"HKCU\Software\Classes\exefile\shell\{verb}\command"
            self.prefix.wine(["reg", "add", key, "/ve", "/d", f'cmd /c echo {verb}> "{self.prefix.windows_path(marker)}"',
                              "/f"], check=True)
        self.addCleanup(self.prefix.wine, ["reg", "delete", r"HKCU\Software\Classes\exefile", "/f"])
        installer = self.installer(WebFile64=self.server.url("/files/package.exe"), parameters="/s update",
                                   progressbar="0",
                                   WebFile64Sha256=hashlib.sha256(self.package.read_bytes()).hexdigest())
        result = installer.run(trace_shell=True)
        folder = self.prefix.work_folder_windows()
        self.assertEqual(len(result.shell), 1)
        call = result.shell[0]
        self.assertEqual(call["mask"] & SEE_MASK_CLASSKEY, SEE_MASK_CLASSKEY, hex(call["mask"]))
        self.assertEqual((call["verb"], call["file"], call["parameters"], call["directory"]),
                         ("runas", self.prefix.target_windows(), "/s update", folder + "\\"))
        self.assertEqual(len(wait_for_starts(self.prefix, 1)), 1)
        self.assertFalse(marker.exists(), "a user-written verb ran")

    def test_what_a_started_package_holds_waits_for_the_next_restart(self):
        # After a start the package's file (while it runs from it), its Temp and then the folder
        # wait for the next restart. A run that starts nothing leaves nothing and marks nothing.
        digest = hashlib.sha256(self.package.read_bytes()).hexdigest()
        self.installer(WebFile64=self.server.url("/files/package.exe"), progressbar="0",
                       WebFile64Sha256=digest).run()
        self.assertEqual(len(wait_for_starts(self.prefix, 1)), 1)
        folder = self.prefix.work_folder_windows()
        left = sorted(p.name for p in self.prefix.unix_path(folder).iterdir())
        self.assertIn(left, (["Temp"], ["Temp", "~setup.exe"]))
        pending = self.prefix.pending_deletions()
        self.assertEqual(sorted(pending[:-1]), [folder + "\\" + name for name in left])
        self.assertEqual(pending[-1:], [folder])

        self.prefix.clear_work_folders()
        self.prefix.reset_records()
        self.installer(WebFile64=self.server.url("/files/package.exe"), progressbar="0",
                       WebFile64Sha256="0" * 64).run()
        self.assertEqual(self.errors(), ["Package hash mismatch: " + self.prefix.target_windows()])
        self.assertEqual(self.prefix.work_folders(), [])
        self.assertEqual(self.prefix.pending_deletions(), [])


if __name__ == "__main__":
    unittest.main()
