"""Fixtures for tests of the whole program under Wine (see winebench.py)."""

from __future__ import annotations

import os
import pathlib
import shutil
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))
from winebench import *  # noqa: E402,F401,F403  (the bench, re-exported for tests)
from winebench import BUILD_DIR, KEYED_KELTO, Bench, DistServer, Display, WinePrefix  # noqa: E402


# --- fixtures ----------------------------------------------------------------

@pytest.fixture(scope="session")
def display():
    if not shutil.which("Xvfb"):
        pytest.skip("Xvfb is not installed")
    xvfb = Display()
    yield xvfb
    xvfb.close()


@pytest.fixture(scope="session")
def wine(display, tmp_path_factory):
    """The session's Wine prefix, booted once."""
    if not shutil.which("wine"):
        pytest.skip("Wine is not installed")
    reuse = os.environ.get("KELTO2_WINEPREFIX")
    path = pathlib.Path(reuse) if reuse else tmp_path_factory.mktemp("wine") / "prefix"
    prefix = WinePrefix(path, display)
    if not (path / "system.reg").exists():
        prefix.boot()
    yield prefix
    prefix.kill_all()
    if not reuse and os.environ.get("KELTO2_KEEP_WINE") != "1":
        shutil.rmtree(path, ignore_errors=True)


@pytest.fixture
def server():
    with DistServer() as dist:
        yield dist


@pytest.fixture
def bench(wine, server, tmp_path):
    """A clean prefix (no Downloader, no Wine process), the test's server
    as the system proxy, and helpers to install and run things."""
    test_bench = Bench(wine, server, tmp_path)
    test_bench.clean()
    yield test_bench
    test_bench.clean()


@pytest.fixture
def keyed():
    """The keyed launcher; openssl signs what the tests publish for it."""
    if not shutil.which("openssl"):
        pytest.skip("the openssl command line signs packages and configuration files")
    if not KEYED_KELTO.exists():
        pytest.fail(f"{KEYED_KELTO} is missing: build it (cmake --build {BUILD_DIR} "
                    f"--target Kelto2_keyed)")
    return KEYED_KELTO


@pytest.fixture
def run_kelto(bench):
    """run_kelto(args=[], env={}, timeout=60, cwd=None) -> RunResult"""
    return bench.run_kelto


@pytest.fixture
def screenshot(display, tmp_path):
    """screenshot(name="screen.png") -> path of a PNG of the whole display."""
    def take(name: str = "screen.png") -> pathlib.Path:
        return display.screenshot(tmp_path / name)
    return take
