"""The shipped executable itself: a 32-bit GUI program that imports only system DLLs and stays
within its size budget."""
import unittest

import pefile

from harness import BINARY_DIR

# setup.exe is English only (make-installer adds the languages) and holds 128 KiB (131072 bytes).
SIZE_BUDGET = 128 * 1024
# Known DLLs, and COMCTL32 (taken by the manifest from the side-by-side store): the loader never
# takes these from the installer's folder. VERSION, WININET and WTSAPI32 are delay-loaded.
SYSTEM_DLLS = {"advapi32.dll", "comctl32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll",
               "shell32.dll", "user32.dll", "ws2_32.dll"}


class ExecutableTest(unittest.TestCase):
    def test_setup_exe_is_a_small_32_bit_gui_program_importing_system_dlls_only(self):
        data = (BINARY_DIR / "setup.exe").read_bytes()
        pe = pefile.PE(data=data)
        self.assertEqual(pe.FILE_HEADER.Machine, 0x14C, "i386")
        self.assertEqual(pe.OPTIONAL_HEADER.Magic, 0x10B, "PE32")
        self.assertEqual(pe.OPTIONAL_HEADER.Subsystem, 2, "Windows GUI")
        self.assertLessEqual({entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT}, SYSTEM_DLLS)
        self.assertLessEqual(len(data), SIZE_BUDGET, "resources included")


if __name__ == "__main__":
    unittest.main()
