"""Round trips of the launcher over a slow link under Wine (figures, not a test).

A relay on the loopback is the link: the launcher reaches it as its system
proxy (http_proxy) and it passes each connection on to nginx serving the
distribution tree, after one round trip before any byte flows, then every
chunk half a round trip later in each direction, in order. It answers a
CONNECT itself, as a proxy at the server's end would (one round trip), and
tunnels it to nginx's TLS port; it counts each run's connections per server.

The default build (server root http://dl.morvik.example) and one with the
root https://dl.morvik.example (KELTO2_HTTPS_BUILD_DIR, default the build
tree's path and "-https", configured and built from this tree first; root
only, as the run trusts the test CA in a mount namespace) go three paths:
    hand-over        an up-to-date Downloader stand-in installed and running:
                     start of Kelto2.exe to the stand-in receiving 0x13F4;
    start to window  nothing installed, four skin pictures: the process's
                     creation to the trace's "window shown";
    whole install    that run's start to its end (Setup stand-in, hand-over).
Figures are extra round trips, (median time at rtt - median at 0) / rtt, the
relay in the path both times; the runs alternate between the two delays.

    /usr/bin/python3 tests/bench/link_bench.py [rtt_ms, default 200] [runs, default 3]
"""

from __future__ import annotations

import asyncio
import collections
import os
import pathlib
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

REPO = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
os.environ.setdefault("KELTO2_BUILD_DIR", str(REPO / "build" / "win64"))

from skins import demo_skin, png_bytes, solid  # noqa: E402
from testca import TestCa, trusting  # noqa: E402
from winebench import (BIN_DIR, BUILD_DIR, Bench, ini_bytes, nginx,  # noqa: E402
                       open_for_reading, standalone_bench, standin_exe)

HOST = "dl.morvik.example"
VERSION = "1.6.5.2288"
HTTPS_BUILD = pathlib.Path(os.environ.get("KELTO2_HTTPS_BUILD_DIR", f"{BUILD_DIR}-https"))
SHOWN = re.compile(r'OutputDebugStringA "Kelto2 \+(?P<ms>[0-9.]+)ms: window shown')


class Relay:
    """The link, on an event loop of its own thread; rtt in seconds."""

    def __init__(self, ports: dict[bool, int]):
        self.ports = ports  # nginx's port for a plain connection (False) and a tunnel (True)
        self.rtt = 0.0
        self.connections: collections.Counter[str] = collections.Counter()
        self.loop = asyncio.new_event_loop()
        threading.Thread(target=self.loop.run_forever, daemon=True).start()
        server = asyncio.run_coroutine_threadsafe(
            asyncio.start_server(self._connection, "127.0.0.1", 0), self.loop).result()
        self.url = "http://127.0.0.1:%d" % server.sockets[0].getsockname()[1]

    async def _connection(self, client_in, client_out) -> None:
        rtt, loop = self.rtt, asyncio.get_running_loop()
        await asyncio.sleep(rtt)  # the connection's set-up
        up, down = asyncio.Queue(), asyncio.Queue()
        try:
            head = await client_in.readuntil(b"\r\n\r\n")
            method, target = head.decode("latin-1").split(" ", 2)[:2]
        except (asyncio.IncompleteReadError, asyncio.LimitOverrunError, OSError, ValueError):
            self.connections["(no request)"] += 1
            client_out.close()
            return
        at_server = loop.time() + rtt / 2
        tunnel = method == "CONNECT"
        if tunnel:
            down.put_nowait((at_server + rtt / 2, b"HTTP/1.1 200 Connection established\r\n\r\n"))
        else:
            up.put_nowait((at_server, head))
            target = urllib.parse.urlsplit(target).netloc
        self.connections[target] += 1
        server_in, server_out = await asyncio.open_connection("127.0.0.1", self.ports[tunnel])
        await asyncio.gather(self._carry(client_in, up, server_out, rtt / 2),
                             self._carry(server_in, down, client_out, rtt / 2),
                             return_exceptions=True)

    @staticmethod
    async def _carry(source, queue: asyncio.Queue, sink, delay: float) -> None:
        """Every chunk of source (and its end) to sink, delay seconds later."""
        loop = asyncio.get_running_loop()

        async def deliver() -> None:
            while True:
                due, chunk = await queue.get()
                await asyncio.sleep(due - loop.time())
                if chunk is None:
                    return
                sink.write(chunk)
                await sink.drain()

        deliverer = asyncio.ensure_future(deliver())
        try:
            while chunk := await source.read(1 << 16):
                queue.put_nowait((loop.time() + delay, chunk))
        finally:
            queue.put_nowait((loop.time() + delay, None))
            await asyncio.gather(deliverer, return_exceptions=True)
            sink.close()


def https_launcher() -> tuple[pathlib.Path | None, str]:
    """The https build's Kelto2.exe, brought up to date with this tree's
    sources (minutes when new); else None and why."""
    if os.geteuid() != 0:
        return None, "trusting the test CA needs root"
    print(f"building Kelto2.exe in {HTTPS_BUILD}", flush=True)
    for command in (["cmake", "--preset", "win64", "-B", str(HTTPS_BUILD),
                     f"-DKELTO2_SERVER_ROOT=https://{HOST}"],
                    ["cmake", "--build", str(HTTPS_BUILD), "-j2", "--target", "Kelto2"]):
        if subprocess.run(command, cwd=REPO, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode != 0:
            return None, f"{' '.join(command)} failed"
    return HTTPS_BUILD / "bin" / "Kelto2.exe", ""


def restart(bench: Bench) -> None:
    """No Downloader, no Wine process; a Wine server that stays between runs."""
    bench.clean()
    subprocess.run(["wineserver", "-p"], env=bench.prefix.env(), timeout=60, check=True)


def handover(bench: Bench, exe: pathlib.Path, env: dict[str, str], clock: pathlib.Path):
    clock.write_text("")
    start = time.time()
    assert bench.run(exe, env=env, timeout=300).ok
    deadline = time.monotonic() + 10
    while not clock.read_text().strip() and time.monotonic() < deadline:
        time.sleep(0.01)
    return (int(clock.read_text().split()[0]) / 1000 - start,)


def install(bench: Bench, exe: pathlib.Path, env: dict[str, str]):
    bench.standin_log.write_text("")
    result = bench.run(exe, env=env, timeout=300, debug="-all,warn+seh")
    assert result.ok and "msg 0x13F4 9 0" in bench.log_lines(), result
    deadline = time.monotonic() + 30  # the new Downloader's short life
    while any("mvdown" in cmd for _, cmd in bench.prefix.processes()) \
            and time.monotonic() < deadline:
        time.sleep(0.05)
    shutil.rmtree(bench.product_folder(), ignore_errors=True)  # where the Setup stand-in puts it
    return float(SHOWN.search(result.stderr)["ms"]) / 1000, result.seconds


def extra_round_trips(relay: Relay, rtt: float, runs: int, measure) -> tuple[list[str], str]:
    """Each figure of measure() in extra round trips (with the range of the
    paired runs), and the connections per server of the runs at rtt."""
    relay.rtt = 0.0
    measure()  # warm-up: caches, the prefix's first start of the exe
    times: dict[float, list[tuple[float, ...]]] = {0.0: [], rtt: []}
    counts = []
    for _ in range(runs):
        for delay in (0.0, rtt):
            relay.rtt = delay
            relay.connections.clear()
            times[delay].append(measure())
        counts.append(" + ".join(f"{n} {host}" for host, n in sorted(relay.connections.items())))
    cells = []
    for at_0, at_rtt in zip(zip(*times[0.0]), zip(*times[rtt])):
        paired = [(b - a) / rtt for a, b in zip(at_0, at_rtt)]
        median = (statistics.median(at_rtt) - statistics.median(at_0)) / rtt
        cells.append(f"{median:+.1f} ({min(paired):.1f}..{max(paired):.1f})")
    return cells, " / ".join(sorted(set(counts)))


def measure_protocol(bench: Bench, relay: Relay, exe: pathlib.Path, www: pathlib.Path,
                     root: str, rtt: float, runs: int) -> dict[str, tuple[str, str]]:
    (www / "kelto2" / "kelto.dat").write_bytes(ini_bytes(
        f"[forceupdate]\nlatest={VERSION}\n[ui]\nheaderImg={root}/kelto2/mvdown.png\n"
        f"backgroundImg={root}/kelto2/background.png\n"
        f"backgroundMask={root}/kelto2/backgroundmask.png\ncloseImg={root}/kelto2/close.png\n"))
    open_for_reading(www)
    clock = bench.workdir / "clock.log"
    clock_env = {"KELTO2_STANDIN_CLOCK_LOG": bench.prefix.windows_path(clock)}
    bench.start_downloader(bench.install_downloader(VERSION), args=("--running",),
                           env={**clock_env, "KELTO2_MVDOWN_LIFETIME_MS": "3600000"})
    assert bench.sendmsg(0, wait_ms=10000).returncode == 0
    env = {**clock_env, "KELTO2_MVDOWN_LIFETIME_MS": "1500", "http_proxy": relay.url}
    (handed,), handed_conns = extra_round_trips(relay, rtt, runs,
                                                lambda: handover(bench, exe, env, clock))
    restart(bench)
    env = {"KELTO2_SETUP_VERSION": VERSION, "KELTO2_MVDOWN_LIFETIME_MS": "500",
           "http_proxy": relay.url}
    (window, whole), conns = extra_round_trips(relay, rtt, runs, lambda: install(bench, exe, env))
    restart(bench)
    return {"hand-over": (handed, handed_conns), "start to window": (window, ""),
            "whole install": (whole, conns)}


def main() -> int:
    rtt = (int(sys.argv[1]) if len(sys.argv) > 1 else 200) / 1000
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    https_exe, why = https_launcher()
    with tempfile.TemporaryDirectory(prefix="kelto2-link-bench-") as tmp:
        work = pathlib.Path(tmp)
        work.chmod(0o755)
        www = work / "www"
        files = {**demo_skin(), "/kelto2/close.png": png_bytes(48, 21, solid((200, 0, 0))),
                 "/software2.xml": b"<software/>\r\n",
                 "/download/mvsetup.exe": standin_exe("mvsetup.exe").read_bytes()}
        for path, body in files.items():
            (www / path.lstrip("/")).parent.mkdir(parents=True, exist_ok=True)
            (www / path.lstrip("/")).write_bytes(body)
        ca = TestCa(work / "ca")
        ca.issue(HOST, "server")
        ports = {False: 18900 + os.getpid() % 1000, True: 19900 + os.getpid() % 1000}
        server = nginx(www, work, ports[False],
                       tls=(ports[True], ca.folder / "server.pem", ca.folder / "server.key"))
        relay = Relay(ports)
        results = {}
        try:
            with standalone_bench(work) as bench:
                restart(bench)
                results["http"] = measure_protocol(bench, relay, BIN_DIR / "Kelto2.exe", www,
                                                   f"http://{HOST}", rtt, runs)
                if https_exe:
                    bench.wrapper = trusting(ca.trusted_bundle())
                    results["https"] = measure_protocol(bench, relay, https_exe, www,
                                                        f"https://{HOST}", rtt, runs)
        finally:
            server.terminate()
            server.wait(timeout=10)
    print(f"\nExtra round trips at rtt {rtt * 1000:.0f} ms, median of {runs} runs (range of "
          "the paired runs); connections per server in the runs at rtt")
    if not https_exe:
        print(f"https: skipped ({why})")
    print("| path | http extra RTs | connections | https extra RTs | connections |")
    print("|---|---|---|---|---|")
    for path in results["http"]:
        cells = [cell for protocol in ("http", "https")
                 for cell in results.get(protocol, {}).get(path, ("skipped", ""))]
        print(f"| {path} | " + " | ".join(cells) + " |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
