"""The main job: Kelto2.exe under Wine against a local distribution server
that serves the reference configuration, its skin pictures, the Setup
package (a stand-in that installs the Downloader stand-in) and
software2.xml. Shows a whole install with screenshots of the window while
the bar moves, the hand-over paths, and the install once more with nginx
serving a plain folder laid out as the server's tree. Prints what was
requested, decided and logged, and what the stand-ins recorded."""

from __future__ import annotations

import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time

REPO = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
os.environ.setdefault("KELTO2_BUILD_DIR", str(REPO / "build" / "win64"))

from distserver import Response  # noqa: E402
from skins import demo_skin  # noqa: E402
from winebench import (BUILD_DIR, Bench, nginx, open_for_reading,  # noqa: E402
                       standalone_bench, standin_exe)

SHOTS = BUILD_DIR / "demo"
TRACE = re.compile(r'OutputDebugStringA "Kelto2: (.*?)\\n"')
NOT_FORCED = b"[forceupdate]\r\nlatest=1.6.5.2288\r\n"
SOFTWARE_XML = b"<software version=\"demo\"/>\r\n"
# Slow enough to watch: 727 KB in pieces of 24 KiB, 0.15 s apart.
SLOW = {"chunk_size": 24 * 1024, "chunk_delay": 0.15}


def report(bench: Bench, title: str, returncode, stderr: str, requests) -> None:
    print(f"\n== {title}")
    for request in requests:
        print(f"   request    {request}")
    for line in TRACE.findall(stderr):
        print("   decided    " + line.replace('\\"', '"'))
    for line in bench.log_lines():
        print("   stand-in   " + line)
    for line in bench.kelto_log():
        print("   kelto2.log " + line)
    print(f"   exit code  {returncode}")


def prepare(bench: Bench, version: str | None = None, running: bool = False) -> None:
    bench.clean()
    bench.standin_log.unlink(missing_ok=True)
    bench.server.clear_requests()
    if version:
        installation = bench.install_downloader(version)
        if running:
            bench.start_downloader(installation, args=("(started by the user)",))
            bench.sendmsg(0, wait_ms=10000)
            bench.standin_log.unlink(missing_ok=True)
    bench.enable_kelto_log()


def watch_install(bench: Bench, shots_prefix: str, env=None) -> tuple[int, str]:
    """Runs the launcher, takes screenshots while the bar moves, waits."""
    process = bench.start_kelto(env=env, debug="-all,warn+seh")
    taken = 0
    try:
        bench.wait_for_window(ready=lambda t: t["children"][6]["position"] > 0, timeout=60)
        for n in (1, 2):
            time.sleep(1.0)
            tree = bench.window_tree()
            if not tree or len(tree["children"]) < 9:
                break
            path = SHOTS / f"{shots_prefix}-{n}.png"
            bench.prefix.display.screenshot(path)
            bar, status = tree["children"][6], tree["children"][8]
            print(f"   screenshot {path}  (bar {bar['position']}/10000, "
                  f"status \"{status['text']}\")")
            taken += 1
    finally:
        returncode = process.wait(timeout=180)
    bench.wait_for_log("msg 0x13F4 9 0", timeout=20)
    bench._kelto_err.seek(0)
    return returncode, bench._kelto_err.read().decode("utf-8", "replace")


def install(bench: Bench, config: bytes) -> None:
    prepare(bench)
    bench.server.add_file("/kelto2/kelto.dat", config)
    for path, body in demo_skin().items():
        bench.server.add_file(path, body)
    bench.serve_software_xml(SOFTWARE_XML)
    bench.serve_setup("1.6.5.2288", **SLOW)
    print("\n== No Downloader installed: the whole install, with the window")
    returncode, stderr = watch_install(bench, "install")
    report(bench, "... what happened", returncode, stderr,
           [f"{r.method} {r.url}" for r in bench.server.requests()])


def hand_over(bench: Bench, title: str, version: str, running: bool, config: bytes) -> None:
    prepare(bench, version, running)
    bench.server.add_file("/kelto2/kelto.dat", NOT_FORCED if running else config)
    bench.serve_software_xml(SOFTWARE_XML)
    result = bench.run_kelto(debug="-all,warn+seh", timeout=120)
    bench.wait_for_log("msg 0x13F4 9 0", timeout=15)
    report(bench, title, result.returncode, result.stderr,
           [f"{r.method} {r.url}" for r in bench.server.requests()])


def install_with_nginx(bench: Bench, config: bytes, work: pathlib.Path) -> None:
    """The server's tree as a plain folder, served by nginx."""
    root = work / "www"
    files = {"/kelto2/kelto.dat": config, "/software2.xml": SOFTWARE_XML,
             "/download/mvsetup.exe": standin_exe("mvsetup.exe").read_bytes(), **demo_skin()}
    for path, body in files.items():
        target = root / path.lstrip("/")
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(body)
    work.chmod(0o755)
    open_for_reading(root)
    prepare(bench)
    bench.standin_env["KELTO2_SETUP_VERSION"] = "1.6.5.2288"
    bench.standin_env["KELTO2_SETUP_EXIT"] = "0"
    port = 18900 + os.getpid() % 1000
    server = nginx(root, work, port, download_rate="160k")
    try:
        print("\n== nginx serving the folder tree " + str(root))
        for path in sorted(p for p in root.rglob("*") if p.is_file()):
            print(f"   file       /{path.relative_to(root)}")
        returncode, stderr = watch_install(bench, "install-nginx",
                                           env={"http_proxy": f"http://127.0.0.1:{port}"})
        served = [line.split('"')[1] + " -> " + line.split('"')[2].split()[0]
                  for line in (work / "nginx-access.log").read_text().splitlines()]
        report(bench, "... what happened", returncode, stderr, served)
    finally:
        server.terminate()
        server.wait(timeout=10)


def main() -> int:
    config = (BUILD_DIR / "resources" / "kelto.dat").read_bytes()
    print("Reference configuration served as /kelto2/kelto.dat (GBK):")
    print("   " + config.decode("gbk").replace("\r\n", "\n   ").rstrip())
    shutil.rmtree(SHOTS, ignore_errors=True)
    SHOTS.mkdir(parents=True)
    with tempfile.TemporaryDirectory(prefix="kelto2-demo-") as tmp:
        work = pathlib.Path(tmp)
        print("\nPreparing a Wine prefix ...", flush=True)
        with standalone_bench(work) as bench:
            install(bench, config)
            hand_over(bench, "Downloader 1.6.5.2288 installed (the latest): hand-over",
                      "1.6.5.2288", False, config)
            hand_over(bench, "Downloader 1.6.5.2282 installed, not forced, already running: "
                      "hand-over", "1.6.5.2282", True, config)
            install_with_nginx(bench, config, work)
    print(f"\nScreenshots of the progress window: {SHOTS}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
