"""Consecutive starts on a warm cache: every start launches javaw, leaves exactly its two payload
files and its probe file in the temporary folder, writes only lines ended by CR LF, and leaves no
process behind. The time of each start (process start to its end) is recorded.

The default run makes LAUNCHER_SOAK_STARTS=15 starts; the long run makes 200:
    ip netns exec tarvolin-e2e env LAUNCHER_BUILD_DIR=$PWD/build LAUNCHER_SOAK_STARTS=200 \\
        /usr/bin/python3 -m pytest -q -s -p no:cacheprovider tests/e2e/test_soak.py
"""
import os
import statistics
import time

from harness import runtime
from harness import wine

STARTS = max(1, int(os.environ.get("LAUNCHER_SOAK_STARTS", "15")))
SERVER_ROOT = wine.E2E_DIR / "soak-server"


def temp_files(prefix):
    temp = wine.temp_dir(prefix)
    return {p.name for p in temp.iterdir()} if temp.exists() else set()


def unended_lines(data):
    """Lines of the log that do not end in CR LF, or hold a lone CR or LF."""
    pieces = data.split(b"\r\n")
    bad = [p for p in pieces[:-1] if b"\r" in p or b"\n" in p]
    if pieces[-1]:
        bad.append(pieces[-1])
    return bad


def test_consecutive_starts_on_a_warm_cache(server, display):
    root, origin, prefix = server
    record = runtime.place_runtime(prefix, version="5")
    times, leftovers, wrong_temp = [], [], []
    for number in range(STARTS):
        before = temp_files(prefix)
        started = time.perf_counter()
        code = wine.run(prefix, display, ["start.kvnlp"], timeout=90)
        # An exit code the program does not return names its start and the report kept of it.
        assert code == 0, "soak start %d of %d ended with %r" % (number + 1, STARTS, code)
        times.append(time.perf_counter() - started)
        starts = runtime.recorded_starts(record, number + 1)
        assert len(starts) == number + 1, "start %d did not launch javaw" % (number + 1)
        new = sorted(temp_files(prefix) - before)
        if sorted(name[:3].upper() for name in new) != ["TPL", "TPL"]:
            wrong_temp.append((number + 1, new))
        # javaw ends by itself right after it recorded; nothing of the run may stay.
        if not wine.wait_for(lambda: not wine.prefix_processes(prefix), timeout=15):
            leftovers.append((number + 1, wine.prefix_processes(prefix)))

    data = wine.log_path(prefix).read_bytes()
    texts = wine.log_texts(prefix)
    assert wrong_temp == [], wrong_temp
    assert leftovers == [], leftovers
    assert unended_lines(data) == []
    assert texts.count("Start wWinMain:") == STARTS
    assert origin.count(runtime.VERSION_PATH) == STARTS
    assert origin.count(runtime.PACK_PATH) == 0
    print("FIGURE soak: starts=%d, launched=%d, median=%.2f s, max=%.2f s, min=%.2f s, temp_files_per_start=3, "
          "log_lines=%d, lines_without_crlf=0, processes_left=0" %
          (STARTS, len(runtime.read_records(record)), statistics.median(times), max(times), min(times),
           len(texts)))
