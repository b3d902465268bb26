"""tools/fresh-root.sh's choice of package archive: one from which this
machine's apt takes binary packages of the machine's own release, as apt
itself reads its sources and the Release files of the lists it downloaded.
The real apt-get reads a machine of files under a folder of the test's own
(APT_CONFIG)."""
import os
import subprocess

import pytest

SCRIPT = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "fresh-root.sh")
RELEASE = "hibiscus"    # a made-up code name, like every source below
ARCHIVE = "http://archive.example/debian"

DEB822 = f"""Types: deb
URIs: {ARCHIVE}
# URIs: http://commented.example/debian
Suites: oldstable oldstable-updates
Components: main contrib
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
"""
SECURITY = """Types: deb
URIs: http://security.example/debian-security
Suites: oldstable-security
Components: main
"""
# The Release file of each suite that the sources below may name, as
# "ARCHIVE SUITE": its origin and code name.
RELEASES = {
    f"{ARCHIVE} oldstable": ("Debian", RELEASE),
    f"{ARCHIVE} {RELEASE}": ("Debian", RELEASE),
    f"{ARCHIVE} oldstable-updates": ("Debian", f"{RELEASE}-updates"),
    "http://security.example/debian-security oldstable-security": ("Debian", f"{RELEASE}-security"),
    "http://off.example/debian oldstable": ("Debian", RELEASE),
    "http://vendor.example/apt oldstable": ("Vendor", RELEASE),
    "http://other.example/debian stable": ("Debian", "other-release"),
}


def apt_machine(folder, files, lists=True):
    """apt's files under FOLDER: its sources, by their path in etc/apt, and
    the lists that an update of them would have brought. Returns the
    environment in which apt-get reads them."""
    for name, content in files.items():
        (folder / "etc/apt" / name).parent.mkdir(parents=True, exist_ok=True)
        (folder / "etc/apt" / name).write_text(content)
    (folder / "etc/apt/sources.list.d").mkdir(parents=True, exist_ok=True)
    state = folder / "var/lib/apt/lists"
    state.mkdir(parents=True, exist_ok=True)
    for source, (origin, codename) in RELEASES.items() if lists else ():
        archive, suite = source.split()
        name = archive.split("://")[1].replace("/", "_") + "_dists_" + suite
        (state / (name + "_InRelease")).write_text(
            f"Origin: {origin}\nSuite: {suite}\nCodename: {codename}\nComponents: main\n")
        (state / (name + "_main_binary-amd64_Packages")).write_text("")
    (folder / "apt.conf").write_text(f'Dir "{folder}/";\nDir::State::status "/dev/null";\n'
                                     'APT::Architecture "amd64";\nAPT::Architectures { "amd64"; };\n')
    return dict(os.environ, APT_CONFIG=str(folder / "apt.conf"))


# Each row: apt's source files, by their path in its folder, whether apt has
# its lists, and the archive taken from them ("" for none) with the exit
# status.
ARCHIVE_CASES = [
    pytest.param({"sources.list": f"deb {ARCHIVE} oldstable main\n"}, True, ARCHIVE, 0,
                 id="one line naming the suite"),
    pytest.param({"sources.list": f"# deb http://old.example/debian {RELEASE} main\n"
                                  f"deb-src http://source.example/debian {RELEASE} main\n"
                                  f"deb http://vendor.example/apt oldstable main\n"
                                  f"deb http://other.example/debian stable main\n"
                                  f"deb [ arch=amd64 signed-by=/k ] {ARCHIVE} {RELEASE} main\n"},
                 True, ARCHIVE, 0, id="one line with options, after a comment, sources, a vendor's "
                                      "repository and another release"),
    pytest.param({"sources.list.d/debian.sources": SECURITY + "\n" + DEB822}, True, ARCHIVE, 0,
                 id="deb822 naming the suite, after the security suite"),
    pytest.param({"sources.list.d/debian.sources": DEB822.replace(ARCHIVE, "http://off.example/debian")
                  + "Enabled: no\n\n" + DEB822}, True, ARCHIVE, 0,
                 id="deb822 after a disabled entry"),
    pytest.param({"sources.list.d/debian.sources.disabled": DEB822,
                  "sources.list.d/debian.list.save": f"deb {ARCHIVE} {RELEASE} main\n",
                  "sources.list.d/debian.sources": SECURITY}, True, "", 0,
                 id="disabled files and only the security suite: none"),
    pytest.param({"sources.list": f"deb {ARCHIVE} oldstable main\n"}, False, "", 2,
                 id="no lists yet: apt cannot say"),
]


@pytest.mark.parametrize("files, lists, archive, status", ARCHIVE_CASES)
def test_the_archive_is_one_that_apt_takes_the_machines_own_release_from(tmp_path, files, lists,
                                                                         archive, status):
    env = apt_machine(tmp_path, files, lists)
    found = subprocess.run(["bash", "-c", 'source "$1" && release_archive "$2"', "bash", SCRIPT,
                            RELEASE], capture_output=True, text=True, env=env)
    assert (found.returncode, found.stdout) == (status, archive + "\n" if archive else "")
