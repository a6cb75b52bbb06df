#!/usr/bin/env python3
"""What the end-to-end scenarios are made of: self-extractors built and
damaged on purpose, the robot's runs under Wine and their transcripts, and the
windows a case expects to see. The themes (themes_*.py) are tables of cases
built from these; scenarios.py runs one theme.

Each theme is a table of cases. A case names a self-extractor (built with
dravik-sfx from a small folder, then perhaps damaged on purpose), the command
tail it is started with, the robot's answers, and what must be seen: each
window in order (a message box with its exact text, title, icon, buttons and
owner, or the main dialog) and the program's exit code (0 normal end, 1 the
user declined, 2 an error box ended the program). Every case runs even when
an earlier one failed; the last line says how many passed and failed.

Every theme runs against one stub architecture, x86 or x64, each in a Wine
prefix of its own kind: the self-extractors are built with `--arch`, and the
robot and its helpers are those of the same cross build. The Wine environment
(prefix, loader, display, server) comes from wine_env.sh, the ctest fixture
around these tests, through BUILD_DIR/wine/ARCH/env.
"""
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import traceback

TITLE = "Dravik Self-Extractor"
HEADER_CORRUPT = ("Dravik Self-Extractor header corrupt.  Possible cause:  bad disk or file "
                  "transfer error")
ZIP_DAMAGED = ("Zip file is damaged, truncated, or has been changed since it was created.   If you "
               "downloaded this file, try downloading again.")
INCOMPLETE = "This is an incomplete self-extractor;\nplease re-create the file and try again."
NEEDS_WIN32 = "This 32-bit self-extracting Zip file requires Windows 95, 98, NT, or 2000."

EXIT_NORMAL, EXIT_DECLINED, EXIT_ERROR_BOX = 0, 1, 2

ARCHES = ("x86", "x64")
CROSS_BUILD = {"x86": "win32", "x64": "win64"}  # each architecture's cross build folder

BUILD = os.path.abspath(sys.argv[1]) if len(sys.argv) > 2 else ""
ARCH = sys.argv[2] if len(sys.argv) > 2 and sys.argv[2] in ARCHES else "x86"
DRAVIK_SFX = os.path.join(BUILD, "builder", "dravik-sfx")
ROBOT = os.path.join(BUILD, CROSS_BUILD[ARCH], "tests", "robot", "robot.exe")
STUB = os.path.join(BUILD, CROSS_BUILD[ARCH], "stub", "dravik-stub.exe")
WINE_HOME = os.path.join(BUILD, "wine", ARCH)  # the architecture's prefix and env file


class Failure(Exception):
    pass


class RobotVanished(Failure):
    """Wine did not run the case: the robot ended with a status it never
    gives and wrote nothing, not even the first window; or, in a case that
    expects the program to start, the robot could not start it because Wine
    failed inside (ERROR_INTERNAL_ERROR, seen on a loaded machine). Nothing
    about the program under test is known then, so the case is worth one
    more try."""


# The robot's line when CreateProcess failed with ERROR_INTERNAL_ERROR.
WINE_COULD_NOT_START = re.compile(r"robot: cannot start .* \(error 1359\)\n?$")


def expect(condition, message):
    if not condition:
        raise Failure(message)


# ---- the configuration record and the PE image ----------------------------------
# The record starts with the marker K A V 0x01 s f x 0x02; field offsets count
# from its first byte (see stub/container/sfx_config.h).

MARKER = b"KAV\x01sfx\x02"
RECORD_STUB_CRC = 8
RECORD_ARCHIVE_OFFSET = 12
RECORD_END_RECORD_OFFSET = 20
RECORD_FLAGS = 28
FLAG_USE_CAPTION = 0x10
RECORD_FINALISED = 42      # u16
RECORD_ENTRY_POINT = 54    # u32, unaligned
PE_ENTRY_POINT = 40        # AddressOfEntryPoint, from the "PE\0\0" signature
PE_DOS_STUB_TEXT = 0x4E    # "This program cannot be run in DOS mode", never read by Windows


def record_at(data):
    at = data.find(MARKER)
    expect(at >= 0, "no configuration record in the file")
    return at


def record_u32(data, field):
    return struct.unpack_from("<I", data, record_at(data) + field)[0]


def pe_at(data):
    return struct.unpack_from("<I", data, 60)[0]


def sections(data):
    """(name, virtual address, virtual size, file offset, raw size) of each section."""
    pe = pe_at(data)
    count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional_size
    result = []
    for n in range(count):
        name, vsize, va, raw_size, raw_at = struct.unpack_from("<8sIIII", data, table + 40 * n)
        result.append((name.rstrip(b"\0").decode(), va, vsize, raw_at, raw_size))
    return result


def file_offset(data, rva):
    for _, va, vsize, raw_at, raw_size in sections(data):
        if va <= rva < va + max(vsize, raw_size):
            return raw_at + rva - va
    raise Failure("rva %#x lies in no section" % rva)


def unused_code_byte(data):
    """A byte of .text inside the stub CRC's range that is never executed: the
    file padding after the code, or failing that the middle of the section."""
    for name, _, vsize, raw_at, raw_size in sections(data):
        if name == ".text":
            return raw_at + vsize if vsize < raw_size else raw_at + raw_size // 2
    raise Failure("no .text section")


def nop_length(data, at):
    """The length of the NOP instruction at data[at] (one of the forms
    compilers and linkers pad code with), or 0."""
    forms = (b"\x90", b"\x66\x90", b"\x0f\x1f\x00", b"\x0f\x1f\x40\x00", b"\x0f\x1f\x44\x00\x00",
             b"\x66\x0f\x1f\x44\x00\x00", b"\x0f\x1f\x80\x00\x00\x00\x00",
             b"\x0f\x1f\x84\x00\x00\x00\x00\x00", b"\x66\x0f\x1f\x84\x00\x00\x00\x00\x00",
             b"\x66\x2e\x0f\x1f\x84\x00\x00\x00\x00\x00")
    for form in forms:
        if data[at:at + len(form)] == form:
            return len(form)
    return 0


def padding_before(data, at):
    """The earliest offset before `at` from which NOP instructions run exactly
    up to `at`, or None when no padding precedes it."""
    found = None
    for start in range(at - 1, max(at - 16, 0) - 1, -1):
        position = start
        while position < at and nop_length(data, position):
            position += nop_length(data, position)
        if position == at:
            found = start
    return found


def other_entry_point(data):
    """An entry point that differs from the image's but still starts the stub:
    the padding NOPs before the entry function, or, on x86, one byte into it,
    past its "push ebp" (the entry never returns, so the unbalanced frame is
    harmless; on x64 that would misalign the stack)."""
    entry = struct.unpack_from("<I", data, pe_at(data) + PE_ENTRY_POINT)[0]
    at = file_offset(data, entry)
    padding = padding_before(data, at)
    if padding is not None:
        return entry - (at - padding)
    expect(ARCH == "x86" and data[at] == 0x55, "the entry function starts with neither padding nor push ebp")
    return entry + 1


# ---- changes made to a built file ------------------------------------------------

def flip_byte(where):
    """Inverts the low bit of one byte; where(data) gives its file offset."""
    def change(data):
        at = where(data)
        data[at] ^= 0x01
    return change


def set_record_u16(field, value):
    return lambda data: struct.pack_into("<H", data, record_at(data) + field, value)


def set_record_u32(field, value_of):
    return lambda data: struct.pack_into("<I", data, record_at(data) + field, value_of(data))


def set_header_entry_point(data):
    struct.pack_into("<I", data, pe_at(data) + PE_ENTRY_POINT, other_entry_point(data))


def cut_at(where):
    """Ends the file at where(data)."""
    def change(data):
        del data[where(data):]
    return change


# The archive lies inside the image's last section, so a file cut by a whole
# file-alignment unit (512 bytes) or more is refused by the loader before the
# stub runs; the cuts the stub itself sees lie within that last unit.

def inside_central_directory(data):
    return record_u32(data, RECORD_END_RECORD_OFFSET) - 10


def inside_end_record_signature(data):
    """The stub's start-up check reads only the end record's signature."""
    return record_u32(data, RECORD_END_RECORD_OFFSET) + 2


# ---- building self-extractors ----------------------------------------------------

class Workshop:
    """A theme's work folder (made afresh each run and left for inspection) with
    a small source tree, and the self-extractors built and changed from it."""

    def __init__(self, theme):
        self.folder = os.path.join(WINE_HOME, "work", theme)
        shutil.rmtree(self.folder, ignore_errors=True)
        self.source = os.path.join(self.folder, "src")
        make_tree(self.source)
        self.built = {}  # name: options, of the files built so far

    def build(self, name, *options, source=None):
        """Builds NAME.exe from the source tree (or another folder) with the
        builder's options (once: cases that share a file name share the file)."""
        return self._built(name, list(options) + ["-C", source or self.source, "."])

    def wrap(self, name, zip_file, *options):
        """NAME.exe wrapping an existing ZIP file (made by another tool)."""
        return self._built(name, list(options) + ["--zip", zip_file])

    def _built(self, name, options):
        out = os.path.join(self.folder, name + ".exe")
        if name in self.built:
            expect(self.built[name] == options, "%s.exe built twice with different options" % name)
            return out
        self.built[name] = options
        build_sfx(out, options)
        return out

    def copied(self, original, name):
        out = os.path.join(self.folder, name + ".exe")
        shutil.copy(original, out)
        return out

    def changed(self, original, name, *changes):
        """A copy of an exe, as NAME.exe, with each change applied to its bytes."""
        data = bytearray(open(original, "rb").read())
        for change in changes:
            change(data)
        out = os.path.join(self.folder, name + ".exe")
        with open(out, "wb") as f:
            f.write(data)
        return out


def build_sfx(out, options, check=True):
    """dravik-sfx build -o OUT with the options, for this run's architecture;
    with check, a failure fails the case."""
    result = subprocess.run([DRAVIK_SFX, "build", "-o", out, "--arch", ARCH] + list(options), capture_output=True,
                            text=True)
    expect(not check or result.returncode == 0, "dravik-sfx build %s: %s" % (" ".join(options), result.stderr.strip()))
    return result


def make_tree(root):
    """A small source tree: nested folders, text, an empty file, binary data."""
    os.makedirs(os.path.join(root, "docs", "deep"))
    with open(os.path.join(root, "readme.txt"), "w") as f:
        f.write("Read me.\n" * 200)
    open(os.path.join(root, "empty.dat"), "w").close()
    with open(os.path.join(root, "docs", "deep", "data.bin"), "wb") as f:
        f.write(bytes((i * 7919) % 251 for i in range(70000)))


# ---- running a program through the robot -------------------------------------------

class Window:
    """One window as the robot wrote it down."""

    def __init__(self, title, cls, icon, owner, back=False):
        self.title, self.cls, self.icon, self.owner = title, cls, icon, owner
        self.back = back  # a window written down before, enabled again
        self.controls = []  # (kind, id, text)
        self.peeks = []  # the program's other windows as a --peek saw them while this one showed
        self.placed = None  # (x, y, width, height, screen width, screen height)
        self.disabled = set()  # ids of the controls that are disabled

    def texts(self):
        return [text for kind, _, text in self.controls if kind == "static" and text]

    def buttons(self):
        return [text.replace("&", "") for kind, _, text in self.controls if kind == "button"]

    def control(self, id):
        """(kind, text) of the visible control with this id, or None."""
        return next(((kind, text) for kind, n, text in self.controls if n == id), None)

    def enabled_buttons(self):
        return [text.replace("&", "") for kind, id, text in self.controls
                if kind == "button" and id not in self.disabled]

    def __repr__(self):
        return "<%r class=%s icon=%s owner=%s %r>" % (self.title, self.cls, self.icon, self.owner, self.controls)


def unescape(text):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(1), m.group(1)), text)


def parse_transcript(out):
    """The windows and the exit code in the robot's transcript."""
    windows, code = [], None
    for line in out.splitlines():
        m = re.match(r'window "(.*)" class=(\S+) icon=(\S+) owner=(\S+)$', line)
        if m:
            windows.append(Window(unescape(m.group(1)), m.group(2), m.group(3), m.group(4)))
            continue
        m = re.match(r'back "(.*)"$', line)
        if m:
            windows.append(Window(unescape(m.group(1)), None, None, None, back=True))
            continue
        m = re.match(r'  peek "(.*)"$', line)
        if m and windows:
            windows[-1].peeks.append(Window(unescape(m.group(1)), None, None, None))
            continue
        m = re.match(r"  placed (-?\d+) (-?\d+) (\d+) (\d+) on (\d+) (\d+)$", line)
        if m and windows:
            windows[-1].placed = tuple(int(n) for n in m.groups())
            continue
        m = re.match(r"(  |    )disabled (-?\d+)$", line)
        if m and windows:
            (windows[-1].peeks[-1] if len(m.group(1)) == 4 else windows[-1]).disabled.add(int(m.group(2)))
            continue
        m = re.match(r'    (\S+) (-?\d+) "(.*)"$', line)
        if m and windows and windows[-1].peeks:
            windows[-1].peeks[-1].controls.append((m.group(1), int(m.group(2)), unescape(m.group(3))))
            continue
        m = re.match(r'  (\S+) (-?\d+) "(.*)"$', line)
        if m and windows:
            windows[-1].controls.append((m.group(1), int(m.group(2)), unescape(m.group(3))))
            continue
        m = re.match(r"exit=(\d+)$", line)
        if m:
            code = int(m.group(1))
    return windows, code


# What the robot itself ends with: the program ended (0), did not start (2),
# timed out (3), a button was missing (4), a bad command line (64).
ROBOT_STATUSES = (0, 2, 3, 4, 64)


def run(exe, actions, args=(), timeout=10, robot_status=0, env=None, program=None):
    """Runs exe from its own folder under the robot; (windows, exit code).
    robot_status: the robot's own exit status the caller expects; env: more
    environment for the Wine processes (such as a locale); program: the
    Windows path to start it by instead of its name (such as A:\\set.exe on
    a drive mapped to its folder); the folder stays the current one."""
    folder, name = os.path.split(os.path.abspath(exe))
    command = [wine_env()["WINE"], ROBOT, "--timeout", str(timeout)] + list(actions) + ["--", program or name] + list(args)
    # Files, not pipes: the Wine desktop process that a run may start inherits
    # them and lives on for a while, and a pipe would be waited for until then.
    # The robot writes in the program's ANSI code page: bytes that are not
    # UTF-8 are kept as they are (surrogate escapes), so ASCII texts compare.
    with tempfile.TemporaryFile("w+", errors="surrogateescape") as out, \
            tempfile.TemporaryFile("w+", errors="surrogateescape") as err:
        status = subprocess.run(command, cwd=folder, env=dict(wine_env(), **(env or {})), stdin=subprocess.DEVNULL,
                                stdout=out, stderr=err, timeout=timeout + 30).returncode
        out.seek(0)
        err.seek(0)
        transcript, errors = out.read(), err.read()
    windows, code = parse_transcript(transcript)
    if status not in ROBOT_STATUSES and not transcript and not errors:
        raise RobotVanished("the robot ended with status %d and wrote nothing" % status)
    if status == 2 and robot_status != 2 and WINE_COULD_NOT_START.match(transcript) and not errors:
        raise RobotVanished(transcript.strip())
    expect(status == robot_status, "the robot ended with status %d, wanted %d:\n%s%s" % (
        status, robot_status, transcript, errors))
    expect(status != 0 or code is not None, "no exit code in the transcript:\n%s" % transcript)
    return windows, code


# ---- what a case expects to see ----------------------------------------------------

class Box:
    """A message box: its exact text, icon, buttons, title and owner; behind,
    a check of the main dialog as a --peek saw it while the box showed."""

    def __init__(self, text, icon="none", buttons=("OK",), title=TITLE, owner="none", behind=None):
        self.text, self.icon, self.buttons, self.title, self.owner = text, icon, list(buttons), title, owner
        self.behind = behind

    def check(self, window):
        expect(not window.back and window.cls == "#32770", "class %s, wanted a message box" % window.cls)
        expect(window.texts() == [self.text], "text %r, wanted %r" % (window.texts(), self.text))
        expect(window.title == self.title, "title %r, wanted %r" % (window.title, self.title))
        expect(window.icon == self.icon, "icon %s, wanted %s" % (window.icon, self.icon))
        expect(window.buttons() == self.buttons, "buttons %r, wanted %r" % (window.buttons(), self.buttons))
        expect(window.owner == self.owner, "owner %s, wanted %s" % (window.owner, self.owner))
        if self.behind:
            dialogs = [peek for peek in window.peeks if peek.control(UNZIP_ID)]
            expect(len(dialogs) == 1, "no main dialog peeked at behind the box: %r" % window.peeks)
            self.behind.check(dialogs[0])


# Controls of the main dialog.
PROMPT_ID, FOLDER_ID, STATUS_LINE_ID, METER_ID, UNZIP_ID = 101, 106, 109, 201, 1
MAIN_BUTTONS = ["Browse...", "Overwrite files without prompting", "Unzip", "Run Dravik", "Close", "About", "Help"]


HIDDEN = "(hidden)"  # a control that is not visible


def unzipped(count):
    return "%d file(s) unzipped successfully" % count


def counted(count, behind=None):
    """The box that ends a successful interactive run, owned by the dialog."""
    return Box(unzipped(count), owner="yes", behind=behind)


def unzip_prompt(name):
    return "To unzip all files in %s to the specified folder press the Unzip button." % name


def expect_centred(window):
    """The window stands in the middle of the screen (halves rounded down)."""
    expect(window.placed, "no position for %r" % window)
    x, y, width, height, screen_width, screen_height = window.placed
    expect((x, y) == ((screen_width - width) // 2, (screen_height - height) // 2),
           "%r placed at %d,%d, not centred on the %dx%d screen" % (window.title, x, y, screen_width, screen_height))


class MainDialog:
    """The main dialog: its buttons, and when given, its exact title, prompt,
    folder field, whether the progress meter shows, the status line's text
    (or HIDDEN: once the meter has shown, the status line stays hidden), and
    the labels of every button and check box shown, in order."""

    def __init__(self, title=None, prompt=None, folder=None, meter=None, status=None, buttons=None):
        self.title, self.prompt, self.folder, self.meter, self.status = title, prompt, folder, meter, status
        self.buttons = buttons

    def check(self, window):
        expect(not window.back, "%r came back, wanted the main dialog new" % window)
        expect(self.title is not None or window.title.startswith(TITLE), "title %r, wanted the main dialog's" % window.title)
        expect({"Unzip", "Close"} <= set(window.buttons()), "no Unzip and Close in %r" % window)
        wanted = [("title", self.title, window.title),
                  ("prompt", self.prompt, (window.control(PROMPT_ID) or ("", None))[1]),
                  ("folder", self.folder, (window.control(FOLDER_ID) or ("", None))[1]),
                  ("meter shown", self.meter, window.control(METER_ID) is not None),
                  ("status line", self.status, (window.control(STATUS_LINE_ID) or ("", HIDDEN))[1]),
                  ("buttons", self.buttons, window.buttons())]
        for what, expected, seen in wanted:
            expect(expected is None or seen == expected, "%s %r, wanted %r" % (what, seen, expected))


class Back:
    """A window already written down, enabled again (after its box);
    enabled: labels of buttons that must be enabled then."""

    def __init__(self, title, enabled=()):
        self.title, self.enabled = title, list(enabled)

    def check(self, window):
        expect(window.back and window.title == self.title, "%r, wanted %r back" % (window, self.title))
        for label in self.enabled:
            expect(label in window.enabled_buttons(), "%s is not enabled in %r" % (label, window))


class Plain:
    """Any other window: its title and class."""

    def __init__(self, title, cls):
        self.title, self.cls = title, cls

    def check(self, window):
        expect((window.title, window.cls.lower()) == (self.title, self.cls.lower()),
               "%r of class %s, wanted %r of class %s" % (window.title, window.cls, self.title, self.cls))


class Case:
    """exe: a function of the workshop giving the file to run; actions: the
    robot's script; windows: what each window must show, in order (or a
    function of the workshop giving that list)."""

    def __init__(self, name, exe, windows, exit_code, actions=None, args=(), after=None, robot_status=0,
                 within=None, env=None, unattended=False):
        self.name, self.exe, self.windows, self.exit_code = name, exe, windows, exit_code
        # An unattended run whose boxes are expected: the main dialog may flash
        # by before them, so it is not counted (the actions wait for each box
        # with --when).
        self.unattended = unattended
        self.env = env  # more environment for the run, or a function of the workshop giving it
        self.robot_status = robot_status  # non-zero: the robot stops the program (exit_code is then None)
        self.args = args  # the command tail, or a function of the workshop giving it
        self.actions = actions if actions is not None else default_actions(windows)  # or a function of the workshop
        self.after = after  # a further check, a function of the workshop
        # A change to the Wine world made for this case only: within(w) is a
        # context manager around the run and its checks (it undoes the change).
        self.within = within

    def run(self, workshop):
        if not self.within:
            return self.run_and_check(workshop)
        with self.within(workshop):
            return self.run_and_check(workshop)

    def run_and_check(self, workshop):
        args = self.args(workshop) if callable(self.args) else list(self.args)
        actions = self.actions(workshop) if callable(self.actions) else self.actions
        expected = self.windows(workshop) if callable(self.windows) else self.windows
        env = self.env(workshop) if callable(self.env) else self.env
        windows, code = run(self.exe(workshop), actions, args, robot_status=self.robot_status, env=env)
        if expected is None:  # an unattended run: no box; the main dialog seen or not as it flashes by
            boxes = [w for w in windows if w.title == TITLE or w.owner == "yes"]
            expect(not boxes, "a box in an unattended run: %r" % boxes)
            windows, expected = [], []
        elif self.unattended:
            windows = [w for w in windows if w.title == TITLE or w.owner == "yes"]
        expect(len(windows) == len(expected), "%d windows, wanted %d: %r" % (len(windows), len(expected), windows))
        for n, (window, wanted) in enumerate(zip(windows, expected)):
            try:
                wanted.check(window)
            except Failure as failure:
                raise Failure("window %d: %s\n    seen: %r" % (n + 1, failure, window))
        expect(code == self.exit_code, "exit code %s, wanted %s" % (code, self.exit_code))
        if self.after:
            self.after(workshop)


def default_actions(windows):
    """OK for each box, Close for the main dialog."""
    actions = []
    for window in windows:
        actions += ["--click", "Close" if isinstance(window, MainDialog) else "OK"]
    return actions


def wine_run(*command, check=True):
    """Runs a Wine command (such as reg add ...) to its end; its exit status.
    With check, a failure fails the case."""
    result = subprocess.run([wine_env()["WINE"]] + list(command), env=wine_env(), stdin=subprocess.DEVNULL, capture_output=True,
                            text=True, errors="replace", timeout=60)
    expect(not check or result.returncode == 0, "wine %s: status %d %s" % (
        " ".join(command), result.returncode, result.stderr.strip()))
    return result.returncode


def random_bytes(count, seed=0):
    """Bytes that do not compress, the same for the same seed."""
    generator = random.Random(seed)
    return bytes(generator.getrandbits(8) for _ in range(count))


# ---- the archiver that the dialog's Run button launches ----------------------------------

ARCHIVER_KEY = "HKCR\\dravik"
RECORD_COMMAND = os.path.join(os.path.dirname(ROBOT), "record_command.exe")


def register_archiver(command):
    """command as the open command of the archiver's registered file type."""
    wine_run("reg", "add", ARCHIVER_KEY + "\\shell\\open\\command", "/ve", "/t", "REG_SZ", "/d", command, "/f")


def unregister_archiver():
    wine_run("reg", "delete", ARCHIVER_KEY, "/f", check=False)  # there may be none


def recorder(w, folder):
    """record_command.exe copied into the workshop's FOLDER; its Windows path.
    The record of an earlier case is removed."""
    target = os.path.join(w.folder, folder)
    os.makedirs(target, exist_ok=True)
    shutil.copy(RECORD_COMMAND, target)
    for stale in ("record_command.txt", "record_command.part"):
        if os.path.exists(os.path.join(target, stale)):
            os.remove(os.path.join(target, stale))
    return windows_path(os.path.join(target, "record_command.exe"))


def recorded(w, folder, wait_s=20):
    """The command line record_command wrote in FOLDER. It was started by
    the self-extractor, which does not wait for it: wait for its file, which
    appears whole."""
    path = os.path.join(w.folder, folder, "record_command.txt")
    deadline = time.monotonic() + wait_s
    while not os.path.exists(path):
        expect(time.monotonic() < deadline, "record_command wrote nothing in %d s" % wait_s)
        time.sleep(0.1)
    with open(path, "rb") as f:
        return f.read().decode("latin-1")


def windows_path(path):
    """A Linux path as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def compare_trees(source, target):
    for folder, _, files in os.walk(source):
        for name in files:
            compare_file(source, target, os.path.relpath(os.path.join(folder, name), source))


def compare_file(source, target, relative):
    """The file at `relative` under target equals its source's, by bytes and date."""
    original, copy = os.path.join(source, relative), os.path.join(target, relative)
    expect(os.path.exists(copy), "%s was not extracted" % copy)
    expect(open(original, "rb").read() == open(copy, "rb").read(), "%s differs" % copy)
    expect(abs(os.stat(original).st_mtime - os.stat(copy).st_mtime) <= 2, "%s dated wrongly" % copy)


_wine_env = None


def wine_env():
    """The Wine environment (prefix, loader, display, server) the fixture
    wrote down for this run's architecture."""
    global _wine_env
    if _wine_env is not None:
        return _wine_env
    env = dict(os.environ)
    with open(os.path.join(WINE_HOME, "env")) as lines:
        for line in lines:
            name, _, value = line.strip().partition("=")
            env[name] = value
    env["TZ"] = "UTC"
    _wine_env = env
    return env
