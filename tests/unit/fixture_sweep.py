#!/usr/bin/env python3
"""dravik-sfx over every archive in the test fixtures: each file under
tests/data/external is wrapped with `build --zip`, and what it builds is run
through `test` and `extract`; each self-extractor in the engine fuzz target's
seed corpus goes through `test` and `extract` directly. In the sanitizer
build this runs the host tool, and with it the stub's engine, under ASan and
UBSan over all of them (a report ends a program with status 86, which no
expectation below allows).

Extraction overwrites (a seed holds a name twice). Every fixture must have
its row below, with the exit statuses it must give
(None: the step does not run, since the build was refused); a fixture added
without one fails the sweep, so that none goes unchecked. Where extraction
succeeds, every file must equal what Python's zipfile reads from the source
archive.

usage: fixture_sweep.py DRAVIK_SFX SOURCE_DIR
Prints one line per fixture and closes with "N passed, N failed".
"""
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

SFX = os.path.abspath(sys.argv[1])
SOURCE = os.path.abspath(sys.argv[2])
EXTERNAL = os.path.join(SOURCE, "tests", "data", "external")
SEEDS = os.path.join(SOURCE, "tests", "unit", "fuzz_corpus", "engine")
WORK = tempfile.mkdtemp(prefix="dravik-sweep-")
ENV = dict(os.environ, TZ="UTC")

# Archives by other tools: name -> (build, test, extract, password).
WRAPPED = {
    "puff_zeros.raw": (2, None, None, None),  # a raw deflate stream, no archive
    "test_compat_zip_4.zip": (0, 0, 0, None),
    "test_compat_zip_7.xps": (0, 0, 0, None),
    "test_compat_zip_8.zip": (0, 0, 0, None),
    "test_read_data_into_fd_size_exceeds_declared_deflate.zip": (2, None, None, None),
    "test_read_data_into_fd_size_exceeds_declared_stored.zip": (2, None, None, None),
    "test_read_format_zip.zip": (2, None, None, None),  # a CRC in its directory is wrong
    "test_read_format_zip_7z_lzma.zip": (0, 0, 0, None),  # its LZMA entries deflated again
    "test_read_format_zip_comment_stored_1.zip": (0, 0, 0, None),
    "test_read_format_zip_encryption_data.zip": (2, None, None, None),
    "test_read_format_zip_length_at_end.zip": (0, 0, 0, None),
    "test_read_format_zip_malformed1.zip": (2, None, None, None),
    # "def" as a file, then "def/foo": a dry run makes no folders, so only
    # extract meets the file in the way.
    "test_read_format_zip_msdos.zip": (0, 0, 2, None),
    "test_read_format_zip_padded1.zip": (0, 0, 0, None),
    "test_read_format_zip_padded2.zip": (0, 0, 0, None),
    "test_read_format_zip_traditional_encryption_data.zip": (0, 0, 0, "12345678"),
}

# The engine's seeds, self-extractors already: name -> (test, extract).
SEED_FAILURES = {
    "regression_empty_name.exe": (2, 2),  # an entry without a name is refused
    "regression_hidden_colon_932.exe": (2, 2),  # a colon behind a lead byte is refused
}
SEED_PASSWORD = "fuzz"


class Failure(Exception):
    pass


def tool(*args):
    result = subprocess.run([SFX] + list(args), env=ENV, capture_output=True, text=True,
                            stdin=subprocess.DEVNULL, errors="replace")
    return result.returncode, result.stderr.strip()


def expect_status(step, got, wanted):
    status, message = got
    if status != wanted:
        raise Failure("%s ended with %d, not %d: %s" % (step, status, wanted, message[-300:]))


def same_as_zipfile(source, folder, password):
    """Every file entry of the source, as zipfile reads it, lies in `folder`
    with the same bytes."""
    with zipfile.ZipFile(source) as z:
        for info in z.infolist():
            if info.is_dir():
                continue
            path = os.path.join(folder, *info.filename.replace("\\", "/").split("/"))
            if not os.path.isfile(path):
                raise Failure("%s was not extracted" % info.filename)
            data = z.read(info, pwd=password.encode() if password else None)
            if open(path, "rb").read() != data:
                raise Failure("%s differs from what zipfile reads" % info.filename)


def run_self_extractor(exe, test_status, extract_status, password, source=None, options=()):
    options = list(options) + (["--password", password] if password else [])
    expect_status("test", tool("test", exe, *options), test_status)
    target = exe + ".out"
    expect_status("extract", tool("extract", exe, "-d", target, "--overwrite", *options), extract_status)
    if extract_status == 0 and source:
        same_as_zipfile(source, target, password)


def sweep_wrapped(name):
    if name not in WRAPPED:
        raise Failure("no expectation for this fixture: add its row to fixture_sweep.py")
    build_status, test_status, extract_status, password = WRAPPED[name]
    exe = os.path.join(WORK, name + ".exe")
    expect_status("build --zip", tool("build", "-o", exe, "--zip", os.path.join(EXTERNAL, name)), build_status)
    if build_status == 0:
        run_self_extractor(exe, test_status, extract_status, password, os.path.join(EXTERNAL, name))


def sweep_seed(name):
    test_status, extract_status = SEED_FAILURES.get(name, (0, 0))
    exe = os.path.join(WORK, name)
    shutil.copyfile(os.path.join(SEEDS, name), exe)
    options = ["--codepage", "932"] if "932" in name else []
    run_self_extractor(exe, test_status, extract_status, SEED_PASSWORD, options=options)


def main():
    cases = [("external/" + n, sweep_wrapped, n) for n in sorted(os.listdir(EXTERNAL))]
    cases += [("seed/" + n, sweep_seed, n) for n in sorted(os.listdir(SEEDS))]
    passed = failed = 0
    for label, sweep, name in cases:
        try:
            sweep(name)
            print("ok     %s" % label)
            passed += 1
        except Failure as failure:
            print("FAILED %s: %s" % (label, failure))
            failed += 1
    print("%d passed, %d failed" % (passed, failed))
    shutil.rmtree(WORK, ignore_errors=True)
    return 1 if failed else 0


sys.exit(main())
