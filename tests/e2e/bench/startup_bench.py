"""Start-up overhead on a warm cache: the launcher's time from process start to javaw's start,
against the minimal WinHTTP client (one HTTPS request, then the same javaw), both under Wine in
one shuffled run, with nginx serving the version file and the launcher archive. The launcher runs
twice: with a signed version file that names the served archive and with the plain number (its
archive then asked for with If-None-Match); with --keyed 1 the launcher built with the test release
key runs too, on the signed file. --rtt MS puts a relay of that round trip between the programs
and nginx; --keepalive 0 makes nginx close each connection after one request. Prints the medians
and the requests and connections nginx logged per warm start. Not part of the test run. Needs nginx
(apt-get install nginx-light). Run inside the test namespace:
    ip netns exec tarvolin-e2e env LAUNCHER_BUILD_DIR=$PWD/build /usr/bin/python3 tests/e2e/bench/startup_bench.py [--runs 10] [--keyed 1] [--rtt 50]
"""
import random
import statistics
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

from harness import bench_options  # noqa: E402
from harness import release  # noqa: E402
from harness import runtime  # noqa: E402
from harness import servers  # noqa: E402
from harness import wine  # noqa: E402
from relay import Relay  # noqa: E402


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
    # A Windows session always has its desktop; without a program holding it, Wine would start its
    # desktop process again inside every timed start that opens a window.
    _desktops[str(prefix)] = wine.start(prefix, display, [], exe=wine.TOOLS / "desktop_session.exe")
    return xvfb, display, prefix, origin, runtime.javaw_record(prefix)


_desktops = {}


def stop_bench(xvfb, prefix, origin):
    desktop = _desktops.pop(str(prefix), None)
    if desktop:
        desktop.kill()
        desktop.wait(timeout=10)
    origin.stop()
    wine.stop_prefix(prefix)
    xvfb.terminate()


def report(name, times):
    print("%-40s median %.3f s (min %.3f, max %.3f)" % (name + ":", statistics.median(times), min(times), max(times)))


LAUNCHER = "launcher, version file naming the archive"
UNNAMED = "launcher, version file without archive lines"
KEYED = "launcher with a key, signed and vouched"
BASELINE = "minimal WinHTTP client"
WINDOWED = "minimal client opening the window first"


def serve_from_nginx(root, options):
    """nginx serving root (with ETags and 304, as a static file server does), behind a relay of
    options.rtt ms when that is not 0; returns a function that stops both and nginx's log."""
    from archive_bench import start_nginx
    folder = wine.E2E_DIR / "bench-nginx"
    nginx = start_nginx(folder, root, port=8443 if options.rtt else 443, keepalive=options.keepalive)
    try:
        relay = Relay(443, 8443, options.rtt) if options.rtt else None
    except (OSError, RuntimeError):
        nginx.terminate()
        raise

    def stop():
        if relay:
            relay.stop()
        nginx.terminate()
        nginx.wait(timeout=10)
    return stop, folder / "access.log"


def requests_since(log, since):
    """(requests, connections) nginx logged after its first since lines."""
    lines = log.read_text().splitlines()
    return len(lines) - since, len({line.split()[3] for line in lines[since:]})


def second_request_gaps(log):
    """Milliseconds, on nginx's clock, from each version file's answer to the archive's answer right
    after it: what a warm start's second download costs on the wire, whatever the load."""
    lines = [line.split() for line in log.read_text().splitlines()]
    return [(float(b[4]) - float(a[4])) * 1000 for a, b in zip(lines, lines[1:])
            if a[0] == runtime.VERSION_PATH and b[0] == "/" + runtime.GENERIC_ARCHIVE]


def main():
    options = bench_options.parse(__doc__, runs=10, keyed=0, rtt=0, keepalive=75)
    xvfb, display, prefix, origin, record = start_bench("bench")
    stop_nginx = None
    try:
        argument = LAUNCH_ARGUMENT
        time_to_javaw(prefix, display, argument, wine.EXE, record, timeout=120)  # installs: warm cache
        origin.stop()
        # The runtime's javaw is a windowed program; the console stand-in would cost each start from
        # the launcher (which has no console) a console host the minimal client's javaw inherits.
        javaw_file = wine.cache_dir(prefix) / "jre" / "bin" / "javaw.exe"
        javaw_file.write_bytes(runtime.as_windowed_program(javaw_file.read_bytes()))
        javaw = runtime.windows_cache(prefix) + "\\jre\\bin\\javaw.exe"
        baseline_args = ["get.tarvolin.example", runtime.VERSION_PATH, javaw]
        root = wine.E2E_DIR / "bench-server"
        version_file = root / runtime.PRODUCTION_JRE / "version.txt"
        plain = version_file.read_bytes()
        (root / runtime.GENERIC_ARCHIVE).parent.mkdir(parents=True, exist_ok=True)
        (root / runtime.GENERIC_ARCHIVE).write_bytes(runtime.launcher_archive())
        named = release.publish(root, 5, runtime.pack_bytes(), keys=release.KEYS, archive=True)
        stop_nginx, log = serve_from_nginx(root, options)
        clients = {LAUNCHER: (wine.EXE, argument, named), UNNAMED: (wine.EXE, argument, plain),
                   BASELINE: (wine.TOOLS / "winhttp_baseline.exe", baseline_args, named),
                   WINDOWED: (wine.TOOLS / "winhttp_baseline.exe", baseline_args + ["--window"], named)}
        if options.keyed:
            clients[KEYED] = (release.keyed_launcher(), argument, named)
        times = {name: [] for name in clients}
        counts = {name: [] for name in clients}
        order = list(clients)
        for run in range(options.runs + 1):
            random.shuffle(order)  # no client always runs right after the same other one
            for name in order:
                exe, args, text = clients[name]
                version_file.write_bytes(text)
                since = len(log.read_text().splitlines())
                seconds = time_to_javaw(prefix, display, args, exe, record)
                requests, connections = requests_since(log, since)
                if run:  # the first round takes the archive's copy and warms the caches
                    times[name].append(seconds)
                    counts[name].append((requests, connections))
        print("runs: %d, round trip %d ms, nginx keepalive_timeout %d" % (options.runs, options.rtt, options.keepalive))
        for name, measured in times.items():
            report(name, measured)
            print("%-40s requests %s, connections %s per warm start (medians)" % (
                "", statistics.median(c[0] for c in counts[name]), statistics.median(c[1] for c in counts[name])))
        gaps = second_request_gaps(log)
        if gaps:
            print("version file's answer to the archive's (nginx's clock): median %.0f ms" % statistics.median(gaps))
        medians = {name: statistics.median(measured) for name, measured in times.items()}
        baseline = medians[BASELINE]
        # Each round's clients run within seconds of each other: their ratio cancels most of a load that
        # changes from minute to minute. Aim for the launchers with the archive named: at most 1.15.
        # Against the client that opens the same window: what the launcher adds beyond the window.
        for yardstick, label in ((BASELINE, "minimal client"), (WINDOWED, "client with the window")):
            for name in [name for name in times if name not in (BASELINE, WINDOWED)]:
                rounds = statistics.median(t / b for t, b in zip(times[name], times[yardstick]))
                print("%s / %s: %.2f (medians), %.2f (median of the rounds' ratios)" %
                      (name, label, medians[name] / medians[yardstick], rounds))
        print("window's cost (medians): %+.0f ms" % ((medians[WINDOWED] - baseline) * 1000))
        if options.keyed:
            print("keyed minus keyless (medians): %+.1f ms (aim: under 10 ms)" %
                  ((medians[KEYED] - medians[LAUNCHER]) * 1000))
    finally:
        if stop_nginx:
            stop_nginx()
        stop_bench(xvfb, prefix, origin)


if __name__ == "__main__":
    main()
