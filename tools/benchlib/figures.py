"""The numbers the report shows: medians of a case's runs, their formatting, and the sections of
the installer's image."""
import pathlib
import statistics


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
    data = pathlib.Path(path).read_bytes()
    pe = int.from_bytes(data[0x3C:0x40], "little")
    if data[pe:pe + 4] != b"PE\0\0":
        raise RuntimeError(f"{path} is no PE image")
    count = int.from_bytes(data[pe + 6:pe + 8], "little")
    optional = int.from_bytes(data[pe + 20:pe + 22], "little")
    table = pe + 24 + optional
    sections = []
    for i in range(count):
        entry = data[table + 40 * i:table + 40 * (i + 1)]
        name = entry[:8].rstrip(b"\0").decode("latin-1")
        sections.append((name, int.from_bytes(entry[16:20], "little"), int.from_bytes(entry[8:12], "little")))
    return sections
