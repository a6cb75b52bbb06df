"""Themes of spanned disk sets: the self-extractor started from drive A:,
each disk a folder with its volume label, swapped at each disk prompt.

Drive A: is defined through Wine's mount manager by insert_disk.exe (beside
the robot): on the host before a run for disk 1, and by the robot's --run at
each prompt for the disk the case puts in. Wine keeps a drive's label once
read, so only such a redefinition is seen as a disk swap. Every case takes
drive A: away again when it ends, whatever happened.

A set is built by dravik-sfx into its own folder (set.exe beside disk1/,
disk2/, ...), and each disk folder gets its .windows-label. Before a case
runs, its layout is worked out from the built volumes by reading them as the
self-extractor does (walk_set) and the case asserts the layout it is about:
a record that starts a volume, a chunk that meets a volume's end after some
bytes or exactly at a chunk boundary, an entry skipped across volumes, an
encryption header split between disks. The same reading tells which disks
the run asks for: up to the one where the central directory starts.

The themes: both kinds of set (".ZIP" volumes, and ".EXE" volumes with the
first part inside the self-extractor) in every layout; their disk prompts
answered every way; an archive split by Info-ZIP's zip -s laid out as a
set; an encrypted set; and "Run Dravik" for a set.
"""
import os
import random
import re
import shutil
import struct
import subprocess
import time

from wine_cases import *  # noqa: F401,F403 (the vocabulary of every theme)

INSERT_DISK = os.path.join(os.path.dirname(ROBOT), "insert_disk.exe")
DRIVE = "A:"
SET_PROGRAM = DRIVE + "\\set.exe"

# Texts of the stub's message table (stub/container/message_texts.inc).
INSERT_DISK_TEXT = "Please insert disk %d in drive %s."
BAD_LABEL_TEXT = "The disk in the drive appears to be\nmissing or has an incorrect label.\nInsert disk number %d."
OVERWRITE_TEXT = "File %s already exists.  Overwrite file?"
READ_ERROR_TEXT = "Error reading %s.  Possible cause: bad disk or file transfer error."

# The unit the layouts below are counted in: volume ends at or between
# multiples of 2,048 bytes of an entry's data. (The stub reads 64 KiB at a
# time; a volume end anywhere in the data must be crossed the same way.)
CHUNK_SIZE = 2048
LOCAL_SIG, CENTRAL_SIG, SPANNING_SIG = b"PK\x03\x04", b"PK\x01\x02", b"PK\x07\x08"
LOCAL_HEADER_SIZE = 26  # after the signature
DESCRIPTOR_SIZE = 16
ENCRYPTION_HEADER_SIZE = 12


def put_in_drive(folder):
    """Drive A: shows folder as a removable disk (None: takes drive A: away)."""
    wine_run(INSERT_DISK, DRIVE, *([folder] if folder else []))


# ---- source trees -----------------------------------------------------------------

def make_spanned_tree(root, random_size=92000):
    """Files whose data runs across several volumes: incompressible random
    data (its deflated size is about its size), a compressible pattern,
    small texts before and after, an empty file and a folder."""
    write_tree(root, {
        "data/empty.dat": b"",
        "data/pattern.bin": bytes((i * 7919) % 251 for i in range(30000)),
        "data/random.bin": random_bytes(random_size, 7),
        "first.txt": b"The first file of the set.\r\n" * 12,
        "last.txt": b"The last file of the set.\r\n" * 9,
    })


def make_small_files_tree(root):
    """Random data, then many small files: there most of the archive is
    headers, so a volume's end falls on a record and the builder starts the
    next volume with that record's local header. The random data first puts
    the small files on later volumes of either kind of set."""
    files = {"a/random.bin": random_bytes(36000, 11)}
    files.update({"batch/f%03d.txt" % n: (b"line %03d\n" % n) * (n % 9 + 1) for n in range(150)})
    write_tree(root, files)


def write_tree(root, files):
    for name, data in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


# ---- a built set, and its layout read as the stub reads it ---------------------------

class DiskSet:
    """A spanned set built with dravik-sfx into FOLDER: set.exe, and disk1/,
    disk2/, ... each with its volume file and its .windows-label."""

    def __init__(self, folder, source, options, exe_volumes, least_disks=2):
        self.folder, self.source, self.exe_volumes = folder, source, exe_volumes
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        self.exe = os.path.join(folder, "set.exe")
        build_sfx(self.exe, options)
        self.disks = 0
        while os.path.isdir(self.disk(self.disks + 1)):
            self.disks += 1
            with open(os.path.join(self.disk(self.disks), ".windows-label"), "w") as f:
                f.write("PKBACK# %03d\n" % self.disks)
        expect(self.disks >= least_disks, "the set has %d disks, wanted %d or more" % (self.disks, least_disks))

    def disk(self, number):
        return os.path.join(self.folder, "disk%d" % number)

    def volume_path(self, number):
        name = "set.exe" if number == 1 and self.exe_volumes else "set.EXE" if self.exe_volumes else "set.ZIP"
        return os.path.join(self.disk(number), name)

    def volumes(self):
        """The archive's bytes on each disk, in order: on disk 1 of an
        ".EXE" set, the self-extractor from its archive offset on."""
        result = []
        for number in range(1, self.disks + 1):
            data = open(self.volume_path(number), "rb").read()
            if number == 1 and self.exe_volumes:
                data = data[record_u32(data, RECORD_ARCHIVE_OFFSET):]
            result.append(data)
        return result

    def copy_disk(self, number, name, label=True, cut_to=None):
        """A copy of disk NUMBER as the folder NAME: without its label, or
        with its volume file cut to cut_to bytes."""
        copy = os.path.join(self.folder, name)
        shutil.rmtree(copy, ignore_errors=True)
        shutil.copytree(self.disk(number), copy)
        if not label:
            os.remove(os.path.join(copy, ".windows-label"))
        if cut_to is not None:
            volume = os.path.join(copy, os.path.basename(self.volume_path(number)))
            with open(volume, "r+b") as f:
                f.truncate(cut_to)
        return copy


class Layout:
    """What reading a set forward meets. events: (kind, disk, entry name)
    with kind "header starts volume" (a local header read after a disk
    change), "chunk cut by volume end" (a chunk read that got some bytes
    before the volume ended), "chunk ends volume" (a volume that ended
    exactly at a chunk boundary: the next read got nothing), "skip runs on"
    (a skipped entry whose data continues on the next disk), "encryption
    header cut by volume end" (an entry's 12-byte encryption header split
    between two disks), "skip starts at volume end" (a skipped entry whose
    data all lies on the next disk); disk is the disk that ended, or for a header the
    disk it starts."""

    def __init__(self):
        self.events = []
        self.last_disk = 1  # the disk on which the walk ends

    def has(self, kind, entry=None):
        return any(k == kind and (entry is None or e == entry) for k, _, e in self.events)

    def where(self, kind, entry=None):
        return [d for k, d, e in self.events if k == kind and (entry is None or e == entry)]


def walk_set(volumes, skipped=()):
    """Reads the volumes as the self-extractor does: records whole, a short
    record read taken again from the next volume's start; entry data in
    chunks of at most CHUNK_SIZE bytes that may run on; the entries named in
    skipped passed over a volume at a time. The Layout it met."""
    layout = Layout()
    at = {"disk": 0, "pos": 0}

    def left():
        return len(volumes[at["disk"]]) - at["pos"]

    def next_disk():
        at["disk"] += 1
        at["pos"] = 0
        expect(at["disk"] < len(volumes), "the set runs past its last disk")

    def take(count):
        data = volumes[at["disk"]][at["pos"]:at["pos"] + count]
        at["pos"] += len(data)
        return data

    def read_record(count):
        if left() >= count:
            return take(count), False
        next_disk()
        data = take(count)
        expect(len(data) == count, "a record cut short on disk %d" % (at["disk"] + 1))
        return data, True

    def read_data(name, remaining):
        while remaining > 0:
            wanted = min(remaining, CHUNK_SIZE)
            got = len(take(wanted))
            if got < wanted:
                ended = at["disk"] + 1
                layout.events.append(("chunk cut by volume end" if got else "chunk ends volume", ended, name))
                next_disk()
                if got == 0:
                    got = len(take(wanted))
            remaining -= got

    def read_encryption_header(name):
        """The first 12 bytes of an encrypted entry's data, read in one go;
        a volume end inside them continues on the next disk."""
        got = len(take(ENCRYPTION_HEADER_SIZE))
        if got < ENCRYPTION_HEADER_SIZE:
            if got:
                layout.events.append(("encryption header cut by volume end", at["disk"] + 1, name))
            next_disk()
            take(ENCRYPTION_HEADER_SIZE - got)

    def skip_data(name, remaining):
        if remaining > 0 and left() == 0:
            layout.events.append(("skip starts at volume end", at["disk"] + 1, name))
        while remaining > 0:
            step = min(left(), remaining)
            at["pos"] += step
            if step < remaining:
                layout.events.append(("skip runs on", at["disk"] + 1, name))
                next_disk()
                if step == 0:
                    step = min(left(), remaining)
                    at["pos"] += step
            remaining -= step

    while True:
        signature, moved = read_record(4)
        if signature == SPANNING_SIG:
            continue
        if signature == CENTRAL_SIG:  # the walk ends at the central directory
            layout.last_disk = at["disk"] + 1
            return layout
        expect(signature == LOCAL_SIG, "an unknown record %r on disk %d" % (signature, at["disk"] + 1))
        header, split = read_record(LOCAL_HEADER_SIZE)
        expect(not split, "a local header split from its signature")
        flags, size, name_length, extra_length = (struct.unpack_from("<H", header, 2)[0],
                                                  struct.unpack_from("<i", header, 14)[0],
                                                  *struct.unpack_from("<HH", header, 22))
        name = take(name_length).decode("cp1252")
        at["pos"] += extra_length
        if moved:
            layout.events.append(("header starts volume", at["disk"] + 1, name))
        if not name.endswith("/"):
            if name in skipped:
                skip_data(name, size)
            else:
                if flags & 0x1:
                    read_encryption_header(name)
                    size -= ENCRYPTION_HEADER_SIZE
                read_data(name, size)
        if flags & 0x8:
            at["pos"] += DESCRIPTOR_SIZE


# ---- the windows of a spanned run ----------------------------------------------------

class Step:
    """One window the run must show (anything with check(window): a Box, the
    MainDialog) and the robot's answer to it: preparations, the disk to put
    in the drive (a folder name of the set, or None), then the button to
    press. when: a text the window shows, so that the main dialog of an
    unattended run, which may show first, is passed over; back: the window
    is one already seen, enabled again."""

    def __init__(self, expected, when, insert=None, button="OK", preparations=(), back=False):
        self.expected, self.when, self.insert, self.button = expected, when, insert, button
        self.preparations, self.back = list(preparations), back

    def actions(self, disk_set):
        actions = ["--back"] if self.back else ["--when", self.when] if self.when else []
        actions += self.preparations
        if self.insert:
            actions += ["--run", "%s %s %s" % (windows_path(INSERT_DISK), DRIVE,
                                               os.path.join(disk_set.folder, self.insert))]
        return actions + ["--click", self.button]


def insert_prompt(wanted, insert, button="OK"):
    """The question for disk `wanted`, answered by putting in the folder
    `insert` (disk3, blank2, ...) and pressing button."""
    text = INSERT_DISK_TEXT % (wanted, DRIVE)
    return Step(Box(text, buttons=("OK", "Cancel"), owner="yes"), text, insert, button)


def label_prompt(wanted, insert, button):
    text = BAD_LABEL_TEXT % wanted
    return Step(Box(text, icon="question", buttons=("Abort", "Retry", "Ignore"), owner="yes"),
                "Insert disk number %d." % wanted, insert, button)


def error_step(text):
    return Step(Box(text, icon="error", owner="yes"), text.splitlines()[0])


def every_disk(disk_set, target=None, first=2):
    """Each disk from `first` on asked for in turn and put in, up to the one
    where the central directory starts: the walk ends there, so a last disk
    holding only the rest of the directory is never asked for."""
    last = walk_set(disk_set.volumes()).last_disk
    return [insert_prompt(n, "disk%d" % n) for n in range(first, last + 1)]


class SpannedCase(Case):
    """A run of a spanned set from drive A:, unattended ("/auto" into the
    target folder) unless told otherwise.

    disk_set(workshop): the DiskSet; layout(disk_set): asserts the layout the
    case is about before anything runs; steps(disk_set, target): the Steps,
    in order, target being the folder extracted to;
    prepare(workshop, target): makes what must exist in the target folder
    first, and undo(workshop) takes back whatever prepare changed outside it
    (run whatever happened); after(workshop, disk_set, target): checks what
    was extracted; while_in_drive(workshop, disk_set, target): a check made
    as soon as the program has ended, before drive A: is taken away (a
    program it started runs on there, in the folder A:\\).
    In an unattended run the main dialog shows while the boxes are up, but
    whether the robot sees it before the first box is a matter of timing: it
    is left out of the windows compared, and only the boxes are checked, in
    order."""

    def __init__(self, name, disk_set, steps, exit_code, layout=None, prepare=None, after=None, unattended=True,
                 undo=None, while_in_drive=None):
        Case.__init__(self, name, None, [], exit_code)
        self.disk_set, self.steps, self.layout, self.prepare, self.check_after = (
            disk_set, steps, layout, prepare, after)
        self.unattended, self.undo, self.while_in_drive = unattended, undo, while_in_drive

    def run(self, workshop):
        disk_set = self.disk_set(workshop)
        if self.layout:
            self.layout(disk_set)
        target = os.path.join(workshop.folder, "out", re.sub(r"[^A-Za-z0-9]+", "-", self.name).strip("-"))
        shutil.rmtree(target, ignore_errors=True)
        steps = self.steps(disk_set, target)
        actions = [action for step in steps for action in step.actions(disk_set)]
        try:
            if self.prepare:
                self.prepare(workshop, target)
            put_in_drive(disk_set.disk(1))
            args = ["/auto", windows_path(target)] if self.unattended else []
            windows, code = run(disk_set.exe, actions, args, timeout=30, program=SET_PROGRAM)
            if self.while_in_drive:
                self.while_in_drive(workshop, disk_set, target)
        finally:
            put_in_drive(None)
            if self.undo:
                self.undo(workshop)
        if self.unattended:
            windows = [w for w in windows if w.back or w.title != TITLE + " - set.exe"]
        expect(len(windows) == len(steps), "%d windows, wanted %d: %r" % (len(windows), len(steps), windows))
        for n, (window, step) in enumerate(zip(windows, steps)):
            try:
                step.expected.check(window)
            except Failure as failure:
                raise Failure("window %d: %s\n    seen: %r" % (n + 1, failure, window))
        expect(code == self.exit_code, "exit code %s, wanted %s" % (code, self.exit_code))
        if self.check_after:
            self.check_after(workshop, disk_set, target)


def extracted_all(workshop, disk_set, target):
    compare_trees(disk_set.source, target)


# ---- the sets ------------------------------------------------------------------------

def spanned_source(workshop):
    source = os.path.join(workshop.folder, "spanned-src")
    if not os.path.isdir(source):
        make_spanned_tree(source)
    return source


def exe_spanned_source(workshop):
    """The spanned tree for ".EXE" sets, whose volumes are as large as the
    self-extractor: its random data is two volumes and 8,000 bytes, so that
    the set has four disks (disk 4 with some 6,000 bytes) whatever the
    stub's size."""
    source = os.path.join(workshop.folder, "exe-spanned-src")
    if not os.path.isdir(source):
        make_spanned_tree(source, random_size=2 * exe_volume_size(workshop) + 8000)
    return source


def small_files_source(workshop):
    source = os.path.join(workshop.folder, "small-src")
    if not os.path.isdir(source):
        make_small_files_tree(source)
    return source


_sets = {}


def self_extractor_part(workshop):
    """The bytes in front of the archive in a self-extractor of this run's
    stub (image, resources, texts): what disk 1 of an ".EXE" set holds before
    its part of the archive. Measured on a build of an empty folder."""
    empty = os.path.join(workshop.folder, "empty-src")
    os.makedirs(empty, exist_ok=True)
    probe = os.path.join(workshop.folder, "probe.exe")
    build_sfx(probe, ["-C", empty, "."])
    return record_u32(open(probe, "rb").read(), RECORD_ARCHIVE_OFFSET)


def exe_volume_size(workshop):
    """A multiple of CHUNK_SIZE with 2,000 to 4,000 bytes of the archive on disk
    1 beside the self-extractor: the "cut" sets, 960 bytes smaller, still keep
    the first entries' headers on disk 1, whatever the stub's size."""
    return (self_extractor_part(workshop) + 2000 + CHUNK_SIZE - 1) // CHUNK_SIZE * CHUNK_SIZE


def built_set(workshop, name, source_of, volume_size, exe_volumes):
    """The set NAME (built once per theme run); volume_size is a number or a
    function of the workshop."""
    key = (workshop.folder, name)
    if key not in _sets:
        source = source_of(workshop)
        size = volume_size(workshop) if callable(volume_size) else volume_size
        options = ["--span", str(size)] + (["--exe-volumes"] if exe_volumes else []) + ["-C", source, "."]
        _sets[key] = DiskSet(os.path.join(workshop.folder, name), source, options, exe_volumes)
    return _sets[key]


# Volume sizes, each chosen for the layout its cases are about (asserted
# before they run, from the built volumes):
#   big data, ".ZIP": 25,576 bytes is no multiple of 2,048, so the chunks of
#     data/random.bin that reach a volume's end are cut after some bytes;
#     24,576 = 12 x 2,048, so once the entry has run on from disk 1 its
#     chunks start at offset 0 of each volume and disks 2 and 3 end exactly
#     at a chunk boundary.
#   big data, ".EXE": disk 1 is the self-extractor with 2,000 to 4,000 bytes of
#     the archive; the volumes are a multiple of 2,048 bytes (aligned) or 960
#     bytes less (cut), counted from the self-extractor's size, which differs
#     between the stubs and grows with them, and so does the random data
#     (exe_spanned_source): four disks either way.
#   small files: volume ends that fall inside the run of small files move a
#     local header to the start of the next volume. For ".EXE" volumes the
#     size follows the self-extractor's own (which differs between the stubs
#     and grows with them): disk 1 leaves 1,500 bytes of the random data
#     beside it, so that disk 2 ends inside the small files.
SETS = {
    # name: (source, volume size, ".EXE" volumes)
    "zip-cut": (spanned_source, 25576, False),
    "zip-aligned": (spanned_source, 24576, False),
    "zip-headers": (small_files_source, 9100, False),
    "exe-cut": (exe_spanned_source, lambda w: exe_volume_size(w) - 960, True),
    "exe-aligned": (exe_spanned_source, exe_volume_size, True),
    "exe-headers": (small_files_source, lambda w: self_extractor_part(w) + 1500, True),
}


def spanned_set(name):
    source, size, exe_volumes = SETS[name]
    return lambda w: built_set(w, name, source, size, exe_volumes)


def layout_has(kind, entry=None, skipped=()):
    def check(disk_set):
        layout = walk_set(disk_set.volumes(), skipped)
        expect(layout.has(kind, entry), "the set does not show %r for %s: %r" % (kind, entry, layout.events))
    return check


def overwrite_prompt(target, name, answer):
    path = windows_path(os.path.join(target, name))
    text = OVERWRITE_TEXT % path.replace("/", "\\")
    return Step(Box(text, buttons=("Yes", "No", "Cancel"), owner="yes"), "already exists", None, answer)


OLD_CONTENT = b"an older random.bin, kept when the question is answered No\r\n"


def old_file(name):
    """prepare: NAME already in the target folder, with other content."""
    return lambda workshop, target: write_tree(target, {name: OLD_CONTENT})


def kept_old_file(name):
    """after: every file but NAME extracted; NAME left as it was."""
    def check(workshop, disk_set, target):
        for folder, _, files in os.walk(disk_set.source):
            for file_name in files:
                relative = os.path.relpath(os.path.join(folder, file_name), disk_set.source)
                if relative != os.path.normpath(name):
                    compare_file(disk_set.source, target, relative)
        expect(open(os.path.join(target, name), "rb").read() == OLD_CONTENT, "%s was overwritten" % name)
    return check


def volume_kind_cases(kind):
    """The layouts of one kind of set ("zip" or "exe"), each extracted
    unattended from A: with every disk put in when asked."""
    def name(layout):
        return "%s-%s" % (kind, layout)
    def skipping(disk_set, target):
        return [overwrite_prompt(target, "data/random.bin", "No")] + every_disk(disk_set)
    return [
        SpannedCase("%s: a local header starts a volume" % kind, spanned_set(name("headers")), every_disk,
                    EXIT_NORMAL, layout=layout_has("header starts volume"), after=extracted_all),
        SpannedCase("%s: a chunk read meets the end of a volume after some bytes" % kind, spanned_set(name("cut")),
                    every_disk, EXIT_NORMAL, layout=layout_has("chunk cut by volume end", "data/random.bin"),
                    after=extracted_all),
        SpannedCase("%s: a volume ends exactly at a chunk boundary" % kind, spanned_set(name("aligned")),
                    every_disk, EXIT_NORMAL, layout=layout_has("chunk ends volume", "data/random.bin"),
                    after=extracted_all),
    ] + [
        SpannedCase("%s: an entry skipped across volumes (%s)" % (kind, layout), spanned_set(name(layout)),
                    skipping, EXIT_NORMAL, layout=layout_has("skip runs on", "data/random.bin", {"data/random.bin"}),
                    prepare=old_file("data/random.bin"), after=kept_old_file("data/random.bin"))
        for layout in ("cut", "aligned")
    ]


def theme_spanned_zip_volumes():
    """Sets of ".ZIP" volumes: every layout extracted, byte for byte and dated."""
    return volume_kind_cases("zip")


def theme_spanned_exe_volumes():
    """Sets of ".EXE" volumes, the first part inside the self-extractor."""
    return volume_kind_cases("exe")


# ---- disk prompts answered every way -------------------------------------------------

def blank_copy(disk_set, number):
    """Disk NUMBER without its label: "blankN"."""
    return os.path.basename(disk_set.copy_disk(number, "blank%d" % number, label=False))


def header_disk(disk_set):
    """The first disk after disk 1 that starts with a local header."""
    disks = [d for d in walk_set(disk_set.volumes()).where("header starts volume") if d > 1]
    expect(disks, "no disk of the set starts with a local header")
    return disks[0]


def cut_header_disk(disk_set):
    """A copy of that disk ("cutN") whose volume ends inside the first
    local header's signature: a read error on a later disk."""
    number = header_disk(disk_set)
    return number, os.path.basename(disk_set.copy_disk(number, "cut%d" % number, cut_to=2))


def last_disk_at_least(count):
    def check(disk_set):
        last = walk_set(disk_set.volumes()).last_disk
        expect(last >= count, "the walk ends on disk %d, wanted disk %d or later" % (last, count))
    return check


def wrong_disk_first(disk_set, target):
    """Disk 3 put in when disk 2 is asked for: asked for disk 2 again."""
    return [insert_prompt(2, "disk3"), insert_prompt(2, "disk2")] + every_disk(disk_set, first=3)


def unlabelled_retry(disk_set, target):
    """Retry with the unlabelled disk still in asks again; with disk 2 put in, goes on."""
    blank = blank_copy(disk_set, 2)
    return [insert_prompt(2, blank), label_prompt(2, None, "Retry"), label_prompt(2, "disk2", "Retry")] + every_disk(
        disk_set, first=3)


def unlabelled_ignore(disk_set, target):
    """Ignore takes the unlabelled disk as disk 2; the request for disk 3 then
    finds no label either, and Retry with disk 3 in goes on."""
    blank = blank_copy(disk_set, 2)
    return [insert_prompt(2, blank), label_prompt(2, None, "Ignore"), label_prompt(3, "disk3", "Retry")] + every_disk(
        disk_set, first=4)


def unlabelled_abort(disk_set, target):
    return [insert_prompt(2, blank_copy(disk_set, 2)), label_prompt(2, None, "Abort")]


def cancel_at_insert(disk_set, target):
    return [insert_prompt(2, None, "Cancel")]


def read_error_later(disk_set, target):
    """Every disk up to the cut one; reading the first signature there comes
    up short after the disk change: read error 8, naming the program's own
    path."""
    number, cut = cut_header_disk(disk_set)
    text = READ_ERROR_TEXT % SET_PROGRAM + " <8>"
    return every_disk(disk_set)[:number - 2] + [insert_prompt(number, cut), error_step(text)]


def stopped_in_random_bin(workshop, disk_set, target):
    """The entries of disk 1 extracted; data/random.bin, whose data runs on
    to disk 2, left partly written; nothing after it made."""
    for name in ("data/empty.dat", "data/pattern.bin"):
        compare_file(disk_set.source, target, name)
    written = os.path.getsize(os.path.join(target, "data", "random.bin"))
    expect(written < os.path.getsize(os.path.join(disk_set.source, "data", "random.bin")),
           "data/random.bin was written whole")
    for name in ("first.txt", "last.txt"):
        expect(not os.path.exists(os.path.join(target, name)), "%s was extracted" % name)


def spanned_meter_hidden_after_run(disk_set):
    """The main dialog back after the success box: the meter, shown at once
    for a spanned set, is hidden again, and the status line hidden with it
    stays hidden."""
    class AfterRun:
        def check(self, window):
            expect(window.back and window.title == TITLE + " - set.exe", "%r, wanted the main dialog back" % window)
            shown = {control_id for _, control_id, _ in window.controls}
            expect(not shown & {109, 201}, "status line or meter still shown: %r" % window.controls)
    return AfterRun()


def interactive_unzip(disk_set, target):
    files = sum(len(names) for _, _, names in os.walk(disk_set.source))
    return ([Step(MainDialog(), None, button="Unzip", preparations=["--type", "106", windows_path(target)])] +
            every_disk(disk_set) +
            [Step(counted(files), "unzipped successfully"),
             Step(spanned_meter_hidden_after_run(disk_set), None, button="Close",
                  back=True)])


def disk_prompt_cases(kind):
    aligned, headers = spanned_set("%s-aligned" % kind), spanned_set("%s-headers" % kind)
    return [
        SpannedCase("%s: disk 3 put in when disk 2 is asked for" % kind, aligned, wrong_disk_first, EXIT_NORMAL,
                    after=extracted_all),
        SpannedCase("%s: unlabelled disk, Retry" % kind, aligned, unlabelled_retry, EXIT_NORMAL, after=extracted_all),
        SpannedCase("%s: unlabelled disk, Ignore" % kind, aligned, unlabelled_ignore, EXIT_NORMAL,
                    layout=last_disk_at_least(4), after=extracted_all),
        SpannedCase("%s: unlabelled disk, Abort" % kind, aligned, unlabelled_abort, EXIT_DECLINED,
                    after=stopped_in_random_bin),
        SpannedCase("%s: Cancel at the insert-disk box" % kind, aligned, cancel_at_insert, EXIT_DECLINED,
                    after=stopped_in_random_bin),
        SpannedCase("%s: read error on a later disk" % kind, headers, read_error_later, EXIT_ERROR_BOX,
                    layout=lambda disk_set: expect(header_disk(disk_set) >= 3, "the cut disk is disk 2")),
        SpannedCase("%s: Unzip from the dialog" % kind, aligned, interactive_unzip, EXIT_NORMAL, after=extracted_all,
                    unattended=False),
    ]


def theme_spanned_zip_prompts():
    """Disk prompts of a ".ZIP" set: a wrong disk, an unlabelled one (each
    button), Cancel, a damaged later disk, and an Unzip from the dialog."""
    return disk_prompt_cases("zip")


def theme_spanned_exe_prompts():
    """The same disk prompts for a set of ".EXE" volumes."""
    return disk_prompt_cases("exe")


# ---- a set split by Info-ZIP zip -s -------------------------------------------------

SPLIT_SIZE = "64k"  # the smallest split zip -s makes


def make_split_tree(root):
    """Random data across two parts, small files about a part's end, and a
    compressible pattern."""
    files = {"a/random.bin": random_bytes(100000, 13)}
    files.update({"b/f%03d.txt" % n: (b"small %03d\n" % n) * (n % 7 + 1) for n in range(200)})
    files["c/pattern.bin"] = bytes((i * 31) % 253 for i in range(50000))
    write_tree(root, files)


def zip_split_set(workshop):
    """The set made from the parts of zip -s: every part, unchanged, is the
    volume file of its disk."""
    key = (workshop.folder, "split")
    if key in _sets:
        return _sets[key]
    source = os.path.join(workshop.folder, "split-src")
    parts = os.path.join(workshop.folder, "split-parts")
    for folder in (source, parts):
        shutil.rmtree(folder, ignore_errors=True)
    make_split_tree(source)
    os.makedirs(parts)
    last_part = os.path.join(parts, "set.zip")
    result = subprocess.run(["zip", "-q", "-r", "-s", SPLIT_SIZE, last_part, "."], cwd=source, capture_output=True,
                            text=True, env=dict(os.environ, TZ="UTC"))
    expect(result.returncode == 0, "zip -s: %s" % result.stderr.strip())
    disk_set = DiskSet(os.path.join(workshop.folder, "split"), source, ["--zip", last_part, "--split-set"], False)
    disk_set.parts = sorted(os.path.join(parts, name) for name in os.listdir(parts) if name != "set.zip")
    disk_set.parts.append(last_part)
    _sets[key] = disk_set
    return disk_set


def parts_unchanged(disk_set):
    """One disk per part, its volume file the part byte for byte, and entry
    data that runs from one part on to the next."""
    expect(disk_set.disks == len(disk_set.parts) >= 3, "%d disks for %d parts" % (disk_set.disks, len(disk_set.parts)))
    for number, part in enumerate(disk_set.parts, 1):
        expect(open(part, "rb").read() == open(disk_set.volume_path(number), "rb").read(),
               "disk %d does not hold %s unchanged" % (number, os.path.basename(part)))
    layout = walk_set(disk_set.volumes())
    expect(layout.has("chunk cut by volume end"), "no entry runs on to the next part: %r" % layout.events)


def theme_spanned_split_set():
    """An archive split by Info-ZIP's zip -s, laid out by --split-set as a
    spanned set, extracted from A: disk by disk."""
    return [
        SpannedCase("zip -s parts as disks", zip_split_set, every_disk, EXIT_NORMAL, layout=parts_unchanged,
                    after=extracted_all),
    ]


# ---- the archiver handed a spanned set -------------------------------------------------

def register_record_command(workshop, target):
    """record_command.exe as the archiver's open command; no line recorded yet."""
    register_archiver('%s "%%1"' % recorder(workshop, "archiver"))


def unregister_archiver_after(workshop):
    unregister_archiver()


def handed_over(volume_name):
    def check(workshop, disk_set, target):
        wanted = '%s "%s\\%s"' % (windows_path(os.path.join(workshop.folder, "archiver", "record_command.exe")), DRIVE, volume_name)
        line = recorded(workshop, "archiver")
        expect(line == wanted, "the archiver was started with %r, wanted %r" % (line, wanted))
    return check


def run_archiver(disk_set, target):
    return [Step(MainDialog(), None, button="Run Dravik")]


def theme_spanned_run_archiver():
    """"Run Dravik" for a spanned set: the archiver is handed the ".zip"
    volume of the set's name when the volumes are ".ZIP" files, and the
    self-extractor itself when they are ".EXE" files."""
    return [
        SpannedCase("%s volumes: the archiver gets %s" % (kind, name), spanned_set("%s-aligned" % kind), run_archiver,
                    EXIT_NORMAL, prepare=register_record_command, undo=unregister_archiver_after,
                    while_in_drive=handed_over(name),
                    unattended=False)
        for kind, name in [("zip", "set.zip"), ("exe", "set.exe")]
    ]


# ---- an encrypted set with a volume ending inside an encryption header -----------------

PASSWORD = "s3cret"


def local_entries(volume):
    """(name, data offset, compressed size) of each local header of a first
    ".ZIP" volume, which starts with the spanning signature."""
    data = open(volume, "rb").read()
    entries, at = [], len(SPANNING_SIG)
    while data[at:at + 4] == LOCAL_SIG:
        size = struct.unpack_from("<I", data, at + 18)[0]
        name_length, extra_length = struct.unpack_from("<HH", data, at + 26)
        name = data[at + 30:at + 30 + name_length].decode("cp1252")
        at += 30 + name_length + extra_length
        entries.append((name, at, size))
        at += size
    return entries


def set_ending_in_data(name, entry, offset, *options):
    """A set of ".ZIP" volumes (from the spanned tree, with the builder's
    options) whose disk 1 ends `offset` bytes into the data of `entry`.
    Where entries lie in the archive does not depend on the volume size, so
    a one-volume probe gives the size."""
    def disk_set(workshop):
        key = (workshop.folder, name)
        if key not in _sets:
            source = spanned_source(workshop)
            tail = list(options) + ["-C", source, "."]
            probe = DiskSet(os.path.join(workshop.folder, name + "-probe"), source, ["--span", "10000000"] + tail,
                            False, least_disks=1)
            data_at = {entry_name: at for entry_name, at, _ in local_entries(probe.volume_path(1))}
            size = data_at[entry] + offset
            _sets[key] = DiskSet(os.path.join(workshop.folder, name), source, ["--span", str(size)] + tail, False)
        return _sets[key]
    return disk_set


encrypted_cut_set = set_ending_in_data("encrypted", "first.txt", 5, "--password", PASSWORD)


def password_then_every_disk(disk_set, target):
    password = Step(Plain(TITLE + " - Password", "#32770"), "Password", preparations=["--type", "402", PASSWORD])
    return [password] + every_disk(disk_set)


def theme_spanned_encrypted():
    """An encrypted set: the password typed, then every disk put in; a
    volume ends inside an entry's encryption header, which is read on from
    the next disk."""
    return [
        SpannedCase("a volume ends inside an encryption header", encrypted_cut_set, password_then_every_disk,
                    EXIT_NORMAL, layout=layout_has("encryption header cut by volume end", "first.txt"),
                    after=extracted_all),
    ]


# ---- an entry's data starting exactly on a new disk ------------------------------------

def skip_last_txt(disk_set, target):
    return [overwrite_prompt(target, "last.txt", "No")] + every_disk(disk_set)


def theme_spanned_data_on_next_disk():
    """Disk 1 ends right after last.txt's local header: extracted, its first
    chunk read gets nothing and comes whole from disk 2; skipped, the skip
    is made on disk 2 by the entry's size, and the central directory after
    it is still found there."""
    at_data = set_ending_in_data("data-on-next-disk", "last.txt", 0)
    return [
        SpannedCase("last.txt extracted from disk 2", at_data, every_disk, EXIT_NORMAL,
                    layout=layout_has("chunk ends volume", "last.txt"), after=extracted_all),
        SpannedCase("last.txt skipped on disk 2", at_data, skip_last_txt, EXIT_NORMAL,
                    layout=layout_has("skip starts at volume end", "last.txt", {"last.txt"}),
                    prepare=old_file("last.txt"), after=kept_old_file("last.txt")),
    ]
