"""kelto2-check, the operator's checker, run on server trees made on the spot:
the demo's tree is clean, and each broken tree shows its one message. No
Wine: the checker is a host program."""

from __future__ import annotations

import base64
import hashlib
import os
import pathlib
import re
import subprocess
import sys
import time

import pytest

sys.path.insert(0, os.path.dirname(__file__))
from skins import demo_skin, png_header_only  # noqa: E402

REPO = pathlib.Path(__file__).resolve().parents[2]
CHECKER = pathlib.Path(os.environ.get("KELTO2_HOST_BUILD_DIR", REPO / "build" / "host")) / \
    "bin" / "kelto2-check"
WIN_BUILD = pathlib.Path(os.environ.get("KELTO2_BUILD_DIR", REPO / "build" / "win64"))
KEYS = REPO / "tests" / "keys"
PACKAGE = b"MZ stand-in Setup package"
LATEST = "1.6.5.2288"
PUBLIC_KEY = str(KEYS / "test_release.pub")


def reference_config() -> str:
    """The reference configuration as the build encodes it for the exe."""
    built = WIN_BUILD / "resources" / "kelto.dat"
    if built.exists():
        return built.read_bytes().decode("gbk")
    text = (REPO / "resources" / "kelto.dat.in").read_text(encoding="utf-8")
    return "\r\n".join(text.replace("@KELTO2_SERVER_ROOT@", "http://dl.morvik.example")
                       .splitlines()) + "\r\n"


REFERENCE = reference_config()
HOST = re.search(r"^backgroundImg=http://([^/]+)/", REFERENCE, re.MULTILINE).group(1)


def make_tree(root: pathlib.Path, config: str | bytes | None = REFERENCE,
              files: dict[str, bytes | None] | None = None) -> pathlib.Path:
    """The demo's server tree with config as kelto2/kelto.dat; files adds,
    replaces or (None) removes files."""
    tree = {"/download/mvsetup.exe": PACKAGE, **demo_skin()}
    if config is not None:
        tree["/kelto2/kelto.dat"] = config if isinstance(config, bytes) else config.encode("gbk")
    tree.update(files or {})
    for path, body in tree.items():
        if body is not None:
            (root / path.lstrip("/")).parent.mkdir(parents=True, exist_ok=True)
            (root / path.lstrip("/")).write_bytes(body)
    return root


def check(root: pathlib.Path, *args: str) -> subprocess.CompletedProcess:
    if not CHECKER.exists():
        pytest.fail(f"{CHECKER} is missing: build the host tree (cmake --build --preset host)")
    return subprocess.run([str(CHECKER), str(root), "--host", HOST, *args], capture_output=True,
                          text=True, timeout=60)


def edited(old: str, new: str) -> str:
    assert old in REFERENCE, old
    return REFERENCE.replace(old, new, 1)


def published(md5: str = "", sha256: str = "", signature: str = "") -> str:
    return edited(f"[md5]\r\n{LATEST}=\r\n", f"[md5]\r\n{LATEST}={md5}\r\n[sha256]\r\n"
                  f"{LATEST}={sha256}\r\n[signature]\r\n{LATEST}={signature}\r\n")


def signature_of(data: bytes, version: str | None = LATEST) -> str:
    """What an operator publishes: base64 of `openssl dgst -sha256 -sign` over
    "kelto2-setup VERSION SHA256\\n" (version None: over the bare bytes)."""
    if version is not None:
        data = f"kelto2-setup {version} {hashlib.sha256(data).hexdigest()}\n".encode()
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", str(KEYS / "test_release.key")],
                         input=data, capture_output=True, check=True).stdout
    return base64.b64encode(der).decode()


def release() -> str:
    """The demo's configuration with the package's digests and signature."""
    return published(hashlib.md5(PACKAGE).hexdigest(), hashlib.sha256(PACKAGE).hexdigest(),
                     signature_of(PACKAGE))


def signed(config: str | bytes, name: str = "kelto.dat") -> bytes:
    """The configuration file with its signature line, made with openssl."""
    body = config if isinstance(config, bytes) else config.encode("gbk")
    signature = signature_of(f"kelto2-config {name}\n".encode() + body, None)
    return body + f";kelto2-signature {signature}\r\n".encode()


def utc(seconds_from_now: float) -> str:
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(time.time() + seconds_from_now))


def test_demo_tree_is_clean(tmp_path):
    result = check(make_tree(tmp_path / "tree"))
    assert (result.returncode, result.stdout, result.stderr) == (0, "", "")


def test_signed_demo_tree_is_clean_with_its_key(tmp_path):
    result = check(make_tree(tmp_path / "tree", signed(release())), "--key", PUBLIC_KEY)
    assert (result.returncode, result.stdout) == (0, "")


# (id, kelto.dat, files, extra arguments, the one line's start, message part, exit status)
# A start of "@text" stands for the line of kelto.dat where that text is.
BROKEN = [
    ("not gbk", REFERENCE.encode("gbk") + b"webLink2Text=\xff\xfe\r\n", {}, (),
     f"kelto2/kelto.dat:{REFERENCE.count(chr(10)) + 1}:", "byte 0xFF at column 14 is not GBK", 2),
    ("utf-8 file", REFERENCE.encode("utf-8"), {}, (), "@caption=", "the file is UTF-8", 2),
    ("unknown key", edited("captionY=10", "captoinY=10"), {}, (), "@captoinY",
     "does not read 'captoinY' in [ui]; did you mean 'captionY'?", 1),
    ("no latest", edited(f"latest={LATEST}\r\n", ""), {}, (), "kelto2/kelto.dat:0:",
     "no latest entry", 2),
    ("malformed latest", edited(f"latest={LATEST}", "latest=1.6.5"), {}, (), "@latest=",
     "latest '1.6.5' reads as version 0.1.6.5", 2),
    ("version rule", edited("1.6.5.2282=1", "1.6.05.2282=1"), {}, (), "@1.6.05",
     "version rule '1.6.05.2282' never matches", 2),
    ("force level 3", edited("1.6.5.2282=1", "1.6.5.2282=3"), {}, (), "@1.6.5.2282=",
     "force level 3 for '1.6.5.2282' is not 0, 1 or 2; the launcher treats it as 2", 1),
    ("force level junk", edited("1.6.5.2282=1", "1.6.5.2282=1x"), {}, (), "@1.6.5.2282=",
     "force level '1x' for '1.6.5.2282' is not 0, 1 or 2; the launcher reads 1", 2),
    ("url not http", edited("1.6.5.2282=1", "1.6.5.2282=1\r\nurl=ftp://x.example/s.exe"), {},
     (), "@url=", "url 'ftp://x.example/s.exe' is not an http:// or https:// URL", 2),
    ("short colour", edited("descriptionColor=#585858", "descriptionColor=#fff"), {}, (),
     "@descriptionColor", "descriptionColor '#fff' is not #rrggbb; the launcher reads it as "
     "#ff0f00", 1),
    ("colour without #", edited("Weblink1Color=#1b5d9b", "Weblink1Color=1b5d9b"), {}, (),
     "@Weblink1Color", "reads it as #ffffff", 1),
    ("description format", edited("下载 %s", "下载 %s %s"), {}, (), "@description=",
     "'%s' has no argument", 2),
    ("progress format", edited("%s/s, 剩余时间 %d", "%d/s, 剩余时间 %s"), {}, (), "@progress=",
     "'%d' stands where the launcher gives the speed text", 2),
    ("query after .png", edited("mvdown.png", "mvdown.png?v=2"), {}, (), "@headerImg",
     "its extension '.png?v=2'", 2),
    ("picture missing", REFERENCE, {"/kelto2/mvdown.png": None}, (), "@headerImg",
     "kelto2/mvdown.png is not on the server", 2),
    ("mask missing: a warning", REFERENCE, {"/kelto2/backgroundmask.png": None}, (),
     "@backgroundMask", "kelto2/backgroundmask.png is not on the server", 1),
    ("picture broken", REFERENCE, {"/kelto2/background.png": b"not a picture"}, (),
     "@backgroundImg=", "kelto2/background.png does not decode as PNG", 2),
    ("picture too large", REFERENCE, {"/kelto2/mvdown.png": png_header_only(9000, 70)}, (),
     "@headerImg", "is 9000 by 70, beyond the launcher's limits", 2),
    ("outside background", edited("closeX=341", "closeX=360"), {}, (), "@closeX",
     "close area at (360, 0) 48 by 21 lies outside the 390 by 210 background picture", 1),
    ("package missing", REFERENCE, {"/download/mvsetup.exe": None}, (), "kelto2/kelto.dat:0:",
     "the Setup package download/mvsetup.exe is not on the server", 2),
    ("https package missing", edited("1.6.5.2282=1", f"1.6.5.2282=1\r\nurl=https://{HOST}:443/s.exe"),
     {}, (), "@url=", "the Setup package s.exe is not on the server", 2),
    ("sha256 mismatch", published(sha256="0" * 64), {}, (), "@1.6.5.2288=000",
     "does not match the sha256", 2),
    ("md5 malformed", published(md5="abc"), {}, (), "@1.6.5.2288=abc",
     "md5 for '1.6.5.2288' is not 32 hex digits", 2),
    ("signature of other bytes", signed(published(signature=signature_of(b"other"))), {},
     ("--key", PUBLIC_KEY), "@1.6.5.2288=M", "does not verify download/mvsetup.exe", 2),
    ("signature of the bare package", signed(published(signature=signature_of(PACKAGE, None))),
     {}, ("--key", PUBLIC_KEY), "@1.6.5.2288=M", "does not verify download/mvsetup.exe", 2),
    ("signature for another version",
     signed(published(signature=signature_of(PACKAGE, "1.6.5.2282"))), {},
     ("--key", PUBLIC_KEY), "@1.6.5.2288=M", "is a signature for version '1.6.5.2282'", 2),
    ("repeated section", REFERENCE + "[UI]\r\ncaption=x\r\n", {}, (), "@[UI]",
     "section [UI] repeats line", 2),
    ("repeated key", REFERENCE + "captionX=50\r\n", {}, (), "@captionX=50",
     "key 'captionX' repeats line", 1),
    ("no configuration", b"", {"/kelto2/kelto.dat": None}, (), "kelto2/kelto.dat:0:",
     "neither kelto2/kelto.dat nor kelto2/games/9.dat is on the server", 1),
    ("bare rule", edited("1.6.5.2282=1", "1.6.5.2282"), {}, (), "@1.6.5.2282",
     "'1.6.5.2282' has no '='; the launcher reads it as '1.6.5.2282=1'", 1),
    ("unread section", REFERENCE + "[forceupdates]\r\n", {}, (), "@[forceupdates]",
     "the launcher does not read section [forceupdates]", 1),
    ("line before sections", "latest=1\r\n" + REFERENCE, {}, (), "kelto2/kelto.dat:1:",
     "line before the first section header is ignored", 1),
    ("number with junk", edited("captionY=10", "captionY=10px"), {}, (), "@captionY",
     "captionY '10px' is not a plain number; the launcher reads 10", 1),
    ("link not web", edited("Weblink1URL=http:", "Weblink1URL=file:"), {}, (), "@Weblink1URL",
     "is not a web page", 1),
    ("picture elsewhere", edited(f"http://{HOST}/kelto2/mvdown.png", "http://cdn.example/h.gif"),
     {}, (), "@headerImg", "its extension '.gif'", 2),
    ("sha256 for another version", published(sha256="0" * 64).replace(
        f"[sha256]\r\n{LATEST}", "[sha256]\r\n1.6.5.2287"), {}, (), "@1.6.5.2287",
     "[sha256] has no entry for latest '1.6.5.2288'", 1),
    ("signature missing", signed(published()), {}, ("--key", PUBLIC_KEY),
     "kelto2/kelto.dat:0:", "no [signature] for latest '1.6.5.2288'", 2),
    ("configuration unsigned", release(), {}, ("--key", PUBLIC_KEY), "kelto2/kelto.dat:0:",
     "no signature line", 2),
    ("configuration changed after signing",
     signed(release()).replace(b"captionX=40", b"captionX=41"), {}, ("--key", PUBLIC_KEY),
     "@;kelto2-signature", "does not verify with", 2),
    ("configuration signed as the game's", signed(release(), "games/9.dat"), {},
     ("--key", PUBLIC_KEY), "@;kelto2-signature", "made for games/9.dat, not kelto.dat", 2),
    ("configuration signature garbled", release() + ";kelto2-signature abc\r\n", {},
     ("--key", PUBLIC_KEY), "@;kelto2-signature", "not base64 of a DER ECDSA signature", 2),
    ("expired", edited("1.6.5.2282=1", f"1.6.5.2282=1\r\nexpires={utc(-60)}"), {}, (),
     "@expires=", "expired at", 2),
    ("expiring soon", edited("1.6.5.2282=1", f"1.6.5.2282=1\r\nexpires={utc(86400)}"), {}, (),
     "@expires=", "in 23 hours; sign the file again", 1),
    ("expiry malformed", edited("1.6.5.2282=1", "1.6.5.2282=1\r\nexpires=2030-02-30T00:00:00Z"),
     {}, (), "@expires=", "is not a UTC time written YYYY-MM-DDTHH:MM:SSZ", 2),
    ("below the minimum", REFERENCE, {}, ("--min-version", "1.6.5.2289"), "@latest=",
     "latest '1.6.5.2288' is below the minimum 1.6.5.2289", 2),
    ("staged rollout", edited("1.6.5.2282=1", "1.6.5.2282=1\r\nrollout=25"), {}, (),
     "@rollout=", "rollout: 25% of machines", 1),
    ("rollout malformed", edited("1.6.5.2282=1", "1.6.5.2282=1\r\nrollout=25%"), {}, (),
     "@rollout=", "rollout '25%' is not a whole number from 0 to 100", 2),
    ("key malformed", REFERENCE, {}, ("--key", str(KEYS / "test_release.key")),
     f"{KEYS / 'test_release.key'}:0:", "not a PEM ECDSA P-256 public key", 2),
]


@pytest.mark.parametrize("config,files,args,at,message,status",
                         [case[1:] for case in BROKEN], ids=[case[0] for case in BROKEN])
def test_broken_tree_shows_its_message_once(tmp_path, config, files, args, at, message, status):
    root = make_tree(tmp_path / "tree", config, files)
    result = check(root, *args)
    if at.startswith("@"):
        text = root.joinpath("kelto2", "kelto.dat").read_bytes().decode("gbk", "replace")
        number = next(i for i, line in enumerate(text.splitlines(), 1) if at[1:] in line)
        at = f"kelto2/kelto.dat:{number}:"
    assert result.stdout.splitlines() == [result.stdout.strip()], result.stdout
    assert result.stdout.startswith(at) and message in result.stdout, result.stdout
    assert result.returncode == status


@pytest.mark.parametrize("args,decision,level", [
    (("--installed", "1.6.5.2282", "--running"), "decision: update", "force level: 1"),
    (("--installed", LATEST), "decision: hand over", "force level: none"),
    (("--installed", "0", "--running"), "decision: hand over", "force level: none"),
    (("--installed", LATEST, "--testui"), "decision: update", "force level: none"),
])
def test_installed_prints_the_launch_decision(tmp_path, args, decision, level):
    result = check(make_tree(tmp_path / "tree"), *args)
    assert result.returncode == 0
    assert decision in result.stdout.splitlines() and level in result.stdout


def test_installed_prints_the_merged_configuration(tmp_path):
    game = b"[forceupdate]\r\nLATEST=1.7.0.1\r\n[ui]\r\ncaptionX=50\r\n"
    result = check(make_tree(tmp_path / "tree", files={"/kelto2/games/9.dat": game}),
                   "--installed", LATEST)
    merged = result.stdout.split("merged configuration:\n")[1].splitlines()
    assert merged[:3] == ["[forceupdate]", "LATEST=1.7.0.1", "1.6.5.2282=1"]
    assert "captionX=50" in merged and "captionY=10" in merged
    assert "decision: update" in result.stdout


@pytest.mark.parametrize("args,status", [(("--help",), 0), (("--bogus",), 3), ((), 3),
                                         (("--running",), 3), (("x", "--min-version", "1.6"), 3)])
def test_usage(args, status):
    if not CHECKER.exists():
        pytest.fail(f"{CHECKER} is missing")
    result = subprocess.run([str(CHECKER), *args], capture_output=True, text=True, timeout=60)
    assert result.returncode == status
    assert "usage: kelto2-check ROOT" in (result.stdout if status == 0 else result.stderr)
