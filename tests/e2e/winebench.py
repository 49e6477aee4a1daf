"""The Windows test bench: a Wine prefix, an Xvfb display, the local
distribution server and the stand-ins, for tests and for the demo.

Session-wide: an Xvfb display, one Wine prefix (64-bit), made once. The
ANSI code page follows the process's locale (LC_ALL) at every start, so one
prefix serves zh_CN (code page 936), en_US and C.UTF-8 (1252) alike.

Per test: a DistServer that every Wine process reaches as its system proxy
(http_proxy), a log file for the stand-ins, a working folder, and a clean
slate afterwards: every Wine process of the prefix is killed, installed
stand-ins are removed and registry entries made by the test are deleted.

Environment:
    KELTO2_BUILD_DIR    build tree whose bin/ holds Kelto2.exe and the
                        stand-ins (default <repo>/build/win64)
    KELTO2_STANDIN_DIR  other folder with the stand-ins (default: the bin/
                        of the build tree)
    KELTO2_WINEPREFIX   reuse this prefix instead of making a new one
    KELTO2_KEEP_WINE    "1": leave the session's prefix behind
"""

from __future__ import annotations

import base64
import contextlib
import dataclasses
import hashlib
import json
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from typing import Iterable, Iterator, Mapping, Optional, Sequence

import pytest

sys.path.insert(0, os.path.dirname(__file__))
from distserver import DistServer, Response  # noqa: E402,F401  (re-exported for tests)

REPO = pathlib.Path(__file__).resolve().parents[2]
BUILD_DIR = pathlib.Path(os.environ.get("KELTO2_BUILD_DIR", REPO / "build" / "win64"))
BIN_DIR = BUILD_DIR / "bin"
STANDIN_DIR = pathlib.Path(os.environ.get("KELTO2_STANDIN_DIR", BIN_DIR))
# The launcher built with the tests' keys (tests/keys), and their private halves.
KEYED_KELTO = BIN_DIR / "keyed" / "Kelto2.exe"
RELEASE_KEY = REPO / "tests" / "keys" / "test_release.key"
NEXT_RELEASE_KEY = REPO / "tests" / "keys" / "test_next_release.key"

COMPANY_FOLDER = "Morvik网络"
PRODUCT = "Morvik下载器"
PRODUCT_2010 = "Morvik下载器 2010"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
DESKTOP_KEY = "HKCU\\Control Panel\\Desktop"
WINDOW_CLASS = "Tmvna_downloader_MsgWin"
PROGRESS_WINDOW_CLASS = "TKelto2Window"
HANDOVER_MESSAGE = 0x13F4
# No Windows program, not even one that does nothing, ends sooner under Wine
# (about 65 ms): a failure this quick means Wine never started it.
WINE_NEVER_STARTED_S = 0.04

DEFAULT_LOCALE = "zh_CN.UTF-8"
LOCALES = ("zh_CN.UTF-8", "en_US.UTF-8", "C.UTF-8")

# Mono and Gecko installers would pop up on a fresh prefix; the desktop
# menu builder has nothing to do here.
DLL_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"

# The Chinese texts need a CJK font: map the usual Chinese Windows font
# names onto WenQuanYi Micro Hei, and link it behind the default UI fonts.
FONT_REG = r"""Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"SimSun"="WenQuanYi Micro Hei"
"NSimSun"="WenQuanYi Micro Hei"
"SimHei"="WenQuanYi Micro Hei"
"Microsoft YaHei"="WenQuanYi Micro Hei"
"宋体"="WenQuanYi Micro Hei"
"新宋体"="WenQuanYi Micro Hei"
"黑体"="WenQuanYi Micro Hei"
"微软雅黑"="WenQuanYi Micro Hei"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]
"Tahoma"=hex(7):77,00,71,00,79,00,2d,00,6d,00,69,00,63,00,72,00,6f,00,68,00,65,00,69,00,\
  2e,00,74,00,74,00,63,00,2c,00,57,00,65,00,6e,00,51,00,75,00,61,00,6e,00,59,00,\
  69,00,20,00,4d,00,69,00,63,00,72,00,6f,00,20,00,48,00,65,00,69,00,00,00,00,00
"MS Shell Dlg"=hex(7):77,00,71,00,79,00,2d,00,6d,00,69,00,63,00,72,00,6f,00,68,00,65,00,69,00,\
  2e,00,74,00,74,00,63,00,2c,00,57,00,65,00,6e,00,51,00,75,00,61,00,6e,00,59,00,\
  69,00,20,00,4d,00,69,00,63,00,72,00,6f,00,20,00,48,00,65,00,69,00,00,00,00,00
"MS Shell Dlg 2"=hex(7):77,00,71,00,79,00,2d,00,6d,00,69,00,63,00,72,00,6f,00,68,00,65,00,69,00,\
  2e,00,74,00,74,00,63,00,2c,00,57,00,65,00,6e,00,51,00,75,00,61,00,6e,00,59,00,\
  69,00,20,00,4d,00,69,00,63,00,72,00,6f,00,20,00,48,00,65,00,69,00,00,00,00,00
"""

# Variables of the calling shell that must not leak into a Wine process.
SCRUBBED_ENV = ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "no_proxy", "NO_PROXY",
                "all_proxy", "ALL_PROXY", "TEMP", "TMP", "LANG", "LANGUAGE", "LC_ALL",
                "LC_CTYPE", "LC_MESSAGES", "WINEDEBUG", "WINEPREFIX", "WINEARCH", "DISPLAY",
                "WINEDLLOVERRIDES", "KELTO2_STANDIN_LOG", "KELTO2_MVDOWN_WINDOW",
                "KELTO2_MVDOWN_LIFETIME_MS", "KELTO2_UNINST_EXIT", "KELTO2_UNINST_HANG")


# --- display ---------------------------------------------------------------

class Display:
    """An Xvfb server on a display number it chose itself."""

    def __init__(self, width: int = 1280, height: int = 1024):
        read_fd, write_fd = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", f"{width}x{height}x24",
             "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write_fd)
        number = b""
        with os.fdopen(read_fd, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    raise RuntimeError("Xvfb did not start")
                number += chunk
        self.name = ":" + number.decode().strip()

    def screenshot(self, path: os.PathLike | str) -> pathlib.Path:
        """The whole screen as a PNG (ImageMagick's import)."""
        path = pathlib.Path(path)
        subprocess.run(["import", "-display", self.name, "-window", "root", str(path)],
                       check=True, timeout=30, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        return path

    def close(self) -> None:
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


# --- Wine ------------------------------------------------------------------

@dataclasses.dataclass
class RunResult:
    returncode: Optional[int]  # None after a time-out; Wine passes on the low 8 bits
    stdout: str
    stderr: str
    timed_out: bool
    seconds: float

    @property
    def ok(self) -> bool:
        return not self.timed_out and self.returncode == 0


class WinePrefix:
    """One 64-bit Wine prefix and the way to run programs in it."""

    def __init__(self, path: pathlib.Path, display: Display):
        self.path = path
        self.display = display
        self._local_appdata: Optional[str] = None

    def env(self, locale: str = DEFAULT_LOCALE, debug: Optional[str] = None,
            extra: Optional[Mapping[str, str]] = None) -> dict[str, str]:
        env = {k: v for k, v in os.environ.items() if k not in SCRUBBED_ENV}
        env.update(WINEPREFIX=str(self.path), WINEARCH="win64", DISPLAY=self.display.name,
                   WINEDEBUG=debug or "-all", WINEDLLOVERRIDES=DLL_OVERRIDES, LC_ALL=locale,
                   LANG=locale)
        if extra:
            env.update(extra)
        return env

    def boot(self) -> None:
        self.path.mkdir(parents=True, exist_ok=True)
        subprocess.run(["wineboot", "-i"], env=self.env(), check=True, timeout=300,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        fonts = self.path / "kelto2-fonts.reg"
        fonts.write_bytes(b"\xff\xfe" + FONT_REG.replace("\n", "\r\n").encode("utf-16-le"))
        subprocess.run(["wine", "regedit", "/S", self.windows_path(fonts)], env=self.env(),
                       check=True, timeout=120, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        self.wait_server()

    def kill_all(self) -> None:
        """Ends every Wine process of the prefix, whatever state it is in."""
        subprocess.run(["wineserver", "-k"], env=self.env(), timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.wait_server()

    def processes(self) -> list[tuple[int, str]]:
        """(pid, command line) of every live process of this prefix, the
        Wine server included; other prefixes on the machine are left out."""
        marker = f"WINEPREFIX={self.path}".encode()
        found = []
        for entry in pathlib.Path("/proc").iterdir():
            if not entry.name.isdigit():
                continue
            try:
                environ = (entry / "environ").read_bytes().split(b"\0")
                cmdline = (entry / "cmdline").read_bytes().replace(b"\0", b" ").strip()
            except OSError:
                continue
            if marker in environ and cmdline:
                found.append((int(entry.name), cmdline.decode("utf-8", "replace")))
        return found

    def wait_server(self) -> None:
        subprocess.run(["wineserver", "-w"], env=self.env(), timeout=120,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def run(self, exe: os.PathLike | str, args: Sequence[str] = (),
            env: Optional[Mapping[str, str]] = None, timeout: float = 60,
            cwd: Optional[os.PathLike | str] = None, locale: str = DEFAULT_LOCALE,
            debug: Optional[str] = None, wrapper: Sequence[str] = ()) -> RunResult:
        """Runs a Windows program and waits for it (not for what it starts).

        Output goes through files, not pipes: programs it starts inherit the
        handles and would hold a pipe open long after it ended. On a
        time-out every process of the prefix is killed. A run that failed
        silently before any Windows program could start (Wine meeting its
        server on the way down) is tried once more."""
        result = self._run_once(exe, args, env, timeout, cwd, locale, debug, wrapper)
        if result.returncode not in (0, None) and result.seconds < WINE_NEVER_STARTED_S \
                and not result.stdout and not result.stderr:
            time.sleep(0.5)
            result = self._run_once(exe, args, env, timeout, cwd, locale, debug, wrapper)
        return result

    def _run_once(self, exe, args, env, timeout, cwd, locale, debug, wrapper) -> RunResult:
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            start = time.monotonic()
            process = subprocess.Popen([*wrapper, "wine", str(exe), *args], cwd=cwd, stdout=out,
                                       stderr=err,
                                       stdin=subprocess.DEVNULL,
                                       env=self.env(locale, debug, env), start_new_session=True)
            timed_out = False
            try:
                process.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                timed_out = True
                self.kill_all()
                try:
                    os.killpg(process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                process.wait(timeout=30)
            seconds = time.monotonic() - start
            out.seek(0)
            err.seek(0)
            return RunResult(None if timed_out else process.returncode,
                             out.read().decode("utf-8", "replace"),
                             err.read().decode("utf-8", "replace"), timed_out, seconds)

    # --- paths -------------------------------------------------------------

    @property
    def drive_c(self) -> pathlib.Path:
        return self.path / "drive_c"

    def windows_path(self, unix: os.PathLike | str) -> str:
        """C:\\... inside the prefix's drive C, else Z:\\... (Z: is /)."""
        unix = pathlib.Path(os.path.abspath(unix))
        try:
            rel = unix.relative_to(self.drive_c)
        except ValueError:
            return "Z:" + str(unix).replace("/", "\\")
        return "C:\\" + ("" if rel == pathlib.Path(".") else str(rel).replace("/", "\\"))

    def unix_path(self, windows: str) -> pathlib.Path:
        drive, rest = windows[:2].upper(), windows[2:].replace("\\", "/").lstrip("/")
        if drive == "C:":
            return self.drive_c / rest
        if drive == "Z:":
            return pathlib.Path("/") / rest
        raise ValueError(f"no mapping for {windows!r}")

    @property
    def local_appdata(self) -> str:
        """CSIDL_LOCAL_APPDATA as Windows programs see it."""
        if self._local_appdata is None:
            probe = STANDIN_DIR / "winprobe.exe"
            answer = ""
            if probe.exists():
                answer = self.run(probe, ["localappdata"], timeout=60).stdout.strip()
            if not answer:
                import getpass
                answer = f"C:\\users\\{getpass.getuser()}\\AppData\\Local"
            self._local_appdata = answer
        return self._local_appdata

    @property
    def temp_dir(self) -> pathlib.Path:
        """The user's temporary folder (GetTempPath) on the unix side."""
        return self.unix_path(self.local_appdata) / "Temp"


# --- installed Downloader --------------------------------------------------

@dataclasses.dataclass
class Installation:
    product: str
    folder: pathlib.Path  # unix side
    windows_folder: str
    registry_view: Optional[str]  # "32" or "64" when InstallLocation names it

    @property
    def exe(self) -> pathlib.Path:
        return self.folder / "mvdown.exe"

    @property
    def software_xml(self) -> pathlib.Path:
        return self.folder / "software.xml"


def ini_bytes(text: str) -> bytes:
    """INI text as the server delivers it: GBK, CR LF."""
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("gbk")


def openssl_signature(data: bytes, key: pathlib.Path = RELEASE_KEY) -> str:
    """What an operator publishes: `openssl dgst -sha256 -sign KEY | base64 -w0`."""
    signed = subprocess.run(["openssl", "dgst", "-sha256", "-sign", str(key)],
                            input=data, capture_output=True, check=True)
    return base64.b64encode(signed.stdout).decode("ascii")


def package_signature(package: bytes, version: str, key: pathlib.Path = RELEASE_KEY) -> str:
    """The [signature] value for a package: `printf 'kelto2-setup %s %s\\n'
    VERSION SHA256 | openssl dgst -sha256 -sign KEY | base64 -w0`."""
    return openssl_signature(
        f"kelto2-setup {version} {hashlib.sha256(package).hexdigest()}\n".encode(), key)


def signed_ini(text: str, name: str, key: pathlib.Path = RELEASE_KEY) -> bytes:
    """The configuration file name ("kelto.dat", "games/9.dat") as ini_bytes
    gives it, ended by its signature line."""
    data = ini_bytes(text)
    signature = openssl_signature(f"kelto2-config {name}\n".encode() + data, key)
    return data + f";kelto2-signature {signature}\r\n".encode("ascii")


def standin_exe(name: str) -> pathlib.Path:
    path = STANDIN_DIR / name
    if not path.exists():
        pytest.fail(f"{path} is missing: build the stand-ins "
                    f"(cmake --build {BUILD_DIR} --target kelto2_standins)")
    return path


def mvdown_variant(version: Optional[str]) -> pathlib.Path:
    """The stand-in with that file version; None for the one without."""
    return standin_exe(f"mvdown_{version}.exe" if version else "mvdown_noversion.exe")


class Bench:
    """Everything one test needs: the prefix, the server, the stand-ins."""

    def __init__(self, prefix: WinePrefix, server: DistServer, workdir: pathlib.Path):
        self.prefix = prefix
        self.server = server
        self.workdir = workdir
        self.cwd = workdir / "cwd"
        self.cwd.mkdir(parents=True, exist_ok=True)
        self.standin_log = workdir / "standin.log"
        self.locale = DEFAULT_LOCALE
        # Settings of the stand-ins for every program this test runs (the
        # launcher's children inherit them), e.g. KELTO2_UNINST_EXIT.
        self.standin_env: dict[str, str] = {}
        # What Wine runs under, e.g. testca.trusting(bundle) for a run that
        # trusts the test CA.
        self.wrapper: list[str] = []
        self._registry_keys: set[tuple[str, str]] = set()
        self._log_pixels = False
        self._folders: list[pathlib.Path] = []

    # --- running -------------------------------------------------------------

    def env(self, extra: Optional[Mapping[str, str]] = None) -> dict[str, str]:
        env = {"http_proxy": self.server.proxy_url,
               "KELTO2_STANDIN_LOG": self.prefix.windows_path(self.standin_log),
               "KELTO2_SETUP_SOURCE": self.prefix.windows_path(STANDIN_DIR)}
        env.update(self.standin_env)
        env.update(extra or {})
        return env

    def run(self, exe: os.PathLike | str, args: Sequence[str] = (),
            env: Optional[Mapping[str, str]] = None, timeout: float = 60,
            cwd: Optional[os.PathLike | str] = None, locale: Optional[str] = None,
            debug: Optional[str] = None) -> RunResult:
        return self.prefix.run(exe, args, self.env(env), timeout, cwd or self.cwd,
                               locale or self.locale, debug, self.wrapper)

    def run_kelto(self, args: Sequence[str] = (), env: Optional[Mapping[str, str]] = None,
                  timeout: float = 60, cwd: Optional[os.PathLike | str] = None,
                  locale: Optional[str] = None, debug: Optional[str] = None) -> RunResult:
        exe = BIN_DIR / "Kelto2.exe"
        if not exe.exists():
            pytest.fail(f"{exe} is missing: build it (cmake --build {BUILD_DIR})")
        return self.run(exe, args, env, timeout, cwd, locale, debug)

    def sendmsg(self, wparam: int, lparam: int = 0, wait_ms: int = 0,
                env: Optional[Mapping[str, str]] = None) -> RunResult:
        """Sends the hand-over message to the Downloader window, as the
        launcher does; exit code 2 when no such window exists."""
        return self.run(standin_exe("sendmsg.exe"),
                        [str(wparam), str(lparam), "--wait-ms", str(wait_ms)], env, timeout=60)

    def winprobe(self, *args: str) -> RunResult:
        return self.run(standin_exe("winprobe.exe"), list(args), timeout=60)

    def window_tree(self, name: str = PROGRESS_WINDOW_CLASS) -> Optional[dict]:
        """The probe's view of a top-level window and its children; None
        when there is no such window."""
        result = self.winprobe("tree", name)
        return json.loads(result.stdout) if result.returncode == 0 else None

    def wait_for_window(self, name: str = PROGRESS_WINDOW_CLASS, timeout: float = 30,
                        ready=lambda tree: tree["visible"]) -> dict:
        deadline = time.monotonic() + timeout
        while True:
            tree = self.window_tree(name)
            if tree and ready(tree):
                return tree
            if time.monotonic() > deadline:
                raise AssertionError(f"no window {name!r} after {timeout} s: {tree}")
            time.sleep(0.2)

    def message_boxes(self, answer: str = "") -> list[str]:
        """Every message box as "caption|text"; answer ("yes", "no",
        "close") presses that button in each."""
        out = self.winprobe("boxes", *([answer] if answer else [])).stdout
        return [line[4:].rsplit("|topmost=", 1)[0] for line in out.splitlines()
                if line.startswith("box ")]

    def wait_for_box(self, timeout: float = 30) -> list[str]:
        deadline = time.monotonic() + timeout
        while not (boxes := self.message_boxes()) and time.monotonic() < deadline:
            time.sleep(0.2)
        return boxes

    def start_kelto(self, args: Sequence[str] = (), env: Optional[Mapping[str, str]] = None,
                    debug: Optional[str] = None) -> subprocess.Popen:
        """Starts Kelto2.exe without waiting for it, for tests that act on
        its window while it runs."""
        exe = BIN_DIR / "Kelto2.exe"
        self._kelto_err = tempfile.TemporaryFile()
        process = subprocess.Popen(["wine", str(exe), *args], cwd=self.cwd,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=self._kelto_err,
                                   env=self.prefix.env(self.locale, debug, self.env(env)),
                                   start_new_session=True)
        process.err_file = self._kelto_err
        return process

    @staticmethod
    def stderr_of(process: subprocess.Popen) -> str:
        """What a run that start_kelto started wrote to stderr so far (with
        debug, its trace)."""
        process.err_file.seek(0)
        return process.err_file.read().decode("utf-8", "replace")

    def start_downloader(self, installation: Installation, args: Sequence[str] = ("/u",),
                         env: Optional[Mapping[str, str]] = None) -> subprocess.Popen:
        """Starts an installed stand-in in the background, as if the user had."""
        return subprocess.Popen(["wine", str(installation.exe), *args], cwd=self.cwd,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL,
                                env=self.prefix.env(self.locale, None, self.env(env)),
                                start_new_session=True)

    # --- what the server offers -------------------------------------------------

    def serve_config(self, kelto: Optional[str] = None, game: Optional[str] = None,
                     base: str = "/kelto2/", signed_with: Optional[pathlib.Path] = None) -> None:
        """Serves the configuration files as the real server does: INI text
        in GBK with CR LF line ends, each signed for its name with the key
        signed_with when given. None leaves the file absent (404)."""
        for name, text in (("kelto.dat", kelto), ("games/9.dat", game)):
            if text is None:
                self.server.unroute(base + name)
            elif signed_with:
                self.server.add_file(base + name, signed_ini(text, name, signed_with))
            else:
                self.server.add_file(base + name, ini_bytes(text))

    def serve_setup(self, version: Optional[str] = "1.6.5.2288", exit_code: int = 0,
                    path: str = "/download/mvsetup.exe", **response) -> None:
        """Serves the Setup stand-in; when run it installs the Downloader
        stand-in of that version (None: no version resource) and exits with
        exit_code. Response options (delay, chunk_delay ...) pass through."""
        self.server.route(path, Response(body=standin_exe("mvsetup.exe").read_bytes(), **response))
        self.standin_env["KELTO2_SETUP_VERSION"] = version or "none"
        self.standin_env["KELTO2_SETUP_EXIT"] = str(exit_code)

    def serve_software_xml(self, body: bytes = b"<software version=\"test\"/>\r\n") -> bytes:
        self.server.add_file("/software2.xml", body)
        return body

    # --- stand-in log ----------------------------------------------------------

    def log_lines(self) -> list[str]:
        if not self.standin_log.exists():
            return []
        return self.standin_log.read_bytes().decode("utf-8", "replace").splitlines()

    def wait_for_log(self, line: str, timeout: float = 30) -> list[str]:
        """Waits until the stand-in log holds line; returns the log."""
        deadline = time.monotonic() + timeout
        while True:
            lines = self.log_lines()
            if line in lines or time.monotonic() > deadline:
                return lines
            time.sleep(0.1)

    # --- the launcher's own log ------------------------------------------------

    def enable_kelto_log(self) -> pathlib.Path:
        """The launcher writes its trace only into an existing kelto2.log."""
        path = self.cwd / "kelto2.log"
        path.write_bytes(b"")
        return path

    def kelto_log(self) -> list[str]:
        path = self.cwd / "kelto2.log"
        if not path.exists():
            return []
        # Lines end in CR LF; the text is in the ANSI code page (GBK here).
        lines = path.read_bytes().decode("gbk", "replace").split("\r\n")
        return lines[:-1] if lines[-1] == "" else lines

    # --- installation ----------------------------------------------------------

    def product_folder(self, product: str = PRODUCT, base: str = "localappdata") -> pathlib.Path:
        """Where the launcher looks for a product below a special folder."""
        if base == "localappdata":
            root = self.prefix.unix_path(self.prefix.local_appdata)
        elif base == "programfiles":
            root = self.prefix.drive_c / "Program Files"
        else:
            raise ValueError(base)
        return root / COMPANY_FOLDER / product

    def install_downloader(self, version: Optional[str] = "1.6.5.2288", product: str = PRODUCT,
                           where: str = "localappdata", folder: Optional[pathlib.Path] = None,
                           registry_view: str = "32", uninst: bool = True,
                           software_xml: Optional[bytes] = None) -> Installation:
        """Installs the stand-in of that version (None: without a version).

        where: "localappdata" or "programfiles" (the product folder below
        that special folder), or "registry" (a folder elsewhere, default
        C:\\Apps\\其他\\<product>, named by InstallLocation in the Uninstall
        key of the product in registry_view "32" or "64")."""
        view = None
        if where == "registry":
            folder = folder or self.prefix.drive_c / "Apps" / "其他" / product
            view = registry_view
        else:
            folder = folder or self.product_folder(product, where)
        folder.mkdir(parents=True, exist_ok=True)
        self._folders.append(folder)
        shutil.copyfile(mvdown_variant(version), folder / "mvdown.exe")
        if uninst:
            shutil.copyfile(standin_exe("uninst.exe"), folder / "uninst.exe")
        if software_xml is not None:
            (folder / "software.xml").write_bytes(software_xml)
        installation = Installation(product, folder, self.prefix.windows_path(folder), view)
        if view:
            self.set_install_location(product, installation.windows_folder, view)
        return installation

    def set_install_location(self, product: str, value: str, view: str = "32",
                             value_type: str = "REG_SZ") -> None:
        """Writes InstallLocation of the product's Uninstall key (value_type
        as reg.exe names it: REG_SZ, REG_EXPAND_SZ, REG_DWORD, REG_BINARY)."""
        key = UNINSTALL_KEY + product
        self._registry_keys.add((key, view))
        self._reg(["add", key, "/v", "InstallLocation", "/t", value_type, "/d", value, "/f",
                   f"/reg:{view}"])

    def set_registry_default(self, key: str, value: str, view: str = "64") -> None:
        """Sets the default value of a key; the key goes with clean()."""
        self._registry_keys.add((key, view))
        self._reg(["add", key, "/ve", "/d", value, "/f", f"/reg:{view}"])

    def import_registry(self, text: str, keys: Iterable[tuple[str, str]] = ()) -> None:
        """Imports a .reg text (regedit syntax, "Windows Registry Editor
        Version 5.00"); keys lists (key, view) pairs to delete afterwards."""
        self._registry_keys.update(keys)
        path = self.workdir / "import.reg"
        path.write_bytes(b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le"))
        result = self.run("regedit", ["/S", self.prefix.windows_path(path)], timeout=60)
        assert result.returncode == 0, result.stderr

    def set_log_pixels(self, dpi: int) -> None:
        """The display's DPI for the programs started from now on, as Wine
        reads it (HKCU\\Control Panel\\Desktop, LogPixels); back to Wine's
        default of 96 with clean()."""
        self._log_pixels = True
        self._reg(["add", DESKTOP_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi),
                   "/f"])

    def use_browser_standin(self) -> None:
        """The browser stand-in in the working folder as the user's choice of
        browser for http, as the settings write it; it logs its arguments."""
        browser = self.cwd / "iexplore.exe"
        shutil.copyfile(standin_exe("iexplore.exe"), browser)
        choice = "Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http"
        command = f'"{self.prefix.windows_path(browser)}" -osint -url "%1"'
        command = command.replace("\\", "\\\\").replace('"', '\\"')
        self.import_registry(
            f'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\{choice}\\UserChoice]\n'
            f'"ProgId"="Kelto2Test.Browser"\n\n[HKEY_CURRENT_USER\\Software\\Classes'
            f'\\Kelto2Test.Browser\\shell\\open\\command]\n@="{command}"\n',
            keys=[("HKCU\\" + choice, "64"), ("HKCU\\Software\\Classes\\Kelto2Test.Browser", "64")])

    def delete_registry_key(self, key: str, view: str = "32") -> None:
        self._reg(["delete", key, "/f", f"/reg:{view}"], check=False)

    def _reg(self, args: list[str], check: bool = True) -> None:
        result = self.run("reg", args, timeout=60)
        if check and result.returncode != 0:
            raise RuntimeError(f"reg {args} failed: {result.stderr}")

    # --- clean-up ----------------------------------------------------------------

    def clean(self) -> None:
        """Back to no Downloader at all: processes, files, registry."""
        self.prefix.kill_all()
        for base in ("localappdata", "programfiles"):
            for product in (PRODUCT, PRODUCT_2010):
                shutil.rmtree(self.product_folder(product, base), ignore_errors=True)
            company = self.product_folder(PRODUCT, base).parent
            if company.is_dir() and not any(company.iterdir()):
                company.rmdir()
        for folder in self._folders:
            shutil.rmtree(folder, ignore_errors=True)
        for key, view in sorted(self._registry_keys):
            self.delete_registry_key(key, view)
        self._registry_keys.clear()
        if self._log_pixels:
            self._reg(["delete", DESKTOP_KEY, "/v", "LogPixels", "/f"], check=False)
            self._log_pixels = False
        self.prefix.kill_all()


# --- nginx --------------------------------------------------------------------

def nginx(root: pathlib.Path, work: pathlib.Path, port: int,
          download_rate: str = "0",
          tls: Optional[tuple[int, pathlib.Path, pathlib.Path]] = None) -> subprocess.Popen:
    """nginx serving the folder root as the distribution server does, on
    127.0.0.1:port; the launcher reaches it as its proxy (http_proxy). Its
    workers run as an unprivileged user, so root must be readable.
    download_rate limits what /download/ sends per second ("160k"; "0" for
    no limit). tls (port, certificate, key) serves the same over TLS too."""
    listen_tls = (f"listen 127.0.0.1:{tls[0]} ssl; ssl_certificate {tls[1]}; "
                  f"ssl_certificate_key {tls[2]};") if tls else ""
    conf = work / "nginx.conf"
    conf.write_text(f"""
daemon off;
worker_processes 1;
pid {work}/nginx.pid;
error_log {work}/nginx-error.log;
events {{ worker_connections 64; }}
http {{
    access_log {work}/nginx-access.log;
    client_body_temp_path {work}/body;
    proxy_temp_path {work}/proxy;
    fastcgi_temp_path {work}/fastcgi;
    uwsgi_temp_path {work}/uwsgi;
    scgi_temp_path {work}/scgi;
    server {{
        listen 127.0.0.1:{port};
        {listen_tls}
        server_name dl.morvik.example;
        root {root};
        location /download/ {{ limit_rate {download_rate}; }}
    }}
}}
""")
    process = subprocess.Popen(["/usr/sbin/nginx", "-c", str(conf), "-p", str(work)])
    time.sleep(0.5)
    if process.poll() is not None:
        raise RuntimeError((work / "nginx-error.log").read_text())
    return process



def open_for_reading(*folders: pathlib.Path) -> None:
    """Lets nginx's workers read every file below the folders."""
    for folder in folders:
        folder.chmod(0o755)
        for path in folder.rglob("*"):
            path.chmod(0o755 if path.is_dir() else 0o644)


@contextlib.contextmanager
def standalone_bench(work_dir: pathlib.Path) -> Iterator[Bench]:
    """A bench outside pytest (demo, benchmarks): its own display, prefix
    and server, all ended afterwards."""
    display = Display()
    prefix = WinePrefix(work_dir / "prefix", display)
    try:
        prefix.boot()
        with DistServer() as server:
            bench = Bench(prefix, server, work_dir)
            bench.clean()
            yield bench
            bench.clean()
    finally:
        prefix.kill_all()
        display.close()
