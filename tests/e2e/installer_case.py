"""The common ground of the end-to-end test classes that run the installer against packages of
their own: a prefix reporting Windows 7, a document root for the packages, optionally nginx serving
it for the whole class, optionally a root certificate trusted for the whole class, and the GUI
automation tool."""
import hashlib
import pathlib
import shutil
import tempfile
import unittest

from harness import Prefix
from servers import Nginx
from wintools import GuiBot, clear_payload_starts, payload_hashes, trustcert, wait_for_starts


class InstallerTestCase(unittest.TestCase):
    bits = 64      # the prefix: 64- or 32-bit Windows
    serve = False  # start nginx on the document root for the whole class (cls.server)
    trusted_root = None  # set by trust_root

    @classmethod
    def make_packages(cls, files):
        """Puts the class's packages into `files` (docroot/files)."""

    @classmethod
    def setUpClass(cls):
        cls.prefix = Prefix(cls.bits)
        cls.prefix.set_windows_version("win7")
        cls.docroot = pathlib.Path(tempfile.mkdtemp(prefix="docroot-"))
        cls.make_packages(cls.docroot / "files")
        cls.server = Nginx(cls.docroot).__enter__() if cls.serve else None
        cls.gui = GuiBot(cls.prefix)

    @classmethod
    def trust_root(cls, root):
        """Puts the certificate file `root` into the prefix's "Root" store until the class ends."""
        if trustcert(cls.prefix, "add", root) != 0:
            raise RuntimeError("the test root could not be trusted")
        cls.trusted_root = root

    def clear_earlier_runs(self):
        """Takes away the records, the package starts and the working folders of earlier runs, so
        that a run is judged by what it left alone."""
        self.prefix.reset_records()
        clear_payload_starts(self.prefix)
        self.prefix.clear_work_folders()

    def assert_started_from(self, data):
        """One package was started since clear_earlier_runs, and its file held exactly `data` as it
        started (it hashes itself: the run's end deletes the file once the package has ended)."""
        wait_for_starts(self.prefix, 1)
        self.assertEqual(payload_hashes(self.prefix), [hashlib.sha256(data).hexdigest()])

    @classmethod
    def tearDownClass(cls):
        if cls.trusted_root is not None:
            trustcert(cls.prefix, "remove", cls.trusted_root)
        if cls.server is not None:
            cls.server.__exit__(None, None, None)
        shutil.rmtree(cls.docroot, ignore_errors=True)
