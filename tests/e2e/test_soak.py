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
from pathlib import Path

import launch_bench
import runtime_bench
import winbench

STARTS = max(1, int(os.environ.get("LAUNCHER_SOAK_STARTS", "15")))
SERVER_ROOT = winbench.E2E_DIR / "soak-server"
# Programs of a run that must all have ended once it is over.
RUN_PROGRAMS = ("DesktopLauncher.exe", "javaw.exe", "jre_pack.exe", "answer_box.exe")


def prefix_processes(prefix, programs=RUN_PROGRAMS):
    """Processes of this prefix (by WINEPREFIX) whose command line names one of the programs."""
    marker = ("WINEPREFIX=%s" % prefix).encode()
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            if marker not in (entry / "environ").read_bytes().split(b"\0"):
                continue
            cmdline = (entry / "cmdline").read_bytes().replace(b"\0", b" ").decode("utf-8", "replace")
        except OSError:
            continue
        if any(program.lower() in cmdline.lower() for program in programs):
            found.append((int(entry.name), cmdline.strip()))
    return found


def temp_files(prefix):
    temp = winbench.temp_dir(prefix)
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
    record = launch_bench.place_runtime(prefix, version="5")
    times, leftovers, wrong_temp = [], [], []
    for number in range(STARTS):
        before = temp_files(prefix)
        started = time.perf_counter()
        assert winbench.run(prefix, display, ["start.kvnlp"], timeout=90) == 0
        times.append(time.perf_counter() - started)
        starts = winbench.wait_for(lambda: len(launch_bench.read_records(record)) > number and
                                   launch_bench.read_records(record), timeout=20) or []
        assert len(starts) == number + 1, "start %d did not launch javaw" % (number + 1)
        new = sorted(temp_files(prefix) - before)
        if sorted(name[:3].upper() for name in new) != ["LNC", "TPL", "TPL"]:
            wrong_temp.append((number + 1, new))
        # javaw ends by itself right after it recorded; nothing of the run may stay.
        if not winbench.wait_for(lambda: not prefix_processes(prefix), timeout=15):
            leftovers.append((number + 1, prefix_processes(prefix)))

    data = winbench.log_path(prefix).read_bytes()
    texts = winbench.log_texts(prefix)
    assert wrong_temp == [], wrong_temp
    assert leftovers == [], leftovers
    assert unended_lines(data) == []
    assert texts.count("Start wWinMain:") == STARTS
    assert origin.count(runtime_bench.VERSION_PATH) == STARTS
    assert origin.count(runtime_bench.PACK_PATH) == 0
    print("FIGURE soak: starts=%d, launched=%d, median=%.2f s, max=%.2f s, min=%.2f s, temp_files_per_start=3, "
          "log_lines=%d, lines_without_crlf=0, processes_left=0" %
          (STARTS, len(launch_bench.read_records(record)), statistics.median(times), max(times), min(times),
           len(texts)))
