"""The numbers the report shows: medians of a case's runs, their formatting, and the sections of
the installer's image."""
import statistics

import pefile


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def fmt(value, digits=2, unit=""):
    return "n/a" if value is None else f"{value:.{digits}f}{unit}"


def mib(kib):
    return None if kib is None else kib / 1024


def figures(runs):
    """Medians of a case's runs: MiB/s, transfer s (of whole runs), wall s, CPU s, wineserver CPU s,
    Xvfb CPU s, peak KiB; and the run count, with the percentages of cut runs."""
    base = [getattr(r, "run", r) for r in runs]
    cut = [f"{r.reached}%" for r in runs if not r.complete and r.rate]
    count = f"{len(runs)}" + (f" (cut at {', '.join(cut)})" if cut else "")
    return {"runs": count, "transfer": median([r.transfer for r in runs]), "rate": median([r.rate for r in runs]),
            "wall": median([b.wall for b in base]), "cpu": median([b.cpu for b in base]),
            "server": median([b.server_cpu for b in base]), "x": median([b.x_cpu for b in base]),
            "peak": median([b.peak_kib for b in base])}


def pe_sections(path):
    """(name, size of raw data, virtual size) of each section of a PE image."""
    pe = pefile.PE(str(path), fast_load=True)
    return [(s.Name.rstrip(b"\0").decode("latin-1"), s.SizeOfRawData, s.Misc_VirtualSize) for s in pe.sections]
