"""The shipped executable itself: a 32-bit GUI program that imports only system DLLs and stays
within its size budget."""
import struct
import unittest

from harness import BINARY_DIR

SIZE_BUDGET = 128 * 1024
# Known DLLs, and COMCTL32 (taken by the manifest from the side-by-side store): the loader never
# takes these from the installer's folder. VERSION, WININET and WTSAPI32 are delay-loaded.
SYSTEM_DLLS = {"advapi32.dll", "comctl32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll",
               "shell32.dll", "user32.dll", "ws2_32.dll"}


class Pe:
    def __init__(self, data):
        self.data = data
        self.nt = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[self.nt:self.nt + 4] == b"PE\0\0"
        self.machine, self.sections = struct.unpack_from("<HH", data, self.nt + 4)
        self.optional_size = struct.unpack_from("<H", data, self.nt + 20)[0]
        self.optional = self.nt + 24
        self.magic, = struct.unpack_from("<H", data, self.optional)
        self.subsystem, = struct.unpack_from("<H", data, self.optional + 68)

    def _offset(self, rva):
        table = self.optional + self.optional_size
        for i in range(self.sections):
            size, address, _, raw = struct.unpack_from("<IIII", self.data, table + i * 40 + 8)
            if address <= rva < address + max(size, 1):
                return raw + rva - address
        raise ValueError(f"RVA {rva:#x} is in no section")

    def imports(self):
        rva, _ = struct.unpack_from("<II", self.data, self.optional + 96 + 8)
        names, at = [], self._offset(rva)
        while True:
            name_rva = struct.unpack_from("<I", self.data, at + 12)[0]
            if name_rva == 0:
                return names
            start = self._offset(name_rva)
            names.append(self.data[start:self.data.index(b"\0", start)].decode().lower())
            at += 20


class ExecutableTest(unittest.TestCase):
    def test_setup_exe_is_a_small_32_bit_gui_program_importing_system_dlls_only(self):
        data = (BINARY_DIR / "setup.exe").read_bytes()
        pe = Pe(data)
        self.assertEqual(pe.machine, 0x14C, "i386")
        self.assertEqual(pe.magic, 0x10B, "PE32")
        self.assertEqual(pe.subsystem, 2, "Windows GUI")
        self.assertLessEqual(set(pe.imports()), SYSTEM_DLLS)
        self.assertLessEqual(len(data), SIZE_BUDGET, "resources included")


if __name__ == "__main__":
    unittest.main()
