"""The end-to-end harness: runs the real installer under Wine in the test world that tools/test
started (tools/wine-env.sh), and reads what it left on drive C:."""
import os
import pathlib
import shutil
import subprocess
import time

SOURCE_DIR = pathlib.Path(os.environ.get("SETUP_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
BINARY_DIR = pathlib.Path(os.environ.get("SETUP_BINARY_DIR", SOURCE_DIR / "build" / "win32"))
STATE_DIR = pathlib.Path(os.environ.get("WINE_STATE_DIR", SOURCE_DIR / "build" / "wine"))

INSTALL_LOG = "VornikInstallInfo.log"
STATUS_FILE = "VornikLodestep.log"


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
        users = self.drive_c / "users"
        for user in sorted(users.iterdir()):
            if (user / "Temp").is_dir() and user.name != "Public":
                return user / "Temp"
        raise RuntimeError("no user temporary directory in the prefix")

    def windows_path(self, unix_path):
        """The Windows name of a file inside drive_c, or under Z: otherwise."""
        unix_path = pathlib.Path(unix_path).resolve()
        try:
            return "C:\\" + str(unix_path.relative_to(self.drive_c.resolve())).replace("/", "\\")
        except ValueError:
            return "Z:" + str(unix_path).replace("/", "\\")

    def wine(self, args, timeout=60, check=False):
        return subprocess.run(["wine"] + [str(a) for a in args], env=self.env, timeout=timeout,
                              capture_output=True, check=check)

    def set_windows_version(self, version):
        """Reports `version` (nt40, win2k, winxp, win7, ...) to programs; None restores the default."""
        if version is None:
            self.wine(["reg", "delete", r"HKCU\Software\Wine", "/v", "Version", "/f"])
        else:
            self.wine(["reg", "add", r"HKCU\Software\Wine", "/v", "Version", "/d", version, "/f"], check=True)

    def reset_records(self):
        for name in (INSTALL_LOG, STATUS_FILE):
            (self.drive_c / name).unlink(missing_ok=True)

    def records(self):
        return read_ini(self.drive_c / INSTALL_LOG), read_ini(self.drive_c / STATUS_FILE)


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

    def run(self, args=(), timeout=60):
        start = time.monotonic()
        result = self.prefix.wine([self.path] + list(args), timeout=timeout)
        result.elapsed = time.monotonic() - start
        return result

    def remove(self):
        shutil.rmtree(self.dir, ignore_errors=True)
