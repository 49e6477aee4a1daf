"""Kelto2.exe runs elevated and is mostly started from a download folder: a
wininet.dll or version.dll dropped beside it must not be loaded.

The planted libraries (bin/planted/, tests/standins/planted_dll.cpp) note
every process that loads them in a marker file. Each case runs two programs
from the same folder holding the planted pair: a copy of winprobe.exe, which
imports both libraries the ordinary way and so must load them (the control:
it shows that the planted files would be picked up at all), and Kelto2.exe,
which must not, and must still reach its launch decision through the real
libraries.

Wine by default prefers its own builtin wininet and version to a native
file beside the exe, so on its own the control would never see the planted
pair. The runs set these two libraries to "native, then builtin" (n,b),
which is the order Windows follows for libraries that are not KnownDLLs:
the exe's folder first.
"""

from __future__ import annotations

import re
import shutil

import pytest

from conftest import BIN_DIR, DLL_OVERRIDES, standin_exe

PLANTED = ("wininet.dll", "version.dll")
NATIVE_FIRST = DLL_OVERRIDES + ";wininet,version=n,b"
TRACE = re.compile(r'OutputDebugStringA "Kelto2: installed version \\"(?P<installed>[^"\\]*)\\", '
                   r'latest \\"(?P<latest>[^"\\]*)\\", force level \S+? -> (?P<outcome>[^"\\]+)\\n"')
LATEST = "1.6.5.2288"


@pytest.fixture
def downloads(bench):
    """A fresh download folder inside the prefix with Kelto2.exe, the probe
    and the planted pair, like a browser's download folder after a drive-by
    download."""
    folder = bench.prefix.drive_c / "users" / "Public" / "Downloads" / bench.workdir.name
    folder.mkdir(parents=True)
    planted = BIN_DIR / "planted"
    for name in PLANTED:
        if not (planted / name).exists():
            pytest.fail(f"{planted / name} is missing: build the stand-ins")
        shutil.copyfile(planted / name, folder / name)
    shutil.copyfile(BIN_DIR / "Kelto2.exe", folder / "Kelto2.exe")
    shutil.copyfile(standin_exe("winprobe.exe"), folder / "probe.exe")
    yield folder
    shutil.rmtree(folder, ignore_errors=True)


def loads(marker) -> list[tuple[str, str]]:
    """(planted library, exe file name) for every load the marker records."""
    if not marker.exists():
        return []
    found = []
    for line in marker.read_text("utf-8").splitlines():
        library, _, exe = line.partition(" loaded by ")
        found.append((library.lower(), exe.rsplit("\\", 1)[-1].lower()))
    return found


@pytest.mark.parametrize("cwd", ["elsewhere", "downloads"])
def test_planted_libraries_are_not_loaded(bench, downloads, cwd):
    marker = bench.workdir / "planted.txt"
    env = {"KELTO2_PLANTED_MARKER": bench.prefix.windows_path(marker),
           "WINEDLLOVERRIDES": NATIVE_FIRST}
    folder = downloads if cwd == "downloads" else None

    # Control: an exe with ordinary imports does pick up the planted pair.
    probe = bench.run(downloads / "probe.exe", ["acp"], env=env, cwd=folder, timeout=60)
    assert probe.returncode == 0, probe.stderr[-2000:]
    assert sorted(loads(marker)) == [("version.dll", "probe.exe"), ("wininet.dll", "probe.exe")]
    marker.unlink()

    # An up-to-date Downloader: Kelto2 reads its version (version.dll),
    # fetches its configuration and software.xml (wininet.dll), hands over.
    installation = bench.install_downloader(LATEST)
    bench.serve_config(kelto=f"[forceupdate]\nlatest={LATEST}\n")
    body = bench.serve_software_xml()
    result = bench.run(downloads / "Kelto2.exe", env=env, cwd=folder, timeout=90,
                       debug="-all,warn+seh")
    assert result.returncode == 0, result.stderr[-3000:]
    assert loads(marker) == [], "Kelto2.exe loaded a planted library"
    decision = TRACE.search(result.stderr)
    assert decision, f"no decision trace, stderr:\n{result.stderr[-3000:]}"
    assert decision.group("installed", "latest", "outcome") == (LATEST, LATEST, "hand over")
    assert any(r.url.endswith("kelto.dat") for r in bench.server.requests())
    assert installation.software_xml.read_bytes() == body
