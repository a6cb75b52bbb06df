#!/usr/bin/env python3
"""Writes the seed corpus of `build --zip`'s fuzz target into wrap/: small
ZIP archives of each kind the reader takes (stored and deflated entries,
ZIP64 records that fit, bzip2, LZMA, XZ, Zstandard and Deflate64 entries to
re-encode, AES entries with the password "pw"), so that the fuzzer starts
from archives that get through the reader to each decoder. XZ and
Zstandard entries are put together by hand from the xz and zstd programs'
output; Deflate64 and AES come from 7z.

Run from this folder: python3 make_wrap_corpus.py (7z's seeds differ from
run to run in their times and salts; the others are the same each time)
"""
import io
import os
import struct
import subprocess
import tempfile
import zipfile
import zlib

TEXT = b"Publishers wrap what their tools write.\n" * 20 + bytes(range(256))


def python_zip(method, force_zip64=False):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", method) as z:
        z.writestr(zipfile.ZipInfo("folder/", (2024, 5, 6, 7, 8, 10)), b"")  # a fixed date: the same seeds each run
        info = zipfile.ZipInfo("folder/text.txt", (2024, 5, 6, 7, 8, 10))
        info.compress_type = method
        with z.open(info, "w", force_zip64=force_zip64) as entry:
            entry.write(TEXT)
    return buffer.getvalue()


def by_hand(method, data):
    """One entry, its data as given, with classic records."""
    name, crc = b"a.txt", zlib.crc32(TEXT)
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 63, 0, method, 0, 0x21, crc, len(data), len(TEXT), len(name), 0)
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 63, 63, 0, method, 0, 0x21, crc, len(data), len(TEXT),
                          len(name), 0, 0, 0, 0, 0, 0)
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central) + len(name), len(local) + len(name) + len(data), 0)
    return local + name + data + central + name + end


def program(*command):
    return subprocess.run(command, input=TEXT, capture_output=True, check=True).stdout


def seven_zip(*options):
    with tempfile.TemporaryDirectory() as work:
        with open(os.path.join(work, "a.txt"), "wb") as f:
            f.write(TEXT)
        subprocess.run(["7z", "a", "-tzip", "-bd", "-bso0"] + list(options) + ["x.zip", "a.txt"], cwd=work, check=True)
        return open(os.path.join(work, "x.zip"), "rb").read()


SEEDS = [
    ("stored", python_zip(zipfile.ZIP_STORED)),
    ("deflated", python_zip(zipfile.ZIP_DEFLATED)),
    ("zip64_that_fits", python_zip(zipfile.ZIP_DEFLATED, force_zip64=True)),
    ("bzip2", python_zip(zipfile.ZIP_BZIP2)),
    ("lzma", python_zip(zipfile.ZIP_LZMA)),
    ("xz", by_hand(95, program("xz", "-c"))),
    ("zstandard", by_hand(93, program("zstd", "-q", "-c"))),
    ("deflate64", seven_zip("-mm=Deflate64")),
    ("aes128_bzip2", seven_zip("-mem=AES128", "-mm=BZip2", "-ppw")),
]

os.makedirs("wrap", exist_ok=True)
for name, data in SEEDS:
    with open(os.path.join("wrap", name + ".zip"), "wb") as f:
        f.write(data)
