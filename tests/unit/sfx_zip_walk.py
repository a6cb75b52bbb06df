#!/usr/bin/env python3
"""A second reader of a self-extractor's archive, written apart from the
builder, for the builder tests.

It walks the local records forward from ArchiveOffset, as the self-extractor
does: it trusts each local header's sizes, and skips exactly 16 bytes after
the data when flag bit 3 says a data descriptor follows. Every local header
must carry the CRC-32 and sizes of its central directory entry, every
descriptor must begin with its signature and repeat them, and the walk must
land on the central directory, whose offsets must point back at the records
it walked. Then Python's zipfile must read every entry with a good CRC.

Usage: sfx_zip_walk.py FILE.exe [PASSWORD]
Prints one line per entry (method, size, name) and exits 0, or prints what
is wrong and exits 1.
"""
import struct
import sys
import zipfile

MARKER = b"KAV\x01sfx\x02"
LOCAL, CENTRAL, DESCRIPTOR, END = b"PK\x03\x04", b"PK\x01\x02", b"PK\x07\x08", b"PK\x05\x06"


def central_entries(data, end_at):
    """The central directory entries, from the end record at end_at."""
    count, size, offset = struct.unpack_from("<HII", data, end_at + 10)
    entries, at = [], offset
    for _ in range(count):
        if data[at:at + 4] != CENTRAL:
            raise ValueError("no central header at %d" % at)
        (flags, method, crc, csize, usize, nlen, xlen, clen) = struct.unpack_from("<HHxxxxIIIHHH", data, at + 8)
        local_at, = struct.unpack_from("<I", data, at + 42)
        name = data[at + 46:at + 46 + nlen]
        entries.append(dict(flags=flags, method=method, crc=crc, csize=csize, usize=usize, name=name, local_at=local_at))
        at += 46 + nlen + xlen + clen
    return offset, entries


def walk(data):
    marker_at = data.find(MARKER)
    if marker_at < 0:
        raise ValueError("no configuration record")
    archive_at, _, end_at = struct.unpack_from("<III", data, marker_at + 12)
    if data[end_at:end_at + 4] != END:
        raise ValueError("EndRecordOffset %d holds no end record" % end_at)
    directory_at, entries = central_entries(data, end_at)
    at = archive_at
    for entry in entries:
        if data[at:at + 4] != LOCAL:
            raise ValueError("no local header at %d for %r" % (at, entry["name"]))
        if entry["local_at"] != at:
            raise ValueError("%r: central offset %d, walked to %d" % (entry["name"], entry["local_at"], at))
        flags, method, crc, csize, usize, nlen, xlen = struct.unpack_from("<xxxxxxHHxxxxIIIHH", data, at)
        for field, value in (("crc", crc), ("csize", csize), ("usize", usize), ("method", method)):
            if value != entry[field]:
                raise ValueError("%r: local %s %d, central %d" % (entry["name"], field, value, entry[field]))
        at += 30 + nlen + xlen + csize
        if flags & 8:
            descriptor = data[at:at + 16]
            if descriptor[:4] != DESCRIPTOR or struct.unpack_from("<III", descriptor, 4) != (crc, csize, usize):
                raise ValueError("%r: descriptor %s does not repeat the header" % (entry["name"], descriptor.hex()))
            at += 16
        print("%d %d %s" % (method, usize, entry["name"].decode("cp437")))
    if at != directory_at:
        raise ValueError("the walk ended at %d, the central directory starts at %d" % (at, directory_at))


def main():
    path = sys.argv[1]
    try:
        with open(path, "rb") as f:
            walk(f.read())
        with zipfile.ZipFile(path) as z:
            if len(sys.argv) > 2:
                z.setpassword(sys.argv[2].encode())
            bad = z.testzip()
            if bad is not None:
                raise ValueError("zipfile: bad CRC in %r" % bad)
    except (ValueError, struct.error, zipfile.BadZipFile) as problem:
        print(problem)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
