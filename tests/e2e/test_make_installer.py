"""tools/make-installer: an installer it configures and signs with a certificate under a root the
prefix trusts passes the platform's trust verification and runs as usual; it carries the shipped
languages chosen (all by default); each bad input is refused with its reason, and nothing is left at
the output name."""
import hashlib
import os
import shutil
import ssl
import subprocess
import sys
import unittest

import pefile

from harness import BINARY_DIR, LANGUAGES_INSTALLER, SOURCE_DIR, Installer, config_text
from installer_case import InstallerTestCase
from test_verify import SIGNER, _run, make_signing_material, sha256, sign
from wintools import TOOLS_DIR, clear_payload_starts, make_package, run_captured, wait_for_starts

MAKE_INSTALLER = SOURCE_DIR / "tools" / "make-installer"
NAME = "quillmoor-setup.exe"
P12_PASSWORD = "p12 secret"
PEM_PASSWORD = "pem secret"


def translations(path):
    """{(string table block, LANGID): bytes} of every string table but the English one."""
    pe = pefile.PE(str(path))
    return {(block.id, language.id): pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
            for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries if kind.id == pefile.RESOURCE_TYPE["RT_STRING"]
            for block in kind.directory.entries for language in block.directory.entries if language.id != 0x0409}


class MakeInstallerTest(InstallerTestCase):
    serve = True

    @classmethod
    def make_packages(cls, files):
        cls.package = make_package(files / "package.exe", 1500000)

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        d = cls.docroot / "keys"
        keys = make_signing_material(d)
        cls.root, cls.cert = keys["root.crt"], keys["signer.crt"]
        cls.p12, cls.encrypted, cls.password_file = d / "signer.p12", d / "signer-encrypted.key", d / "password"
        # Both carry the root after the signer, so that the signature fails where the root is not trusted
        # (under Wine a signature whose issuer cannot be found at all passes the verification).
        cls.chain = d / "chain.crt"
        cls.chain.write_text(cls.cert.read_text() + cls.root.read_text())
        _run(["openssl", "pkcs12", "-export", "-in", cls.cert, "-inkey", keys["signer.key"], "-certfile", cls.root,
              "-passout", f"pass:{P12_PASSWORD}", "-out", cls.p12])
        _run(["openssl", "pkey", "-in", keys["signer.key"], "-aes256", "-passout", f"pass:{PEM_PASSWORD}", "-out", cls.encrypted])
        cls.password_file.write_text(PEM_PASSWORD + "\n")
        _run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30", "-keyout", d / "tls.key",
              "-out", d / "tls.crt", "-subj", "/CN=Quillmoor Web", "-addext", "extendedKeyUsage=serverAuth"])
        cls.signed_setup = sign(BINARY_DIR / "setup.exe", d / "signed-setup.exe", cls.cert, keys["signer.key"])
        cls.thumbprint = hashlib.sha256(ssl.PEM_cert_to_DER_cert(cls.cert.read_text())).hexdigest()
        cls.trust_root(cls.root)

    def setUp(self):
        self.out = self.docroot / "out"
        shutil.rmtree(self.out, ignore_errors=True)
        self.out.mkdir()
        self.url = self.server.url("/files/package.exe")
        self.pinned = {"WebFile64": self.url, "WebFile64Sha256": sha256(self.package), "Caption": "Quillmoor",
                       "progressbar": "0"}

    def make(self, config, *args, output=None, programs=None):
        """Runs make-installer on the configuration text `config` (None: a file that does not
        exist), with the folder `programs` first in PATH when given; the CompletedProcess with texts."""
        path = self.docroot / ("config.ini" if config is not None else "absent.ini")
        if config is not None:
            path.write_text(config, newline="")
        env = {**os.environ, "P12_PASSWORD": P12_PASSWORD, "WRONG_PASSWORD": "not it"}
        if programs:
            env["PATH"] = f"{programs}:{env['PATH']}"
        return subprocess.run([sys.executable, MAKE_INSTALLER, path, output or self.out / NAME] + [str(a) for a in args],
                              capture_output=True, text=True, env=env, timeout=600)

    def test_a_signed_installer_passes_trust_verification_and_runs_as_usual(self):
        # Every shipped language by default, the tables setup_languages.exe has; none when told so,
        # and that installer verifies with the same choice.
        shipped = sorted(p.stem for p in (SOURCE_DIR / "res" / "lang").glob("*.txt"))
        cases = [
            ("PKCS#12, password from the environment", ["--cert", self.p12, "--password-env", "P12_PASSWORD"], {},
             f"0x00000000 {SIGNER}", shipped),
            ("PEM and an encrypted key, password from a file, replacing the last output",
             ["--cert", self.chain, "--key", self.encrypted, "--password-file", self.password_file, "--force"], {},
             f"0x00000000 {SIGNER}", shipped),
            ("unsigned and unpinned, when told so, in English only",
             ["--allow-unverified", "--force", "--languages", "none"], {"WebFile64Sha256": ""}, "0x800B0100 ", []),
        ]
        for what, args, keys, trust, languages in cases:
            with self.subTest(what):
                result = self.make(config_text(**{**self.pinned, **keys}), "--ca", self.root, *args)
                self.assertEqual(result.returncode, 0, result.stderr)
                output = self.out / NAME
                data = output.read_bytes()
                signed = trust.startswith("0x00000000")
                summary = result.stdout.splitlines()
                self.assertEqual(summary[1:8], [
                    f"  file       {output}",
                    f"  size       {len(data)} bytes",
                    f"  sha256     {hashlib.sha256(data).hexdigest()}",
                    "  version    6.10.18.1",
                    f"  signer     /CN={SIGNER} (certificate SHA-256 {self.thumbprint})" if signed
                    else "  signer     none: not signed",
                    "  WebFile    (not set: nothing is installed on 32-bit Windows)",
                    f"  WebFile64  {self.url} [http; "
                    + (f"SHA-256 {sha256(self.package)}]" if signed else "NOT PINNED (--allow-unverified)]")])
                lines = summary[8:]
                if languages:
                    self.assertRegex(lines.pop(), r"^  languages  add \d+ bytes to the file \(\d+ without them, unsigned\)$")
                self.assertEqual([(line.split()[1], line.split()[-1]) for line in lines],
                                 [(tag, f"[{SOURCE_DIR / 'res' / 'lang' / tag}.txt]") for tag in languages])
                self.assertEqual(translations(output), translations(BINARY_DIR / LANGUAGES_INSTALLER) if languages else {})
                if not languages:
                    verified = subprocess.run([sys.executable, MAKE_INSTALLER, "--verify", output, "--config",
                                               self.docroot / "config.ini", "--allow-unsigned", "--languages", "none"],
                                              capture_output=True, text=True, timeout=600)
                    self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
                self.assertEqual(os.listdir(self.out), [NAME], "nothing else is left beside it")
                verified = run_captured(self.prefix, [TOOLS_DIR / "trustcert.exe", "verify", self.prefix.windows_path(output)])
                self.assertEqual(verified.stdout.decode().strip(), trust.strip())
                clear_payload_starts(self.prefix)
                installer = Installer(self.prefix, NAME, source=output)
                self.addCleanup(installer.remove)
                installer.run()
                self.assertEqual(len(wait_for_starts(self.prefix, 1)), 1, "the package was started")

    def test_bad_inputs_are_refused_and_nothing_is_left_at_the_output(self):
        pinned = config_text(**self.pinned)
        existing = self.out / "existing.exe"
        shared = self.docroot / "shared"
        shared.mkdir(exist_ok=True)
        shared.chmod(0o777)
        cases = [(config, args, message, None) for config, args, message in [
            (config_text(section="install", WebFile64=self.url), [], "the configuration has no [runtime] section"),
            (config_text(Caption="Quillmoor"), [], "names no package in [runtime]"),
            (config_text(WebFile64=self.url), [], "WebFile64 is fetched over plain HTTP"),
            (config_text(WebFile64=self.url, RequireSignature="1", SignerName=SIGNER), [],
             "WebFile64 is fetched over plain HTTP without a pin (" + self.url + "): RequireSignature and SignerName "
             "name a publisher but do not pin one"),
            (config_text(WebFile=self.url, WebFile64="https://localhost/files/package.exe"), [],
             "WebFile is fetched over plain HTTP"),
            (config_text(**{**self.pinned, "WebFile64Sha256": "0" * 63}), [], "Malformed WebFile64Sha256 value"),
            (config_text(**{**self.pinned, "Retries": "11"}), [],
             "Malformed Retries value in the configuration: '11' is not a number from 0 to 10"),
            (config_text(**{**self.pinned, "Caption": "x\rWebFile=http://evil/a.exe"}), [],
             "WebFile is fetched over plain HTTP without a pin (http://evil/a.exe)"),
            (pinned + "[note\r\nWebFile=http://evil/b.exe\r\n", [],
             "WebFile is fetched over plain HTTP without a pin (http://evil/b.exe)"),
            (None, [], "cannot read the configuration"),
            (pinned, ["--cert", self.p12, "--password-env", "WRONG_PASSWORD"], "the password does not open"),
            (pinned, ["--cert", self.cert, "--key", self.encrypted], "is encrypted: give its password"),
            (pinned, ["--cert", self.root.parent / "tls.crt", "--key", self.root.parent / "tls.key"],
             "cannot sign code: its extended key usage lacks codeSigning"),
            (pinned, ["--installer", self.signed_setup], "is already signed: stamping would break its signature"),
            (pinned, ["--languages", "de-DE,nl-NL"], "--languages names 'nl-NL', which res/lang has no file of"),
            (pinned, ["--installer", BINARY_DIR / LANGUAGES_INSTALLER], "carries translations compiled in (0x0407, "),
        ]] + [(pinned, [], "exists (replace it with --force)", existing),
               (pinned, [], "others can write to", shared / NAME)]
        # A vendor's language file, the shipped Russian one changed: what the build refuses, make-installer
        # refuses, naming the line and the id.
        shipped = (SOURCE_DIR / "res" / "lang" / "ru-RU.txt").read_bytes()
        for name, data, message in [
            ("missing", shipped.replace(b"\nIDS_UI_CANCEL ", b"\n# IDS_UI_CANCEL "), "missing id IDS_UI_CANCEL"),
            ("placeholder", shipped.replace("попытка %2".encode(), "попытка %1".encode(), 1),
             "IDS_RETRY_CONNECTION: placeholders %1 %1 differ from the English text's %1 %2"),
            ("unknown", shipped + b"IDS_UI_CANCELL x\n", "unknown id IDS_UI_CANCELL"),
            ("repeated", shipped + b"IDS_UI_CANCEL x\n", "IDS_UI_CANCEL repeated (first on line"),
            ("header", shipped.replace(b"language ru-RU 0x0419", b"language ru-RU 0419"), 'the first line must be'),
            ("bytes", shipped.replace("Отмена".encode(), b"\xce\xf2\xec\xe5\xed\xe0"), "not valid UTF-8"),
        ]:
            (self.docroot / f"{name}.txt").write_bytes(data)
            cases.append((pinned, ["--language", self.docroot / f"{name}.txt"], message, None))
        for config, args, message, output in cases:
            with self.subTest(message):
                existing.write_bytes(b"kept")
                result = self.make(config, *args, output=output)
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn(message, result.stderr)
                self.assertEqual(os.listdir(self.out), ["existing.exe"])
                self.assertEqual(existing.read_bytes(), b"kept")

    def test_no_program_it_starts_inherits_the_password(self):
        spy = self.docroot / "spy"
        spy.mkdir(exist_ok=True)
        (spy / "env").unlink(missing_ok=True)
        (spy / "cmake").write_text(f'#!/bin/sh\nenv >"{spy}/env"\nexec {shutil.which("cmake")} "$@"\n')
        (spy / "cmake").chmod(0o755)
        result = self.make(config_text(**self.pinned), "--cert", spy / "absent.p12", "--password-env", "P12_PASSWORD",
                           programs=spy)
        self.assertIn("cannot read the certificate", result.stderr)
        seen = (spy / "env").read_text()
        self.assertIn("PATH=", seen, "cmake ran")
        self.assertFalse(P12_PASSWORD in seen, "cmake inherited the password")


if __name__ == "__main__":
    unittest.main()
