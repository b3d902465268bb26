"""The two downloads as a user gets them: the portable zip unpacked into a
folder of its own and started from there, and the installer run silently on
a machine of its own (a fresh Wine prefix), its shortcut followed, the
program it installed played, and its uninstaller run. The installer's tests
share one installation and run in file order: the last one uninstalls.
Each runs on the build's unsigned release and on a release signed with a
throwaway certificate authority's code-signing certificate."""
import contextlib
import functools
import glob
import os
import re
import shlex
import shutil
import signal
import struct
import subprocess
import sys
import time
import types
import zipfile

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "sound"))
from desktop import (CAPTURE_RATE, EXE_NAME, ROOT, STAGE, TOOLS, UNNAMEABLE_FOLDER,  # noqa: E402
                     Prefix, assert_box_drawn, built_product, hold_desktop, start_wininfo,
                     wait_for, wininfo)
from layout import BLACK_KEYS, BLACK_SOUNDS, WHITE_KEYS, WHITE_SOUNDS, frequency  # noqa: E402
from wavcheck import cents, fundamental_hz  # noqa: E402

PACKAGES = os.environ.get("MORVANE_PACKAGES", os.path.join(ROOT, "build", "packages"))


BUILT = built_product()
PRODUCT, VERSION = BUILT["PRODUCT_NAME"], BUILT["VERSION_STRING"]
RELEASE = ".".join(VERSION.split(".")[:3])
ZIP = os.path.join(PACKAGES, f"MorvanePiano-{RELEASE}-win32.zip")
SETUP = os.path.join(PACKAGES, f"MorvanePiano-{RELEASE}-setup.exe")
# What both forms put in the program's folder, and where each comes from.
# The player's guide is made by the build; the licences and sounds ship as
# they stand in the repository.
GUIDE = "README.txt"
DOCS = [GUIDE, "LICENSE", "NOTICE"]
KEYS = [f"keys/{n}.wav" for n in range(40, 65)]
SHIPPED = [EXE_NAME] + DOCS + KEYS
SOURCES = dict({EXE_NAME: os.path.join(STAGE, EXE_NAME),
                GUIDE: os.path.join(os.path.dirname(PACKAGES), "generated", GUIDE)},
               **{name: os.path.join(ROOT, name) for name in DOCS[1:] + KEYS})
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\MorvanePiano"
RESTART_KEY = r"HKLM\System\CurrentControlSet\Control\Session Manager"
START_MENU = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs"
# The uninstaller that the programs list starts, and the remover it runs.
UNINSTALLERS = ["Uninstall.exe", "Remove.exe"]


def filled(text, signed):
    """A packaging template filled in with the names the build wrote."""
    names = {"PRODUCT_NAME": PRODUCT, "PACKAGE_VERSION": RELEASE, "MAKER_HOST": BUILT["MAKER_HOST"],
             "MAKER_NAME": BUILT["MAKER_NAME"]}
    if "@SIGNING_NOTE@" in text:
        note = "signed.txt.in" if signed else "unsigned.txt.in"
        with open(os.path.join(ROOT, "packaging", note)) as template:
            names["SIGNING_NOTE"] = filled(template.read(), signed).strip()
    return re.sub(r"@(\w+)@", lambda name: names[name.group(1)], text)


def shipped(release, name):
    """What `name` holds in a release: the guide, in Windows' line ends, says
    whether it is signed; the signed executable is None, its signature being
    checked on its own, and everything else is as the build made it."""
    if name == GUIDE:
        with open(os.path.join(ROOT, "packaging", "README.txt.in")) as template:
            return filled(template.read(), release.signed).replace("\n", "\r\n").encode()
    if name == EXE_NAME and release.signed:
        return None
    return open(SOURCES[name], "rb").read()


# -- signing --------------------------------------------------------------

def run_in(folder, *command, **options):
    return subprocess.run(command, cwd=folder, check=True, capture_output=True, **options)


CERTIFICATE = ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2"]
AUTHORITY = ["-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign"]


def issue_signer(folder, name, file_name, subject="", issuer="ca"):
    """A code-signing certificate in `name` (common name; `subject` adds to
    it) from the folder's authority, or from an intermediate authority
    `issuer` that this issues, in a PKCS#12 file that holds the issuer's
    certificate too, as a signer's file holds its chain: sign.sh's options."""
    if issuer != "ca":
        run_in(folder, *CERTIFICATE, "-subj", f"/CN={issuer}", "-CA", "ca.crt", "-CAkey", "ca.key",
               "-keyout", f"{issuer}.key", "-out", f"{issuer}.crt", *AUTHORITY)
    run_in(folder, *CERTIFICATE, "-subj", f"{subject}/CN={name}", "-CA", f"{issuer}.crt",
           "-CAkey", f"{issuer}.key", "-keyout", "signer.key", "-out", file_name + ".crt",
           "-addext", "basicConstraints=critical,CA:FALSE",
           "-addext", "keyUsage=critical,digitalSignature", "-addext", "extendedKeyUsage=codeSigning")
    run_in(folder, "openssl", "pkcs12", "-export", "-inkey", "signer.key", "-in", file_name + ".crt",
           "-certfile", f"{issuer}.crt", "-out", file_name, "-passout", "file:password")
    return ["--pkcs12", os.path.join(folder, file_name),
            "--password-file", os.path.join(folder, "password")]


@pytest.fixture(scope="session")
def signing_key(tmp_path_factory):
    """A throwaway certificate authority, in a folder whose name has a space,
    and a code-signing certificate in the maker's name issued by it, in a
    PKCS#12 file whose password is in a file of its own: the authority's
    certificate, sign.sh's options for that key, and a function that issues
    another certificate (name, file name) and gives its options."""
    folder = str(tmp_path_factory.mktemp("signing key"))
    with open(os.path.join(folder, "password"), "w") as password:
        password.write("throwaway\n")
    run_in(folder, *CERTIFICATE, "-subj", "/CN=Throwaway Test CA", "-keyout", "ca.key",
           "-out", "ca.crt", *AUTHORITY)
    return types.SimpleNamespace(folder=folder, ca=os.path.join(folder, "ca.crt"),
                                 options=issue_signer(folder, BUILT["MAKER_NAME"], "signer.p12"),
                                 issue=functools.partial(issue_signer, folder))


SIGN = os.path.join(ROOT, "tools", "sign.sh")


def verify(path, ca):
    """osslsigncode's verdict on a signed file, against the authority `ca`."""
    return subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", path],
                          capture_output=True, text=True)


def test_sign_sh_signs_alike_each_time(signing_key, tmp_path):
    copies = [str(tmp_path / f"{n}.exe") for n in (1, 2)]
    for copy in copies:
        shutil.copyfile(os.path.join(STAGE, EXE_NAME), copy)
        run_in(tmp_path, SIGN, *signing_key.options, copy,
               env=dict(os.environ, SOURCE_DATE_EPOCH="1767225600"))
    verdict = verify(copies[0], signing_key.ca)
    assert verdict.returncode == 0, verdict.stdout + verdict.stderr
    # Signed at the commit's time, not the clock's, and so alike each time.
    assert "Signing time: Jan  1 00:00:00 2026 GMT" in verdict.stdout, verdict.stdout
    assert open(copies[0], "rb").read() == open(copies[1], "rb").read(), "signed twice, differently"


def sign_step(scratch, command=(), attach=""):
    """The build's signing step run on a copy of the executable, with the
    settings that a build writes: the copy, and the step's result."""
    settings = os.path.join(scratch, "signing.cmake")
    with open(settings, "w") as out:
        out.writelines(f"set({name} [[{value}]])\n" for name, value in {
            "SIGN_COMMAND": ";".join(command), "ATTACH_SIGNATURES": attach,
            "SIGNATURE_DIR": os.path.join(scratch, "signatures"), "OSSLSIGNCODE": "osslsigncode",
            "OPENSSL": "openssl", "SOURCE_DATE_EPOCH": "1767225600", "PRODUCT_NAME": PRODUCT,
            "MAKER_NAME": BUILT["MAKER_NAME"], "HOME_PAGE": BUILT["HOME_PAGE"]}.items())
    copy = os.path.join(scratch, EXE_NAME)
    shutil.copyfile(os.path.join(STAGE, EXE_NAME), copy)
    return copy, subprocess.run(["cmake", f"-DSETTINGS={settings}", f"-DFILE={copy}",
                                 f"-DNAME={EXE_NAME}", "-P",
                                 os.path.join(ROOT, "packaging", "sign.cmake")],
                                capture_output=True, text=True)


def published_signature(key, scratch, change=lambda data: data,
                        program=os.path.join(STAGE, EXE_NAME)):
    """A folder holding the executable's signature as a signed release
    publishes it, after `change`; made by signing `program`."""
    folder = os.path.join(scratch, "published")
    os.makedirs(folder)
    signed = os.path.join(folder, "signed.exe")
    shutil.copyfile(program, signed)
    run_in(folder, SIGN, *key.options, signed)
    signature = os.path.join(folder, EXE_NAME + ".p7s")
    run_in(folder, "osslsigncode", "extract-signature", "-in", signed, "-out", signature)
    data = change(bytearray(open(signature, "rb").read()))
    with open(signature, "wb") as out:
        out.write(data)
    return folder


def flipped(data, at=-20):
    data[at] ^= 1
    return data


# Given the PKCS#12 file, its password file and the file to sign.
SHA1_SIGNER = ('osslsigncode sign -h sha1 -pkcs12 "$0" -readpass "$1" -in "$2" -out "$2.s" '
               '>/dev/null && mv "$2.s" "$2"')
# Each row: how the step is set up (the signing command, or the folder of
# signatures to attach), from the key and a scratch folder, and what its
# error names, or None where it must sign.
SIGN_STEP_CASES = [
    pytest.param(lambda key, scratch: ([SIGN, *key.options], ""), None,
                 id="signed with the maker's certificate"),
    pytest.param(lambda key, scratch: ([SIGN, *key.issue("Someone Else", "other.p12")], ""),
                 '"Someone Else"', id="signed with a certificate in another name"),
    pytest.param(lambda key, scratch: ([SIGN, *key.issue(BUILT["MAKER_NAME"], "chained.p12",
                                                         issuer="Throwaway Intermediate CA")], ""), None,
                 id="signed with a certificate from an intermediate authority"),
    pytest.param(lambda key, scratch: ([SIGN, *key.issue("Someone Else", "other.p12",
                                                         subject=f"/O={BUILT['MAKER_NAME']}")], ""),
                 '"Someone Else"', id="signed with a certificate only in the maker's organisation"),
    pytest.param(lambda key, scratch: (["bash", "-c", SHA1_SIGNER, key.options[1],
                                        key.options[3]], ""), "SHA1",
                 id="signed with SHA-1 digests"),
    pytest.param(lambda key, scratch: (["true"], ""), "carries no signature",
                 id="a signing command that signs nothing"),
    pytest.param(lambda key, scratch: ((), published_signature(key, scratch)), None,
                 id="the release's signature attached"),
    pytest.param(lambda key, scratch: ((), published_signature(key, scratch, flipped)),
                 "published/MorvanePiano.exe.p7s", id="a damaged signature attached"),
    pytest.param(lambda key, scratch: ((), published_signature(
        key, scratch, program=os.path.join(TOOLS, "wininfo.exe"))),
                 "published/MorvanePiano.exe.p7s", id="another program's signature attached"),
]


@pytest.mark.parametrize("setting, error", SIGN_STEP_CASES)
def test_signing_step_stops_the_build_on_a_signature_that_does_not_hold(signing_key, tmp_path,
                                                                         setting, error):
    command, attach = setting(signing_key, str(tmp_path))
    signed, step = sign_step(str(tmp_path), command, attach)
    if error:
        assert step.returncode != 0, f"the step passed:\n{step.stdout}"
        assert error in step.stderr, step.stderr
        assert not [name for name in os.listdir(tmp_path) if ".pem" in name], "temporaries left"
        return
    assert step.returncode == 0, step.stderr
    verdict = verify(signed, signing_key.ca)
    assert verdict.returncode == 0, verdict.stdout + verdict.stderr
    assert os.path.exists(os.path.join(tmp_path, "signatures", EXE_NAME + ".p7s")) == (not attach)


def test_a_build_signs_afresh_each_time_and_unsigned_keeps_no_signature(signing_key, tmp_path):
    build, key = tmp_path / "build", tmp_path / "key.p12"
    command = shlex.join([SIGN, "--pkcs12", str(key), *signing_key.options[2:]])

    def packages(*options):
        run_in(tmp_path, "cmake", "-S", ROOT, "-B", str(build), "-DBUILD_TESTING=OFF", *options,
               f"-DCMAKE_TOOLCHAIN_FILE={ROOT}/cmake/toolchain-mingw-i686.cmake")
        run_in(tmp_path, "cmake", "--build", str(build), "--target", "package_all")
        folder = build / "packages"
        return {name: open(folder / name, "rb").read() for name in os.listdir(folder)}
    shutil.copyfile(signing_key.options[1], key)
    first = packages(f"-DSIGN_COMMAND={command}")
    # A new certificate behind the same command.
    shutil.copyfile(signing_key.issue(BUILT["MAKER_NAME"], "renewed.p12")[1], key)
    renewed = packages()
    # Each signature is taken from its file once signed: a new one, signed again.
    signatures = [name for name in first if name.endswith(".p7s")]
    assert len(signatures) == 4 and all(first[name] != renewed[name] for name in signatures), \
        "not signed again"
    unsigned = packages("-DSIGN_COMMAND=")
    assert sorted(unsigned) == sorted(name for name in first if name not in signatures)
    assert certificate_table(build / "packages" / os.path.basename(SETUP)) == (0, 0)


@pytest.fixture(scope="session")
def signed_release(signing_key):
    """The last commit built signed, as a key holder builds a release, then
    again, unsigned, with the first build's signatures attached; the first
    build's downloads, checksums and signatures kept."""
    release = os.path.join(signing_key.folder, "release")
    command = shlex.join([SIGN, *signing_key.options])
    run = subprocess.run([os.path.join(ROOT, "tools", "reproduce.sh"), "--keep", release],
                         env=dict(os.environ, SIGN_COMMAND=command), capture_output=True, text=True)
    return types.SimpleNamespace(signed=True, packages=release, ca=signing_key.ca, reproduced=run)


@pytest.fixture(scope="module", params=["unsigned", "signed"])
def release(request):
    if request.param == "signed":
        return request.getfixturevalue("signed_release")
    return types.SimpleNamespace(signed=False, packages=PACKAGES, ca=None)


def download(release, path):
    """The release's copy of the download at `path`."""
    return os.path.join(release.packages, os.path.basename(path))


def certificate_table(path):
    """Where a PE file's certificate table is and how long: (0, 0) unsigned."""
    data = open(path, "rb").read(4096)
    header = struct.unpack_from("<I", data, 0x3C)[0] + 24      # the optional header
    directories = header + (96 if struct.unpack_from("<H", data, header)[0] == 0x10B else 112)
    return struct.unpack_from("<II", data, directories + 4 * 8)   # the fifth: security


def assert_signed_as_the_release_is(release, path, scratch):
    """A signed release's file verifies against the authority, and a copy of
    it with one byte changed does not; an unsigned release's carries none."""
    if not release.signed:
        assert certificate_table(path) == (0, 0), f"{path} carries a signature"
        return
    data = bytearray(open(path, "rb").read())
    changed = os.path.join(scratch, "changed-" + os.path.basename(path))
    data[len(data) // 3] ^= 1
    with open(changed, "wb") as copy:
        copy.write(data)
    verdicts = [verify(name, release.ca) for name in (path, changed)]
    assert verdicts[0].returncode == 0, f"{path}:\n{verdicts[0].stdout}{verdicts[0].stderr}"
    assert f"Subject: /CN={BUILT['MAKER_NAME']}" in verdicts[0].stdout
    assert verdicts[1].returncode != 0, f"{path} with a byte changed still verifies"


def test_attaching_a_signed_builds_signatures_to_an_unsigned_build_reproduces_it(
        signed_release):
    run = signed_release.reproduced
    assert run.returncode == 0, run.stdout + run.stderr
    # The zip, the installer, their checksums and the unsigned executable.
    assert len(re.findall(r"identical", run.stdout)) == 4, run.stdout
    assert sorted(os.listdir(signed_release.packages)) == sorted(
        [os.path.basename(ZIP), os.path.basename(SETUP), "SHA256SUMS", EXE_NAME + ".p7s",
         *[name + ".p7s" for name in UNINSTALLERS], os.path.basename(SETUP) + ".p7s"])


def test_downloads_are_signed_as_the_release_is(release, tmp_path):
    with zipfile.ZipFile(download(release, ZIP)) as archive:
        archive.extract(ZIP_TOP + EXE_NAME, tmp_path)
    for path in (os.path.join(tmp_path, ZIP_TOP, EXE_NAME), download(release, SETUP)):
        assert_signed_as_the_release_is(release, path, tmp_path)


def assert_plays(piano, key, sound_number):
    """A press of `key` sounds key `sound_number`'s note, in tune."""
    piano.focus()
    piano.key(key)
    piano.wait_sound(int(1.2 * CAPTURE_RATE))
    expected = frequency(sound_number)
    heard = fundamental_hz(piano.captured(), CAPTURE_RATE, expected, 0.05, 1.05)
    assert abs(cents(heard, expected)) < 10, f"{key}: heard {heard:.1f} Hz, not {expected:.1f} Hz"


# -- the zip ------------------------------------------------------------------

ZIP_TOP = f"MorvanePiano-{RELEASE}-win32/"


def test_zip_holds_the_program_its_keys_and_documents_in_one_folder(release):
    with zipfile.ZipFile(download(release, ZIP)) as archive:
        names = archive.namelist()
        assert sorted(names) == sorted(ZIP_TOP + name for name in SHIPPED)
        stale = [name for name in SHIPPED if shipped(release, name) not in
                 (None, archive.read(ZIP_TOP + name))]
    assert not stale, f"packed files differ from the build's: {stale}"


# The guide's names for the keys that X calls otherwise.
GUIDE_KEY_NAMES = {"bracketleft": "[", "bracketright": "]", "backslash": "\\", "minus": "-",
                   "equal": "=", "BackSpace": "Backspace"}
NOTE_NAMES = ("A", "A#", "B", "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#")


def test_guide_names_every_key_with_its_note_and_file():
    with open(SOURCES[GUIDE], newline="") as guide:
        lines = guide.read().split("\r\n")
    start = next(i for i, line in enumerate(lines) if line.strip().startswith("White keys"))
    table = lines[start:lines.index("", start)]
    rows = sorted(row for line in table
                  for row in re.findall(r"(\S+)\s+([A-G]#?\d)\s+(\d+\.wav)", line))
    # Key 49 is A4; octaves count from C.
    expected = sorted((GUIDE_KEY_NAMES.get(key, key[:1].upper() + key[1:]),
                       f"{NOTE_NAMES[(number - 1) % 12]}{(number + 8) // 12}", f"{number}.wav")
                      for key, number in zip(WHITE_KEYS + BLACK_KEYS, WHITE_SOUNDS + BLACK_SOUNDS))
    assert rows == expected, f"wrong rows: {sorted(set(rows) ^ set(expected))}"


def test_zip_unpacked_anywhere_plays_from_its_folder_and_quits(release, start_piano, tmp_path):
    with zipfile.ZipFile(download(release, ZIP)) as archive:
        archive.extractall(tmp_path / "My Downloads")
    folder = tmp_path / "My Downloads" / ZIP_TOP
    piano = start_piano(cwd=str(folder), exe=str(folder / EXE_NAME)).wait_window()
    assert_plays(piano, "q", 42)                      # D4
    piano.key("Escape")
    assert piano.exit_code() == 0


# -- the installer ------------------------------------------------------------

# What starts the installer and the uninstaller: NSIS's programs must load
# at a fixed address, which Wine's loader may take unless its preloader
# starts it (tools/wine-loader.sh).
INSTALLER_WINE = os.environ.get("MORVANE_INSTALLER_WINE", "wine")


def wine(prefix, *args, timeout=120):
    return subprocess.run([INSTALLER_WINE, *args], env=prefix.env, capture_output=True, text=True,
                          timeout=timeout)


def on_drive(windows_path):
    """A path on drive C: as machine_state lists it."""
    assert windows_path[:3].upper() == "C:\\", windows_path
    return os.path.join(*windows_path[3:].split("\\"))


def unix_path(prefix, windows_path):
    return os.path.join(prefix.path, "drive_c", on_drive(windows_path))


def registry_values(prefix, key):
    """A key's values as {name: value}, or None if there is no such key; read
    from an export, which keeps every letter. A string is text, a DWORD a
    number, a multi-string a list of texts, and every other kind (kind,
    bytes), so that no value goes unseen; the default value's name is "@"."""
    # Wine 10's regedit answers a key that is not there with a message box.
    if wine(prefix, "reg", "query", key).returncode != 0:
        return None
    export = os.path.join(prefix.path, "values.reg")
    assert wine(prefix, "regedit", "/E", export, key.replace("HKLM", "HKEY_LOCAL_MACHINE", 1)
                ).returncode == 0
    # The key's own values come first, before its subkeys'.
    section = open(export, encoding="utf-16").read().replace("\\\n  ", "").split("\n[")[1]
    return {re.sub(r"\\(.)", r"\1", name.strip('"')): registry_data(data) for name, data in
            re.findall(r'^(@|"(?:[^"\\]|\\.)*")=(.*)$', section, re.M)}


def registry_data(data):
    """A value as regedit writes it, after the equals sign."""
    if data.startswith('"'):
        return re.sub(r"\\(.)", r"\1", data[1:-1])
    if data.startswith("dword:"):
        return int(data[6:], 16)
    kind, _, hexes = data.partition(":")
    raw = bytes.fromhex(hexes.replace(",", ""))
    if kind == "hex(7)":
        return raw.decode("utf-16-le").split("\0")[:-2]
    return kind, raw


def restart_list(prefix):
    """The files that Windows is to delete or move at the next restart."""
    return registry_values(prefix, RESTART_KEY).get("PendingFileRenameOperations", [])


def read_shortcut(path):
    """A .lnk file's target path and working folder: the target from its link
    info's local path, the folder from its string data."""
    data = open(path, "rb").read()
    assert data[:4] == b"L\0\0\0", f"{path} is not a shell link"
    flags = struct.unpack_from("<I", data, 0x14)[0]
    at = 0x4C
    if flags & 0x01:                                   # an item id list
        at += 2 + struct.unpack_from("<H", data, at)[0]
    target = None
    if flags & 0x02:                                   # link info
        size, _, info_flags, _, base, _, suffix = struct.unpack_from("<7I", data, at)
        if info_flags & 0x01:
            start, ends = at + base, at + suffix
            target = (data[start:data.index(b"\0", start)] + data[ends:data.index(b"\0", ends)]
                      ).decode("latin-1")
        at += size
    strings, width = {}, 2 if flags & 0x80 else 1
    # Name, relative path, working folder, arguments, icon, in that order.
    for bit in (0x04, 0x08, 0x10, 0x20, 0x40):
        if flags & bit:
            count = struct.unpack_from("<H", data, at)[0]
            text = data[at + 2:at + 2 + count * width]
            # Wine counts the terminating zero in, Windows does not.
            strings[bit] = text.decode("utf-16-le" if width == 2 else "latin-1").rstrip("\0")
            at += 2 + count * width
    return target, strings.get(0x10)


def drive_files(prefix):
    """Every file and folder on drive C:."""
    drive = os.path.join(prefix.path, "drive_c")
    files = set()
    for folder, folders, names in os.walk(drive):
        files.update(os.path.relpath(os.path.join(folder, name), drive) for name in folders + names)
    return files


def wait_drive_settled(prefix, quiet=3.0):
    """A new prefix may go on installing Wine's own devices (their .pnf files
    in the Windows inf folder) for a moment after wineboot returns: waits
    until drive C has not changed for `quiet` seconds."""
    seen = {"files": None, "since": 0.0}

    def settled():
        files, now = drive_files(prefix), time.monotonic()
        if files != seen["files"]:
            seen.update(files=files, since=now)
        return now - seen["since"] >= quiet
    wait_for(settled, 60, "drive C to settle", interval=0.5)


def machine_state(prefix, scratch):
    """Every file and folder on drive C:, and every registry key and value
    name of the machine and the user."""
    files = drive_files(prefix)
    registry = set()
    for hive in ("HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"):
        export = os.path.join(scratch, "export.reg")
        assert wine(prefix, "regedit", "/E", export, hive).returncode == 0
        key = None
        for line in open(export, encoding="utf-16").read().splitlines():
            match = re.match(r'\[(.*)\]$|(@|"(?:[^"\\]|\\.)*")=', line)
            if match and match.group(1):
                key = match.group(1)
                registry.add(key)
            elif match:
                registry.add(f"{key} {match.group(2)}")
    return files, registry


@pytest.fixture(scope="module")
def installation(release, screen, workdir):
    """The release's installer run silently on a machine of its own, with the
    state of that machine before and right after."""
    scratch = os.path.join(workdir, "setup-" + ("signed" if release.signed else "unsigned"))
    os.makedirs(os.path.join(scratch, "home"))
    with pytest.MonkeyPatch.context() as patch:
        patch.setenv("HOME", os.path.join(scratch, "home"))
        prefix = Prefix(os.path.join(scratch, "prefix"), screen.display)
    # Wine would mirror the Start menu into the Linux desktop's menus.
    prefix.env["WINEDLLOVERRIDES"] += ";winemenubuilder.exe=d"
    holder = hold_desktop(prefix)
    try:
        it = types.SimpleNamespace(prefix=prefix, scratch=scratch, release=release, holder=holder)
        wait_drive_settled(prefix)
        it.before = machine_state(prefix, scratch)
        result = wine(prefix, download(release, SETUP), "/S")
        assert result.returncode == 0, f"setup exited with {result.returncode}"
        it.after = machine_state(prefix, scratch)
        it.folder = registry_values(prefix, r"HKLM\Software\Microsoft\Windows\CurrentVersion")[
            "ProgramFilesDir"] + "\\" + PRODUCT
        it.shortcut = f"{START_MENU}\\{PRODUCT}.lnk"
        yield it
    finally:
        prefix.kill()      # the holder with it
        it.holder.wait()


def restart(it):
    """Shuts the machine down and starts it again, which runs the restart's
    deletes. The desktop holder, which keeps the prefix's server up between
    the steps of a test as a running session does, starts again with it:
    otherwise a new server would boot the prefix, as a restart does."""
    it.prefix.kill()
    it.holder.wait()
    subprocess.run(["wineboot", "-r"], env=it.prefix.env, check=True, timeout=120)
    it.holder = hold_desktop(it.prefix)


def test_silent_install_creates_the_files_shortcut_and_uninstall_entry(installation):
    it = installation
    folder_files = SHIPPED + UNINSTALLERS
    expected = {on_drive(it.folder), on_drive(it.folder + "\\keys"), on_drive(it.shortcut)}
    expected |= {on_drive(it.folder + "\\" + name.replace("/", "\\")) for name in folder_files}
    assert it.after[0] - it.before[0] == expected
    assert not it.before[0] - it.after[0]
    for name in SHIPPED:
        assert shipped(it.release, name) in \
            (None, open(unix_path(it.prefix, f"{it.folder}\\{name}"), "rb").read()), \
            f"{name} installed differs from the build's"
    for name in [EXE_NAME] + UNINSTALLERS:
        assert_signed_as_the_release_is(it.release, unix_path(it.prefix, f"{it.folder}\\{name}"),
                                        it.scratch)

    target, working_folder = read_shortcut(unix_path(it.prefix, it.shortcut))
    assert (target, working_folder) == (f"{it.folder}\\{EXE_NAME}", it.folder)

    key = "HKEY_LOCAL_MACHINE" + UNINSTALL_KEY[4:]
    assert {entry for entry in it.after[1] - it.before[1] if not entry.startswith(key)} == set()
    entry = registry_values(it.prefix, UNINSTALL_KEY)
    uninstaller = f'"{it.folder}\\Uninstall.exe"'
    size = sum(os.path.getsize(unix_path(it.prefix, f"{it.folder}\\{name}"))
               for name in folder_files)
    assert abs(entry.pop("EstimatedSize") - size / 1024) < 2
    assert entry.pop("Publisher") and entry.pop("URLInfoAbout").startswith("http")
    assert entry == {"DisplayName": PRODUCT, "DisplayVersion": VERSION,
                     "DisplayIcon": f"{it.folder}\\{EXE_NAME}", "InstallLocation": it.folder,
                     "UninstallString": uninstaller, "QuietUninstallString": f"{uninstaller} /S",
                     "NoModify": 1, "NoRepair": 1}


def start_from_shortcut(it, start_piano):
    target, working_folder = read_shortcut(unix_path(it.prefix, it.shortcut))
    return start_piano(prefix=it.prefix, cwd=unix_path(it.prefix, working_folder),
                       exe=unix_path(it.prefix, target)).wait_window()


def test_shortcut_starts_the_installed_piano_which_plays(installation, start_piano):
    piano = start_from_shortcut(installation, start_piano)
    assert_plays(piano, "t", 49)                      # A4
    piano.key("Escape")
    assert piano.exit_code() == 0


def installed_files(it):
    """Every file under the program's folder, by its path there, with its bytes."""
    top = unix_path(it.prefix, it.folder)
    return {os.path.relpath(os.path.join(folder, name), top): open(os.path.join(folder, name),
                                                                   "rb").read()
            for folder, _, names in os.walk(top) for name in names}


def make_older(exe):
    """Makes the installed program another build's, as an earlier release's
    would be; returns the release's."""
    release = open(exe, "rb").read()
    with open(exe, "ab") as older:
        older.write(b"an older build")
    return release


def test_silent_update_closes_the_running_piano_and_replaces_its_program(installation,
                                                                           start_piano):
    it = installation
    exe = unix_path(it.prefix, f"{it.folder}\\{EXE_NAME}")
    release = make_older(exe)
    piano = start_from_shortcut(it, start_piano)
    assert wine(it.prefix, download(it.release, SETUP), "/S").returncode == 0
    assert piano.exit_code() == 0, "the piano was not closed as its close box closes it"
    assert open(exe, "rb").read() == release, "the running program was not replaced"


def run_line(it, line):
    """A command line run as it stands, as the shell runs one from the registry."""
    return wine(it.prefix, os.path.join(TOOLS, "wininfo.exe"), "run", line)


def quiet_uninstall(it, command="QuietUninstallString", appended=""):
    """The programs list's command for a silent removal, run as a deployment
    tool runs it: its command line as it stands, and what the tool appends."""
    return run_line(it, registry_values(it.prefix, UNINSTALL_KEY)[command] + appended)


def setup_line(it, *options):
    """The installer's command line as it stands, where /D= is the rest of it."""
    program = "Z:" + download(it.release, SETUP).replace("/", "\\")
    return " ".join([f'"{program}"', *options])


def run_setup(it, *options):
    """The installer run as a deployment tool runs it: silent, on a raw
    command line."""
    return run_line(it, setup_line(it, "/S", *options))


def start_line(it, line, output=subprocess.DEVNULL):
    """Starts a command line as it stands, for a person to answer, its
    standard output to `output`: the process."""
    return subprocess.Popen([INSTALLER_WINE, os.path.join(TOOLS, "wininfo.exe"), "run", line],
                            env=it.prefix.env, stdout=output, stderr=subprocess.DEVNULL)


def hold_file(it, name):
    """Holds a file open, sharing it with no other opener, as another program may."""
    holder = start_wininfo(it.prefix, "lock", "locked", "the file's holder", f"{it.folder}\\{name}")
    return lambda: (os.killpg(holder.pid, signal.SIGKILL), holder.wait())


def hold_file_reading(it, name):
    """Holds a file open, sharing it for reading and writing but not for
    deletion, as a virus scanner may."""
    holder = start_wininfo(it.prefix, "read", "reading", "the file's reader",
                           f"{it.folder}\\{name}")
    return lambda: (os.killpg(holder.pid, signal.SIGKILL), holder.wait())


def put_in_place(make):
    """Puts something made by `make` where a file of the install should be,
    which can be neither written nor deleted, though it passes the check for
    held files: a folder, or a Unix socket, which Wine cannot even open."""
    def block(it, name):
        path = unix_path(it.prefix, f"{it.folder}\\{name}")
        os.remove(path)
        make(path)
        return lambda: (os.rmdir if os.path.isdir(path) else os.remove)(path)
    return block


def bind_socket(path):
    """Makes a Unix socket at `path`, bound by its name in its own folder: a
    socket's address holds at most 107 bytes, fewer than a clone's path and
    the prefix's may take."""
    subprocess.run([sys.executable, "-c", "import socket, sys; "
                    "socket.socket(socket.AF_UNIX).bind(sys.argv[1])", os.path.basename(path)],
                   cwd=os.path.dirname(path), check=True)


# Each row: what blocks the install and the uninstall, and whether the
# install's files must come through unchanged, as they do where the check
# of every file stops the run before anything is written or removed.
BLOCKED_CASES = [
    pytest.param(hold_file, "keys\\40.wav", True, id="a key's file held by another program"),
    pytest.param(put_in_place(os.mkdir), "Remove.exe", False, id="a folder for the remover"),
    pytest.param(put_in_place(bind_socket), "keys\\40.wav", False,
                 id="a key's file that Windows cannot delete"),
]


@pytest.mark.parametrize("block, name, unchanged", BLOCKED_CASES)
def test_a_file_that_cannot_be_written_or_removed_stops_install_and_uninstall(
        installation, block, name, unchanged):
    it = installation
    exe = unix_path(it.prefix, f"{it.folder}\\{EXE_NAME}")
    release = make_older(exe)
    files, entry = installed_files(it), registry_values(it.prefix, UNINSTALL_KEY)
    unblock, folders = block(it, name), work_folders(it)
    try:
        for step in (run_setup, quiet_uninstall):
            assert step(it).returncode == 2, f"{step.__name__} did not stop"
            assert registry_values(it.prefix, UNINSTALL_KEY) == entry
            assert work_folders(it) == folders, "a work folder left in TEMP"
            assert not unchanged or installed_files(it) == files, f"{step.__name__} changed files"
        assert not unchanged or os.path.exists(unix_path(it.prefix, it.shortcut))
    finally:
        unblock()
        with open(exe, "wb") as program:
            program.write(release)
        mended = unchanged or run_setup(it).returncode == 0
    assert mended, "the install was not mended"


def work_folders(it):
    """The uninstaller's work folders in Windows' TEMP, by their paths on drive C."""
    drive = os.path.join(it.prefix.path, "drive_c")
    return {os.path.relpath(path, drive) for path in
            glob.glob(os.path.join(drive, "windows", "temp", "MorvanePiano-uninstall-*"))}


def assert_removed(it, folder, left=()):
    """Within moments of the removal's return, nothing of the install is left
    but the user's files `left` and their folders, and nothing in the
    program's folder waits for the restart; nor any entry or shortcut."""
    top = unix_path(it.prefix, folder)
    wait_for(lambda: sorted(os.path.relpath(os.path.join(at, name), top)
                            for at, _, names in os.walk(top) for name in names) == sorted(left),
             40, lambda: f"only {list(left)} in {folder}; there: {os.listdir(top)}")
    assert os.path.isdir(top) == bool(left), "the program's folder left, or the user's removed"
    waiting = [name for name in restart_list(it.prefix)
               if f"{name}\\".lower().startswith(f"\\??\\{folder}\\".lower())]
    assert not waiting, f"left for the restart: {waiting}"
    assert registry_values(it.prefix, UNINSTALL_KEY) is None, "uninstall entry left"
    assert not os.path.exists(unix_path(it.prefix, it.shortcut)), "shortcut left"


def test_silent_uninstall_closes_the_playing_piano_and_removes_what_it_installed(installation,
                                                                                start_piano):
    it = installation
    # What the user put in the program's folders stays, with those folders.
    users = [f"{it.folder}\\My notes.txt", f"{it.folder}\\keys\\My take.wav"]
    for name in users:
        with open(unix_path(it.prefix, name), "w") as user_file:
            user_file.write(name)
    kept = {on_drive(name) for name in users + [it.folder, it.folder + "\\keys"]}
    piano = start_from_shortcut(it, start_piano)
    piano.focus()
    piano.key("1")                                     # a long note, ringing on
    piano.wait_sound(CAPTURE_RATE // 10)
    assert quiet_uninstall(it).returncode == 0
    assert piano.exit_code() == 0, "the piano was not closed as its close box closes it"
    # The desktop holder keeps the prefix's server, so this is still before any restart.
    assert_removed(it, it.folder, [os.path.join(*name[len(it.folder) + 1:].split("\\"))
                                   for name in users])
    # Shut down, start again: what the uninstaller left under TEMP goes.
    restart(it)
    files, registry = machine_state(it.prefix, it.scratch)
    assert files == it.before[0] | kept, f"changed: {sorted(files ^ (it.before[0] | kept))}"
    assert [open(unix_path(it.prefix, name)).read() for name in users] == users, \
        "the user's files were changed"
    assert not (it.after[1] - it.before[1]) & registry, "registry entries of the install left"
    # Nor does any other key, value or text anywhere in the registry name
    # the program: Wine writes it out to these files when it shuts down.
    restart(it)
    mentions = [line.strip() for name in ("system.reg", "user.reg", "userdef.reg")
                for line in open(os.path.join(it.prefix.path, name), errors="replace")
                if PRODUCT.lower() in line.lower() or "morvanepiano" in line.lower()]
    assert not mentions, f"registry still names the program: {mentions}"
    for name in users:                # the rows below install into the folder afresh
        os.remove(unix_path(it.prefix, name))


# The rows below behave alike signed and unsigned.
UNSIGNED_ONLY = pytest.mark.parametrize("release", ["unsigned"], indirect=True)


def beside(it, name):
    """A folder of that name beside the default install folder."""
    return it.folder.rsplit("\\", 1)[0] + "\\" + name


WHOLE = sorted(name.replace("/", os.sep) for name in SHIPPED + UNINSTALLERS)


@contextlib.contextmanager
def installed(it):
    """An install in the default folder for the block, removed after it,
    whatever the block did."""
    assert run_setup(it).returncode == 0
    try:
        yield
    finally:
        if registry_values(it.prefix, UNINSTALL_KEY) is not None:
            quiet_uninstall(it)


@UNSIGNED_ONLY
def test_an_install_made_before_the_restart_keeps_its_uninstaller(installation):
    it = installation
    with installed(it):
        assert quiet_uninstall(it).returncode == 0
        assert run_setup(it).returncode == 0
        restart(it)
        assert sorted(installed_files(it)) == WHOLE
        assert quiet_uninstall(it).returncode == 0
        assert_removed(it, it.folder)


# The uninstaller's copy under TEMP, as Linux lists its process.
COPY = f"{UNINSTALLERS[0]} /clean-up".encode()


def copies(it):
    """The Linux process ids of the uninstaller's copies in this prefix."""
    def read(pid, name):
        with open(f"/proc/{pid}/{name}", "rb") as facts:
            return facts.read().split(b"\0")
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        with contextlib.suppress(OSError):
            if COPY in b" ".join(read(pid, "cmdline")) and \
                    f"WINEPREFIX={it.prefix.path}".encode() in read(pid, "environ"):
                found.append(int(pid))
    return found


def kill_group(process):
    os.killpg(process.pid, signal.SIGKILL)
    process.wait()


@UNSIGNED_ONLY
def test_an_install_made_while_the_copy_is_late_loses_nothing(installation):
    it = installation
    with installed(it):
        # Another program reads the remover, sharing all but its deletion: a
        # copy that deletes it after the removal must wait. Another shows the
        # uninstaller's icon, mapping its file: the copy waits to delete it
        # after the removal has returned.
        uninstaller = f"{it.folder}\\{UNINSTALLERS[0]}"
        reader = start_wininfo(it.prefix, "read", "reading", "the reader",
                               f"{it.folder}\\{UNINSTALLERS[1]}")
        viewer = start_wininfo(it.prefix, "map", "mapped", "the icon's reader", uninstaller)
        try:
            quiet = registry_values(it.prefix, UNINSTALL_KEY)["QuietUninstallString"]
            # Its output read to the end, as a deployment tool reads it.
            removal = start_line(it, quiet, output=subprocess.PIPE)
            # Asked of reg alone: Wine 10's regedit, asked to export a key that
            # goes meanwhile, waits on a message box.
            wait_for(lambda: wine(it.prefix, "reg", "query", UNINSTALL_KEY).returncode, 60,
                     "the entry to go")
            meanwhile, made = run_setup(it).returncode, installed_files(it)
            kill_group(reader)
            removal.communicate(timeout=120)
            assert removal.returncode == 0
            kill_group(viewer)
        finally:
            for holder in (reader, viewer):
                if holder.poll() is None:
                    kill_group(holder)
        # The copy holds none of its caller's handles: the removal's output
        # ended while the copy still waited to delete the uninstaller, which
        # it did once the viewer let go. Had it held the output, it would have
        # given up on the uninstaller first.
        wait_for(lambda: not os.path.exists(unix_path(it.prefix, uninstaller)), 60,
                 "the copy to delete the uninstaller after the removal's output ended")
        wait_for(lambda: not copies(it), 60, "the copy to end")
        # Held by the copy, the files stop the install before it writes, or
        # the copy was done before it began.
        if meanwhile == 0:
            assert sorted(made) == WHOLE and installed_files(it) == made, \
                "the copy deleted files of the install made meanwhile"
        else:
            assert meanwhile == 2, f"the install exited with {meanwhile}"
            assert_removed(it, it.folder)


@UNSIGNED_ONLY
def test_by_hand_the_copys_switch_changes_nothing_and_the_remover_removes_all(installation):
    it = installation
    with installed(it):
        before = installed_files(it), registry_values(it.prefix, UNINSTALL_KEY), \
            restart_list(it.prefix)
        uninstaller = f"{it.folder}\\{UNINSTALLERS[0]}"
        for switches in (f'"{uninstaller}"', "/S 4 8 c 10"):
            assert run_line(it, f'"{uninstaller}" /clean-up {switches}').returncode == 2, switches
        assert (installed_files(it), registry_values(it.prefix, UNINSTALL_KEY),
                restart_list(it.prefix)) == before
        # NSIS hands over to a copy of itself under TEMP and returns at once.
        assert run_line(it, f'"{it.folder}\\{UNINSTALLERS[1]}" /S').returncode == 0
        assert_removed(it, it.folder)


# The installer's and the uninstaller's windows, as NSIS titles them.
SETUP_WINDOW, UNINSTALL_WINDOW = f"{PRODUCT} Setup ", f"{PRODUCT} Uninstall "


def press(screen, title, key):
    """Types a key into the shown window with that title."""
    window = wait_for(lambda: screen.windows(title), 60, f"the window {title}")[0]
    screen.run("xdotool", "windowfocus", "--sync", str(window))
    screen.run("xdotool", "key", key)


# What Wine 8 and 10 read back of the work folder's DACL. Neither keeps a
# security descriptor of a file's own: each reports the Unix file's owner as
# its user (this SID), whatever owner was asked for, and makes the DACL up
# from the Unix permission bits, which the DACL given at the folder's making
# set, protected or not. Full access for the system and the owner, and,
# unlike a folder made with no descriptor, none for anyone else (everyone,
# WD). What the uninstaller asks for, owner and protection too, is checked
# where it is made, in the unit test of WorkFolderDescriptor.
WINE_USER = "S-1-5-21-0-0-0-1000"
WORK_FOLDER_DACL = f"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;{WINE_USER})"
WORK_FOLDER_NAME = re.compile(r"MorvanePiano-uninstall-([0-9a-f]{16})")


def clocks(it):
    """The clocks that a program could name a file by, read in the prefix:
    {name: value}."""
    return {name: int(value) for name, value in
            (line.split() for line in wininfo(it.prefix, "clock"))}


def front_process(it):
    """The Windows process id of the uninstaller's front: of the programs
    named as the uninstaller, the one that no other of them started (its
    copy's parent)."""
    processes = [tuple(map(int, line.split()))
                 for line in wininfo(it.prefix, "processes", UNINSTALLERS[0])]
    ids = {pid for pid, _ in processes}
    fronts = [pid for pid, parent in processes if parent not in ids]
    assert len(fronts) == 1, f"uninstallers running (id, parent): {processes}"
    return fronts[0]


def foreseeable(random, pid, before, after):
    """Where a work folder name's random part holds, in hexadecimal or in
    decimal, something known before the removal: its front's process id, or
    a clock's reading between `before` and `after`. A set of (which end,
    where, base, what): a part that starts or ends at that place, so that a
    number written there padded or not, or at the start of a longer name,
    is found wherever its digits begin."""
    known = {"process id": (pid, pid)}
    known.update({name: (before[name], after[name]) for name in before})
    found = set()
    for start in range(len(random)):
        if random[start] == "0":      # the padding before a number's digits
            continue
        for end in range(start + 1, len(random) + 1):
            digits = random[start:end]
            for base in (16, 10):
                if base == 10 and not digits.isdigit():
                    continue
                value = int(digits, base)
                for what, (low, high) in known.items():
                    if low <= value <= high:
                        found |= {("start", start, base, what), ("end", end, base, what)}
    return found


def assert_unforeseeable(removals):
    """Work folders' names that no one could have foretold: each removal's
    (name, front's process id, clocks before it, clocks once its folder was
    made). A constant name, or one drawn from a generator seeded alike each
    time, comes out the same twice; one made from the process id or a clock
    holds it at the same place each time. A random part holds any one such
    number at one place by chance, but the same kind at the same place in
    every removal hardly ever: in simulated runs of two removals, never in
    20,000 with ids of three hexadecimal digits, as Wine's are by then, and
    once in about 4,000 with ids of two. A generator seeded with the time in
    seconds gives names that differ a second apart: only two removals within
    one second would show it, which no test can make sure of."""
    names = [name for name, *_ in removals]
    assert len(set(names)) == len(names), f"a work folder's name came twice: {names}"
    randoms = []
    for name, *_ in removals:
        match = WORK_FOLDER_NAME.fullmatch(name)
        assert match, f"not the prefix and 16 hexadecimal digits: {name}"
        randoms.append(match.group(1))
    shared = set.intersection(*[foreseeable(random, *known)
                                for random, (_, *known) in zip(randoms, removals)])
    assert not shared, f"names made from what was known before: {removals}: {sorted(shared)}"


@UNSIGNED_ONLY
def test_the_work_folder_is_named_at_random_and_not_renamed(installation, screen):
    it = installation
    with installed(it):
        files, entry = installed_files(it), registry_values(it.prefix, UNINSTALL_KEY)
        removals = []
        for _ in range(2):
            folders, before = work_folders(it), clocks(it)
            removal = start_line(it, f'"{it.folder}\\{UNINSTALLERS[0]}"')
            try:
                # The removal waits on its confirm page, its copy running.
                made = wait_for(lambda: work_folders(it) - folders, 60, "the work folder",
                                interval=0.5)
                after = clocks(it)
                wait_for(lambda: wininfo(it.prefix, "texts", UNINSTALL_WINDOW), 60,
                         "the confirm page")
                work = "C:\\" + made.pop().replace(os.sep, "\\")
                removals.append((work.rsplit("\\", 1)[1], front_process(it), before, after))
                security = wininfo(it.prefix, "security", work)
                assert len(security) == 1 and security[0].endswith(WORK_FOLDER_DACL), security
                wine(it.prefix, "cmd", "/c", "move", work, work + "-moved")
                assert work_folders(it) - folders == {on_drive(work)}, "the work folder was moved"
                press(screen, UNINSTALL_WINDOW, "Escape")
                assert removal.wait(60) == 1, "the removal was not cancelled"
            finally:
                if removal.poll() is None:
                    removal.kill()
            assert work_folders(it) == folders, "a work folder left in TEMP"
        assert_unforeseeable(removals)
        assert installed_files(it) == files
        assert registry_values(it.prefix, UNINSTALL_KEY) == entry


# The uninstaller's own message boxes.
UNINSTALL_BOX = f"{PRODUCT} Uninstall"


def under_another_name(it, screen):
    """Starts a copy of the uninstaller under another name in its folder: its
    copy, named as the uninstaller always is, refuses the file it is handed.
    The process, and what puts the folder back as it was."""
    other = f"{it.folder}\\Uninstall (2).exe"
    shutil.copyfile(unix_path(it.prefix, f"{it.folder}\\{UNINSTALLERS[0]}"),
                    unix_path(it.prefix, other))
    return start_line(it, f'"{other}"'), lambda: os.remove(unix_path(it.prefix, other))


def its_file_held(it, screen):
    """Starts the uninstaller while another program reads its file, sharing
    all but its deletion, as a virus scanner may: it cannot hold its own
    file for its copy to delete."""
    let_go = hold_file_reading(it, UNINSTALLERS[0])
    return start_line(it, f'"{it.folder}\\{UNINSTALLERS[0]}"'), let_go


def ended_while_the_remover_asks(it, screen):
    """Starts the uninstaller, ends its copy as a task manager would while the
    remover asks whether to go on, then cancels the remover."""
    removal = start_line(it, f'"{it.folder}\\{UNINSTALLERS[0]}"')
    wait_for(lambda: wininfo(it.prefix, "texts", UNINSTALL_WINDOW), 60, "the confirm page")
    ended = copies(it)
    assert len(ended) == 1, f"copies running: {ended}"
    os.kill(ended[0], signal.SIGKILL)
    press(screen, UNINSTALL_WINDOW, "Escape")
    wait_for(lambda: not wininfo(it.prefix, "texts", UNINSTALL_WINDOW), 60, "the remover to end")
    return removal, lambda: None


# Interactive removals whose copy fails: how, and what the box then says.
COPY_FAILURES = [
    pytest.param(under_another_name, "The uninstaller's working copy in the temporary folder "
                 "refused to take over the removal, so nothing was removed.",
                 id="its copy refuses the handover"),
    pytest.param(its_file_held, "The uninstaller's own file is in use by another program, so "
                 "nothing was removed. Close that program and try again.",
                 id="its own file held by another program"),
    pytest.param(ended_while_the_remover_asks, "The uninstaller's working copy in the temporary "
                 f"folder ended without saying how the removal went. If {PRODUCT} is still in "
                 "the list of installed programs, uninstall it again.", id="its copy is ended"),
]


@UNSIGNED_ONLY
@pytest.mark.parametrize("fail, text", COPY_FAILURES)
def test_an_interactive_removal_whose_copy_fails_says_so_and_stops(installation, screen, fail,
                                                                   text):
    it = installation
    with installed(it):
        files, entry, folders = installed_files(it), registry_values(it.prefix, UNINSTALL_KEY), \
            work_folders(it)
        removal, put_back = fail(it, screen)
        try:
            wait_for(lambda: wininfo(it.prefix, "box", UNINSTALL_BOX) != ["0"], 60, "the box")
            assert wininfo(it.prefix, "box", UNINSTALL_BOX) == ["1", "owner=", "button=OK", text]
            assert_box_drawn(screen, it.prefix, UNINSTALL_BOX, focused=True)
            press(screen, UNINSTALL_BOX, "Return")
            assert removal.wait(60) == 2, "the removal did not stop"
        finally:
            if removal.poll() is None:
                removal.kill()
            put_back()
        assert work_folders(it) == folders, "a work folder left in TEMP"
        assert installed_files(it) == files
        assert registry_values(it.prefix, UNINSTALL_KEY) == entry


# Folders that a user may choose, with /D= as on the folder page, each
# holding a piano that plays, and the programs list's command that removes
# it whole, with what a deployment tool appends.
QUIET = ("QuietUninstallString", "")
# The longest paths that the installer takes: the program's below Windows'
# MAX_PATH of 260 with its terminator, and a key's file below the player's
# 128 bytes in folders named in short (8.3) names, which have no shorter path.
LONGEST_PROGRAM = 259
LONGEST_FOR_THE_PLAYER = 127 - len("\\keys\\40.wav")


def named(name):
    """The folder of that name beside the default one."""
    return lambda it: beside(it, name)


def program_path_of(length):
    """A folder beside the default one, whose program's path is that long."""
    return lambda it: beside(it, "L" * (length - len(beside(it, f"\\{EXE_NAME}"))))


def short_names_of(length):
    """A folder at the drive's root in short names only, its path that long."""
    count = (length - 3 + 1) // 8              # seven letters and a backslash each
    longer = length - 3 - (8 * count - 1)      # names with an eighth letter
    return lambda it: "C:\\" + "\\".join(f"PIANO{n:02d}" + "X" * (n < longer)
                                          for n in range(count))


FOLDERS = [
    pytest.param(named(PRODUCT), ("UninstallString", " /S /NORESTART"), id="switches appended"),
    pytest.param(named("Jane's Piano"), QUIET, id="apostrophe"),
    pytest.param(named("Tom & Jerry's 100% Piano"), QUIET, id="ampersand and percent"),
    pytest.param(named(UNNAMEABLE_FOLDER), QUIET, id="outside the code page"),
    pytest.param(program_path_of(LONGEST_PROGRAM), QUIET,
                 id="the longest path a program starts from"),
    pytest.param(short_names_of(LONGEST_FOR_THE_PLAYER), QUIET,
                 id="the longest path the player opens"),
]


@UNSIGNED_ONLY
@pytest.mark.parametrize("where, removal", FOLDERS)
def test_any_folder_the_installer_accepts_plays_and_is_removed(installation, start_piano, where,
                                                               removal):
    it = installation
    folder = where(it)
    assert run_setup(it, f"/D={folder}").returncode == 0
    try:
        # Started by its own path, as the shortcut does: under the Linux
        # folder that holds the drive, the longest ones would pass MAX_PATH.
        piano = start_piano(prefix=it.prefix, cwd=unix_path(it.prefix, folder),
                            exe=f"{folder}\\{EXE_NAME}").wait_window()
        assert_plays(piano, "t", 49)                      # A4
        piano.key("Escape")
        assert piano.exit_code() == 0
    finally:
        removed = quiet_uninstall(it, *removal)
    assert removed.returncode == 0
    assert_removed(it, folder)


# One letter past the limits above: refused before anything is written.
REFUSED = [short_names_of(LONGEST_FOR_THE_PLAYER + 1), program_path_of(LONGEST_PROGRAM + 1)]


@UNSIGNED_ONLY
@pytest.mark.parametrize("where", REFUSED, ids=["too long for the player", "too long to start"])
def test_a_folder_that_cannot_hold_a_playing_piano_is_refused(installation, where):
    it = installation
    wait_drive_settled(it.prefix)      # after the restarts above
    before, entry = drive_files(it.prefix), registry_values(it.prefix, UNINSTALL_KEY)
    assert run_setup(it, f"/D={where(it)}").returncode == 2
    after = drive_files(it.prefix)
    assert after == before, f"a refused install changed: {sorted(after ^ before)}"
    assert registry_values(it.prefix, UNINSTALL_KEY) == entry


# Installs that a person stops on the way, with a piano running: the folder
# given, the text of the box shown after the folder page, the key that
# answers it, and the exit code once the install's window is cancelled. A
# folder that will not do is named and the page stays; Cancel at the
# running piano stops the install, without the folder that the check made
# to learn the short name.
STOPPED_ON_THE_WAY = [
    pytest.param(program_path_of(LONGEST_PROGRAM + 1), "too long for Windows to start the piano",
                 "Return", 1, id="a folder that will not do"),
    pytest.param(named(" ".join(["A folder name long enough that the player needs the short path"]
                                * 2)), "is running", "Escape", 2, id="Cancel at the running piano"),
]


@UNSIGNED_ONLY
@pytest.mark.parametrize("where, text, answer, code", STOPPED_ON_THE_WAY)
def test_an_install_stopped_on_the_way_changes_nothing(installation, screen, start_piano, where,
                                                       text, answer, code):
    it, caption = installation, f"{PRODUCT} Setup"
    folder = where(it)
    wait_drive_settled(it.prefix)
    before, entry = drive_files(it.prefix), registry_values(it.prefix, UNINSTALL_KEY)
    piano = start_piano(prefix=it.prefix).wait_window()
    setup = start_line(it, setup_line(it, f"/D={folder}"))
    try:
        def on_folder_page():
            return folder in wininfo(it.prefix, "texts", SETUP_WINDOW)
        wait_for(lambda: wininfo(it.prefix, "texts", SETUP_WINDOW), 60, "the licence page")
        press(screen, SETUP_WINDOW, "Return")           # I Agree
        wait_for(on_folder_page, 60, "the folder page")
        press(screen, SETUP_WINDOW, "Return")           # Install
        wait_for(lambda: text in "".join(wininfo(it.prefix, "box", caption)), 60, "the box")
        if code == 1:
            box = wininfo(it.prefix, "box", caption)
            assert box[1:3] == [f"owner={SETUP_WINDOW}", "button=OK"] and folder in box, box
            # The box has the keyboard, and its button is drawn so.
            assert_box_drawn(screen, it.prefix, caption, focused=True)
        press(screen, caption, answer)
        wait_for(lambda: wininfo(it.prefix, "box", caption) == ["0"], 30, "the box to close")
        if code == 1:
            assert on_folder_page(), "the folder page did not stay"
        else:
            wait_for(lambda: "Installation Aborted" in wininfo(it.prefix, "texts", SETUP_WINDOW),
                     60, "the page that shows the install stopped")
        press(screen, SETUP_WINDOW, "Escape")
        assert setup.wait(60) == code, "the setup did not stop"
    finally:
        if setup.poll() is None:
            setup.kill()
    assert drive_files(it.prefix) == before
    assert registry_values(it.prefix, UNINSTALL_KEY) == entry
    assert piano.process.poll() is None, "the piano was closed"
