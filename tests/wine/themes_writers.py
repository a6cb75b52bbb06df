"""The theme of archives as publishers have them: written at test time by
each writer on this machine, with the compression methods the builder
re-encodes (Deflate64, bzip2, LZMA, XZ) and with ZIP64 records whose values
fit, wrapped by `build --zip` and extracted unattended by the real stub,
every file compared with its source by bytes and date; and 7-Zip's
ZipCrypto and AES (wrapped with its password), opened at the stub's
password dialog."""
import os
import subprocess
import time
import zipfile

from wine_cases import *  # noqa: F401,F403 (the vocabulary of every theme)
from themes_password import PasswordDialog, main_back, same_tree

# Archives written here store local times; the stub writes them back through
# the same zone (the Wine runs have TZ=UTC too).
os.environ["TZ"] = "UTC"
time.tzset()


def shell(line):
    """An archive written by a shell line, run in the source tree; {zip} is
    the archive's path."""
    def make(source, archive):
        subprocess.run(line.format(zip=archive), shell=True, cwd=source, check=True, capture_output=True)
    return make


def python_zipfile(method, force_zip64=False):
    """Python's zipfile with a method; force_zip64 gives every entry ZIP64
    fields although it is small."""
    def make(source, archive):
        with zipfile.ZipFile(archive, "w", method) as out:
            for folder, _, files in sorted(os.walk(source)):
                for name in sorted(files):
                    path = os.path.join(folder, name)
                    info = zipfile.ZipInfo.from_file(path, os.path.relpath(path, source))
                    info.compress_type = method
                    with open(path, "rb") as data, out.open(info, "w", force_zip64=force_zip64) as entry:
                        entry.write(data.read())
    return make


WRITERS = [
    ("Info-ZIP from files", shell("zip -q -r {zip} .")),
    ("Info-ZIP to a pipe", shell("zip -q -r - . | cat > {zip}")),
    ("7z Deflate", shell("7z a -tzip -bd -mm=Deflate {zip} .")),
    ("7z Deflate64, re-encoded", shell("7z a -tzip -bd -mm=Deflate64 {zip} .")),
    ("7z BZip2, re-encoded", shell("7z a -tzip -bd -mm=BZip2 {zip} .")),
    ("7z LZMA, re-encoded", shell("7z a -tzip -bd -mm=LZMA {zip} .")),
    ("7z XZ, re-encoded", shell("7z a -tzip -bd -mm=XZ {zip} .")),
    ("zip -Z bzip2, re-encoded", shell("zip -q -r -Z bzip2 {zip} .")),
    ("jar", shell("jar cfM {zip} .")),
    ("bsdtar", shell("bsdtar --format zip -cf {zip} .")),
    ("zipfile ZIP_BZIP2, re-encoded", python_zipfile(zipfile.ZIP_BZIP2)),
    ("zipfile ZIP_LZMA, re-encoded", python_zipfile(zipfile.ZIP_LZMA)),
    ("zipfile force_zip64 (small entries)", python_zipfile(zipfile.ZIP_DEFLATED, force_zip64=True)),
]


def wrapped(name, make_archive, *options):
    """NAME.exe wrapping the archive make_archive writes from the source tree."""
    def build(w):
        archive = os.path.join(w.folder, name + ".zip")
        if name not in w.built:
            if os.path.exists(archive):
                os.remove(archive)
            make_archive(w.source, archive)
        return w.wrap(name, archive, *options)
    return build


def theme_writers():
    """Each writer's archive extracted by "/auto FOLDER" with no box, every
    file equal to its source by bytes and date; and `cat file | zip - -`
    (one entry named "-", ZIP64 fields for a few kilobytes) equal by bytes."""
    def auto_into(folder):
        return lambda w: ["/auto", windows_path(os.path.join(w.folder, folder))]

    def extracted_into(folder):
        return lambda w: compare_trees(w.source, os.path.join(w.folder, folder))

    cases = [
        Case(label, wrapped("writer%d" % n, make), None, EXIT_NORMAL, actions=["--read"],
             args=auto_into("out%d" % n), after=extracted_into("out%d" % n))
        for n, (label, make) in enumerate(WRITERS)
    ]

    def piped_readme_equal(w):
        extracted = os.path.join(w.folder, "out-pipe", "-")
        expect(os.path.exists(extracted), "%s was not extracted" % extracted)
        expect(open(extracted, "rb").read() == open(os.path.join(w.source, "readme.txt"), "rb").read(),
               "%s differs from readme.txt" % extracted)
    cases.append(Case("Info-ZIP from a pipe: cat file | zip - -", wrapped("pipe", shell("cat readme.txt | zip -q - - > {zip}")),
                      None, EXIT_NORMAL, actions=["--read"], args=auto_into("out-pipe"), after=piped_readme_equal))

    # 7-Zip's ZipCrypto, carried as it is, and its AES-256, wrapped with the
    # password: encrypted again the traditional way. The stub asks for the
    # password and extracts.
    password = "Open sesame 7"
    encrypted = [
        ("7z ZipCrypto: the password dialog, then every file", "zipcrypto",
         wrapped("zipcrypto", shell("7z a -tzip -bd -mem=ZipCrypto -p'%s' {zip} ." % password))),
        ("7z AES-256 wrapped with --password: the password dialog, then every file", "aes",
         wrapped("aes", shell("7z a -tzip -bd -mem=AES256 -p'%s' {zip} ." % password), "--password", password)),
    ]
    for label, name, exe in encrypted:
        target = lambda w, name=name: os.path.join(w.folder, "out-" + name)
        cases.append(Case(label, exe, [MainDialog(), PasswordDialog(), counted(3), main_back(name)], EXIT_NORMAL,
                          actions=lambda w, target=target: ["--type", "106", windows_path(target(w)), "--click", "Unzip",
                                                            "--type", "402", password, "--click", "OK", "--click", "OK",
                                                            "--back", "--click", "Close"],
                          after=lambda w, target=target: same_tree(w.source, target(w))))
    return cases
