"""The shared image cases (tests/common/image_cases.h), read from the output
of the native build's image_cases_dump, which writes them with their input and
expected images."""
import os
import struct
import subprocess
from dataclasses import dataclass

from tests.win32.paths import CASES_DUMP

CHANNELS = ("blue", "green", "red")


@dataclass
class ImageCase:
    name: str
    width: int
    height: int
    radius: int
    smooth: int
    background: int  # 0x00BBGGRR
    input: bytes  # rows top to bottom, 3 bytes a pixel: blue, green, red
    expected: bytes


class _Reader:
    def __init__(self, data):
        self.data = data
        self.offset = 0

    def take(self, size):
        if self.offset + size > len(self.data):
            raise ValueError("image case data ends early")
        chunk = self.data[self.offset:self.offset + size]
        self.offset += size
        return chunk

    def i32(self):
        return struct.unpack("<i", self.take(4))[0]

    def u32(self):
        return struct.unpack("<I", self.take(4))[0]


def parse_image_cases(data):
    reader = _Reader(data)
    cases = []
    for _ in range(reader.u32()):
        name = reader.take(reader.u32()).decode("ascii")
        width, height, radius, smooth = (reader.i32() for _ in range(4))
        background = reader.u32()
        size = reader.u32()
        cases.append(ImageCase(name, width, height, radius, smooth, background, reader.take(size), reader.take(size)))
    if reader.offset != len(data):
        raise ValueError("trailing bytes after the image cases")
    return cases


def load_image_cases():
    if not os.path.exists(CASES_DUMP):
        raise FileNotFoundError(f"{CASES_DUMP} is missing: build the native preset first (scripts/build.sh native)")
    return parse_image_cases(subprocess.run([CASES_DUMP], capture_output=True, check=True).stdout)


def first_difference(width, expected, actual):
    """"" when equal; otherwise the first difference: row, column, channel,
    expected and actual value."""
    if expected == actual:
        return ""
    if len(expected) != len(actual):
        return f"size: expected {len(expected)} bytes, got {len(actual)}"
    for i, (want, got) in enumerate(zip(expected, actual)):
        if want != got:
            pixel, channel = divmod(i, 3)
            row, column = divmod(pixel, width)
            return f"row {row}, column {column}, {CHANNELS[channel]}: expected {want}, got {got}"
