"""Themes of setup mode: the program a self-extractor runs once its files
are out (run_probe, a fixture of our own that reports its current folder and
command line and ends with the exit code it is given), the exit code passed
on, the temporary folder made for the run and removed after it, and
environment variables in the destination folder.

Every case has a temporary base folder of its own, given to the run as TMP
and TEMP, so that what the run leaves there can be listed exactly."""
import contextlib
import os
import shutil

from wine_cases import *  # noqa: F401,F403 (the vocabulary of every theme)

RUN_PROBE = os.path.join(os.path.dirname(ROBOT), "run_probe.exe")
UNDEFINED = ("The environment variable DRAVIK_NOPE named in the destination folder is not set - unzip "
             "operation cancelled.")
QUESTION = "Install the probe?"


def cannot_start(program):
    return Box("Could not start the program %s." % program, icon="error")


def probe_source(w):
    """The source tree with run_probe.exe beside the usual files."""
    source = os.path.join(w.folder, "probe-src")
    if not os.path.exists(source):
        shutil.copytree(w.source, source)
        shutil.copy(RUN_PROBE, source)
    return source


def temp_base(w, name):
    return os.path.join(w.folder, name + "-tmp")


def report_file(w, name):
    return os.path.join(w.folder, name + ".report")


def linux_path(windows):
    """A Z: path as Linux sees it."""
    expect(windows[:2].upper() == "Z:", "%r is not on drive Z:" % windows)
    return windows[2:].replace("\\", "/")


def probe(name, code, *arguments):
    """The run command: run_probe by its bare name (found only in the
    extraction folder), this case's report, the exit code, the arguments."""
    def command(w):
        return " ".join(["run_probe.exe", windows_path(report_file(w, name)), str(code)] + list(arguments))
    return command


def report(w, name):
    """folder and line as run_probe wrote them."""
    path = report_file(w, name)
    expect(os.path.exists(path), "run_probe did not run (no %s)" % os.path.basename(path))
    fields = dict(line.split("=", 1) for line in open(path, encoding="latin-1").read().splitlines())
    return fields["folder"], fields["line"]


@contextlib.contextmanager
def fresh(w, name, neighbour=False):
    """An empty temporary base (with the user's own folder in it, if asked)
    and no report from an earlier run."""
    base = temp_base(w, name)
    shutil.rmtree(base, ignore_errors=True)
    os.makedirs(base)
    if neighbour:
        os.makedirs(os.path.join(base, "neighbour"))
        with open(os.path.join(base, "neighbour", "kept.txt"), "w") as f:
            f.write("the user's own\n")
    if os.path.exists(report_file(w, name)):
        os.remove(report_file(w, name))
    yield


class NoFolderField:
    """The main dialog of a temporary setup: Unzip and Close, and neither a
    folder field nor Browse."""

    def check(self, window):
        MainDialog().check(window)
        expect(window.control(FOLDER_ID) is None, "a folder field in %r" % window)
        expect("Browse..." not in window.buttons(), "Browse in %r" % window)


def setup(name, options, windows, exit_code, steps=(), tail=(), after=None, neighbour=False, env_base=True):
    """A case on NAME.exe built from the probe's tree with the options (each
    a text or a function of the workshop); the run has the case's temporary
    base as TMP and TEMP."""
    def exe(w):
        built = [option(w) if callable(option) else option for option in options]
        return w.build(name, *built, source=probe_source(w))
    def actions(w):
        base = windows_path(temp_base(w, name))
        environment = ["--setenv", "TMP", base, "--setenv", "TEMP", base] if env_base else []
        return environment + [step(w) if callable(step) else step for step in steps]
    def args(w):
        return [part(w) if callable(part) else part for part in tail]
    return Case(name, exe, windows, exit_code, actions=actions, args=args, after=after,
                within=lambda w: fresh(w, name, neighbour))


# ---- what a case checks afterwards -------------------------------------------------------

def ran_in_temp_and_gone(name, line_ends=None):
    """run_probe ran in a new folder directly under the temporary base, that
    folder is gone, and nothing else was left in the base."""
    def check(w):
        folder, line = report(w, name)
        base = windows_path(temp_base(w, name))
        expect(folder.lower().startswith(base.lower() + "\\dravik-"), "ran in %r, not in a new folder under %r" % (
            folder, base))
        expect(not os.path.exists(linux_path(folder)), "the temporary folder %s is still there" % folder)
        expect(os.listdir(temp_base(w, name)) == [], "left in the base: %r" % os.listdir(temp_base(w, name)))
        expect(line.startswith("run_probe.exe "), "command line %r" % line)
        if line_ends:
            expect(line.endswith(line_ends(folder)), "command line %r, wanted it to end with %r" % (
                line, line_ends(folder)))
    return check


def only_beside_files_left(name):
    """The hostile probe's files beside the temporary folder, and the user's
    own folder, are all that is left in the base."""
    def check(w):
        folder, _ = report(w, name)
        expect(not os.path.exists(linux_path(folder)), "the temporary folder %s is still there" % folder)
        left = sorted(os.listdir(temp_base(w, name)))
        expect(left == ["beside-1.txt", "beside-2.txt", "neighbour"], "left in the base: %r" % left)
        expect(os.path.exists(os.path.join(temp_base(w, name), "neighbour", "kept.txt")), "the user's file went")
    return check


def outside_folder(w):
    """A folder outside the temporary base holding files of its own; its
    Linux path (run_probe links to it with /bin/ln)."""
    outside = os.path.join(w.folder, "link-outside")
    os.makedirs(os.path.join(outside, "sub"), exist_ok=True)
    for name in ("precious.txt", os.path.join("sub", "precious2.txt")):
        with open(os.path.join(outside, name), "w") as f:
            f.write("not the setup's\n")
    return outside


def link_never_entered(name):
    """The folder a link inside the temporary folder led to keeps every file;
    of the temporary folder nothing is left but, at most, the link itself
    (Wine 8 removes no link, with either RemoveDirectoryA or DeleteFileA;
    Windows removes a junction or a directory link with RemoveDirectoryA)."""
    def check(w):
        outside = os.path.join(w.folder, "link-outside")
        for kept in ("precious.txt", os.path.join("sub", "precious2.txt")):
            expect(os.path.exists(os.path.join(outside, kept)), "the removal followed the link: %s is gone" % kept)
        folder, _ = report(w, name)
        left = os.listdir(linux_path(folder)) if os.path.exists(linux_path(folder)) else []
        expect(left in ([], ["outside-link"]), "left in the temporary folder: %r" % left)
    return check


def nothing_left(name, ran=False):
    def check(w):
        expect(os.path.exists(report_file(w, name)) == ran, "run_probe %s" % ("did not run" if ran else "ran"))
        expect(os.listdir(temp_base(w, name)) == [], "left in the base: %r" % os.listdir(temp_base(w, name)))
    return check


def ran_in(name, *folder):
    """run_probe ran in the workshop's FOLDER, where the files stay."""
    def check(w):
        target = os.path.join(w.folder, *folder)
        ran_folder, _ = report(w, name)
        expect(ran_folder.lower() == windows_path(target).lower(), "ran in %r, wanted %r" % (
            ran_folder, windows_path(target)))
        compare_trees(probe_source(w), target)
    return check


def ran_in_base(name, *below):
    """run_probe ran in a folder under the temporary base (named through
    %TEMP%), where the files stay."""
    def check(w):
        target = os.path.join(temp_base(w, name), *below)
        ran_folder, _ = report(w, name)
        expect(ran_folder.lower() == windows_path(target).lower(), "ran in %r, wanted %r" % (
            ran_folder, windows_path(target)))
        compare_trees(probe_source(w), target)
    return check


# ---- the themes -------------------------------------------------------------------------

def theme_setup():
    """A temporary setup: no window, run_probe found in the extraction
    folder and run there, its exit code passed on, and the folder removed
    afterwards, also when the program cannot be started or misbehaves; with a
    start-up question or /noauto the dialog shows, without a folder field."""
    temp = ["--temp", "--run"]
    quoted_folder = lambda folder: '"%s"' % folder
    return [
        # name, build options, windows, exit code, robot steps, command tail, check afterwards
        setup("exit0", temp + [probe("exit0", 0)], [], 0, after=ran_in_temp_and_gone("exit0")),
        setup("exit7", temp + [probe("exit7", 7)], [], 7, after=ran_in_temp_and_gone("exit7")),
        setup("exit3010", temp + [probe("exit3010", 3010)], [], 3010, after=ran_in_temp_and_gone("exit3010")),
        setup("placeholder", temp + [probe("placeholder", 0, '"{folder}"')], [], 0,
              after=ran_in_temp_and_gone("placeholder", line_ends=quoted_folder)),
        setup("hostile", temp + [probe("hostile", 5, "--hostile")], [], 5, neighbour=True,
              after=only_beside_files_left("hostile")),
        setup("link", temp + [lambda w: probe("link", 0, "--unix-link", outside_folder(w))(w)], [], 0,
              after=link_never_entered("link")),
        setup("missing", temp + ["no_such_program.exe /x"], [cannot_start("no_such_program.exe")], EXIT_ERROR_BOX,
              steps=["--click", "OK"], after=nothing_left("missing")),
        setup("notaprogram", temp + ["readme.txt /x"], [cannot_start("readme.txt")], EXIT_ERROR_BOX,
              steps=["--click", "OK"], after=nothing_left("notaprogram")),
        setup("auto", temp + [probe("auto", 7)], [], 7, tail=["/auto"], after=ran_in_temp_and_gone("auto")),
        # A folder on the command line is not where a temporary setup goes:
        # the folder it removes is always the one it made.
        setup("autofolder", temp + [probe("autofolder", 0)], [], 0,
              tail=["/auto", lambda w: windows_path(os.path.join(w.folder, "never"))],
              after=lambda w: (ran_in_temp_and_gone("autofolder")(w),
                               expect(not os.path.exists(os.path.join(w.folder, "never")), "/auto FOLDER was used"))),
        setup("question", temp + [probe("question", 7), "--prompt", QUESTION], [Box(QUESTION, icon="question"), NoFolderField()], 7,
              steps=["--click", "OK", "--click", "Unzip"], after=ran_in_temp_and_gone("question")),
        setup("noauto", temp + [probe("noauto", 0)], [NoFolderField()], 0, steps=["--click", "Unzip"], tail=["/noauto"],
              after=ran_in_temp_and_gone("noauto")),
        setup("closed", temp + [probe("closed", 7), "--prompt", QUESTION], [Box(QUESTION, icon="question"), NoFolderField()], 0,
              steps=["--click", "OK", "--click", "Close"], after=nothing_left("closed")),
    ]


def theme_setup_folder():
    """A setup into a chosen folder: run_probe runs there and the files
    stay, with no window when unattended; %NAME% in --folder and in
    "/auto FOLDER" is expanded ("%%" a percent sign), and an unset variable
    is an error box before anything is written."""
    def out(*parts):
        return lambda w: windows_path(os.path.join(w.folder, *parts))
    run = ["--run"]
    return [
        setup("autoout", run + [probe("autoout", 7)], [], 7, tail=["/auto", out("autoout-out")],
              after=ran_in("autoout", "autoout-out")),
        setup("autodefault", run + [probe("autodefault", 0), "--auto"], [], 0, after=ran_in_base("autodefault")),
        setup("dialog", run + [probe("dialog", 7)], [MainDialog()], 7,
              steps=["--type", str(FOLDER_ID), out("dialog out"), "--click", "Unzip"],
              after=ran_in("dialog", "dialog out")),
        setup("tempvar", run + [probe("tempvar", 0), "--auto", "--folder", "%TEMP%\\x"], [], 0,
              after=ran_in_base("tempvar", "x")),
        setup("percent", run + [probe("percent", 0), "--auto", "--folder", "%TMP%\\100%% sure"], [], 0,
              after=ran_in_base("percent", "100% sure")),
        setup("autovar", run + [probe("autovar", 0)], [], 0, tail=["/auto", "%TEMP%\\y"],
              after=ran_in_base("autovar", "y")),
        setup("undefined", run + [probe("undefined", 0), "--auto", "--folder", "%DRAVIK_NOPE%\\x"],
              [Box(UNDEFINED, icon="error")], EXIT_ERROR_BOX, steps=["--click", "OK"],
              after=lambda w: (nothing_left("undefined")(w),
                               expect(not os.path.exists(os.path.join(w.folder, "%DRAVIK_NOPE%")),
                                      "the folder was made literally"))),
        setup("autoundefined", run + [probe("autoundefined", 0)], [Box(UNDEFINED, icon="error")], EXIT_ERROR_BOX,
              steps=["--click", "OK"], tail=["/auto", "%DRAVIK_NOPE%\\x"], after=nothing_left("autoundefined")),
    ]
