"""The progress window and the install path under Wine (figures, not a test).

(a) start of Kelto2.exe to its window shown, with four skin pictures from
    the local server: the launcher's own time, i.e. the time since the
    process was created less the prescribed 10 ms pause after each read
    that delivered data (a do-nothing exe's start is printed beside it);
(b) a 16 MiB Setup package through the whole job with the window: the share
    of the transfer's time that the prescribed pauses take; meanwhile a
    probe asks the window with WM_NULL every 50 ms (round trip percentiles);
(c) a 64 MiB Setup package: the private memory (RssAnon of the process) at
    its peak during the download against the idle window's.

    /usr/bin/python3 tests/bench/install_bench.py [runs for (a), default 10] [parts, default abc]
        [display DPIs for (a), default 96; e.g. 96,144]
"""

from __future__ import annotations

import os
import pathlib
import re
import statistics
import sys
import tempfile
import threading
import time

REPO = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
os.environ.setdefault("KELTO2_BUILD_DIR", str(REPO / "build" / "win64"))

from distserver import PatternBody, Response  # noqa: E402
from skins import demo_skin, png_bytes, solid  # noqa: E402
from winebench import BIN_DIR, Bench, standalone_bench, standin_exe  # noqa: E402

STEP = re.compile(r'OutputDebugStringA "Kelto2 \+(?P<ms>[0-9.]+)ms: (?P<what>[^"\\]*)')
PIECES = re.compile(r"read \d+ bytes in (\d+) pieces")
ROOT = "http://dl.morvik.example"
CONFIG = f"""[forceupdate]
latest=1.6.5.2288
[ui]
headerImg={ROOT}/kelto2/mvdown.png
backgroundImg={ROOT}/kelto2/background.png
backgroundMask={ROOT}/kelto2/backgroundmask.png
closeImg={ROOT}/kelto2/close.png
caption=Morvik下载器 2010
description=正在准备下载 %s
"""


def steps(stderr: str) -> list[tuple[float, str]]:
    return [(float(m["ms"]), m["what"].strip()) for m in STEP.finditer(stderr)]


def run_traced(bench: Bench, until, timeout: float = 120) -> str:
    process = bench.start_kelto(debug="-all,warn+seh")
    deadline = time.monotonic() + timeout
    try:
        while not until() and time.monotonic() < deadline and process.poll() is None:
            time.sleep(0.05)
        process.wait(timeout=max(1, deadline - time.monotonic()))
    except Exception:
        bench.prefix.kill_all()
    bench._kelto_err.seek(0)
    return bench._kelto_err.read().decode("utf-8", "replace")


def measured_pause_ms(bench: Bench) -> float:
    out = bench.run(BIN_DIR / "kelto2_http_bench.exe", ["pause"]).stdout
    return float(re.search(r"lasts ([0-9.]+) ms", out).group(1))


def start_to_window(bench: Bench, runs: int, pause: float, dpi: int) -> None:
    bench.serve_config(kelto=CONFIG)
    for path, body in {**demo_skin(), "/kelto2/close.png": png_bytes(48, 21, solid((200, 0, 0)))
                       }.items():
        bench.server.add_file(path, body)
    bench.server.route("/download/mvsetup.exe", Response(hang=True))
    if dpi != 96:
        bench.set_log_pixels(dpi)
    own, totals = [], []
    for _ in range(runs + 1):
        stderr = run_traced(bench, lambda: False, timeout=8)
        trace = steps(stderr)
        shown = next(ms for ms, what in trace if what == "window shown")
        pieces = sum(int(PIECES.search(what).group(1)) for ms, what in trace
                     if ms <= shown and PIECES.search(what))
        totals.append(shown)
        own.append(shown - pieces * pause)
        bench.prefix.kill_all()
    own, totals = own[1:], totals[1:]  # the first run warms the prefix up
    noop = []
    for _ in range(runs):
        start = time.monotonic()
        bench.run(standin_exe("noop.exe"))
        noop.append((time.monotonic() - start) * 1000)
    print(f"(a) at {dpi} DPI, process created to window shown, median of {runs}: "
          f"{statistics.median(totals):.1f} ms; less the read pauses: "
          f"{statistics.median(own):.1f} ms (min {min(own):.1f}, max {max(own):.1f}; "
          f"target <= 100 ms); a do-nothing exe's whole run: {statistics.median(noop):.1f} ms")


def through_the_job(bench: Bench, pause: float) -> None:
    size = 16 << 20
    bench.serve_config(kelto="[forceupdate]\nlatest=1.6.5.2288\n")
    bench.server.route("/download/mvsetup.exe", Response(body=PatternBody(size)))
    pings: list[str] = []

    def ping() -> None:
        bench.wait_for_window(timeout=30)
        pings.append(bench.winprobe("ping", "TKelto2Window", "50", "160").stdout.strip())

    prober = threading.Thread(target=ping)
    prober.start()
    stderr = run_traced(bench, lambda: False, timeout=120)
    prober.join()
    trace = steps(stderr)
    get = next(i for i, (ms, what) in enumerate(trace) if what.endswith("/download/mvsetup.exe"))
    read = next((ms, what) for ms, what in trace[get:] if PIECES.search(what))
    pieces = int(PIECES.search(read[1]).group(1))
    elapsed = read[0] - trace[get][0]
    print(f"(b) {size >> 20} MiB through the job: {elapsed:.0f} ms, {pieces} pieces x "
          f"{pause:.3f} ms pause = {pieces * pause:.0f} ms; ratio {pieces * pause / elapsed:.3f} "
          f"(target >= 0.95)")
    print(f"    window answering WM_NULL every 50 ms meanwhile: {pings[0] if pings else 'none'} "
          f"(target p99 <= 50 ms)")


def rss_anon_kib(pid: int) -> int:
    for line in pathlib.Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("RssAnon:"):
            return int(line.split()[1])
    return 0


def memory(bench: Bench) -> None:
    size = 64 << 20
    bench.serve_config(kelto="[forceupdate]\nlatest=1.6.5.2288\n")
    bench.server.route("/download/mvsetup.exe", Response(body=PatternBody(size), delay=4))
    process = bench.start_kelto()
    bench.wait_for_window(timeout=30)
    pid = next(p for p, cmd in bench.prefix.processes() if "Kelto2.exe" in cmd)
    idle = peak = 0
    start = time.monotonic()
    while process.poll() is None:
        try:
            now = rss_anon_kib(pid)
        except OSError:
            break
        if time.monotonic() - start < 3:
            idle = max(idle, now)
        peak = max(peak, now)
        time.sleep(0.2)
    print(f"(c) {size >> 20} MiB download: private memory (RssAnon) idle window {idle / 1024:.1f} "
          f"MiB, peak {peak / 1024:.1f} MiB, delta {(peak - idle) / 1024:.1f} MiB "
          f"(target <= 8 MiB)")


def main() -> int:
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 10
    parts = sys.argv[2] if len(sys.argv) > 2 else "abc"
    dpis = [int(d) for d in (sys.argv[3] if len(sys.argv) > 3 else "96").split(",")]
    with tempfile.TemporaryDirectory(prefix="kelto2-install-bench-") as tmp:
        with standalone_bench(pathlib.Path(tmp)) as bench:
            pause = measured_pause_ms(bench)
            print(f"Sleep(10) lasts {pause:.3f} ms here")
            if "a" in parts:
                for dpi in dpis:
                    start_to_window(bench, runs, pause, dpi)
                    bench.clean()
            if "b" in parts:
                through_the_job(bench, pause)
                bench.clean()
            if "c" in parts:
                memory(bench)
    return 0


if __name__ == "__main__":
    sys.exit(main())
