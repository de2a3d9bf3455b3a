"""The i686 product checks find what they are for: each fault is made in a copy of the
built Setup.exe (or its build files) and must be named by its check, while the untouched
copy passes. NORLO_PRODUCT_BUILD_DIR names the build tree of the product."""
import os
import shutil
import tempfile
import unittest

import pefile

import product_checks

BUILD = os.environ.get("NORLO_PRODUCT_BUILD_DIR", "")


@unittest.skipUnless(BUILD and os.path.exists(product_checks.executable_path(BUILD)),
                     "needs the built product (NORLO_PRODUCT_BUILD_DIR)")
class ChecksCatchFaults(unittest.TestCase):
    def setUp(self):
        self.copy = tempfile.mkdtemp(prefix="norlo-product-")
        self.addCleanup(shutil.rmtree, self.copy)
        os.makedirs(os.path.join(self.copy, "bin"))
        for name in ("bin/Setup.exe", "bin/Setup.map", "CMakeCache.txt"):
            shutil.copy(os.path.join(BUILD, name), os.path.join(self.copy, name))
        self.exe = product_checks.executable_path(self.copy)

    def mutate(self, change):
        pe = pefile.PE(self.exe)
        change(pe)
        data = pe.write()
        pe.close()
        with open(self.exe, "wb") as handle:
            handle.write(data)

    def replace_bytes(self, old, new):
        with open(self.exe, "rb") as handle:
            data = handle.read()
        self.assertIn(old, data)
        with open(self.exe, "wb") as handle:
            handle.write(data.replace(old, new, 1))

    def test_the_untouched_copy_passes_every_check(self):
        for check in product_checks.CHECKS:
            self.assertEqual([], product_checks.run(check, self.copy), check)

    def test_each_fault_is_named_by_its_check(self):
        def set_field(header, name, value):
            return lambda pe: setattr(getattr(pe, header), name, value)

        def clear_flag(flag):
            return lambda pe: setattr(pe.OPTIONAL_HEADER, "DllCharacteristics",
                                      pe.OPTIONAL_HEADER.DllCharacteristics & ~flag)

        def no_relocations(pe):
            pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]].Size = 0

        cases = [
            ("format", set_field("FILE_HEADER", "Machine", 0x8664), "machine 0x8664, not i386 (0x014c)"),
            ("format", set_field("OPTIONAL_HEADER", "Subsystem", 3), "subsystem 3, not the Windows GUI (2)"),
            ("relocations", clear_flag(product_checks.DYNAMIC_BASE), "DYNAMIC_BASE not set"),
            ("relocations", clear_flag(product_checks.NX_COMPAT), "NX_COMPAT not set"),
            ("relocations", no_relocations, "no base relocations"),
        ]
        for check, change, problem in cases:
            with self.subTest(problem=problem):
                self.setUp()
                self.mutate(change)
                self.assertIn(problem, product_checks.run(check, self.copy))

    def test_a_dll_that_is_not_the_systems_is_named(self):
        # A static import renamed to a DLL a user could plant beside the program, and a late
        # one renamed to a DLL of no system.
        static, delayed = product_checks.imported_dlls(pefile.PE(self.exe, fast_load=True))
        self.assertIn("advapi32.dll", static)
        self.assertIn("wininet.dll", delayed)
        self.replace_bytes(b"ADVAPI32.dll", b"ADVAPI99.dll")
        self.replace_bytes(b"WININET.dll", b"WINXNET.dll")
        self.assertEqual(["advapi99.dll is bound at start-up but is not a known DLL of the system",
                          "winxnet.dll is bound late but is not a Windows system DLL"],
                         product_checks.run("imports", self.copy))

    def test_a_late_bound_function_without_its_binding_stub_is_named(self):
        # What GNU ld leaves when it drops a delay-load stub: a slot of zero, a call to nowhere.
        pe = pefile.PE(self.exe)
        table = next(table for dll, table, _ in product_checks.delay_descriptors(pe) if dll == "wininet.dll")
        offset = pe.get_offset_from_rva(table)
        pe.close()
        with open(self.exe, "r+b") as handle:
            handle.seek(offset)
            handle.write(b"\0\0\0\0")
        problems = product_checks.run("imports", self.copy)
        self.assertEqual(1, len(problems), problems)
        self.assertRegex(problems[0], r"^wininet\.dll: 1 of \d+ late-bound functions have no binding stub$")

    def test_size_version_and_stream_faults(self):
        with open(self.exe, "ab") as handle:
            handle.write(b"\0" * (product_checks.SIZE_LIMIT + 1 - os.path.getsize(self.exe)))
        self.assertEqual(["%d bytes, over the limit of %d" % (product_checks.SIZE_LIMIT + 1, product_checks.SIZE_LIMIT)],
                         product_checks.run("size", self.copy))

        cache = os.path.join(self.copy, "CMakeCache.txt")
        with open(cache, encoding="utf-8") as handle:
            text = handle.read()
        configured = product_checks.configured_version(self.copy)
        with open(cache, "w", encoding="utf-8") as handle:
            handle.write(text.replace("NORLO_VERSION:STRING=" + configured, "NORLO_VERSION:STRING=9.9.9.9"))
        problems = product_checks.run("version", self.copy)
        self.assertIn("file version %s, configured 9.9.9.9" % configured, problems)

        with open(os.path.join(self.copy, "bin", "Setup.map"), "a", encoding="utf-8") as handle:
            handle.write(" .text          0x00401000      0x1f0 /x/libstdc++.a(locale_init.o)\n")
        self.assertEqual(["the map places the C++ library's locale_init"], product_checks.run("streams", self.copy))


if __name__ == "__main__":
    unittest.main()
