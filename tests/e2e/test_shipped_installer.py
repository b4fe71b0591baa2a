"""tools/make-installer --verify on installers that make-installer signed and a test time-stamp
authority stamped, on ones changed and signed again, and on what it refuses."""
import datetime
import hashlib
import http.server
import pathlib
import re
import shutil
import ssl
import subprocess
import tempfile
import threading
import unittest

from harness import BINARY_DIR, SOURCE_DIR, STATE_DIR, config_text
from test_verify import SIGNER, _run, make_signing_material, sign

MAKE_INSTALLER = SOURCE_DIR / "tools" / "make-installer"
TSA_CONFIG = ("[tsa]\ndefault_tsa = test\n[test]\nserial = {d}/tsa.serial\nsigner_cert = {d}/tsa.crt\n"
              "signer_key = {d}/tsa.key\nsigner_digest = sha256\ndefault_policy = 1.2.3.4.1\ndigests = sha256\n"
              "ess_cert_id_alg = sha256\n")


class TimeStampRequest(http.server.BaseHTTPRequestHandler):
    """RFC 3161 over HTTP: `openssl ts -reply` answers each request."""

    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", self.server.config, "-queryfile", "/dev/stdin",
                                "-out", "/dev/stdout"], input=query, capture_output=True, timeout=30).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.end_headers()
        self.wfile.write(reply)


class ShippedInstallerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = d = pathlib.Path(tempfile.mkdtemp(prefix="shipped-"))
        cls.addClassCleanup(shutil.rmtree, d, True)
        cls.cert, cls.key, cls.root = (make_signing_material(d)[k] for k in ("signer.crt", "signer.key", "root.crt"))
        cls.thumbprint = hashlib.sha256(ssl.PEM_cert_to_DER_cert(cls.cert.read_text())).hexdigest()
        _run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", d / "tsa.key", "-out", d / "tsa.csr",
              "-subj", "/CN=Quillmoor Test Time Stamps"])
        (d / "tsa.ext").write_text("keyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n")
        _run(["openssl", "x509", "-req", "-in", d / "tsa.csr", "-CA", cls.root, "-CAkey", d / "root.key",
              "-CAcreateserial", "-days", "30", "-extfile", d / "tsa.ext", "-out", d / "tsa.crt"])
        authority = http.server.ThreadingHTTPServer(("127.0.0.1", 0), TimeStampRequest)
        authority.config = d / "tsa.cnf"
        authority.config.write_text(TSA_CONFIG.format(d=d))
        threading.Thread(target=authority.serve_forever, daemon=True).start()
        cls.addClassCleanup(lambda: (authority.shutdown(), authority.server_close()))
        cls.config = d / "product.ini"
        cls.config.write_text(config_text(WebFile64="https://localhost/files/package.exe", Caption="Quillmoor"))
        cls.before = datetime.datetime.utcnow().replace(microsecond=0)
        made = cls.make_installer(cls.config, d / "signed.exe", "--cert", cls.cert, "--key", cls.key, "--ca", cls.root,
                                  "--timestamp", f"http://127.0.0.1:{authority.server_port}/")
        cls.after = datetime.datetime.utcnow()
        assert made.returncode == 0, made.stderr
        cls.head = subprocess.run(["git", "-C", SOURCE_DIR, "rev-parse", "HEAD"], capture_output=True, text=True).stdout.strip()

    @staticmethod
    def make_installer(*args):
        return subprocess.run([MAKE_INSTALLER] + [str(a) for a in args], capture_output=True, text=True, timeout=240)

    def verify(self, shipped):
        return self.make_installer("--verify", shipped, "--config", self.config, "--ca", self.root)

    def test_a_signed_installer_verifies_and_one_changed_after_signing_names_the_place(self):
        cases = [("as made", None, None, None),
                 ("configuration", b"Caption=Quillmoor", b"Caption=QuillmooR", "resource INI 135 (language 1033)"),
                 ("string table", "Connected to %1".encode("utf-16-le"), "Connected to %2".encode("utf-16-le"),
                  "the English string table (strings 96-111, language 0x0409)"),
                 ("translation", "Verbunden mit %1".encode("utf-16-le"), "Verbunden mit %2".encode("utf-16-le"),
                  "the de-DE translation's string table (strings 96-111, language 0x0407)")]
        for what, old, new, place in cases:
            with self.subTest(what):
                shipped = self.dir / "signed.exe"
                if old:
                    unsigned, shipped = self.dir / f"{what}-unsigned.exe", self.dir / f"{what}.exe"
                    _run(["osslsigncode", "remove-signature", "-in", self.dir / "signed.exe", "-out", unsigned])
                    unsigned.write_bytes(unsigned.read_bytes().replace(old, new, 1))
                    sign(unsigned, shipped, self.cert, self.key)
                result = self.verify(shipped)
                self.assertEqual(result.returncode, 3 if place else 0, result.stdout + result.stderr)
                origin = self.head + r"( \(and changes not committed\))?" + re.escape(f" with {self.config}")
                self.assertRegex(result.stdout, "^" + re.escape(f"make-installer: {shipped} ") + (
                    f"differs from what {origin} gives, in: {re.escape(place)}\n" if place else f"was built from {origin}\n")
                    + re.escape(f"  signer     /CN={SIGNER} (certificate SHA-256 {self.thumbprint}), ")
                    + ("no time stamp\n$" if old else "time-stamped (.*)\n$"))  # signed again without one
                if not old:
                    time = " ".join(re.search("time-stamped (.*)", result.stdout).group(1).split())
                    time = datetime.datetime.strptime(time, "%b %d %H:%M:%S %Y GMT")
                    self.assertTrue(self.before <= time <= self.after, f"{time} not in [{self.before}, {self.after}]")

    def test_a_vendors_languages_are_stamped_reproducibly_and_verify_names_a_changed_one(self):
        shipped = (SOURCE_DIR / "res" / "lang" / "de-DE.txt").read_text(encoding="utf-8")
        german, dutch = self.dir / "de-DE.txt", self.dir / "nl-NL.txt"
        shipped = shipped.replace("IDS_UI_CANCEL Abbrechen", "IDS_UI_CANCEL Stopp")
        german.write_text(shipped, encoding="utf-8")
        dutch.write_text(shipped.replace("language de-DE 0x0407", "language nl-NL 0x0413"), encoding="utf-8")
        languages = ["--language", dutch, "--language", german]
        made = [self.make_installer(self.config, self.dir / f"languages-{n}.exe", "--allow-unverified", *languages)
                for n in (1, 2)]
        self.assertEqual([m.returncode for m in made], [0, 0], made[0].stderr)
        first, second = (self.dir / f"languages-{n}.exe" for n in (1, 2))
        self.assertEqual(first.read_bytes(), second.read_bytes(), "the same inputs give the same bytes")
        self.assertRegex(made[0].stdout, rf"\n  language   de-DE \(0x0407\) adds \d+ bytes of text \[{german}\]\n")
        self.assertRegex(made[0].stdout, rf"\n  language   nl-NL \(0x0413\) adds \d+ bytes of text \[{dutch}\]\n")
        self.assertTrue("Stopp".encode("utf-16-le") in first.read_bytes(), "the new text is there")
        self.assertFalse("Abbrechen".encode("utf-16-le") in first.read_bytes(), "the replaced text is gone")
        for given, code, words in [(languages, 0, "was built from"),
                                   (["--language", german], 3, "translation's string table (strings 96-111, language 0x0413)"),
                                   (["--language", dutch], 3, "the de-DE translation's string table")]:
            with self.subTest(given=[str(g) for g in given[1::2]]):
                result = self.make_installer("--verify", first, "--config", self.config, "--allow-unsigned", *given)
                self.assertEqual(result.returncode, code, result.stdout + result.stderr)
                self.assertIn(words, result.stdout)

    def test_what_cannot_be_checked_is_refused_with_its_reason(self):
        cases = [(self.config, "is not a Windows executable"),
                 (STATE_DIR / "prefix32/drive_c/windows/system32/notepad.exe",
                  "was not built by this project: it has no embedded configuration (resource INI 135)"),
                 (BINARY_DIR / "setup.exe", "carries no signature, and a shipped installer must (--allow-unsigned")]
        for shipped, reason in cases:
            with self.subTest(reason):
                result = self.verify(shipped)
                self.assertEqual((result.returncode, result.stdout), (1, ""), result.stderr)
                self.assertIn(f"make-installer: {shipped} {reason}", result.stderr)


if __name__ == "__main__":
    unittest.main()
