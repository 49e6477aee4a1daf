"""Start-up of the shipped Kelto2.exe under Wine: configuration from the
local server, detection of the installed Downloader, and the launch decision
it traces to the debugger."""

from __future__ import annotations

import re
import subprocess
import time

import pytest

from conftest import BIN_DIR, PRODUCT, PRODUCT_2010, ini_bytes
from distserver import Response

# Wine shows OutputDebugString on the seh channel.
TRACE_DEBUG = "-all,warn+seh"
TRACE = re.compile(r'OutputDebugStringA "Kelto2: installed version \\"(?P<installed>[^"\\]*)\\", '
                   r'latest \\"(?P<latest>[^"\\]*)\\", force level (?P<level>\S+?)'
                   r'(?P<test>, test mode)? -> (?P<outcome>[^"\\]+)\\n"')

HAND_OVER, UPDATE, UNINSTALL = "hand over", "update", "uninstall, then update"

REFERENCE = """\
[forceupdate]
latest=1.6.5.2288
1.6.5.2282=1

[md5]
1.6.5.2288=

[ui]
caption=Morvik下载器 2010
captionX=40
"""


def general(rules: str) -> str:
    return "[forceupdate]\n" + rules + "\n[ui]\ncaption=测试\n"


def decide(bench, args=(), locale=None, expect_exit=0):
    result = bench.run_kelto(args, debug=TRACE_DEBUG, locale=locale, timeout=90)
    assert not result.timed_out, result.stderr[-2000:]
    assert result.returncode == expect_exit, result.stderr[-2000:]
    found = TRACE.findall(result.stderr)
    assert len(found) == 1, f"expected one decision trace, stderr:\n{result.stderr[-3000:]}"
    match = TRACE.search(result.stderr)
    return match.groupdict()


def requested_paths(bench) -> list[str]:
    """The configuration requests, sorted: they go out side by side. The
    update path goes on to fetch more."""
    return sorted(r.url for r in bench.server.requests() if r.path.endswith(".dat"))


# --- the decision table ------------------------------------------------------

@pytest.mark.parametrize("installed, rules, running, args, outcome", [
    # up to date: hand over whatever else holds
    ("1.6.5.2288", "latest=1.6.5.2288\n1.6.5.2288=2\n", False, (), HAND_OVER),
    # older, not forced, the Downloader runs: hand over
    ("1.6.5.2282", "latest=1.6.5.2288\n", True, (), HAND_OVER),
    # older, not forced, not running: update
    ("1.6.5.2282", "latest=1.6.5.2288\n", False, (), UPDATE),
    # forced (level 1) even while it runs
    ("1.6.5.2282", "latest=1.6.5.2288\n1.6.5.2282=1\n", True, (), UPDATE),
    # level 2: uninstall first
    ("1.6.5.2282", "latest=1.6.5.2288\n1.6.5.2282=2\n", False, (), UNINSTALL),
    # test mode takes the update path even when up to date
    ("1.6.5.2288", "latest=1.6.5.2288\n", False, ("/testui",), UPDATE),
    ("1.6.5.2288", "latest=1.6.5.2288\n0=1\n", False, ("-TestUI",), UPDATE),
    ("1.6.5.2282", "latest=1.6.5.2288\n1.6.5.2282=2\n", False, ("/testui",), UNINSTALL),
], ids=["up-to-date", "running", "not-running", "forced-running", "uninstall-first",
        "testui", "testui-forced", "testui-uninstall"])
def test_decision_table(bench, installed, rules, running, args, outcome):
    installation = bench.install_downloader(installed)
    bench.serve_config(kelto=general(rules))
    if running:
        bench.start_downloader(installation)
        assert bench.sendmsg(0, wait_ms=10000).returncode == 0, "the Downloader's window is up"
    trace = decide(bench, args)
    assert trace["installed"] == installed
    assert trace["outcome"] == outcome
    assert bool(trace["test"]) == bool(args)


@pytest.mark.parametrize("rules, running, level, outcome", [
    ("latest=1.6.5.2288\n", False, "none", UPDATE),
    ("latest=1.6.5.2288\n", True, "none", HAND_OVER),
    ("latest=1.6.5.2288\n0=1\n", True, "1", UPDATE),
    ("latest=1.6.5.2288\n0=2\n", False, "2", UNINSTALL),
], ids=["no-level", "no-level-but-window", "zero-entry-forces", "zero-entry-uninstall"])
def test_nothing_installed(bench, rules, running, level, outcome):
    bench.serve_config(kelto=general(rules))
    if running:
        # A Downloader window without an installation the launcher can find.
        stray = bench.install_downloader("1.6.5.2288", folder=bench.workdir / "stray")
        bench.start_downloader(stray)
        assert bench.sendmsg(0, wait_ms=10000).returncode == 0, "the Downloader's window is up"
    trace = decide(bench)
    assert (trace["installed"], trace["level"], trace["outcome"]) == ("0", level, outcome)


def test_own_entry_wins_over_the_zero_entry(bench):
    bench.install_downloader("1.6.5.2282")
    bench.serve_config(kelto=general("latest=1.6.5.2288\n0=1\n1.6.5.2282=0\n"))
    trace = decide(bench)
    assert (trace["level"], trace["outcome"]) == ("0", UPDATE)


def test_without_any_configuration_everything_is_up_to_date(bench):
    bench.install_downloader("1.6.5.2282")
    bench.serve_config()  # both files 404
    trace = decide(bench)
    assert (trace["latest"], trace["level"], trace["outcome"]) == ("", "none", HAND_OVER)


def test_without_configuration_and_nothing_installed_exits_quietly(bench):
    trace = decide(bench)
    assert (trace["installed"], trace["outcome"]) == ("0", HAND_OVER)


def test_downloader_without_version_resource_reads_as_empty_version(bench):
    bench.install_downloader(None)
    bench.serve_config(kelto=general("latest=1.6.5.2288\n0=1\n"))
    trace = decide(bench)
    assert (trace["installed"], trace["level"], trace["outcome"]) == ("", "1", UPDATE)


# --- where the Downloader is found ---------------------------------------------

@pytest.mark.parametrize("where, product", [
    ("localappdata", PRODUCT),
    ("localappdata", PRODUCT_2010),
    ("registry", PRODUCT),
    ("registry", PRODUCT_2010),
])
@pytest.mark.parametrize("locale", ["zh_CN.UTF-8", "en_US.UTF-8"])
def test_installed_downloader_is_found(bench, where, product, locale):
    """Chinese folder and product names work whatever the system code page."""
    bench.install_downloader("1.6.5.2282", product=product, where=where)
    bench.serve_config(kelto=general("latest=1.6.5.2288\n1.6.5.2282=1\n"))
    trace = decide(bench, locale=locale)
    assert (trace["installed"], trace["outcome"]) == ("1.6.5.2282", UPDATE)


def test_current_product_name_wins_over_the_older_one(bench):
    bench.install_downloader("1.6.5.2282", product=PRODUCT_2010)
    bench.install_downloader("1.6.5.2288", product=PRODUCT)
    bench.serve_config(kelto=general("latest=1.6.5.2288\n"))
    assert decide(bench)["installed"] == "1.6.5.2288"


def test_registry_written_for_64_bit_programs_only_is_not_read(bench):
    """The Downloader's installer is 32-bit: its Uninstall entry lives in the
    32-bit view, and that is the only one the launcher reads."""
    bench.install_downloader("1.6.5.2282", where="registry", registry_view="64")
    bench.serve_config(kelto=general("latest=1.6.5.2288\n"))
    assert decide(bench)["installed"] == "0"


def test_unreadable_install_location_ends_with_a_system_modal_error(bench):
    bench.set_install_location(PRODUCT, "1", value_type="REG_DWORD")
    bench.serve_config(kelto=general("latest=1.6.5.2288\n"))
    kelto = subprocess.Popen(
        ["wine", str(BIN_DIR / "Kelto2.exe")], cwd=bench.cwd, stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True,
        env=bench.prefix.env(bench.locale, None, bench.env()))
    boxes = ""
    deadline = time.monotonic() + 60
    while "box " not in boxes and time.monotonic() < deadline:
        time.sleep(0.5)
        boxes = bench.winprobe("boxes").stdout
    assert "box 下载器|Invalid data type for 'InstallLocation'|topmost=1" in boxes, boxes
    bench.winprobe("boxes", "close")
    assert kelto.wait(timeout=60) == 1


# --- the configuration fetch ----------------------------------------------------

def test_configuration_files_are_fetched_with_an_empty_agent(bench):
    bench.serve_config(kelto=REFERENCE, game=None)
    decide(bench)
    requests = bench.server.requests()
    assert requested_paths(bench) == sorted(["http://dl.morvik.example/kelto2/kelto.dat",
                                             "http://dl.morvik.example/kelto2/games/9.dat"])
    for r in requests:
        assert r.method == "GET"
        assert (r.header("User-Agent") or "") == ""


def test_game_file_overrides_and_merges_with_the_general_file(bench):
    bench.install_downloader("1.6.5.2282")
    bench.serve_config(kelto=general("latest=1.6.5.2288\n1.6.5.2282=1\n"),
                       game=general("LATEST=1.6.5.2282\n"))
    trace = decide(bench)
    # The game's LATEST replaces the general latest; the level entry stays.
    assert (trace["latest"], trace["level"], trace["outcome"]) == ("1.6.5.2282", "1", HAND_OVER)


def test_general_file_alone_applies_when_the_game_file_is_missing(bench):
    bench.install_downloader("1.6.5.2282")
    bench.serve_config(kelto=REFERENCE, game=None)
    trace = decide(bench)
    assert (trace["latest"], trace["level"], trace["outcome"]) == ("1.6.5.2288", "1", UPDATE)


def test_error_status_leaves_the_defaults(bench):
    bench.install_downloader("1.6.5.2282")
    bench.server.route("/kelto2/kelto.dat", Response(status=500, body=b"[forceupdate]\r\n0=2\r\n"))
    bench.server.route("/kelto2/games/9.dat",
                       Response(status=200, body=b"[forceupdate]\r\n0=2\r\n", cut_after=5))
    trace = decide(bench)
    assert (trace["latest"], trace["level"], trace["outcome"]) == ("", "none", HAND_OVER)


@pytest.mark.parametrize("args, expected", [
    (("http://mirror.example/other/",), ["http://mirror.example/other/kelto.dat",
                                         "http://mirror.example/other/games/9.dat"]),
    (("http://mirror.example/dir",), ["http://mirror.example/dirkelto.dat",
                                      "http://mirror.example/dirgames/9.dat"]),
    (("HTTP://mirror.example/other/",), ["http://dl.morvik.example/kelto2/kelto.dat",
                                         "http://dl.morvik.example/kelto2/games/9.dat"]),
    (("/TESTUI",), ["http://dl.morvik.example/kelto2/kelto.dat",
                    "http://dl.morvik.example/kelto2/games/9.dat"]),
    (("http://mirror.example/q/", "/testui"), ["http://mirror.example/q/kelto.dat",
                                               "http://mirror.example/q/games/9.dat"]),
], ids=["mirror", "no-trailing-slash", "upper-case-scheme", "switch-only", "with-switch"])
def test_base_url_argument(bench, args, expected):
    decide(bench, args)
    assert requested_paths(bench) == sorted(expected)


def test_no_temporary_configuration_file_is_left_behind(bench):
    temp = bench.prefix.unix_path(bench.winprobe("temp").stdout.strip())
    before = set(temp.glob("mvc*.tmp"))
    bench.serve_config(kelto=REFERENCE, game=REFERENCE)
    decide(bench)
    bench.serve_config()
    decide(bench)
    assert set(temp.glob("mvc*.tmp")) == before


def test_configuration_is_fetched_anew_even_when_the_server_allows_caching(bench):
    bench.install_downloader("1.6.5.2282")
    cacheable = [("Cache-Control", "public, max-age=86400"),
                 ("Expires", "Thu, 01 Jan 2037 00:00:00 GMT"),
                 ("Last-Modified", "Mon, 01 Jan 2024 00:00:00 GMT")]
    for latest, outcome in (("1.6.5.2288", UPDATE), ("1.6.5.2282", HAND_OVER)):
        bench.server.clear_requests()
        bench.server.route("/kelto2/kelto.dat", Response(
            body=ini_bytes(general(f"latest={latest}\n")), headers=cacheable))
        trace = decide(bench)
        assert (trace["latest"], trace["outcome"]) == (latest, outcome)
        kelto = [r for r in bench.server.requests() if r.path == "/kelto2/kelto.dat"]
        assert len(kelto) == 1
        assert kelto[0].header("If-Modified-Since") is None


def test_configuration_never_touches_the_disk(bench):
    """Read from memory: no file that another program could rewrite first."""
    bench.server.route("/kelto2/kelto.dat", Response(body=ini_bytes(general("")), chunk_size=4,
                                                     chunk_delay=0.3))
    temp = bench.prefix.unix_path(bench.winprobe("temp").stdout.strip())
    process = bench.start_kelto()
    assert bench.server.wait_for_requests(1, "/kelto2/kelto.dat", timeout=60)
    time.sleep(1)  # the body is still arriving
    assert not [p.name for p in temp.iterdir() if p.name.lower().startswith("mvc")]
    assert process.wait(timeout=90) == 0
