"""The hand-over path of the shipped Kelto2.exe under Wine: software.xml
refreshed from the server, the Downloader started with "/u" and sent
message 0x13F4 with the game number 9, the uninstaller run first when the
version is forced that far, and the trace in kelto2.log."""

from __future__ import annotations

import os
import re
import shutil
import subprocess
import time

import pytest

from conftest import PRODUCT, PRODUCT_2010, REPO, mvdown_variant
from distserver import Response

GAME_MESSAGE = "msg 0x13F4 9 0"
SEND_LINE = re.compile(r"^SendMessage -?\d+, 5108, 9$")
UNINSTALL_ARGS = "uninst args  /S"  # the parameter text " /S" keeps its blank


def rules(text: str) -> str:
    return "[forceupdate]\n" + text + "\n[ui]\ncaption=Morvik下载器\n"


def started_with_u(lines: list[str]) -> int:
    return sum(1 for line in lines if line == "args /u")


def messages(lines: list[str]) -> list[str]:
    return [line for line in lines if line.startswith("msg ")]


def hand_over(bench, installation, **kwargs):
    """Runs the launcher and waits for the message to reach the stand-in."""
    result = bench.run_kelto(timeout=120, **kwargs)
    assert result.ok, (result.returncode, result.stderr[-2000:])
    return result, bench.wait_for_log(GAME_MESSAGE, timeout=20)


# --- hand over ---------------------------------------------------------------

def test_up_to_date_downloader_is_refreshed_started_and_messaged(bench):
    installation = bench.install_downloader("1.6.5.2288", software_xml=b"old")
    body = bench.serve_software_xml(b"<software fresh=\"1\"/>\r\n")
    bench.serve_config(kelto=rules("latest=1.6.5.2288\n"))
    log = bench.enable_kelto_log()
    _, lines = hand_over(bench, installation)

    assert started_with_u(lines) == 1
    assert messages(lines) == [GAME_MESSAGE]
    assert "token mvdown 3" in lines, "the user's own folder: the user's own rights"
    assert installation.software_xml.read_bytes() == body
    exe = installation.windows_folder + "\\mvdown.exe"
    trace = bench.kelto_log()
    assert trace[:2] == ["software.xml updated", "Executing " + exe], trace
    assert len(trace) == 3 and SEND_LINE.match(trace[2]), trace
    assert log.read_bytes().endswith(b"\r\n") and b"\n" not in log.read_bytes().replace(b"\r\n", b"")
    # software.xml comes from the server root, asked for side by side with
    # the two configuration files.
    assert sorted(r.path for r in bench.server.requests()) == [
        "/kelto2/games/9.dat", "/kelto2/kelto.dat", "/software2.xml"]


def test_running_downloader_is_started_again_and_messaged(bench):
    installation = bench.install_downloader("1.6.5.2282")
    bench.serve_software_xml()
    bench.serve_config(kelto=rules("latest=1.6.5.2288\n"))  # older, not forced
    bench.start_downloader(installation, args=("--already-running",))
    assert bench.wait_for_log("args --already-running")
    assert bench.sendmsg(0, wait_ms=10000).returncode == 0
    _, lines = hand_over(bench, installation)
    assert started_with_u(lines) == 1
    assert GAME_MESSAGE in messages(lines)


def test_downloader_whose_window_comes_late_is_waited_for(bench):
    installation = bench.install_downloader("1.6.5.2288")
    bench.serve_config(kelto=rules("latest=1.6.5.2288\n"))
    bench.standin_env["KELTO2_MVDOWN_WINDOW"] = "delay:3000"
    result, lines = hand_over(bench, installation)
    assert messages(lines) == [GAME_MESSAGE]
    assert result.seconds >= 3.0


def test_downloader_found_under_the_older_name_only(bench):
    """Started and messaged; software.xml would go to the current product's
    folder, which does not exist: the refresh is skipped, never written at
    the root of the drive."""
    installation = bench.install_downloader("1.6.5.2288", product=PRODUCT_2010,
                                            software_xml=b"old")
    bench.serve_software_xml()
    bench.serve_config(kelto=rules("latest=1.6.5.2288\n"))
    bench.enable_kelto_log()
    _, lines = hand_over(bench, installation)
    assert messages(lines) == [GAME_MESSAGE]
    assert installation.software_xml.read_bytes() == b"old"
    assert not (bench.prefix.drive_c / "software.xml").exists()
    trace = bench.kelto_log()
    assert trace[0] == "update software.xml failed"
    assert trace[1] == "Executing " + installation.windows_folder + "\\mvdown.exe"
    assert "/software2.xml" not in [r.path for r in bench.server.requests()]


def test_failed_refresh_is_tried_five_times_and_does_not_stop_the_hand_over(bench):
    installation = bench.install_downloader("1.6.5.2288", software_xml=b"old")
    bench.server.route("/software2.xml", Response(status=500, body=b"busy"))
    bench.serve_config(kelto=rules("latest=1.6.5.2288\n"))
    bench.enable_kelto_log()
    _, lines = hand_over(bench, installation)
    assert messages(lines) == [GAME_MESSAGE]
    assert installation.software_xml.read_bytes() == b"old"
    trace = bench.kelto_log()
    assert trace[:5] == ["update software.xml failed"] * 5
    refreshes = [r for r in bench.server.requests() if r.path == "/software2.xml"]
    assert len(refreshes) == 5
    gaps = [b.time - a.time for a, b in zip(refreshes, refreshes[1:])]
    assert min(gaps) >= 0.45, gaps


def test_truncated_software_xml_is_not_written(bench):
    installation = bench.install_downloader("1.6.5.2288", software_xml=b"old")
    bench.server.route("/software2.xml", Response(body=b"<software/>" * 100, cut_after=50))
    bench.serve_config(kelto=rules("latest=1.6.5.2288\n"))
    hand_over(bench, installation)
    assert installation.software_xml.read_bytes() == b"old"


def test_base_url_argument_does_not_move_software_xml(bench):
    bench.install_downloader("1.6.5.2288")
    bench.serve_software_xml()
    bench.server.add_file("/mirror/kelto.dat", rules("latest=1.6.5.2288\n").encode("gbk"))
    result = bench.run_kelto(["http://mirror.example/mirror/"], timeout=120)
    assert result.ok
    assert sorted(r.url for r in bench.server.requests()) == [
        "http://dl.morvik.example/software2.xml", "http://mirror.example/mirror/games/9.dat",
        "http://mirror.example/mirror/kelto.dat"]


@pytest.mark.parametrize("config", [None, "latest=1.6.5.2288\n"], ids=["no-config", "config"])
def test_nothing_installed_and_nothing_running_exits_quietly(bench, config):
    if config:
        bench.serve_config(kelto=rules(config + "0=0\n"))
        bench.start_downloader(bench.install_downloader("1.6.5.2288",
                                                        folder=bench.workdir / "stray"))
        assert bench.sendmsg(0, wait_ms=10000).returncode == 0
    else:
        bench.serve_config()
    bench.enable_kelto_log()
    result = bench.run_kelto(timeout=120)
    assert result.ok
    assert bench.kelto_log() == []  # no executable: nothing started, nothing logged
    assert "/software2.xml" not in [r.path for r in bench.server.requests()]
    assert GAME_MESSAGE not in bench.log_lines()


def test_update_refreshes_software_xml_anew_after_the_setup(bench):
    """The answer for software.xml that came with the configuration is not
    used on the update path: the refresh after the setup asks again."""
    installation = bench.install_downloader("1.6.5.2282", software_xml=b"old")
    bench.server.route("/software2.xml", Response(body=b"<early/>"), Response(body=b"<fresh/>"))
    bench.serve_config(kelto=rules("latest=1.6.5.2288\n1.6.5.2282=1\n"))
    bench.serve_setup("1.6.5.2288")
    bench.enable_kelto_log()
    hand_over(bench, installation)
    assert installation.software_xml.read_bytes() == b"<fresh/>"
    assert bench.server.paths().count("/software2.xml") == 2
    assert bench.kelto_log().count("software.xml updated") == 1


# --- update path: no hand-over ---------------------------------------------------

def test_forced_update_does_not_hand_over_even_while_running(bench):
    installation = bench.install_downloader("1.6.5.2282")
    bench.serve_config(kelto=rules("latest=1.6.5.2288\n1.6.5.2282=1\n"))
    bench.start_downloader(installation, args=("--already-running",))
    assert bench.sendmsg(0, wait_ms=10000).returncode == 0
    result = bench.run_kelto(timeout=120)
    assert result.ok
    time.sleep(1)
    lines = bench.log_lines()
    assert started_with_u(lines) == 0 and GAME_MESSAGE not in lines
    assert UNINSTALL_ARGS not in lines


@pytest.mark.parametrize("exit_code", [0, 3])
@pytest.mark.parametrize("args", [(), ("/testui",)], ids=["forced", "testui"])
def test_level_two_runs_the_uninstaller_first(bench, exit_code, args):
    installation = bench.install_downloader("1.6.5.2282")
    bench.serve_config(kelto=rules("latest=1.6.5.2288\n1.6.5.2282=2\n"))
    bench.standin_env["KELTO2_UNINST_EXIT"] = str(exit_code)
    bench.enable_kelto_log()
    result = bench.run_kelto(args, timeout=120)
    assert result.ok
    lines = bench.log_lines()
    assert UNINSTALL_ARGS in lines
    assert not installation.exe.exists(), "the stand-in uninstaller removed the installation"
    assert GAME_MESSAGE not in lines
    # The uninstall logs nothing; the update path follows (no package served).
    assert bench.kelto_log() == ["Start download mvsetup.exe, 0"] + \
        ["Download mvsetup.exe failed"] * 3


@pytest.fixture(scope="session")
def nsis_setup(tmp_path_factory):
    """nsis_setup(version) -> an NSIS installer of that mvdown stand-in."""
    if not shutil.which("makensis"):
        pytest.fail("makensis is missing: scripts/install-deps.sh installs nsis")
    folder = tmp_path_factory.mktemp("nsis")

    def build(version: str):
        out = folder / f"setup_{version}.exe"
        if not out.exists():
            subprocess.run(["makensis", "-V2", f"-DMVDOWN={mvdown_variant(version)}",
                            f"-DOUT={out}", str(REPO / "tests/standins/downloader.nsi")],
                           check=True, timeout=120)
        return out
    return build


def test_nsis_install_then_uninstall_first_update(bench, nsis_setup):
    """A whole install with a real NSIS installer; then the update whose
    silent NSIS uninstaller returns at once while its copy removes the old
    installation seconds later: the update waits for that, the new one stays."""
    bench.serve_config(kelto=rules("latest=1.6.5.2282\n"))
    bench.server.route("/download/mvsetup.exe",
                       Response(body=nsis_setup("1.6.5.2282").read_bytes()))
    hand_over(bench, None)
    folder = bench.product_folder()
    assert (folder / "mvdown.exe").read_bytes() == mvdown_variant("1.6.5.2282").read_bytes()
    assert (folder / "uninst.exe").exists()
    bench.prefix.kill_all()  # the Downloader it started holds its exe
    bench.serve_config(kelto=rules("latest=1.6.5.2288\n1.6.5.2282=2\n"))
    bench.server.route("/download/mvsetup.exe",
                       Response(body=nsis_setup("1.6.5.2288").read_bytes()))
    result, _ = hand_over(bench, None)
    assert result.seconds >= 3, "the copy's removal was waited for"
    deadline = time.monotonic() + 15
    while any("~nsu" in cmd for _, cmd in bench.prefix.processes()):
        assert time.monotonic() < deadline, bench.prefix.processes()
        time.sleep(0.2)
    assert (folder / "mvdown.exe").read_bytes() == mvdown_variant("1.6.5.2288").read_bytes()


def test_hanging_uninstaller_is_ended_after_a_minute(bench):
    bench.install_downloader("1.6.5.2282")
    bench.serve_config(kelto=rules("latest=1.6.5.2288\n0=2\n"))
    bench.standin_env["KELTO2_UNINST_HANG"] = "1"
    result = bench.run_kelto(timeout=150)
    assert result.ok, result
    assert 59 <= result.seconds < 120, result.seconds
    assert UNINSTALL_ARGS in bench.log_lines()
    assert not any("uninst.exe" in cmd for _, cmd in bench.prefix.processes())


# --- the log file -----------------------------------------------------------------

def test_without_log_file_nothing_is_created(bench):
    installation = bench.install_downloader("1.6.5.2288")
    bench.serve_config(kelto=rules("latest=1.6.5.2288\n"))
    hand_over(bench, installation)
    assert not (bench.cwd / "kelto2.log").exists()


def test_folder_named_like_the_log_is_left_alone(bench):
    installation = bench.install_downloader("1.6.5.2288")
    bench.serve_config(kelto=rules("latest=1.6.5.2288\n"))
    (bench.cwd / "kelto2.log").mkdir()
    hand_over(bench, installation)
    assert list((bench.cwd / "kelto2.log").iterdir()) == []


def test_log_of_the_current_folder_is_appended_in_the_ansi_code_page(bench):
    """Lines go to the kelto2.log of the current folder, after what it held;
    the Chinese folder names come out in GBK under a Chinese system."""
    installation = bench.install_downloader("1.6.5.2288")
    bench.serve_software_xml()
    bench.serve_config(kelto=rules("latest=1.6.5.2288\n"))
    other = bench.workdir / "elsewhere"
    other.mkdir()
    (other / "kelto2.log").write_bytes("earlier line\r\n".encode("gbk"))
    hand_over(bench, installation, cwd=other)
    raw = (other / "kelto2.log").read_bytes()
    assert raw.startswith(b"earlier line\r\n")
    text = raw.decode("gbk").split("\r\n")
    assert text[1:3] == ["software.xml updated",
                         "Executing " + installation.windows_folder + "\\mvdown.exe"]
    assert PRODUCT.encode("gbk") in raw


@pytest.mark.parametrize("link", [os.symlink, os.link], ids=["symlink", "hardlink"])
def test_links_placed_as_software_xml_and_log_are_not_written_through(bench, link):
    installation = bench.install_downloader("1.6.5.2288")
    body = bench.serve_software_xml()
    bench.serve_config(kelto=rules("latest=1.6.5.2288\n"))
    victims = {}
    for place in (installation.software_xml, bench.cwd / "kelto2.log"):
        victim = bench.workdir / f"victim-{place.name}"
        victim.write_bytes(b"victim")
        link(victim, place)
        victims[victim] = place
    hand_over(bench, installation)
    for victim, place in victims.items():
        assert victim.read_bytes() == b"victim", place
    # The link at software.xml was replaced by the fresh file.
    assert installation.software_xml.read_bytes() == body
