"""The launcher over https: a whole install from a server that speaks TLS
with a certificate the run trusts, and nothing at all from one whose
certificate the platform refuses, or that sends it back to plain http.

The tests reach the server through http_proxy, so WinInet asks for each
https URL with CONNECT and the server's tunnel speaks TLS. Wine takes its
trusted roots from the host's bundle; each run here sees a bundle with the
test CA in its own mount namespace (root only)."""

from __future__ import annotations

import os

import pytest

from conftest import Response
from skins import png_bytes, solid
from testca import TestCa, trusting

pytestmark = pytest.mark.skipif(os.geteuid() != 0, reason="mount namespaces need root")

HOST = "dl.morvik.example"
BASE = f"https://{HOST}/kelto2/"
CONFIG = f"""[forceupdate]
latest=1.6.5.2288
url=https://{HOST}/download/mvsetup.exe
[ui]
headerImg=https://{HOST}/kelto2/header.png
"""


@pytest.fixture(scope="module")
def ca(tmp_path_factory):
    return TestCa(tmp_path_factory.mktemp("ca"))


@pytest.fixture
def tls_bench(bench, ca):
    """The bench with its server's tunnel speaking TLS as HOST, in runs that
    trust the test CA."""
    bench.server.tls = ca.issue(HOST, "server")
    bench.wrapper = trusting(ca.trusted_bundle())
    return bench


def secure_requests(bench) -> list[str]:
    return [r.url for r in bench.server.requests() if r.url.startswith("https://")
            and r.method != "CONNECT"]


def test_whole_install_over_https(tls_bench):
    bench = tls_bench
    bench.serve_config(kelto=CONFIG)
    bench.server.add_file("/kelto2/header.png", png_bytes(40, 20, solid((200, 40, 40))))
    bench.serve_software_xml()
    bench.serve_setup("1.6.5.2288")
    bench.enable_kelto_log()
    result = bench.run_kelto([BASE], timeout=120)
    assert result.ok, result

    assert "msg 0x13F4 9 0" in bench.wait_for_log("msg 0x13F4 9 0")
    assert bench.kelto_log()[-1] == "Download mvsetup.exe complete successful"
    # The configuration files side by side, then the picture, then the package.
    tunnelled = secure_requests(bench)
    assert sorted(tunnelled[:2]) == [BASE + "games/9.dat", BASE + "kelto.dat"]
    assert tunnelled[2:] == [BASE + "header.png", f"https://{HOST}/download/mvsetup.exe"]


@pytest.mark.parametrize("refusal", ["wrong name", "untrusted CA", "redirect to http"])
def test_refused_https_server_gives_nothing(tls_bench, ca, tmp_path, refusal):
    bench = tls_bench
    if refusal == "wrong name":
        bench.server.tls = ca.issue("other.example", "other")
    elif refusal == "untrusted CA":
        bench.server.tls = TestCa(tmp_path / "rogue", "Rogue CA").issue(HOST, "rogue")
    installation = bench.install_downloader("1.6.5.2288")
    bench.serve_config(kelto=CONFIG.replace("1.6.5.2288", "1.6.5.2290"))
    bench.serve_setup("1.6.5.2290")
    if refusal == "redirect to http":
        for name in ("kelto.dat", "games/9.dat"):
            bench.server.route(f"/kelto2/{name}", Response(
                status=302, headers=[("Location", f"http://{HOST}/plain/{name}")]))
    result = bench.run_kelto([BASE], timeout=120)
    assert result.ok, result

    # The run goes on as without a server: the installed Downloader takes over.
    lines = bench.wait_for_log("msg 0x13F4 9 0")
    assert "msg 0x13F4 9 0" in lines and not any(line.startswith("setup ") for line in lines)
    paths = bench.server.paths()
    assert "/download/mvsetup.exe" not in paths and not any(p.startswith("/plain/") for p in paths)
    tunnelled = secure_requests(bench)
    if refusal == "redirect to http":
        assert sorted(tunnelled) == [BASE + "games/9.dat", BASE + "kelto.dat"]
    else:
        assert any(r.method == "CONNECT" for r in bench.server.requests())
        assert tunnelled == []
    assert installation.exe.exists()
