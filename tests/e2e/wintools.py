"""Python side of the Win32 test helpers in tools/ (built beside the installer): guibot for driving
windows, payload for the downloaded package, trustcert for the prefix's root store, fetch for a bare
WinINet download. Each runs under Wine in a harness Prefix."""
import dataclasses
import pathlib
import re
import shutil
import subprocess
import tempfile
import time

from harness import BINARY_DIR

TOOLS_DIR = BINARY_DIR / "tests" / "e2e" / "tools"
PAYLOAD = TOOLS_DIR / "payload.exe"
PAYLOAD_RECORD = "payload-started.txt"  # in the root of drive C, unless PAYLOAD_RECORD names another file
STAMPCFG = BINARY_DIR / "tools" / "stampcfg" / "stampcfg.exe"


def _decode(data):
    text = data.decode("cp1252", errors="replace")
    return text.replace("\r\n", "\n")


def run_captured(prefix, args, timeout=60, env=None):
    """Runs `wine args...` to its end (see Prefix.wine: output through files, not pipes)."""
    return prefix.wine(args, timeout=timeout, env=env)


class Started:
    """A program started in the background whose output is kept in a file until it ends."""

    def __init__(self, prefix, args, env=None):
        self.output = tempfile.TemporaryFile()
        self.process = prefix.popen(args, env=env, stdout=self.output, stderr=subprocess.STDOUT)

    def finish(self, timeout=30):
        """Waits for the end; its exit code and output (text). Kills it if the time runs out."""
        try:
            code = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise
        self.output.seek(0)
        text = _decode(self.output.read())
        self.output.close()
        return code, text

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.output.close()


def make_package(path, size):
    """A copy of payload.exe padded with zero bytes to exactly `size` bytes, at `path`; it runs as
    the payload does. Raises ValueError when `size` is smaller than the payload itself."""
    path = pathlib.Path(path)
    image = PAYLOAD.stat().st_size
    if size < image:
        raise ValueError(f"a package cannot be smaller than the payload ({image} bytes)")
    path.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(PAYLOAD, path)
    with open(path, "ab") as f:
        f.write(b"\0" * (size - image))
    return path


def stamp_as_given(installer, config_text):
    """Installer.stamp that also lets through a value the installer itself refuses (stampcfg's
    --allow-malformed), so that a test can prove that refusal; returns the installer."""
    config = installer.dir / (installer.path.stem + ".ini")
    config.write_bytes(config_text.encode("cp1252"))
    result = installer.prefix.wine([STAMPCFG, "--allow-unverified", "--allow-malformed", installer.path, config])
    config.unlink()
    if result.returncode != 0:
        raise RuntimeError(f"stampcfg failed: {result.stdout!r} {result.stderr!r}")
    return installer


def _payload_records(prefix, record=None):
    path = pathlib.Path(record) if record else prefix.drive_c / PAYLOAD_RECORD
    if not path.exists():
        return []
    return [line.split("\t") for line in _decode(path.read_bytes()).splitlines() if line]


def payload_starts(prefix, record=None):
    """Every start the payload recorded, oldest first, as (its own Windows path, its whole command
    line); `record` is the file's Unix path when PAYLOAD_RECORD moved it. [] when none. Under Wine a
    package the installer starts gets no parameters (docs/what-wine-cannot-show.md): what it was
    started with is in the installer's shell calls (harness.shell_calls)."""
    return [(fields[0], fields[1]) for fields in _payload_records(prefix, record)]


def payload_directories(prefix, record=None):
    """The working directory of every start the payload recorded, oldest first."""
    return [fields[2] for fields in _payload_records(prefix, record)]


def payload_temp_dirs(prefix, record=None):
    """The temporary directory (from the environment it inherited) of every start, oldest first."""
    return [fields[3] for fields in _payload_records(prefix, record)]


def payload_hashes(prefix, record=None):
    """The SHA-256 (hex) of its own file as each start read it, oldest first."""
    return [fields[5] for fields in _payload_records(prefix, record)]


def payload_compat_layers(prefix, record=None):
    """The __COMPAT_LAYER it inherited ("-" when none) of every start, oldest first."""
    return [fields[4] for fields in _payload_records(prefix, record)]


# Wine's own processes, which run in every prefix whatever a test does.
_WINE_OWN = {"services.exe", "plugplay.exe", "winedevice.exe", "svchost.exe", "rpcss.exe", "explorer.exe",
             "conhost.exe"}


def programs_running(prefix):
    """The names (as the kernel keeps them, cut to 15 characters) of the Windows programs other than
    Wine's own that run in `prefix` now. Every Wine process carries its prefix and the loader's mark
    in the environment it was started with; a program another one starts exists from the moment
    CreateProcess returns to its parent, which is before the parent can end."""
    mark = f"\0WINEPREFIX={prefix.path}\0".encode()
    names = []
    for proc in pathlib.Path("/proc").iterdir():
        if not proc.name.isdigit():
            continue
        try:
            environ = b"\0" + (proc / "environ").read_bytes()
            name = (proc / "comm").read_text().strip()
        except OSError:
            continue  # ended meanwhile, or not ours to read
        if mark in environ and b"\0WINELOADERNOEXEC=" in environ and name.lower() not in _WINE_OWN:
            names.append(name)
    return names


def wait_for_starts(prefix, count, timeout=10.0):
    """The payload's starts once there are `count` of them (or after `timeout` s). The shell starts
    it and it runs on after the installer has ended; for 0, once no program started in the prefix
    runs any more (a start the installer made has then been recorded)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and len(payload_starts(prefix)) < count:
        time.sleep(0.1)
    while count == 0 and time.monotonic() < deadline and programs_running(prefix):
        time.sleep(0.05)
    return payload_starts(prefix)


def clear_payload_starts(prefix):
    (prefix.drive_c / PAYLOAD_RECORD).unlink(missing_ok=True)


@dataclasses.dataclass
class Window:
    hwnd: int
    pid: int
    exe: str
    visible: bool
    rect: tuple  # left, top, right, bottom in screen pixels
    class_name: str
    title: str


@dataclasses.dataclass
class Control:
    id: int
    hwnd: int
    visible: bool
    enabled: bool
    class_name: str
    text: str


_WINDOW = re.compile(r"^hwnd=0x([0-9a-f]+) pid=(\d+) exe=(.*?) visible=([01]) "
                     r"rect=(-?\d+),(-?\d+),(-?\d+),(-?\d+) class=(.*?) title=(.*)$")
_CONTROL = re.compile(r"^id=(-?\d+) hwnd=0x([0-9a-f]+) visible=([01]) enabled=([01]) class=(.*?) text=(.*)$")


def _window(line):
    m = _WINDOW.match(line)
    return Window(int(m[1], 16), int(m[2]), m[3], m[4] == "1", tuple(int(m[i]) for i in range(5, 9)), m[9], m[10])


def _control(line):
    m = _CONTROL.match(line)
    return Control(int(m[1]), int(m[2], 16), m[3] == "1", m[4] == "1", m[5], m[6])


class GuiBot:
    """guibot.exe in `prefix`. Filters, as keyword arguments of every call: title (exact),
    title_contains, class_name, pid (Windows process id), exe (image name), visible (True: only
    visible windows; a dialog exists hidden before it is shown, and a BM_CLICK that reaches it then
    is lost, so wait for it with visible=True), utf8 (True: texts read wide, as shown whatever the
    code page). Texts with line breaks come back with them escaped as \\r and \\n, except
    from get_text."""

    EXE = TOOLS_DIR / "guibot.exe"

    def __init__(self, prefix):
        self.prefix = prefix

    def run(self, command, *args, timeout=60, **filters):
        """Runs one command; a CompletedProcess whose stdout and stderr are texts."""
        argv = [self.EXE, command] + list(args)
        for name, value in filters.items():
            if name in ("visible", "utf8"):
                argv += ["--" + name] if value else []
            else:
                argv += ["--" + name.replace("class_name", "class").replace("_", "-"), value]
        result = run_captured(self.prefix, argv, timeout=timeout)
        if filters.get("utf8"):
            result.stdout = result.stdout.decode("utf-8", errors="replace").replace("\r\n", "\n")
            result.stderr = _decode(result.stderr)
        else:
            result.stdout, result.stderr = _decode(result.stdout), _decode(result.stderr)
        return result

    def start(self, command, *args):
        """Starts a command that runs until its window is dealt with (demo-box, demo-dialog)."""
        return Started(self.prefix, [self.EXE, command] + [str(a) for a in args])

    def list_windows(self, **filters):
        return [_window(line) for line in self.run("list-windows", **filters).stdout.splitlines()]

    def wait_window(self, timeout=10, **filters):
        """The first matching window once it exists, or None after `timeout` seconds."""
        result = self.run("wait-window", "--timeout", timeout, timeout=timeout + 30, **filters)
        return _window(result.stdout.strip()) if result.returncode == 0 else None

    def list_controls(self, timeout=0, **filters):
        """The child windows of the first matching window; None when there is no such window."""
        result = self.run("list-controls", "--timeout", timeout, timeout=timeout + 30, **filters)
        return [_control(line) for line in result.stdout.splitlines()] if result.returncode == 0 else None

    def get_text(self, control_id=None, timeout=0, **filters):
        """The text of the control (or of the window itself), or None when either is missing."""
        args = ["--timeout", timeout] + (["--control-id", control_id] if control_id is not None else [])
        result = self.run("get-text", *args, timeout=timeout + 30, **filters)
        return result.stdout[:-1] if result.returncode == 0 else None

    def set_text(self, control_id, text, timeout=0, **filters):
        """True when the control took the text."""
        return self.run("set-text", "--control-id", control_id, "--text", text, "--timeout", timeout,
                        timeout=timeout + 30, **filters).returncode == 0

    def click(self, control_id, method="command", timeout=0, **filters):
        """Posts the click (WM_COMMAND to the window, or BM_CLICK to the button with
        method="bm-click"); True when the window and the control were found."""
        return self.run("click", "--control-id", control_id, "--method", method, "--timeout", timeout,
                        timeout=timeout + 30, **filters).returncode == 0

    def tray_tips(self, timeout=10):
        """The tooltip of each icon of the notification area, as pointing at the icon shows it."""
        result = self.run("tray-tips", "--timeout", timeout, timeout=timeout + 30, utf8=True)
        return [line[len("tip="):] for line in result.stdout.splitlines() if line.startswith("tip=")]



def trustcert(prefix, command, cert):
    """Runs `trustcert command cert` (add, remove, contains) in `prefix`; its exit code."""
    return run_captured(prefix, [TOOLS_DIR / "trustcert.exe", command, prefix.windows_path(cert)]).returncode


_FETCH = re.compile(r"^(status|error)=(\d+) (?:length=(\S+)|stage=(\S+)) bytes=(\d+) seconds=([\d.]+)$")


def fetch(prefix, url, block=None, out=None, flags=None, timeout=120):
    """One GET with fetch.exe: a dict with status (int, or None on failure), error (WinINet or
    system error number, or None), stage (where it failed), length (the Content-Length text or
    None), bytes and seconds. `out` is a Unix path for the body."""
    args = [TOOLS_DIR / "fetch.exe", url]
    if block is not None:
        args += ["--block", block]
    if out is not None:
        args += ["--out", prefix.windows_path(out)]
    if flags is not None:
        args += ["--flags", f"{flags:x}"]
    result = run_captured(prefix, args, timeout=timeout)
    m = _FETCH.match(_decode(result.stdout).strip())
    if not m:
        raise RuntimeError(f"fetch printed {result.stdout!r}, exit {result.returncode}")
    ok = m[1] == "status"
    return {"status": int(m[2]) if ok else None, "error": None if ok else int(m[2]),
            "length": None if not ok or m[3] == "-" else m[3], "stage": m[4],
            "bytes": int(m[5]), "seconds": float(m[6]), "exit": result.returncode}

