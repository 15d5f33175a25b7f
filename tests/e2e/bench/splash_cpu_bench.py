"""Splash CPU: the launcher's CPU share while its splash shows and the worker waits, over 20 s.
Not part of the test run. Run from the checkout:
    LAUNCHER_BUILD_DIR=$PWD/build /usr/bin/python3 tests/e2e/bench/splash_cpu_bench.py
"""
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

from harness import screen  # noqa: E402
from harness import wine  # noqa: E402


def main():
    xvfb, display = wine.start_xvfb()
    prefix = wine.boot_prefix(wine.E2E_DIR / "bench-prefix", display)
    wine.clear_user_state(prefix)
    proc = wine.start(prefix, display, ["zentrix.kvnlp"])
    try:
        assert screen.find_splash(display), "no splash window"
        time.sleep(3)
        share = screen.cpu_share(screen.exe_pid(prefix=prefix), 20.0)
        print(f"splash CPU: {100 * share:.2f}% of one core over 20 s")
    finally:
        proc.kill()
        wine.stop_prefix(prefix)
        xvfb.terminate()


if __name__ == "__main__":
    main()
