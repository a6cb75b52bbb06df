"""Hostile archives on a real Windows file system: names that Windows would
open under another name or as a device are refused before anything is made
for them, and what came before them stays."""
import os
import zipfile

from wine_cases import *  # noqa: F401,F403 (the vocabulary of every theme)

UNSAFE_NAME = "Zip file contains an unsafe file name: %s - unzip operation cancelled."

# Names that Windows itself turns into something else: trailing dots and
# blanks stripped ("..." and ".. " become ".."), devices behind blanks or an
# extension, the console's own devices, COM and LPT with a superscript digit
# (code page 1252's 0xB9, 0xB2, 0xB3). Each name as bytes, as a Windows
# writer stores it (no UTF-8 flag).
HOSTILE_NAMES = [
    ("three dots", b"..."),
    ("dots and a blank", b".. /escaped.txt"),
    ("a folder ending in a dot", b"dir./x.txt"),
    ("a file ending in a blank", b"name "),
    ("a device behind a blank", b"CON .txt"),
    ("the console's input", b"conin$"),
    ("the console's output", b"sub/CONOUT$.log"),
    ("COM with a superscript one", b"COM\xb9"),
    ("LPT with a superscript two", b"lpt\xb2.txt"),
]


def write_hostile_zip(name, path):
    """fine.txt, then an entry named NAME. zipfile would store a non-ASCII
    name in UTF-8, so the entry is written under an ASCII stand-in of the
    same length whose bytes are then replaced in both headers."""
    stand_in = ("#" * len(name)).encode()
    with zipfile.ZipFile(path, "w") as archive:
        archive.writestr("fine.txt", "written before the hostile name\r\n")
        archive.writestr(stand_in.decode(), "hostile")
    data = open(path, "rb").read()
    expect(data.count(stand_in) == 2, "the stand-in name is not found twice")
    with open(path, "wb") as f:
        f.write(data.replace(stand_in, name))


def theme_hostile_names():
    """Each name refused with its box and exit code 2; fine.txt, written
    before it, kept; nothing else written in or beside the destination."""
    cases = []
    for n, (what, name) in enumerate(HOSTILE_NAMES):
        def exe(w, n=n, name=name):
            archive = os.path.join(w.folder, "hostile%d.zip" % n)
            write_hostile_zip(name, archive)
            # Read and stored in code page 1252, unflagged, as the writer meant them.
            return w.wrap("hostile%d" % n, archive, "--ansi-names", "--zip-codepage", "1252")

        def target(w, n=n):
            return os.path.join(w.folder, "zone%d" % n, "out")

        def kept_fine_only(w, target=target):
            zone = os.path.dirname(target(w))
            found = sorted(os.path.relpath(os.path.join(d, f), zone) for d, _, fs in os.walk(zone) for f in fs)
            expect(found == ["out/fine.txt"], "wrote %r" % found)

        shown = name.decode("utf-8", "surrogateescape")  # as the robot's transcript is read
        cases.append(Case("refused: %s" % what, exe, [Box(UNSAFE_NAME % shown, icon="error", owner="yes")],
                          EXIT_ERROR_BOX, actions=["--when", "unsafe file name", "--click", "OK"],
                          args=lambda w, target=target: ["/auto", windows_path(target(w))], after=kept_fine_only,
                          unattended=True))
    return cases
