"""ICO fixtures made at test time with ImageMagick's convert, and broken
ones written byte by byte; shared by the host tests (branding_tests.py) and
the Wine theme that starts the built files (themes_branding.py).

GOOD_ICONS: (name, convert arguments, the images `dravik-sfx info --json`
must read back as (width, height, png)).
BROKEN_ICONS: (name, file bytes, the words the one-line error must hold).
"""
import os
import struct
import subprocess

GOOD_ICONS = [
    ("one size", ["-size", "32x32", "xc:red"], [(32, 32, False)]),
    ("four sizes", ["-size", "64x64", "gradient:blue-yellow", "-define", "icon:auto-resize=48,32,24,16"],
     [(48, 48, False), (32, 32, False), (24, 24, False), (16, 16, False)]),
    ("PNG 256", ["-size", "256x256", "gradient:green-white", "-define", "icon:auto-resize=256,32"],
     [(256, 256, True), (32, 32, False)]),
]


def icon_header(count, kind=1):
    return struct.pack("<HHH", 0, kind, count)


def icon_entry(size, at, width=32, height=32):
    return struct.pack("<BBBBHHII", width, height, 0, 0, 1, 32, size, at)


BITMAP = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 32, 0, 0, 0, 0, 0, 0) + bytes(32 * 32 * 4 + 128)

BROKEN_ICONS = [
    # name, bytes, what the error says
    ("a broken header", b"\x00\x00\x07\x00\x01\x00" + bytes(40), "not an icon file"),
    ("a PNG file, not an icon", b"\x89PNG\r\n\x1a\n" + bytes(40), "not an icon file"),
    ("a cursor", icon_header(1, kind=2) + icon_entry(len(BITMAP), 22) + BITMAP, "a cursor file"),
    ("no images", icon_header(0), "no image"),
    ("a directory cut short", icon_header(3) + icon_entry(len(BITMAP), 54), "cut short"),
    ("an image beyond the end", icon_header(1) + icon_entry(len(BITMAP) + 1, 22) + BITMAP, "outside the file"),
    ("an image that is no picture", icon_header(1) + icon_entry(64, 22) + b"\x07" * 64, "neither a PNG"),
    ("a PNG image without its header", icon_header(1) + icon_entry(16, 22) + b"\x89PNG\r\n\x1a\n" + bytes(8),
     "PNG image without its header"),
]


def make_good_icon(folder, name, arguments):
    """The fixture `name` as FOLDER/NAME.ico; its path."""
    path = os.path.join(folder, name.replace(" ", "-") + ".ico")
    if not os.path.exists(path):
        subprocess.run(["convert"] + arguments + [path], check=True)
    return path


def make_broken_icon(folder, name, data):
    path = os.path.join(folder, name.replace(" ", "-").replace(",", "") + ".ico")
    with open(path, "wb") as f:
        f.write(data)
    return path
