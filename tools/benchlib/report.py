"""docs/performance.md from a finished bench: the prose stands in report.template.md, the tables
and the budget lines are made here."""
import pathlib
import string

from .figures import figures, fmt, median, mib
from .flaky import CURL_LOOP, CUT, FLAKY_CASES, RETRIES, flaky_verdicts
from .runs import MIB, RUN_TIMEOUT
from .schedule import BARE, BIG, BUDGET, DIALOG, ROUNDS, SILENT, SMALL, STARTUP_PACKAGE, STARTUP_RUNS

TEMPLATE = string.Template(pathlib.Path(__file__).with_name("report.template.md").read_text())
# The one paragraph that is there only when the time budget left runs out.
LEFT_OUT = string.Template("\n\nLeft out to keep the bench within ${budget} s of measuring (`BENCH_BUDGET`):\n\n${items}.")
# The worker decides by GetTickCount, the gap is seen at the later SetWindowTextA call: the tick's
# granularity and the cross-thread call's latency can shorten a gap by some milliseconds.
GAP_FLOOR = 0.95
RELAY_FIGURES = [("title_updates", "dialog title set to \"N% completed - ...\""),
                 ("tooltip_updates", "tray tooltip changes (`NIM_MODIFY`)"),
                 ("rate_updates", "rate line refreshes"), ("time_left_updates", "time-left line refreshes"),
                 ("blank_status_updates", "status line set to \" \" (a WinINet notification)"),
                 ("transfer", "transfer s"),
                 ("shortest_rate_gap", "shortest gap between rate refreshes, s")]
STARTUP_FIGURES = [("target_after", "to the \"Target: \" entry"), ("visible_after", "to the dialog viewable")]


def report(bench, info, sizes, sections, load_before, load_after):
    """The document: info is machine() with "date" and "command"; sizes {"size": of setup.exe,
    "languages_size": of setup_languages.exe} and the sections of setup.exe."""
    size, languages_size = sizes["size"], sizes["languages_size"]
    rows = {name: figures(runs) for name, runs in bench.results.items()}
    timed = {SMALL: bench.small, BIG: {"silent": bench.results[SILENT], "dialog": bench.results[DIALOG]}}
    counted = {package: bench.counted.get(package) for package in (SMALL, BIG)}
    peaks = {"silent": (median([r.run.peak_kib for r in bench.small["silent"]]), rows[SILENT]["peak"]),
             "dialog": (median([r.run.peak_kib for r in bench.small["dialog"]]), rows[DIALOG]["peak"])}
    return TEMPLATE.substitute(
        info, elapsed=f"{bench.elapsed():.0f}", load_before=load_before, load_after=load_after,
        size=size, size_kib=f"{size / 1024:.1f}", languages_size=languages_size,
        languages_kib=f"{languages_size / 1024:.1f}", section_rows=_table((f"`{name}`", raw, virtual)
                                                                      for name, raw, virtual in sections),
        big=BIG, rounds=ROUNDS, run_timeout=RUN_TIMEOUT, download_rows=_download_rows(rows),
        left_out=_left_out(bench.skipped), gap_floor=GAP_FLOOR, update_rows=_update_rows(timed, counted),
        startup_mib=STARTUP_PACKAGE // MIB, startup_runs=STARTUP_RUNS, startup_rows=_startup_rows(bench.starts),
        peak_rows=_table((mode, f"{fmt(mib(small), 1)} MiB", f"{fmt(mib(big), 1)} MiB")
                         for mode, (small, big) in peaks.items()),
        cut_mib=CUT // MIB, retries=RETRIES, curl_loop=CURL_LOOP,
        flaky_rows=_table(_flaky_rows(bench.flaky)),
        budget_rows=_table(budgets(size, rows, timed, counted, peaks) + flaky_budgets(bench.flaky)))


def flaky_report(bench):
    """The flaky-link table and its budget lines alone, for a bench that ran only that case."""
    head = ["| case | result | requests | statuses | bytes per byte | wall s | back-offs s | limit s |",
            "| --- | --- | ---: | --- | ---: | ---: | ---: | ---: |"]
    return "\n".join(head + [_table(_flaky_rows(bench.flaky)), "", _table(flaky_budgets(bench.flaky))])


def _flaky_rows(runs):
    verdicts = flaky_verdicts(runs) if len(runs) == len(FLAKY_CASES) else {}
    for name, _, _ in FLAKY_CASES:
        run = runs.get(name)
        if run is None:
            yield (name, "not run", "", "", "", "", "", "")
            continue
        limit = verdicts.get(name, (None, None, None))[2]
        yield (name, "whole" if run.complete else "**not whole**", run.requests, ", ".join(map(str, run.statuses)),
               f"{run.bytes_per_byte:.4f}", f"{run.run.wall:.2f}", run.backoffs if run.kind == "cut" else "",
               fmt(limit) if run.kind == "cut" else "")


def flaky_budgets(runs):
    """The installer's two goals on the flaky link, as budget lines."""
    if len(runs) != len(FLAKY_CASES):
        return []
    verdicts = flaky_verdicts(runs)
    name = next(name for name, kind, client in FLAKY_CASES if kind == "cut" and client == "installer")
    bytes_ok, wall_ok, limit = verdicts[name]
    run = runs[name]
    return [(f"flaky link: bytes sent per package byte <= 1.02 (installer, Retries={RETRIES})", _holds(bytes_ok),
             f"{run.bytes_per_byte:.4f} over {run.requests} requests" + ("" if run.complete else ", not whole")),
            ("flaky link: wall <= uncut wall + 10 % + back-offs (installer)", _holds(wall_ok),
             f"{run.run.wall:.2f} s against {fmt(limit, 2, ' s')} ({run.backoffs} s of back-offs)")]


def _table(rows):
    return "\n".join("| " + " | ".join(map(str, cells)) + " |" for cells in rows)


def _download_rows(rows):
    return _table((name, row["runs"], fmt(row["rate"], 1), fmt(row["transfer"]), fmt(row["wall"]), fmt(row["cpu"]),
                   fmt(row["server"]), fmt(row["x"]), fmt(mib(row["peak"]), 1)) for name, row in rows.items())


def _left_out(skipped):
    if not skipped:
        return ""
    return LEFT_OUT.substitute(budget=f"{BUDGET:.0f}", items=";\n".join(f"- {text}" for text in skipped))


def _update_rows(timed, counted):
    rows = []
    for mode in ("silent", "dialog"):
        rows.append((f"status-file writes, {mode}", _counts(timed[SMALL][mode], "status_writes"),
                     _counts(timed[BIG][mode], "status_writes")))
        rows.append((f"of them \"Progress\" with a percentage, {mode}", _counts(timed[SMALL][mode], "progress_writes"),
                     _counts(timed[BIG][mode], "progress_writes")))
    for attribute, label in RELAY_FIGURES:
        rows.append((f"{label} (relay run)", _relay_cell(counted[SMALL], attribute), _relay_cell(counted[BIG], attribute)))
    return _table(rows)


def _startup_rows(starts):
    rows = []
    for attribute, label in STARTUP_FIGURES:
        values = [getattr(r, attribute) for r in starts]
        rows.append((label, fmt(median(values), 3, " s"), ", ".join(fmt(v, 3) for v in values)))
    return _table(rows)


def _counts(runs, attribute):
    """Every distinct value among the whole runs."""
    return ", ".join(str(v) for v in sorted({getattr(r, attribute) for r in runs if r.complete})) or "n/a"


def _relay_cell(run, attribute):
    if run is None:
        return "skipped"
    if not run.complete:
        return f"n/a (cut at {run.reached}%)"
    value = getattr(run, attribute)
    return fmt(value, 3) if isinstance(value, float) or value is None else str(value)


def _holds(condition):
    return "n/a" if condition is None else ("yes" if condition else "**no**")


def budgets(size, rows, timed, counted, peaks):
    """(budget, holds, measured) of each budget line: holds is "yes", "**no**" or "n/a"."""
    bare = rows[BARE]
    lines = [("installer (setup.exe, English) <= 128 KiB (131072 bytes)", _holds(size <= 131072), f"{size} bytes")]
    for name, label, floor in ((DIALOG, "dialog", 0.9), (SILENT, "silent", 0.95)):
        ratio = rows[name]["rate"] / bare["rate"] if rows[name]["rate"] and bare["rate"] else None
        lines.append((f"{label} download >= {floor}x the bare 1024-byte loop",
                      _holds(None if ratio is None else ratio >= floor),
                      f"{fmt(ratio, 2, 'x')} ({fmt(rows[name]['rate'], 1)} vs {fmt(bare['rate'], 1)} MiB/s)"))
    installer_runs = [r for runs in timed.values() for rs in runs.values() for r in rs if r.complete]
    in_order = all(r.progress_in_order for r in installer_runs)
    progress = sorted({r.progress_writes for r in installer_runs})
    lines.append(("exactly one status-file write per whole-percent change",
                  _holds(in_order if installer_runs else None),
                  f"{len(installer_runs)} whole runs of 10 and 200 MiB: \"Progress\" written "
                  + " or ".join(map(str, progress)) + " times, "
                  + ("1% to 100% once each, in order" if in_order else "not 1% to 100% once each")))
    relays = [c for c in counted.values() if c is not None and c.complete]
    gaps = [c.shortest_rate_gap for c in relays if c.shortest_rate_gap is not None]
    per_second = all(max(c.rate_updates, c.time_left_updates) <= c.transfer + 1 for c in relays)
    lines.append(("at most one rate/time-left refresh per second",
                  _holds(min(gaps) >= GAP_FLOOR and per_second if gaps else None),
                  "; ".join([f"shortest gap {min(gaps):.3f} s"] if gaps else ["no whole relay run"]) +
                  "".join(f"; {c.rate_updates} rate and {c.time_left_updates} time-left refreshes in "
                          f"{c.transfer:.1f} s" for c in relays)))
    growth = [big - small for small, big in peaks.values() if small and big]
    lines.append(("working set not growing with package size",
                  _holds(all(g < 1024 for g in growth) if growth else None),
                  "; ".join(f"{mode} {fmt(mib(s), 1)} -> {fmt(mib(b), 1)} MiB" for mode, (s, b) in peaks.items())))
    return lines
