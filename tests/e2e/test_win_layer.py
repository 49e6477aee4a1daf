"""The Windows layer's GoogleTests (kelto2_win_tests.exe) under Wine.

The exe comes from the cmake build (scripts/test.sh); this module only runs
it, in the session's prefix with nothing installed, with the canned routes
of the test's server reached through http_proxy (and directly at
KELTO2_TEST_DIRECT_URL: Wine's WinInet never gives a connection to a proxy
a second request, so a connection kept open shows only there), the
Downloader stand-ins named by KELTO2_STANDIN_DIR, once with the GBK system
code page (zh_CN) and once with a Western one (en_US): the configuration
and the Chinese folder names must not depend on it.
"""

from __future__ import annotations

import os
import pathlib
import re
import shutil

import pytest

from conftest import BIN_DIR, BUILD_DIR, STANDIN_DIR

TEST_EXE = BIN_DIR / "kelto2_win_tests.exe"
# Any host: the proxy receives every request with its absolute URL.
TEST_HOST = "dl.test.example"
RUN_TIMEOUT = 600


def _make_links(folder: pathlib.Path) -> pathlib.Path:
    """Unix symbolic links (Wine follows them without calling them reparse
    points) and hard links, as a program of the user could place them."""
    shutil.rmtree(folder, ignore_errors=True)
    (folder / "folder").mkdir(parents=True)
    (folder / "plain").write_bytes(b"plain")
    (folder / "victim").write_bytes(b"victim")
    for link, name, target in ((os.symlink, "symlink", "victim"), (os.link, "hardlink", "victim"),
                               (os.symlink, "staged.xml.part", "victim"),
                               (os.symlink, "folder-symlink", "folder")):
        link(folder / target, folder / name)
    (folder / "doomed").mkdir()
    (folder / "doomed" / "plain").write_bytes(b"plain")
    os.symlink(folder / "victim", folder / "doomed" / "symlink")
    return folder


def _skipped(output: str) -> list[str]:
    return sorted(set(re.findall(r"^\[  SKIPPED \] (\S+)$", output, re.MULTILINE)))


@pytest.mark.parametrize("locale, allowed_skips", [
    ("zh_CN.UTF-8", []),
    # Only the check of the GBK system code page itself needs code page 936.
    ("en_US.UTF-8", ["TextWin.AnsiFollowsTheSystemCodePage"]),
])
def test_win_layer_gtests(bench, locale, allowed_skips):
    if not TEST_EXE.is_file():
        pytest.fail(f"{TEST_EXE} is missing: build it (cmake --build {BUILD_DIR} "
                    f"--target kelto2_win_tests)")
    bench.server.files = str(STANDIN_DIR)  # the Setup package stand-in, for /canned/file
    # KELTO2_GTEST_FILTER narrows the run while working on a few tests.
    narrowed = [f"--gtest_filter={os.environ['KELTO2_GTEST_FILTER']}"] \
        if os.environ.get("KELTO2_GTEST_FILTER") else []
    direct = f"http://127.0.0.1:{bench.server.port}"
    result = bench.run(TEST_EXE, ["--gtest_color=no", *narrowed], timeout=RUN_TIMEOUT,
                       locale=locale, env={
        "KELTO2_TEST_URL": f"http://{TEST_HOST}",
        "KELTO2_TEST_DIRECT_URL": direct,
        "no_proxy": "127.0.0.1",
        "KELTO2_STANDIN_DIR": bench.prefix.windows_path(STANDIN_DIR),
        "KELTO2_LINK_DIR": bench.prefix.windows_path(_make_links(bench.workdir / "links")),
    })
    stdout = result.stdout.replace("\r\n", "\n")
    output = f"{stdout}\n--- stderr ---\n{result.stderr}"
    print(output)

    assert not result.timed_out, f"no end after {RUN_TIMEOUT} s:\n{output}"
    assert result.returncode == 0, f"kelto2_win_tests.exe failed:\n{output}"
    assert re.search(r"^\[  PASSED  \] \d+ tests?\.$", stdout, re.MULTILINE), output
    # The server, the stand-ins, a clean prefix and code page 936 are all
    # given here: a skipped test means the harness lost one of them.
    assert _skipped(stdout) == allowed_skips, f"skipped: {_skipped(stdout)}\n{output}"

    requests = bench.server.requests()
    assert requests, "no request reached the server: is http_proxy honoured?"
    for request in requests:
        if not request.url.startswith(direct):
            assert request.target.startswith(f"http://{TEST_HOST}"), request.target

    # The probe request must carry no user agent of ours.
    probes = [r for r in requests if r.params.get("probe") == "agent"]
    assert len(probes) == 1, [r.url for r in requests]
    agent = probes[0].header("User-Agent")
    assert agent in (None, ""), f"User-Agent: {agent!r}"
    assert probes[0].method == "GET"
