"""The Windows benchmark programs under Wine (figures, not tests), each in a
fresh prefix with the local test server as the proxy:

    kelto2_http_bench.exe      HTTP pause share, memory of HttpGet and of a
                               streamed DownloadToFile; then the same over
                               https, through the server's TLS tunnel
    kelto2_progress_bench.exe  WM_SETUP_PROGRESS round trips; then with "dpi"
                               the time a DPI change takes to lay out again
    kelto2_package_check_bench.exe  the check of a 16 MiB package

    /usr/bin/python3 tests/bench/win_benches.py
"""

from __future__ import annotations

import os
import pathlib
import sys
import tempfile

REPO = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
os.environ.setdefault("KELTO2_BUILD_DIR", str(REPO / "build" / "win64"))

from testca import TestCa, trusting  # noqa: E402
from winebench import BIN_DIR, standalone_bench  # noqa: E402

HTTP = "http://dl.test.example"
HTTPS = "https://dl.test.example"
BENCHES = [("kelto2_http_bench.exe", [], HTTP), ("kelto2_http_bench.exe", [], HTTPS),
           ("kelto2_progress_bench.exe", ["1000"], HTTP),
           ("kelto2_progress_bench.exe", ["dpi", "100"], HTTP),
           ("kelto2_package_check_bench.exe", [], HTTP)]


def main() -> int:
    with tempfile.TemporaryDirectory(prefix="kelto2-win-bench-") as tmp:
        with standalone_bench(pathlib.Path(tmp)) as bench:
            ca = TestCa(pathlib.Path(tmp) / "ca")
            bench.server.tls = ca.issue("dl.test.example", "server")
            trusted = trusting(ca.trusted_bundle()) if os.geteuid() == 0 else None
            for exe, args, url in BENCHES:
                if url == HTTPS and trusted is None:
                    print(f"{exe} over https skipped: trusting the test CA needs root")
                    continue
                bench.wrapper = trusted if url == HTTPS else []
                result = bench.run(BIN_DIR / exe, args, timeout=900,
                                   env={"KELTO2_TEST_URL": url})
                print(f"-- {exe} {url}")
                print(result.stdout.replace("\r\n", "\n").rstrip())
                if not result.ok:
                    print(f"{exe} failed: {result.stderr[-2000:]}")
                    return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
