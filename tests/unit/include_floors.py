#!/usr/bin/env python3
"""The stub's floors: no file includes a header of a higher floor.

The order of the floors, bottom first, is the code block under "## Floors"
in docs/architecture.md: one folder of stub/ per line, its first word. A
file belongs to the folder it sits in (stub/platform/host/x.cpp to
platform/host, stub/platform/platform.h to platform). A quoted #include is
looked up under stub/, then beside the including file; one found in
neither (the generated message record, system headers) is not the stub's
and is not checked. Files of one folder may include each other.

Fails, naming the file and line, on an include that goes up a floor, and on
a file whose folder is not in the order.

Usage: include_floors.py PROJECT_DIR
"""
import os
import re
import sys
import tempfile

SOURCE_SUFFIXES = (".h", ".cpp", ".inc")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def read_floors(doc_path):
    """The folders of the code block under "## Floors", bottom first."""
    lines = open(doc_path, encoding="utf-8").read().splitlines()
    try:
        start = lines.index("## Floors")
        fence = next(i for i in range(start, len(lines)) if lines[i].startswith("```"))
        end = next(i for i in range(fence + 1, len(lines)) if lines[i].startswith("```"))
    except (ValueError, StopIteration):
        sys.exit(f"{doc_path}: no code block under '## Floors'")
    return [line.split()[0] for line in lines[fence + 1:end] if line.strip()]


def stub_files(stub_dir):
    for folder, _, names in os.walk(stub_dir):
        for name in sorted(names):
            if name.endswith(SOURCE_SUFFIXES):
                yield os.path.relpath(os.path.join(folder, name), stub_dir)


def resolve(stub_dir, including, included):
    """The included file relative to stub/, or None when it is not the stub's."""
    for base in (stub_dir, os.path.join(stub_dir, os.path.dirname(including))):
        candidate = os.path.normpath(os.path.join(base, included))
        if os.path.isfile(candidate):
            return os.path.relpath(candidate, stub_dir)
    return None


def check(project_dir):
    stub_dir = os.path.join(project_dir, "stub")
    floors = read_floors(os.path.join(project_dir, "docs", "architecture.md"))
    floor_of = {folder: level for level, folder in enumerate(floors)}
    problems = []
    for path in stub_files(stub_dir):
        folder = os.path.dirname(path)
        if folder not in floor_of:
            problems.append(f"stub/{path}: folder {folder or '.'}/ is not in the floors of docs/architecture.md")
            continue
        with open(os.path.join(stub_dir, path), encoding="utf-8") as source:
            for number, line in enumerate(source, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = resolve(stub_dir, path, match.group(1))
                if target is None:
                    continue
                target_folder = os.path.dirname(target)
                if floor_of.get(target_folder, -1) > floor_of[folder]:
                    problems.append(f"stub/{path}:{number}: {folder}/ includes {target} "
                                    f"from the higher floor {target_folder}/")
    return problems


def check_catches_both_faults():
    """The check itself, on a small tree: floors low, high; low/low.cpp
    includes high/high.h on its line 2, and other/ is in no floor."""
    files = {
        "docs/architecture.md": "## Floors\n\n```\nlow    the bottom\nhigh   above it\n```\n",
        "stub/low/low.h": "#pragma once\n",
        "stub/low/low.cpp": '#include "low/low.h"\n#include "high/high.h"\n#include <cstdio>\n',
        "stub/high/high.h": '#include "low/low.h"\n#include "generated.h"\n',
        "stub/other/other.h": "#pragma once\n",
    }
    with tempfile.TemporaryDirectory() as root:
        for path, text in files.items():
            os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
            with open(os.path.join(root, path), "w", encoding="utf-8") as out:
                out.write(text)
        found = check(root)
    # high.h's includes pass: one goes down, the other is not the stub's.
    expected = [
        "stub/low/low.cpp:2: low/ includes high/high.h from the higher floor high/",
        "stub/other/other.h: folder other/ is not in the floors of docs/architecture.md",
    ]
    if sorted(found) != sorted(expected):
        sys.exit("the include check misjudges its own test tree:\n  " + "\n  ".join(found))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    check_catches_both_faults()
    problems = check(sys.argv[1])
    for problem in problems:
        print(problem)
    if problems:
        sys.exit(1)
    print("no include goes up a floor")


if __name__ == "__main__":
    main()
