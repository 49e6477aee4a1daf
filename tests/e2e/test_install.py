"""The install path from end to end: the window appears, the Setup package
downloads on the worker, runs silently, and the fresh Downloader receives
the hand-over; or the user cancels."""

from __future__ import annotations

import re
import time

import pytest

from conftest import Response

CONFIG = """[forceupdate]
latest=1.6.5.2288
[ui]
closeX=341
closeY=0
closeW=48
closeH=21
"""
QUESTION = "下载器|真的要取消下载Tamble吗？"
WS_MINIMIZE = 0x20000000


def downloads_in_temp(bench) -> set[str]:
    temp = bench.prefix.unix_path(bench.winprobe("temp").stdout.strip())
    return {p.name for p in temp.iterdir()
            if p.name.lower().startswith(("mvs", "mvc", "kelto2-setup"))}


@pytest.fixture
def leftovers(bench):
    """leftovers() -> what this test's runs of the launcher left behind in
    the user's temporary folder (runs killed by other tests may leave theirs)."""
    before = downloads_in_temp(bench)
    return lambda: sorted(downloads_in_temp(bench) - before)


def serve_install(bench, **response) -> None:
    bench.serve_config(kelto=CONFIG)
    bench.serve_software_xml()
    bench.serve_setup("1.6.5.2288", **response)


def test_whole_install_hands_over_to_the_new_downloader(bench, leftovers):
    serve_install(bench, chunk_size=65536, chunk_delay=0.05)
    bench.enable_kelto_log()
    result = bench.run_kelto(timeout=120)
    assert result.ok, result

    lines = bench.wait_for_log("msg 0x13F4 9 0")
    assert "setup args  /S" in lines, lines
    setup_path = next(line for line in lines if line.startswith("setup path "))
    assert "\\kelto2-setup-" in setup_path and setup_path.lower().endswith(".exe"), setup_path
    assert "args /u" in lines and "msg 0x13F4 9 0" in lines
    # The checked package installs with the launcher's rights, in its own
    # folder; the Downloader it put in the user's folder runs with the user's.
    assert "token setup 2" in lines and "token mvdown 3" in lines, lines
    folder = setup_path[len("setup path "):].rsplit("\\", 1)[0]
    assert "setup cwd " + folder in lines, lines
    installed = next(line for line in lines if line.startswith("setup installed "))
    assert "mvdown cwd " + installed.split(" ", 3)[3] in lines, lines

    log = bench.kelto_log()
    assert log[0] == "Start download mvsetup.exe, 0"
    assert log[1] == "Executing mvdown.exe"
    assert "software.xml updated" in log
    assert any(line.startswith("Executing ") and line.endswith("\\mvdown.exe") for line in log[2:])
    assert any(line.startswith("SendMessage ") and line.endswith(", 5108, 9") for line in log)
    assert log[-1] == "Download mvsetup.exe complete successful"
    assert bench.server.paths().count("/download/mvsetup.exe") == 1
    # Nothing was installed: software.xml is asked for only after the setup.
    assert bench.server.paths().count("/software2.xml") == 1
    assert leftovers() == []


@pytest.fixture
def user_temp(bench):
    """TMP and TEMP of HKCU\\Environment, which any program of the user may
    write, pointed at a folder of the user's; restored afterwards."""
    key = "HKCU\\Environment"
    saved = {}
    for name in ("TMP", "TEMP"):
        found = re.search(rf"^\\s*{name}\\s+(REG_\\w+)\\s+(.*?)\\s*$",
                          bench.run("reg", ["query", key, "/v", name]).stdout, re.MULTILINE)
        saved[name] = found.groups() if found else None
    folder = bench.workdir / "user-temp"
    folder.mkdir(exist_ok=True)
    # A registry write can be lost when the prefix's server ends right after
    # it; the harness tries once more before the test relies on it.
    for _ in range(2):
        for name in saved:
            added = bench.run("reg", ["add", key, "/v", name, "/d",
                                      bench.prefix.windows_path(folder), "/f"])
            assert added.returncode == 0, added
        if bench.prefix.unix_path(bench.winprobe("temp").stdout.strip()) == folder:
            break
    yield folder
    for name, value in saved.items():
        args = ["add", key, "/v", name, "/t", value[0], "/d", value[1], "/f"] if value else \
            ["delete", key, "/v", name, "/f"]
        bench.run("reg", args)


def test_package_runs_from_the_system_folder_whatever_tmp_says(bench, user_temp):
    assert bench.prefix.unix_path(bench.winprobe("temp").stdout.strip()) == user_temp
    serve_install(bench)
    assert bench.run_kelto(timeout=120).ok
    lines = bench.wait_for_log("msg 0x13F4 9 0")
    setup_path = next(line for line in lines if line.startswith("setup path "))
    assert setup_path.lower().startswith("setup path c:\\windows\\temp\\kelto2-setup-")
    assert "token setup 2" in lines and list(user_temp.iterdir()) == []


def test_three_failed_downloads_end_quietly(bench, leftovers):
    bench.serve_config(kelto=CONFIG)
    bench.server.route("/download/mvsetup.exe", Response(status=404, body=b"gone"))
    bench.enable_kelto_log()
    result = bench.run_kelto(timeout=120)
    assert result.ok, result
    assert bench.kelto_log() == ["Start download mvsetup.exe, 0"] + \
        ["Download mvsetup.exe failed"] * 3
    assert bench.server.paths().count("/download/mvsetup.exe") == 3
    assert not any(line.startswith("setup ") for line in bench.log_lines())
    assert leftovers() == []


def test_setup_exit_code_3_skips_the_hand_over(bench, leftovers):
    bench.serve_config(kelto=CONFIG)
    bench.serve_setup("1.6.5.2288", exit_code=3)
    bench.enable_kelto_log()
    result = bench.run_kelto(timeout=120)
    assert result.ok, result
    assert bench.kelto_log() == ["Start download mvsetup.exe, 0", "Executing mvdown.exe",
                                 "Download mvsetup.exe complete successful"]
    assert "setup args  /S" in bench.log_lines()
    assert "args /u" not in bench.log_lines()
    assert leftovers() == []


def test_run_killed_midway_leaves_nothing_once_the_next_has_installed(bench, leftovers):
    serve_install(bench, chunk_size=4096, chunk_delay=0.2)
    bench.start_kelto()
    bench.wait_for_window(ready=lambda t: t["visible"] and t["children"][6]["position"] > 0)
    bench.prefix.kill_all()
    assert [n for n in leftovers() if n.startswith("kelto2-setup-")], "the killed run left nothing"
    serve_install(bench)
    assert bench.run_kelto(timeout=120).ok
    assert "msg 0x13F4 9 0" in bench.wait_for_log("msg 0x13F4 9 0")
    assert leftovers() == []


def test_cancel_yes_ends_the_run_during_the_download(bench, leftovers):
    serve_install(bench, chunk_size=4096, chunk_delay=0.2)
    process = bench.start_kelto()
    bench.wait_for_window(ready=lambda t: t["visible"] and t["children"][6]["position"] > 0)
    bench.winprobe("release", "TKelto2Window", "left", "350", "10")
    assert bench.wait_for_box() == [QUESTION]
    assert not bench.window_tree()["visible"], "the window hides behind the question"
    bench.message_boxes("yes")
    assert process.wait(timeout=30) == 0
    time.sleep(1)
    assert not any(line.startswith("setup ") for line in bench.log_lines())
    assert "args /u" not in bench.log_lines()
    assert leftovers() == []


def test_cancel_no_goes_on_and_one_job_completes(bench, leftovers):
    serve_install(bench, chunk_size=8192, chunk_delay=0.15)
    process = bench.start_kelto()
    bench.wait_for_window(ready=lambda t: t["visible"] and t["children"][6]["position"] > 0)
    # The close rectangle's edges: right and bottom ends count, one pixel
    # further or another button does not.
    for button, x, y in (("left", 390, 10), ("left", 341, 22), ("right", 350, 10)):
        bench.winprobe("release", "TKelto2Window", button, str(x), str(y))
        time.sleep(0.5)
        assert bench.message_boxes() == [], (button, x, y)
    bench.winprobe("release", "TKelto2Window", "left", "389", "21")
    assert bench.wait_for_box() == [QUESTION]
    before = bench.window_tree()["children"][6]["position"]
    time.sleep(1.5)
    assert bench.window_tree()["children"][6]["position"] > before, \
        "progress goes on while the question is open"
    bench.message_boxes("no")
    tree = bench.wait_for_window()
    assert tree["visible"]
    assert process.wait(timeout=120) == 0
    assert "msg 0x13F4 9 0" in bench.wait_for_log("msg 0x13F4 9 0")
    assert bench.server.paths().count("/download/mvsetup.exe") == 1, "one job only"
    assert leftovers() == []


def test_links_open_in_the_default_browser_as_one_argument(bench):
    """Link 1 (a blank and a quote in it) and the header link (no scheme)
    reach the user's browser unelevated, each URL one argument; link 2 is
    no web page and opens nothing; the minimise area minimises."""
    config = """[forceupdate]
latest=1.6.5.2288
[ui]
webLink1Text=认证
webLink1URL=http://certificate.example/cert page.html?q="x"
webLink2Text=other
webLink2URL=file:///C:/windows/system32/calc.exe
headerurl=www.example.com/page
"""
    bench.serve_config(kelto=config)
    bench.server.route("/download/mvsetup.exe", Response(hang=True))
    bench.use_browser_standin()
    bench.start_kelto()
    tree = bench.wait_for_window()
    assert tree["owner"]["style"] & WS_MINIMIZE == 0
    opened = []
    for index, url in ((3, 'http://certificate.example/cert page.html?q="x"'), (4, None),
                       (0, "http://www.example.com/page")):
        assert bench.winprobe("click", "TKelto2Window", str(index)).returncode == 0
        if url:
            opened += ["token browser 3", "browser arg -osint", "browser arg -url",
                       "browser arg " + url]
            bench.wait_for_log("browser arg " + url, timeout=15)
    time.sleep(1)
    assert [line for line in bench.log_lines() if "browser" in line] == opened
    bench.winprobe("click", "TKelto2Window", "2")  # the minimise area
    time.sleep(1)
    assert bench.window_tree()["owner"]["style"] & WS_MINIMIZE


def test_a_second_launcher_shows_the_installing_ones_window_and_ends(bench, leftovers):
    """A user who sees nothing happen starts the launcher again: one run
    downloads and runs the package, the other brings its window forward and
    ends, whichever of the two decided first."""
    serve_install(bench, chunk_size=16384, chunk_delay=0.3)
    bench.enable_kelto_log()
    runs = [bench.start_kelto(debug="-all,warn+seh")]
    time.sleep(0.5)
    runs.append(bench.start_kelto(debug="-all,warn+seh"))
    deadline = time.monotonic() + 90
    while all(run.poll() is None for run in runs) and time.monotonic() < deadline:
        time.sleep(0.1)
    quick = next(run for run in runs if run.poll() is not None)
    installing = next(run for run in runs if run is not quick)
    assert quick.returncode == 0
    assert installing.poll() is None, "the quick run ended only after the install"
    trace = bench.stderr_of(quick)
    assert "another launcher of the session is installing" in trace, trace[-3000:]
    assert "building the window" not in trace, trace[-3000:]

    assert installing.wait(timeout=120) == 0
    assert "msg 0x13F4 9 0" in bench.wait_for_log("msg 0x13F4 9 0")
    assert bench.server.paths().count("/download/mvsetup.exe") == 1
    assert [line for line in bench.log_lines() if line.startswith("setup args")] == \
        ["setup args  /S"]
    assert bench.kelto_log().count("Start download mvsetup.exe, 0") == 1
    assert leftovers() == []
