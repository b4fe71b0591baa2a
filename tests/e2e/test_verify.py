"""The downloaded package is verified before it is started: a configured SHA-256 value, a
required Authenticode signature and its signer, malformed values refused before any request, and
installers stamped with these keys. Signatures come from osslsigncode with certificates made by
openssl; the test root is trusted in the prefix's "Root" store while the tests run."""
import hashlib
import pathlib
import shutil
import ssl
import subprocess
import unittest

from harness import Installer, config_text, entries, section_dict, shared
from installer_case import InstallerTestCase
from wintools import make_package, stamp_as_given, wait_for_starts

CAPTION = "Quillmoor Internet Security"
SIGNER = "Quillmoor Test Signer"
REFUSED = f"The downloaded installer of {CAPTION} did not pass verification and has been deleted. Please, try later."
MALFORMED = f"{CAPTION} cannot be downloaded: this installer is not configured correctly."
PACKAGE_SIZE = 1500000
FLIPPED_AT = 1400000  # in the zero padding: a package with this byte changed still runs


def sha256(path):
    return hashlib.sha256(pathlib.Path(path).read_bytes()).hexdigest()


def flip_byte(source, target, offset=FLIPPED_AT):
    data = bytearray(pathlib.Path(source).read_bytes())
    data[offset] ^= 0x01
    pathlib.Path(target).write_bytes(data)
    return pathlib.Path(target)


def _run(args):
    subprocess.run([str(a) for a in args], check=True, capture_output=True, timeout=60)


def make_signing_material(directory):
    """A test root, a code-signing certificate it issued to SIGNER, a self-signed code-signing
    certificate that no store trusts, and one that certificate issued: a dict of PEM paths. Made
    once for every test of the run, copied into `directory`."""
    d = pathlib.Path(directory)
    shutil.copytree(shared("signing-material", _make_signing_material), d, dirs_exist_ok=True,
                    ignore=shutil.ignore_patterns(".made"))
    return {name: d / name
            for name in ("root.crt", "signer.crt", "signer.key", "stranger.crt", "stranger.key", "orphan.crt")}


def _make_signing_material(d):
    _run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30",
          "-keyout", d / "root.key", "-out", d / "root.crt", "-subj", "/CN=Quillmoor Test Root",
          "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"])
    _run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-sha256", "-keyout", d / "signer.key",
          "-out", d / "signer.csr", "-subj", f"/CN={SIGNER}"])
    (d / "signer.ext").write_text("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                                  "extendedKeyUsage=codeSigning\n")
    _run(["openssl", "x509", "-req", "-in", d / "signer.csr", "-CA", d / "root.crt", "-CAkey", d / "root.key",
          "-CAcreateserial", "-days", "30", "-sha256", "-extfile", d / "signer.ext", "-out", d / "signer.crt"])
    _run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30",
          "-keyout", d / "stranger.key", "-out", d / "stranger.crt", "-subj", "/CN=Untrusted Signer",
          "-addext", "extendedKeyUsage=codeSigning"])
    # Issued by the stranger, which no signature carries and no store holds.
    _run(["openssl", "x509", "-req", "-in", d / "signer.csr", "-CA", d / "stranger.crt", "-CAkey", d / "stranger.key",
          "-CAcreateserial", "-days", "30", "-sha256", "-extfile", d / "signer.ext", "-out", d / "orphan.crt"])


def sign(source, target, cert, key, chain=None):
    args = ["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256", "-in", source, "-out", target]
    if chain:
        args[4:4] = ["-ac", chain]
    _run(args)
    return pathlib.Path(target)


class VerifyTest(InstallerTestCase):
    serve = True
    location_key = "WebFile64"

    @classmethod
    def make_packages(cls, files):
        cls.plain = make_package(files / "plain.exe", PACKAGE_SIZE)
        cls.flipped = flip_byte(cls.plain, files / "flipped.exe")

    def setUp(self):
        self.installer = Installer(self.prefix)
        self.addCleanup(self.installer.remove)
        self.fresh()

    def fresh(self):
        """No records, no recorded starts, no downloaded package: before every run."""
        self.clear_earlier_runs()

    def run_installer(self, package, silent=True, **keys):
        """Stamps the installer to download `package` (a file of the docroot) with `keys` added and
        runs it to its end; with silent=False, waits for its message box, clicks OK and returns the
        box's texts (None when no box came)."""
        keys = {self.location_key: self.server.url("/files/" + pathlib.Path(package).name), "Caption": CAPTION,
                "CompanyNameShort": "Quillmoor", **({"progressbar": "0"} if silent else {}), **keys}
        stamp_as_given(self.installer, config_text(**keys))
        if silent:
            self.installer.run()
            return None
        process = self.installer.start()
        box = self.gui.wait_window(timeout=30, title=CAPTION, class_name="#32770", visible=True)
        texts = [c.text for c in self.gui.list_controls(title=CAPTION, class_name="#32770") or []] if box else None
        if box:
            self.gui.click(1, title=CAPTION, class_name="#32770")
        process.wait(timeout=60)
        return texts

    def target_path(self):
        """The package in the last run's working folder, as the records name it."""
        return self.prefix.target_windows()

    def assert_started(self):
        starts = wait_for_starts(self.prefix, 1)
        self.assertEqual(len(starts), 1, "started once")
        self.assertEqual(starts[0][0].lower(), self.target_path().lower())
        log, status = self.prefix.records()
        self.assertEqual([t for s, _, t in entries(log) if s.startswith("ERROR ")], [])
        self.assertEqual(section_dict(status, "Status")["Attempted to run downloaded file"], "true")

    def assert_refused(self, text):
        """Refused after the download: the ERROR entry and "Error" are `text`, the file is gone."""
        log, status = self.prefix.records()
        self.assertEqual([t for s, _, t in entries(log) if s.startswith("ERROR ")], [text])
        status = section_dict(status, "Status")
        self.assertEqual(status["Error"], text)
        self.assertEqual(status["Downloaded"], "true")
        self.assertEqual(status["Attempted to run downloaded file"], "")
        self.assertEqual(self.prefix.work_folders(), [], "the refused package and its folder are deleted")
        self.assertEqual(wait_for_starts(self.prefix, 0), [])


class VerifyOn64BitTest(VerifyTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        files = cls.docroot / "files"
        keys = make_signing_material(cls.docroot / "keys")
        cls.signed = sign(cls.plain, files / "signed.exe", keys["signer.crt"], keys["signer.key"], keys["root.crt"])
        cls.tampered = flip_byte(cls.signed, files / "tampered.exe")
        cls.untrusted = sign(cls.plain, files / "untrusted.exe", keys["stranger.crt"], keys["stranger.key"])
        cls.orphan = sign(cls.plain, files / "orphan.exe", keys["orphan.crt"], keys["signer.key"])
        cls.thumbprint = hashlib.sha256(ssl.PEM_cert_to_DER_cert(keys["signer.crt"].read_text())).hexdigest()
        cls.trust_root(keys["root.crt"])

    def test_the_right_hash_starts_the_package(self):
        right = sha256(self.plain)
        cases = [
            {"WebFile64Sha256": right},
            {"WebFile64Sha256": right.upper()},
            # Only the key of the location in use counts: WebFile's is never read on 64-bit Windows.
            {"WebFile64Sha256": right, "WebFileSha256": "0" * 64},
            {"WebFileSha256": "0" * 64},
        ]
        for keys in cases:
            with self.subTest(keys=keys):
                self.fresh()
                self.run_installer(self.plain, **keys)
                self.assert_started()

    def test_one_flipped_byte_is_refused_and_deleted(self):
        for silent in (True, False):
            with self.subTest(silent=silent):
                self.fresh()
                texts = self.run_installer(self.flipped, silent=silent, WebFile64Sha256=sha256(self.plain))
                self.assert_refused("Package hash mismatch: " + self.target_path())
                log, _ = self.prefix.records()
                self.assertIn("SHA-256 of the refused package: " + sha256(self.flipped),
                              [t for s, _, t in entries(log) if s.startswith("INFO ")])
                if not silent:
                    self.assertIsNotNone(texts, "the refusal is shown")
                    self.assertIn(REFUSED, texts)

    def test_a_malformed_value_is_refused_before_any_request(self):
        right = sha256(self.plain)
        cases = [
            ({"WebFile64Sha256": right[:63]}, "WebFile64Sha256"),
            ({"WebFile64Sha256": right + "0"}, "WebFile64Sha256"),
            ({"WebFile64Sha256": "0x" + right[:62]}, "WebFile64Sha256"),
            ({"WebFile64Sha256": right[:10] + "g" + right[11:]}, "WebFile64Sha256"),
            ({"WebFile64Sha256": right[:32] + " " + right[32:]}, "WebFile64Sha256"),
            ({"RequireSignature": "yes"}, "RequireSignature"),
            ({"RequireSignature": "2", "WebFile64Sha256": right}, "RequireSignature"),
            ({"SignerThumbprint": right[:63]}, "SignerThumbprint"),
        ]
        for silent in (True, False):
            for keys, key in cases if silent else cases[:1]:
                with self.subTest(keys=keys, silent=silent):
                    self.fresh()
                    before = len(self.server.requests())
                    texts = self.run_installer(self.plain, silent=silent, **keys)
                    text = f"Malformed {key} value in the configuration"
                    log, status = self.prefix.records()
                    self.assertEqual([t for s, _, t in entries(log) if s.startswith("ERROR ")], [text])
                    self.assertEqual(section_dict(status, "Status"), {"Error": text})
                    self.assertEqual(self.server.requests()[before:], [], "nothing was requested")
                    self.assertEqual(self.prefix.work_folders(), [], "nothing is left")
                    self.assertEqual(wait_for_starts(self.prefix, 0), [])
                    if not silent:
                        self.assertIsNotNone(texts, "the refusal is shown")
                        self.assertIn(MALFORMED, texts)

    def test_a_required_signature_must_be_valid_and_trusted(self):
        def refused(reason):  # the path is the run's, known once it has run
            return f"Package {reason}: {{path}}"

        cases = [
            (self.signed, {"RequireSignature": "1"}, None),
            (self.signed, {"RequireSignature": "1", "SignerName": SIGNER}, None),
            (self.signed, {"RequireSignature": "1", "WebFile64Sha256": sha256(self.signed)}, None),
            (self.signed, {"RequireSignature": "0"}, None),
            (self.plain, {"RequireSignature": "0"}, None),
            (self.plain, {"RequireSignature": "1"}, refused("signature not valid") + " (0x800B0100)"),
            (self.tampered, {"RequireSignature": "1"}, refused("signature not valid") + " (0x80096010)"),
            # Wine 8's WinVerifyTrust alone answers 0 for this one (its certificate is signed with
            # SHA-256); the installer's own pass of the chain policy refuses it, as Windows would.
            (self.untrusted, {"RequireSignature": "1"}, refused("signature not valid") + " (0x800B0109)"),
            # Wine's chain policy passes this one too: its issuer is nowhere to be found.
            (self.orphan, {"RequireSignature": "1"}, refused("signature not valid") + " (0x800B010A)"),
            (self.signed, {"RequireSignature": "1", "SignerName": "Quillmoor Test"},
             refused("signer not accepted") + f" (signed by {SIGNER})"),
            # A signer name asks for a signature by itself.
            (self.plain, {"SignerName": SIGNER}, refused("signature not valid") + " (0x800B0100)"),
            # The certificate's SHA-256 pins the signer; any other certificate of that name is refused.
            (self.signed, {"SignerThumbprint": self.thumbprint.upper(), "SignerName": SIGNER}, None),
            (self.signed, {"SignerThumbprint": "0" * 64, "SignerName": SIGNER},
             refused("signer not accepted") + f" (signed by {SIGNER})"),
        ]
        for package, keys, refusal in cases:
            with self.subTest(package=package.name, keys=keys):
                self.fresh()
                self.run_installer(package, **keys)
                if refusal is None:
                    self.assert_started()
                else:
                    self.assert_refused(refusal.format(path=self.target_path()))

    def test_the_stamping_tool_carries_the_keys(self):
        # One copy of the installer, stamped again and again: each configuration is the one obeyed,
        # and one without the keys starts any package, as an installer without them always did.
        runs = [
            (self.signed, {"WebFile64Sha256": sha256(self.signed), "RequireSignature": "1", "SignerName": SIGNER},
             True),
            (self.signed, {"WebFile64Sha256": sha256(self.plain), "RequireSignature": "1", "SignerName": SIGNER},
             False),
            (self.flipped, {}, True),
        ]
        for package, keys, starts in runs:
            with self.subTest(package=package.name, keys=keys):
                self.fresh()
                self.run_installer(package, **keys)
                if starts:
                    self.assert_started()
                else:
                    self.assert_refused("Package hash mismatch: " + self.target_path())


class VerifyOn32BitTest(VerifyTest):
    bits = 32
    location_key = "WebFile"

    def test_32_bit_windows_checks_WebFileSha256(self):
        right, wrong = sha256(self.plain), sha256(self.flipped)
        cases = [
            ({"WebFileSha256": right, "WebFile64Sha256": wrong}, True),
            ({"WebFileSha256": wrong, "WebFile64Sha256": right}, False),
        ]
        for keys, starts in cases:
            with self.subTest(keys=keys):
                self.fresh()
                self.run_installer(self.plain, **keys)
                if starts:
                    self.assert_started()
                else:
                    self.assert_refused("Package hash mismatch: " + self.target_path())


del VerifyTest  # only its subclasses run

if __name__ == "__main__":
    unittest.main()
