#!/usr/bin/env python3
"""Round trips through dravik-sfx: archives written at test time by other
tools (every writer on this machine, with each compression method the
builder re-encodes, and ZIP64 records that fit), wrapped by `build --zip`
(or built from files, encrypted, spanned) and extracted by `extract`, which
runs the self-extractor's own engine.
Every extracted file must equal its source byte for byte and by date.

usage: roundtrip_tests.py DRAVIK_SFX
Prints one line per case and closes with "N passed, N failed".
"""
import io
import random
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

SFX = os.path.abspath(sys.argv[1])
WORK = tempfile.mkdtemp(prefix="dravik-roundtrip-")
ENV = dict(os.environ, TZ="UTC")


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


def sh(command, cwd=None):
    subprocess.run(command, shell=True, check=True, cwd=cwd, env=ENV, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def tool(*args):
    """Runs dravik-sfx; returns (exit status, stderr)."""
    result = subprocess.run([SFX] + list(args), env=ENV, capture_output=True, text=True, stdin=subprocess.DEVNULL)
    return result.returncode, result.stderr


def make_source():
    root = os.path.join(WORK, "src")
    os.makedirs(os.path.join(root, "docs", "deep"))
    with open(os.path.join(root, "readme.txt"), "w") as f:
        f.write("Read me, please.\n" * 500)
    open(os.path.join(root, "empty.dat"), "w").close()
    with open(os.path.join(root, "docs", "deep", "data.bin"), "wb") as f:
        f.write(random.Random(7).randbytes(150000))  # incompressible: the sets need several disks
    with open(os.path.join(root, "docs", "exact.bin"), "wb") as f:
        f.write(b"x" * 2048)
    for path, stamp in [("readme.txt", 1000000000), ("empty.dat", 1200000000),
                        ("docs/deep/data.bin", 1500000000), ("docs/exact.bin", 1700000000)]:
        os.utime(os.path.join(root, path), (stamp, stamp))
    return root


SOURCE = make_source()


def same_tree(target):
    for folder, _, files in os.walk(SOURCE):
        for name in files:
            original = os.path.join(folder, name)
            copy = os.path.join(target, os.path.relpath(original, SOURCE))
            expect(os.path.exists(copy), "%s missing" % os.path.relpath(copy, WORK))
            expect(open(original, "rb").read() == open(copy, "rb").read(), "%s differs" % copy)
            expect(abs(os.stat(original).st_mtime - os.stat(copy).st_mtime) <= 2, "%s dated wrongly" % copy)


def fresh(name):
    path = os.path.join(WORK, name)
    shutil.rmtree(path, ignore_errors=True)
    return path


def python_zip(path, method, stream=False, force_zip64=False):
    buffer = io.BytesIO()

    class Unseekable(io.RawIOBase):
        def writable(self):
            return True

        def write(self, data):
            buffer.write(data)
            return len(data)

    with zipfile.ZipFile(Unseekable() if stream else path, "w", method) as z:
        for folder, _, files in os.walk(SOURCE):
            for name in sorted(files):
                if not force_zip64:
                    z.write(os.path.join(folder, name), os.path.relpath(os.path.join(folder, name), SOURCE))
                    continue
                info = zipfile.ZipInfo.from_file(os.path.join(folder, name), os.path.relpath(os.path.join(folder, name), SOURCE))
                info.compress_type = method
                with open(os.path.join(folder, name), "rb") as i, z.open(info, "w", force_zip64=True) as o:
                    o.write(i.read())
    if stream:
        with open(path, "wb") as f:
            f.write(buffer.getvalue())


def wrap_and_extract(zip_path, *extract_options, build_options=()):
    exe = os.path.join(WORK, "wrapped.exe")
    status, err = tool("build", "-o", exe, "--zip", zip_path, *build_options)
    expect(status == 0, "build --zip failed: %s" % err)
    out = fresh("out")
    status, err = tool("extract", exe, "-d", out, *extract_options)
    expect(status == 0, "extract failed (%d): %s" % (status, err))
    same_tree(out)


def case_peer_archives():
    makers = {
        "zip stored": "zip -q -r -0 {z} .",
        "zip -1": "zip -q -r -1 {z} .",
        "zip -9": "zip -q -r -9 {z} .",
        "zip to a pipe": "zip -q -r - . | cat > {z}",
        "7z deflate": "7z a -tzip -mm=Deflate {z} .",
        "bsdtar": "bsdtar --format zip -cf {z} .",
    }
    for name, command in makers.items():
        z = os.path.join(WORK, "peer.zip")
        if os.path.exists(z):
            os.remove(z)
        sh(command.format(z=z), cwd=SOURCE)
        yield name, lambda z=z: wrap_and_extract(z)
    for name, method, stream in [("zipfile stored", zipfile.ZIP_STORED, False),
                                 ("zipfile deflated", zipfile.ZIP_DEFLATED, False),
                                 ("zipfile to an unseekable stream", zipfile.ZIP_DEFLATED, True)]:
        z = os.path.join(WORK, "py-%d.zip" % stream)

        def run(z=z, method=method, stream=stream):
            python_zip(z, method, stream)
            wrap_and_extract(z)
        yield name, run


# Archives as publishers have them, written at test time by each writer on
# this machine: (name, shell command or Python writer, what `info` must say
# the entries were re-encoded from, or None, and the password to extract
# with). {z} is the archive's path; the commands run in the source folder.
WRITERS = [
    ("Info-ZIP from files", "zip -q -r {z} .", None, None),
    ("Info-ZIP to a pipe", "zip -q -r - . | cat > {z}", None, None),
    ("7z Deflate", "7z a -tzip -mm=Deflate {z} .", None, None),
    ("7z Deflate64", "7z a -tzip -mm=Deflate64 {z} .", "Deflate64 (method 9)", None),
    ("7z BZip2", "7z a -tzip -mm=BZip2 {z} .", "bzip2 (method 12)", None),
    ("7z LZMA", "7z a -tzip -mm=LZMA {z} .", "LZMA (method 14)", None),
    ("7z XZ", "7z a -tzip -mm=XZ {z} .", "XZ (method 95)", None),
    ("7z ZipCrypto", "7z a -tzip -mem=ZipCrypto -ps3cret {z} .", None, "s3cret"),
    ("7z AES-256, decrypted and encrypted again", "7z a -tzip -mem=AES256 -ps3cret {z} .", None, "s3cret"),
    ("zip -Z bzip2", "zip -q -r -Z bzip2 {z} .", "bzip2 (method 12)", None),
    ("jar", "jar cfM {z} .", None, None),
    ("bsdtar", "bsdtar --format zip -cf {z} .", None, None),
    ("zipfile ZIP_BZIP2", lambda z: python_zip(z, zipfile.ZIP_BZIP2), "bzip2 (method 12)", None),
    ("zipfile ZIP_LZMA", lambda z: python_zip(z, zipfile.ZIP_LZMA), "LZMA (method 14)", None),
    ("zipfile force_zip64", lambda z: python_zip(z, zipfile.ZIP_DEFLATED, force_zip64=True), None, None),
]


def make_archive(writer, name="writer.zip"):
    z = os.path.join(WORK, name)
    if os.path.exists(z):
        os.remove(z)
    if callable(writer):
        writer(z)
    else:
        sh(writer.format(z=z), cwd=SOURCE)
    return z


def case_writers():
    """Each writer's archive built, `test`ed and extracted to the source's
    bytes and dates; `info` names the entries that were re-encoded."""
    for name, writer, reencoded_from, password in WRITERS:
        def run(name=name, writer=writer, reencoded_from=reencoded_from, password=password):
            z = make_archive(writer)
            exe = os.path.join(WORK, "writer.exe")
            given = ("--password", password) if password else ()
            status, err = tool("build", "-o", exe, "--zip", z, *(given if "AES" in name else ()))
            expect(status == 0, "build --zip failed: %s" % err)
            status, err = tool("test", exe, *given)
            expect(status == 0, "test failed (%d): %s" % (status, err))
            out = fresh("out")
            status, err = tool("extract", exe, "-d", out, *given)
            expect(status == 0, "extract failed (%d): %s" % (status, err))
            same_tree(out)
            info = subprocess.run([SFX, "info", exe], env=ENV, capture_output=True, text=True).stdout
            files = [line for line in info.splitlines() if line.startswith("  ") and not line.rstrip().endswith("/")
                     and not line.lstrip().startswith(("method", "total"))]
            marked = [line for line in files if "(re-encoded from " in line]
            if reencoded_from:  # every file the writer did not store (empty or incompressible)
                expect(marked and all("(re-encoded from %s)" % reencoded_from in line for line in marked) and
                       all(line in marked or line.split()[0] == "stored" for line in files), "info:\n%s" % info)
            else:
                expect(not marked, "info names re-encoded entries:\n%s" % info)
        yield name, run

    def from_a_pipe():
        """`cat file | zip - -`: one entry named "-", ZIP64 fields although small."""
        z = os.path.join(WORK, "pipe.zip")
        sh("cat readme.txt | zip -q - - > %s" % z, cwd=SOURCE)
        exe = os.path.join(WORK, "pipe.exe")
        status, err = tool("build", "-o", exe, "--zip", z)
        expect(status == 0, "build --zip failed: %s" % err)
        out = fresh("out")
        expect(tool("extract", exe, "-d", out)[0] == 0, "extract failed")
        expect(open(os.path.join(out, "-"), "rb").read() == open(os.path.join(SOURCE, "readme.txt"), "rb").read(),
               "the entry differs")
    yield "Info-ZIP from a pipe (cat file | zip - -)", from_a_pipe

    def refused(name, writer, message):
        def run():
            z = make_archive(writer)
            exe = os.path.join(WORK, "refused.exe")
            status, err = tool("build", "-o", exe, "--zip", z)
            expect(status == 2 and message in err and err.count("\n") == 1, "%d %s" % (status, err))
            expect(not os.path.exists(exe), "an output file was written")
        return name, run
    yield refused("7z PPMd (refused)", "7z a -tzip -mm=PPMd {z} .",
                  "is compressed with PPMd (method 98), which neither the self-extractor nor the builder can decode")
    yield refused("7z AES (refused)", "7z a -tzip -mem=AES256 -ps3cret {z} .",
                  "is AES-encrypted; the self-extractor reads traditional ZIP encryption only: re-create the archive "
                  "with ZipCrypto, or build from the files with --password")


def case_passwords():
    def peer(command):
        z = os.path.join(WORK, "enc.zip")
        if os.path.exists(z):
            os.remove(z)
        sh(command.format(z=z), cwd=SOURCE)
        return z
    yield "zip -P", lambda: wrap_and_extract(peer("zip -q -r -P s3cret {z} ."), "--password", "s3cret")
    yield "zip -P to a pipe", lambda: wrap_and_extract(peer("zip -q -r -P s3cret - . | cat > {z}"),
                                                        "--password", "s3cret")
    yield "7z ZipCrypto", lambda: wrap_and_extract(peer("7z a -tzip -mem=ZipCrypto -ps3cret {z} ."),
                                                    "--password", "s3cret")

    def built_with_password():
        exe = os.path.join(WORK, "pw.exe")
        expect(tool("build", "-o", exe, "--password", "p\u00e4ss", "-C", SOURCE, ".")[0] == 0, "build failed")
        out = fresh("out")
        status, err = tool("extract", exe, "-d", out, "--password", "wrong")
        expect(status == 2 and "Incorrect password specified" in err, "wrong password: %d %s" % (status, err))
        status, err = tool("extract", exe, "-d", out, "--password", "p\u00e4ss")  # typed in UTF-8 on Linux
        expect(status == 0, "right password: %d %s" % (status, err))
        same_tree(out)
        listing = subprocess.run([b"unzip", b"-t", b"-P", "p\u00e4ss".encode("cp1252"), exe.encode()],
                                 capture_output=True)
        expect(listing.returncode == 0, "unzip -t with the password: %s" % listing.stdout)
    yield "build --password (UTF-8 password, cp1252 stub)", built_with_password


def case_spanned():
    for exe_volumes in (False, True):
        # The first ".EXE" volume holds the whole self-extractor (some 40 KB,
        # growing with the stub) and a record: its smallest size leaves room.
        for size in ("48K" if exe_volumes else "40K", "64K", "100000"):
            label = "span %s %s" % (size, "exe volumes" if exe_volumes else "zip volumes")

            def run(size=size, exe_volumes=exe_volumes):
                base = fresh("span")
                os.makedirs(base)
                exe = os.path.join(base, "setup.exe")
                options = ["--span", size] + (["--exe-volumes"] if exe_volumes else [])
                status, err = tool("build", "-o", exe, "--level", "1", *options, "-C", SOURCE, ".")
                expect(status == 0, "build: %s" % err)
                disks = sorted(d for d in os.listdir(base) if d.startswith("disk"))
                expect(len(disks) >= 2, "only %d disks" % len(disks))
                limit = int(size[:-1]) * 1024 if size.endswith("K") else int(size)
                for d in disks:
                    for f in os.listdir(os.path.join(base, d)):
                        expect(os.path.getsize(os.path.join(base, d, f)) <= limit or f == "setup.exe" and not exe_volumes,
                               "%s/%s over the volume size" % (d, f))
                out = fresh("out")
                status, err = tool("extract", exe, "-d", out)
                expect(status == 0, "extract: %d %s" % (status, err))
                same_tree(out)
            yield label, run

    def split_set():
        base = fresh("split")
        os.makedirs(base)
        sh("zip -q -r -1 -s 64k %s ." % os.path.join(base, "set.zip"), cwd=SOURCE)
        exe = os.path.join(base, "out", "setup.exe")
        os.makedirs(os.path.dirname(exe))
        status, err = tool("build", "-o", exe, "--zip", os.path.join(base, "set.zip"), "--split-set", "--overwrite",
                           "--auto", "--caption", "Foo")
        expect(status == 0, "build --split-set: %s" % err)
        # The options' settings hold for a split set as for any other file,
        # the stub CRC leaving the headers out so that signing keeps it valid.
        shown = subprocess.run([SFX, "info", exe], capture_output=True, text=True).stdout
        expect("Options             --overwrite --auto --buttons none --span\n" in shown, "info says:\n" + shown)
        out = fresh("out")
        status, err = tool("extract", exe, "-d", out)
        expect(status == 0, "extract: %d %s" % (status, err))
        same_tree(out)
    yield "zip -s split set, with the options' settings", split_set

    def volume_ends_inside_encryption_header():
        # Entry data starts with the 12-byte encryption header, and a volume
        # may end anywhere in entry data: here 5 bytes into one. The stream
        # positions do not depend on the volume size, so a one-volume probe
        # gives them.
        probe = fresh("probe")
        os.makedirs(probe)
        options = ["--password", "s3cret", "--level", "0", "-C", SOURCE, "."]
        expect(tool("build", "-o", os.path.join(probe, "setup.exe"), "--span", "10000000", *options)[0] == 0, "probe")
        data_starts = [at for at, size in local_entries(os.path.join(probe, "disk1", "setup.ZIP")) if size >= 12]
        volume_size = next(at for at in data_starts if at >= 200) + 5
        base = fresh("span-enc")
        os.makedirs(base)
        exe = os.path.join(base, "setup.exe")
        status, err = tool("build", "-o", exe, "--span", str(volume_size), *options)
        expect(status == 0, "build: %s" % err)
        expect(os.path.getsize(os.path.join(base, "disk1", "setup.ZIP")) == volume_size, "disk 1 ends elsewhere")
        out = fresh("out")
        status, err = tool("extract", exe, "-d", out, "--password", "s3cret")
        expect(status == 0, "extract: %d %s" % (status, err))
        same_tree(out)
    yield "span: a volume ends inside an encryption header", volume_ends_inside_encryption_header


def local_entries(path):
    """(data offset, compressed size) of each local header of a spanned
    set's first volume, which starts with the spanning signature."""
    data = open(path, "rb").read()
    entries, at = [], 4
    while data[at:at + 4] == b"PK\x03\x04":
        size, name_length, extra_length = struct.unpack_from("<IHH", data, at + 18)[0], *struct.unpack_from(
            "<HH", data, at + 26)
        at += 30 + name_length + extra_length
        entries.append((at, size))
        at += size
    return entries


def case_refusals():
    def hostile():
        z = os.path.join(WORK, "hostile.zip")
        for name in ["../evil", "C:x", "a/../../b", "x:stream", "CON", "...", ".. /x", "dir./x", "name ", "CON .txt",
                     "conin$", "CONOUT$.log"]:
            with zipfile.ZipFile(z, "w") as archive:
                archive.writestr("fine.txt", "fine")
                archive.writestr(name, "evil")
            exe = os.path.join(WORK, "hostile.exe")
            expect(tool("build", "-o", exe, "--zip", z)[0] == 0, "build refused %s" % name)
            zone = fresh("zone")
            out = os.path.join(zone, "out")
            status, err = tool("extract", exe, "-d", out)
            expect(status == 2 and "Zip file contains an unsafe file name: " in err, "%s: %d %s" % (name, status, err))
            found = sorted(os.path.relpath(os.path.join(d, f), zone) for d, _, fs in os.walk(zone) for f in fs)
            expect(found == ["out/fine.txt"], "%s wrote %r" % (name, found))
    yield "hostile names write nothing outside", hostile

    def overwrite():
        exe = os.path.join(WORK, "ow.exe")
        tool("build", "-o", exe, "-C", SOURCE, ".")
        out = fresh("out")
        expect(tool("extract", exe, "-d", out)[0] == 0, "first extraction")
        status, err = tool("extract", exe, "-d", out)  # no terminal, no option: refused
        expect(status == 1, "without --overwrite: %d %s" % (status, err))
        expect(tool("extract", exe, "-d", out, "--skip-existing")[0] == 0, "--skip-existing")
        expect(tool("extract", exe, "-d", out, "--overwrite")[0] == 0, "--overwrite")
        expect(tool("test", exe)[0] == 0, "test")
        expect(tool("extract")[0] == 64, "usage")
    yield "overwrite answers and exit statuses", overwrite


def main():
    passed = failed = 0
    for group in (case_peer_archives, case_writers, case_passwords, case_spanned, case_refusals):
        for name, run in group():
            try:
                run()
                passed += 1
                print("ok      %s" % name)
            except (Failure, subprocess.CalledProcessError) as failure:
                failed += 1
                print("FAILED  %s: %s" % (name, failure))
    shutil.rmtree(WORK, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
