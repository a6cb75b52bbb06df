#!/usr/bin/env python3
"""Writes the seed corpora of the engine, `info` and `build --zip` fuzz
targets: small archives made by Info-ZIP zip, 7-Zip and Python's zipfile
(into build_zip/), and self-extractors built from them and from files by
dravik-sfx itself (into engine/), so that the fuzzers start from real files
of every kind the engine meets: stored, deflated, encrypted, folder entries,
data descriptors, extra fields, a repeated name, code page 932 names whose
trail byte is 0x5C, a start-up question, and both stub CRC ranges.

A self-extractor is compacted before it is written: the stub's code and data
are dropped, and only what the engine reads of the image stays: the image
headers up to the end of the section table (e_lfanew, the entry point, the
optional header's magic), then the configuration record, then the payload
(ConfigBlock and archive). The record's offsets and the archive's own
offsets are moved with the payload, the section table is rewritten so that
the record still lies in the raw data of one of the image's own sections
(where a host tool that reads the record as the loader maps it looks for
it) and the payload in its section, and a stub CRC, where the seed keeps
one, is computed again over the compacted stub part. A seed is then a few
KiB instead of 40, and mutations land where the engine reads. A seed meant
for code page 932 gets a padding byte so that its size is odd, which is how
the engine target chooses that code page.

Encrypted seeds differ from run to run (the encryption header is random).

usage: make_sfx_corpus.py DRAVIK_SFX   (run from this folder)
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

SFX = os.path.abspath(sys.argv[1])
HERE = os.path.dirname(os.path.abspath(__file__))
WORK = tempfile.mkdtemp(prefix="dravik-corpus-")
MARKER = b"KAV\x01sfx\x02"
CRC_AFTER_HEADERS = 0x800
ENV = dict(os.environ, TZ="UTC")


def run(*args, cwd=None):
    subprocess.run(args, check=True, cwd=cwd, env=ENV, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_tree():
    root = os.path.join(WORK, "tree")
    os.makedirs(os.path.join(root, "docs", "deep"))
    with open(os.path.join(root, "readme.txt"), "w") as f:
        f.write("Read me, then read me again.\n" * 20)
    open(os.path.join(root, "empty.dat"), "w").close()
    with open(os.path.join(root, "docs", "deep", "noise.bin"), "wb") as f:
        f.write(bytes((i * 73 + 11) % 251 for i in range(300)))
    with open(os.path.join(root, "docs", "note.txt"), "w") as f:
        f.write("a note\n")
    return root


def make_peer_zips(tree):
    """Archives written by other tools; returns {name: path}."""
    zips = {}
    zips["infozip"] = os.path.join(WORK, "infozip.zip")
    run("zip", "-q", "-r", zips["infozip"], ".", cwd=tree)
    zips["infozip_password"] = os.path.join(WORK, "infozip_password.zip")
    run("zip", "-q", "-r", "-P", "fuzz", zips["infozip_password"], "readme.txt", "docs", cwd=tree)
    zips["sevenzip"] = os.path.join(WORK, "sevenzip.zip")
    run("7z", "a", "-tzip", "-bd", zips["sevenzip"], "readme.txt", "docs", cwd=tree)

    # Python's zipfile: stored and deflated entries, a folder entry, a name
    # given twice (the overwrite question), and data descriptors where the
    # archive is written to a stream that cannot seek.
    zips["python"] = os.path.join(WORK, "python.zip")
    with zipfile.ZipFile(zips["python"], "w") as z:
        z.writestr(zipfile.ZipInfo("folder/", (2020, 1, 2, 3, 4, 6)), b"")
        z.writestr("folder/stored.txt", b"stored bytes\n" * 4, zipfile.ZIP_STORED)
        z.writestr("folder/deflated.txt", b"deflated words " * 40, zipfile.ZIP_DEFLATED)
        z.writestr("twice.txt", b"first", zipfile.ZIP_STORED)
        import warnings
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            z.writestr("twice.txt", b"second copy", zipfile.ZIP_DEFLATED)

    class Unseekable:
        def __init__(self, f):
            self.f = f

        def write(self, b):
            return self.f.write(b)

        def flush(self):
            self.f.flush()

    zips["python_stream"] = os.path.join(WORK, "python_stream.zip")
    with open(zips["python_stream"], "wb") as raw:
        with zipfile.ZipFile(Unseekable(raw), "w", zipfile.ZIP_DEFLATED) as z:
            with z.open("streamed.txt", "w") as member:
                member.write(b"written without knowing its size\n" * 10)
            with z.open("streamed_empty.txt", "w"):
                pass
    return zips


def build_sfx(name, *options):
    out = os.path.join(WORK, name + ".exe")
    run(SFX, "build", "-o", out, *options)
    return out


def u16(b, at):
    return struct.unpack_from("<H", b, at)[0]


def u32(b, at):
    return struct.unpack_from("<I", b, at)[0]


def headers_end(image):
    """End of the section table: all of the image headers the engine or a
    host tool reads."""
    pe = u32(image, 60)
    optional_size = u16(image, pe + 20)
    sections = u16(image, pe + 6)
    return pe + 24 + optional_size + 40 * sections


def image_header_size(image):
    pe = u32(image, 60)
    return 264 if u16(image, pe + 24) == 0x20B else 248


def move_archive_offsets(image, end_record_at, shift):
    """Moves the end record's directory offset and every central header's
    local header offset down by `shift`."""
    count = u16(image, end_record_at + 10)
    directory_at = u32(image, end_record_at + 16) - shift
    struct.pack_into("<I", image, end_record_at + 16, directory_at)
    at = directory_at
    for _ in range(count):
        assert u32(image, at) == 0x02014B50, "central header expected"
        struct.pack_into("<I", image, at + 42, u32(image, at + 42) - shift)
        at += 46 + u16(image, at + 28) + u16(image, at + 30) + u16(image, at + 32)


def drop_comment_padding(image, end_record_at):
    """The builder counts its zero padding as the archive comment; a seed
    needs none of it."""
    comment_at = end_record_at + 22
    comment = image[comment_at:comment_at + u16(image, end_record_at + 20)].rstrip(b"\0")
    struct.pack_into("<H", image, end_record_at + 20, len(comment))
    return image[:comment_at] + comment


def relocate_sections(image, old_record_at, record_at, payload_at, payload_size):
    """Rewrites the section table for the compacted image, so that a reader
    that looks for the record only in the raw data of the image's own
    sections, as the loader maps them, still finds it: the section that held
    the record now holds just the record, the payload section its new place,
    and every other section no raw data."""
    pe = u32(image, 60)
    table = pe + 24 + u16(image, pe + 20)
    for i in range(u16(image, pe + 6)):
        entry = table + 40 * i
        raw_size, raw_at = u32(image, entry + 16), u32(image, entry + 20)
        if image[entry:entry + 8] == b"_dravik_":
            raw_at, raw_size = payload_at, payload_size
        elif raw_at <= old_record_at < raw_at + raw_size:
            raw_at, raw_size = record_at, 60
        else:
            raw_at, raw_size = 0, 0
        struct.pack_into("<II", image, entry + 16, raw_size, raw_at)


def compact(path, odd_size=False):
    image = open(path, "rb").read()
    record_at = image.index(MARKER)
    record = bytearray(image[record_at:record_at + 60])
    stub_crc, archive_at, config_at, end_at = struct.unpack_from("<IIII", record, 8)
    flags = u32(record, 28)
    payload_at = config_at or archive_at
    kept_headers = image[:headers_end(image)]
    new_payload_at = len(kept_headers) + len(record)
    shift = payload_at - new_payload_at
    struct.pack_into("<III", record, 12, archive_at - shift, config_at - shift if config_at else 0,
                     end_at - shift if end_at else 0)
    out = bytearray(kept_headers + record + image[payload_at:])
    if end_at:
        move_archive_offsets(out, end_at - shift, shift)
        out = drop_comment_padding(out, end_at - shift)
    relocate_sections(out, record_at, len(kept_headers), new_payload_at, len(out) - new_payload_at)
    if stub_crc:
        stub_part = bytearray(out[:archive_at - shift])
        struct.pack_into("<I", stub_part, len(kept_headers) + 8, 0)
        start = u32(out, 60) + image_header_size(out) if flags & CRC_AFTER_HEADERS else 0
        struct.pack_into("<I", out, len(kept_headers) + 8, zlib.crc32(bytes(stub_part[start:])))
    if odd_size != (len(out) % 2 == 1):
        out += b"\0"
    return bytes(out)


def empty_name_seed(tree):
    """A finding of the engine target, kept as a seed: an entry whose local
    header names nothing. Built with a one-byte name ("E"), whose byte the
    header then counts as extra field instead (the builder refuses empty
    names; the engine reads only local headers)."""
    with open(os.path.join(tree, "E"), "w") as f:
        f.write("empty name\n")
    image = bytearray(compact(build_sfx("empty_name", "--no-stub-crc", "-C", tree, "readme.txt", "E")))
    first = image.index(b"PK\x03\x04")
    at = image.index(b"PK\x03\x04", first + 4)  # the second local header: "E"
    assert u16(image, at + 26) == 1 and image[at + 30:at + 31] == b"E"
    struct.pack_into("<HH", image, at + 26, 0, u16(image, at + 28) + 1)
    os.remove(os.path.join(tree, "E"))
    return bytes(image)


def hidden_colon_seed(japanese):
    """A finding of the engine target, kept as a seed: in code page 932, a
    name whose lead byte 0x95 is followed by a colon instead of its trail
    byte 0x5C. Only the local header is changed (the engine reads only
    those); the size stays odd, for code page 932."""
    image = bytearray(compact(build_sfx("hidden_colon", "--no-stub-crc", "--codepage", "932", "-C", japanese, "."),
                              True))
    at = image.index("表示.txt".encode("cp932"))
    image[at + 1] = ord(":")
    return bytes(image)


def write_seed(folder, name, data):
    os.makedirs(os.path.join(HERE, folder), exist_ok=True)
    with open(os.path.join(HERE, folder, name), "wb") as f:
        f.write(data)


def main():
    tree = make_tree()
    zips = make_peer_zips(tree)
    for name, path in zips.items():
        write_seed("build_zip", name + ".zip", open(path, "rb").read())

    japanese = os.path.join(WORK, "japanese")
    os.makedirs(os.path.join(japanese, "ソフト"))  # U+30BD: 0x83 0x5C in code page 932
    with open(os.path.join(japanese, "ソフト", "表示.txt"), "w") as f:  # U+8868: 0x95 0x5C
        f.write("hyouji\n" * 8)

    seeds = [
        # (seed name, builder options, odd size for code page 932)
        ("files", ["--no-stub-crc", "-C", tree, "."], False),
        ("files_stored", ["--no-stub-crc", "--level", "0", "-C", tree, "."], False),
        ("files_password", ["--no-stub-crc", "--password", "fuzz", "-C", tree, "."], False),
        ("files_crc_after_headers", ["-C", tree, "readme.txt", "docs"], False),
        ("files_crc_from_start", ["--crc-from-start", "-C", tree, "readme.txt"], False),
        ("files_x64", ["--no-stub-crc", "--arch", "x64", "-C", tree, "docs"], False),
        ("questions", ["--no-stub-crc", "--prompt", "Go on?", "--prompt-buttons", "okcancel", "--caption",
                       "Fuzz", "--caption-title", "--auto", "--overwrite", "--folder", "C:\\elsewhere",
                       "-C", tree, "readme.txt"], False),
        ("codepage_932", ["--no-stub-crc", "--codepage", "932", "-C", japanese, "."], True),
    ]
    seeds += [("zip_" + name, ["--no-stub-crc", "--zip", path], False) for name, path in zips.items()]
    for name, options, odd in seeds:
        write_seed("engine", name + ".exe", compact(build_sfx(name, *options), odd))
    write_seed("engine", "regression_empty_name.exe", empty_name_seed(tree))
    write_seed("engine", "regression_hidden_colon_932.exe", hidden_colon_seed(japanese))
    shutil.rmtree(WORK)


main()
