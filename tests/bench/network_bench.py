"""Downloads over a bad network under Wine (figures, not a test).

(a) a 16 MiB Setup package whose first connection drops at 60 %: the body
    bytes the server sent for the whole install, against the package size;
(b) Yes to the cancel question while the package's read is blocked (the
    server has gone silent) to the end of the process, median of n runs;
    "from the click" starts when the probe that answers the box is run, "after
    the click" when it has returned, so the truth lies in between;
(c) the windowless run (an up-to-date Downloader installed) against a
    server that drips every answer, one byte every 5 s: start to end.

    /usr/bin/python3 tests/bench/network_bench.py [runs for (b), default 5] [parts, default abc]
"""

from __future__ import annotations

import os
import pathlib
import statistics
import sys
import tempfile
import time

REPO = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
os.environ.setdefault("KELTO2_BUILD_DIR", str(REPO / "build" / "win64"))

from distserver import PatternBody, Response  # noqa: E402
from winebench import Bench, standalone_bench, standin_exe  # noqa: E402

SETUP = "/download/mvsetup.exe"
CONFIG = "[forceupdate]\nlatest=1.6.5.2288\n[ui]\ncloseX=341\ncloseY=0\ncloseW=48\ncloseH=21\n"


def resumed_install(bench: Bench) -> None:
    size = 16 << 20
    bench.serve_config(kelto=CONFIG)
    tag = [("ETag", '"bench"')]
    bench.server.route(SETUP, Response(body=PatternBody(size), headers=tag, cut_after=size * 6 // 10),
                       Response(body=PatternBody(size), headers=tag, ranges=True))
    bench.run_kelto(timeout=300)
    sent = bench.server.body_bytes_sent(SETUP)
    ranges = [r.header("Range") for r in bench.server.requests(SETUP)]
    print(f"(a) {size >> 20} MiB package cut at 60 %: server sent {sent} body bytes = "
          f"{sent / size:.3f} x the package (target <= 1.05); requests' Range: {ranges}")


def cancel_latency(bench: Bench, runs: int) -> None:
    package = standin_exe("mvsetup.exe").read_bytes()
    before_click: list[float] = []
    after_click: list[float] = []
    for _ in range(runs):
        bench.clean()
        bench.serve_config(kelto=CONFIG)
        bench.server.route(SETUP, Response(body=package, stall_after=50_000))
        process = bench.start_kelto()
        bench.wait_for_window(ready=lambda t: t["visible"] and t["children"][6]["position"] > 0)
        bench.winprobe("release", "TKelto2Window", "left", "350", "10")
        bench.wait_for_box()
        time.sleep(1)  # the read is blocked by now: the server sends nothing more
        start = time.monotonic()
        bench.message_boxes("yes")
        clicked = time.monotonic()
        process.wait(timeout=60)
        end = time.monotonic()
        before_click.append((end - start) * 1000)
        after_click.append((end - clicked) * 1000)
    print(f"(b) Yes to process end with a read blocked, median of {runs}: "
          f"{statistics.median(after_click):.0f} ms after the click, "
          f"{statistics.median(before_click):.0f} ms from the click's probe (target <= 300 ms); "
          f"after: {[round(x) for x in after_click]}")


def dripping_windowless_run(bench: Bench) -> None:
    bench.clean()
    bench.install_downloader("1.6.5.2288")
    drip = dict(chunk_size=1, chunk_delay=5)
    for path in ("/kelto2/kelto.dat", "/kelto2/games/9.dat", "/software2.xml"):
        bench.server.route(path, Response(body=b"[forceupdate]\r\n" * 10, **drip))
    result = bench.run_kelto(timeout=600)
    paths = [r.path for r in bench.server.requests()]
    print(f"(c) windowless run, every answer dripping: {result.seconds:.1f} s (bound 120 s), "
          f"exit {result.returncode}; requests: {paths}")


def main() -> int:
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    parts = sys.argv[2] if len(sys.argv) > 2 else "abc"
    with tempfile.TemporaryDirectory(prefix="kelto2-network-bench-") as tmp:
        with standalone_bench(pathlib.Path(tmp)) as bench:
            if "a" in parts:
                resumed_install(bench)
                bench.clean()
            if "b" in parts:
                cancel_latency(bench, runs)
                bench.clean()
            if "c" in parts:
                dripping_windowless_run(bench)
    return 0


if __name__ == "__main__":
    sys.exit(main())
