#!/usr/bin/env python3
"""A self-extractor as a publisher brands it: icon, version information, the
manifest's execution level, the dialog's text and the license, each read
back from the built file by dravik-sfx's own reader (info --json) and by 7-Zip's
PE reader (7z l -tpe), and each built file still passing `dravik-sfx test`,
`unzip -t`, and `osslsigncode sign` then `verify` (the signed file testing
good too). ICO fixtures are made here (icon_fixtures.py).

usage: branding_tests.py DRAVIK_SFX
Prints one line per case and closes with "N passed, N failed".
"""
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from icon_fixtures import BROKEN_ICONS, GOOD_ICONS, make_broken_icon, make_good_icon  # noqa: E402

SFX = os.path.abspath(sys.argv[1])
WORK = tempfile.mkdtemp(prefix="dravik-branding-")
STUB_SIZE_LIMIT = 49152  # bytes, each stub, with no resource at all
ARCHES = ("x86", "x64")


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


def run(*command):
    return subprocess.run(list(command), capture_output=True, text=True, errors="replace", stdin=subprocess.DEVNULL)


def tool(*args):
    return run(SFX, *args)


def source():
    root = os.path.join(WORK, "src")
    if not os.path.exists(root):
        os.makedirs(root)
        with open(os.path.join(root, "readme.txt"), "w") as f:
            f.write("Read me.\n" * 100)
    return root


def build(name, *options, arch="x86"):
    """NAME.exe built from the small source with the options; its path."""
    out = os.path.join(WORK, name + ".exe")
    result = tool("build", "-o", out, "--arch", arch, *options, "-C", source(), ".")
    expect(result.returncode == 0, "build %s: %s" % (" ".join(options), result.stderr.strip()))
    return out


def info(exe):
    result = tool("info", "--json", exe)
    expect(result.returncode == 0, "info: %s" % result.stderr)
    return json.loads(result.stdout)["resources"]


def seven_zip_pe(exe):
    """7-Zip's listing of the image's resources, and the version fields it reads."""
    result = run("7z", "l", "-tpe", exe)
    expect(result.returncode == 0, "7z l -tpe: %s" % result.stdout[-400:])
    return result.stdout


def seven_zip_manifest(exe):
    result = subprocess.run(["7z", "x", "-tpe", "-so", exe, ".rsrc/MANIFEST/1"], capture_output=True)
    expect(result.returncode == 0, "7z cannot extract the manifest")
    return result.stdout.decode()


def ico_images(path):
    """(width, height, size) of each image, read from the .ico's own directory."""
    data = open(path, "rb").read()
    count = struct.unpack_from("<H", data, 4)[0]
    images = []
    for n in range(count):
        width, height, _, _, _, _, size, _ = struct.unpack_from("<BBBBHHII", data, 6 + 16 * n)
        images.append((width or 256, height or 256, size))
    return images


def signing_key():
    key, cert = os.path.join(WORK, "key.pem"), os.path.join(WORK, "cert.pem")
    if not os.path.exists(cert):
        result = run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                     "-days", "2", "-subj", "/CN=Foo Publisher")
        expect(result.returncode == 0, "openssl: %s" % result.stderr)
    return key, cert


def expect_file_stays_valid(exe):
    """dravik-sfx test and unzip -t pass, and so do they after signing, which
    osslsigncode verifies."""
    result = tool("test", exe)
    expect(result.returncode == 0, "dravik-sfx test: %s" % result.stderr)
    expect(run("unzip", "-t", exe).returncode == 0, "unzip -t fails")
    key, cert = signing_key()
    signed = exe[:-4] + "-signed.exe"
    result = run("osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Foo", "-in", exe, "-out", signed)
    expect(result.returncode == 0, "osslsigncode sign: %s" % result.stderr)
    result = run("osslsigncode", "verify", "-CAfile", cert, "-in", signed)
    expect(result.returncode == 0, "osslsigncode verify: %s" % (result.stdout + result.stderr)[-400:])
    result = tool("test", signed)
    expect(result.returncode == 0, "dravik-sfx test after signing: %s" % result.stderr)


# ---- the icon ---------------------------------------------------------------------

VERSION = ["--version-info", "ProductName=Foo Écrit", "--version-info", "CompanyName=Foo Ltd",
           "--version-info", "FileDescription=Foo Setup", "--version-info", "FileVersion=2.1.3.4",
           "--version-info", "ProductVersion=2.1", "--version-info", "LegalCopyright=© 2026 Foo Ltd"]


def case_icons():
    """Each ICO fixture, with the version strings, in both stubs: the images
    read back as the .ico holds them, by both readers."""
    for name, arguments, wanted in GOOD_ICONS:
        for arch in ARCHES:
            def check(name=name, arguments=arguments, wanted=wanted, arch=arch):
                icon = make_good_icon(WORK, name, arguments)
                exe = build("icon-%s-%s" % (name.replace(" ", "-"), arch), "--icon", icon, *VERSION, arch=arch)
                seen = info(exe)["icons"]
                expect([(i["width"], i["height"], i["png"]) for i in seen] == wanted, "info reads %r" % seen)
                expect([(i["width"], i["height"], i["bytes"]) for i in seen] == ico_images(icon),
                       "images %r, the .ico holds %r" % (seen, ico_images(icon)))
                listing = seven_zip_pe(exe)
                # 7-Zip names a bitmap image NAME.ico and leaves a PNG one as it is
                expect(len(re.findall(r"\.rsrc/ICON/\d+(?:\.ico)?$", listing, re.M)) == len(wanted), "7z lists:\n" + listing)
                expect(".rsrc/GROUP_ICON/1" in listing, "7z lists no icon group:\n" + listing)
                expect_file_stays_valid(exe)
            yield "icon: %s, %s" % (name, arch), check


def case_broken_icons():
    """A broken icon file ends the build with one line naming the file and the
    fault, exit status 2, and no output file."""
    for name, data, words in BROKEN_ICONS:
        def check(name=name, data=data, words=words):
            icon = make_broken_icon(WORK, name, data)
            out = os.path.join(WORK, "broken.exe")
            result = tool("build", "-o", out, "--icon", icon, "-C", source(), ".")
            expect(result.returncode == 2, "exit status %d" % result.returncode)
            lines = result.stderr.splitlines()
            expect(len(lines) == 1 and icon in lines[0] and words in lines[0], "stderr %r" % result.stderr)
            expect(not os.path.exists(out), "a file was written")
        yield "broken icon: %s" % name, check


# ---- version information ------------------------------------------------------------

VERSION_CASES = [
    # name, --version-info values, numeric file version, numeric product version
    ("four numbers", ["FileVersion=2.1.3.4"], "2.1.3.4", "2.1.3.4"),
    ("two numbers and a word", ["FileVersion=2.1 beta", "ProductVersion=2.0"], "2.1.0.0", "2.0.0.0"),
    ("commas as rc writes them", ["FileVersion=3,0,1,2"], "3.0.1.2", "3.0.1.2"),
    ("no number", ["FileVersion=latest", "ProductName=Foo"], "0.0.0.0", "0.0.0.0"),
    ("keys in any case, Unicode text", ["productname=Fóó ✓", "legalcopyright=© Foo"], "0.0.0.0", "0.0.0.0"),
]


def case_version_strings():
    """The strings as given (keys in Windows' spelling), and the numeric
    versions derived from the texts, read back by both readers."""
    for name, values, file_version, product_version in VERSION_CASES:
        def check(name=name, values=values, file_version=file_version, product_version=product_version):
            options = [word for value in values for word in ("--version-info", value)]
            exe = build("version-" + name.replace(" ", "-").replace(",", ""), *options)
            seen = info(exe)
            expected = {}
            for value in values:
                key, _, text = value.partition("=")
                key = {"productname": "ProductName", "legalcopyright": "LegalCopyright"}.get(key, key)
                expected[key] = text
            expect(seen["version_strings"] == expected, "info reads %r" % seen["version_strings"])
            expect((seen["file_version"], seen["product_version"]) == (file_version, product_version),
                   "numeric versions %s %s" % (seen["file_version"], seen["product_version"]))
            listing = seven_zip_pe(exe)
            for key, text in expected.items():
                expect("%s: %s" % (key, text) in listing, "7z does not show %s: %s" % (key, text))
            expect_file_stays_valid(exe)
        yield "version: %s" % name, check
    refused = [("an unknown key", "Flavour=mild"), ("no =", "ProductName"), ("a number over 65535", "FileVersion=1.70000"),
               ("five numbers", "ProductVersion=1.2.3.4.5")]
    for name, value in refused:
        def check(value=value):
            result = tool("build", "-o", os.path.join(WORK, "refused.exe"), "--version-info", value, "-C", source(), ".")
            expect(result.returncode == 64 and len(result.stderr.splitlines()) == 1, "%d %s" % (result.returncode, result.stderr))
        yield "version refused: %s" % name, check


# ---- the manifest ---------------------------------------------------------------------

SUPPORTED_OS = ["e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"]  # Vista, 7, 8, 8.1, 10 and 11


def case_manifest_levels():
    """The level each option asks for, in the manifest of either stub, with
    the stub's processor architecture, Vista to 11 and common controls 6."""
    for options, level in [((), "asInvoker"), (("--elevate",), "requireAdministrator"),
                           (("--highest-available",), "highestAvailable")]:
        for arch in ARCHES:
            def check(options=options, level=level, arch=arch):
                exe = build("level-%s-%s" % (level, arch), *options, arch=arch)
                expect(info(exe)["execution_level"] == level, "info reads %s" % info(exe)["execution_level"])
                manifest = seven_zip_manifest(exe)
                expect('requestedExecutionLevel level="%s" uiAccess="false"' % level in manifest, manifest)
                processor = "amd64" if arch == "x64" else "x86"
                expect(manifest.count('processorArchitecture="%s"' % processor) == 2, manifest)
                expect(re.findall(r'supportedOS Id="\{([^}]*)\}"', manifest) == SUPPORTED_OS, manifest)
                expect('name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' in manifest, manifest)
                expect_file_stays_valid(exe)
            yield "manifest: %s %s" % (" ".join(options) or "(default)", arch), check
    def both():
        result = tool("build", "-o", os.path.join(WORK, "both.exe"), "--elevate", "--highest-available", "-C", source(), ".")
        expect(result.returncode == 64, "both levels: %d %s" % (result.returncode, result.stderr))
    yield "manifest: --elevate with --highest-available refused", both


# ---- the texts ---------------------------------------------------------------------

def case_texts():
    """--text and --license stored in the code page (the license with CRLF line
    ends and without its byte-order mark); files that cannot serve refused."""
    def stored():
        license_path = os.path.join(WORK, "license.txt")
        with open(license_path, "wb") as f:
            f.write("\ufeffFoo license\n\nUse it well. Café.\n".encode())
        exe = build("texts", "--text", "Install Foo 2.1 on this computer.", "--license", license_path)
        seen = info(exe)
        expect(seen["text"] == "Install Foo 2.1 on this computer.", "text %r" % seen["text"])
        expect(seen["license"] == "Foo license\r\n\r\nUse it well. Café.\r\n", "license %r" % seen["license"])
        expect_file_stays_valid(exe)
    yield "texts: --text and --license read back", stored
    refused = [("an empty license", b"\n\n", "empty"), ("a license over 64 KiB", b"x" * 65536, "limit"),
               ("a license that is not UTF-8", b"caf\xe9\n", "UTF-8"), ("a license with NUL bytes", b"a\0b", "not text")]
    for name, data, words in refused:
        def check(data=data, words=words):
            path = os.path.join(WORK, "refused-license.txt")
            with open(path, "wb") as f:
                f.write(data)
            result = tool("build", "-o", os.path.join(WORK, "refused.exe"), "--license", path, "-C", source(), ".")
            expect(result.returncode == 2 and len(result.stderr.splitlines()) == 1 and words in result.stderr,
                   "%d %s" % (result.returncode, result.stderr))
        yield "texts refused: %s" % name, check
    def missing_license():
        result = tool("build", "-o", os.path.join(WORK, "refused.exe"), "--license", os.path.join(WORK, "none.txt"),
                      "-C", source(), ".")
        expect(result.returncode == 2 and "none.txt" in result.stderr, "%d %s" % (result.returncode, result.stderr))
    yield "texts refused: a license file that is not there", missing_license
    def long_text():
        result = tool("build", "-o", os.path.join(WORK, "refused.exe"), "--text", "x" * 512, "-C", source(), ".")
        expect(result.returncode == 2 and "--text" in result.stderr, "%d %s" % (result.returncode, result.stderr))
    yield "texts refused: --text over 511 bytes", long_text


# ---- the stubs ---------------------------------------------------------------------

def case_stub_sizes():
    """Both stubs, which carry no resource of their own, stay within the limit."""
    def check():
        result = tool("--version")
        sizes = re.findall(r"(x86|x64) \(PE32\+?\) (\d+) bytes", result.stdout)
        expect(len(sizes) == 2, "no stub sizes in %r" % result.stdout)
        for arch, size in sizes:
            expect(int(size) <= STUB_SIZE_LIMIT, "the %s stub is %s bytes" % (arch, size))
    yield "stubs within %d bytes" % STUB_SIZE_LIMIT, check


def main():
    passed = failed = 0
    for group in (case_icons, case_broken_icons, case_version_strings, case_manifest_levels, case_texts,
                  case_stub_sizes):
        for name, check in group():
            try:
                check()
                passed += 1
                print("ok      %s" % name)
            except (Failure, subprocess.CalledProcessError) as failure:
                failed += 1
                print("FAILED  %s: %s" % (name, failure))
            sys.stdout.flush()
    shutil.rmtree(WORK, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
