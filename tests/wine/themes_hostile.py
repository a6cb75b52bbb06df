"""Themes of archives made to hurt the stub: records that lie about their
sizes, and a deflate stream that reads megabytes and writes nothing. Each
file is a self-extractor built from a ZIP archive made here, then changed
in place where the stub CRC does not look (the archive)."""
import os
import struct
import time
import zipfile

from themes_dialog import ABORT_QUESTION, KEY_A
from wine_cases import *  # noqa: F401,F403 (the vocabulary of every theme)

LOCAL_HEADER_SIZE = 30
LOCAL_COMPRESSED_SIZE = 18  # u32 in a local header
LOCAL_NAME_LENGTH = 26      # u16; the extra field's length follows


class TimedCase(Case):
    """A case that must also end, program start and all, within_s seconds."""

    def __init__(self, *args, within_s, **options):
        super().__init__(*args, **options)
        self.within_s = within_s

    def run(self, workshop):
        started = time.monotonic()
        super().run(workshop)
        elapsed = time.monotonic() - started
        expect(elapsed < self.within_s, "the run took %.1f s, wanted under %.1f s" % (elapsed, self.within_s))


def wrapped_zip(name, write):
    """NAME.exe wrapping NAME.zip, which write(path) makes."""
    def build(w):
        archive = os.path.join(w.folder, name + ".zip")
        if name not in w.built:
            write(archive)
        return w.wrap(name, archive)
    return build


def local_records(data):
    """(offset, length of header, name and extra) of each local record, from
    the archive's first byte on, as the stub walks them."""
    at, records = record_u32(data, RECORD_ARCHIVE_OFFSET), []
    while data[at:at + 4] == b"PK\x03\x04":
        name_length, extra_length = struct.unpack_from("<HH", data, at + LOCAL_NAME_LENGTH)
        length = LOCAL_HEADER_SIZE + name_length + extra_length
        records.append((at, length))
        at += length + struct.unpack_from("<I", data, at + LOCAL_COMPRESSED_SIZE)[0]
    return records


def size_points_back(entry):
    """The entry-th local record's compressed size set to minus its own
    length: read as signed, the data skip leads back onto the record."""
    def change(data):
        at, length = local_records(data)[entry]
        struct.pack_into("<I", data, at + LOCAL_COMPRESSED_SIZE, (-length) & 0xFFFFFFFF)
    return change


def folder_then_file(path):
    with zipfile.ZipFile(path, "w") as z:
        z.writestr("d/", b"")
        z.writestr("f.txt", b"F" * 100)


def empty_fixed_blocks(count):
    """A deflate stream (RFC 1951) of `count` empty fixed blocks, the last
    final: each is BFINAL (1 bit), BTYPE 01 (2 bits, low bit first) and the
    end-of-block code 256 (seven 0 bits), 10 bits that write nothing."""
    stream = bytearray((count * 10 + 7) // 8)
    for n in range(count):
        bit = n * 10
        if n == count - 1:
            stream[bit // 8] |= 1 << (bit % 8)
        stream[(bit + 1) // 8] |= 1 << ((bit + 1) % 8)
    return bytes(stream)


def one_deflated_entry(name, stream, crc, size):
    """A writer of an archive of one entry whose deflate data is `stream`
    as given (zipfile would compress it again), laid out by hand: local
    header, name, data; central header, name; end record."""
    def write(path):
        encoded = name.encode()
        fields = (20, 0, 8, 0x6000, 0x52CF, crc, len(stream), size, len(encoded))  # version .. name length
        local = struct.pack("<4sHHHHHIIIHH", b"PK\x03\x04", *fields, 0) + encoded + stream
        central = struct.pack("<4sH", b"PK\x01\x02", 20) + struct.pack("<HHHHHIIIHH", *fields, 0)
        central += struct.pack("<HHHII", 0, 0, 0, 0, 0) + encoded
        end = struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, 1, 1, len(central), len(local), 0)
        with open(path, "wb") as f:
            f.write(local + central + end)
    return write


NO_OUTPUT_STREAM_BYTES = 4 << 20  # some 3.4 million blocks: a minute's decoding and more


def theme_hostile_archives():
    """A folder or file entry whose compressed size, read as signed, is
    minus its own record's length ends the run at once with the damaged-
    archive box, nothing made for the file; and a key pressed while a stream
    of empty blocks decodes to nothing asks the abort question at once."""
    def lying(name, entry):
        return lambda w: w.changed(wrapped_zip(name + "-zip", folder_then_file)(w), name, size_points_back(entry))
    def unzip_into(folder, *rest):
        return lambda w: ["--type", str(FOLDER_ID), windows_path(os.path.join(w.folder, folder)),
                          "--click", "Unzip"] + list(rest)
    def nothing_made_for_the_file(folder):
        def check(w):
            path = os.path.join(w.folder, folder, "f.txt")
            expect(not os.path.exists(path), "%s was made" % path)
        return check
    damaged = Box(ZIP_DAMAGED, icon="error", owner="yes")
    no_output = wrapped_zip("nooutput", one_deflated_entry(
        "nothing.bin", empty_fixed_blocks(NO_OUTPUT_STREAM_BYTES * 8 // 10), 0, 0))
    return [
        TimedCase("folder entry's size points back at its own record", lying("folderback", 0),
                  [MainDialog(), damaged], EXIT_ERROR_BOX, actions=unzip_into("folderback", "--click", "OK"),
                  within_s=5),
        TimedCase("file entry's size points back at its own record", lying("fileback", 1),
                  [MainDialog(), damaged], EXIT_ERROR_BOX, actions=unzip_into("fileback", "--click", "OK"),
                  after=nothing_made_for_the_file("fileback"), within_s=5),
        TimedCase("a key during a stream that writes nothing: the abort question at once", no_output,
                  [MainDialog(), Box(ABORT_QUESTION, icon="question", buttons=["Yes", "No"], owner="yes")],
                  EXIT_DECLINED, actions=unzip_into("nooutput", "--then-key", KEY_A, "--click", "Yes"),
                  within_s=5),
    ]
