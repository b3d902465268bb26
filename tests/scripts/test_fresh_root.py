"""tools/fresh-root.sh's choice of package archive: the first of this
machine's apt sources, in apt's order and in either of apt's formats, that
gives binary packages of the machine's own release."""
import os
import subprocess

import pytest

SCRIPT = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "fresh-root.sh")
RELEASE = "hibiscus"    # a made-up code name, like every source below
ARCHIVE = "http://archive.example/debian"

DEB822 = f"""Types: deb
URIs: {ARCHIVE} http://second.example/debian
# URIs: http://commented.example/debian
Suites: {RELEASE} {RELEASE}-updates
Components: main contrib
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
"""
SECURITY = f"""Types: deb
URIs: http://security.example/debian-security
Suites: {RELEASE}-security
Components: main
"""

# Each row: apt's source files, by their path in its folder, and the archive
# taken from them ("" for none).
ARCHIVE_CASES = [
    pytest.param({"sources.list": f"deb {ARCHIVE} {RELEASE} main\n"}, ARCHIVE, id="one line"),
    pytest.param({"sources.list": f"# deb http://old.example/debian {RELEASE} main\n"
                                  f"deb-src http://source.example/debian {RELEASE} main\n"
                                  f"deb http://vendor.example/apt {RELEASE} stable\n"
                                  f"deb http://other.example/debian other-release main\n"
                                  f"deb [ arch=amd64 signed-by=/k ] {ARCHIVE} {RELEASE} main\n"},
                 ARCHIVE, id="one line with options, after a comment, sources, a vendor's "
                             "repository and another release"),
    pytest.param({"sources.list.d/debian.sources": SECURITY + "\n" + DEB822}, ARCHIVE,
                 id="deb822 after the security suite"),
    pytest.param({"sources.list.d/debian.sources": DEB822.replace("Types: deb", "Types: deb-src")
                  + "\n" + DEB822.replace(ARCHIVE, "http://off.example/debian")
                  + "Enabled: no\n" + "\n" + DEB822}, ARCHIVE,
                 id="deb822 after a source stanza and a disabled one"),
    pytest.param({"sources.list.d/debian.sources": f"Types: deb\nURIs: {ARCHIVE}\n"
                                                   f"Suites:\n {RELEASE}-updates\n {RELEASE}\n"
                                                   "Components: main\n"}, ARCHIVE,
                 id="deb822 with a field over several lines"),
    pytest.param({"sources.list": f"deb {ARCHIVE} {RELEASE} main\n",
                  "sources.list.d/a.sources": DEB822.replace(ARCHIVE, "http://later.example")},
                 ARCHIVE, id="sources.list before sources.list.d"),
    pytest.param({"sources.list.d/a.list": f"deb {ARCHIVE} {RELEASE} main\n",
                  "sources.list.d/b.sources": DEB822.replace(ARCHIVE, "http://later.example")},
                 ARCHIVE, id="sources.list.d in its order, both formats"),
    pytest.param({"sources.list.d/debian.sources.disabled": DEB822,
                  "sources.list.d/debian.list.save": f"deb {ARCHIVE} {RELEASE} main\n",
                  "sources.list.d/debian.sources": SECURITY}, "",
                 id="disabled files and only the security suite: none"),
    pytest.param({}, "", id="no sources: none"),
]


@pytest.mark.parametrize("files, archive", ARCHIVE_CASES)
def test_the_archive_is_the_first_source_of_the_machines_own_release(tmp_path, files, archive):
    os.mkdir(tmp_path / "sources.list.d")
    for name, content in files.items():
        (tmp_path / name).write_text(content)
    found = subprocess.run(["bash", "-c", 'source "$1" && debian_archive "$2" "$3"', "bash", SCRIPT,
                            str(tmp_path), RELEASE], capture_output=True, text=True, check=True)
    assert found.stdout == (archive + "\n" if archive else "")
