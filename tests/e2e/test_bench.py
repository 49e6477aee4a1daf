"""The bench itself works under Wine: the stand-ins behave as the tests of
the launcher assume, installations land where a Windows program looks, and
Wine's WinInet reaches the local server through http_proxy."""

import re
import struct
import subprocess
import time
import urllib.error
import urllib.request

import pytest

from conftest import (LOCALES, PRODUCT, PRODUCT_2010, UNINSTALL_KEY, mvdown_variant,
                      standin_exe)
from distserver import Response


def test_standin_window_takes_the_handover_message(bench):
    installation = bench.install_downloader("1.6.5.2288")
    first = bench.start_downloader(installation)
    second = bench.start_downloader(installation, args=["/u", "again"])
    try:
        sent = bench.sendmsg(9, wait_ms=20000)
        assert sent.returncode == 0, sent.stdout + sent.stderr
        handle = re.search(r"window (\d+) result 0", sent.stdout).group(1)
        lines = bench.wait_for_log("msg 0x13F4 9 0")
        bench.wait_for_log("args /u again")
        lines = bench.log_lines()
    finally:
        first.kill()
        second.kill()
    # Both instances share the log; the one that answered is the one that
    # owns the window FindWindowA found.
    assert "args /u" in lines and "args /u again" in lines
    assert lines.count("msg 0x13F4 9 0") == 1
    assert f"window {handle}" in lines


@pytest.mark.parametrize("mode, wait_ms, found", [
    ("delay:1500", 20000, True),
    ("never", 3000, False),
])
def test_standin_window_timing(bench, mode, wait_ms, found):
    installation = bench.install_downloader("1.6.5.2282")
    start = time.monotonic()
    process = bench.start_downloader(installation, env={"KELTO2_MVDOWN_WINDOW": mode})
    try:
        bench.wait_for_log("args /u")
        sent = bench.sendmsg(0x1234, 77, wait_ms=wait_ms)
    finally:
        process.kill()
    lines = bench.log_lines()
    if found:
        assert sent.returncode == 0
        assert time.monotonic() - start >= 1.5
        assert "msg 0x13F4 4660 77" in lines
    else:
        assert sent.returncode == 2 and "no window" in sent.stdout
        assert not any(line.startswith(("window", "msg")) for line in lines)


def test_standin_ends_after_its_lifetime(bench):
    result = bench.run(mvdown_variant(None), ["/u"],
                       env={"KELTO2_MVDOWN_LIFETIME_MS": "1500"}, timeout=60)
    assert result.ok
    assert result.seconds >= 1.4
    assert bench.log_lines()[:1] == ["args /u"]


@pytest.mark.parametrize("version, expected", [
    ("1.6.5.2282", "1.6.5.2282"),
    ("1.6.5.2288", "1.6.5.2288"),
    (None, None),
])
def test_standin_variants_carry_their_file_version(bench, version, expected):
    result = bench.winprobe("version", bench.prefix.windows_path(mvdown_variant(version)))
    if expected:
        assert (result.returncode, result.stdout.strip()) == (0, expected)
    else:
        assert result.returncode == 2 and result.stdout == ""


def test_installations_land_where_windows_looks(bench):
    bench.install_downloader("1.6.5.2288", PRODUCT)
    bench.install_downloader("1.6.5.2282", PRODUCT_2010)
    rows = [line.split("\t") for line in bench.winprobe("downloader").stdout.splitlines()]
    assert [(row[0], row[2]) for row in rows] == [(PRODUCT, "version=1.6.5.2288"),
                                                  (PRODUCT_2010, "version=1.6.5.2282")]
    assert rows[0][1].endswith("\\Morvik网络\\Morvik下载器\\mvdown.exe")

    bench.clean()
    rows = [line.split("\t") for line in bench.winprobe("downloader").stdout.splitlines()]
    assert [row[2] for row in rows] == ["missing", "missing"]


@pytest.mark.parametrize("view", ["32", "64"])
def test_registry_installation_is_found_in_its_view(bench, view):
    installation = bench.install_downloader("1.6.5.2282", PRODUCT_2010, where="registry",
                                            registry_view=view)
    assert installation.exe.exists()
    answer = dict(line.split("\t") for line in
                  bench.winprobe("regloc", PRODUCT_2010).stdout.splitlines())
    other = "64" if view == "32" else "32"
    assert answer[view] == f"type=1 {installation.windows_folder}"
    assert answer[other] == "absent"
    assert "其他" in installation.windows_folder
    version = bench.winprobe("version", installation.windows_folder + "\\mvdown.exe")
    assert version.stdout.strip() == "1.6.5.2282"

    bench.clean()
    answer = dict(line.split("\t") for line in
                  bench.winprobe("regloc", PRODUCT_2010).stdout.splitlines())
    assert answer == {"32": "absent", "64": "absent"}
    assert not installation.folder.exists()


def test_registry_import_writes_raw_values(bench):
    # An InstallLocation with its NUL terminator doubled, as some
    # installers write it.
    data = "C:\\X".encode("utf-16-le") + b"\0\0\0\0"
    key = UNINSTALL_KEY.replace("HKLM", "HKEY_LOCAL_MACHINE").replace(
        "\\Software\\", "\\Software\\Wow6432Node\\") + PRODUCT
    bench.import_registry(
        "Windows Registry Editor Version 5.00\n\n"
        f"[{key}]\n\"InstallLocation\"=hex(1):{','.join(f'{b:02x}' for b in data)}\n",
        keys=[(UNINSTALL_KEY + PRODUCT, "32")])
    answer = dict(line.split("\t") for line in bench.winprobe("regloc", PRODUCT).stdout.splitlines())
    assert answer["32"] == "type=1 C:\\X"


@pytest.mark.parametrize("exit_code", [0, 7])
def test_uninstaller_removes_the_installation(bench, exit_code):
    installation = bench.install_downloader("1.6.5.2288", software_xml=b"<software/>")
    (installation.folder / "sub").mkdir()
    (installation.folder / "sub" / "data.bin").write_bytes(b"x")
    result = bench.run(installation.folder / "uninst.exe", ["/S"],
                       env={"KELTO2_UNINST_EXIT": str(exit_code)}, timeout=60)
    assert not result.timed_out
    assert result.returncode == exit_code
    lines = bench.log_lines()
    assert lines[0] == "uninst args /S"
    assert re.fullmatch(r"uninst removed failures=0 self=(deleted|kept)", lines[1])
    assert not installation.exe.exists()
    assert not installation.software_xml.exists()
    assert not (installation.folder / "sub").exists()
    if lines[1].endswith("deleted"):
        assert not installation.folder.exists()


def test_hanging_uninstaller_is_killed_by_the_timeout(bench):
    installation = bench.install_downloader("1.6.5.2288")
    result = bench.run(installation.folder / "uninst.exe", ["/S"],
                       env={"KELTO2_UNINST_HANG": "1"}, timeout=4)
    assert result.timed_out and result.returncode is None
    assert result.seconds < 60
    assert bench.log_lines() == ["uninst args /S", "uninst hang"]
    assert installation.exe.exists()
    # Nothing of the prefix survives the time-out.
    assert bench.prefix.processes() == []


def test_shell_execute_passes_parameters_unchanged(bench):
    # The probe starts the uninstaller through ShellExecuteEx with " /S":
    # the stand-in sees the leading blank.
    installation = bench.install_downloader("1.6.5.2288")
    result = bench.run(standin_exe("winprobe.exe"),
                       ["run", installation.windows_folder + "\\uninst.exe", " /S"],
                       env={"KELTO2_UNINST_EXIT": "3"})
    assert result.returncode == 3 and "exit 3" in result.stdout
    assert bench.log_lines()[0] == "uninst args  /S"
    assert not installation.exe.exists()


@pytest.mark.parametrize("version, exit_code, expected", [
    ("1.6.5.2282", 0, "1.6.5.2282"),
    (None, 5, ""),
])
def test_setup_standin_installs_the_downloader(bench, version, exit_code, expected):
    # Served like the real package, saved to a temporary file and started
    # with " /S" as the launcher does.
    bench.serve_setup(version, exit_code)
    fetched = bench.winprobe("fetch", "http://dl.morvik.example/download/mvsetup.exe")
    size = standin_exe("mvsetup.exe").stat().st_size
    assert f"status 200 length {size} received {size}" in fetched.stdout
    copy = bench.workdir / "mvsetup1A2B.exe"
    copy.write_bytes(standin_exe("mvsetup.exe").read_bytes())
    result = bench.run(standin_exe("winprobe.exe"),
                       ["run", bench.prefix.windows_path(copy), " /S"])
    assert result.returncode == exit_code
    lines = bench.log_lines()
    assert lines[0] == "setup args  /S"
    assert any(line.startswith("setup installed ") for line in lines), lines
    rows = [line.split("\t") for line in bench.winprobe("downloader").stdout.splitlines()]
    assert rows[0][2] == f"version={expected}"
    assert (bench.product_folder() / "uninst.exe").exists()


def test_config_is_served_as_gbk_with_crlf(bench):
    bench.serve_config(kelto="[ui]\ncaption=下载器\n", game=None)
    opener = urllib.request.build_opener(
        urllib.request.ProxyHandler({"http": bench.server.proxy_url}))
    with opener.open("http://dl.morvik.example/kelto2/kelto.dat") as reply:
        assert reply.read() == "[ui]\r\ncaption=下载器\r\n".encode("gbk")
    with pytest.raises(urllib.error.HTTPError) as missing:
        opener.open("http://dl.morvik.example/kelto2/games/9.dat")
    assert missing.value.code == 404


def test_server_answers_through_http_proxy_from_python(bench):
    bench.server.add_file("/kelto2/kelto.dat", b"[forceupdate]\r\nlatest=1.6.5.2288\r\n")
    opener = urllib.request.build_opener(urllib.request.ProxyHandler(
        {"http": bench.env()["http_proxy"]}))
    with opener.open("http://dl.morvik.example/kelto2/kelto.dat", timeout=10) as reply:
        assert reply.read() == b"[forceupdate]\r\nlatest=1.6.5.2288\r\n"
    assert [r.url for r in bench.server.requests()] == ["http://dl.morvik.example/kelto2/kelto.dat"]


@pytest.mark.parametrize("path, expected", [
    ("/canned/ok?size=100000", "status 200 length 100000 received 100000"),
    ("/canned/empty", "status 200 length 0 received 0"),
    ("/canned/nolength?size=5000", "status 200 length 0 received 5000"),
    ("/canned/404", "status 404 length 8 received 8"),
    ("/canned/redirect?to=/canned/ok%3Fsize%3D3", "status 200 length 3 received 3"),
    ("/canned/truncated?size=1000&cut=10", "received 10"),
])
def test_wininet_reaches_the_server_through_http_proxy(bench, path, expected):
    result = bench.winprobe("fetch", "http://dl.morvik.example" + path)
    assert expected in result.stdout
    first = bench.server.requests()[0]
    assert first.url == "http://dl.morvik.example" + path
    assert first.header("User-Agent") in (None, "")


def test_scripted_sequence_through_wininet(bench):
    bench.server.route("/software2.xml", Response(status=404), Response(body=b"<xml/>"))
    answers = [bench.winprobe("fetch", "http://dl.morvik.example/software2.xml").stdout.strip()
               for _ in range(2)]
    assert answers == ["status 404 length 0 received 0", "status 200 length 6 received 6"]


@pytest.mark.parametrize("locale, code_page", [("zh_CN.UTF-8", "936"), ("en_US.UTF-8", "1252"),
                                               ("C.UTF-8", "1252")])
def test_locale_sets_the_ansi_code_page(bench, locale, code_page):
    assert locale in LOCALES
    result = bench.run(standin_exe("winprobe.exe"), ["acp"], locale=locale)
    assert result.stdout.strip() == code_page


def test_screenshot_shows_a_window(bench, screenshot):
    process = subprocess.Popen(["wine", str(standin_exe("winprobe.exe")), "show", "下载器 测试"],
                               env=bench.prefix.env(), stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        time.sleep(4)
        path = screenshot("messagebox.png")
    finally:
        process.kill()
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    width, height = struct.unpack(">II", data[16:24])
    assert (width, height) == (1280, 1024)
    # The screen is black but for the message box.
    mean = subprocess.run(["convert", str(path), "-format", "%[fx:mean]", "info:"],
                          capture_output=True, text=True, check=True).stdout
    assert float(mean) > 0.001
