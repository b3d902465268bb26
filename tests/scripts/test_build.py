"""The build as the README gives it for Windows, where Visual Studio's
generator, like CMake's Ninja Multi-Config, makes several configurations in
one build folder: the executable must still land beside its keys folder,
where the piano looks for its notes first. And the release that the
reproducibility check keeps: only a proven one, in a folder of its own."""
import os
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
# folder and fails if that keeps a release.
BUILD_STAND_IN = """#!/bin/bash
[ "$1" = --build ] || exit 0
[ "$TZ" = UTC ] || [ "$DIFFER" != fails ] || exit 1
[ "$TZ" != UTC ] || [ -z "$RIVAL" ] || ! RIVAL= "$RIVAL" --keep "$KEEP" >/dev/null 2>&1 || exit 1
mkdir -p build/packages build/stage && cd build
echo >stage/MorvanePiano.exe
for name in P-win32.zip P-setup.exe ${SIGN_COMMAND:+MorvanePiano.exe.p7s}; do
    echo "${DIFFER:+$TZ}" >"packages/$name"
done
cd packages && sha256sum P-win32.zip P-setup.exe >SHA256SUMS
"""
RELEASE = ["P-setup.exe", "P-win32.zip", "SHA256SUMS"]

# Each row: whether the builds differ, the environment's other settings, what
# the folder to keep the release in holds beforehand (None: it does not
# exist), then reproduce.sh's exit status and what the folder holds afterwards.
SIGNED = {"SIGN_COMMAND": "sign"}
KEEP_CASES = [
    pytest.param("", {}, None, 0, RELEASE, id="into a new folder"),
    pytest.param("", {}, [], 0, RELEASE, id="into an empty folder"),
    pytest.param("", {}, ["MorvanePiano.exe.p7s"], 2, ["MorvanePiano.exe.p7s"],
                 id="into a folder that holds an earlier signature"),
    pytest.param("yes", {}, None, 1, None, id="builds that differ"),
    pytest.param("yes", SIGNED, [], 1, [], id="signed builds that differ"),
    pytest.param("fails", SIGNED, None, 1, None, id="a second build that fails"),
    pytest.param("", {"RIVAL": REPRODUCE}, None, 0, RELEASE, id="a second run for the folder"),
]


@pytest.mark.parametrize("differ, settings, before, code, after", KEEP_CASES)
def test_reproduce_keeps_a_release_only_once_proven_and_into_a_new_or_empty_folder(
        tmp_path, differ, settings, before, code, after):
    (tmp_path / "bin").mkdir()
    (tmp_path / "bin" / "cmake").write_text(BUILD_STAND_IN)
    (tmp_path / "bin" / "cmake").chmod(0o755)
    keep = tmp_path / "release"
    if before is not None:
        keep.mkdir()
        for name in before:
            (keep / name).write_text("an earlier release")
    env = dict(os.environ, PATH=f"{tmp_path / 'bin'}:{os.environ['PATH']}", DIFFER=differ,
               SIGN_COMMAND="", KEEP=str(keep)) | settings
    run = subprocess.run([REPRODUCE, "--keep", str(keep)], env=env, capture_output=True,
                         text=True, timeout=120)
    assert run.returncode == code, run.stdout + run.stderr
    assert (sorted(os.listdir(keep)) if keep.exists() else None) == after
    if code == 1:
        said = "the second build failed" if differ == "fails" else "the builds differ"
        assert run.stderr.splitlines()[-1] == f"reproduce.sh: {said}, so nothing is kept in {keep}"
