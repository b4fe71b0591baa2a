"""The end-to-end harness: runs the real installer under Wine in the test world that tools/test
started (tools/wine-env.sh), and reads what it left on drive C:."""
import fcntl
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time

SOURCE_DIR = pathlib.Path(os.environ.get("SETUP_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
sys.path.insert(0, str(SOURCE_DIR / "tools"))
import langfile  # noqa: E402  (the build's own reader of the language files)
BINARY_DIR = pathlib.Path(os.environ.get("SETUP_BINARY_DIR", SOURCE_DIR / "build" / "win32"))


def _take_world(state_dir):
    """The world this test process runs in. Of the worlds tools/wine-env.sh started (listed in
    `state_dir`/worlds) the first one no other test holds, held until this process ends (the lock's
    descriptor is not inherited, so nothing Wine starts keeps it); tools run from here get it through
    WINE_STATE_DIR with WINE_WORLD_HELD=1. WINE_WORLD_HELD=1 in our own environment: the one named."""
    listed = state_dir / "worlds"
    if os.environ.get("WINE_WORLD_HELD") == "1" or not listed.exists():
        return state_dir
    worlds = [pathlib.Path(line) for line in listed.read_text().splitlines() if line]
    while True:
        for world in worlds:
            lock = open(world / "lock", "a")
            try:
                fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except OSError:
                lock.close()
                continue
            globals()["_world_lock"] = lock
            os.environ.update(WINE_STATE_DIR=str(world), WINE_WORLD_HELD="1")
            env = world / "env"
            display = re.search(r"^export DISPLAY='(.*)'$", env.read_text(), re.M) if env.exists() else None
            if display:
                os.environ["DISPLAY"] = display[1]
            return world
        time.sleep(0.05)


_WORLDS_DIR = pathlib.Path(os.environ.get("WINE_WORLDS_DIR") or os.environ.get("WINE_STATE_DIR")
                           or SOURCE_DIR / "build" / "wine")
os.environ["WINE_WORLDS_DIR"] = str(_WORLDS_DIR)
STATE_DIR = _take_world(_WORLDS_DIR)


def shared(name, make):
    """A folder holding what `make(folder)` put into it, made by the first test process that asks
    while the worlds run and taken as it is by every later one (tools/wine-env.sh empties the place
    when the worlds start). Only for what no test changes: copy out of it what is to be changed."""
    folder = _WORLDS_DIR / "shared" / name
    if not _WORLDS_DIR.is_dir():
        folder = pathlib.Path(tempfile.mkdtemp(prefix=name + "-"))
        make(folder)
        return folder
    folder.parent.mkdir(exist_ok=True)
    with open(folder.parent / (name + ".lock"), "a") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not (folder / ".made").exists():
            shutil.rmtree(folder, ignore_errors=True)
            folder.mkdir()
            make(folder)
            (folder / ".made").touch()
    return folder

def ui_language_env(locale):
    """Variables under which Wine gives a program `locale` ("ru_RU") as the user's UI language while
    the ANSI code page stays 1252: Wine takes the one from LC_MESSAGES and the other from LC_CTYPE,
    each only where the C library knows the locale, so both are compiled into a shared LOCPATH (the
    English one once, linked into each)."""
    def compile_into(folder, name):
        subprocess.run(["localedef", "-i", name, "-f", "UTF-8", str(folder / (name + ".UTF-8"))],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not (folder / (name + ".UTF-8")).is_dir():
            raise RuntimeError("localedef could not compile " + name)

    english = shared("locale-en_US", lambda folder: compile_into(folder, "en_US")) / "en_US.UTF-8"

    def make(folder):
        compile_into(folder, locale)
        (folder / "en_US.UTF-8").symlink_to(english, target_is_directory=True)
    folder = shared("locales-" + locale, make)
    return {"LOCPATH": str(folder), "LC_ALL": "", "LANG": "en_US.UTF-8", "LC_CTYPE": "en_US.UTF-8",
            "LC_MESSAGES": locale + ".UTF-8"}


def translated_installer():
    """The built installer that a run in a user's language starts: the one that carries the translations."""
    return BINARY_DIR / LANGUAGES_INSTALLER


def language_texts(tag):
    """The texts of res/lang/<tag>.txt by id name, as the build reads them; for tag None the English
    ones of res/setup.rc."""
    english = langfile.english_texts(SOURCE_DIR / "res" / "setup.rc")
    return english if tag is None else langfile.read(SOURCE_DIR / "res" / "lang" / (tag + ".txt"), english).texts


INSTALL_LOG = "VornikInstallInfo.log"
STATUS_FILE = "VornikLodestep.log"
SESSION_MANAGER = r"HKLM\System\CurrentControlSet\Control\Session Manager"
WORK_FOLDER_ENTRY = "Working folder: "  # the FLOW entry that names the run's working folder
TARGET_NAME = "~setup.exe"  # the download's name in the working folder, for an installer named setup.exe
# setup.exe speaks English; this one, in BINARY_DIR, is its code with every shipped language (res/lang)
# compiled in: the tables make-installer stamps into a vendor's installer by default.
LANGUAGES_INSTALLER = "setup_languages.exe"


def _read_env_file():
    env = {}
    path = STATE_DIR / "env"
    if not path.exists():
        raise RuntimeError(f"no Wine test world at {STATE_DIR}: run tools/test")
    for line in path.read_text().splitlines():
        if line.startswith("export "):
            key, _, value = line[len("export "):].partition("=")
            env[key] = value.strip("'")
    return env


class Prefix:
    """One Wine prefix of the test world (64-bit by default, 32-bit with bits=32)."""

    def __init__(self, bits=64):
        world = _read_env_file()
        self.path = pathlib.Path(world["WINEPREFIX" if bits == 64 else "WINEPREFIX32"])
        self.env = dict(os.environ)
        self.env.update({k: v for k, v in world.items() if k != "WINEPREFIX32"})
        self.env["WINEPREFIX"] = str(self.path)

    @property
    def drive_c(self):
        return self.path / "drive_c"

    @property
    def temp_dir(self):
        """The user's temporary directory (%TEMP%), which an elevated run never uses."""
        users = self.drive_c / "users"
        for user in sorted(users.iterdir()):
            if (user / "Temp").is_dir() and user.name != "Public":
                return user / "Temp"
        raise RuntimeError("no user temporary directory in the prefix")

    @property
    def system_temp(self):
        """The Windows directory's Temp, where an elevated run makes its working folder."""
        return self.unix_path("C:\\windows\\Temp")

    def unix_path(self, windows_path):
        """The Unix path of a Windows path on drive C:, each name matched regardless of case as Windows
        matches it (a name that does not exist is kept as it is)."""
        path = self.drive_c
        for name in windows_path.replace("/", "\\").split("\\")[1:]:
            if not name:
                continue
            found = [p for p in path.iterdir() if p.name.lower() == name.lower()] if path.is_dir() else []
            path = found[0] if found else path / name
        return path

    def work_folders(self):
        """The working folders that runs left under the system's Temp, oldest name first."""
        return sorted(self.system_temp.glob("vkinst-*"))

    def clear_work_folders(self):
        """Removes what earlier runs left for the next restart, and the record of it: Wine never
        restarts in a test world."""
        folders = self.work_folders()
        for folder in folders:
            shutil.rmtree(folder, ignore_errors=True)
        if folders:
            self.wine(["reg", "delete", SESSION_MANAGER, "/v", "PendingFileRenameOperations", "/f"])

    def pending_deletions(self):
        """The Windows paths that MoveFileEx marked for deletion at the next restart, in order."""
        result = self.wine(["reg", "query", SESSION_MANAGER, "/v", "PendingFileRenameOperations"])
        m = re.search(r"PendingFileRenameOperations\s+REG_MULTI_SZ\s+(.*?)\r?$",
                      result.stdout.decode("utf-8", errors="replace"), re.M)
        if not m:
            return []
        # Pairs of source and target, "\0" after each (the last one's cut); a deletion has an empty
        # target.
        text = m.group(1)[:-2] if m.group(1).endswith("\\0") else m.group(1)
        return [pair[len("\\??\\"):] for pair in text.split("\\0\\0") if pair]

    def work_folder_windows(self):
        """The working folder the last run logged (its Windows path), or None when it logged none."""
        log, _ = self.records()
        named = [text[len(WORK_FOLDER_ENTRY):] for section, _, text in entries(log)
                 if section.startswith("FLOW ") and text.startswith(WORK_FOLDER_ENTRY)]
        return named[-1] if named else None

    def target(self, name=TARGET_NAME):
        """The last run's file `name` in its working folder, as a Unix path (it may be gone), or None
        when the run logged no working folder."""
        folder = self.work_folder_windows()
        return self.unix_path(folder + "\\" + name) if folder else None

    def target_windows(self, name=TARGET_NAME):
        """The same as a Windows path, as the installer writes it into its records."""
        folder = self.work_folder_windows()
        return folder + "\\" + name if folder else None

    def windows_path(self, unix_path):
        """The Windows name of a file inside drive_c, or under Z: otherwise."""
        unix_path = pathlib.Path(unix_path).resolve()
        try:
            return "C:\\" + str(unix_path.relative_to(self.drive_c.resolve())).replace("/", "\\")
        except ValueError:
            return "Z:" + str(unix_path).replace("/", "\\")

    def wine(self, args, timeout=60, check=False, env=None):
        """Runs `wine args...` to its end: a CompletedProcess with stdout and stderr as bytes. The
        output goes through files, not pipes: a desktop process that the program (re)starts
        inherits its streams and would hold a pipe open long after the program has ended."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            process = self.popen(args, env=env, stdout=out, stderr=err)
            try:
                code = process.wait(timeout)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
                raise
            out.seek(0)
            err.seek(0)
            result = subprocess.CompletedProcess(args, code, out.read(), err.read())
        if check:
            result.check_returncode()
        return result

    def popen(self, args, env=None, **kwargs):
        """Starts `wine args...` without waiting: a subprocess.Popen; `env` adds variables (Wine hands
        them to the program). Standard streams go nowhere unless told otherwise: give files, not
        pipes, when another program may be running, because the desktop process (explorer), which
        Wine starts with the first window user and ends a second after the last one, inherits them
        and holds a pipe open after the program has ended."""
        for stream in ("stdin", "stdout", "stderr"):
            kwargs.setdefault(stream, subprocess.DEVNULL)
        return subprocess.Popen(["wine"] + [str(a) for a in args], env={**self.env, **(env or {})}, **kwargs)

    def set_windows_version(self, version):
        """Reports `version` (nt40, win2k, winxp, win7, ...) to programs; None restores the default.
        The world remembers what it was last set to (tools/wine-env.sh forgets it when the world
        starts), so that setting it again costs no Wine program start."""
        remembered = STATE_DIR / f"windows-version-{self.path.name}"
        wanted = version or "default"
        if remembered.exists() and remembered.read_text() == wanted:
            return
        remembered.unlink(missing_ok=True)
        if version is None:
            self.wine(["reg", "delete", r"HKCU\Software\Wine", "/v", "Version", "/f"])
        else:
            self.wine(["reg", "add", r"HKCU\Software\Wine", "/v", "Version", "/d", version, "/f"], check=True)
        remembered.write_text(wanted)

    def reset_records(self):
        for name in (INSTALL_LOG, STATUS_FILE):
            (self.drive_c / name).unlink(missing_ok=True)

    def records(self):
        return read_ini(self.drive_c / INSTALL_LOG), read_ini(self.drive_c / STATUS_FILE)


_TRACED_WRITE = re.compile(r'trace:profile:WritePrivateProfileStringW \((.*)\)$')
_TRACED_ARG = re.compile(r'L"((?:[^"\\]|\\.)*)"|\(null\)')
_TRACED_SHELL = re.compile(r'trace:exec:SHELL_execute mask=0x([0-9a-f]+) hwnd=\S+ verb=(\S+) file=(\S+) parm=(.*) '
                           r'dir=(\S+) show=0x([0-9a-f]+) class=')


def _traced_text(argument):
    m = _TRACED_ARG.fullmatch(argument)
    if m is None or m.group(1) is None:
        return None
    return m.group(1).encode().decode("unicode_escape")


def shell_calls(wine_trace):
    """What the program asked of the shell, in a WINEDEBUG=trace+exec log: one dict per
    ShellExecuteEx call with mask (int), verb, file, parameters, directory (None when not given)."""
    calls = []
    for line in wine_trace.splitlines():
        m = _TRACED_SHELL.search(line)
        if m:
            calls.append({"mask": int(m[1], 16), "verb": _traced_text(m[2]), "file": _traced_text(m[3]),
                          "parameters": _traced_text(m[4]), "directory": _traced_text(m[5])})
    return calls


def record_writes(wine_trace):
    """The INI writes in a WINEDEBUG=trace+profile log: (section, key, value, file) tuples."""
    writes = []
    for line in wine_trace.splitlines():
        m = _TRACED_WRITE.search(line)
        if m:
            args = [None if a.group(1) is None else a.group(1).encode().decode("unicode_escape")
                    for a in _TRACED_ARG.finditer(m.group(1))]
            writes.append(tuple(args))
    return writes


def read_ini(path):
    """An INI file as a list of (section, [(key, value), ...]) in file order; [] when absent."""
    path = pathlib.Path(path)
    if not path.exists():
        return []
    sections = []
    for raw in path.read_bytes().decode("cp1252").splitlines():
        line = raw.strip("\r")
        if line.startswith("[") and line.endswith("]"):
            sections.append((line[1:-1], []))
        elif "=" in line and sections:
            key, _, value = line.partition("=")
            sections[-1][1].append((key, value))
    return sections


def entries(log):
    """Install-log entries as (section, key, text), in file order."""
    return [(section, key, value) for section, items in log for key, value in items]


def section_dict(ini, name):
    for section, items in ini:
        if section == name:
            return dict(items)
    return None


class Installer:
    """A copy of a built installer inside the prefix, under a name of the test's choice."""

    def __init__(self, prefix, name="setup.exe", source=None, directory="installer"):
        self.prefix = prefix
        self.dir = prefix.drive_c / directory
        self.dir.mkdir(parents=True, exist_ok=True)
        self.path = self.dir / name
        shutil.copyfile(source or BINARY_DIR / "setup.exe", self.path)
        self._started = []

    def run(self, args=(), timeout=60, trace_writes=False, trace_shell=False):
        """Runs the installer to its end. With trace_writes, result.writes lists every INI write it
        made, in order, as (section, key, value) (None for an absent key or value). With trace_shell,
        result.shell lists what it asked of the shell (see shell_calls)."""
        start = time.monotonic()
        channels = (["trace+profile"] if trace_writes else []) + (["trace+exec"] if trace_shell else [])
        env = {"WINEDEBUG": ",".join(channels)} if channels else None
        result = self.prefix.wine([self.path] + list(args), timeout=timeout, env=env)
        result.elapsed = time.monotonic() - start
        trace = result.stderr.decode("utf-8", errors="replace")
        if trace_writes:
            result.writes = record_writes(trace)
        if trace_shell:
            result.shell = shell_calls(trace)
        return result

    def start(self, args=(), env=None, **kwargs):
        """Starts the installer and returns at once (a subprocess.Popen), so that a test can drive its
        windows meanwhile; see Prefix.popen."""
        process = self.prefix.popen([self.path] + list(args), env=env, **kwargs)
        self._started.append(process)
        return process

    def stamp(self, config_text, allow_unverified=True):
        """Replaces the embedded configuration with `config_text` (INI text; CRLF line ends are
        used as given) through the stamping tool. The tests' servers are plain http:// ones, so an
        unpinned location is allowed unless `allow_unverified` is False."""
        config = self.dir / (self.path.stem + ".ini")
        config.write_bytes(config_text.encode("cp1252"))
        option = ["--allow-unverified"] if allow_unverified else []
        result = self.prefix.wine([BINARY_DIR / "tools" / "stampcfg" / "stampcfg.exe"] + option + [self.path, config])
        config.unlink()
        if result.returncode != 0:
            raise RuntimeError(f"stampcfg failed: {result.stdout!r} {result.stderr!r}")
        return self

    def remove(self):
        """Ends any run still going (a failed test must not leave windows for the next) and
        deletes the copy."""
        for process in self._started:
            if process.poll() is None:
                process.kill()
                process.wait(timeout=30)
        shutil.rmtree(self.dir, ignore_errors=True)


def config_text(section="runtime", **keys):
    """An INI text with one section of `keys`, CRLF line ends, as builders write them."""
    lines = ["", f"[{section}]"] + [f"{key}={value}" for key, value in keys.items()] + [""]
    return "\r\n".join(lines)
