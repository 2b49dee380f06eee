"""A 32-bit host for the plug-in DLL under emulation: the Win32 services it
imports, answered in Python, and the row callbacks of one image.

Every service checks what the DLL hands it and records what it did, so the
tests can compare a run with the host contract: blocks of movable memory
(handle and pointer kept apart, zero-filled, guarded), settings files on disk
in one test folder, message boxes, focus, sent messages and row calls.
"""
import os
import struct
from dataclasses import dataclass, field

from tests.win32.emulator import CDECL, DLL_PROCESS_ATTACH, STDCALL, HostFunction, Machine, s32
from tests.win32.paths import DLL32

GMEM_MOVEABLE = 0x0002
GMEM_ZEROINIT = 0x0040
HFILE_ERROR = 0xFFFFFFFF
IDOK = 1
WM_USER = 0x400

HEAP_BASE = 0x10000000
HEAP_END = 0x60000000
BLOCK_LIMIT = 64 << 20  # larger requests fail, as they may on Windows
HANDLE_BASE = 0x00A00004  # movable-memory handles: never valid pointers here
CANARY = 0xFD  # fills the bytes around a block; the DLL must not write them
UNINITIALISED = 0xCD  # what a block holds when zero-filling was not asked for
HOST_MEMORY = 0x00300000  # the host's own data: area, callback locations, strings
HOST_MEMORY_SIZE = 0x10000
FOCUS_WINDOW = 0x00010AB0
NOTIFY_WINDOW = 0x00020CD0
PAGE = 0x1000

# Imports of the options dialog. The filter run never calls them, so they may
# be bound to traps that fail only when called; any other import needs a host
# function below.
DIALOG_DLLS = {"gdi32.dll", "comdlg32.dll", "comctl32.dll"}
DIALOG_USER32 = {"DialogBoxParamA", "EndDialog", "GetDlgItem", "GetDlgItemInt", "IsDlgButtonChecked",
                 "CheckDlgButton", "GetDC", "ReleaseDC", "GetClientRect", "FillRect"}


def is_dialog_import(key):
    dll, name = key
    return dll in DIALOG_DLLS or (dll == "user32.dll" and name in DIALOG_USER32)


@dataclass
class Block:
    handle: int
    pointer: int
    size: int  # bytes asked for
    flags: int
    mapped: tuple  # (address, size) of its pages
    locks: int = 0
    freed: bool = False

    def holds(self, address, size):
        return self.pointer <= address and address + size <= self.pointer + self.size


@dataclass
class Image:
    width: int
    height: int
    pixels: bytearray  # rows top to bottom, 3 bytes a pixel: blue, green, red

    def row(self, y):
        return self.pixels[3 * self.width * y:3 * self.width * (y + 1)]


@dataclass
class Sent:
    window: int
    message: int
    wparam: int
    lparam: int
    live_blocks: int  # blocks not yet released when the message was sent
    open_files: int


@dataclass
class MessageBox:
    owner: int
    text: bytes
    caption: bytes
    style: int


@dataclass
class Records:
    """What the DLL did during one call."""
    alloc_requests: list = field(default_factory=list)  # (flags, bytes), refused ones included
    blocks: list = field(default_factory=list)  # every Block handed out
    opens: list = field(default_factory=list)  # (path, mode) of _lopen
    creates: list = field(default_factory=list)  # (path, attribute) of _lcreat
    message_boxes: list = field(default_factory=list)
    sent: list = field(default_factory=list)
    row_calls: list = field(default_factory=list)  # ("read" or "write", row)
    violations: list = field(default_factory=list)  # every call outside the contract


class Win32Host:
    def __init__(self, folder):
        self.folder = os.path.realpath(folder)
        self.machine = None
        self.records = Records()
        self.fail_allocation = 0  # the nth GlobalAlloc from now (1 = next) fails
        self.fail_lock = False  # GlobalLock returns null
        self.image = Image(0, 0, bytearray())
        self._blocks = {}  # handle -> Block, live ones
        self._files = {}  # HFILE -> open file
        self._next_handle = HANDLE_BASE
        self._next_file = 3
        self._heap_cursor = HEAP_BASE

    def reset_records(self):
        self.records = Records()

    def violation(self, note):
        self.records.violations.append(note)

    def live_blocks(self):
        return len(self._blocks)

    def open_files(self):
        return len(self._files)

    def imports(self):
        """Host functions by (dll, name) for the DLL's imports."""
        k32, u32, crt = "kernel32.dll", "user32.dll", "msvcrt.dll"
        table = [
            (k32, "GlobalAlloc", STDCALL, 2, self.global_alloc),
            (k32, "GlobalLock", STDCALL, 1, self.global_lock),
            (k32, "GlobalUnlock", STDCALL, 1, self.global_unlock),
            (k32, "GlobalHandle", STDCALL, 1, self.global_handle),
            (k32, "GlobalFree", STDCALL, 1, self.global_free),
            (k32, "_lopen", STDCALL, 2, self.lopen),
            (k32, "_lcreat", STDCALL, 2, self.lcreat),
            (k32, "_lread", STDCALL, 3, self.lread),
            (k32, "_lwrite", STDCALL, 3, self.lwrite),
            (k32, "_lclose", STDCALL, 1, self.lclose),
            (u32, "MessageBoxA", STDCALL, 4, self.message_box),
            (u32, "GetFocus", STDCALL, 0, lambda: FOCUS_WINDOW),
            (u32, "SendMessageA", STDCALL, 4, self.send_message),
            (crt, "memcpy", CDECL, 3, self.memmove),
            (crt, "memmove", CDECL, 3, self.memmove),
            (crt, "memset", CDECL, 3, self.memset),
            (crt, "memcmp", CDECL, 3, self.memcmp),
            (crt, "strlen", CDECL, 1, lambda s: len(self.machine.cstring(s))),
        ]
        return {(dll, name): HostFunction(f"{dll}!{name}", conv, nargs, handler)
                for dll, name, conv, nargs, handler in table}

    # --- movable global memory ------------------------------------------

    def global_alloc(self, flags, size):
        self.records.alloc_requests.append((flags, size))
        self.fail_allocation -= 1
        if self.fail_allocation == 0 or size > BLOCK_LIMIT:
            return 0
        if not flags & GMEM_MOVEABLE:
            self.violation(f"GlobalAlloc flags {flags:#x}: fixed memory, but the block is released by handle")
        block = self._map_block(flags, size)
        self._blocks[block.handle] = block
        self.records.blocks.append(block)
        return block.handle

    def _map_block(self, flags, size):
        # The block ends on a page boundary (rounded to 8 bytes), so a read
        # past it faults; the bytes before it are a canary checked on release.
        padded = (size + 7) // 8 * 8
        mapped_size = (padded + PAGE - 1) // PAGE * PAGE or PAGE
        address = self._heap_cursor
        if address + mapped_size > HEAP_END:
            raise AssertionError("emulated heap exhausted")
        self._heap_cursor += mapped_size + PAGE  # an unmapped page between blocks
        m = self.machine
        m.uc.mem_map(address, mapped_size)
        pointer = address + mapped_size - padded
        fill = 0 if flags & GMEM_ZEROINIT else UNINITIALISED
        m.write(address, bytes([CANARY]) * (pointer - address) + bytes([fill]) * size +
                bytes([CANARY]) * (padded - size))
        handle = self._next_handle
        self._next_handle += 8
        return Block(handle, pointer, size, flags, (address, mapped_size))

    def _live(self, handle, what):
        block = self._blocks.get(handle)
        if block is None:
            self.violation(f"{what}({handle:#x}): no live block has this handle")
        return block

    def global_lock(self, handle):
        block = self._live(handle, "GlobalLock")
        if block is None or self.fail_lock:
            return 0
        block.locks += 1
        return block.pointer

    def global_unlock(self, handle):
        block = self._live(handle, "GlobalUnlock")
        if block is None:
            return 0
        if block.locks == 0:
            self.violation(f"GlobalUnlock({handle:#x}) on a block that is not locked")
            return 0
        block.locks -= 1
        return block.locks

    def global_handle(self, pointer):
        for block in self._blocks.values():
            if block.pointer == pointer:
                return block.handle
        self.violation(f"GlobalHandle({pointer:#x}): no live block starts there")
        return 0

    def global_free(self, handle):
        block = self._live(handle, "GlobalFree")
        if block is None:
            return handle
        if block.locks:
            self.violation(f"GlobalFree({handle:#x}) on a block still locked {block.locks} time(s)")
        address, mapped_size = block.mapped
        padded = (block.size + 7) // 8 * 8
        m = self.machine
        before = m.read(address, block.pointer - address)
        after = m.read(block.pointer + block.size, padded - block.size)
        if before.strip(bytes([CANARY])) or after.strip(bytes([CANARY])):
            self.violation(f"bytes around block {handle:#x} were written")
        m.uc.mem_unmap(address, mapped_size)  # a later use of the pointer faults
        block.freed = True
        del self._blocks[handle]
        return 0

    def block_holding(self, address, size):
        for block in self._blocks.values():
            if block.locks and block.holds(address, size):
                return block
        return None

    # --- settings files ---------------------------------------------------

    def _path(self, pointer, what):
        path = self.machine.cstring(pointer)
        real = os.path.realpath(path.decode("latin-1"))
        if os.path.dirname(real) != self.folder:
            self.violation(f"{what}({path!r}): outside the test folder {self.folder}")
            return path, None
        return path, real

    def _add_file(self, file):
        handle = self._next_file
        self._next_file += 1
        self._files[handle] = file
        return handle

    def lopen(self, pointer, mode):
        path, real = self._path(pointer, "_lopen")
        self.records.opens.append((path, mode))
        if real is None or mode & 3 not in (0, 1, 2):
            return HFILE_ERROR
        try:
            return self._add_file(open(real, ("rb", "r+b", "r+b")[mode & 3]))
        except OSError:
            return HFILE_ERROR

    def lcreat(self, pointer, attribute):
        path, real = self._path(pointer, "_lcreat")
        self.records.creates.append((path, attribute))
        if real is None:
            return HFILE_ERROR
        try:
            return self._add_file(open(real, "w+b"))
        except OSError:
            return HFILE_ERROR

    def _file(self, handle, what):
        file = self._files.get(s32(handle))
        if file is None:
            self.violation(f"{what}({s32(handle)}): no open file has this handle")
        return file

    def lread(self, handle, buffer, count):
        file = self._file(handle, "_lread")
        if file is None:
            return HFILE_ERROR
        data = file.read(count)
        self.machine.write(buffer, data)
        return len(data)

    def lwrite(self, handle, buffer, count):
        file = self._file(handle, "_lwrite")
        if file is None:
            return HFILE_ERROR
        return file.write(self.machine.read(buffer, count))

    def lclose(self, handle):
        file = self._file(handle, "_lclose")
        if file is None:
            return HFILE_ERROR
        file.close()
        del self._files[s32(handle)]
        return 0

    # --- windowing --------------------------------------------------------

    def message_box(self, owner, text, caption, style):
        m = self.machine
        self.records.message_boxes.append(MessageBox(owner, m.cstring(text), m.cstring(caption), style))
        return IDOK

    def send_message(self, window, message, wparam, lparam):
        self.records.sent.append(Sent(window, message, wparam, lparam, self.live_blocks(), self.open_files()))
        return 0

    # --- C runtime --------------------------------------------------------

    def memmove(self, target, source, count):
        self.machine.write(target, self.machine.read(source, count))
        return target

    def memset(self, target, value, count):
        self.machine.write(target, bytes([value & 0xFF]) * count)
        return target

    def memcmp(self, a, b, count):
        x, y = self.machine.read(a, count), self.machine.read(b, count)
        return 0 if x == y else (-1 if x < y else 1)

    # --- the row callbacks ----------------------------------------------

    def _row_call_fits(self, what, row, first, last, buffer, reserved):
        image = self.image
        note = ""
        if not 0 <= row < image.height:
            note = f"row outside 0..{image.height - 1}"
        elif first != 0 or last != image.width - 1:
            note = f"columns {first}..{last}, expected 0..{image.width - 1}"
        elif reserved != -1:
            note = "fifth argument is not -1"
        elif self.block_holding(buffer, 3 * image.width) is None:
            note = "buffer not inside a locked live block"
        if note:
            self.violation(f"{what}(row {row}, first {first}, last {last}, buffer {buffer:#x}, "
                           f"reserved {reserved}) on {image.width} x {image.height}: {note}")
        return not note

    def read_row(self, row, first, last, buffer, reserved):
        row, first, last, reserved = s32(row), s32(first), s32(last), s32(reserved)
        self.records.row_calls.append(("read", row))
        if self._row_call_fits("reader", row, first, last, buffer, reserved):
            self.machine.write(buffer, self.image.row(row))
        return 1

    def write_row(self, row, first, last, buffer, reserved):
        row, first, last, reserved = s32(row), s32(first), s32(last), s32(reserved)
        self.records.row_calls.append(("write", row))
        if self._row_call_fits("writer", row, first, last, buffer, reserved):
            size = 3 * self.image.width
            self.image.pixels[size * row:size * (row + 1)] = self.machine.read(buffer, size)
        return 1


# Where the host keeps what it lends FilterProc and FilterGetTitle.
AREA = HOST_MEMORY
WRITER_LOCATION = HOST_MEMORY + 0x10
READER_LOCATION = HOST_MEMORY + 0x14
TITLE = HOST_MEMORY + 0x20
FIRST = HOST_MEMORY + 0x40
SECOND = HOST_MEMORY + 0x44
DIRECTORY = HOST_MEMORY + 0x100


class Plugin:
    """The shipped DLL, loaded by a 32-bit host and, unless asked not to,
    attached as the Windows loader does it."""

    def __init__(self, folder, base=None, attach=True, path=DLL32):
        self.host = Win32Host(folder)
        self.machine = Machine(path, self.host.imports(), is_dialog_import, base)
        self.host.machine = self.machine
        m = self.machine
        m.uc.mem_map(HOST_MEMORY, HOST_MEMORY_SIZE)
        reader = m.add_host_function(HostFunction("RowReader", CDECL, 5, self.host.read_row))
        writer = m.add_host_function(HostFunction("RowWriter", CDECL, 5, self.host.write_row))
        m.put_u32(READER_LOCATION, reader)
        m.put_u32(WRITER_LOCATION, writer)
        self.attach_result = m.call_entry(DLL_PROCESS_ATTACH) if attach else None

    def get_title(self, title_fill=0x7F):
        """FilterGetTitle(0, title, &first, &second): (result, 8 title bytes,
        first, second)."""
        m = self.machine
        m.write(TITLE, bytes([title_fill]) * 8)
        m.put_u32(FIRST, 0)
        m.put_u32(SECOND, 0)
        result = m.call(m.export(1), [0, TITLE, FIRST, SECOND])
        return s32(result), m.read(TITLE, 8), s32(m.u32(FIRST)), s32(m.u32(SECOND))

    def filter_proc(self, image, directory, area=None, notify=NOTIFY_WINDOW):
        """FilterProc(notify, &area, &writer, &reader, directory) over image,
        with the area as the image's size unless given. Records start afresh."""
        m = self.machine
        self.host.reset_records()
        self.host.image = image
        width, height = area if area is not None else (image.width, image.height)
        m.write(AREA, struct.pack("<ii", width, height))
        m.write(DIRECTORY, directory + b"\0")
        result = m.call(m.export(2), [notify, AREA, WRITER_LOCATION, READER_LOCATION, DIRECTORY])
        return s32(result)
