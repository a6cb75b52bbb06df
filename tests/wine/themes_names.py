"""Names in every script under Wine: entries stored in UTF-8 (flag bit 11)
come out under their own names through the wide API, whether built from a
folder or wrapped from an archive Python's zipfile made; the overwrite
question and an error box show them exactly; archives whose names are in code
page 437 or 932 come out right when wrapped; hostile UTF-8 names are refused
before anything is written. The robot reads the windows as wide text (--utf8)
and Wine writes the files with UTF-8 names on the Linux side, so both compare
exactly with the names as written here."""
import os
import shutil
import zipfile

from wine_cases import *  # noqa: F401,F403 (the vocabulary of every theme)
from themes_password import same_tree

UNSAFE_NAME = "Zip file contains an unsafe file name: %s - unzip operation cancelled."
OVERWRITE = "File %s already exists.  Overwrite file?"
CANNOT_CREATE = "Can't create output file: %s"
NO_WIDE_NAMES = ("Zip file contains Unicode file names, which this version of Windows cannot create - unzip "
                 "operation cancelled.")

# The names of the table; "LONG" stands for a name that makes the path under
# the destination folder 240 characters long.
SCRIPT_NAMES = ["café.txt", "naïve résumé.txt", "Отчёт.txt", "日本語.txt", "Ελληνικά.txt", "emoji-😀.txt",
                "папка/файл.txt", "LONG"]
LONG_PATH = 240


def long_name(target):
    """A name that makes windows_path(target)\\name LONG_PATH characters long."""
    room = LONG_PATH - len(windows_path(target)) - 1
    expect(10 < room < 190, "no room for the long name under %s" % target)
    return "é" * 4 + "l" * (room - 8) + ".txt"


def script_tree(w, target):
    """The table's files, each holding its own name, for a destination."""
    folder = os.path.join(w.folder, "scripts-" + os.path.basename(target))
    if not os.path.isdir(folder):
        for name in SCRIPT_NAMES:
            name = long_name(target) if name == "LONG" else name
            path = os.path.join(folder, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w", encoding="utf-8") as f:
                f.write(name)
    return folder


def python_zip(source, archive):
    """The folder's files in an archive made by Python's zipfile (UTF-8 names, flagged)."""
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
        for parent, _, files in sorted(os.walk(source)):
            for name in sorted(files):
                path = os.path.join(parent, name)
                z.write(path, os.path.relpath(path, source))
    return archive


def raw_name_zip(names, archive):
    """Entries named by raw bytes, unflagged, as a DOS or Windows writer in an
    OEM code page stores them: written under ASCII stand-ins of the same
    length whose bytes are then replaced in both headers. Each entry holds
    its index."""
    stand_ins = [("%0*d" % (len(name), n)).encode() for n, name in enumerate(names)]
    with zipfile.ZipFile(archive, "w") as z:
        for n, stand_in in enumerate(stand_ins):
            z.writestr(stand_in.decode(), "entry %d\r\n" % n)
    data = open(archive, "rb").read()
    for stand_in, name in zip(stand_ins, names):
        expect(data.count(stand_in) == 2, "the stand-in name is not found twice")
        data = data.replace(stand_in, name)
    with open(archive, "wb") as f:
        f.write(data)
    return archive


def files_named(target, names):
    """target holds exactly these files (relative paths), each with its entry's index."""
    def check(w):
        found = sorted(os.path.relpath(os.path.join(d, f), target) for d, _, fs in os.walk(target) for f in fs)
        expect(found == sorted(names), "extracted %r, wanted %r" % (found, sorted(names)))
        for n, name in enumerate(names):
            expect(open(os.path.join(target, name), "rb").read() == b"entry %d\r\n" % n, "%s holds another entry" % name)
    return check


def theme_utf8_names():
    """UTF-8 names through the real stub and the wide API."""
    def target(w, name): return os.path.join(w.folder, "out-" + name)
    def unattended(name): return lambda w: ["/auto", windows_path(target(w, name))]
    def from_folder(w): return w.build("scripts", source=script_tree(w, target(w, "folder")))
    def wrapped(w):
        source = script_tree(w, target(w, "wrapped"))
        return w.wrap("pyscripts", python_zip(source, os.path.join(w.folder, "pyscripts.zip")))

    # Two files, the first already in the destination: the question names it.
    def two_files_as(exe_name, *options):
        def build(w):
            source = os.path.join(w.folder, "two-src")
            if not os.path.isdir(source):
                os.makedirs(source)
                for name in ("Отчёт.txt", "emoji-😀.txt"):
                    with open(os.path.join(source, name), "w", encoding="utf-8") as f:
                        f.write(name)
            return w.build(exe_name, *options, source=source)
        return build
    two_files = two_files_as("two")
    two_files_overwriting = two_files_as("two-over", "--overwrite")  # no question before the error
    def existing(name, as_folder=False):
        def prepare(w):
            folder = target(w, name)
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)
            if as_folder:  # a folder where the file goes: it cannot be created
                os.makedirs(os.path.join(folder, "emoji-😀.txt"))
            else:
                with open(os.path.join(folder, "Отчёт.txt"), "w", encoding="utf-8") as f:
                    f.write("old")
            return folder
        return prepare
    def asked(w):
        shown = windows_path(os.path.join(target(w, "asked"), "Отчёт.txt"))
        return [MainDialog(), Box(OVERWRITE % shown, buttons=["Yes", "No", "Cancel"], owner="yes"), counted(1),
                Back(TITLE + " - two.exe")]
    def blocked_then_ok(w):
        existing("blocked", as_folder=True)(w)
        return ["--utf8", "--when", "create output file", "--click", "OK"]
    def refused(w):
        shown = windows_path(os.path.join(target(w, "blocked"), "emoji-😀.txt"))
        return [Box(CANNOT_CREATE % shown, icon="error", owner="yes")]

    # Names in code page 437 (unflagged: the ZIP format's own code page) and
    # 932 (named with --zip-codepage), each with what it must become.
    cp437 = ["filename_with_æoå.txt", "Ñandú/café.txt"]
    cp932 = ["日本語.txt", "表/ソ.txt"]
    def cp437_zip(w):
        archive = raw_name_zip([n.encode("cp437") for n in cp437], os.path.join(w.folder, "cp437.zip"))
        return w.wrap("cp437", archive)
    def cp932_zip(w):
        archive = raw_name_zip([n.encode("cp932") for n in cp932], os.path.join(w.folder, "cp932.zip"))
        return w.wrap("cp932", archive, "--zip-codepage", "932")

    # Windows 98 (Wine's per-program version): no wide API, so a UTF-8 entry
    # ends the run in words; the plain entry before it is written.
    def on_windows_98(w):
        source = os.path.join(w.folder, "w98-src")
        if not os.path.isdir(source):
            os.makedirs(source)
            for name in ("a-plain.txt", "b-café.txt"):
                with open(os.path.join(source, name), "w", encoding="utf-8") as f:
                    f.write(name)
        exe = w.build("win98names", source=source)
        wine_run("reg", "add", "HKCU\\Software\\Wine\\AppDefaults\\win98names.exe", "/v", "Version", "/t",
                 "REG_SZ", "/d", "win98", "/f")
        return exe

    return [
        Case("Windows 98 has no wide API: the UTF-8 entry is refused in words", on_windows_98,
             [Box(NO_WIDE_NAMES, icon="error", owner="yes")], EXIT_ERROR_BOX,
             actions=["--when", "Unicode file names", "--click", "OK"], args=unattended("w98"), unattended=True,
             after=lambda w: expect(sorted(os.listdir(target(w, "w98"))) == ["a-plain.txt"],
                                    "wrote %r" % os.listdir(target(w, "w98")))),
        Case("names in every script, built from a folder", from_folder, None, EXIT_NORMAL,
             actions=["--utf8", "--read"], args=unattended("folder"),
             after=lambda w: same_tree(script_tree(w, target(w, "folder")), target(w, "folder"))),
        Case("names in every script, wrapped from Python's zipfile", wrapped, None, EXIT_NORMAL,
             actions=["--utf8", "--read"], args=unattended("wrapped"),
             after=lambda w: same_tree(script_tree(w, target(w, "wrapped")), target(w, "wrapped"))),
        Case("the overwrite question names the file as it is", two_files, asked, EXIT_NORMAL,
             actions=lambda w: ["--utf8", "--type", str(FOLDER_ID), windows_path(existing("asked")(w)),
                                "--click", "Unzip", "--click", "No", "--click", "OK", "--back", "--click", "Close"],
             after=lambda w: expect(open(os.path.join(target(w, "asked"), "Отчёт.txt")).read() == "old",
                                    "the existing file was replaced")),
        Case("an error box names the file as it is", two_files_overwriting, refused, EXIT_ERROR_BOX,
             actions=blocked_then_ok, args=unattended("blocked"), unattended=True),
        Case("code page 437 names, unflagged", cp437_zip, None, EXIT_NORMAL, actions=["--read"],
             args=unattended("cp437"), after=lambda w: files_named(target(w, "cp437"), cp437)(w)),
        Case("code page 932 names with --zip-codepage 932", cp932_zip, None, EXIT_NORMAL, actions=["--read"],
             args=unattended("cp932"), after=lambda w: files_named(target(w, "cp932"), cp932)(w)),
    ]


# UTF-8 names that are unsafe once decoded, or once a best-fit conversion to
# ANSI folds their full-width forms; each flagged UTF-8. (Ill-formed UTF-8,
# overlong forms and surrogates among them, is refused by the builder itself
# and by the stub; the unit tests give those to the stub's engine directly.)
HOSTILE_UTF8_NAMES = [
    ("'..' full-width", "．．/evil.txt"),
    ("a full-width solidus around '..'", "a／..／evil.txt"),
    ("CON full-width", "ＣＯＮ.txt"),
    ("CON behind a folder", "папка/con.txt"),
    ("a drive prefix", "C:évil.txt"),
    ("a full-width colon", "C：evil.txt"),
    ("COM with a superscript one", "COM¹"),
    ("a trailing ideographic space", "名前　"),
]


def theme_hostile_utf8_names():
    """Each hostile UTF-8 name refused with the unsafe-name box, showing the
    name as it is, and exit code 2; fine.txt, before it, kept; nothing else
    written."""
    cases = []
    for n, (what, name) in enumerate(HOSTILE_UTF8_NAMES):
        def exe(w, n=n, name=name):
            archive = os.path.join(w.folder, "hostile-utf8-%d.zip" % n)
            with zipfile.ZipFile(archive, "w") as z:  # zipfile flags every name that is not ASCII
                z.writestr("fine.txt", "written before the hostile name\r\n")
                z.writestr(name, "hostile")
            return w.wrap("hostile-utf8-%d" % n, archive)

        def target(w, n=n):
            return os.path.join(w.folder, "utf8zone%d" % n, "out")

        def kept_fine_only(w, target=target):
            zone = os.path.dirname(target(w))
            found = sorted(os.path.relpath(os.path.join(d, f), zone) for d, _, fs in os.walk(zone) for f in fs)
            expect(found == ["out/fine.txt"], "wrote %r" % found)

        cases.append(Case("refused: %s" % what, exe, [Box(UNSAFE_NAME % name, icon="error", owner="yes")],
                          EXIT_ERROR_BOX, actions=["--utf8", "--when", "unsafe file name", "--click", "OK"],
                          args=lambda w, target=target: ["/auto", windows_path(target(w))], after=kept_fine_only,
                          unattended=True))
    return cases
