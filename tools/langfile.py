#!/usr/bin/python3
"""The installer's language files (res/lang/<tag>.txt): one reader and one set of checks for the
build, make-installer and the tests.

  tools/langfile.py check <setup.rc> <lang.txt>...
  tools/langfile.py generate <setup.rc> <output.rc> <lang.txt>...

A language file is UTF-8 without a byte order mark. "# ..." lines and blank lines are ignored; the
first other line is "language <tag> <LANGID as 0xNNNN>"; every further line is "<IDS_NAME> <text>",
the name as in res/resource.h, one space, the text to the end of the line, with "\\n" for a line feed
and "\\\\" for a backslash. Every id of the English string table of setup.rc is there exactly once,
and each text has the placeholders its English text has ("%1", "%2": the order may change).

check prints one line per fault ("<file>:<line>: <fault>") and exits 1 when there is one.
generate writes one STRINGTABLE per language under its LANGUAGE, texts as wide strings, and
rewrites the output only when it changes, so that an unchanged language file rebuilds nothing.
"""
import pathlib
import re
import sys

NEUTRAL_LANGID = 0x0409  # the English table of setup.rc; a translation cannot take its place
_HEADER = re.compile(r"language ([A-Za-z]{2,3}(?:-[A-Za-z0-9]{2,8})*) 0x([0-9A-Fa-f]{4})")
_NAME = re.compile(r"IDS_[A-Z0-9_]+")
_RC_ENTRY = re.compile(r"\s*(IDS_[A-Z0-9_]+)\s+((?:L?\"(?:[^\"]|\"\")*\"\s*)+)$")
_RC_STRING = re.compile(r"(L?)\"((?:[^\"]|\"\")*)\"")


class LanguageFile:
    """What a language file says: its tag, LANGID and texts (in file order), or its faults."""

    def __init__(self, path):
        self.path = pathlib.Path(path)
        self.tag = None
        self.langid = None
        self.texts = {}
        self.faults = []


def _decode_rc(wide, body):
    """The text of one resource-script string item, as windres reads it."""
    out, i = [], 0
    while i < len(body):
        c = body[i]
        if c == '"':  # "" inside a string is one quote
            out.append('"')
            i += 2
        elif c == "\\" and i + 1 < len(body):
            e = body[i + 1]
            if e in "xX":
                digits = re.match(r"[0-9A-Fa-f]{1,%d}" % (4 if wide else 2), body[i + 2:])
                out.append(chr(int(digits.group(0), 16)))
                i += 2 + len(digits.group(0))
                continue
            out.append({"n": "\n", "t": "\t", "r": "\r", "a": "\a", "\\": "\\", '"': '"'}.get(e, e))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def english_texts(setup_rc):
    """The ids and texts of the first STRINGTABLE of setup.rc: the English ones."""
    texts, inside = {}, False
    for line in pathlib.Path(setup_rc).read_text(encoding="utf-8").splitlines():
        if not inside:
            inside = line.strip() == "STRINGTABLE"
            continue
        if line.strip() == "END":
            break
        entry = _RC_ENTRY.match(line)
        if entry:
            texts[entry.group(1)] = "".join(
                _decode_rc(m.group(1) == "L", m.group(2)) for m in _RC_STRING.finditer(entry.group(2)))
    return texts


def placeholders(text):
    """The "%1" .. "%9" of a text, read as the installer's formatter reads them, in sorted order."""
    found, i = [], 0
    while i < len(text) - 1:
        if text[i] == "%" and text[i + 1] in "123456789":
            found.append(text[i:i + 2])
            i += 2
        else:
            i += 1
    return sorted(found)


def _unescape(text):
    """The text of a language-file line, or None when it holds an escape other than \\n and \\\\."""
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\":
            if text[i + 1:i + 2] == "n":
                out.append("\n")
            elif text[i + 1:i + 2] == "\\":
                out.append("\\")
            else:
                return None
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def read(path, english):
    """Reads and checks one language file against the English texts ({id: text})."""
    lang = LanguageFile(path)

    def fault(line_number, what):
        lang.faults.append("%s:%d: %s" % (lang.path, line_number, what))

    data = lang.path.read_bytes()
    if data.startswith(b"\xef\xbb\xbf"):
        fault(1, "starts with a byte order mark; save it as UTF-8 without one")
        data = data[3:]
    try:
        content = data.decode("utf-8")
    except UnicodeDecodeError as error:
        fault(data.count(b"\n", 0, error.start) + 1, "not valid UTF-8 (byte %d)" % error.start)
        return lang
    seen = {}
    for number, line in enumerate(content.split("\n"), 1):
        if line.endswith("\r"):  # a file saved with Windows line ends reads the same
            line = line[:-1]
        if not line.strip() or line.startswith("#"):
            continue
        if re.search(r"[\x00-\x1f\x7f]", line):
            fault(number, "holds a control character; write a line feed as \\n")
            continue
        if lang.langid is None:
            header = _HEADER.fullmatch(line)
            if not header:
                fault(number, 'the first line must be "language <tag> <LANGID as 0xNNNN>"')
                return lang
            lang.tag, lang.langid = header.group(1), int(header.group(2), 16)
            if lang.langid & 0x3FF == 0 or lang.langid == NEUTRAL_LANGID:
                fault(number, "LANGID 0x%04X cannot hold a translation" % lang.langid)
            continue
        name, space, raw = line.partition(" ")
        if not _NAME.fullmatch(name) or not space or not raw:
            fault(number, 'expected "<IDS_NAME> <text>"')
            continue
        if name not in english:
            fault(number, "unknown id %s" % name)
            continue
        if name in seen:
            fault(number, "%s repeated (first on line %d)" % (name, seen[name]))
            continue
        seen[name] = number
        text = _unescape(raw)
        if text is None:
            fault(number, "%s: the only escapes are \\n and \\\\" % name)
            continue
        if placeholders(text) != placeholders(english[name]):
            fault(number, "%s: placeholders %s differ from the English text's %s" % (
                name, " ".join(placeholders(text)) or "(none)",
                " ".join(placeholders(english[name])) or "(none)"))
        lang.texts[name] = text
    if lang.langid is None:
        fault(1, 'no "language <tag> <LANGID>" line')
        return lang
    for name in english:
        if name not in seen:
            fault(number, "missing id %s" % name)
    return lang


def read_all(setup_rc, paths):
    """Reads every file, adding the faults only a set of files can have (one LANGID twice)."""
    english = english_texts(setup_rc)
    langs, owners = [], {}
    for path in paths:
        lang = read(path, english)
        if lang.langid is not None and lang.langid in owners:
            lang.faults.append("%s:1: LANGID 0x%04X is also that of %s" % (
                lang.path, lang.langid, owners[lang.langid]))
        elif lang.langid is not None:
            owners[lang.langid] = lang.path
        langs.append(lang)
    return langs


def _rc_string(text):
    """A wide resource-script string of the text: printable ASCII as is, the rest as \\xNNNN (windres
    reads at most four digits, so no escape can run into the next character)."""
    out = []
    for unit in range(0, len(text.encode("utf-16-le")), 2):
        code = int.from_bytes(text.encode("utf-16-le")[unit:unit + 2], "little")
        out.append(chr(code) if 0x20 <= code < 0x7F and chr(code) not in '"\\' else "\\x%04x" % code)
    return 'L"%s"' % "".join(out)


def string_blocks(texts, ids):
    """The RT_STRING resources of the texts ({name: text}) with the ids ({name: number}): {block name:
    bytes}, each block sixteen counted UTF-16 strings, absent ones of length 0, as the linker lays
    them out."""
    blocks = {}
    for name, text in texts.items():
        number = ids[name]
        blocks.setdefault(number // 16 + 1, [""] * 16)[number % 16] = text
    out = {}
    for block, strings in sorted(blocks.items()):
        data = b""
        for text in strings:
            units = text.encode("utf-16-le")
            data += (len(units) // 2).to_bytes(2, "little") + units
        out[block] = data
    return out


def resource_ids(resource_h):
    """{IDS_NAME: number} from res/resource.h."""
    text = pathlib.Path(resource_h).read_text(encoding="utf-8")
    return {m.group(1): int(m.group(2)) for m in re.finditer(r"#define (IDS_\w+) (\d+)", text)}


def generate(langs):
    out = ["// Generated by tools/langfile.py from res/lang/*.txt: edit those, not this."]
    for lang in sorted(langs, key=lambda l: l.langid):
        out += ["", "// %s" % lang.tag,
                "LANGUAGE 0x%02x, 0x%02x" % (lang.langid & 0x3FF, lang.langid >> 10),
                "STRINGTABLE", "BEGIN"]
        out += ["  %s %s" % (name, _rc_string(text)) for name, text in lang.texts.items()]
        out.append("END")
    return "\n".join(out) + "\n"


def main(argv):
    if len(argv) < 3 or argv[1] not in ("check", "generate") or (argv[1] == "generate" and len(argv) < 4):
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    files = argv[4:] if argv[1] == "generate" else argv[3:]
    langs = read_all(argv[2], files)
    faults = [f for lang in langs for f in lang.faults]
    for f in faults:
        print(f, file=sys.stderr)
    if faults:
        return 1
    if argv[1] == "generate":
        output = pathlib.Path(argv[3])
        text = generate(langs)
        if not output.exists() or output.read_text(encoding="utf-8") != text:
            output.write_text(text, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
