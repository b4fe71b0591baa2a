"""Wine's debug log as data: what a run is traced with, the INI writes of a +timestamp,trace+profile
log, and the window texts and tray-icon calls of a relay trace."""
import re

from harness import record_writes

TRACE = "-all,+timestamp,trace+profile"
RELAY_INCLUDE = "user32.SetWindowTextA;shell32.Shell_NotifyIconA"
DEBUG_KEY = r"HKCU\Software\Wine\Debug"

_STAMP = re.compile(r"^\s*(\d+\.\d+):")
_SET_TEXT = re.compile(r'^\s*(\d+\.\d+):[0-9a-f]+:Call user32\.SetWindowTextA\([0-9a-f]+,[0-9a-f]+ "(.*)"\) ret=')
_NOTIFY = re.compile(r"^\s*(\d+\.\d+):[0-9a-f]+:Call shell32\.Shell_NotifyIconA\(([0-9a-f]+),")


def timed_writes(trace):
    """The INI writes of a +timestamp,trace+profile log: (time, section, key, value, file)."""
    writes = []
    for line in trace.splitlines():
        stamp = _STAMP.match(line)
        found = record_writes(line) if stamp and "WritePrivateProfileStringW" in line else []
        writes += [(float(stamp[1]),) + tuple(found[0])] if found else []
    return writes


def window_texts(trace):
    """(time, text) of each SetWindowTextA call of a relay trace."""
    return [(float(m[1]), m[2]) for m in map(_SET_TEXT.match, trace.splitlines()) if m]


def notify_messages(trace):
    """The message (NIM_...) of each Shell_NotifyIconA call of a relay trace."""
    return [int(m[2], 16) for m in map(_NOTIFY.match, trace.splitlines()) if m]


def names_file(path, name):
    """Whether a traced file path ends in name, case ignored."""
    return (path or "").lower().endswith(name.lower())
