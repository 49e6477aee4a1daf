"""What a keyed launcher trusts besides the package: a configuration file
only when it is signed for its own name with either built-in key and has not
expired, never a latest below the build's floor; and what every launcher
honours, a staged rollout that holds back an installed Downloader."""

from __future__ import annotations

import hashlib
import re

import pytest

from conftest import (NEXT_RELEASE_KEY, RELEASE_KEY, package_signature, signed_ini,
                      standin_exe)

# Wine shows OutputDebugString on the seh channel.
TRACE_DEBUG = "-all,warn+seh"
DONE = "Download mvsetup.exe complete successful"
HANDED_OVER = "msg 0x13F4 9 0"


def release(latest: str = "1.6.5.2288", key=RELEASE_KEY, rules: str = "") -> str:
    """A general file that offers the Setup stand-in as latest."""
    package = standin_exe("mvsetup.exe").read_bytes()
    return (f"[forceupdate]\nlatest={latest}\n{rules}"
            f"[signature]\n{latest}={package_signature(package, latest, key)}\n")


def downloads(bench) -> int:
    return bench.server.paths().count("/download/mvsetup.exe")


def altered_after_signing() -> bytes:
    signed = signed_ini(release(), "kelto.dat")
    return signed.replace(b"[signature]", b"url=http://mirror.example/x.exe\r\n[signature]")


@pytest.mark.parametrize("served, reason", [
    (lambda: release().replace("\n", "\r\n").encode(), "no signature"),
    (lambda: signed_ini(release(), "games/9.dat"), "signature mismatch"),
    (altered_after_signing, "signature mismatch"),
    (lambda: signed_ini(release(rules="expires=2020-01-01T00:00:00Z\n"), "kelto.dat"),
     "expired"),
], ids=["unsigned", "other name", "altered", "expired"])
def test_refused_configuration_leaves_the_defaults(bench, keyed, served, reason):
    bench.server.add_file("/kelto2/kelto.dat", served())
    bench.serve_setup()
    result = bench.run(keyed, timeout=120, debug=TRACE_DEBUG)
    assert result.ok, result
    assert f"configuration kelto.dat not used: {reason}" in result.stderr
    # The defaults name no latest: nothing is downloaded.
    assert "-> hand over" in result.stderr and downloads(bench) == 0


def test_configuration_and_package_signed_with_the_next_key_install(bench, keyed):
    bench.serve_config(kelto=release(key=NEXT_RELEASE_KEY), signed_with=NEXT_RELEASE_KEY)
    bench.serve_setup()
    bench.enable_kelto_log()
    result = bench.run(keyed, timeout=120)
    assert result.ok, result
    assert bench.kelto_log()[-1] == DONE, bench.kelto_log()


def test_latest_below_the_floor_downloads_nothing(bench, keyed):
    bench.serve_config(kelto=release("1.6.5.1999"), signed_with=RELEASE_KEY)
    bench.serve_setup("1.6.5.1999")
    bench.enable_kelto_log()
    result = bench.run(keyed, timeout=120)
    assert result.ok, result
    assert bench.kelto_log() == ["Start download mvsetup.exe, 0",
                                 "Package check failed: latest is below the minimum"]
    assert downloads(bench) == 0


def machine_bucket(bench, latest: str = "1.6.5.2288") -> int:
    """The bucket the launcher should draw, from the prefix's MachineGuid."""
    out = bench.run("reg", ["query", r"HKLM\SOFTWARE\Microsoft\Cryptography", "/v",
                            "MachineGuid", "/reg:64"]).stdout
    guid = re.search(r"MachineGuid\s+REG_SZ\s+(\S+)", out).group(1)
    digest = hashlib.sha256(f"kelto2-rollout {guid} {latest}".encode()).digest()
    return int.from_bytes(digest[:4], "big") % 100


@pytest.mark.parametrize("installed, share, updated", [
    ("1.6.5.2282", 0, False),
    ("1.6.5.2282", 100, True),
    (None, 0, True),
], ids=["paused, installed", "everyone, installed", "paused, nothing installed"])
def test_rollout_holds_back_only_an_installed_downloader(bench, keyed, installed, share,
                                                         updated):
    if installed:
        bench.install_downloader(installed)
    bench.serve_config(kelto=release(rules=f"rollout={share}\n"), signed_with=RELEASE_KEY)
    bench.serve_software_xml()
    bench.serve_setup()
    bench.enable_kelto_log()
    result = bench.run(keyed, timeout=120, debug=TRACE_DEBUG)
    assert result.ok, result
    assert HANDED_OVER in bench.wait_for_log(HANDED_OVER)
    assert downloads(bench) == int(updated)
    assert (DONE in bench.kelto_log()) == updated, bench.kelto_log()
    if not updated:
        assert f"rollout 0, this machine's bucket {machine_bucket(bench)}: held back" \
            in result.stderr
