"""Downloads against a server that misbehaves: answers that drip, stall,
break off, never end, or do not honour ranges. One case per path."""

from __future__ import annotations

import subprocess

import pytest

from conftest import Response, standin_exe
from distserver import EndlessBody, PatternBody
from test_handover import GAME_MESSAGE, hand_over, rules
from test_install import CONFIG, QUESTION, leftovers, serve_install  # noqa: F401 (fixture)

SETUP = "/download/mvsetup.exe"


def test_dripping_configuration_is_given_up_and_the_defaults_stand(bench):
    installation = bench.install_downloader("1.6.5.2288")
    bench.serve_software_xml()
    # One byte every 5 s: never silent for the stall limit, so only the
    # request's time limit ends it.
    bench.server.route("/kelto2/kelto.dat",
                       Response(body=b"[forceupdate]\r\nlatest=9.9.9.9\r\n" * 4, chunk_size=1,
                                chunk_delay=5))
    hand_over(bench, installation)
    assert sorted(r.path for r in bench.server.requests()) == [
        "/kelto2/games/9.dat", "/kelto2/kelto.dat", "/software2.xml"]


def test_endless_software_xml_leaves_the_old_file(bench):
    installation = bench.install_downloader("1.6.5.2288", software_xml=b"old")
    bench.server.route("/software2.xml", Response(body=EndlessBody()))
    bench.serve_config(kelto=rules("latest=1.6.5.2288\n"))
    bench.enable_kelto_log()
    hand_over(bench, installation)
    assert installation.software_xml.read_bytes() == b"old"
    assert sorted(p.name for p in installation.folder.iterdir()
                  if p.name.startswith("software")) == ["software.xml"]
    assert bench.kelto_log()[:5] == ["update software.xml failed"] * 5


def test_silent_package_connection_is_given_up_and_retried(bench, leftovers):
    package = standin_exe("mvsetup.exe").read_bytes()
    serve_install(bench)
    bench.server.route(SETUP, Response(body=package, stall_after=100_000), Response(body=package))
    bench.enable_kelto_log()
    assert bench.run_kelto(timeout=120).ok
    assert GAME_MESSAGE in bench.wait_for_log(GAME_MESSAGE)
    assert bench.kelto_log()[:3] == ["Start download mvsetup.exe, 0", "Download mvsetup.exe failed",
                                     "Executing mvdown.exe"]
    # No validator, so nothing to resume: the retry asks for the whole file.
    assert [r.header("Range") for r in bench.server.requests(SETUP)] == [None, None]
    assert leftovers() == []


@pytest.mark.parametrize("retry_etag, ranges, resumed", [
    ('"v1"', True, True),    # the same package, resumed
    ('"v2"', True, False),   # changed between the cut and the retry: fetched whole
    ('"v1"', False, False),  # a server without range support: fetched whole
])
def test_cut_package_is_resumed_only_when_the_server_continues_it(bench, leftovers, retry_etag,
                                                                  ranges, resumed):
    package = standin_exe("mvsetup.exe").read_bytes()
    cut = len(package) * 6 // 10
    serve_install(bench)
    bench.server.route(SETUP, Response(body=package, headers=[("ETag", '"v1"')], cut_after=cut),
                       Response(body=package, headers=[("ETag", retry_etag)], ranges=ranges))
    assert bench.run_kelto(timeout=120).ok
    assert GAME_MESSAGE in bench.wait_for_log(GAME_MESSAGE)

    first, retry = bench.server.requests(SETUP)
    assert retry.header("Range") == f"bytes={cut}-"
    assert retry.header("If-Range") == '"v1"'
    # Nothing else of the launcher's own changed.
    assert {k.lower() for k, _ in retry.headers} - {k.lower() for k, _ in first.headers} == \
        {"range", "if-range"}
    expected = len(package) if resumed else cut + len(package)
    assert bench.server.body_bytes_sent(SETUP) == expected
    assert leftovers() == []


def test_cut_package_is_not_resumed_from_another_url(bench, leftovers):
    package = standin_exe("mvsetup.exe").read_bytes()
    mirror = "/download/mirror.exe"
    serve_install(bench, headers=[("ETag", '"v1"')], ranges=True)
    bench.serve_config(kelto=CONFIG.replace("]\n", f"]\nurl=http://mirror.example{mirror}\n", 1))
    bench.server.route(mirror, Response(body=package, headers=[("ETag", '"v1"')],
                                        cut_after=len(package) // 2))
    assert bench.run_kelto(timeout=120).ok
    assert GAME_MESSAGE in bench.wait_for_log(GAME_MESSAGE)
    # The same validator and length, but another URL: a plain GET for the whole file.
    [fallback] = bench.server.requests(SETUP)
    assert (fallback.header("Range"), fallback.header("If-Range")) == (None, None)
    assert bench.server.body_bytes_sent(SETUP) == len(package)
    assert leftovers() == []


def test_cancel_during_a_stall_ends_the_run_at_once(bench, leftovers):
    package = standin_exe("mvsetup.exe").read_bytes()
    serve_install(bench)
    bench.server.route(SETUP, Response(body=package, stall_after=50_000))
    process = bench.start_kelto()
    bench.wait_for_window(ready=lambda t: t["visible"] and t["children"][6]["position"] > 0)
    bench.winprobe("release", "TKelto2Window", "left", "350", "10")
    assert bench.wait_for_box() == [QUESTION]
    bench.message_boxes("yes")
    # Well before the stall limit could have ended the request.
    assert process.wait(timeout=10) == 0
    assert not any(line.startswith("setup ") for line in bench.log_lines())
    assert len(bench.server.requests(SETUP)) == 1
    assert leftovers() == []


def test_full_volume_fails_each_attempt_and_leaves_nothing(bench):
    # The run's private folder is made in the system's Temp: a volume of
    # 1 MiB there fills up while a 3 MiB package arrives.
    temp = bench.prefix.path / "drive_c" / "windows" / "temp"
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "kelto2-full", str(temp)],
                      capture_output=True).returncode != 0:
        pytest.skip("a small volume can be mounted only by root")
    try:
        bench.serve_config(kelto=CONFIG)
        bench.server.route(SETUP, Response(body=PatternBody(3 << 20)))
        bench.enable_kelto_log()
        result = bench.run_kelto(timeout=120, debug="-all,warn+seh")
        assert result.ok, result
        assert bench.kelto_log() == ["Start download mvsetup.exe, 0"] + \
            ["Download mvsetup.exe failed"] * 3
        # The attempts trace why they failed, with the system's error.
        why = "download mvsetup.exe failed: the body could not be kept, status 0, error 112"
        assert len([line for line in result.stderr.splitlines()
                    if "OutputDebugStringA" in line and why in line]) == 3, result.stderr
        assert list(temp.iterdir()) == []
    finally:
        subprocess.run(["umount", str(temp)], check=True)
