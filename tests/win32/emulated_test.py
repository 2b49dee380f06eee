"""The shipped 32-bit DLL, executed under CPU emulation by a 32-bit host.

The checks that matter here are the ones the x86-64 twin under wine64 cannot
make: C calling convention of the exports and the row callbacks, stdcall of
the Win32 imports, registers a callee keeps, structure layouts and sizes in a
32-bit address space, and the filter arithmetic as 32-bit code computes it.
"""
import os
import shutil
import struct
import tempfile
import unittest

from tests.win32 import emulator, host32
from tests.win32.emulator import CDECL, STDCALL, EmulationError, HostFunction
from tests.win32.host32 import FOCUS_WINDOW, NOTIFY_WINDOW, Image, Plugin, Sent
from tests.win32.image_cases import first_difference, load_image_cases
from tests.win32.pe import Import

SETTINGS_FILE_NAME = b"veZezezIvovo.dat"
OF_READ_SHARE_DENY_WRITE = 0x20
MOVABLE_ZEROED = host32.GMEM_MOVEABLE | host32.GMEM_ZEROINIT
DEFAULT_SETTINGS = struct.pack("<iiI16I", 20, 1, 0x00FFFFFF, *[0x00808080] * 16)
MESSAGE_TEXT = "フィルタを適用する範囲が小さすぎます。\nまたは、半径が大きすぎます。".encode("cp932")
MESSAGE_CAPTION = "エラー".encode("cp932")
OTHER_BASE = 0x00A00000  # not the DLL's image base: the loader relocates


def settings_bytes(radius, smooth, background, custom=None):
    custom = custom if custom is not None else [0x00010101 * i for i in range(16)]
    return struct.pack("<iiI16I", radius, smooth, background, *custom)


def black_image(width, height):
    return Image(width, height, bytearray(3 * width * height))


class EmulatedTestCase(unittest.TestCase):
    """A fresh settings folder and a freshly loaded DLL for each test."""

    base = None

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="roundcorner-emu-")
        self.addCleanup(shutil.rmtree, self.folder)
        self.dir = os.path.join(self.folder, "").encode()
        self.plugin = Plugin(self.folder, base=self.base)
        self.host = self.plugin.host

    def write_settings(self, data):
        with open(os.path.join(self.folder, SETTINGS_FILE_NAME.decode()), "wb") as f:
            f.write(data)

    def remove_settings(self):
        os.remove(os.path.join(self.folder, SETTINGS_FILE_NAME.decode()))

    def run_filter(self, image, area=None):
        return self.plugin.filter_proc(image, self.dir, area)

    def assert_settings_file_read_once(self):
        records = self.host.records
        self.assertEqual(records.opens, [(self.dir + SETTINGS_FILE_NAME, OF_READ_SHARE_DENY_WRITE)])
        self.assertEqual(self.host.open_files(), 0, "settings file left open")

    def assert_no_violations(self):
        self.assertEqual(self.host.records.violations, [])

    def assert_failed_quietly(self, result):
        """Result 0, no message, no notification, no row touched, every
        block given back."""
        records = self.host.records
        self.assertEqual(result, 0)
        self.assertEqual(records.message_boxes, [])
        self.assertEqual(records.sent, [])
        self.assertEqual(records.row_calls, [])
        self.assertEqual(self.host.live_blocks(), 0)
        self.assert_no_violations()


class ImageCasesTest(EmulatedTestCase):
    """The table every build runs, byte for byte, on the 32-bit code."""

    @classmethod
    def setUpClass(cls):
        cls.cases = load_image_cases()

    def test_every_case_matches_its_expected_image(self):
        self.assertTrue(self.cases)
        for case in self.cases:
            with self.subTest(case.name):
                self.check_case(case)

    def check_case(self, case):
        self.write_settings(settings_bytes(case.radius, case.smooth, case.background))
        image = Image(case.width, case.height, bytearray(case.input))
        self.assertEqual(self.run_filter(image), 1)
        self.assertEqual(first_difference(case.width, case.expected, bytes(image.pixels)), "")
        self.assert_no_violations()
        self.assertEqual(self.host.records.sent, [Sent(NOTIFY_WINDOW, host32.WM_USER, 0, 0, 0, 0)],
                         "one WM_USER, sent after every block was released and the file closed")
        self.assert_blocks_of_a_run(case)
        self.assert_settings_file_read_once()

    def assert_blocks_of_a_run(self, case):
        blocks = self.host.records.blocks
        self.assertTrue(all(b.freed for b in blocks), "a block was not released")
        self.assertTrue(all(b.flags == MOVABLE_ZEROED for b in blocks))
        # The row buffer, then (with smoothing) the smoothing window.
        sizes = [3 * case.width + 100, 3 * (case.radius + 2) * (case.width + 2) + 100]
        self.assertEqual([b.size for b in blocks], sizes[:len(blocks)])
        if case.smooth:
            self.assertIn(len(blocks), (1, 2))
        else:
            self.assertEqual(len(blocks), 1)


class RelocatedImageCasesTest(ImageCasesTest):
    """The same table with the DLL mapped away from its image base, so every
    absolute address in it goes through the base relocations."""

    base = OTHER_BASE

    def test_the_dll_really_moved(self):
        self.assertNotEqual(self.plugin.machine.image.image_base, OTHER_BASE)
        self.assertTrue(self.plugin.machine.image.relocations())


class EntryPointTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="roundcorner-emu-")
        self.addCleanup(shutil.rmtree, self.folder)

    def snapshot(self, machine):
        return {address: machine.read(address, size) for address, size in machine.writable_sections()}

    def changed_words(self, machine, before):
        """{address: new value} of the 4-byte words of the writable sections
        that changed since before."""
        changed = {}
        for address, old in before.items():
            new = machine.read(address, len(old))
            for offset in range(0, len(old), 4):
                if new[offset:offset + 4] != old[offset:offset + 4]:
                    changed[address + offset] = struct.unpack_from("<I", new, offset)[0]
        return changed

    def test_dllmain_stores_the_module_handle_for_every_reason_and_nothing_else(self):
        for base in (None, OTHER_BASE):
            plugin = Plugin(self.folder, base=base, attach=False)
            machine = plugin.machine
            before = self.snapshot(machine)
            # As the Windows loader calls it: stdcall, the module's base as handle.
            self.assertEqual(machine.call_entry(emulator.DLL_PROCESS_ATTACH), 1)
            changed = self.changed_words(machine, before)
            self.assertEqual(list(changed.values()), [machine.base], "DllMain wrote something else too")
            (instance_location,) = changed
            for reason in (0, 1, 2, 3):  # detach, attach, thread attach, thread detach
                with self.subTest(base=base, reason=reason):
                    before = self.snapshot(machine)
                    handle = 0x5A000000 + reason * 0x10000
                    self.assertEqual(machine.call_entry(reason, handle), 1)
                    self.assertEqual(self.changed_words(machine, before), {instance_location: handle})


class TitleTest(EmulatedTestCase):
    def test_title_bytes_and_values(self):
        result, title, first, second = self.plugin.get_title()
        self.assertEqual(result, 1)
        self.assertEqual(title, "丸角".encode("cp932") + b"\0" + b"\x7F" * 3)
        self.assertEqual((first, second), (1, 10))


class FilterProcTest(EmulatedTestCase):
    def test_a_radius_larger_than_the_area_is_refused_with_the_message(self):
        rows = [  # width, height, radius from the file, result
            (20, 30, 20, 1), (30, 20, 20, 1), (20, 20, 20, 1),
            (19, 30, 20, 0), (30, 19, 20, 0), (0, 0, 20, 0),
        ]
        for width, height, radius, expected in rows:
            with self.subTest(width=width, height=height, radius=radius):
                self.write_settings(settings_bytes(radius, 1, 0))
                image = black_image(width, height)
                self.assertEqual(self.run_filter(image), expected)
                records = self.host.records
                self.assert_settings_file_read_once()
                self.assert_no_violations()
                if expected == 1:
                    self.assertEqual(records.message_boxes, [])
                    continue
                self.assertEqual(records.message_boxes,
                                 [host32.MessageBox(FOCUS_WINDOW, MESSAGE_TEXT, MESSAGE_CAPTION, 0)])
                self.assertEqual(records.sent, [])
                self.assertEqual(records.alloc_requests, [])
                self.assertEqual(records.row_calls, [])
                self.assertEqual(image.pixels, black_image(width, height).pixels)

    def test_a_row_buffer_not_had_fails_the_run_quietly(self):
        rows = [  # note, width, fail allocation, fail lock, expected GlobalAlloc requests
            ("allocation fails", 40, 1, False, [(MOVABLE_ZEROED, 220)]),
            ("lock fails", 40, 0, True, [(MOVABLE_ZEROED, 220)]),
            # 3 * width + 100 fits 32 bits but no address space holds it.
            ("size beyond what the host has", 0x50000000, 0, False, [(MOVABLE_ZEROED, 0xF0000064)]),
            # 3 * width + 100 does not fit 32 bits: no request at all.
            ("size beyond 32 bits", 0x7FFFFFF0, 0, False, []),
        ]
        for note, width, fail_allocation, fail_lock, requests in rows:
            with self.subTest(note):
                self.write_settings(settings_bytes(2, 0, 0))
                self.host.fail_allocation = fail_allocation
                self.host.fail_lock = fail_lock
                result = self.run_filter(black_image(1, 1), area=(width, 10))
                self.host.fail_lock = False
                self.assert_failed_quietly(result)
                self.assertEqual(self.host.records.alloc_requests, requests)
                self.assert_settings_file_read_once()

    def find_settings_record(self, expected):
        """The address of the one copy of expected in the module's writable
        memory, or None."""
        machine = self.plugin.machine
        found = []
        for address, size in machine.writable_sections():
            data = machine.read(address, size)
            offset = data.find(expected)
            while offset >= 0:
                found.append(address + offset)
                offset = data.find(expected, offset + 1)
        self.assertLessEqual(len(found), 1)
        return found[0] if found else None

    def test_settings_come_from_the_file_or_the_defaults(self):
        custom = [(0x00102030 + 0x00010101 * i) & 0x00FFFFFF for i in range(16)]
        full = settings_bytes(5, 0, 0x00123456, custom)
        steps = [  # note, file content (None: no file), record expected in memory, corner pixel b, g, r
            ("no file: the defaults", None, DEFAULT_SETTINGS, b"\xFF\xFF\xFF"),
            ("a whole file", full, full, b"\x12\x34\x56"),
            # A short file replaces only the leading fields.
            ("a 12-byte file", settings_bytes(6, 0, 0x00ABCDEF)[:12],
             settings_bytes(6, 0, 0x00ABCDEF)[:12] + full[12:], b"\xAB\xCD\xEF"),
            ("the file removed: the defaults again", None, DEFAULT_SETTINGS, b"\xFF\xFF\xFF"),
        ]
        locations = set()
        for note, content, record, corner in steps:
            with self.subTest(note):
                if content is None:
                    if os.path.exists(os.path.join(self.folder, SETTINGS_FILE_NAME.decode())):
                        self.remove_settings()
                else:
                    self.write_settings(content)
                image = black_image(60, 60)
                self.assertEqual(self.run_filter(image), 1)
                location = self.find_settings_record(record)
                self.assertIsNotNone(location, "the settings record is not in the module's memory")
                locations.add(location)
                self.assertEqual(bytes(image.pixels[:3]), corner)
                self.assertEqual(bytes(image.pixels[-3:]), corner)
                self.assertEqual(self.host.records.opens, [(self.dir + SETTINGS_FILE_NAME, OF_READ_SHARE_DENY_WRITE)])
                self.assertEqual(self.host.open_files(), 0)
        self.assertEqual(len(locations), 1, "the record moved")


class HarnessTest(unittest.TestCase):
    """The emulated host itself: it must notice what it is there to notice."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="roundcorner-emu-")
        self.addCleanup(shutil.rmtree, self.folder)
        self.machine = Plugin(self.folder).machine

    def test_a_callee_that_removes_its_arguments_is_not_cdecl(self):
        pops = self.machine.add_host_function(HostFunction("pops", STDCALL, 2, lambda a, b: 0))
        self.assertEqual(self.machine.call(pops, [1, 2], STDCALL), 0)
        with self.assertRaisesRegex(EmulationError, "ESP"):
            self.machine.call(pops, [1, 2], CDECL)

    def test_a_caller_that_leaves_cdecl_arguments_on_the_stack_in_a_loop_is_noticed(self):
        # Three calls of a cdecl host function with two arguments from one
        # call site, the arguments removed after each call or, wrongly, all
        # at once after the loop (which a frame pointer would hide as well).
        # Each caller has its own address: the emulator keeps code it has
        # translated once.
        code_base = 0x00500000
        self.machine.uc.mem_map(code_base, emulator.PAGE)
        callee = self.machine.add_host_function(HostFunction("callee", CDECL, 2, lambda a, b: 0))

        def caller(start, cleanup_in_loop, cleanup_after):
            head = b"\x53\xBB\x03\x00\x00\x00"  # push ebx; mov ebx, 3
            loop = b"\x6A\x00\x6A\x00\xE8"  # push 0; push 0; call callee
            call_end = start + len(head) + len(loop) + 4
            loop += struct.pack("<i", callee - call_end) + cleanup_in_loop + b"\x4B"  # dec ebx
            loop += b"\x75" + bytes([(-(len(loop) + 2)) & 0xFF])  # jnz back to the first push
            return head + loop + cleanup_after + b"\x5B\xC3"  # pop ebx; ret

        rows = [  # note, where, code, whether the drift is seen
            ("removed after each call", code_base, b"\x83\xC4\x08", b"", False),  # add esp, 8
            ("removed after the loop", code_base + 0x100, b"", b"\x83\xC4\x18", True),  # add esp, 24
        ]
        for note, start, cleanup_in_loop, cleanup_after, drifts in rows:
            with self.subTest(note):
                self.machine.write(start, caller(start, cleanup_in_loop, cleanup_after))
                if drifts:
                    with self.assertRaisesRegex(EmulationError, "ESP drifted by -8 bytes"):
                        self.machine.call(start, [])
                else:
                    self.assertEqual(self.machine.call(start, []), 0)

    def test_an_import_of_the_dialog_traps_only_when_called_others_refuse_the_load(self):
        imports = [Import("GDI32.dll", "CreateSolidBrush", None, 0), Import("COMCTL32.dll", None, 17, 0),
                   Import("USER32.dll", "EndDialog", None, 0), Import("USER32.dll", "SetWindowTextA", None, 0),
                   Import("KERNEL32.dll", "CreateFileA", None, 0), Import("KERNEL32.dll", "GlobalLock", None, 0)]
        host = host32.Win32Host(self.folder)
        bound, unknown = emulator.resolve_imports(imports, host.imports(), host32.is_dialog_import)
        self.assertEqual(unknown, ["USER32.dll!SetWindowTextA", "KERNEL32.dll!CreateFileA"])
        traps = [f.name for _, f in bound if f.handler is None]
        self.assertEqual(traps, ["GDI32.dll!CreateSolidBrush", "COMCTL32.dll#17", "USER32.dll!EndDialog"])
        trap = self.machine.add_host_function(bound[0][1])
        with self.assertRaisesRegex(EmulationError, "GDI32.dll!CreateSolidBrush"):
            self.machine.call(trap, [])


if __name__ == "__main__":
    unittest.main()
