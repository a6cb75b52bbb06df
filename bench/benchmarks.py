#!/usr/bin/env python3
"""The published benchmarks: dravik-sfx and the stub side by side with the
programs users would pick instead, all in one run, and docs/benchmarks.md and
docs/images/benchmarks.png written from what was measured.

bench/run.sh builds what this needs and makes the corpora, then calls
    benchmarks.py all BENCH_DIR       every measurement, then the report
    benchmarks.py wine BENCH_DIR [SFX.exe]
                                      only the stub under Wine against
                                      dravik-sfx extract (bench/wine_extract.sh)
    benchmarks.py report BENCH_DIR    the report again from BENCH_DIR/results.json

BENCH_DIR holds the release build (build/) and the corpora (work/). Every
timing is taken RUNS times (environment, default 3), the tools of one
comparison taking turns so that a change of load falls on all of them; a
row's figure is the median, and its spread, (slowest - fastest) / median, is
how noisy that row was. Ratios are always to a peer measured in the same run.
Extraction writes into OUT_DIR (default a folder in /dev/shm, so that the
tools are measured rather than the disk).
"""
import json
import os
import platform
import re
import shutil
import subprocess
import sys
import threading
import time
import zipfile

import report
from report import median, spread

BENCH = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(BENCH)
DOC = os.path.join(SOURCE, "docs", "benchmarks.md")
PLOT = os.path.join(SOURCE, "docs", "images", "benchmarks.png")
RUNS = int(os.environ.get("RUNS", "3"))
OUT_DIR = os.environ.get("OUT_DIR", "/dev/shm/dravik-bench-out")
CALLGRIND_SLICE = 5_000_000  # bytes of output decoded under callgrind: the first entries of the corpus
SMALL_FILES = 20_000
STUB_ROW = report.STUB_ROW
FLOOR_ROW = report.FLOOR_ROW
FEW_FILES = 28  # the corpus's bytes in this many files: the Wine row's second shape


class Paths:
    def __init__(self, bench_dir):
        self.root = os.path.abspath(bench_dir)
        self.build = os.path.join(self.root, "build")
        self.work = os.path.join(self.root, "work")
        self.sfx = os.path.join(self.build, "builder", "dravik-sfx")
        self.inflate_bench = os.path.join(self.build, "bench", "inflate_bench")
        self.stubs = {"x86": os.path.join(self.build, "win32", "stub", "dravik-stub.exe"),
                      "x64": os.path.join(self.build, "win64", "stub", "dravik-stub.exe")}
        self.results = os.path.join(self.root, "results.json")

    def at(self, *parts):
        return os.path.join(self.work, *parts)


def log(text):
    print(text, flush=True)


# ---- running and timing programs -------------------------------------------------

def run_once(command, cwd=None, prepare=None, env=None, limit_s=1800):
    """Runs command (a list, no shell) once with its output discarded; returns
    wall seconds, user+system CPU seconds and peak resident KiB. CPU time is
    the program's and its children's (wait4); the peak is what /usr/bin/time
    -f %M reports, since a child forked from this Python process would carry
    Python's own peak. A run longer than limit_s is ended and fails."""
    if prepare:
        prepare()
    peak_file = OUT_DIR + "-peak.txt"
    start = time.perf_counter()
    process = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", peak_file] + command, cwd=cwd, env=env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    watchdog = threading.Timer(limit_s, process.kill)
    watchdog.start()
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    watchdog.cancel()
    process.returncode = os.waitstatus_to_exitcode(status)
    errors = process.stderr.read().decode(errors="replace")
    process.stderr.close()
    if process.returncode != 0:
        raise RuntimeError("%s ended with status %d: %s" % (" ".join(command), process.returncode, errors[-500:]))
    peak = int(open(peak_file).read().split()[-1])
    os.remove(peak_file)
    return {"wall": wall, "cpu": usage.ru_utime + usage.ru_stime, "rss_kib": peak}


def take_turns(contenders):
    """contenders: {tool: dict(command=, cwd=, prepare=, env=)}. Each tool runs
    RUNS times, all tools in turn each round; returns {tool: [run, ...]}."""
    runs = {tool: [] for tool in contenders}
    for _ in range(RUNS):
        for tool, how in contenders.items():
            runs[tool].append(run_once(**how))
    for tool, tool_runs in runs.items():
        log("  %-28s %s" % (tool, summary_text(tool_runs)))
    return runs


def summary_text(runs):
    return "%.3f s wall (spread %.0f%%), %.3f s CPU, %d KiB peak" % (
        median(runs, "wall"), 100 * spread(runs), median(runs, "cpu"), median(runs, "rss_kib"))


def fresh_folder(path):
    def prepare():
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
    return prepare


def removed(path):
    return lambda: os.path.exists(path) and os.remove(path)


def output_of(command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


# ---- archives ----------------------------------------------------------------------

def zip_part_size(path):
    """The bytes of the ZIP archive inside a file: from the first local header
    (the smallest offset the central directory names) to the end. For a
    self-extractor that is the whole file less the stub in front; for a plain
    archive it is the file."""
    with zipfile.ZipFile(path) as archive:
        first = min((info.header_offset for info in archive.infolist()), default=0)
    return os.path.getsize(path) - first


def tree_bytes_and_files(folder):
    total = count = 0
    for parent, _, names in os.walk(folder):
        for name in names:
            total += os.path.getsize(os.path.join(parent, name))
            count += 1
    return total, count


def check_archive(paths, exe):
    """What the other tools and our own test say of a self-extractor we wrote:
    {checker: "ok" or the complaint}."""
    verdicts = {}
    result = output_of(["unzip", "-tq", exe])
    verdicts["unzip -t"] = "ok" if result.returncode == 0 and "warning" not in (result.stdout + result.stderr) \
        else (result.stdout + result.stderr).strip()[-300:]
    result = output_of(["7z", "t", exe])
    verdicts["7z t"] = "ok" if result.returncode == 0 and "Warning" not in result.stdout \
        else (result.stdout + result.stderr).strip()[-300:]
    result = output_of([sys.executable, "-W", "error", "-c",
                        "import sys, zipfile; bad = zipfile.ZipFile(sys.argv[1]).testzip(); "
                        "sys.exit(bad and 'bad entry ' + bad)", exe])
    verdicts["zipfile"] = "ok" if result.returncode == 0 and not result.stderr else result.stderr.strip()[-300:]
    result = output_of([paths.sfx, "test", exe])
    verdicts["dravik-sfx test"] = "ok" if result.returncode == 0 else result.stderr.strip()[-300:]
    return verdicts


# ---- the measurements --------------------------------------------------------------

CORPORA = {"corpus": "the corpus (mixed)", "software": "software-like corpus"}


def measure_build(paths, results):
    """Our build (libdeflate level 12, all cores) against zip -9 and
    7z -tzip -mx=9, each archiving the same tree; sizes of the whole file and
    of its ZIP part; -j 1 against -j N; every output of ours checked by the
    other tools."""
    section = results.setdefault("build", {})
    for name in CORPORA:
        log("build: %s" % name)
        ours, by_zip, by_7z = (paths.at("built", name + suffix) for suffix in (".exe", "-zip9.zip", "-7z.zip"))
        os.makedirs(paths.at("built"), exist_ok=True)
        runs = take_turns({
            "dravik-sfx build": dict(command=[paths.sfx, "build", "-q", "-o", ours, "-C", paths.work, name],
                                     prepare=removed(ours)),
            "zip -9": dict(command=["zip", "-9", "-r", "-X", "-q", by_zip, name], cwd=paths.work,
                           prepare=removed(by_zip)),
            "7z -mx=9": dict(command=["7z", "a", "-tzip", "-mx=9", by_7z, name], cwd=paths.work,
                             prepare=removed(by_7z)),
        })
        single = paths.at("built", name + "-j1.exe")
        one_thread = run_once([paths.sfx, "build", "-q", "-j", "1", "-o", single, "-C", paths.work, name],
                              prepare=removed(single))
        tree_size, tree_files = tree_bytes_and_files(paths.at(name))
        section[name] = {
            "tree_bytes": tree_size, "tree_files": tree_files, "runs": runs,
            "file_bytes": {"dravik-sfx build": os.path.getsize(ours), "zip -9": os.path.getsize(by_zip),
                           "7z -mx=9": os.path.getsize(by_7z)},
            "zip_bytes": {"dravik-sfx build": zip_part_size(ours), "zip -9": zip_part_size(by_zip),
                          "7z -mx=9": zip_part_size(by_7z)},
            "j1_wall": one_thread["wall"],
            "j1_identical": open(ours, "rb").read() == open(single, "rb").read(),
            "checks": check_archive(paths, ours),
        }
        log("  sizes %s; -j 1 identical: %s; checks %s" % (
            section[name]["zip_bytes"], section[name]["j1_identical"], section[name]["checks"]))


def make_small_files(folder):
    """SMALL_FILES text files of 200 bytes to 5 KB in 520 nested folders,
    from a fixed seed."""
    import random
    chooser = random.Random(7)
    for i in range(SMALL_FILES):
        parent = os.path.join(folder, "d%02d" % (i % 40), "e%02d" % (i % 13), "f%d" % (i % 5))
        os.makedirs(parent, exist_ok=True)
        words = " ".join(chooser.choice(["alpha", "beta", "gamma", "delta", str(i)])
                         for _ in range(chooser.randint(40, 800)))
        with open(os.path.join(parent, "file%05d.txt" % i), "w") as out:
            out.write(words)


def extraction_inputs(paths):
    """{subject: (zip -9 archive, self-extractor wrapping it)}: the peers read
    the archive and we read the self-extractor made from it with build --zip,
    so that every tool decodes the same deflate streams. The x64 stub, so that
    the Wine row can run the same file on any machine."""
    small_zip = paths.at("small.zip")
    if not os.path.exists(small_zip):
        shutil.rmtree(paths.at("small"), ignore_errors=True)
        make_small_files(paths.at("small"))
        subprocess.run(["zip", "-9", "-r", "-X", "-q", small_zip, "small"], cwd=paths.work, check=True)
    inputs = {}
    for subject, archive in (("corpus", paths.at("corpus.zip")), ("small files", small_zip)):
        exe = paths.at(os.path.basename(archive)[:-4] + "-x64.exe")
        subprocess.run([paths.sfx, "build", "-q", "--arch", "x64", "-o", exe, "--zip", archive], check=True)
        inputs[subject] = (archive, exe)
    return inputs


def extractors(paths, archive, exe, out):
    prepare = fresh_folder(out)
    return {
        "dravik-sfx extract": dict(command=[paths.sfx, "extract", exe, "-d", out, "--overwrite"], prepare=prepare),
        "unzip": dict(command=["unzip", "-o", "-q", archive, "-d", out], prepare=prepare),
        "7z x": dict(command=["7z", "x", "-y", "-o" + out, archive], prepare=prepare),
        "bsdtar -xf": dict(command=["bsdtar", "-xf", archive, "-C", out], prepare=prepare),
        "python zipfile": dict(command=[sys.executable, "-c", "import sys, zipfile; "
                                        "zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])", archive, out],
                               prepare=prepare),
    }


def system_calls(command, prepare):
    """strace -c's count of the read and write families of calls
    (read, pread64, readv / write, pwrite64, writev) of one run."""
    prepare()
    table = OUT_DIR + "-strace.txt"
    subprocess.run(["strace", "-f", "-c", "-o", table] + command, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    counts = {"reads": 0, "writes": 0}
    for line in open(table):
        fields = line.split()
        if len(fields) >= 5 and fields[-1] in ("read", "pread64", "readv"):
            counts["reads"] += int(fields[3])
        elif len(fields) >= 5 and fields[-1] in ("write", "pwrite64", "writev"):
            counts["writes"] += int(fields[3])
    os.remove(table)
    return counts


def measure_extract(paths, results):
    """Every extractor on the corpus and on the small files: wall time, CPU
    time, peak memory; strace counts of ours and unzip's on the corpus."""
    section = results.setdefault("extract", {})
    for subject, (archive, exe) in extraction_inputs(paths).items():
        log("extract: %s" % subject)
        contenders = extractors(paths, archive, exe, OUT_DIR)
        runs = take_turns(contenders)
        size, files = tree_bytes_and_files(OUT_DIR)
        section[subject] = {"runs": runs, "bytes": size, "files": files, "archive_bytes": os.path.getsize(archive)}
        if subject == "corpus":
            section[subject]["syscalls"] = {
                tool: system_calls(contenders[tool]["command"], contenders[tool]["prepare"])
                for tool in ("dravik-sfx extract", "unzip")}
            log("  system calls %s" % section[subject]["syscalls"])
    shutil.rmtree(OUT_DIR, ignore_errors=True)


def measure_decode(paths, results):
    """The decoders memory to memory on the corpus's deflate streams (their
    outputs are first checked to agree), then instructions under callgrind on
    the first CALLGRIND_SLICE bytes of output."""
    log("decode")
    corpus = paths.at("corpus.zip")
    check = output_of([paths.inflate_bench, corpus, "--runs", "1"])
    if check.returncode != 0:
        raise RuntimeError("inflate_bench: " + check.stderr)
    decoders = ("ours", "zlib", "libdeflate")
    runs = {decoder: [] for decoder in decoders}
    for _ in range(RUNS):
        for decoder in decoders:
            text = output_of([paths.inflate_bench, corpus, "--runs", "1", "--no-check", "--decoder", decoder]).stdout
            runs[decoder].append({"wall": float(re.search(r"best of 1: ([0-9.]+) s", text).group(1))})
    output_bytes = float(re.search(r"([0-9.]+) MB of output", check.stdout).group(1)) * 1e6
    instructions = {}
    for decoder in decoders:
        profile = paths.at("callgrind." + decoder)
        subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + profile,
                        "--toggle-collect=*DecodeAll*", paths.inflate_bench, corpus, "--limit", str(CALLGRIND_SLICE),
                        "--runs", "1", "--no-check", "--decoder", decoder],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        instructions[decoder] = int(re.search(r"^summary: *(\d+)", open(profile).read(), re.M).group(1))
    results["decode"] = {"runs": runs, "output_bytes": output_bytes, "instructions": instructions}
    for decoder in decoders:
        log("  %-10s %.3f s (spread %.0f%%), %d instructions on the slice" % (
            decoder, median(runs[decoder], "wall"), 100 * spread(runs[decoder]), instructions[decoder]))


# ---- the stub under Wine -------------------------------------------------------------

def wine_environment(paths):
    """Sets up the Wine tier's environment (tests/wine/wine_env.sh) under
    BENCH_DIR and returns the x64 prefix's environment, or (None, why not)."""
    setup = output_of([os.path.join(SOURCE, "tests", "wine", "wine_env.sh"), "setup", paths.root])
    env_file = os.path.join(paths.root, "wine", "x64", "env")
    if setup.returncode != 0 or not os.path.exists(env_file):
        return None, (setup.stderr.strip() or "wine_env.sh setup failed").splitlines()[-1]
    env = dict(os.environ)
    for line in open(env_file):
        name, _, value = line.strip().partition("=")
        env[name] = value
    return env, None


def measure_wine(paths, results, exe=None):
    """The x64 stub extracting the corpus unattended (/auto FOLDER) under
    64-bit Wine, against dravik-sfx extract of the same self-extractor, taking
    turns. A machine without Wine gets the reason instead of the row."""
    exe = os.path.abspath(exe or paths.at("corpus-x64.exe"))
    log("wine: %s" % exe)
    if not shutil.which("wine"):
        results["wine"] = {"skipped": "Wine is not installed"}
        return
    env, why_not = wine_environment(paths)
    if env is None:
        results["wine"] = {"skipped": why_not}
        log("  skipped: " + why_not)
        return
    try:
        runs = take_turns({
            "dravik-sfx extract": dict(command=[paths.sfx, "extract", exe, "-d", OUT_DIR, "--overwrite"],
                                       prepare=fresh_folder(OUT_DIR)),
            "stub /auto, one small file": stub_auto(paths, env, tiny_self_extractor(paths), OUT_DIR + "-tiny"),
            FLOOR_ROW: win32_floor(paths, env, exe, OUT_DIR + "-floor"),
            STUB_ROW: stub_auto(paths, env, exe, OUT_DIR),
        })
        # The stub ran last: the tree is what it wrote.
        size, files = check_stub_tree(exe, OUT_DIR)
        results["wine"] = {"runs": runs, "bytes": size, "files": files, "exe": os.path.basename(exe)}
        log("wine: the same bytes in %d files" % FEW_FILES)
        few = few_files_self_extractor(paths, exe)
        runs = take_turns({
            "dravik-sfx extract": dict(command=[paths.sfx, "extract", few, "-d", OUT_DIR, "--overwrite"],
                                       prepare=fresh_folder(OUT_DIR)),
            STUB_ROW: stub_auto(paths, env, few, OUT_DIR),
        })
        size, files = check_stub_tree(few, OUT_DIR)
        results["wine_few_files"] = {"runs": runs, "bytes": size, "files": files, "exe": os.path.basename(few)}
    finally:
        output_of([os.path.join(SOURCE, "tests", "wine", "wine_env.sh"), "cleanup", paths.root])
        for folder in (OUT_DIR, OUT_DIR + "-tiny", OUT_DIR + "-floor"):
            shutil.rmtree(folder, ignore_errors=True)


def check_stub_tree(exe, folder):
    """The bytes and files the stub wrote into folder, which must hold every
    byte of exe's archive."""
    size, files = tree_bytes_and_files(folder)
    expected = sum(info.file_size for info in zipfile.ZipFile(exe).infolist())
    if size != expected:
        raise RuntimeError("the stub under Wine wrote %d bytes, the archive holds %d" % (size, expected))
    return size, files


def windows_link(paths, folder):
    """Z:\\ path of a link in BENCH_DIR to folder: the stub makes each folder of
    its destination in turn, and Wine refuses it Z:\\dev."""
    link = os.path.join(paths.root, "wine-" + os.path.basename(folder))
    if os.path.islink(link):
        os.remove(link)
    os.symlink(folder, link)
    return "Z:" + link.replace("/", "\\")


def win32_floor(paths, env, exe, out):
    """How to run bench/wine_floor.c under Wine over exe's entries: what
    Wine's file calls alone cost for the tree the stub makes (each file
    created new, written, its time set, closed), nothing read or decoded."""
    floor = paths.at("wine-floor.exe")
    source = os.path.join(BENCH, "wine_floor.c")
    if not os.path.exists(floor) or os.path.getmtime(floor) < os.path.getmtime(source):
        subprocess.run(["x86_64-w64-mingw32-gcc", "-O2", "-o", floor, source], check=True)
    listing = paths.at("wine-floor.list")
    with open(listing, "w") as out_list:
        for info in zipfile.ZipFile(exe).infolist():
            if not info.is_dir():
                out_list.write("%s\t%d\n" % (info.filename.replace("/", "\\"), info.file_size))
    return dict(command=[env["WINE"], floor, "Z:" + listing.replace("/", "\\"), windows_link(paths, out)], env=env,
                prepare=fresh_folder(out), limit_s=300)


def few_files_self_extractor(paths, exe):
    """An x64 self-extractor of the same bytes as exe's archive in FEW_FILES
    files (its entries joined in order, zip -9 again): the stub's cost per
    byte with its cost per file nearly gone."""
    folder, archive = paths.at("few-files"), paths.at("few-files.zip")
    few = paths.at("few-files-x64.exe")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    with zipfile.ZipFile(exe) as source:
        entries = [info for info in source.infolist() if not info.is_dir()]
        share = sum(info.file_size for info in entries) // FEW_FILES + 1
        parts = [open(os.path.join(folder, "part%02d.bin" % n), "wb") for n in range(FEW_FILES)]
        written = 0
        for info in entries:
            data = source.read(info)
            while data:  # an entry may run on into the next part
                room = share - written % share
                parts[written // share].write(data[:room])
                written += len(data[:room])
                data = data[room:]
        for part in parts:
            part.close()
    if os.path.exists(archive):
        os.remove(archive)
    subprocess.run(["zip", "-9", "-r", "-X", "-q", archive, "few-files"], cwd=paths.work, check=True)
    subprocess.run([paths.sfx, "build", "-q", "--arch", "x64", "-o", few, "--zip", archive], check=True)
    return few


def stub_auto(paths, env, exe, out):
    """How to run exe under Wine with /auto FOLDER into out, reached through a
    link in BENCH_DIR."""
    return dict(command=[env["WINE"], exe, "/auto", windows_link(paths, out)], env=env, cwd=os.path.dirname(exe),
                prepare=fresh_folder(out), limit_s=300)


def tiny_self_extractor(paths):
    """An x64 self-extractor of one 1 KB file: its run under Wine is nearly
    all start-up and shut-down, which the corpus's run also pays."""
    folder, exe = paths.at("tiny"), paths.at("tiny-x64.exe")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "readme.txt"), "w") as out:
        out.write("A line of text.\n" * 64)
    subprocess.run([paths.sfx, "build", "-q", "--arch", "x64", "-o", exe, "-C", folder, "."], check=True)
    return exe


def describe_machine(results):
    results["machine"] = {
        "cpu": next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo") if line.startswith("model name")),
                    platform.machine()),
        "cores": os.cpu_count(),
        "system": " ".join(platform.uname()[i] for i in (0, 2)),
        "date": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()),
        "commit": output_of(["git", "-C", SOURCE, "log", "-1", "--format=%h %s"]).stdout.strip(),
        "dirty": bool(output_of(["git", "-C", SOURCE, "status", "--porcelain", "--untracked-files=no"]).stdout),
        "load_before": open("/proc/loadavg").read().split()[:3],
        "runs": RUNS,
        "versions": {tool: version_line(command, pattern) for tool, command, pattern in (
            ("zip", ["zip", "-v"], r"This is Zip"), ("unzip", ["unzip", "-v"], r"UnZip \d"),
            ("7z", ["7z", "i"], r"7-Zip"), ("bsdtar", ["bsdtar", "--version"], r"bsdtar"),
            ("python", [sys.executable, "--version"], r"Python"), ("wine", ["wine", "--version"], r"wine"))},
    }


def version_line(command, pattern):
    """The first line of command's output that matches pattern."""
    try:
        text = output_of(command).stdout
    except OSError:
        return "not installed"
    return next((line.strip() for line in text.splitlines() if re.search(pattern, line)), "?")


def stub_sizes(paths, results):
    results["stubs"] = {arch: os.path.getsize(path) for arch, path in paths.stubs.items() if os.path.exists(path)}


# ---- the report ----------------------------------------------------------------------

def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("all", "wine", "report"):
        sys.exit(__doc__)
    paths = Paths(sys.argv[2])
    if sys.argv[1] == "report":
        results = json.load(open(paths.results))
    elif sys.argv[1] == "wine":
        results = {}
        describe_machine(results)
        measure_wine(paths, results, sys.argv[3] if len(sys.argv) > 3 else None)
        print(report.wine_table(results))
        return
    else:
        results = {}
        describe_machine(results)
        stub_sizes(paths, results)
        measure_build(paths, results)
        measure_extract(paths, results)
        measure_wine(paths, results)
        measure_decode(paths, results)
        results["machine"]["load_after"] = open("/proc/loadavg").read().split()[:3]
        with open(paths.results, "w") as out:
            json.dump(results, out, indent=1)
    report.write(results, DOC, PLOT, paths.at("plot"))
    log("wrote %s and %s" % (DOC, PLOT))


if __name__ == "__main__":
    main()
