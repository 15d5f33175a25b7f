"""Start-up overhead on a warm cache: the launcher's time from process start to javaw's start,
against the minimal WinHTTP client (one HTTPS request, then the same javaw), both under Wine in
the same run. With --keyed 1 the launcher built with the test release key runs as a third client,
against a signed version file that vouches for the served archive (the keyless launcher then gets
the plain number, as an unsigned server serves it). Not part of the test run. Run inside the test
namespace:
    ip netns exec tarvolin-e2e env LAUNCHER_BUILD_DIR=$PWD/build /usr/bin/python3 tests/e2e/bench/startup_bench.py [--runs 10] [--keyed 1]
"""
import random
import statistics
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

from harness import bench_options  # noqa: E402
from harness import release  # noqa: E402
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


def report(name, times):
    print("%-40s median %.3f s (min %.3f, max %.3f)" % (name + ":", statistics.median(times), min(times), max(times)))


def main():
    options = bench_options.parse(__doc__, runs=10, keyed=0)
    runs = options.runs
    xvfb, display, prefix, origin, record = start_bench("bench")
    try:
        argument = LAUNCH_ARGUMENT
        time_to_javaw(prefix, display, argument, wine.EXE, record, timeout=120)  # installs: warm cache
        javaw = runtime.windows_cache(prefix) + "\\jre\\bin\\javaw.exe"
        baseline_args = ["get.tarvolin.example", runtime.VERSION_PATH, javaw]
        root = wine.E2E_DIR / "bench-server"
        plain = (root / runtime.PRODUCTION_JRE / "version.txt").read_bytes()
        if options.keyed:
            (root / runtime.GENERIC_ARCHIVE).parent.mkdir(parents=True, exist_ok=True)
            (root / runtime.GENERIC_ARCHIVE).write_bytes(runtime.launcher_archive())
            signed = release.publish(root, 5, runtime.pack_bytes(), keys=release.KEYS, archive=True)
            # As a static file server serves it: with its ETag, 304 for the copy the launchers keep.
            origin.routes["/" + runtime.GENERIC_ARCHIVE] = ("ranged", {"body": runtime.launcher_archive(),
                                                                       "ranges": False})
        clients = {"launcher, process start to javaw start": (wine.EXE, argument, plain),
                   "minimal WinHTTP client": (wine.TOOLS / "winhttp_baseline.exe", baseline_args, plain)}
        if options.keyed:
            clients["launcher with a key, signed and vouched"] = (release.keyed_launcher(), argument, signed)
        times = {name: [] for name in clients}
        order = list(clients)
        for _ in range(runs):
            random.shuffle(order)  # no client always runs right after the same other one
            for name in order:
                exe, args, version_file = clients[name]
                (root / runtime.PRODUCTION_JRE / "version.txt").write_bytes(version_file)
                times[name].append(time_to_javaw(prefix, display, args, exe, record))
        print("runs: %d" % runs)
        for name, measured in times.items():
            report(name, measured)
        medians = {name: statistics.median(measured) for name, measured in times.items()}
        baseline = medians["minimal WinHTTP client"]
        print("ratio (medians): %.2f (aim: at most 1.5)" % (medians["launcher, process start to javaw start"] / baseline))
        if options.keyed:
            keyed = medians["launcher with a key, signed and vouched"]
            print("keyed ratio (medians): %.2f (aim: at most 1.15)" % (keyed / baseline))
            print("keyed minus keyless (medians): %+.1f ms (aim: under 10 ms)" %
                  ((keyed - medians["launcher, process start to javaw start"]) * 1000))
    finally:
        stop_bench(xvfb, prefix, origin)


if __name__ == "__main__":
    main()
