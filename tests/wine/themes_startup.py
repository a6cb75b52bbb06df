"""Themes of the start-up: the robot itself, the file's integrity checks, the
message table, "-info", the Windows version and the start-up question."""
import os
import re
import subprocess

from wine_cases import *  # noqa: F401,F403 (the vocabulary of every theme)


def theme_robot():
    """The robot itself, on show_box's known boxes: each standard icon told
    apart by its pixels, buttons pressed by label and by id, the full 32-bit
    exit code, an owner enabled again after its box not taken for a new
    window, and a missing button ending the run at once."""
    show_box = os.path.join(os.path.dirname(ROBOT), "show_box.exe")
    def box(w):
        return show_box
    def shown(flags, *options, text="Robot text."):
        return list(options) + ["%#x" % flags, text]
    def robot_box(icon="none", buttons=("OK",), owner="none"):
        return Box("Robot text.", icon=icon, buttons=buttons, title="Robot Test", owner=owner)
    MB_YESNOCANCEL, MB_YESNO = 0x3, 0x4
    IDOK, IDCANCEL, IDNO = 1, 2, 7
    cases = [
        # name, flags, the icon the robot must report
        Case("icon %s" % icon, box, [robot_box(icon)], IDOK, args=shown(flags))
        for flags, icon in [(0x00, "none"), (0x10, "error"), (0x20, "question"), (0x30, "warning"),
                            (0x40, "information")]
    ]
    cases += [
        Case("press by label", box, [robot_box("question", ["Yes", "No", "Cancel"])], IDNO,
             actions=["--click", "No"], args=shown(0x20 | MB_YESNOCANCEL)),
        Case("press by label, '&' ignored", box, [robot_box(buttons=["Yes", "No"])], IDNO,
             actions=["--click", "&No"], args=shown(MB_YESNO)),
        Case("press by id", box, [robot_box(buttons=["Yes", "No", "Cancel"])], IDCANCEL,
             actions=["--click-id", str(IDCANCEL)], args=shown(MB_YESNOCANCEL)),
        Case("text with a line break and quotes", box, [Box('Two\n"lines"', title="Robot Test")], IDOK,
             args=shown(0, text='Two\n"lines"')),
        Case("argument with blanks, quotes and a closing backslash arrives whole", box,
             [Box('a "b"  c:\\dir\\', title="Robot Test")], IDOK, args=shown(0, text='a "b"  c:\\dir\\')),
        Case("full exit code", box, [robot_box()], 0x89ABCDEF, args=shown(0, "--exit", "0x89ABCDEF")),
        Case("owner enabled again is not a new window", box,
             [Plain("Robot Owner", "Static"), robot_box(owner="yes"), robot_box(owner="yes")], IDOK,
             actions=["--read", "--click", "OK", "--click", "OK"], args=shown(0, "--owned", "--twice")),
        Case("owner taken again only when a step asks for it", box,
             [Plain("Robot Owner", "Static"), robot_box(owner="yes"), Back("Robot Owner")], IDOK,
             actions=["--read", "--click", "OK", "--back", "--read"], args=shown(0, "--owned")),
        Case("missing button stops the run", box, [robot_box()], None, actions=["--click", "Maybe"],
             args=shown(0), robot_status=4),
    ]
    return cases


def signed(original, name):
    """A copy of an exe with an Authenticode signature added by osslsigncode,
    under a self-signed certificate made once per workshop: the signature
    changes the image header (the certificate table entry and the checksum)
    and follows the archive at the end of the file."""
    def sign(w):
        key, certificate = os.path.join(w.folder, "key.pem"), os.path.join(w.folder, "cert.pem")
        if not os.path.exists(certificate):
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out",
                            certificate, "-days", "30", "-subj", "/CN=Test Publisher"], check=True, capture_output=True)
        out = os.path.join(w.folder, name + ".exe")
        subprocess.run(["osslsigncode", "sign", "-certs", certificate, "-key", key, "-n", "Test", "-in",
                        original(w), "-out", out], check=True, capture_output=True)
        return out
    return sign


def theme_integrity():
    """Intact, altered, cut and unfinished files, each with its box and exit code.
    The default build's stub CRC starts after the image header, so a changed
    header (as a code signature adds) passes it and only the entry-point
    check sees a changed entry."""
    def good(w): return w.build("good")
    def unchecked(w): return w.build("unchecked", "--no-stub-crc")
    def from_start(w): return w.build("fromstart", "--crc-from-start")
    error_box = lambda text: [Box(text, icon="error")]
    return [
        Case("intact", good, [MainDialog()], EXIT_NORMAL),
        Case("signed after building: still intact, and it extracts", signed(good, "signed"), None, EXIT_NORMAL,
             actions=["--read"], args=lambda w: ["/auto", "Z:" + os.path.join(w.folder, "out").replace("/", "\\")],
             after=lambda w: compare_trees(w.source, os.path.join(w.folder, "out"))),
        Case("signed, CRC from the start: the CRC sees the header change", signed(from_start, "signedfs"),
             error_box(HEADER_CORRUPT), EXIT_ERROR_BOX),
        # The stub as built: its record is unfilled (no CRC, no archive, entry
        # point 0), and the entry-point check is the first to see it.
        Case("the bare stub", lambda w: w.copied(STUB, "bare"), error_box(ZIP_DAMAGED), EXIT_ERROR_BOX),
        Case("stub code byte changed", lambda w: w.changed(good(w), "code", flip_byte(unused_code_byte)),
             error_box(HEADER_CORRUPT), EXIT_ERROR_BOX),
        Case("configuration block byte changed",
             lambda w: w.changed(good(w), "block", flip_byte(lambda d: record_u32(d, RECORD_ARCHIVE_OFFSET) - 3)),
             error_box(HEADER_CORRUPT), EXIT_ERROR_BOX),
        Case("cut inside the end record's signature",
             lambda w: w.changed(good(w), "cutend", cut_at(inside_end_record_signature)),
             error_box(ZIP_DAMAGED), EXIT_ERROR_BOX),
        Case("cut inside the central directory",
             lambda w: w.changed(good(w), "cutdir", cut_at(inside_central_directory)),
             error_box(ZIP_DAMAGED), EXIT_ERROR_BOX),
        Case("image entry point changed", lambda w: w.changed(good(w), "entry", set_header_entry_point),
             error_box(ZIP_DAMAGED), EXIT_ERROR_BOX),
        Case("record's entry point changed, stub CRC off",
             lambda w: w.changed(unchecked(w), "recentry",
                                 set_record_u32(RECORD_ENTRY_POINT, lambda d: record_u32(d, RECORD_ENTRY_POINT) + 16)),
             error_box(ZIP_DAMAGED), EXIT_ERROR_BOX),
        Case("not finalised, stub CRC off",
             lambda w: w.changed(unchecked(w), "unfinished", set_record_u16(RECORD_FINALISED, 0)),
             error_box(INCOMPLETE), EXIT_ERROR_BOX),
        Case("stub code byte changed, stub CRC off",
             lambda w: w.changed(unchecked(w), "uncheckedcode", flip_byte(unused_code_byte)),
             [MainDialog()], EXIT_NORMAL),
        Case("DOS stub text changed: outside the default CRC",
             lambda w: w.changed(good(w), "dostext", flip_byte(lambda d: PE_DOS_STUB_TEXT)),
             [MainDialog()], EXIT_NORMAL),
        Case("DOS stub text changed, CRC from the start",
             lambda w: w.changed(from_start(w), "dostextfs", flip_byte(lambda d: PE_DOS_STUB_TEXT)),
             error_box(HEADER_CORRUPT), EXIT_ERROR_BOX),
        Case("image entry point changed, CRC from the start: the CRC sees it first",
             lambda w: w.changed(from_start(w), "entryfs", set_header_entry_point),
             error_box(HEADER_CORRUPT), EXIT_ERROR_BOX),
    ]


def theme_damaged_message_table():
    """A damaged stored message table (stub CRC off) is header corrupt."""
    def damaged(w):
        block = stored_message_block()
        exe = w.build("plain", "--no-stub-crc")
        at = open(exe, "rb").read().find(block[:32])
        expect(at > 0, "the stored message block is not in the stub")
        return w.changed(exe, "badtable", lambda d: d.__setitem__(slice(at + 40, at + 48), b"\xff" * 8))
    return [Case("message table damaged", damaged, [Box(HEADER_CORRUPT, icon="error")], EXIT_ERROR_BOX)]


def stored_message_block():
    """The compressed message block as the generator wrote it."""
    generated = open(os.path.join(BUILD, "generated", "message_record.cpp")).read()
    header = open(os.path.join(BUILD, "generated", "message_record.h")).read()
    offset = int(re.search(r"kMessageBlockOffset = (\d+)", header).group(1))
    size = int(re.search(r"kMessageBlockSize = (\d+)", header).group(1))
    values = bytes(int(v, 16) for v in re.findall(r"0x([0-9a-f]{2})", generated))
    return values[offset:offset + size]


def theme_info_option():
    """"-info" anywhere in the tail, also inside a word, shows the information
    text alone (no question, no dialog); "-INFO" is not recognised."""
    info = "Made for the tests."
    def with_info(w): return w.build("info", "--info", info)
    def with_question(w): return w.build("infoq", "--info", info, "--prompt", "Go on?", "--prompt-buttons", "yesno")
    return [
        Case("-info alone", with_info, [Box(info)], EXIT_NORMAL, args=["-info"]),
        Case("-info inside a folder name", with_info, [Box(info)], EXIT_NORMAL, args=["/auto", "c:\\x-infoy"]),
        Case("-info after other words", with_info, [Box(info)], EXIT_NORMAL, args=["a", "b-info"]),
        Case("-INFO is not the option", with_info, [MainDialog()], EXIT_NORMAL, args=["-INFO"]),
        Case("-info comes before the question", with_question, [Box(info)], EXIT_NORMAL, args=["-info"]),
        # The tail starts after the program's name, which the robot quotes
        # when it holds a blank: after the closing quote, else the first blank.
        Case("quoted program name, then -info", lambda w: w.build("with blank", "--info", info), [Box(info)],
             EXIT_NORMAL, args=["-info"]),
        Case("-info in the program's own name is not in the tail", lambda w: w.build("x-info", "--info", info),
             [MainDialog()], EXIT_NORMAL),
        Case("-info in a quoted program name is not in the tail", lambda w: w.build("my -info", "--info", info),
             [MainDialog()], EXIT_NORMAL),
    ]


def theme_old_windows():
    """A major version below 4 is told it is too old, whatever the top bit of
    the version says; 4 and above goes on. Wine's per-program version setting
    keys on the file name, so each case has its own."""
    def with_version(name, version, *options):
        def make(w):
            exe = w.build(name, *options)
            wine_run("reg", "add", "HKCU\\Software\\Wine\\AppDefaults\\%s.exe" % name, "/v", "Version", "/t",
                     "REG_SZ", "/d", version, "/f")
            return exe
        return make
    return [
        Case("NT 3.51", with_version("oldnt", "nt351"), [Box(NEEDS_WIN32)], EXIT_ERROR_BOX),
        Case("Windows 3.1 (top bit set)", with_version("oldwin", "win31"), [Box(NEEDS_WIN32)], EXIT_ERROR_BOX),
        Case("Windows 95 (top bit set, major 4)", with_version("win95", "win95"), [MainDialog()], EXIT_NORMAL),
        Case("NT 4.0", with_version("nt40", "nt40"), [MainDialog()], EXIT_NORMAL),
        Case("-info comes before the version test", with_version("oldinfo", "nt351", "--info", "Old but informed."),
             [Box("Old but informed.")], EXIT_NORMAL, args=["-info"]),
    ]


def theme_startup_question():
    """The builder's question: its buttons, its title, its question icon, and
    what each answer does."""
    question = "Install Foo?"
    def built(name, *options): return lambda w: w.build(name, "--prompt", question, *options)
    yes_no, ok_cancel = ["--prompt-buttons", "yesno"], ["--prompt-buttons", "okcancel"]
    caption = ["--caption", "Foo Setup"]
    def asked(buttons, title=TITLE): return Box(question, icon="question", buttons=buttons, title=title)
    return [
        # name, file, windows, exit code, robot script
        Case("OK only", built("ok"), [asked(["OK"]), MainDialog()], EXIT_NORMAL),
        Case("OK only, explicit", built("okx", "--prompt-buttons", "ok"), [asked(["OK"]), MainDialog()], EXIT_NORMAL),
        Case("Yes", built("yn", *yes_no), [asked(["Yes", "No"]), MainDialog()], EXIT_NORMAL,
             actions=["--click", "Yes", "--click", "Close"]),
        Case("No", built("yn", *yes_no), [asked(["Yes", "No"])], EXIT_DECLINED, actions=["--click", "No"]),
        Case("OK of OK and Cancel", built("oc", *ok_cancel), [asked(["OK", "Cancel"]), MainDialog()], EXIT_NORMAL),
        Case("Cancel", built("oc", *ok_cancel), [asked(["OK", "Cancel"])], EXIT_DECLINED,
             actions=["--click", "Cancel"]),
        Case("caption titles the question", built("capoc", *ok_cancel, *caption),
             [asked(["OK", "Cancel"], "Foo Setup"), MainDialog()], EXIT_NORMAL),
        Case("caption, No", built("capyn", *yes_no, *caption), [asked(["Yes", "No"], "Foo Setup")], EXIT_DECLINED,
             actions=["--click", "No"]),
        Case("caption flag with an empty caption: the usual title",
             lambda w: w.changed(built("emptycap", "--no-stub-crc")(w), "emptycapflag",
                                 set_record_u32(RECORD_FLAGS, lambda d: record_u32(d, RECORD_FLAGS) | FLAG_USE_CAPTION)),
             [asked(["OK"]), MainDialog()], EXIT_NORMAL),
    ]
