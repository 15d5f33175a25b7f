"""Start-up with a proxy configuration script: the launcher's time from process start to javaw's
start on a warm cache, with the user's settings naming a script that sends the download host
through tinyproxy, against the same proxy given as a proxy text; and with automatic detection on
(no script to be found) against detection off (runs alternating). Not part of the test run. Run inside the test namespace:
    ip netns exec tarvolin-e2e env LAUNCHER_BUILD_DIR=$PWD/build /usr/bin/python3 tests/e2e/bench/proxy_script_bench.py [--runs 10]
"""
import statistics
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

from bench.startup_bench import LAUNCH_ARGUMENT  # noqa: E402
from bench.startup_bench import start_bench  # noqa: E402
from bench.startup_bench import stop_bench  # noqa: E402
from bench.startup_bench import time_to_javaw  # noqa: E402
from harness import bench_options  # noqa: E402
from harness import servers  # noqa: E402
from harness import wine  # noqa: E402

FORMS = ("script", "text", "detect", "off")


def main():
    runs = bench_options.parse(__doc__, runs=10).runs
    xvfb, display, prefix, origin, record = start_bench("proxy-script-bench")
    proxy = servers.Tinyproxy(wine.E2E_DIR / "proxy-script-bench-tinyproxy").start()
    script = servers.ScriptServer(servers.route_script("PROXY " + proxy.address)).start()
    try:
        argument = LAUNCH_ARGUMENT
        forms = {"script": servers.connection_settings(script=script.url),
                 "text": servers.connection_settings(proxy=proxy.address),
                 "detect": servers.connection_settings(detect=True), "off": servers.connection_settings()}
        servers.set_connection_settings(prefix, display, forms["text"])
        time_to_javaw(prefix, display, argument, wine.EXE, record, timeout=180)  # installs: warm cache
        times = {form: [] for form in FORMS}
        for _ in range(runs):
            for form in FORMS:
                servers.set_connection_settings(prefix, display, forms[form])
                times[form].append(time_to_javaw(prefix, display, argument, wine.EXE, record))
        print("runs: %d" % runs)
        for form in FORMS:
            print("%-6s median %.3f s (min %.3f, max %.3f)" % (form, statistics.median(times[form]),
                                                              min(times[form]), max(times[form])))
        print("ratio script/text (medians): %.2f (aim: at most 1.2)" %
              (statistics.median(times["script"]) / statistics.median(times["text"])))
        print("detection on, no script, over off (medians): %+.3f s" %
              (statistics.median(times["detect"]) - statistics.median(times["off"])))
    finally:
        servers.set_connection_settings(prefix, display, None)
        script.stop()
        proxy.stop()
        stop_bench(xvfb, prefix, origin)


if __name__ == "__main__":
    main()
