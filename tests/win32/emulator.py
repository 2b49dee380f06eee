"""An emulated 32-bit x86 CPU that loads a DLL and calls it as a 32-bit
Windows program does.

The loader maps the headers and sections at a chosen base (relocating them
when that is not the file's image base), binds every import to a host
function written in Python, and sets each section's protection. Host functions
live in a page of stubs: each stub is one return instruction (`ret` for cdecl,
`ret 4*n` for stdcall) with a code hook on it that does the work before the
return runs, so the callee removes exactly what its convention says. Only the
stub page is hooked; the DLL's own code runs without any per-instruction hook.

Every host function also does what a real callee may do and the DLL must
survive: it overwrites its argument slots, ECX, EDX and XMM0 to XMM7. And it
checks that each call site, reached along the same chain of callers, calls it
with the same stack pointer every time: when caller and callee disagree on who
removes the arguments, the stack pointer drifts by their size from one call to
the next, even where a frame pointer would hide the damage at the caller's
return. (The DLL neither recurses nor allocates on the stack in loops, which
would also move it.) The chain is read off the stack as the words that point
into the DLL's code; a function called from two places thus has two entries.
"""
import struct
from dataclasses import dataclass
from typing import Callable, Optional

from unicorn import (UC_ARCH_X86, UC_HOOK_CODE, UC_HOOK_MEM_INVALID, UC_MODE_32, UC_PROT_ALL, UC_PROT_EXEC,
                     UC_PROT_NONE, UC_PROT_READ, UC_PROT_WRITE, Uc, UcError)
from unicorn import unicorn_const, x86_const as x86

from tests.win32 import pe

PAGE = 0x1000
STACK_BASE = 0x00100000
STACK_SIZE = 0x00100000
STUB_BASE = 0x7FFE0000
STUB_SIZE = 0x10000
STUB_SLOT = 16  # bytes per host function
CALL_TIMEOUT_US = 30_000_000  # a call that runs longer than this is stuck

CDECL = "cdecl"  # the caller removes the arguments
STDCALL = "stdcall"  # the callee removes them (Win32 functions, DllMain)

DLL_PROCESS_ATTACH = 1
EFLAGS_DF = 1 << 10
# Values the caller leaves in the registers a callee must preserve, and what a
# host function leaves in those it may change.
CALLEE_SAVED = {x86.UC_X86_REG_EBX: 0x0B0B0B0B, x86.UC_X86_REG_ESI: 0x51515151, x86.UC_X86_REG_EDI: 0xD1D1D1D1,
                x86.UC_X86_REG_EBP: 0xB9B9B9B9}
CLOBBERED = (x86.UC_X86_REG_ECX, x86.UC_X86_REG_EDX)
XMM = tuple(getattr(x86, f"UC_X86_REG_XMM{i}") for i in range(8))
GARBAGE32 = 0xBAADF00D
GARBAGE128 = 0x7FF4DEADBEEFCAFE_FFF0BAD0BAD0BAD0  # a NaN in the low double, noise above
MEMORY_ACCESS = {value: name[len("UC_MEM_"):].lower().replace("_", " ")
                 for name, value in vars(unicorn_const).items() if name.startswith("UC_MEM_")}


class EmulationError(AssertionError):
    """The DLL broke the calling contract or faulted; fails the test."""


class LoadError(Exception):
    """The DLL cannot be loaded as it is."""


@dataclass
class HostFunction:
    name: str
    convention: str
    nargs: int
    handler: Optional[Callable]  # handler(*args) -> int; None: must never be called


def import_label(imp):
    return f"{imp.dll}!{imp.name}" if imp.name is not None else f"{imp.dll}#{imp.ordinal}"


def import_key(imp):
    """How host functions are looked up: (dll in lower case, name or ordinal)."""
    return imp.dll.lower(), imp.name if imp.name is not None else imp.ordinal


def resolve_imports(imports, known, may_stay_uncalled):
    """Pairs each import with its host function. An import that no host
    function answers gets a trap that fails the call by name, if
    may_stay_uncalled(key) allows it; otherwise it is listed in the second
    result, and the DLL is not loaded."""
    bound, unknown = [], []
    for imp in imports:
        key = import_key(imp)
        function = known.get(key)
        if function is None and may_stay_uncalled(key):
            function = HostFunction(import_label(imp), STDCALL, 0, None)
        if function is None:
            unknown.append(import_label(imp))
        else:
            bound.append((imp, function))
    return bound, unknown


def _round_up(value, unit):
    return (value + unit - 1) // unit * unit


def _section_protection(section):
    flags = section.characteristics
    prot = UC_PROT_NONE
    if flags & pe.IMAGE_SCN_MEM_READ:
        prot |= UC_PROT_READ
    if flags & pe.IMAGE_SCN_MEM_WRITE:
        prot |= UC_PROT_WRITE
    if flags & pe.IMAGE_SCN_MEM_EXECUTE:
        prot |= UC_PROT_EXEC
    return prot


class Machine:
    """One DLL in one emulated 32-bit address space."""

    def __init__(self, path, functions, may_stay_uncalled, base=None):
        self.image = pe.load(path)
        if self.image.magic != pe.PE32_MAGIC or self.image.machine != pe.IMAGE_FILE_MACHINE_I386:
            raise LoadError(f"{path} is no 32-bit x86 image")
        self.base = self.image.image_base if base is None else base
        self.uc = Uc(UC_ARCH_X86, UC_MODE_32)
        self._stubs = {}  # address -> HostFunction
        self._last_fault = ""
        self._last_host_call = None
        self._call_site_sp = {}  # (return address, callers) -> ESP at the host function's entry
        self.uc.mem_map(STACK_BASE, STACK_SIZE, UC_PROT_READ | UC_PROT_WRITE)
        self.uc.mem_map(STUB_BASE, STUB_SIZE, UC_PROT_READ | UC_PROT_EXEC)
        self.return_trap = self._add_stub(b"\xF4", None)  # hlt: never executed, emulation stops there
        self.uc.hook_add(UC_HOOK_CODE, self._on_stub, begin=STUB_BASE, end=STUB_BASE + STUB_SIZE - 1)
        self.uc.hook_add(UC_HOOK_MEM_INVALID, self._on_fault)
        self._map_image()
        self._relocate()
        self._bind_imports(functions, may_stay_uncalled)
        self._protect_sections()
        self._code_ranges = [(self.base + s.virtual_address, self.base + s.virtual_address + s.virtual_size)
                             for s in self.image.sections if s.characteristics & pe.IMAGE_SCN_MEM_EXECUTE]

    # --- memory -----------------------------------------------------------

    def read(self, address, size):
        return bytes(self.uc.mem_read(address, size))

    def write(self, address, data):
        self.uc.mem_write(address, bytes(data))

    def u32(self, address):
        return struct.unpack("<I", self.read(address, 4))[0]

    def put_u32(self, address, value):
        self.write(address, struct.pack("<I", value & 0xFFFFFFFF))

    def cstring(self, address, limit=4096):
        out = bytearray()
        while len(out) < limit:
            b = self.read(address + len(out), 1)
            if b == b"\0":
                return bytes(out)
            out += b
        raise EmulationError(f"no NUL within {limit} bytes at {address:#x}")

    def writable_sections(self):
        """[(address, size)] of the module's writable sections, as mapped."""
        return [(self.base + s.virtual_address, _round_up(max(s.virtual_size, s.raw_size), PAGE))
                for s in self.image.sections if s.characteristics & pe.IMAGE_SCN_MEM_WRITE]

    # --- loading ----------------------------------------------------------

    def _map_image(self):
        size = _round_up(self.image.size_of_image, PAGE)
        self.uc.mem_map(self.base, size, UC_PROT_ALL)
        self.write(self.base, self.image.data[:self.image.size_of_headers])
        for s in self.image.sections:
            raw = self.image.data[s.raw_offset:s.raw_offset + min(s.raw_size, s.virtual_size or s.raw_size)]
            self.write(self.base + s.virtual_address, raw)

    def _relocate(self):
        delta = (self.base - self.image.image_base) & 0xFFFFFFFF
        if delta == 0:
            return
        for kind, rva in self.image.relocations():
            if kind == pe.IMAGE_REL_BASED_ABSOLUTE:
                continue
            if kind != pe.IMAGE_REL_BASED_HIGHLOW:
                raise LoadError(f"relocation of type {kind} at {rva:#x}")
            self.put_u32(self.base + rva, self.u32(self.base + rva) + delta)

    def _bind_imports(self, functions, may_stay_uncalled):
        bound, unknown = resolve_imports(self.image.imports(), functions, may_stay_uncalled)
        if unknown:
            raise LoadError("imports that no host function answers: " + ", ".join(unknown))
        for imp, function in bound:
            self.put_u32(self.base + imp.iat_rva, self.add_host_function(function))

    def _protect_sections(self):
        self.uc.mem_protect(self.base, _round_up(self.image.size_of_headers, PAGE), UC_PROT_READ)
        for s in self.image.sections:
            size = _round_up(max(s.virtual_size, s.raw_size), PAGE)
            self.uc.mem_protect(self.base + s.virtual_address, size, _section_protection(s))

    def add_host_function(self, function):
        """Places a stub for function and returns its address."""
        if function.convention == STDCALL and function.nargs:
            code = b"\xC2" + struct.pack("<H", 4 * function.nargs)  # ret 4*n
        else:
            code = b"\xC3"  # ret
        return self._add_stub(code, function)

    def _add_stub(self, code, function):
        address = STUB_BASE + STUB_SLOT * len(self._stubs)
        if address + STUB_SLOT > STUB_BASE + STUB_SIZE:
            raise LoadError("too many host functions")
        self.uc.mem_write(address, code)
        self._stubs[address] = function
        return address

    def export(self, ordinal):
        exports = self.image.exports()
        if ordinal not in exports:
            raise LoadError(f"no export with ordinal {ordinal}")
        return self.base + exports[ordinal][1]

    # --- calls ------------------------------------------------------------

    def call(self, address, args, convention=CDECL):
        """Calls the code at address as a 32-bit program does: arguments pushed
        right to left, then the return address. Checks on return that the
        callee removed what its convention says and kept the registers it must
        keep. Returns EAX."""
        uc = self.uc
        top = STACK_BASE + STACK_SIZE - 0x100
        sp = top - 4 * len(args)
        self.write(sp, struct.pack(f"<{len(args)}I", *(a & 0xFFFFFFFF for a in args)))
        sp -= 4
        self.put_u32(sp, self.return_trap)
        uc.reg_write(x86.UC_X86_REG_ESP, sp)
        uc.reg_write(x86.UC_X86_REG_EFLAGS, 0x202)
        for reg, value in CALLEE_SAVED.items():
            uc.reg_write(reg, value)
        for reg in (x86.UC_X86_REG_EAX,) + CLOBBERED:
            uc.reg_write(reg, GARBAGE32)
        self._run(address)
        expected_sp = top - 4 * len(args) if convention == CDECL else top
        self._check_return(expected_sp, convention)
        return uc.reg_read(x86.UC_X86_REG_EAX)

    def call_entry(self, reason, instance=None):
        """DllMain(instance, reason, reserved) as the Windows loader calls it."""
        instance = self.base if instance is None else instance
        return self.call(self.base + self.image.entry_rva, [instance, reason, 0], STDCALL)

    def _run(self, address):
        self._last_fault = ""
        self._last_host_call = None
        self._call_site_sp = {}
        try:
            self.uc.emu_start(address, self.return_trap, timeout=CALL_TIMEOUT_US)
        except UcError as error:
            eip = self.uc.reg_read(x86.UC_X86_REG_EIP)
            after = f", after a call of {self._last_host_call}" if self._last_host_call else ""
            raise EmulationError(f"{error} at eip {eip:#x}{self._last_fault}{after}") from None
        eip = self.uc.reg_read(x86.UC_X86_REG_EIP)
        if eip != self.return_trap:
            raise EmulationError(f"the call did not return (stopped at {eip:#x})")

    def _check_return(self, expected_sp, convention):
        sp = self.uc.reg_read(x86.UC_X86_REG_ESP)
        if sp != expected_sp:
            raise EmulationError(f"{convention} callee left ESP at {sp:#x}, expected {expected_sp:#x} "
                                 f"({sp - expected_sp:+d} bytes)")
        for reg, value in CALLEE_SAVED.items():
            got = self.uc.reg_read(reg)
            if got != value:
                raise EmulationError(f"callee-saved register {reg} changed: expected {value:#x}, got {got:#x}")
        if self.uc.reg_read(x86.UC_X86_REG_EFLAGS) & EFLAGS_DF:
            raise EmulationError("returned with the direction flag set")

    def _on_stub(self, uc, address, size, _):
        function = self._stubs.get(address)
        if function is None:
            return
        if function.handler is None:
            raise EmulationError(f"the DLL called {function.name}, which no host function answers")
        if uc.reg_read(x86.UC_X86_REG_EFLAGS) & EFLAGS_DF:
            raise EmulationError(f"{function.name} called with the direction flag set")
        self._last_host_call = function.name
        sp = uc.reg_read(x86.UC_X86_REG_ESP)
        self._check_call_site(function, sp)
        args = struct.unpack(f"<{function.nargs}I", self.read(sp + 4, 4 * function.nargs))
        result = function.handler(*args)
        uc.reg_write(x86.UC_X86_REG_EAX, result & 0xFFFFFFFF)
        for reg in CLOBBERED:
            uc.reg_write(reg, GARBAGE32)
        for reg in XMM:
            uc.reg_write(reg, GARBAGE128)
        self.write(sp + 4, struct.pack("<I", GARBAGE32) * function.nargs)

    def _code_addresses_above(self, sp):
        """The words between sp and the caller's arguments that point into the
        DLL's code: the return addresses of the calls in progress (and perhaps
        a stray value that looks like one, which is just as stable)."""
        top = STACK_BASE + STACK_SIZE - 0x100
        words = struct.unpack(f"<{(top - sp) // 4}I", self.read(sp, top - sp))
        return tuple(w for w in words if any(start <= w < end for start, end in self._code_ranges))

    def _check_call_site(self, function, sp):
        chain = self._code_addresses_above(sp)
        return_address = chain[0] if chain else self.u32(sp)
        first = self._call_site_sp.setdefault((return_address, chain[1:]), sp)
        if first != sp:
            raise EmulationError(f"ESP drifted by {sp - first:+d} bytes between two calls of {function.name} "
                                 f"({function.convention}) from {return_address:#x}: caller and callee disagree "
                                 "on who removes the arguments")

    def _on_fault(self, uc, access, address, size, value, _):
        self._last_fault = f" ({MEMORY_ACCESS.get(access, access)}, {size} bytes at {address:#x})"
        return False


def s32(value):
    """An argument as a signed 32-bit int."""
    return value - (1 << 32) if value & 0x80000000 else value
