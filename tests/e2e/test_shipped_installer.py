"""tools/make-installer --verify: a shipped installer is built again from this checkout and its
configuration and compared byte for byte, without its signature. One that make-installer signed
passes and names its signer, a time stamp shows its time, one changed and signed again fails
naming the place, and what cannot be checked is refused with the reason."""
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
from servers import free_port
from test_verify import SIGNER, _run, make_signing_material, sign

MAKE_INSTALLER = SOURCE_DIR / "tools" / "make-installer"
CONFIG = config_text(WebFile64="https://localhost/files/package.exe", Caption="Quillmoor")


class TimeStampAuthority(http.server.ThreadingHTTPServer):
    """An RFC 3161 time-stamp authority on 127.0.0.1: `openssl ts -reply` answers each request,
    with a certificate the test root issued for time stamping."""

    def __init__(self, directory, root):
        d = directory
        _run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", d / "tsa.key", "-out", d / "tsa.csr",
              "-subj", "/CN=Quillmoor Test Time Stamps"])
        (d / "tsa.ext").write_text("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                                   "extendedKeyUsage=critical,timeStamping\n")
        _run(["openssl", "x509", "-req", "-in", d / "tsa.csr", "-CA", root, "-CAkey", root.with_suffix(".key"),
              "-CAcreateserial", "-days", "30", "-sha256", "-extfile", d / "tsa.ext", "-out", d / "tsa.crt"])
        (d / "tsa.serial").write_text("01\n")
        self.config = d / "tsa.cnf"
        self.config.write_text(f"[tsa]\ndefault_tsa = quillmoor\n[quillmoor]\nserial = {d / 'tsa.serial'}\n"
                               f"signer_cert = {d / 'tsa.crt'}\nsigner_key = {d / 'tsa.key'}\nsigner_digest = sha256\n"
                               "default_policy = 1.2.3.4.1\ndigests = sha256, sha384, sha512\naccuracy = secs:1\n"
                               "ess_cert_id_alg = sha256\n")
        super().__init__(("127.0.0.1", free_port()), TimeStampRequest)
        self.url = f"http://127.0.0.1:{self.server_port}/"
        threading.Thread(target=self.serve_forever, daemon=True).start()


class TimeStampRequest(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", self.server.config, "-queryfile", "/dev/stdin",
                                "-out", "/dev/stdout"], input=query, capture_output=True, timeout=30).stdout
        self.send_response(200 if reply else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


class ShippedInstallerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = pathlib.Path(tempfile.mkdtemp(prefix="shipped-"))
        cls.addClassCleanup(shutil.rmtree, cls.dir, True)
        keys = make_signing_material(cls.dir / "keys")
        cls.root, cls.cert, cls.key = keys["root.crt"], keys["signer.crt"], keys["signer.key"]
        cls.thumbprint = hashlib.sha256(ssl.PEM_cert_to_DER_cert(cls.cert.read_text())).hexdigest()
        cls.config = cls.dir / "product.ini"
        cls.config.write_text(CONFIG, newline="")
        cls.head = subprocess.run(["git", "-C", SOURCE_DIR, "rev-parse", "HEAD"], capture_output=True,
                                  text=True).stdout.strip()

    def make_installer(self, *args):
        return subprocess.run([MAKE_INSTALLER] + [str(a) for a in args], capture_output=True, text=True, timeout=240)

    def make_signed(self, name, *args):
        result = self.make_installer(self.config, self.dir / name, "--cert", self.cert, "--key", self.key,
                                     "--ca", self.root, *args)
        self.assertEqual(result.returncode, 0, result.stderr)
        return self.dir / name, result.stdout

    def verify(self, shipped, *args):
        return self.make_installer("--verify", shipped, "--config", self.config, "--ca", self.root, *args)

    def changed_and_signed_again(self, shipped, old, new):
        unsigned, changed = self.dir / "unsigned.exe", self.dir / "changed.exe"
        unsigned.unlink(missing_ok=True)  # osslsigncode writes no file that exists
        changed.unlink(missing_ok=True)
        _run(["osslsigncode", "remove-signature", "-in", shipped, "-out", unsigned])
        data = unsigned.read_bytes()
        self.assertEqual(data.count(old), 1, old)
        unsigned.write_bytes(data.replace(old, new))
        return sign(unsigned, changed, self.cert, self.key)

    def test_a_signed_installer_verifies_and_one_changed_after_signing_names_the_place(self):
        shipped, _ = self.make_signed("signed.exe")
        cases = [
            ("as made", None, None, None),
            ("configuration changed", b"Caption=Quillmoor", b"Caption=QuillmooR", "resource INI 135 (language 1033)"),
            ("string table changed", "Connected to %1".encode("utf-16-le"), "Connected to %2".encode("utf-16-le"),
             "string table (strings 96-111)"),
        ]
        for what, old, new, place in cases:
            with self.subTest(what):
                path = self.changed_and_signed_again(shipped, old, new) if old else shipped
                result = self.verify(path)
                lines = result.stdout.splitlines()
                self.assertEqual(result.returncode, 3 if place else 0, result.stdout + result.stderr)
                origin = self.head + r"( \(and changes not committed\))?" + re.escape(f" with {self.config}")
                self.assertRegex(lines[0], "^" + re.escape(f"make-installer: {path} ") + (
                    f"differs from what {origin} gives, in: {re.escape(place)}$" if place else f"was built from {origin}$"))
                self.assertEqual(lines[1:], [f"  signer     /CN={SIGNER} (certificate SHA-256 {self.thumbprint}), no time stamp"])

    def test_a_time_stamped_signature_verifies_and_shows_its_time(self):
        authority = TimeStampAuthority(self.dir, self.root)
        self.addCleanup(authority.server_close)
        self.addCleanup(authority.shutdown)
        before = datetime.datetime.utcnow().replace(microsecond=0)
        shipped, made = self.make_signed("stamped.exe", "--timestamp", authority.url)
        after = datetime.datetime.utcnow()
        result = self.verify(shipped)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        prefix = f"  signer     /CN={SIGNER} (certificate SHA-256 {self.thumbprint}), time-stamped "
        signer = result.stdout.splitlines()[1]
        self.assertTrue(signer.startswith(prefix), signer)
        time = signer[len(prefix):]
        self.assertTrue(before <= datetime.datetime.strptime(" ".join(time.split()), "%b %d %H:%M:%S %Y GMT") <= after,
                        f"{time} is not between {before} and {after}")
        self.assertIn(f", time-stamped {time} by {authority.url}", made)

    def test_what_cannot_be_checked_is_refused_with_its_reason(self):
        text = self.dir / "readme.exe"
        text.write_text("MZ is not enough\n")
        cases = [
            (text, "is not a Windows executable"),
            (STATE_DIR / "prefix32" / "drive_c" / "windows" / "system32" / "notepad.exe",
             "was not built by this project: it has no embedded configuration (resource INI 135)"),
            (BINARY_DIR / "setup.exe", "carries no signature, and a shipped installer must (--allow-unsigned"),
        ]
        for shipped, reason in cases:
            with self.subTest(reason):
                result = self.verify(shipped)
                self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                self.assertEqual(result.stdout, "")
                self.assertIn(f"make-installer: {shipped} {reason}", result.stderr)


if __name__ == "__main__":
    unittest.main()
