"""The build as the README gives it for Windows, where Visual Studio's
generator, like CMake's Ninja Multi-Config, makes several configurations in
one build folder: the executable must still land beside its keys folder,
where the piano looks for its notes first."""
import os
import subprocess

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
