"""The compatibility checkers on instructions whose verdict is known and on
real programs of the i686 build (QV_WIN32_BIN, QV_I686_OBJDUMP)."""

import os
import shutil
import subprocess
import tempfile
import unittest

import check_i486
import check_imports
import pefile

BIN = os.environ.get("QV_WIN32_BIN", "")
OBJDUMP = os.environ.get("QV_I686_OBJDUMP", "i686-w64-mingw32-objdump")
EXPORTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "exports")


class Instructions(unittest.TestCase):
    def test_the_i486_set_passes_and_later_instructions_fail(self):
        allowed = ["mov    %eax,%ebx", "nop", "lock cmpxchg %ecx,(%edx)", "bswap  %eax",
                   "xadd   %eax,(%ecx)", "rep stos %eax,%es:(%edi)", "movzbl (%eax),%edx",
                   "fcomp  %st(1)", "fucompp", "fildll (%eax)", "fnstsw %ax", "pause",
                   "cmpl   $0x0,0x8(%ebp)", "lret"]
        refused = {"cmovne %eax,%edx": "cmovne", "fcmove %st(1),%st": "fcmove",
                   "fcomi  %st(1),%st": "fcomi", "fucomip %st(1),%st": "fucomip",
                   "movq   %mm0,%mm1": "MMX/SSE register", "emms": "emms",
                   "pxor   %xmm0,%xmm0": "MMX/SSE register", "cmpxchg8b (%esi)": "cmpxchg8b",
                   "rdtsc": "rdtsc", "rdpmc": "rdpmc", "sysenter": "sysenter", "cpuid": "cpuid",
                   "nopw   0x0(%eax,%eax,1)": "multi-byte nop", "tzcnt  %eax,%eax": "tzcnt"}
        for text in allowed:
            self.assertIsNone(check_i486.verdict(text, [], "f"), text)
        for text, reason in refused.items():
            self.assertIn(reason, check_i486.verdict(text, [], "f") or "", text)

    def test_ud2_passes_only_behind_a_null_page_access(self):
        self.assertIsNone(check_i486.verdict("ud2", ["0xc", "%eax"], "f"))
        self.assertIsNone(check_i486.verdict("ud2", ["%eax", "0x0"], "f"))
        self.assertIsNotNone(check_i486.verdict("ud2", ["0x2000", "%eax"], "f"))
        self.assertIsNotNone(check_i486.verdict("ud2", ["%eax", "%ebx"], "f"))


class Programs(unittest.TestCase):
    def setUp(self):
        self.assertTrue(BIN, "QV_WIN32_BIN must name the i686 build's bin directory")

    def test_an_import_of_a_later_function_is_named_with_dll_and_system(self):
        failures, count = check_imports.check(os.path.join(BIN, "uidriver_test.exe"),
                                              check_imports.load_exports(EXPORTS))
        self.assertGreater(count, 50)
        for system in ("win95", "nt351", "nt40"):
            self.assertIn("uidriver_test.exe: USER32.dll!GetAncestor is not exported by %s (%s)"
                          % (system, check_imports.SYSTEMS[system]), failures)

    def test_the_loader_imports_only_kernel32_and_user32_and_setup_would_not_pass_its_rule(self):
        only = {"KERNEL32.DLL", "USER32.DLL"}
        exports = check_imports.load_exports(EXPORTS)
        failures, count = check_imports.check(os.path.join(BIN, "Loader.exe"), exports, only)
        self.assertEqual(failures, [])
        self.assertGreater(count, 10)
        failures, _ = check_imports.check(os.path.join(BIN, "setup.exe"), exports, only)
        self.assertTrue(any(f.lower().startswith("setup.exe: crtdll.dll (") and "the only DLLs it may import" in f
                            for f in failures), failures)

    def test_names_come_from_the_unstripped_copy_only_when_its_code_is_the_same(self):
        with tempfile.TemporaryDirectory() as tmp:
            program = os.path.join(tmp, "Uninstal.exe")
            copy = os.path.join(tmp, "unstripped", "Uninstal.exe")
            os.mkdir(os.path.dirname(copy))
            shutil.copy(os.path.join(BIN, "unstripped", "Uninstal.exe"), copy)
            strip = OBJDUMP[: -len("objdump")] + "strip"
            subprocess.run([strip, "-o", program, copy], check=True)
            self.assertLess(os.path.getsize(program), os.path.getsize(copy))
            self.assertEqual(check_i486.names_source(program), (copy, None))
            text = next(s for s in pefile.PeImage(copy).sections if s.is_code)
            with open(copy, "r+b") as f:
                f.seek(text.raw_offset + 16)
                byte = f.read(1)
                f.seek(text.raw_offset + 16)
                f.write(bytes([byte[0] ^ 0xFF]))
            source, error = check_i486.names_source(program)
            self.assertIsNone(source)
            self.assertIn("would lie", error)


if __name__ == "__main__":
    unittest.main()
