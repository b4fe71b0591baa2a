"""What the figures were measured on: the machine, the programs beside the installer, the load."""
import os
import pathlib
import platform
import subprocess


def command_text(args):
    return subprocess.run(args, capture_output=True, text=True).stdout.strip()


def machine(source_dir):
    """The machine, the programs beside the installer and the commit of source_dir, for the header."""
    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo") if line.startswith("model name")), "?")
    memory = next((int(line.split()[1]) // 1024 for line in open("/proc/meminfo") if line.startswith("MemTotal")), 0)
    return {"nproc": os.cpu_count(), "cpu": cpu, "memory": f"{memory} MiB", "kernel": platform.release(),
            "wine": command_text(["wine", "--version"]), "nginx": command_text(["/usr/sbin/nginx", "-v"]) or
            subprocess.run(["/usr/sbin/nginx", "-v"], capture_output=True, text=True).stderr.strip(),
            "curl": command_text(["curl", "--version"]).splitlines()[0], "i386": i386_path(),
            "commit": command_text(["git", "-C", str(source_dir), "describe", "--always", "--dirty"]) or "?"}


def i386_path():
    """How Wine's 32-bit side runs here: natively, or through an emulator that binfmt_misc hands every
    i386 ELF program to (tools/i386-env.sh). The emulator changes every CPU figure."""
    for entry in sorted(pathlib.Path("/proc/sys/fs/binfmt_misc").glob("*")):
        if entry.name in ("register", "status"):
            continue
        fields = dict(line.split(" ", 1) for line in entry.read_text().splitlines() if " " in line)
        if entry.read_text().startswith("enabled") and fields.get("magic", "").endswith("02000300") \
                and fields.get("magic", "").startswith("7f454c46010101"):
            emulator = fields.get("interpreter", "?")
            return f"emulated ({command_text([emulator, '--version']).splitlines()[0]}, through binfmt_misc)"
    return "native"


def load_average():
    return " ".join(pathlib.Path("/proc/loadavg").read_text().split()[:3])

