"""kelto2-publish on the demo's server tree: the published tree checks clean
with the release key and a keyed launcher installs the package from it; a
publication that the checks refuse or that cannot write leaves the tree
byte for byte as it was."""

from __future__ import annotations

import pathlib
import shutil
import subprocess

import pytest

from conftest import BIN_DIR, standin_exe
from test_checker import CHECKER, HOST, KEYS, PACKAGE, PUBLIC_KEY, check, make_tree

PUBLISHER = CHECKER.with_name("kelto2-publish")
PRIVATE_KEY = str(KEYS / "test_release.key")
VERSION = "1.6.5.2288"


def publish(root: pathlib.Path, *args: str) -> subprocess.CompletedProcess:
    if not PUBLISHER.exists():
        pytest.fail(f"{PUBLISHER} is missing: build the host tree (cmake --build --preset host)")
    return subprocess.run([str(PUBLISHER), str(root), "--host", HOST, *args],
                          capture_output=True, text=True, timeout=60)


def release_args(tmp_path: pathlib.Path, body: bytes = PACKAGE) -> tuple[str, ...]:
    package = tmp_path / "mvsetup.exe"
    package.write_bytes(body)
    return ("--key", PRIVATE_KEY, "--package", str(package), "--version", VERSION)


def snapshot(root: pathlib.Path) -> dict[str, bytes | None]:
    return {str(p.relative_to(root)): p.read_bytes() if p.is_file() else None
            for p in sorted(root.rglob("*"))}


def test_published_tree_checks_clean_and_a_keyed_launcher_installs_it(bench, tmp_path):
    tree = make_tree(tmp_path / "tree")
    result = publish(tree, *release_args(tmp_path, standin_exe("mvsetup.exe").read_bytes()))
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.splitlines() == [f"published download/mvsetup-{VERSION}.exe",
                                          "published kelto2/kelto.dat",
                                          "published download/mvsetup.exe"]
    checked = check(tree, "--key", PUBLIC_KEY, "--min-version", VERSION)
    assert (checked.returncode, checked.stdout) == (0, "")

    keyed = BIN_DIR / "keyed" / "Kelto2.exe"
    if not keyed.exists():
        pytest.fail(f"{keyed} is missing: build the Kelto2_keyed target")
    bench.server.root = str(tree)
    bench.standin_env.update(KELTO2_SETUP_VERSION=VERSION, KELTO2_SETUP_EXIT="0")
    bench.serve_software_xml()
    bench.enable_kelto_log()
    run = bench.run(keyed, timeout=120)
    assert run.ok, run
    assert bench.kelto_log()[-1] == "Download mvsetup.exe complete successful", bench.kelto_log()
    assert f"/download/mvsetup-{VERSION}.exe" in bench.server.paths()
    assert sum(line.startswith("setup path ") for line in bench.log_lines()) == 1


def test_signing_again_pauses_the_release_and_changes_nothing_else(tmp_path):
    tree = make_tree(tmp_path / "tree", files={"/kelto2/games/9.dat": b"[ui]\r\ncaptionX=50\r\n"})
    assert publish(tree, *release_args(tmp_path), "--game").returncode == 0
    before = snapshot(tree)
    result = publish(tree, "--key", PRIVATE_KEY, "--rollout", "0", "--game")
    assert result.returncode == 0, result.stdout + result.stderr
    after = snapshot(tree)
    assert [path for path in after if after[path] != before[path]] == \
        ["kelto2/games/9.dat", "kelto2/kelto.dat"]
    checked = check(tree, "--key", PUBLIC_KEY)
    assert checked.returncode == 1 and "rollout: 0% of machines" in checked.stdout, checked.stdout


def folder_in_place_of(path: pathlib.Path) -> None:
    path.unlink()
    path.mkdir()  # what no file can replace


@pytest.mark.parametrize("game,spoil,message", [
    (b"[forceupdate]\r\nlatest=1.7.0.1\r\n", None, "the tree would have errors"),
    (None, "download/mvsetup.exe", "download/mvsetup.exe: cannot replace"),
], ids=["failing check", "unwritable target"])
def test_failed_publication_leaves_the_tree_as_it_was(tmp_path, game, spoil, message):
    tree = make_tree(tmp_path / "tree", files={"/kelto2/games/9.dat": game})
    if spoil:
        folder_in_place_of(tree / spoil)
    before = snapshot(tree)
    result = publish(tree, *release_args(tmp_path))
    assert result.returncode == 2 and message in result.stderr, result.stdout + result.stderr
    assert snapshot(tree) == before


@pytest.mark.parametrize("args,status", [
    (("--help",), 0), ((), 3), (("x", "--package", "p", "--version", VERSION), 3),
    (("x", "--key", PRIVATE_KEY, "--package", "p"), 3),
    (("x", "--key", PRIVATE_KEY, "--rollout", "101"), 3),
    (("x", "--key", PRIVATE_KEY, "--expires", "2030-01-01"), 3),
    (("x", "--key", PUBLIC_KEY), 2),
])
def test_usage(args, status):
    if not PUBLISHER.exists():
        pytest.fail(f"{PUBLISHER} is missing")
    result = subprocess.run([str(PUBLISHER), *args], capture_output=True, text=True, timeout=60)
    assert result.returncode == status, result.stderr
    if status == 3:
        assert "usage: kelto2-publish ROOT" in result.stderr
