"""Themes of encrypted archives, the launching buttons and double-byte names:
the password dialog before a run, Help and Run archiver, and names in code
page 932 whose trail bytes look like a backslash."""
import os
import shutil
import subprocess
import time

from wine_cases import *  # noqa: F401,F403 (the vocabulary of every theme)

PASSWORD = "Open sesame 7"  # a blank inside, as users type them
WRONG_PASSWORD = "open sesame 7"
PASSWORD_PROMPT = "This self-extracting Zip file is password protected.\n\nPlease type the &password:"
WRONG_PASSWORD_TEXT = "Incorrect password specified"
LONGEST_PASSWORD = 254  # characters the dialog keeps
ARCHIVER_MISSING = ("The Dravik archiver is not installed on this computer.\n\nDravik opens, creates and changes "
                    "Zip files; install it to look inside this self-extractor or to unzip only some of its files.")
HELP_TEXT = ("To unzip all files in %s press the \"Unzip\" button. Files will be unzipped to the folder "
             "specified in the \"Unzip To Folder\" field. This folder will be created if it does not "
             "exist.\n\nYou can also unzip this file with a standard zip utility like Dravik.")
VK_RETURN, VK_ESCAPE = 0x0D, 0x1B


class PasswordDialog:
    """The password dialog: its title, prompt, empty field and buttons, owned
    by the main dialog, centred on the screen."""

    def check(self, window):
        expect(not window.back and window.cls == "#32770", "%r, wanted the password dialog" % window)
        expect(window.title == TITLE + " - Password", "title %r, wanted the password dialog's" % window.title)
        expect(window.texts() == [PASSWORD_PROMPT], "prompt %r" % window.texts())
        expect(("edit", 402, "") in window.controls, "no empty password field in %r" % window)
        expect(window.buttons() == ["OK", "Cancel"], "buttons %r" % window.buttons())
        expect(window.owner == "yes", "the password dialog has no owner")
        expect_centred(window)


def main_back(name):
    return Back("%s - %s.exe" % (TITLE, name))


def settled_back(name):
    """The main dialog back after a box, seen again once its command has
    ended: Help is asked for and answered, and the dialog, back after the Help
    box, must have Unzip enabled. (The dialog is enabled again as its box
    closes, a moment before the command that showed the box re-enables Unzip;
    Help is only handled once that command has returned.)"""
    windows = [main_back(name), Box(HELP_TEXT % (name + ".exe"), owner="yes"),
               Back("%s - %s.exe" % (TITLE, name), enabled=["Unzip"])]
    actions = ["--back", "--click", "Help", "--click", "OK", "--back"]
    return windows, actions


def tool_env():
    """Other tools write DOS times in local time: UTC, as the runs use."""
    return dict(os.environ, TZ="UTC")


def files_under(folder):
    """The files and folders under folder, as relative paths."""
    found = set()
    for parent, folders, files in os.walk(folder):
        found.update(os.path.relpath(os.path.join(parent, n), folder) for n in folders + files)
    return found


def same_tree(source, target):
    """target holds exactly source's files and folders, with their bytes and dates."""
    compare_trees(source, target)
    expect(files_under(target) == files_under(source), "extracted %s, wanted %s" % (
        sorted(files_under(target)), sorted(files_under(source))))


def no_files_in(target):
    """Nothing was extracted (folders the run made before it stopped may stay)."""
    if os.path.isdir(target):
        extracted = [p for p in files_under(target) if os.path.isfile(os.path.join(target, p))]
        expect(not extracted, "files were extracted: %s" % extracted)


def zipped_by(name, *command, source=None):
    """NAME.exe wrapping NAME.zip, which a tool writes from a tree: the command
    with {zip} for the archive's path, run in the tree."""
    def make(w):
        zip_file = os.path.join(w.folder, name + ".zip")
        if name not in w.built:
            if os.path.exists(zip_file):
                os.remove(zip_file)
            subprocess.run([part.format(zip=zip_file) for part in command], cwd=source(w) if source else w.source,
                           env=tool_env(), check=True, capture_output=True)
        return w.wrap(name, zip_file)
    return make


# ---- the password dialog ------------------------------------------------------------------

def theme_password():
    """Encrypted archives from three writers (with and without data
    descriptors, whose check byte is the time's), opened with the right
    password, refused with a wrong one; the dialog's OK, Cancel, Enter and
    Escape; its 254-character limit; and a second Unzip in the same process."""
    def target(w, name): return os.path.join(w.folder, "out-" + name)

    def ours(w): return w.build("ours", "--password", PASSWORD)
    by_zip = zipped_by("byzip", "zip", "-q", "-r", "-P", PASSWORD, "{zip}", ".")
    by_7z = zipped_by("by7z", "7z", "a", "-tzip", "-mem=ZipCrypto", "-p" + PASSWORD, "{zip}", ".")

    def unzip_with(password, name):
        return lambda w: ["--type", "106", windows_path(target(w, name)), "--click", "Unzip",
                          "--type", "402", password, "--click", "OK"]

    def opened(label, name, exe, password=PASSWORD, source=lambda w: w.source):
        return Case("%s: the right password" % label, exe,
                    [MainDialog(), PasswordDialog(), counted(3), main_back(name)], EXIT_NORMAL,
                    actions=lambda w: unzip_with(password, name)(w) + ["--click", "OK", "--back", "--click", "Close"],
                    after=lambda w: same_tree(source(w), target(w, name)))

    def refused(label, exe, password, out):
        # The run stops at the first encrypted entry, before its file is made.
        return Case(label, exe, [MainDialog(), PasswordDialog(), Box(WRONG_PASSWORD_TEXT, icon="error", owner="yes")],
                    EXIT_ERROR_BOX, actions=lambda w: unzip_with(password, out)(w) + ["--click", "OK"],
                    after=lambda w: no_files_in(target(w, out)))

    # Passwords at the dialog's limit: only the first 254 characters count.
    typed = "".join(chr(ord("a") + n % 26) for n in range(300))
    def cut_to_limit(w): return w.build("limit", "--password", typed[:LONGEST_PASSWORD])
    def one_over(w): return w.build("oneover", "--password", typed[:LONGEST_PASSWORD + 1])

    # A password with a byte above 127: taken as typed, in code page 1252.
    def accented(w): return w.build("accented", "--password", "Pässwörd")

    settled = settled_back("ours")
    return [
        opened("dravik-sfx --password", "ours", ours),
        opened("zip -P (data descriptors)", "byzip", by_zip),
        opened("7z ZipCrypto", "by7z", by_7z),
        opened("a character above 127", "accented", accented, password="Pässwörd"),
        # The builder's encryption is reproducible, so these wrong passwords
        # fail the check byte on every run (another tool's random header bytes
        # would let one wrong password in 256 through to a CRC error).
        refused("a wrong password", ours, WRONG_PASSWORD, "wrong"),
        opened("300 characters typed, the first 254 kept", "limit", cut_to_limit, password=typed),
        refused("255 characters: the last one is cut off", one_over, typed[:LONGEST_PASSWORD + 1], "oneover"),
        # OK and Enter on an empty field leave the dialog open; Escape cancels:
        # had OK ended it, a run would have started and said so.
        Case("OK and Enter on an empty field, then Escape", ours,
             [MainDialog(), PasswordDialog()] + settled[0], EXIT_NORMAL,
             actions=lambda w: ["--type", "106", windows_path(target(w, "empty")), "--click", "Unzip",
                                "--click", "OK", "--then-key", str(VK_RETURN), "--then-key", str(VK_ESCAPE)]
             + settled[1] + ["--click", "Close"],
             after=lambda w: no_files_in(target(w, "empty"))),
        # Cancel starts no run; Unzip is enabled again, and asks again.
        Case("Cancel, then Unzip again", ours,
             [MainDialog(), PasswordDialog()] + settled[0] + [PasswordDialog(), counted(3), main_back("ours")],
             EXIT_NORMAL,
             actions=lambda w: ["--type", "106", windows_path(target(w, "cancel")), "--click", "Unzip",
                                "--click", "Cancel"] + settled[1] + [
                                "--click", "Unzip", "--type", "402", PASSWORD, "--click", "OK",
                                "--click", "OK", "--back", "--click", "Close"],
             after=lambda w: same_tree(w.source, target(w, "cancel"))),
        second_unzip_case(target),
        Case("a second Unzip after an encrypted last entry asks again; Cancel", ours,
             [MainDialog(), PasswordDialog(), counted(3), main_back("ours"), PasswordDialog()] + settled[0],
             EXIT_NORMAL,
             actions=lambda w: unzip_with(PASSWORD, "again")(w) + [
                 "--click", "OK", "--back", "--type", "106", windows_path(target(w, "again2")), "--click", "Unzip",
                 "--click", "Cancel"] + settled[1] + ["--click", "Close"],
             after=lambda w: (same_tree(w.source, target(w, "again")), no_files_in(target(w, "again2")))),
    ]


def second_unzip_case(target):
    """After a run whose last entry was not encrypted, a second Unzip asks for
    nothing and opens the encrypted entries with the password kept from the
    first."""
    def mixed_source(w):
        folder = os.path.join(w.folder, "mixed-src")
        if not os.path.isdir(folder):
            shutil.copytree(w.source, folder)
            with open(os.path.join(folder, "zz-plain.txt"), "w") as f:
                f.write("Not encrypted, and last.\n")
        return folder

    # Everything else encrypted, then the plain file appended: it is last.
    mixed = zipped_by("mixed", "sh", "-c", 'zip -q -r -P "$0" "{zip}" . -x zz-plain.txt && zip -q "{zip}" zz-plain.txt',
                      PASSWORD, source=mixed_source)

    return Case("a second Unzip after a plain last entry: no dialog, the same password", mixed,
                [MainDialog(), PasswordDialog(), counted(4), main_back("mixed"), counted(4), main_back("mixed")],
                EXIT_NORMAL,
                actions=lambda w: ["--type", "106", windows_path(target(w, "first")), "--click", "Unzip",
                                   "--type", "402", PASSWORD, "--click", "OK", "--click", "OK",
                                   "--back", "--type", "106", windows_path(target(w, "second")), "--click", "Unzip",
                                   "--click", "OK", "--back", "--click", "Close"],
                after=lambda w: [same_tree(mixed_source(w), target(w, n)) for n in ("first", "second")])


# ---- Help and Run archiver ---------------------------------------------------------------



def theme_launching():
    """Help names the file. Run archiver hands the self-extractor, by its full
    path in double quotes, to the program registered as the archiver's open
    command (record_command stands in for it) and ends the dialog; with none
    registered, with Shift held, or when the program cannot start, it shows
    the not-installed box and the dialog stays. The last case leaves the
    prefix with no archiver registered, as the other themes expect."""
    name = "launch me"  # a blank in the path: the quotes matter
    def sfx(w): return w.build(name)
    def sfx_path(w): return windows_path(os.path.join(w.folder, name + ".exe"))
    back = main_back(name)
    missing = Box(ARCHIVER_MISSING, owner="yes")

    def with_archiver(command_of, folder="tools"):
        """The self-extractor, with the archiver's command (a function of
        record_command's path) registered."""
        def make(w):
            register_archiver(command_of(recorder(w, folder)))
            return sfx(w)
        return make

    def without_archiver(w):
        unregister_archiver()
        return sfx(w)

    def handed_over(label, command_of, wanted_of, folder="tools"):
        """The registered command, and the command line the program must get."""
        return Case(label, with_archiver(command_of, folder), [MainDialog()], EXIT_NORMAL,
                    actions=["--click", "Run Dravik"],
                    after=lambda w: expect_recorded(w, folder, wanted_of(recorder_path(w, folder), sfx_path(w))))

    def not_installed(label, exe, actions=("--click", "Run Dravik")):
        # Nothing was started. A program started late might not have written
        # its record yet, so this can miss a fault but never fails a sound run.
        return Case(label, exe, [MainDialog(), missing, back], EXIT_NORMAL,
                    actions=list(actions) + ["--click", "OK", "--back", "--click", "Close"],
                    after=lambda w: expect(not os.path.exists(os.path.join(w.folder, "tools", "record_command.txt")),
                                           "the archiver was started"))

    def help_case(label, exe_of, shown_name, title_name):
        return Case(label, exe_of, [MainDialog(), Box(HELP_TEXT % shown_name, owner="yes"), main_back(title_name)],
                    EXIT_NORMAL, actions=["--click", "Help", "--click", "OK", "--back", "--click", "Close"],
                    after=lambda w: unmap_drive(LONG_NAME_DRIVE))

    # The help text has 248 characters of its own and a 500-byte buffer: a
    # name of 251 characters is the longest that fits. Longer ones come from
    # a drive letter mapped to the folder, so that the full path stays within
    # 260 characters.
    fits, too_long = "N" * 247 + ".exe", "N" * 248 + ".exe"
    return [
        help_case("Help names the file", sfx, name + ".exe", name),
        help_case("Help names a file of 251 characters", long_named(sfx, fits), fits, fits[:-4]),
        help_case("Help with a 252-character name says \"this self-extractor file\"", long_named(sfx, too_long),
                  "this self-extractor file", too_long[:-4]),
        not_installed("none registered", without_archiver),
        # name, registered command (of the program's path), wanted command line
        # (of the program's and the self-extractor's paths)
        handed_over("program, blank, quoted placeholder", lambda p: '%s "%%1"' % p,
                    lambda p, f: '%s "%s"' % (p, f)),
        handed_over("the program's own arguments are replaced", lambda p: '%s /open "%%1" /quiet' % p,
                    lambda p, f: '%s "%s"' % (p, f)),
        handed_over("a program alone gets a blank before the path", lambda p: p, lambda p, f: '%s "%s"' % (p, f)),
        handed_over("a quoted program path with a blank", lambda p: '"%s" "%%1"' % p,
                    lambda p, f: '"%s" "%s"' % (p, f), folder="my tools"),
        handed_over("a quoted program path alone", lambda p: '"%s"' % p, lambda p, f: '"%s" "%s"' % (p, f),
                    folder="my tools"),
        not_installed("Shift held: as if none were registered", with_archiver(lambda p: '%s "%%1"' % p),
                      actions=("--shift", "--click", "Run Dravik")),
        not_installed("a registered program that cannot start",
                      with_archiver(lambda p: '%s "%%1"' % p.replace("record_command", "no_such_program"))),
        not_installed("registration removed", without_archiver),
    ]


LONG_NAME_DRIVE = "q:"


def long_named(exe_of, file_name):
    """A copy of the self-extractor named file_name, in a folder that the
    drive LONG_NAME_DRIVE maps (Wine names a file by the drive nearest to
    it), so its full path is short enough for a name near 255 characters."""
    def make(w):
        folder = os.path.join(w.folder, "long")
        os.makedirs(folder, exist_ok=True)
        exe = os.path.join(folder, file_name)
        shutil.copy(exe_of(w), exe)
        map_drive(LONG_NAME_DRIVE, folder)
        return exe
    return make


def map_drive(letter, folder):
    link = os.path.join(wine_env()["WINEPREFIX"], "dosdevices", letter)
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(folder, link)


def unmap_drive(letter):
    link = os.path.join(wine_env()["WINEPREFIX"], "dosdevices", letter)
    if os.path.lexists(link):
        os.remove(link)


def recorder_path(w, folder):
    return windows_path(os.path.join(w.folder, folder, "record_command.exe"))


def expect_recorded(w, folder, wanted):
    line = recorded(w, folder)
    expect(line == wanted, "the archiver got %r, wanted %r" % (line, wanted))


# ---- double-byte names -------------------------------------------------------------------

# Code page 932 characters whose trail byte is 0x5C, a backslash in ASCII:
# 表 0x95 0x5C, ソ 0x83 0x5C, 能 0x94 0x5C.
DOUBLE_BYTE_TREE = {
    "表/能.txt": b"in a folder whose name ends in 0x5C\n",
    "表/ソ/表.txt": b"two such folders deep\n",
    "top表.txt": b"at the top\n",
    "表示/data.bin": bytes(range(256)) * 40,
}


def japanese_locale():
    """The environment that gives Wine the ANSI code page 932: the ja_JP
    locale compiled into the build tree (no system locale needed)."""
    folder = os.path.join(BUILD, "wine", "locale")
    compiled = os.path.join(folder, "ja_JP.UTF-8")
    if not os.path.exists(os.path.join(compiled, "LC_CTYPE")):
        os.makedirs(folder, exist_ok=True)
        result = subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8", compiled], capture_output=True, text=True)
        expect(os.path.exists(os.path.join(compiled, "LC_CTYPE")),
               "localedef cannot compile ja_JP (scripts/setup installs locales): %s" % result.stderr.strip())
    return {"LOCPATH": folder, "LANG": "ja_JP.UTF-8", "LC_ALL": "ja_JP.UTF-8"}


def double_byte_source(w):
    folder = os.path.join(w.folder, "dbcs-src")
    if os.path.isdir(folder):  # made by an earlier call: its dates stay
        return folder
    for name, data in DOUBLE_BYTE_TREE.items():
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    return folder


def in_code_page_932(text):
    """text as read back from the robot, which writes in code page 932 there."""
    return text.encode("cp932").decode("utf-8", "surrogateescape")


def theme_double_byte():
    """Code page 932 under Wine, with characters whose trail byte is 0x5C:
    in folder and file names, each byte pair stays one character, so the
    files and folders are the archive's (Wine writes them with UTF-8 names),
    nothing split at a trail byte; the same for the self-extractor's own name
    in its title and Help, and for a password typed in that code page."""
    def target(w, name): return os.path.join(w.folder, "out-" + name)
    def source(w): return double_byte_source(w)
    def built(name, *options):
        return lambda w: w.build(name, "--ansi-names", "--codepage", "932", *options, source=source(w))
    count = len(DOUBLE_BYTE_TREE)
    japanese = lambda w: japanese_locale()
    password = "表ソ能"
    own_name = "能表"
    return [
        Case("folders and files with 0x5C trail bytes", built("dbcs"),
             [MainDialog(), counted(count), main_back("dbcs")], EXIT_NORMAL, env=japanese,
             actions=lambda w: ["--type", "106", windows_path(target(w, "names")), "--click", "Unzip", "--click", "OK",
                                "--back", "--click", "Close"],
             after=lambda w: same_tree(source(w), target(w, "names"))),
        Case("a password with 0x5C trail bytes", built("dbcspw", "--password", password),
             [MainDialog(), PasswordDialog(), counted(count), main_back("dbcspw")], EXIT_NORMAL, env=japanese,
             actions=lambda w: ["--type", "106", windows_path(target(w, "password")), "--click", "Unzip",
                                "--type", "402", password, "--click", "OK", "--click", "OK",
                                "--back", "--click", "Close"],
             after=lambda w: same_tree(source(w), target(w, "password"))),
        Case("the file's own name in the title and in Help", built(own_name),
             [MainDialog(), Box(in_code_page_932(HELP_TEXT % (own_name + ".exe")), owner="yes"),
              Back(in_code_page_932("%s - %s.exe" % (TITLE, own_name)))],
             EXIT_NORMAL, env=japanese, actions=["--click", "Help", "--click", "OK", "--back", "--click", "Close"]),
    ]
