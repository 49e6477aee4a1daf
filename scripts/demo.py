"""The main job: Kelto2.exe under Wine against a local distribution server
that serves the reference configuration and software2.xml, in four
situations of the installed Downloader (a stand-in that records what it is
told). Prints what was requested, found and decided, what the Downloader
received, and the launcher's kelto2.log."""

from __future__ import annotations

import os
import pathlib
import re
import sys
import tempfile

REPO = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
os.environ.setdefault("KELTO2_BUILD_DIR", str(REPO / "build" / "win64"))

from winebench import BUILD_DIR, Bench, standalone_bench  # noqa: E402

TRACE = re.compile(r'OutputDebugStringA "Kelto2: (.*?)\\n"')

# (title, installed version, already running)
SITUATIONS = [
    ("No Downloader installed", None, False),
    ("Downloader 1.6.5.2282 installed (listed with force level 1)", "1.6.5.2282", False),
    ("Downloader 1.6.5.2288 installed (the latest): hand-over", "1.6.5.2288", False),
    ("Downloader 1.6.5.2282 installed, not forced, already running: hand-over", "1.6.5.2282",
     True),
]
NOT_FORCED = b"[forceupdate]\r\nlatest=1.6.5.2288\r\n"


def run_situation(bench: Bench, title: str, version: str | None, running: bool,
                  config: bytes) -> None:
    bench.clean()
    bench.standin_log.unlink(missing_ok=True)
    bench.server.clear_requests()
    bench.server.add_file("/kelto2/kelto.dat", NOT_FORCED if running else config)
    bench.serve_software_xml()
    if version:
        installation = bench.install_downloader(version)
        if running:
            bench.start_downloader(installation, args=("(started by the user)",))
            bench.sendmsg(0, wait_ms=10000)
            bench.standin_log.unlink(missing_ok=True)
    bench.enable_kelto_log()
    result = bench.run_kelto(debug="-all,warn+seh", timeout=120)
    if "Executing" in " ".join(bench.kelto_log()):
        bench.wait_for_log("msg 0x13F4 9 0", timeout=15)
    print(f"\n== {title}")
    for request in bench.server.requests():
        print(f"   request    {request.method} {request.url}")
    for line in TRACE.findall(result.stderr):
        print("   decided    " + line.replace('\\"', '"'))
    for line in bench.log_lines():
        print("   Downloader " + line)
    for line in bench.kelto_log():
        print("   kelto2.log " + line)
    print(f"   exit code  {result.returncode}" + (" (timed out)" if result.timed_out else ""))


def main() -> int:
    config = (BUILD_DIR / "resources" / "kelto.dat").read_bytes()
    print("Reference configuration served as /kelto2/kelto.dat (GBK):")
    print("   " + config.decode("gbk").replace("\r\n", "\n   ").rstrip())
    with tempfile.TemporaryDirectory(prefix="kelto2-demo-") as work:
        print("\nPreparing a Wine prefix ...", flush=True)
        with standalone_bench(pathlib.Path(work)) as bench:
            for title, version, running in SITUATIONS:
                run_situation(bench, title, version, running, config)
    return 0


if __name__ == "__main__":
    sys.exit(main())
