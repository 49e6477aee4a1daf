"""The Windows benchmark programs under Wine (figures, not tests), each in a
fresh prefix with the local test server as the proxy:

    kelto2_http_bench.exe      HTTP pause share, memory of HttpGet and of a
                               streamed DownloadToFile
    kelto2_progress_bench.exe  WM_SETUP_PROGRESS round trips
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

from winebench import BIN_DIR, standalone_bench  # noqa: E402

BENCHES = [("kelto2_http_bench.exe", []), ("kelto2_progress_bench.exe", ["1000"]),
           ("kelto2_package_check_bench.exe", [])]


def main() -> int:
    with tempfile.TemporaryDirectory(prefix="kelto2-win-bench-") as tmp:
        with standalone_bench(pathlib.Path(tmp)) as bench:
            for exe, args in BENCHES:
                result = bench.run(BIN_DIR / exe, args, timeout=900,
                                   env={"KELTO2_TEST_URL": "http://dl.test.example"})
                print(result.stdout.replace("\r\n", "\n").rstrip())
                if not result.ok:
                    print(f"{exe} failed: {result.stderr[-2000:]}")
                    return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
