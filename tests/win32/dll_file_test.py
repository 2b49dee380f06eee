"""The shipped 32-bit DLL, checked by reading the file."""
import re
import subprocess
import unittest

from tests.win32 import pe
from tests.win32.paths import DLL32

EXPECTED_EXPORTS = {1: "FilterGetTitle", 2: "FilterProc", 3: "FilterOption"}
# The common controls the options dialog calls, by ordinal only.
COMCTL32_ORDINALS = {16: "CreateUpDownControl", 17: "InitCommonControls"}
# Only DLLs that every Windows has: no C++ runtime, no MinGW runtime.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comdlg32.dll", "comctl32.dll", "msvcrt.dll"}
# x87 arithmetic, loads and stores; SSE2 keeps the filter's doubles IEEE double.
X87 = re.compile(r"\sf(ld|st|add|sub|mul|div|sqrt|ild|ist|isttp|com|ucom|chs|abs|xch|rndint|prem|scale)\w*\s")


# A packed SSE instruction whose memory operand lies on the stack: legacy SSE
# faults unless that address is 16-byte aligned.
ALIGNED_STACK_ACCESS = re.compile(r"\s(movaps|movapd|movdqa|(?!movup|movdqu)\w+p[sd])\s.*\((%esp|%ebp)")
REALIGNS_STACK = re.compile(r"\sand\s+\$0xfffffff0,%esp")


def disassembly():
    return subprocess.run(["i686-w64-mingw32-objdump", "-d", "--no-show-raw-insn", DLL32],
                          capture_output=True, text=True, check=True).stdout


def functions(listing):
    """{name: [instruction lines]} from an objdump listing."""
    result, current = {}, None
    for line in listing.splitlines():
        label = re.match(r"^[0-9a-f]+ <(.+)>:$", line)
        if label:
            current = result.setdefault(label.group(1), [])
        elif current is not None and line.strip():
            current.append(line.strip())
    return result


class InspectionTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dll = pe.load(DLL32)

    def test_is_a_32_bit_intel_dll(self):
        self.assertEqual(self.dll.magic, pe.PE32_MAGIC)
        self.assertEqual(self.dll.machine, pe.IMAGE_FILE_MACHINE_I386)
        self.assertTrue(self.dll.characteristics & pe.IMAGE_FILE_DLL)

    def test_exports_exactly_the_filter_functions_at_their_ordinals(self):
        exports = {ordinal: name for ordinal, (name, _) in self.dll.exports().items()}
        self.assertEqual(exports, EXPECTED_EXPORTS)

    def test_imports_only_system_dlls(self):
        dlls = {i.dll.lower() for i in self.dll.imports()}
        self.assertLessEqual(dlls, SYSTEM_DLLS)

    def test_imports_the_common_controls_by_ordinal(self):
        comctl32 = [(i.name, i.ordinal) for i in self.dll.imports() if i.dll.lower() == "comctl32.dll"]
        self.assertEqual(sorted(comctl32), [(None, ordinal) for ordinal in sorted(COMCTL32_ORDINALS)])

    def test_no_x87_instructions(self):
        listing = disassembly()
        found = [line.strip() for line in listing.splitlines() if X87.search(line + " ")]
        self.assertEqual(found, [])
        self.assertIn("sqrtsd", listing)

    def test_aligned_stack_accesses_only_in_realigned_frames(self):
        # A 32-bit host calls the exports (and the DLL calls nothing of its
        # own with more) on a stack aligned to 4 bytes only.
        unsafe = []
        for name, lines in functions(disassembly()).items():
            if any(REALIGNS_STACK.search(line) for line in lines):
                continue
            unsafe += [f"{name}: {line}" for line in lines if ALIGNED_STACK_ACCESS.search(line)]
        self.assertEqual(unsafe, [])


if __name__ == "__main__":
    unittest.main()
