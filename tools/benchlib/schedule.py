"""The runs of a bench in the order that keeps the whole under the time budget, and the sizes,
counts and budget they are planned with."""
import os
import sys
import time

from .figures import fmt
from .flaky import run_flaky
from .runs import MIB, InstallerRun, curl_run, fetch_run
from .traces import DEBUG_KEY, RELAY_INCLUDE

BIG = 200 * MIB
SMALL = 10 * MIB
STARTUP_PACKAGE = 2 * MIB
ROUNDS = 3
STARTUP_RUNS = 5
# A case whose last run took less than this runs in every round, budget or not.
CHEAP_RUN = 10.0
# Seconds of measuring after which no further round starts; the first round always runs.
BUDGET = float(os.environ.get("BENCH_BUDGET", "540"))

SILENT, DIALOG = "installer, silent (progressbar=0)", "installer, dialog (progressbar=1)"
BARE = "bare WinINet loop, 1024-byte reads"
# The same loop with a status callback registered that only counts: WinINet calls it about twice per
# read, as it calls the installer's. What the calls cost, beside the budget's own baseline above.
BARE_CALLBACK = "bare WinINet loop, 1024-byte reads, status callback"


class Bench:
    """The runs, in the order that keeps the whole under the time budget: start-up, the 10 MiB
    relay run, round after round of every download case, the 200 MiB relay run if time is left, and
    the flaky-link case, which always runs (alone with only_flaky)."""

    def __init__(self, world, began):
        self.world, self.began = world, began
        self.cases = {SILENT: lambda: InstallerRun(world, BIG, silent=True),
                      DIALOG: lambda: InstallerRun(world, BIG, silent=False),
                      BARE: lambda: fetch_run(world, BIG, 1024),
                      BARE_CALLBACK: lambda: fetch_run(world, BIG, 1024, callback=True),
                      "bare WinINet loop, 65536-byte reads": lambda: fetch_run(world, BIG, 65536),
                      "curl -o file": lambda: curl_run(world, BIG)}
        self.results = {name: [] for name in self.cases}
        self.small = {"silent": [], "dialog": []}
        self.counted = {}
        self.flaky = {}
        self.skipped = []
        self.problems = []

    def note_problem(self, text):
        self.problems.append(text)
        print(f"bench: cannot measure: {text}", file=sys.stderr)

    def elapsed(self):
        return time.monotonic() - self.began

    def run(self, only_flaky=False):
        curl_run(self.world, BIG)  # the package into the page cache, so that no case pays for the disk
        if only_flaky:
            self.run_flaky()
            return
        self.starts = [InstallerRun(self.world, STARTUP_PACKAGE, silent=False, watch_display=True)
                       for _ in range(STARTUP_RUNS)]
        if any(r.target_after is None or r.visible_after is None for r in self.starts):
            self.note_problem("a start-up run left no \"Target: \" entry or showed no dialog")
        self.count_display(SMALL)
        self.rounds()
        estimate = self.counted[SMALL].run.wall * BIG / SMALL
        if self.elapsed() + estimate <= BUDGET:
            self.count_display(BIG)
        else:
            self.skipped.append(f"the 200 MiB relay run (about {estimate:.0f} s) did not fit the time budget")
        self.run_flaky()

    def run_flaky(self):
        self.flaky = run_flaky(self.world, self.world.docroot / "files" / f"{BIG}.exe",
                               report=lambda text: print(text, flush=True))
        if any(not run.complete for run in self.flaky.values() if run.kind == "whole"):
            self.note_problem("an uncut run of the flaky-link case did not end with the whole package")

    def rounds(self):
        """Each round runs every case once, so that a change in the machine's load falls on all cases
        alike. The first round runs in full; later, a case runs again only while its last run's
        length still fits the time budget (the slow installer cases drop out first), or when that run
        was cheap."""
        small = {f"10 MiB {mode}": (mode, lambda mode=mode: InstallerRun(self.world, SMALL, silent=mode == "silent"))
                 for mode in self.small}
        last, left_out = {}, {}
        for number in range(1, ROUNDS + 1):
            for name, case in list(self.cases.items()) + list(small.items()):
                if number > 1 and self.elapsed() + last[name] > BUDGET and last[name] >= CHEAP_RUN:
                    left_out[name] = left_out.get(name, 0) + 1
                    continue
                if name in small:
                    mode, run_it = case
                    result = run_it()
                    self.small[mode].append(result)
                else:
                    result = case()
                    self.results[name].append(result)
                measured = getattr(result, "run", result)
                last[name] = measured.wall
                if result.rate is None:
                    self.note_problem(f"{name}: run {number} failed, or timed out before 1%")
                print(f"bench: round {number}: {name}: {fmt(result.transfer, 2, ' s')} transfer, "
                      f"{measured.wall:.2f} s wall", flush=True)
        for name, count in left_out.items():
            self.skipped.append(f"{count} of the {ROUNDS} runs of \"{name}\" (about {last[name]:.1f} s each) did "
                                "not fit the time budget")

    def count_display(self, size):
        """An untimed dialog run with a relay trace of SetWindowTextA and Shell_NotifyIconA only: the
        dialog's window texts and the tray-icon updates, counted directly."""
        self.world.prefix.wine(["reg", "add", DEBUG_KEY, "/v", "RelayInclude", "/d", RELAY_INCLUDE, "/f"], check=True)
        try:
            self.counted[size] = InstallerRun(self.world, size, silent=False, relay=True)
        finally:
            self.world.prefix.wine(["reg", "delete", DEBUG_KEY, "/v", "RelayInclude", "/f"])
        if not self.counted[size].complete:
            self.note_problem(f"the relay run of {size // MIB} MiB failed")
