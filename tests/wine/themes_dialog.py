"""Themes of the main dialog at work: unattended runs and the command line,
the dialog's own commands, the overwrite question, the abort question and the
progress meter, and the default folder."""
import contextlib
import os
import shutil
import subprocess
import time
import zipfile

from wine_cases import *  # noqa: F401,F403 (the vocabulary of every theme)

# Archives written here store local times; the stub writes them back through
# the same zone (the Wine runs have TZ=UTC too).
os.environ["TZ"] = "UTC"
time.tzset()

ABORT_QUESTION = "Abort unzip operation?"
NO_FOLDER = "No folder specified."
ABOUT = "Dravik Self-Extractor\n\nMade by the Dravik team."
KEY_A = "0x41"  # any key pressed on the dialog during a run asks the abort question
KEY_ENTER = "0x0D"
SOURCE_FILES = 3  # files in the workshop's source tree


def overwrite_question(path):
    return Box("File %s already exists.  Overwrite file?" % windows_path(path), buttons=["Yes", "No", "Cancel"],
               owner="yes")


# ---- archives written by other tools ---------------------------------------------------

def zip_tool(*options):
    def make(source, archive):
        subprocess.run(["zip", "-q", "-r", "-X"] + list(options) + [archive, "."], cwd=source, check=True)
    return make


def seven_zip(*options):
    def make(source, archive):
        subprocess.run(["7z", "a", "-tzip", "-bd", "-bso0"] + list(options) + [archive, "."], cwd=source,
                       check=True)
    return make


def python_zipfile(method):
    def make(source, archive):
        with zipfile.ZipFile(archive, "w", method) as out:
            for folder, _, files in sorted(os.walk(source)):
                for name in sorted(files):
                    path = os.path.join(folder, name)
                    out.write(path, os.path.relpath(path, source))
    return make


PEER_ARCHIVES = [
    ("zip, stored", zip_tool("-0")),
    ("zip, deflated", zip_tool("-9")),
    ("7z, stored", seven_zip("-mx0")),
    ("7z, deflated", seven_zip("-mx9", "-mm=Deflate")),
    ("zipfile, stored", python_zipfile(zipfile.ZIP_STORED)),
    ("zipfile, deflated", python_zipfile(zipfile.ZIP_DEFLATED)),
]


def wrapped(name, make_archive):
    """NAME.exe wrapping the archive that make_archive(source folder, zip
    path) writes from the workshop's source tree."""
    def build(w):
        archive = os.path.join(w.folder, name + ".zip")
        if name not in w.built:
            make_archive(w.source, archive)
        return w.wrap(name, archive)
    return build


def built(name, *options):
    return lambda w: w.build(name, *options)


def in_workshop(*parts):
    return lambda w: os.path.join(w.folder, *parts)


# ---- unattended runs and the command line ------------------------------------------------

def theme_unattended():
    """"/auto FOLDER" extracts everything, dated, with no box, and ends by
    itself, whichever tool wrote the archive; the builder's --auto does the
    same unless the command line says NOAUTO."""
    def auto_into(folder):
        return lambda w: ["/auto", windows_path(os.path.join(w.folder, folder))]
    def extracted_into(folder):
        return lambda w: compare_trees(w.source, os.path.join(w.folder, folder))
    cases = [
        Case("/auto, archive by " + tool, wrapped("peer%d" % n, make), None, EXIT_NORMAL, actions=["--read"],
             args=auto_into("out%d" % n), after=extracted_into("out%d" % n))
        for n, (tool, make) in enumerate(PEER_ARCHIVES)
    ]
    # The builder's encoder at its two ends: libdeflate's fastest and its
    # near-optimal parse.
    cases += [
        Case("/auto, libdeflate level %d (build --level %d)" % (level, level), built("level%d" % level, "--level",
                                                                                    str(level)),
             None, EXIT_NORMAL, actions=["--read"], args=auto_into("level%d" % level),
             after=extracted_into("level%d" % level))
        for level in (1, 12)
    ]
    def built_auto(name, folder):
        return lambda w: w.build(name, "--auto", "--folder", windows_path(os.path.join(w.folder, folder)))
    cases += [
        Case("builder's --auto into its folder", built_auto("autobuilt", "builder folder"), None, EXIT_NORMAL,
             actions=["--read"], after=extracted_into("builder folder")),
        Case("/noauto against the builder's --auto: the dialog, nothing extracted",
             built_auto("noauto", "never"), [MainDialog()], EXIT_NORMAL, args=["/noauto"],
             after=lambda w: expect(not os.path.exists(os.path.join(w.folder, "never")), "/noauto extracted")),
    ]
    return cases


def theme_command_line():
    """The option word: its introducers, its case, the folder after it (quoted,
    unquoted with blanks, glued to the word), and words it ignores. The tail
    is given to the program exactly as written here."""
    plain = built("cmd")
    def tail(text): return lambda w: ["--read", "--tail", text.replace("@", windows_path(w.folder))]
    def has_tree(*folder): return lambda w: compare_trees(w.source, os.path.join(w.folder, *folder))
    dialog = [MainDialog()]
    close = ["--click", "Close"]
    return [
        # name, tail (@ is this theme's folder), what must follow
        Case("-Auto with a quoted folder, then -x", plain, None, EXIT_NORMAL,
             actions=tail('-Auto "@\\quoted out" -x'), after=has_tree("quoted out")),
        Case("/AUTO with an unquoted folder with blanks: the whole rest", plain, None, EXIT_NORMAL,
             actions=tail("/AUTO @\\my files -x"), after=has_tree("my files -x")),
        Case("an opening quote without a closing one takes the rest", plain, None, EXIT_NORMAL,
             actions=tail('/auto "@\\open quote'), after=has_tree("open quote")),
        Case("/autoFOLDER: the folder is part of the upper-cased word", plain, None, EXIT_NORMAL,
             actions=tail("/auto@\\glued"), after=has_tree("GLUED")),
        Case("/automatic: the folder MATIC, beside the program", plain, None, EXIT_NORMAL,
             actions=tail("/automatic"), after=has_tree("MATIC")),
        Case("/au is too short", plain, dialog, EXIT_NORMAL, actions=close + ["--tail", "/au"]),
        Case("/help is no option", plain, dialog, EXIT_NORMAL, actions=close + ["--tail", "/help"]),
        Case("only the first introducer counts: c:\\my-dir /auto", plain, dialog, EXIT_NORMAL,
             actions=close + ["--tail", "c:\\my-dir /auto"]),
    ]


# ---- the dialog's own commands -----------------------------------------------------------

def theme_main_dialog():
    """The dialog as initialised (title, prompt, folder, the name-length rule,
    the builder's caption), and its commands: Unzip with the count box, Enter
    closing afterwards, an empty folder, About, Browse cancelled."""
    def target(w): return windows_path(os.path.join(w.folder, "typed"))
    def unzip_into(folder):
        return lambda w: ["--type", str(FOLDER_ID), windows_path(os.path.join(w.folder, folder)), "--click", "Unzip"]
    named = built
    name24, name25 = "twenty-four-characters.exe"[2:], "twenty-five-characters.exe"[1:]
    assert len(name24) == 24 and len(name25) == 25
    return [
        Case("title, prompt and the folder from TMP", named("layout"),
             [MainDialog(title=TITLE + " - layout.exe", prompt=unzip_prompt("layout.exe"), folder="C:\\TMPX",
                         meter=False, status="")], EXIT_NORMAL,
             actions=["--setenv", "TMP", "C:\\TMPX", "--click", "Close"]),
        Case("a name of 24 characters is in the prompt", named(name24[:-4]),
             [MainDialog(title=TITLE + " - " + name24, prompt=unzip_prompt(name24))], EXIT_NORMAL),
        Case("a name of 25 characters is not, the title has it whole", named(name25[:-4]),
             [MainDialog(title=TITLE + " - " + name25, prompt=unzip_prompt("this self-extractor file"))],
             EXIT_NORMAL),
        Case("--caption-title with a caption", named("captioned", "--caption", "Foo Setup", "--caption-title"),
             [MainDialog(title="Foo Setup")], EXIT_NORMAL),
        Case("--caption-title without a caption: Setup", named("setup", "--caption-title"),
             [MainDialog(title="Setup")], EXIT_NORMAL),
        Case("Unzip: the count in a box, then Enter closes (Close is the default)", named("unzip"),
             [MainDialog(), counted(SOURCE_FILES), Back(TITLE + " - unzip.exe")], EXIT_NORMAL,
             actions=lambda w: unzip_into("typed")(w) + ["--click", "OK", "--back", "--read", "--then-key", KEY_ENTER],
             after=lambda w: compare_trees(w.source, os.path.join(w.folder, "typed"))),
        Case("Unzip twice in one run", named("unzip"),
             [MainDialog(), counted(SOURCE_FILES), Back(TITLE + " - unzip.exe"), counted(SOURCE_FILES),
              Back(TITLE + " - unzip.exe")], EXIT_NORMAL,
             actions=lambda w: unzip_into("twice")(w) + ["--click", "OK", "--back", "--type", str(FOLDER_ID),
                                                         windows_path(os.path.join(w.folder, "twice", "again")),
                                                         "--click", "Unzip", "--click", "OK", "--back",
                                                         "--click", "Close"],
             after=lambda w: compare_trees(w.source, os.path.join(w.folder, "twice", "again"))),
        Case("an empty folder: No folder specified.", named("unzip"),
             [MainDialog(), Box(NO_FOLDER, icon="error", owner="yes"), Back(TITLE + " - unzip.exe")], EXIT_NORMAL,
             actions=["--type", str(FOLDER_ID), "", "--click", "Unzip", "--click", "OK", "--back", "--click", "Close"]),
        Case("About", named("unzip"), [MainDialog(), Box(ABOUT, owner="yes"), Back(TITLE + " - unzip.exe")],
             EXIT_NORMAL, actions=["--click", "About", "--click", "OK", "--back", "--click", "Close"]),
        Case("Browse, then Cancel: the typed folder stays", named("unzip"),
             [MainDialog(), FolderBrowser(), Back(TITLE + " - unzip.exe"), counted(SOURCE_FILES),
              Back(TITLE + " - unzip.exe")], EXIT_NORMAL,
             actions=lambda w: ["--type", str(FOLDER_ID), windows_path(os.path.join(w.folder, "kept")),
                                "--click", "Browse...", "--click", "Cancel", "--back", "--click", "Unzip",
                                "--click", "OK", "--back", "--click", "Close"],
             after=lambda w: compare_trees(w.source, os.path.join(w.folder, "kept"))),
    ]


class FolderBrowser:
    """The shell's folder browser, owned by the dialog, titled with the
    dialog's own text."""

    def check(self, window):
        expect(not window.back and window.cls == "#32770", "%r, wanted the folder browser" % window)
        expect(window.owner == "yes", "the folder browser has no owner")
        expect("Unzip to Folder:" in window.texts(), "texts %r, wanted 'Unzip to Folder:'" % window.texts())
        expect("Cancel" in window.buttons(), "no Cancel in %r" % window)


# ---- the overwrite question ----------------------------------------------------------------

def theme_overwrite():
    """An existing file asks before it is replaced: Yes replaces it, No keeps
    it (and it is not counted), Cancel ends the run with no further box; the
    builder's --overwrite (the box checked) never asks."""
    OLD = b"old contents\n"
    def existing(folder):
        def prepare(w):
            target = os.path.join(w.folder, folder)
            shutil.rmtree(target, ignore_errors=True)
            os.makedirs(target)
            with open(os.path.join(target, "readme.txt"), "wb") as f:
                f.write(OLD)
            return target
        return prepare
    def run_into(folder, *answers):
        def actions(w):
            target = existing(folder)(w)
            return ["--type", str(FOLDER_ID), windows_path(target), "--click", "Unzip"] + list(answers)
        return actions
    def kept(folder):
        readme = os.path.join(folder, "readme.txt")
        return lambda w: expect(open(os.path.join(w.folder, readme), "rb").read() == OLD,
                                "the existing file was replaced")
    def replaced(folder):
        return lambda w: compare_trees(w.source, os.path.join(w.folder, folder))
    def asked(folder, *after):
        return lambda w: [MainDialog(), overwrite_question(os.path.join(w.folder, folder, "readme.txt"))] + list(after)
    back = Back(TITLE + " - plain.exe")
    plain = built("plain")
    return [
        Case("Yes replaces the file", plain, asked("yes", counted(SOURCE_FILES), back),
             EXIT_NORMAL, actions=run_into("yes", "--click", "Yes", "--click", "OK", "--back", "--click", "Close"),
             after=replaced("yes")),
        Case("No keeps it and does not count it", plain, asked("no", counted(SOURCE_FILES - 1), back),
             EXIT_NORMAL, actions=run_into("no", "--click", "No", "--click", "OK", "--back", "--click", "Close"),
             after=kept("no")),
        Case("Cancel ends the run: no further box, the dialog closes", plain, asked("cancel"),
             EXIT_DECLINED, actions=run_into("cancel", "--click", "Cancel"), after=kept("cancel")),
        Case("the box checked by the builder: no question", built("overwriting", "--overwrite"),
             [MainDialog(), counted(SOURCE_FILES), Back(TITLE + " - overwriting.exe")], EXIT_NORMAL,
             actions=run_into("checked", "--click", "OK", "--back", "--click", "Close"), after=replaced("checked")),
    ]


# ---- the abort question and the progress meter ------------------------------------------

METER_AT_ONCE = 0x80000  # an end record at this offset or beyond shows the meter at once


def with_end_record_at(name, offset):
    """NAME.exe holding one stored file of random bytes, sized so that the
    archive's end record stands exactly at offset."""
    def build(w):
        out = os.path.join(w.folder, name + ".exe")
        if os.path.exists(out):
            return out
        source = os.path.join(w.folder, name + "-src")
        os.makedirs(source, exist_ok=True)
        padding = os.path.join(source, "padding.bin")
        size = offset // 2
        for _ in range(2):  # stored data: the end record moves with the file's size
            with open(padding, "wb") as f:
                f.write(random_bytes(size))
            build_sfx(out, ["--level", "0", "-C", source, "."])
            size += offset - end_record_offset(out)
        expect(end_record_offset(out) == offset, "%s.exe: end record at %d, wanted %d" % (
            name, end_record_offset(out), offset))
        return out
    return build


def end_record_offset(exe):
    data = open(exe, "rb").read()
    return record_u32(data, RECORD_END_RECORD_OFFSET)


def many_empty_files_then_data(name, empty_files):
    """NAME.exe, under the meter's size, whose run spends a while on empty
    files (no bytes written, so the meter's third is never reached) before
    one file with data."""
    def make(source, archive):
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_STORED) as out:
            for n in range(empty_files):
                out.writestr("e%04d" % n, b"")
            out.writestr("tail.bin", random_bytes(100000))
    return wrapped(name, make)


def theme_abort_and_meter():
    """A key pressed on the dialog during a run asks whether to abort: Yes
    ends the run and the dialog (exit 1), No lets it finish. The abort
    question also shows whether the meter stands in the status line's place:
    at once for an archive whose end record is at 512 KiB or more, not yet
    below that; and a run still busy when the 500 ms timer fires shows it
    then (the status line, once replaced, stays hidden)."""
    def unzip_into(folder, *rest):
        return lambda w: ["--type", str(FOLDER_ID), windows_path(os.path.join(w.folder, folder)),
                          "--click", "Unzip", "--then-key", KEY_A] + list(rest)
    def abort_asked(meter):
        return Box(ABORT_QUESTION, icon="question", buttons=["Yes", "No"], owner="yes",
                   behind=None if meter is None else MainDialog(meter=meter))
    def finished(name, count, status_line):
        """The count box, with the status line behind it: HIDDEN when the
        meter has shown during the run, else the count."""
        return [counted(count, behind=MainDialog(meter=False, status=status_line)), Back(TITLE + " - %s.exe" % name)]
    large = with_end_record_at("atonce", METER_AT_ONCE)
    below = with_end_record_at("below", METER_AT_ONCE - 1)
    no_then_close = ["--peek", "--click", "No", "--peek", "--click", "OK", "--back", "--click", "Close"]
    def quiet_unzip_into(folder):
        return lambda w: ["--type", str(FOLDER_ID), windows_path(os.path.join(w.folder, folder)), "--click", "Unzip",
                          "--peek", "--click", "OK", "--back", "--click", "Close"]
    return [
        Case("Yes ends the run and the dialog", built("plain"), [MainDialog(), abort_asked(None)], EXIT_DECLINED,
             actions=unzip_into("aborted", "--click", "Yes")),
        Case("No lets the run finish", built("plain"),
             [MainDialog(), abort_asked(None)] + finished("plain", SOURCE_FILES, None), EXIT_NORMAL,
             actions=unzip_into("finished", *no_then_close),
             after=lambda w: compare_trees(w.source, os.path.join(w.folder, "finished"))),
        Case("end record at 512 KiB: the meter at once", large,
             [MainDialog(), abort_asked(True)] + finished("atonce", 1, HIDDEN), EXIT_NORMAL,
             actions=unzip_into("large", *no_then_close)),
        Case("end record one byte below, a quick run: the meter never shows", below,
             [MainDialog()] + finished("below", 1, unzipped(1)), EXIT_NORMAL, actions=quiet_unzip_into("below")),
        # Enough files that even a fast machine is still busy when the
        # timer fires: each empty file costs a few Wine server round trips.
        Case("a slow small run: the meter after the timer", many_empty_files_then_data("slow", 2500),
             [MainDialog()] + finished("slow", 2501, HIDDEN), EXIT_NORMAL, actions=quiet_unzip_into("slow")),
    ]


# ---- the default folder ------------------------------------------------------------------

@contextlib.contextmanager
def windows_temp_replaced_by(make):
    """The prefix's Windows\\TEMP folder moved aside for the case, and
    make(path) called to put something (or nothing) in its place."""
    windows = os.path.join(wine_env()["WINEPREFIX"], "drive_c", "windows")
    existing = [name for name in os.listdir(windows) if name.lower() == "temp"]
    aside = os.path.join(windows, "temp.aside")
    for name in existing:
        os.rename(os.path.join(windows, name), aside)
    try:
        make(os.path.join(windows, "TEMP"))
        yield
    finally:
        for name in os.listdir(windows):
            if name.lower() == "temp":
                path = os.path.join(windows, name)
                shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
        if existing:
            os.rename(aside, os.path.join(windows, existing[0]))


def theme_default_folder():
    """With no folder from the builder or the command line, the field shows
    TMP, else TEMP, else the Windows folder's TEMP (made when missing); one
    trailing separator goes unless the value is a drive's root. "." from the
    builder shows the program's own folder."""
    plain = built("plain")
    def shows(folder): return [MainDialog(folder=folder)]
    no_variables = ["--unsetenv", "TMP", "--unsetenv", "TEMP"]
    def with_env(*settings): return list(settings) + ["--click", "Close"]
    def windows_temp_made(w):
        windows = os.path.join(wine_env()["WINEPREFIX"], "drive_c", "windows")
        expect(os.path.isdir(os.path.join(windows, "TEMP")), "Windows\\TEMP was not made")
    return [
        Case("TMP with a trailing separator", plain, shows("C:\\TMPX"), EXIT_NORMAL,
             actions=with_env("--setenv", "TMP", "C:\\TMPX\\")),
        Case("TMP a drive's root keeps its separator", plain, shows("C:\\"), EXIT_NORMAL,
             actions=with_env("--setenv", "TMP", "C:\\")),
        Case("TMP empty: TEMP", plain, shows("C:\\TEMPY"), EXIT_NORMAL,
             actions=with_env("--setenv", "TMP", "", "--setenv", "TEMP", "C:\\TEMPY")),
        Case("TMP unset: TEMP", plain, shows("C:\\TEMPY"), EXIT_NORMAL,
             actions=with_env("--unsetenv", "TMP", "--setenv", "TEMP", "C:\\TEMPY")),
        Case("neither: the Windows folder's TEMP", plain, shows("C:\\windows\\TEMP"), EXIT_NORMAL,
             actions=with_env(*no_variables)),
        Case("neither, the Windows folder's TEMP missing: made", plain, shows("C:\\windows\\TEMP"), EXIT_NORMAL,
             actions=with_env(*no_variables), within=lambda w: windows_temp_replaced_by(lambda path: None),
             after=windows_temp_made),
        Case("neither, a file named TEMP there: no folder, and Unzip says so", plain,
             [MainDialog(folder=""), Box(NO_FOLDER, icon="error", owner="yes"), Back(TITLE + " - plain.exe")],
             EXIT_NORMAL, actions=no_variables + ["--click", "Unzip", "--click", "OK", "--back", "--click", "Close"],
             within=lambda w: windows_temp_replaced_by(lambda path: open(path, "w").close())),
        Case("\".\" from the builder: the program's folder", built("here", "--folder", "."),
             lambda w: shows(windows_path(w.folder)), EXIT_NORMAL, actions=["--click", "Close"]),
        Case("the builder's folder shown as it is", built("given", "--folder", "C:\\Program Files\\Foo\\"),
             shows("C:\\Program Files\\Foo\\"), EXIT_NORMAL, actions=["--click", "Close"]),
    ]
