"""A pack download ended at half way, then a second start: bytes served and seconds, with a server
that honours ranges (the second start goes on) against one that does not (it starts over). Both
starts get the pack at the same limited rate, as on a slow line. Empty cache each time. Not part
of the test run. Run inside the test namespace:
    ip netns exec tarvolin-e2e env LAUNCHER_BUILD_DIR=$PWD/build \\
        /usr/bin/python3 tests/e2e/bench/resume_bench.py [--runs 3] [--mb 20] [--rate-mb 4]
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

CUT_AT = 0.5


def padded_pack(size):
    javaw = (wine.TOOLS / "fake_javaw.exe").read_bytes()
    return runtime.pack_bytes(javaw=javaw + b"\0" * max(0, size - len(javaw)))


def one_run(prefix, display, origin, pack, rate, ranges):
    """Returns (bytes served in all, bytes served to the second start, seconds of the first start
    until the kill, seconds of the second)."""
    wine.wait_for(lambda: not wine.prefix_processes(prefix), timeout=30)
    wine.clear_user_state(prefix)
    origin.clear()
    origin.routes[runtime.PACK_PATH] = ("ranged", {"body": pack, "rate": rate, "ranges": ranges})
    started = time.perf_counter()
    proc = wine.start(prefix, display, ["start.kvnlp"])
    try:
        if not wine.wait_for(lambda: origin.sent(runtime.PACK_PATH) >= CUT_AT * len(pack), timeout=300,
                             interval=0.02):
            raise RuntimeError("the first download did not reach half way")
    finally:
        proc.kill()
        proc.wait(timeout=30)
    first = time.perf_counter() - started
    served_first = origin.sent(runtime.PACK_PATH)
    started = time.perf_counter()
    code = wine.run(prefix, display, ["start.kvnlp"], timeout=600)
    second = time.perf_counter() - started
    if code != 0 or (wine.cache_dir(prefix) / "jre_pack.exe").read_bytes() != pack:
        raise RuntimeError("the second start did not install the pack")
    served = origin.sent(runtime.PACK_PATH)
    return served, served - served_first, first, second


def main():
    options = bench_options.parse(__doc__, runs=3, mb=20, rate_mb=4.0)
    xvfb, display = wine.start_xvfb()
    prefix = wine.boot_prefix(wine.E2E_DIR / "bench-prefix", display)
    root = runtime.lay_out_server(wine.E2E_DIR / "bench-server", version="5")
    origin = servers.start_origin(root)
    pack = padded_pack(options.mb << 20)
    rate = options.rate_mb * (1 << 20)
    try:
        results = {}
        for name, ranges in (("resumed", True), ("started over", False)):
            runs = [one_run(prefix, display, origin, pack, rate, ranges) for _ in range(options.runs)]
            served, later, first, second = (statistics.median(r[i] for r in runs) for i in range(4))
            results[name] = served, later, second
            print("%-13s served %5.1f MB = %.2f packs (second start %5.1f MB = %.2f packs); first start until "
                  "the cut %.1f s, second start %.1f s (medians of %d)" % (
                      name, served / 1e6, served / len(pack), later / 1e6, later / len(pack), first, second,
                      len(runs)))
        (served_r, later_r, second_r), (served_o, later_o, second_o) = results["resumed"], results["started over"]
        print("pack %.1f MB at %.1f MB/s, cut at %d %%: resumed / started over: bytes in all %.2f, bytes of the "
              "second start %.2f, time of the second start %.2f" % (
                  len(pack) / 1e6, options.rate_mb, CUT_AT * 100, served_r / served_o, later_r / later_o,
                  second_r / second_o))
    finally:
        origin.stop()
        wine.stop_prefix(prefix)
        xvfb.terminate()


if __name__ == "__main__":
    main()
