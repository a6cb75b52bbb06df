"""Themes of the main dialog at work: unattended and interactive runs."""
import os
import re
import subprocess

from wine_cases import *  # noqa: F401,F403 (the vocabulary of every theme)


def theme_unattended():
    """"/auto FOLDER" extracts everything, dated, and ends by itself."""
    def target(w): return os.path.join(w.folder, "out")
    return [
        Case("/auto into a folder", lambda w: w.build("auto"), None, EXIT_NORMAL, actions=["--read"],
             args=lambda w: ["/auto", "Z:" + target(w).replace("/", "\\")],
             after=lambda w: compare_trees(w.source, target(w))),
    ]


def theme_unzip():
    """The main dialog at work: a folder typed in, Unzip, the count in a box
    owned by the dialog, then Close on the dialog enabled again."""
    def target(w): return os.path.join(w.folder, "typed")
    return [
        Case("Unzip into a typed folder", lambda w: w.build("unzip"),
             [MainDialog(), Box("3 file(s) unzipped successfully", owner="yes"), Back(TITLE + " - unzip.exe")],
             EXIT_NORMAL,
             actions=lambda w: ["--type", "106", "Z:" + target(w).replace("/", "\\"), "--click", "Unzip",
                                "--click", "OK", "--back", "--click", "Close"],
             after=lambda w: compare_trees(w.source, target(w))),
    ]
