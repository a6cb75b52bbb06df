"""Themes of a self-extractor branded as a publisher's setup: files with an
icon and version information start; the dialog's optional buttons and body
text; the license page with Accept, Decline and unattended runs; and an
unattended run that shows no window at all unless a box must appear."""
import os
import sys

from wine_cases import *  # noqa: F401,F403 (the vocabulary of every theme)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "unit"))
from icon_fixtures import GOOD_ICONS, make_good_icon  # noqa: E402

SOURCE_FILES = 3  # files in the workshop's source tree
KEY_ESCAPE = "0x1B"
LICENSE_TEXT = "Foo License\n\n1. You may install Foo.\n2. Foo comes with no warranty.\n"
LICENSE_SHOWN = LICENSE_TEXT.replace("\n", "\r\n")  # as the edit control holds it
LICENSE_INSTRUCTION = ("Please read the following license agreement. Press Accept to go on, or Decline to end "
                       "without unpacking anything.")
VERSION = ["--version-info", "ProductName=Foo", "--version-info", "CompanyName=Foo Ltd",
           "--version-info", "FileVersion=2.1.0.5", "--version-info", "LegalCopyright=(c) 2026 Foo Ltd"]
# The buttons of the dialog with none of the optional ones.
SETUP_BUTTONS = ["Browse...", "Overwrite files without prompting", "Unzip", "Close"]


def theme_branded_files():
    """Each ICO fixture with version information and a manifest level:
    the file starts under Wine and shows its dialog."""
    cases = []
    for name, arguments, _ in GOOD_ICONS:
        for level in ([], ["--highest-available"]):
            def exe(w, name=name, arguments=arguments, level=level):
                icon = make_good_icon(w.folder, name, arguments)
                return w.build("icon-%s%s" % (name.replace(" ", "-"), "-highest" if level else ""),
                               "--icon", icon, *VERSION, *level)
            cases.append(Case("icon %s%s starts" % (name, ", highestAvailable" if level else ""), exe,
                              [MainDialog(buttons=MAIN_BUTTONS)], EXIT_NORMAL))
    return cases


def theme_setup_dialog():
    """The optional buttons --buttons keeps (none by default for a setup,
    which a caption makes), the column closing up behind the others, and
    the body text --text puts in place of the unzip prompt."""
    def built(name, *options):
        return lambda w: w.build(name, *options)
    body = "Foo 2.1 will be installed in the folder below. Press Unzip to go on."
    return [
        # name, options, the buttons and check box the dialog shows, its prompt
        Case("no options: every button", built("plain"), [MainDialog(buttons=MAIN_BUTTONS)], EXIT_NORMAL),
        Case("--caption: none of the optional buttons", built("capt", "--caption", "Foo Setup"),
             [MainDialog(buttons=SETUP_BUTTONS)], EXIT_NORMAL),
        Case("--caption --buttons about,help", built("capah", "--caption", "Foo Setup", "--buttons", "about,help"),
             [MainDialog(buttons=SETUP_BUTTONS + ["About", "Help"])], EXIT_NORMAL),
        Case("--buttons run", built("run", "--buttons", "run"),
             [MainDialog(buttons=["Browse...", "Overwrite files without prompting", "Unzip", "Run Dravik", "Close"])],
             EXIT_NORMAL),
        Case("--buttons none", built("none", "--buttons", "none"), [MainDialog(buttons=SETUP_BUTTONS)], EXIT_NORMAL),
        Case("--text replaces the prompt", built("body", "--text", body, "--caption", "Foo Setup", "--caption-title"),
             [MainDialog(title="Foo Setup", prompt=body, buttons=SETUP_BUTTONS)], EXIT_NORMAL),
        Case("--text with a percent sign is shown as it is", built("percent", "--text", "100% of Foo: %s %d"),
             [MainDialog(prompt="100% of Foo: %s %d")], EXIT_NORMAL),
        Case("About kept by --buttons still answers", built("capah", "--caption", "Foo Setup", "--buttons", "about,help"),
             [MainDialog(), Box("Dravik Self-Extractor\n\nMade by the Dravik team.", owner="yes"),
              Back(TITLE + " - capah.exe")], EXIT_NORMAL,
             actions=["--click", "About", "--click", "OK", "--back", "--click", "Close"]),
    ]


class LicensePage:
    """The license page: its title, the instruction, the whole license text
    in its edit control, and Accept and Decline."""

    def __init__(self, title=TITLE):
        self.title = title

    def check(self, window):
        expect(not window.back and window.cls == "#32770", "%r, wanted the license page" % window)
        expect(window.title == self.title, "title %r, wanted %r" % (window.title, self.title))
        expect(window.texts() == [LICENSE_INSTRUCTION], "texts %r" % window.texts())
        expect(window.control(302) == ("edit", LICENSE_SHOWN), "license text %r" % (window.control(302),))
        expect(window.buttons() == ["Accept", "Decline"], "buttons %r" % window.buttons())


def theme_license():
    """The license page before the dialog: Accept goes on, Decline and Escape
    end with exit code 1 and write nothing; an unattended run (/auto, the
    builder's --auto) takes the license as accepted and shows no page."""
    def licensed(name, *options):
        def build(w):
            path = os.path.join(w.folder, "license.txt")
            with open(path, "w") as f:
                f.write(LICENSE_TEXT)
            return w.build(name, "--license", path, "--folder", windows_path(os.path.join(w.folder, name + "-out")),
                           *options)
        return build
    def extracted(name):
        return lambda w: compare_trees(w.source, os.path.join(w.folder, name + "-out"))
    def nothing_written(name):
        return lambda w: expect(not os.path.exists(os.path.join(w.folder, name + "-out")), "files were written")
    return [
        Case("Accept, then Unzip: the files", licensed("lic"), [LicensePage(), MainDialog(), counted(SOURCE_FILES),
                                                                Back(TITLE + " - lic.exe")], EXIT_NORMAL,
             actions=["--click", "Accept", "--click", "Unzip", "--click", "OK", "--back", "--click", "Close"],
             after=extracted("lic")),
        Case("Decline: exit code 1, nothing written", licensed("licno"), [LicensePage()], EXIT_DECLINED,
             actions=["--click", "Decline"], after=nothing_written("licno")),
        Case("Escape declines", licensed("licesc"), [LicensePage()], EXIT_DECLINED,
             actions=["--read", "--then-key", KEY_ESCAPE], after=nothing_written("licesc")),
        Case("the caption titles the page", licensed("liccap", "--caption", "Foo Setup"),
             [LicensePage("Foo Setup"), MainDialog()], EXIT_NORMAL, actions=["--click", "Accept", "--click", "Close"]),
        Case("after the start-up question", licensed("licq", "--prompt", "Install Foo?"),
             [Box("Install Foo?", icon="question"), LicensePage(), MainDialog()], EXIT_NORMAL,
             actions=["--click", "OK", "--click", "Accept", "--click", "Close"]),
        Case("/auto accepts it: no window, the files", licensed("licauto"), [], EXIT_NORMAL, actions=[],
             args=["/auto"], after=extracted("licauto")),
        Case("the builder's --auto accepts it", licensed("licbuilt", "--auto"), [], EXIT_NORMAL, actions=[],
             after=extracted("licbuilt")),
        Case("/noauto against --auto: the page again", licensed("licbuilt", "--auto"), [LicensePage()], EXIT_DECLINED,
             actions=["--click", "Decline"], args=["/noauto"]),
    ]


def theme_hidden_unattended():
    """An unattended run shows no window at all, not even for a moment, unless
    a box must appear: then the box alone, owned by the hidden dialog. The
    archive is large enough to show the meter at once, and to take a while."""
    def large(name, *options):
        def build(w):
            folder = os.path.join(w.folder, "large-src")
            if not os.path.exists(folder):
                os.makedirs(folder)
                with open(os.path.join(folder, "random.bin"), "wb") as f:
                    f.write(random_bytes(3 * 1024 * 1024, seed=16))
            return w.build(name, *options, source=folder)
        return build
    def into(folder):
        return lambda w: ["/auto", windows_path(os.path.join(w.folder, folder))]
    def has_large(folder):
        return lambda w: compare_trees(os.path.join(w.folder, "large-src"), os.path.join(w.folder, folder))
    def existing(folder):
        def make(w):
            os.makedirs(os.path.join(w.folder, folder), exist_ok=True)
            with open(os.path.join(w.folder, folder, "random.bin"), "w") as f:
                f.write("old")
            return ["/auto", windows_path(os.path.join(w.folder, folder))]
        return make
    def overwrite_question(w):
        path = windows_path(os.path.join(w.folder, "again", "random.bin"))
        return [Box("File %s already exists.  Overwrite file?" % path, buttons=["Yes", "No", "Cancel"], owner="yes")]
    return [
        Case("/auto: no window during the whole run", large("big"), [], EXIT_NORMAL, actions=[], args=into("out"),
             after=has_large("out")),
        Case("the builder's --auto: no window either", large("bigauto", "--auto", "--folder", "."), [], EXIT_NORMAL,
             actions=[], after=lambda w: compare_trees(os.path.join(w.folder, "large-src"), w.folder)),
        Case("/auto over an existing file: the question alone", large("big"), overwrite_question, EXIT_NORMAL,
             actions=["--click", "Yes"], args=existing("again"), after=has_large("again")),
    ]
