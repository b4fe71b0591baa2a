#!/usr/bin/env python3
"""Measures the installer beside a bare WinINet loop and curl, all in one run against nginx on
127.0.0.1: size, download throughput and CPU, record and display updates, start-up latency and
peak working set; and, against a scripted server that cuts every connection after 20 MiB, what a
download that is tried again costs. Prints the tables and writes them to docs/performance.md.

Runs in the Wine world that tools/bench started (tools/wine-env.sh) and reuses the end-to-end
harness. A benchmark, not a test: no figure is judged here beyond saying whether a budget holds;
the exit status is 1 only when a figure could not be measured. The parts live in tools/benchlib/."""
import datetime
import os
import pathlib
import shutil
import sys
import tempfile
import time

SOURCE_DIR = pathlib.Path(os.environ.get("SETUP_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[1]))
sys.path.insert(0, str(SOURCE_DIR / "tests" / "e2e"))

from harness import BINARY_DIR, Prefix  # noqa: E402
from servers import Nginx  # noqa: E402
from wintools import make_package  # noqa: E402

from benchlib.figures import pe_sections  # noqa: E402
from benchlib.machine import load_average, machine  # noqa: E402
from benchlib.report import flaky_report, report  # noqa: E402
from benchlib.schedule import BIG, SMALL, STARTUP_PACKAGE, Bench  # noqa: E402
from benchlib.world import World  # noqa: E402

OUTPUT = SOURCE_DIR / "docs" / "performance.md"
# BENCH_ONLY=flaky runs the flaky-link case alone and prints its table; docs/performance.md stays.
ONLY_FLAKY = os.environ.get("BENCH_ONLY") == "flaky"


def main():
    began = time.monotonic()
    setup, languages = BINARY_DIR / "setup.exe", BINARY_DIR / "setup_languages.exe"
    for program in (setup, languages):
        if not program.exists():
            print(f"bench: no installer at {program}", file=sys.stderr)
            return 1
    info = machine(SOURCE_DIR)
    info["date"] = datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z")
    build_dir = os.environ.get("SETUP_BUILD_DIR", str(SOURCE_DIR / "build"))
    info["command"] = "tools/bench" if pathlib.Path(build_dir) == SOURCE_DIR / "build" else \
        f"SETUP_BUILD_DIR={build_dir} tools/bench"
    load_before = load_average()
    size, sections = setup.stat().st_size, pe_sections(setup)
    sizes = {"size": size, "languages_size": languages.stat().st_size}
    docroot = pathlib.Path(tempfile.mkdtemp(prefix="bench-docroot-"))
    world = None
    prefix = Prefix()
    prefix.set_windows_version("win7")
    try:
        for package in (BIG, SMALL, STARTUP_PACKAGE):
            make_package(docroot / "files" / f"{package}.exe", package)
        with Nginx(docroot) as server:
            world = World(server, docroot)
            bench = Bench(world, began)
            bench.run(only_flaky=ONLY_FLAKY)
        text = flaky_report(bench) if ONLY_FLAKY else report(bench, info, sizes, sections, load_before,
                                                             load_average())
    finally:
        if world:
            world.close()
        prefix.set_windows_version(None)
        shutil.rmtree(docroot, ignore_errors=True)
    print(text)
    if ONLY_FLAKY:
        print(f"bench: flaky-link case alone, load average {load_before} / {load_average()}, "
              f"{time.monotonic() - began:.0f} s")
    else:
        OUTPUT.parent.mkdir(parents=True, exist_ok=True)
        OUTPUT.write_text(text)
        print(f"bench: wrote {OUTPUT} after {time.monotonic() - began:.0f} s")
    if bench.problems:
        print(f"bench: {len(bench.problems)} figure(s) could not be measured", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
