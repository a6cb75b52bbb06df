#!/usr/bin/env python3
"""End-to-end scenarios: the real stub under Wine, driven and read back by
the robot.

usage: scenarios.py BUILD_DIR SCENARIO

Each scenario builds self-extractors with dravik-sfx, runs them under Wine
through the robot, and checks what the robot read (titles, texts, buttons,
icons, owners) and the exit code. The Wine environment (prefix, display,
server) is made by wine_env.sh, the ctest fixture around these tests.
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

HEADER_CORRUPT = ("Dravik Self-Extractor header corrupt.  Possible cause:  bad disk or file "
                  "transfer error")
ZIP_DAMAGED = ("Zip file is damaged, truncated, or has been changed since it was created.   If you "
               "downloaded this file, try downloading again.")
INCOMPLETE = "This is an incomplete self-extractor;\nplease re-create the file and try again."
NEEDS_WIN32 = "This 32-bit self-extracting Zip file requires Windows 95, 98, NT, or 2000."
TITLE = "Dravik Self-Extractor"
MARKER = b"KAV\x01sfx\x02"

BUILD = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else ""
DRAVIK_SFX = os.path.join(BUILD, "builder", "dravik-sfx")
ROBOT = os.path.join(BUILD, "win32", "tests", "robot", "robot.exe")


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


# ---- the environment ---------------------------------------------------------

def wine_environment():
    env = dict(os.environ)
    with open(os.path.join(BUILD, "wine", "env")) as lines:
        for line in lines:
            name, _, value = line.strip().partition("=")
            env[name] = value
    env["TZ"] = "UTC"
    return env


ENV = None


def work_folder():
    folder = tempfile.mkdtemp(prefix="dravik-wine-", dir=os.path.join(BUILD, "wine"))
    return folder


# ---- building and patching self-extractors --------------------------------------

def make_tree(root):
    """A small source tree: nested folders, text, an empty file, binary data."""
    os.makedirs(os.path.join(root, "docs", "deep"))
    with open(os.path.join(root, "readme.txt"), "w") as f:
        f.write("Read me.\n" * 200)
    open(os.path.join(root, "empty.dat"), "w").close()
    with open(os.path.join(root, "docs", "deep", "data.bin"), "wb") as f:
        f.write(bytes((i * 7919) % 251 for i in range(70000)))
    return root


def build(output, *options, source=None):
    args = [DRAVIK_SFX, "build", "-o", output] + list(options)
    if source is not None:
        args += ["-C", source, "."]
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
    return output


def record_at(data):
    at = data.find(MARKER)
    expect(at >= 0, "no configuration record")
    return at


def restamp_crc(data):
    """Recomputes StubCrc the way the stub checks it, after a deliberate change."""
    at = record_at(data)
    archive_at, = struct.unpack_from("<I", data, at + 12)
    flags, = struct.unpack_from("<I", data, at + 28)
    if struct.unpack_from("<I", data, at + 8)[0] == 0:
        return
    copy = bytearray(data[:archive_at])
    struct.pack_into("<I", copy, at + 8, 0)
    start = 0
    if flags & 0x800:
        start = struct.unpack_from("<I", copy, 60)[0] + 248
    struct.pack_into("<I", data, at + 8, zlib.crc32(bytes(copy[start:])) & 0xFFFFFFFF)


def patched(path, change, new_path, restamp=False):
    data = bytearray(open(path, "rb").read())
    change(data)
    if restamp:
        restamp_crc(data)
    with open(new_path, "wb") as f:
        f.write(data)
    return new_path


# ---- running the stub through the robot ----------------------------------------------

class Window:
    def __init__(self, title, cls, icon, owner):
        self.title, self.cls, self.icon, self.owner = title, cls, icon, owner
        self.controls = []  # (kind, id, text)

    def texts(self):
        return [text for kind, cid, text in self.controls if kind == "static" and text]

    def buttons(self):
        return [text.replace("&", "") for kind, cid, text in self.controls if kind == "button"]

    def __repr__(self):
        return "Window(%r, icon=%s, owner=%s, %r)" % (self.title, self.icon, self.owner, self.controls)


def unescape(text):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(1), m.group(1)), text)


def parse_transcript(out):
    windows, code = [], None
    for line in out.splitlines():
        m = re.match(r'window "(.*)" class=(\S+) icon=(\S+) owner=(\S+)$', line)
        if m:
            windows.append(Window(unescape(m.group(1)), m.group(2), m.group(3), m.group(4)))
            continue
        m = re.match(r'  (\S+) (-?\d+) "(.*)"$', line)
        if m and windows:
            windows[-1].controls.append((m.group(1), int(m.group(2)), unescape(m.group(3))))
            continue
        m = re.match(r"exit=(\d+)$", line)
        if m:
            code = int(m.group(1))
    return windows, code


def run(exe, *actions, args=(), timeout=30):
    """Runs exe (in its folder) under the robot; returns (windows, exit code)."""
    folder, name = os.path.split(os.path.abspath(exe))
    robot = os.path.join(folder, "robot.exe")
    if not os.path.exists(robot):
        shutil.copy(ROBOT, robot)
    command = ["wine", "robot.exe", "--timeout", str(timeout)] + list(actions) + ["--", name] + list(args)
    result = subprocess.run(command, cwd=folder, env=ENV, capture_output=True, text=True, timeout=timeout + 30)
    windows, code = parse_transcript(result.stdout)
    expect(code is not None, "the program did not end: %s %s" % (result.stdout, result.stderr))
    return windows, code


def expect_box(window, text, icon, buttons=("OK",), title=TITLE, owner="none"):
    expect(window.title == title, "title %r, wanted %r" % (window.title, title))
    expect(window.texts() == [text], "text %r, wanted %r" % (window.texts(), text))
    expect(window.icon == icon, "icon %s, wanted %s for %r" % (window.icon, icon, text))
    expect(window.buttons() == list(buttons), "buttons %r, wanted %r" % (window.buttons(), list(buttons)))
    expect(window.owner == owner, "owner %s, wanted %s" % (window.owner, owner))


def expect_main_dialog(window):
    expect(window.title.startswith(TITLE + " - ") or window.title == "Setup" or window.cls == "#32770",
           "not the main dialog: %r" % window)
    expect("Unzip" in window.buttons() and "Close" in window.buttons(), "no Unzip and Close: %r" % window)


# ---- scenarios -------------------------------------------------------------------

def scenario_integrity():
    """Intact, altered, cut and unfinished files, each with its box and exit code."""
    work = work_folder()
    source = make_tree(os.path.join(work, "src"))
    good = build(os.path.join(work, "good.exe"), source=source)
    unchecked = build(os.path.join(work, "unchecked.exe"), "--no-stub-crc", source=source)
    data = open(good, "rb").read()
    at = record_at(data)
    archive_at, = struct.unpack_from("<I", data, at + 12)
    end_at, = struct.unpack_from("<I", data, at + 20)
    text_at = 0x600  # a byte of the stub's code, inside the range the stub CRC covers

    def flip(offset):
        return lambda d: d.__setitem__(offset, d[offset] ^ 0x01)

    def set_u32(offset, value):
        return lambda d: struct.pack_into("<I", d, offset, value)

    entry_rva = struct.unpack_from("<I", data, at + 54)[0]
    cases = [
        # name, file, expected box text (None: the main dialog), icon, exit code
        ("intact", good, None, None, 0),
        ("stub byte changed", patched(good, flip(text_at), os.path.join(work, "b1.exe")), HEADER_CORRUPT, "error", 2),
        ("config block byte changed", patched(good, flip(archive_at - 3), os.path.join(work, "b2.exe")),
         HEADER_CORRUPT, "error", 2),
        ("cut inside the archive", patched(good, lambda d: d.__delitem__(slice(end_at - 100, None)),
                                           os.path.join(work, "b3.exe")), ZIP_DAMAGED, "error", 2),
        ("entry point no longer matches", patched(good, set_u32(at + 54, entry_rva + 4), os.path.join(work, "b4.exe"),
                                                  restamp=True), ZIP_DAMAGED, "error", 2),
        ("unfinished", patched(good, lambda d: struct.pack_into("<H", d, at + 42, 0), os.path.join(work, "b5.exe"),
                               restamp=True), INCOMPLETE, "error", 2),
        ("stub byte changed, check off", patched(unchecked, flip(text_at), os.path.join(work, "b6.exe")), None, None, 0),
    ]
    for name, exe, text, icon, code in cases:
        windows, exit_code = run(exe, "--click", "OK" if text else "Close")
        try:
            expect(len(windows) == 1, "windows: %r" % windows)
            if text:
                expect_box(windows[0], text, icon)
            else:
                expect_main_dialog(windows[0])
            expect(exit_code == code, "exit code %d, wanted %d" % (exit_code, code))
        except Failure as failure:
            raise Failure("%s: %s" % (name, failure))


def scenario_damaged_message_table():
    """A damaged stored message table (stub CRC off) is header corrupt."""
    work = work_folder()
    source = make_tree(os.path.join(work, "src"))
    exe = build(os.path.join(work, "t.exe"), "--no-stub-crc", source=source)
    block = stored_message_block()
    data = open(exe, "rb").read()
    at = data.find(block[:32])
    expect(at > 0, "the stored message block is not in the stub")
    bad = patched(exe, lambda d: d.__setitem__(slice(at + 40, at + 48), b"\xff" * 8), os.path.join(work, "bad.exe"))
    windows, code = run(bad, "--click", "OK")
    expect(len(windows) == 1, "windows: %r" % windows)
    expect_box(windows[0], HEADER_CORRUPT, "error")
    expect(code == 2, "exit code %d" % code)


def stored_message_block():
    """The compressed message block as the generator wrote it."""
    generated = open(os.path.join(BUILD, "generated", "message_record.cpp")).read()
    header = open(os.path.join(BUILD, "generated", "message_record.h")).read()
    offset = int(re.search(r"kMessageBlockOffset = (\d+)", header).group(1))
    size = int(re.search(r"kMessageBlockSize = (\d+)", header).group(1))
    values = bytes(int(v, 16) for v in re.findall(r"0x([0-9a-f]{2})", generated))
    return values[offset:offset + size]


def scenario_info_option():
    """"-info" anywhere in the tail shows the information text alone; "-INFO" does not."""
    work = work_folder()
    source = make_tree(os.path.join(work, "src"))
    exe = build(os.path.join(work, "i.exe"), "--info", "Made for the tests.", source=source)
    for args, shown in [(["-info"], True), (["/auto", "c:\\x-infoy"], True), (["-INFO"], False)]:
        windows, code = run(exe, "--click", "OK" if shown else "Close", args=args)
        if shown:
            expect(len(windows) == 1, "%r: windows %r" % (args, windows))
            expect_box(windows[0], "Made for the tests.", "none")
        else:
            expect_main_dialog(windows[0])
        expect(code == 0, "%r: exit code %d" % (args, code))


def scenario_old_windows():
    """A major version below 4 is told it is too old."""
    work = work_folder()
    source = make_tree(os.path.join(work, "src"))
    exe = build(os.path.join(work, "oldwin.exe"), source=source)
    subprocess.run(["wine", "reg", "add", "HKCU\\Software\\Wine\\AppDefaults\\oldwin.exe", "/v", "Version",
                    "/t", "REG_SZ", "/d", "nt351", "/f"], env=ENV, check=True, capture_output=True)
    windows, code = run(exe, "--click", "OK")
    expect(len(windows) == 1, "windows %r" % windows)
    expect_box(windows[0], NEEDS_WIN32, "none")
    expect(code == 2, "exit code %d" % code)


def scenario_startup_question():
    """The builder's question: its buttons, its title, and what each answer does."""
    work = work_folder()
    source = make_tree(os.path.join(work, "src"))
    cases = [
        # options, buttons shown, title, button pressed, dialog follows
        ([], ["OK"], TITLE, "OK", True),
        (["--prompt-buttons", "yesno"], ["Yes", "No"], TITLE, "Yes", True),
        (["--prompt-buttons", "yesno"], ["Yes", "No"], TITLE, "No", False),
        (["--prompt-buttons", "okcancel"], ["OK", "Cancel"], TITLE, "Cancel", False),
        (["--prompt-buttons", "okcancel", "--caption", "Foo Setup"], ["OK", "Cancel"], "Foo Setup", "OK", True),
    ]
    for n, (options, buttons, title, press, dialog) in enumerate(cases):
        exe = build(os.path.join(work, "q%d.exe" % n), "--prompt", "Install Foo?", *options, source=source)
        windows, code = run(exe, "--click", press, "--click", "Close")
        label = "%r pressing %s" % (options, press)
        expect_box(windows[0], "Install Foo?", "none", buttons=buttons, title=title)
        expect(len(windows) == (2 if dialog else 1), "%s: windows %r" % (label, windows))
        if dialog:
            expect_main_dialog(windows[1])
        expect(code == (0 if dialog else 1), "%s: exit code %d" % (label, code))


def scenario_unattended():
    """"/auto FOLDER" extracts everything, dated, and ends by itself."""
    work = work_folder()
    source = make_tree(os.path.join(work, "src"))
    exe = build(os.path.join(work, "a.exe"), source=source)
    target = os.path.join(work, "out")
    windows, code = run(exe, "--read", args=["/auto", "Z:" + target.replace("/", "\\")])
    expect(code == 0, "exit code %d, windows %r" % (code, windows))
    compare_trees(source, target)


def compare_trees(source, target):
    for folder, _, files in os.walk(source):
        for name in files:
            original = os.path.join(folder, name)
            copy = os.path.join(target, os.path.relpath(original, source))
            expect(os.path.exists(copy), "%s was not extracted" % copy)
            expect(open(original, "rb").read() == open(copy, "rb").read(), "%s differs" % copy)
            expect(abs(os.stat(original).st_mtime - os.stat(copy).st_mtime) <= 2, "%s dated wrongly" % copy)


SCENARIOS = {name[len("scenario_"):]: f for name, f in globals().items() if name.startswith("scenario_")}


def main():
    global ENV
    if len(sys.argv) != 3 or sys.argv[2] not in SCENARIOS:
        print("usage: scenarios.py BUILD_DIR {%s}" % ",".join(sorted(SCENARIOS)), file=sys.stderr)
        return 64
    ENV = wine_environment()
    try:
        SCENARIOS[sys.argv[2]]()
    except Failure as failure:
        print("FAILED: %s: %s" % (sys.argv[2], failure))
        return 1
    print("passed: %s" % sys.argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main())
