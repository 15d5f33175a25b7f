"""First-run install time: the launcher's time from process start to javaw's start on an empty
cache with a 50 MB demo pack, against the same run's pack download (the program's own
DownloadfileDirect, through download_bench.exe) plus the pack's extraction in an empty folder
alone, all under Wine. The difference is what the install adds around them: the version checks,
the pack check, staging, the switch to the new runtime, the probe and the javaw start. Not part of
the test run. Run inside the test namespace:
    ip netns exec tarvolin-e2e env LAUNCHER_BUILD_DIR=$PWD/build /usr/bin/python3 tests/e2e/bench/first_run_bench.py [--runs 3] [--exe OTHER.exe]
"""
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

from harness import bench_options  # noqa: E402
from harness import runtime  # noqa: E402
from harness import wine  # noqa: E402
from startup_bench import LAUNCH_ARGUMENT, start_bench, stop_bench, time_to_javaw  # noqa: E402

PACK_MB = 50


def seconds_of(prefix, program, args, cwd=None):
    """Seconds from the start of a Windows program to its end; fails unless it ends with 0."""
    started = time.perf_counter()
    done = subprocess.run([wine.WINE, str(program), *args], env=wine.wine_env(prefix), cwd=cwd,
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          timeout=300)
    if done.returncode != 0:
        raise RuntimeError("%s ended with %d" % (program, done.returncode))
    return time.perf_counter() - started


def main():
    options = bench_options.parse(__doc__, runs=3, exe=str(wine.EXE))
    xvfb, display, prefix, origin, record = start_bench("first-run")
    work = wine.E2E_DIR / "first-run-work"
    try:
        javaw = (wine.TOOLS / "fake_javaw.exe").read_bytes()
        pack = runtime.pack_bytes(javaw=javaw + b"\0" * (PACK_MB << 20))
        root = wine.E2E_DIR / "first-run-server"
        runtime.set_pack(root, pack)
        firsts, parts = [], []
        for _ in range(options.runs):
            wine.clear_user_state(prefix)
            firsts.append(time_to_javaw(prefix, display, LAUNCH_ARGUMENT, Path(options.exe), record, timeout=300))
            shutil.rmtree(work, ignore_errors=True)
            work.mkdir(parents=True)
            download = seconds_of(prefix, wine.TOOLS / "download_bench.exe",
                                  ["get.tarvolin.example", runtime.PACK_PATH, wine.windows_path(work / "pack.exe",
                                                                                                  prefix)])
            extraction = seconds_of(prefix, work / "pack.exe", ["-y"], cwd=work)
            parts.append((download, extraction))
        first = statistics.median(firsts)
        download = statistics.median(p[0] for p in parts)
        extraction = statistics.median(p[1] for p in parts)
        print("runs: %d, pack %d MB, launcher %s" % (len(firsts), len(pack) >> 20, options.exe))
        print("first run, process start to javaw start: median %.2f s (runs %s)" %
              (first, ", ".join("%.2f" % f for f in firsts)))
        print("pack download alone: median %.2f s; extraction alone: median %.2f s" % (download, extraction))
        print("ratio first run / (download + extraction): %.2f (aim: at most 1.1)" % (first / (download + extraction)))
    finally:
        shutil.rmtree(work, ignore_errors=True)
        stop_bench(xvfb, prefix, origin)


if __name__ == "__main__":
    main()
