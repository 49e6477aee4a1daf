"""The main job: Kelto2.exe under Wine against a local distribution server
that serves the reference configuration, in three situations of the
installed Downloader. Prints what was requested, found and decided."""

from __future__ import annotations

import os
import pathlib
import re
import sys
import tempfile

REPO = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
os.environ.setdefault("KELTO2_BUILD_DIR", str(REPO / "build" / "win64"))

from winebench import BUILD_DIR, Bench, DistServer, Display, WinePrefix  # noqa: E402

TRACE = re.compile(r'OutputDebugStringA "Kelto2: (.*?)\\n"')

SITUATIONS = [
    ("No Downloader installed", None),
    ("Downloader 1.6.5.2282 installed (listed with force level 1)", "1.6.5.2282"),
    ("Downloader 1.6.5.2288 installed (the latest)", "1.6.5.2288"),
]


def run_situation(bench: Bench, title: str, version: str | None, config: bytes) -> None:
    bench.clean()
    bench.server.clear_requests()
    bench.server.add_file("/kelto2/kelto.dat", config)
    if version:
        bench.install_downloader(version)
    result = bench.run_kelto(debug="-all,warn+seh", timeout=120)
    print(f"\n== {title}")
    for request in bench.server.requests():
        served = "served" if request.path == "/kelto2/kelto.dat" else "404"
        print(f"   request  {request.method} {request.url}  ({served})")
    for line in TRACE.findall(result.stderr):
        print("   launcher " + line.replace('\\"', '"'))
    print(f"   exit code {result.returncode}" + (" (timed out)" if result.timed_out else ""))


def main() -> int:
    config = (BUILD_DIR / "resources" / "kelto.dat").read_bytes()
    print("Reference configuration served as /kelto2/kelto.dat (GBK):")
    print("   " + config.decode("gbk").replace("\r\n", "\n   ").rstrip())
    with tempfile.TemporaryDirectory(prefix="kelto2-demo-") as work:
        work_dir = pathlib.Path(work)
        display = Display()
        prefix = WinePrefix(work_dir / "prefix", display)
        print("\nPreparing a Wine prefix ...", flush=True)
        prefix.boot()
        try:
            with DistServer() as server:
                bench = Bench(prefix, server, work_dir)
                for title, version in SITUATIONS:
                    run_situation(bench, title, version, config)
                bench.clean()
        finally:
            prefix.kill_all()
            display.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
