"""The build as the README gives it for Windows, where Visual Studio's
generator, like CMake's Ninja Multi-Config, makes several configurations in
one build folder: the executable must still land beside its keys folder,
where the piano looks for its notes first. And the release that the
reproducibility check keeps: only a proven one, in a folder of its own. And
the documentation: every link it holds, and every path it names, leads to
something in the repository."""
import glob
import os
import re
import subprocess

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def run(*command):
    result = subprocess.run(command, capture_output=True, text=True)
    assert result.returncode == 0, f"{' '.join(command)}:\n{result.stdout[-3000:]}{result.stderr}"


def test_multi_config_build_stages_the_executable_beside_its_keys(tmp_path):
    build = tmp_path / "build"
    run("cmake", "-S", ROOT, "-B", str(build), "-G", "Ninja Multi-Config",
        f"-DCMAKE_TOOLCHAIN_FILE={ROOT}/cmake/toolchain-mingw-i686.cmake",
        "-DBUILD_TESTING=OFF", "-DBUILD_PACKAGES=OFF")
    run("cmake", "--build", str(build), "--config", "Release")
    found = sorted(str(path.relative_to(build)) for path in build.rglob("MorvanePiano.exe"))
    assert found == [os.path.join("stage", "MorvanePiano.exe")], f"the executable is at {found}"
    assert (build / "stage" / "keys" / "40.wav").is_file(), "no keys folder beside the executable"


# -- what tools/reproduce.sh keeps ---------------------------------------

REPRODUCE = os.path.join(ROOT, "tools", "reproduce.sh")
# Stands in for CMake in each clean clone that reproduce.sh builds: the
# "downloads", with a signature if $SIGN_COMMAND is set, are alike in every
# clone, or with $DIFFER set differ by the build's time zone, which
# reproduce.sh sets apart for its two builds; with $DIFFER "fails" the second
# build fails. With $RIVAL set the first build runs $RIVAL for the same
# folder and fails unless that is refused (exit status 2).
BUILD_STAND_IN = """#!/bin/bash
[ "$1" = --build ] || exit 0
[ "$TZ" = UTC ] || [ "$DIFFER" != fails ] || exit 1
[ "$TZ" != UTC ] || [ -z "$RIVAL" ] || { RIVAL= "$RIVAL" --keep "$KEEP" >/dev/null 2>&1; [ $? = 2 ]; } || exit 1
mkdir -p build/packages build/stage && cd build
echo >stage/MorvanePiano.exe
for name in P-win32.zip P-setup.exe ${SIGN_COMMAND:+MorvanePiano.exe.p7s}; do
    echo "${DIFFER:+$TZ}" >"packages/$name"
done
cd packages && sha256sum P-win32.zip P-setup.exe >SHA256SUMS
"""
RELEASE = ["P-setup.exe", "P-win32.zip", "SHA256SUMS"]

# Each row: whether the builds differ, the environment's other settings, the
# folder to keep the release in (in "file/", a regular file, it cannot be
# made), what it holds beforehand (None: it does not exist), then
# reproduce.sh's exit status and what the folder holds afterwards.
SIGNED = {"SIGN_COMMAND": "sign"}
KEEP_CASES = [
    pytest.param("", {}, "release", None, 0, RELEASE, id="into a new folder"),
    pytest.param("", {}, "release", [], 0, RELEASE, id="into an empty folder"),
    pytest.param("", {}, "release", ["MorvanePiano.exe.p7s"], 2, ["MorvanePiano.exe.p7s"],
                 id="into a folder that holds an earlier signature"),
    pytest.param("yes", {}, "release", None, 1, None, id="builds that differ"),
    pytest.param("yes", SIGNED, "release", [], 1, [], id="signed builds that differ"),
    pytest.param("fails", SIGNED, "release", None, 1, None, id="a second build that fails"),
    pytest.param("", {"RIVAL": REPRODUCE}, "release", None, 0, RELEASE,
                 id="a second run for the folder"),
    pytest.param("", {}, "new/release", None, 0, RELEASE, id="into a new folder in a new folder"),
    pytest.param("yes", {}, "new/release", None, 1, None, id="builds that differ, in a new folder"),
    pytest.param("", {}, "file/release", None, 2, None, id="into a folder that cannot be made"),
    pytest.param("fails", {}, "release", None, 1, None, id="an unsigned second build that fails"),
]


@pytest.mark.parametrize("differ, settings, folder, before, code, after", KEEP_CASES)
def test_reproduce_keeps_a_release_only_once_proven_and_into_a_new_or_empty_folder(
        tmp_path, differ, settings, folder, before, code, after):
    (tmp_path / "bin").mkdir()
    (tmp_path / "bin" / "cmake").write_text(BUILD_STAND_IN)
    (tmp_path / "bin" / "cmake").chmod(0o755)
    (tmp_path / "file").write_text("not a folder")
    keep = tmp_path / folder
    if before is not None:
        keep.mkdir()
        for name in before:
            (keep / name).write_text("an earlier release")
    there = set(os.listdir(tmp_path))
    env = dict(os.environ, PATH=f"{tmp_path / 'bin'}:{os.environ['PATH']}", DIFFER=differ,
               SIGN_COMMAND="", KEEP=str(keep)) | settings
    run = subprocess.run([REPRODUCE, "--keep", str(keep)], env=env, capture_output=True,
                         text=True, timeout=120)
    assert run.returncode == code, run.stdout + run.stderr
    assert (sorted(os.listdir(keep)) if keep.exists() else None) == after
    assert after is not None or set(os.listdir(tmp_path)) == there, "left behind"
    if code == 1:
        said = "the second build failed" if differ == "fails" else "the builds differ"
        assert run.stderr.splitlines()[-1] == f"reproduce.sh: {said}, so nothing is kept in {keep}"
    if code == 2 and before is None:
        assert run.stderr.splitlines()[-1] == f"reproduce.sh: cannot make or write to {keep}"


# -- the documentation: links and the repository's paths it names ----------

PAGES = ["README.md"] + sorted(os.path.join("docs", name) for name in
                               os.listdir(os.path.join(ROOT, "docs")) if name.endswith(".md"))
# A path under the repository: no blanks, quotes or variables, not absolute.
# What the build makes, under build/, is not in a clone.
REPOSITORY_PATH = re.compile(r"(\./)?[\w.-]+(/[\w.*-]*)+")
# A file named alone, by a name that a source file has.
FILE_NAME = re.compile(r"[\w.-]+\.(cpp|h|py|sh|md|nsi|nsh|cmake|in|rc|manifest)")


def heading_anchors(text):
    """The anchors that a Markdown page's headings get, as GitHub makes them."""
    return {re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")
            for heading in re.findall(r"^#+ (.+)$", text, re.M)}


def prose_and_code(page):
    """A page's text outside its code blocks, and the lines inside them."""
    text = open(os.path.join(ROOT, page)).read()
    blocks = re.findall(r"^```[^\n]*\n(.*?)^```", text, re.M | re.S)
    return re.sub(r"^```.*?^```", "", text, flags=re.M | re.S), \
        [line for block in blocks for line in block.splitlines()]


def named_paths(page):
    """What a page names as the repository's: the first word of each inline
    code span and of each command in its code blocks, past sudo."""
    prose, code = prose_and_code(page)
    words = [span.split()[0] for span in re.findall(r"`([^`\n]+)`", prose)]
    words += [line.split()[1 if line.split()[0] == "sudo" else 0] for line in code if line.split()]
    return [word for word in words if not word.startswith("build/") and
            (REPOSITORY_PATH.fullmatch(word) or FILE_NAME.fullmatch(word))]


TRACKED = subprocess.run(["git", "-C", ROOT, "ls-files"], capture_output=True, text=True).stdout.split()


def leads_nowhere(page, target):
    """Whether a link on the page leads to no file, or to no heading of it."""
    path, _, anchor = target.partition("#")
    linked = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
    if not os.path.exists(os.path.join(ROOT, linked)):
        return True
    return bool(anchor) and anchor not in heading_anchors(prose_and_code(linked)[0])


def in_repository(word):
    if "/" in word:
        return bool(glob.glob(os.path.join(ROOT, word)))
    return any(os.path.basename(name) == word for name in TRACKED)


@pytest.mark.parametrize("page", PAGES)
def test_every_link_and_path_in_the_docs_leads_somewhere(page):
    links = re.findall(r"\]\(([^)\s]+)\)", prose_and_code(page)[0])
    broken = [target for target in links
              if not re.match(r"[a-z]+:", target) and leads_nowhere(page, target)]
    assert not broken, f"links that lead nowhere: {broken}"
    missing = [word for word in named_paths(page) if not in_repository(word)]
    assert not missing, f"paths that are not in the repository: {missing}"
