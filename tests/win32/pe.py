"""A small reader of PE files: headers, sections, exports, imports, base
relocations, resources and dialog templates.

Enough to inspect the plug-in DLL and to map it for execution; it trusts the
file only as far as the checks below go.
"""
import struct
from dataclasses import dataclass, field

IMAGE_FILE_MACHINE_I386 = 0x14C
IMAGE_FILE_MACHINE_AMD64 = 0x8664
IMAGE_FILE_DLL = 0x2000
PE32_MAGIC = 0x10B
IMAGE_SCN_MEM_EXECUTE = 0x20000000
IMAGE_SCN_MEM_READ = 0x40000000
IMAGE_SCN_MEM_WRITE = 0x80000000
IMAGE_DIRECTORY_ENTRY_BASERELOC = 5
IMAGE_REL_BASED_ABSOLUTE = 0  # padding that ends a block
IMAGE_REL_BASED_HIGHLOW = 3  # a 32-bit address


@dataclass
class Section:
    name: str
    virtual_address: int
    virtual_size: int
    raw_offset: int
    raw_size: int
    characteristics: int


@dataclass
class Import:
    dll: str
    name: str | None  # None when imported by ordinal
    ordinal: int | None
    iat_rva: int  # where the loader puts the function's address


@dataclass
class PeFile:
    data: bytes
    machine: int
    characteristics: int
    magic: int
    image_base: int
    entry_rva: int
    size_of_image: int
    size_of_headers: int
    directories: list
    sections: list = field(default_factory=list)

    def section_of(self, rva):
        for s in self.sections:
            if s.virtual_address <= rva < s.virtual_address + max(s.virtual_size, s.raw_size):
                return s
        return None

    def read(self, rva, size):
        if rva < self.size_of_headers:
            return self.data[rva:rva + size]
        s = self.section_of(rva)
        if s is None:
            raise ValueError(f"RVA {rva:#x} lies in no section")
        offset = rva - s.virtual_address
        chunk = self.data[s.raw_offset + offset:s.raw_offset + min(s.raw_size, offset + size)]
        return chunk + b"\0" * (size - len(chunk))

    def u16(self, rva):
        return struct.unpack("<H", self.read(rva, 2))[0]

    def u32(self, rva):
        return struct.unpack("<I", self.read(rva, 4))[0]

    def cstring(self, rva):
        out = bytearray()
        while True:
            b = self.read(rva + len(out), 1)
            if b == b"\0":
                return out.decode("ascii")
            out += b

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def exports(self):
        """{ordinal: (name or None, rva)}"""
        rva, size = self.directory(0)
        if rva == 0:
            return {}
        base = self.u32(rva + 16)
        count = self.u32(rva + 20)
        names = self.u32(rva + 24)
        functions = self.u32(rva + 28)
        name_table = self.u32(rva + 32)
        ordinal_table = self.u32(rva + 36)
        named = {}
        for i in range(names):
            named[self.u16(ordinal_table + 2 * i)] = self.cstring(self.u32(name_table + 4 * i))
        result = {}
        for i in range(count):
            target = self.u32(functions + 4 * i)
            if target:
                result[base + i] = (named.get(i), target)
        return result

    def imports(self):
        rva, _ = self.directory(1)
        result = []
        if rva == 0:
            return result
        entry_size = 4 if self.magic == PE32_MAGIC else 8
        ordinal_flag = 1 << (8 * entry_size - 1)
        while True:
            lookup, _, _, name_rva, iat = struct.unpack("<IIIII", self.read(rva, 20))
            if name_rva == 0:
                return result
            dll = self.cstring(name_rva)
            thunk = lookup or iat
            i = 0
            while True:
                raw = self.read(thunk + entry_size * i, entry_size)
                value = int.from_bytes(raw, "little")
                if value == 0:
                    break
                if value & ordinal_flag:
                    result.append(Import(dll, None, value & 0xFFFF, iat + entry_size * i))
                else:
                    result.append(Import(dll, self.cstring(value + 2), None, iat + entry_size * i))
                i += 1
            rva += 20

    def relocations(self):
        """[(type, rva)]: every place the loader adjusts when the image is not
        mapped at its image base, padding entries included."""
        rva, size = self.directory(IMAGE_DIRECTORY_ENTRY_BASERELOC)
        result = []
        end = rva + size
        while rva < end:
            page, block_size = struct.unpack("<II", self.read(rva, 8))
            if block_size < 8 or block_size % 2:
                raise ValueError(f"relocation block at {rva:#x} has size {block_size}")
            for i in range((block_size - 8) // 2):
                entry = self.u16(rva + 8 + 2 * i)
                result.append((entry >> 12, page + (entry & 0xFFF)))
            rva += block_size
        return result


    def resources(self):
        """{(type, name, language): bytes}; type and name are an int or a str."""
        root, _ = self.directory(2)
        result = {}
        if root == 0:
            return result
        for type_id, names in self._resource_entries(root, 0):
            for name, languages in self._resource_entries(root, names):
                for language, leaf in self._resource_entries(root, languages):
                    data_rva, size = struct.unpack("<II", self.read(root + leaf, 8))
                    result[(type_id, name, language)] = self.read(data_rva, size)
        return result

    def _resource_entries(self, root, offset):
        """(id or name, offset of what the entry points to) of one resource
        directory; offsets count from the resource section's start."""
        named, numbered = struct.unpack("<HH", self.read(root + offset + 12, 4))
        for i in range(named + numbered):
            name, target = struct.unpack("<II", self.read(root + offset + 16 + 8 * i, 8))
            if name & 0x80000000:
                at = root + (name & 0x7FFFFFFF)
                length = self.u16(at)
                name = self.read(at + 2, 2 * length).decode("utf-16-le")
            yield name, target & 0x7FFFFFFF


@dataclass
class DialogControl:
    style: int
    ex_style: int
    x: int
    y: int
    cx: int
    cy: int
    id: int
    class_name: int | str  # an int is an atom of a predefined class
    text: int | str
    creation_data: bytes


@dataclass
class DialogTemplate:
    style: int
    ex_style: int
    x: int
    y: int
    cx: int
    cy: int
    menu: int | str
    class_name: int | str
    caption: str
    point_size: int | None
    font: str | None
    controls: list
    size: int  # bytes the template takes up, its last control included


DS_SETFONT = 0x40


def dialog_template(data):
    """Parses a DLGTEMPLATE (the classic form, not DLGTEMPLATEEX)."""
    at = 0

    def take(fmt):
        nonlocal at
        values = struct.unpack_from(fmt, data, at)
        at += struct.calcsize(fmt)
        return values

    def string():
        nonlocal at
        end = at
        while data[end:end + 2] != b"\0\0":
            if end + 2 > len(data):
                raise ValueError("unterminated string in the dialog template")
            end += 2
        text = data[at:end].decode("utf-16-le")
        at = end + 2
        return text

    def name_or_ordinal():
        if data[at:at + 2] == b"\xff\xff":
            return take("<HH")[1]
        return string()

    style, ex_style, count, x, y, cx, cy = take("<IIHhhhh")
    if style & 0xFFFF0000 == 0xFFFF0000:
        raise ValueError("an extended dialog template")
    menu = name_or_ordinal()
    class_name = name_or_ordinal()
    caption = string()
    point_size = font = None
    if style & DS_SETFONT:
        point_size, = take("<H")
        font = string()
    controls = []
    for _ in range(count):
        at = (at + 3) & ~3
        c_style, c_ex_style, c_x, c_y, c_cx, c_cy, c_id = take("<IIhhhhH")
        c_class = name_or_ordinal()
        c_text = name_or_ordinal()
        extra, = take("<H")
        controls.append(DialogControl(c_style, c_ex_style, c_x, c_y, c_cx, c_cy, c_id, c_class, c_text,
                                      data[at:at + extra]))
        at += extra
    if at > len(data):
        raise ValueError("the dialog template runs past its resource")
    return DialogTemplate(style, ex_style, x, y, cx, cy, menu, class_name, caption, point_size, font, controls, at)


def parse(data):
    if data[:2] != b"MZ":
        raise ValueError("no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    machine, nsections, _, _, _, optional_size, characteristics = struct.unpack_from("<HHIIIHH", data, pe + 4)
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    entry_rva = struct.unpack_from("<I", data, opt + 16)[0]
    if magic == PE32_MAGIC:
        image_base = struct.unpack_from("<I", data, opt + 28)[0]
        dir_offset = opt + 96
    else:
        image_base = struct.unpack_from("<Q", data, opt + 24)[0]
        dir_offset = opt + 112
    size_of_image, size_of_headers = struct.unpack_from("<II", data, opt + 56)
    ndirs = struct.unpack_from("<I", data, dir_offset - 4)[0]
    directories = [struct.unpack_from("<II", data, dir_offset + 8 * i) for i in range(min(ndirs, 16))]
    result = PeFile(data, machine, characteristics, magic, image_base, entry_rva, size_of_image, size_of_headers,
                    directories)
    sect = opt + optional_size
    for i in range(nsections):
        name, vsize, vaddr, rsize, roff, _, _, _, _, chars = struct.unpack_from("<8sIIIIIIHHI", data, sect + 40 * i)
        result.sections.append(Section(name.rstrip(b"\0").decode("ascii", "replace"), vaddr, vsize, roff, rsize, chars))
    return result


def load(path):
    with open(path, "rb") as f:
        return parse(f.read())
