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
ARCHIVER_KEY = "HKCR\\dravik"
ARCHIVER_COMMAND_KEY = ARCHIVER_KEY + "\\shell\\open\\command"
VK_RETURN, VK_ESCAPE = 0x0D, 0x1B


class PasswordDialog:
    """The password dialog: its title, prompt, empty field and buttons, owned
    by the main dialog."""

    def check(self, window):
        expect(not window.back and window.cls == "#32770", "%r, wanted the password dialog" % window)
        expect(window.title == TITLE + " - Password", "title %r, wanted the password dialog's" % window.title)
        expect(window.texts() == [PASSWORD_PROMPT], "prompt %r" % window.texts())
        expect(("edit", 402, "") in window.controls, "no empty password field in %r" % window)
        expect(window.buttons() == ["OK", "Cancel"], "buttons %r" % window.buttons())
        expect(window.owner == "yes", "the password dialog has no owner")


def counted(n):
    return Box("%d file(s) unzipped successfully" % n, owner="yes")


def main_back(name):
    return Back("%s - %s.exe" % (TITLE, name))


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
        Case("OK and Enter on an empty field, then Escape", ours, [MainDialog(), PasswordDialog(), main_back("ours")],
             EXIT_NORMAL,
             actions=lambda w: ["--type", "106", windows_path(target(w, "empty")), "--click", "Unzip",
                                "--click", "OK", "--then-key", str(VK_RETURN), "--then-key", str(VK_ESCAPE),
                                "--back", "--click", "Close"],
             after=lambda w: no_files_in(target(w, "empty"))),
        # Cancel starts no run; Unzip works again and asks again.
        Case("Cancel, then Unzip again", ours,
             [MainDialog(), PasswordDialog(), main_back("ours"), PasswordDialog(), counted(3), main_back("ours")],
             EXIT_NORMAL,
             actions=lambda w: ["--type", "106", windows_path(target(w, "cancel")), "--click", "Unzip",
                                "--click", "Cancel", "--back", "--click", "Unzip",
                                "--type", "402", PASSWORD, "--click", "OK", "--click", "OK", "--back", "--click", "Close"],
             after=lambda w: same_tree(w.source, target(w, "cancel"))),
        second_unzip_case(target),
        Case("a second Unzip after an encrypted last entry asks again; Cancel", ours,
             [MainDialog(), PasswordDialog(), counted(3), main_back("ours"), PasswordDialog(), main_back("ours")],
             EXIT_NORMAL,
             actions=lambda w: unzip_with(PASSWORD, "again")(w) + [
                 "--click", "OK", "--back", "--type", "106", windows_path(target(w, "again2")), "--click", "Unzip",
                 "--click", "Cancel", "--back", "--click", "Close"],
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
