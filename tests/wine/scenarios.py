#!/usr/bin/env python3
"""End-to-end scenarios: the real stub under Wine, driven and read back by
the robot.

usage: scenarios.py BUILD_DIR ARCH THEME   one theme against the x86 or x64 stub
       scenarios.py --list                 the themes, one per line (for CMake)

A theme is a table of cases (a function theme_NAME in one of the themes_*.py
modules beside this file). Every case runs even when an earlier one failed; the last line says
how many passed and failed. The Wine environment (prefix, display, server)
comes from wine_env.sh, the ctest fixture around these tests. Where that
fixture found that this machine cannot run the architecture's programs, the
theme is skipped (exit status 77) with its reason.
"""
import glob
import importlib
import os
import sys
import time
import traceback

from wine_cases import ARCHES, WINE_HOME, Failure, RobotVanished, Workshop

EXIT_SKIPPED = 77  # ctest's SKIP_RETURN_CODE for these tests


def find_themes():
    """Every theme_NAME function of the themes_*.py modules, by NAME: the
    modules in name order, each module's themes in the order written."""
    themes = {}
    here = os.path.dirname(os.path.abspath(__file__))
    for path in sorted(glob.glob(os.path.join(here, "themes_*.py"))):
        module = importlib.import_module(os.path.basename(path)[:-3])
        for name, function in vars(module).items():
            if name.startswith("theme_") and callable(function):
                themes[name[len("theme_"):]] = function
    return themes


THEMES = find_themes()


def main():
    if sys.argv[1:] == ["--list"]:
        print("\n".join(THEMES))
        return 0
    if len(sys.argv) != 4 or sys.argv[2] not in ARCHES or sys.argv[3] not in THEMES:
        print("usage: scenarios.py BUILD_DIR {%s} {%s}" % ("|".join(ARCHES), ",".join(sorted(THEMES))),
              file=sys.stderr)
        return 64
    theme = sys.argv[3]
    unavailable = os.path.join(WINE_HOME, "unavailable")
    if os.path.exists(unavailable):
        print("skipped: %s" % open(unavailable).read().strip())
        return EXIT_SKIPPED
    workshop = Workshop(theme)
    passed = failed = 0
    for case in THEMES[theme]():
        started = time.monotonic()
        try:
            try:
                case.run(workshop)
            except RobotVanished as vanished:
                print("again %s: %s" % (case.name, vanished))
                case.run(workshop)
            passed += 1
            print("ok    %s (%.1f s)" % (case.name, time.monotonic() - started))
        except Failure as failure:
            failed += 1
            print("FAIL  %s: %s" % (case.name, failure))
        except Exception:
            failed += 1
            print("FAIL  %s:\n%s" % (case.name, traceback.format_exc()))
        sys.stdout.flush()
    print("%s: %d passed, %d failed" % (theme, passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
