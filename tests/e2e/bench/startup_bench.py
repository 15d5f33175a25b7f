"""Start-up overhead on a warm cache: the launcher's time from process start to javaw's start,
against the minimal WinHTTP client (one HTTPS request, then the same javaw), both under Wine in
the same run. Not part of the test run. Run inside the test namespace:
    ip netns exec tarvolin-e2e env LAUNCHER_BUILD_DIR=$PWD/build /usr/bin/python3 tests/e2e/bench/startup_bench.py [--runs 10]
"""
import statistics
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

from harness import bench_options  # noqa: E402
from harness import runtime  # noqa: E402
from harness import servers  # noqa: E402
from harness import wine  # noqa: E402


def javaw_starts(record):
    return record.read_bytes().count(b"\nEND\n") if record.exists() else 0


def time_to_javaw(prefix, display, args, exe, record, timeout=60):
    """Seconds from the process start to the first line javaw records."""
    before = javaw_starts(record)
    start = time.perf_counter()
    proc = wine.start(prefix, display, args, exe=exe)
    try:
        while javaw_starts(record) == before:
            if time.perf_counter() - start > timeout:
                raise RuntimeError("javaw did not start within %d s" % timeout)
            time.sleep(0.005)
        elapsed = time.perf_counter() - start
        proc.wait(timeout=timeout)
        return elapsed
    finally:
        if proc.poll() is None:
            proc.kill()


LAUNCH_ARGUMENT = ["https://get.tarvolin.example/start/app.kvnlp"]


def start_bench(name):
    """What a start-up bench runs on, inside the test namespace: a display, a prefix without the
    launcher's state and the origin serving version 5, their folders named after the bench.
    Returns (xvfb, display, prefix, origin, the file javaw records into); stop_bench ends them."""
    xvfb, display = wine.start_xvfb()
    prefix = wine.boot_prefix(wine.E2E_DIR / (name + "-prefix"), display)
    wine.clear_user_state(prefix)
    root = runtime.lay_out_server(wine.E2E_DIR / (name + "-server"), version="5")
    origin = servers.start_origin(root)
    return xvfb, display, prefix, origin, runtime.javaw_record(prefix)


def stop_bench(xvfb, prefix, origin):
    origin.stop()
    wine.stop_prefix(prefix)
    xvfb.terminate()


def main():
    runs = bench_options.parse(__doc__, runs=10).runs
    xvfb, display, prefix, origin, record = start_bench("bench")
    try:
        argument = LAUNCH_ARGUMENT
        time_to_javaw(prefix, display, argument, wine.EXE, record, timeout=120)  # installs: warm cache
        javaw = runtime.windows_cache(prefix) + "\\jre\\bin\\javaw.exe"
        baseline_args = ["get.tarvolin.example", runtime.VERSION_PATH, javaw]
        launcher, baseline = [], []
        for _ in range(runs):
            launcher.append(time_to_javaw(prefix, display, argument, wine.EXE, record))
            baseline.append(time_to_javaw(prefix, display, baseline_args, wine.TOOLS / "winhttp_baseline.exe",
                                          record))
        ratio = statistics.median(launcher) / statistics.median(baseline)
        print("runs: %d" % runs)
        print("launcher, process start to javaw start: median %.3f s (min %.3f, max %.3f)" %
              (statistics.median(launcher), min(launcher), max(launcher)))
        print("minimal WinHTTP client:                 median %.3f s (min %.3f, max %.3f)" %
              (statistics.median(baseline), min(baseline), max(baseline)))
        print("ratio (medians): %.2f (aim: at most 1.5)" % ratio)
    finally:
        stop_bench(xvfb, prefix, origin)


if __name__ == "__main__":
    main()
