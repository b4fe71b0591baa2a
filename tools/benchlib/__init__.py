"""The parts of tools/bench.py, one job each: proc (processes as /proc sees them), display (the X
server's windows), world (the Wine prefix and its installers), traces (Wine's debug log as data),
runs (one run of each kind), schedule (the runs within the time budget), figures (medians and
numbers), machine (what it all ran on) and report (docs/performance.md, its prose in
report.template.md)."""
