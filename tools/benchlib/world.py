"""The Wine world the runs share, as tools/wine-env.sh started it."""
from harness import Installer, Prefix, config_text

from .display import Display
from .proc import wineserver_pid, xvfb_pid

CAPTION = "Quillmoor Internet Security"
TARGET_NAME = "~setup.exe"


class World:
    """The prefix, its wineserver and Xvfb, the packages on nginx and one stamped installer per
    (package, mode)."""

    def __init__(self, server, docroot):
        self.prefix = Prefix()
        self.server_http = server
        self.docroot = docroot
        self.xvfb = xvfb_pid()
        if wineserver_pid(self.prefix.path) is None:
            raise RuntimeError("no wineserver for the prefix")
        self.display = Display(self.prefix.env["DISPLAY"])
        self.installers = {}
        self.scratch = self.prefix.temp_dir / "bench.out"

    @property
    def target(self):
        """The last run's package in its working folder (named by its install log); a path that does
        not exist when the run named none."""
        return self.prefix.target(TARGET_NAME) or self.prefix.system_temp / "vkinst-none" / TARGET_NAME

    def clear_targets(self):
        """Takes away what the runs left in their working folders."""
        self.prefix.clear_work_folders()

    def url(self, size):
        return self.server_http.url(f"/files/{size}.exe")

    def installer(self, size, silent, location=None, keys=None):
        """The installer for the package of `size` on nginx, or at `location`, with further `keys` in
        its configuration."""
        key = (size, silent, location, tuple(sorted((keys or {}).items())))
        if key not in self.installers:
            installer = Installer(self.prefix, directory=f"bench-{len(self.installers)}-{size}")
            installer.stamp(config_text(WebFile64=location or self.url(size), Caption=CAPTION,
                                        CompanyNameShort="Quillmoor", progressbar="0" if silent else "1",
                                        **(keys or {})))
            self.installers[key] = installer
        return self.installers[key]

    def close(self):
        for installer in self.installers.values():
            installer.remove()
        self.display.close()
        self.clear_targets()
        self.scratch.unlink(missing_ok=True)
