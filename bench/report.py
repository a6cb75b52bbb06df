"""Writes docs/benchmarks.md and its plot from the results of one run of
benchmarks.py (a dict, also kept as BENCH_DIR/results.json). Every figure
in the tables is a median over the run's repetitions; every ratio is to a
peer of the same run."""
import os
import statistics
import subprocess

# Read and write calls of dravik-sfx extract on the corpus before the engine
# moved 64 KiB at a time (strace -c, the same corpus, read family and write
# family): the figure the "a sixteenth" is counted from.
EARLIER_SYSCALLS = {"reads": 46_553, "writes": 53_358}

STUB_ROW = "stub /auto under Wine"  # the Wine table's row of the stub extracting the corpus
FLOOR_ROW = "Win32 floor under Wine: the same files made, nothing decoded"
BUILD_PEER, EXTRACT_PEER, DECODE_PEER = "7z -mx=9", "unzip", "zlib"
BUILD_TOOLS = ("dravik-sfx build", "zip -9", "7z -mx=9")
EXTRACT_TOOLS = ("dravik-sfx extract", "unzip", "7z x", "bsdtar -xf", "python zipfile")
DECODERS = ("ours", "zlib", "libdeflate")
BOUND_CORPORA = ("corpus",)  # where our claims on size and build time are made
CORPUS_TITLES = {"corpus": "the corpus", "software": "the software-like corpus"}


def median(runs, metric="wall"):
    return statistics.median(run[metric] for run in runs)


def spread(runs):
    values = [run["wall"] for run in runs]
    middle = statistics.median(values)
    return (max(values) - min(values)) / middle if middle else 0.0


def every_spread(results):
    """The wall-time spread of every timed row of the run."""
    rows = []
    for corpus in results.get("build", {}).values():
        rows += corpus["runs"].values()
    for subject in results.get("extract", {}).values():
        rows += subject["runs"].values()
    rows += results.get("wine", {}).get("runs", {}).values()
    rows += results.get("wine_few_files", {}).get("runs", {}).values()
    rows += results.get("decode", {}).get("runs", {}).values()
    return [spread(runs) for runs in rows if len(runs) > 1]


def number(value):
    return "{:,}".format(value)


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(str(cell) for cell in row) + " |" for row in rows]
    return "\n".join(lines)


def verdict(value, limit, at_most=True):
    met = value <= limit if at_most else value >= limit
    return "yes" if met else "**no**"


# ---- the sections ------------------------------------------------------------------

def claims(results):
    """The figures our claims rest on, each against its bound."""
    rows = []
    for name, corpus in results.get("build", {}).items():
        runs, sizes = corpus["runs"], corpus["zip_bytes"]
        size_ratio = sizes["dravik-sfx build"] / sizes[BUILD_PEER]
        time_ratio = median(runs["dravik-sfx build"]) / median(runs[BUILD_PEER])
        bound = name in BOUND_CORPORA  # the software-like corpus is quoted, not bound
        rows.append(("archive size on %s, ours ÷ 7z -tzip -mx=9 (ZIP part)" % CORPUS_TITLES[name],
                     "%.4f" % size_ratio, "≤ 1.00" if bound else "quoted", verdict(size_ratio, 1.0) if bound else "—"))
        rows.append(("build time on %s, ours ÷ 7z -tzip -mx=9" % CORPUS_TITLES[name], "%.2f" % time_ratio,
                     "≤ 0.50" if bound else "quoted", verdict(time_ratio, 0.5) if bound else "—"))
    corpus = results.get("extract", {}).get("corpus")
    if corpus:
        runs = corpus["runs"]
        cpu_ratio = median(runs["dravik-sfx extract"], "cpu") / median(runs[EXTRACT_PEER], "cpu")
        rows.append(("CPU time (user + system) of extract on the corpus, ours ÷ unzip", "%.2f" % cpu_ratio, "≤ 0.60",
                     verdict(cpu_ratio, 0.6)))
        calls = corpus["syscalls"]["dravik-sfx extract"]
        call_ratio = (calls["reads"] + calls["writes"]) / sum(EARLIER_SYSCALLS.values())
        rows.append(("read + write calls of extract on the corpus, now ÷ before the 64 KiB transfers",
                     "%.3f" % call_ratio, "≤ 0.0625", verdict(call_ratio, 1 / 16)))
    wine = results.get("wine", {})
    if "runs" in wine:
        ratio = median(wine["runs"][STUB_ROW]) / median(wine["runs"]["dravik-sfx extract"])
        rows.append(("stub under Wine extracting the corpus (/auto), ÷ dravik-sfx extract of the same file",
                     "%.2f" % ratio, "≤ 2.00", verdict(ratio, 2.0)))
        if FLOOR_ROW in wine["runs"]:
            floor = median(wine["runs"][FLOOR_ROW]) / median(wine["runs"]["dravik-sfx extract"])
            rows.append(("(for that row) Wine's file calls alone for the same tree, ÷ dravik-sfx extract",
                         "%.2f" % floor, "—", "—"))
    few = results.get("wine_few_files", {})
    if "runs" in few:
        ratio = median(few["runs"][STUB_ROW]) / median(few["runs"]["dravik-sfx extract"])
        rows.append(("stub under Wine extracting the corpus's bytes in %d files (/auto), ÷ dravik-sfx extract"
                     % few["files"], "%.2f" % ratio, "≤ 2.00", verdict(ratio, 2.0)))
    for name, corpus in results.get("build", {}).items():
        rows.append(("-j 1 and -j %s outputs on %s byte-identical" % (results["machine"]["cores"], CORPUS_TITLES[name]),
                     "yes" if corpus["j1_identical"] else "no", "yes", "yes" if corpus["j1_identical"] else "**no**"))
        complaints = {tool: said for tool, said in corpus["checks"].items() if said != "ok"}
        rows.append(("unzip -t, 7z t, Python's zipfile and dravik-sfx test accept our output of %s"
                     % CORPUS_TITLES[name], "all" if not complaints else "; ".join(
                         "%s: %s" % item for item in complaints.items()), "all", "yes" if not complaints else "**no**"))
    return table(("what", "measured", "bound", "met"), rows)


def build_tables(results):
    parts = []
    for name, corpus in results.get("build", {}).items():
        runs = corpus["runs"]
        peer_time, peer_size = median(runs[BUILD_PEER]), corpus["zip_bytes"][BUILD_PEER]
        rows = [(tool, "%.2f" % (median(runs[tool]) / peer_time), "%.4f" % (corpus["zip_bytes"][tool] / peer_size),
                 "%.2f s" % median(runs[tool]), "%.2f s" % median(runs[tool], "cpu"), "%.0f%%" % (100 * spread(runs[tool])),
                 number(corpus["zip_bytes"][tool]), number(corpus["file_bytes"][tool]))
                for tool in BUILD_TOOLS]
        parts.append("**%s**: %s bytes in %s files. dravik-sfx builds with `-j %d`; with `-j 1` it took %.2f s.\n\n%s"
                     % (CORPUS_TITLES[name].capitalize(), number(corpus["tree_bytes"]), number(corpus["tree_files"]),
                        results["machine"]["cores"], corpus["j1_wall"], table(
                            ("tool", "time ÷ 7z", "ZIP bytes ÷ 7z", "wall time", "CPU time", "spread", "ZIP bytes",
                             "file bytes"), rows)))
    return "\n\n".join(parts)


def extract_tables(results):
    parts = []
    for subject, data in results.get("extract", {}).items():
        runs = data["runs"]
        peer = runs[EXTRACT_PEER]
        rows = [(tool, "%.2f" % (median(runs[tool]) / median(peer)),
                 "%.2f" % (median(runs[tool], "cpu") / median(peer, "cpu")),
                 "%.3f s" % median(runs[tool]), "%.3f s" % median(runs[tool], "cpu"), "%.0f%%" % (100 * spread(runs[tool])),
                 number(int(median(runs[tool], "rss_kib"))))
                for tool in EXTRACT_TOOLS]
        title = "The corpus" if subject == "corpus" else "%s small files in nested folders" % number(data["files"])
        parts.append("**%s** (%s bytes in %s files, from a %s-byte archive):\n\n%s" % (
            title, number(data["bytes"]), number(data["files"]), number(data["archive_bytes"]),
            table(("tool", "time ÷ unzip", "CPU ÷ unzip", "wall time", "CPU time", "spread", "peak memory KiB"), rows)))
        if "syscalls" in data:
            calls = data["syscalls"]
            rows = [(tool, number(calls[tool]["reads"]), number(calls[tool]["writes"])) for tool in calls]
            rows.append(("dravik-sfx extract before the 64 KiB transfers (earlier run)",
                         number(EARLIER_SYSCALLS["reads"]), number(EARLIER_SYSCALLS["writes"])))
            parts.append("System calls of one extraction of the corpus (`strace -f -c`; reads are read, pread64 "
                         "and readv, writes are write, pwrite64 and writev):\n\n" +
                         table(("tool", "read calls", "write calls"), rows))
    return "\n\n".join(parts)


def wine_table(results):
    wine = results.get("wine", {})
    if "runs" not in wine:
        return "Not measured in this run: %s." % wine.get("skipped", "no Wine")
    text = wine_rows(wine, "the corpus")
    few = results.get("wine_few_files", {})
    if "runs" in few:
        text += "\n\n" + wine_rows(few, "the same bytes joined into %d files" % few["files"])
    return text


def wine_rows(wine, what):
    runs = wine["runs"]
    ours = median(runs["dravik-sfx extract"])
    rows = [(tool, "%.2f" % (median(runs[tool]) / ours), "%.2f s" % median(runs[tool]), "%.2f s" % median(runs[tool], "cpu"),
             "%.0f MB/s" % (wine["bytes"] / 1e6 / median(runs[tool])) if tool in (STUB_ROW, "dravik-sfx extract")
             else "—", "%.0f%%" % (100 * spread(runs[tool])))
            for tool in runs]
    return ("`%s` (%s, x64 stub), %s bytes in %s files, extracted into /dev/shm:\n\n%s" % (
        wine["exe"], what, number(wine["bytes"]), number(wine["files"]),
        table(("how", "time ÷ dravik-sfx extract", "wall time", "CPU time", "output MB/s", "spread"), rows)))


def decode_table(results):
    data = results.get("decode")
    if not data:
        return "Not measured in this run."
    runs, instructions = data["runs"], data["instructions"]
    rows = [(decoder, "%.2f" % (median(runs[decoder]) / median(runs[DECODE_PEER])),
             "%.2f" % (median(runs[decoder]) / median(runs["libdeflate"])),
             "%.2f" % (instructions[decoder] / instructions[DECODE_PEER]),
             "%.0f MB/s" % (data["output_bytes"] / 1e6 / median(runs[decoder])), "%.0f%%" % (100 * spread(runs[decoder])),
             number(instructions[decoder]))
            for decoder in DECODERS]
    return ("Every deflated entry of the corpus's zip -9 archive (%.1f MB of output) decoded memory to memory "
            "(bench/inflate_bench.cpp); instructions counted by callgrind over the first %s bytes of output.\n\n%s" % (
                data["output_bytes"] / 1e6, number(5_000_000), table(
                    ("decoder", "time ÷ zlib", "time ÷ libdeflate", "instructions ÷ zlib", "output MB/s", "spread",
                     "instructions"), rows)))


def machine_section(results):
    machine = results["machine"]
    spreads = every_spread(results)
    noise = ("median spread %.0f%%, largest %.0f%%" % (100 * statistics.median(spreads), 100 * max(spreads))
             if spreads else "no repeated timings")
    lines = [
        "- machine: %s, %d cores, %s" % (machine["cpu"], machine["cores"], machine["system"]),
        "- date: %s; commit: %s%s" % (machine["date"], machine["commit"], " (with changes not committed)"
                                       if machine["dirty"] else ""),
        "- load average (1, 5, 15 min) before: %s; after: %s" % (
            ", ".join(machine["load_before"]), ", ".join(machine.get("load_after", ["?"]))),
        "- each timing taken %d times, the tools of a comparison taking turns; the figure is the median" %
        machine["runs"],
        "- noise: the spread of a row is (slowest − fastest) ÷ median of its runs; over this run's rows, %s" % noise,
        "- versions: " + "; ".join("%s: %s" % item for item in machine["versions"].items()),
    ]
    return "\n".join(lines)


def stub_table(results):
    stubs = results.get("stubs", {})
    return table(("stub", "bytes"), [(arch, number(size)) for arch, size in stubs.items()])


# ---- the plot --------------------------------------------------------------------

def write_plot_data(results, folder):
    """One data file per panel: a row per group, a column per tool, each a
    ratio to the panel's peer."""
    os.makedirs(folder, exist_ok=True)
    build = results.get("build", {})

    def write(name, header, rows):
        with open(os.path.join(folder, name), "w") as out:
            out.write(" ".join('"%s"' % cell for cell in header) + "\n")
            for label, values in rows:
                out.write('"%s" ' % label + " ".join("%.4f" % value for value in values) + "\n")

    write("build_time.dat", ("corpus",) + BUILD_TOOLS, [
        (name, [median(c["runs"][tool]) / median(c["runs"][BUILD_PEER]) for tool in BUILD_TOOLS])
        for name, c in build.items()])
    write("build_size.dat", ("corpus",) + BUILD_TOOLS, [
        (name, [c["zip_bytes"][tool] / c["zip_bytes"][BUILD_PEER] for tool in BUILD_TOOLS]) for name, c in build.items()])
    write("extract_time.dat", ("subject",) + EXTRACT_TOOLS, [
        (subject, [median(d["runs"][tool]) / median(d["runs"][EXTRACT_PEER]) for tool in EXTRACT_TOOLS])
        for subject, d in results.get("extract", {}).items()])
    decode = results.get("decode")
    if decode:
        write("decode.dat", ("measure",) + DECODERS, [
            ("time", [median(decode["runs"][d]) / median(decode["runs"][DECODE_PEER]) for d in DECODERS]),
            ("instructions", [decode["instructions"][d] / decode["instructions"][DECODE_PEER] for d in DECODERS])])


def draw_plot(results, plot, folder):
    write_plot_data(results, folder)
    os.makedirs(os.path.dirname(plot), exist_ok=True)
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "benchmarks.gp")
    subprocess.run(["gnuplot", "-e", "data='%s'; output='%s'" % (folder, plot), script], check=True)


# ---- the document ----------------------------------------------------------------

def write(results, doc, plot, plot_data):
    draw_plot(results, plot, plot_data)
    text = """# Benchmarks

What our figures on speed and size rest on, measured side by side with the
programs users would pick instead, in one run on one machine. Every figure is
a ratio to a peer measured in the same run (named in each column), with the
raw figures beside it; the machine is shared, so the spread of each row says
how noisy it was.

Regenerate this page and its plot with one command. It makes a release build
and the corpora under /tmp once (the first build cross-compiles both stubs and
takes several minutes), then measures for about 15 minutes on two cores:

```
bench/run.sh            # RUNS=N for more repetitions; bench/run.sh --help
```

![Ratios to the peer of each measurement](images/benchmarks.png)

## What the figures show

{claims}

## The run

{machine}

The corpora are made on the machine from its own files (bench/make_corpus.sh)
and never committed: *the corpus* is about 100 MB of C headers and text,
executables, shared libraries and 8 MiB of random bytes; *the software-like
corpus* is about 50 MB of what an installer carries: executables and shared
libraries from /usr/lib, Python sources, and files that are compressed
already (.gz, .png, .jar, .xz, .zip, .jpg).

## Build

Each tool archives the same folder: `dravik-sfx build` (libdeflate level 12,
the default), `zip -9 -r` and `7z a -tzip -mx=9`. *ZIP bytes* count the ZIP
archive alone: for a self-extractor, from its first local header (the lowest
offset its central directory names) to the end, that is the file less the
stub in front of it; for the others, the whole file. *File bytes* are whole
files, the stub and its configuration included.

{build}

## Extract

`dravik-sfx extract` reads a self-extractor made with `build --zip` from the
same zip -9 archive that the other tools read, so that every tool decodes the
same deflate streams. Output goes to /dev/shm (memory), so that the tools are
measured rather than the disk. Peak memory is the largest resident set
(what `/usr/bin/time -f %M` reports).

{extract}

## The stub under Wine

The real self-extractor (x64 stub, 64-bit Wine, on an Xvfb display) started
with `/auto FOLDER`, which extracts everything without a dialog and ends by
itself, against `dravik-sfx extract` of the same file, taking turns. Wine's
start-up is inside the stub's time; the stub extracting a single 1 KB file
shows what that start-up and shut-down alone cost. CPU time is that of the
Wine processes the run started and waited for (the Wine server, which runs on,
is not in it).

Under Wine every new file's name is looked up by reading its whole folder
(Windows names match regardless of case, Linux names do not), so a folder of
thousands of files costs Wine time that grows with the square of their
number, whatever program makes them. The floor row measures that: a small
Win32 program (`bench/wine_floor.c`) makes the same files with the same
sizes (created new, written 64 KiB at a time, time set, closed) and decodes
nothing. The second table has the same bytes joined into a few large files,
where the cost per file is nearly gone and the stub's cost per byte shows.
`bench/wine_extract.sh` runs this part alone, and
`bench/wine_extract.sh BENCH_DIR OTHER.exe` times another x64 self-extractor
(say, one built with `--stub` from an older stub) the same way.

{wine}

## Decode

{decode}

## Stub sizes

{stubs}
""".format(claims=claims(results), machine=machine_section(results), build=build_tables(results),
           extract=extract_tables(results), wine=wine_table(results), decode=decode_table(results),
           stubs=stub_table(results))
    with open(doc, "w") as out:
        out.write(text)
