"""The program killed at each point of an install, then started again with a good server: the runs
it takes until javaw starts from a complete runtime of the server's version. The aim is the next
run.

Points: right after the second fetch of the version file (the pack's answer has not begun), during the pack
download (part of the pack is on disk), during the extraction (the pack has written nothing yet)
and before the marker (the pack has written everything but has not ended); besides, between the
switch's moves (the new runtime in jre, version.txt not yet replaced). At the extraction points
the program is killed with its extractor (power cut, log-off) or alone (closed from the taskbar,
the extractor goes on). Each point is tried on a first install (empty cache, server version 5) and
on an update (runtime 5 installed, server version 6).

The figures of the last run are written to build/e2e/figures/interrupted-installs.md.
"""
import os
import signal
import time

import pytest

from harness import dialog
from harness import figures
from harness import net
from harness import runtime
from harness import servers
from harness import wine

SERVER_ROOT = wine.E2E_DIR / "interrupt-server"
ARGS = ["start.kvnlp"]
MAX_RUNS = 3
FIGURES = figures.Table("interrupted-installs.md", ["install", "killed at", "runs after the kill", "outcome",
                                                   "dialogs", "killed after (s)", "runs (s)"],
                        "| %s | %s | %s | %s | %d | %.1f | %.1f |")

SCENARIOS = {"first install": (None, "5"), "update": ("5", "6")}
POINTS = ["after the version files", "pack download", "extraction", "extraction, extractor goes on",
          "before marker", "before marker, extractor goes on", "before version.txt"]
# How long the server or the pack keeps the killed run at its point; an extractor that goes on
# after the kill ends this long after it started.
SLOW_SECONDS = 5


def extractor_pids(prefix):
    """The runtime packs running in this prefix (other prefixes on the machine are not looked at)."""
    return [pid for pid, _ in wine.prefix_processes(prefix, ("jre_pack.exe",))]


def kill_extractors(prefix):
    for pid in extractor_pids(prefix):
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass
    assert wine.wait_for(lambda: not extractor_pids(prefix), timeout=10)


def prepare_point(point, root, origin, prefix):
    """Makes the server or the pack slow at the point; returns the test for the moment to kill."""
    cache_pack = lambda prefix: wine.cache_dir(prefix) / "jre_pack.part"
    pack = runtime.pack_bytes()
    if point == "after the version files":
        origin.routes[runtime.PACK_PATH] = ("slow", {"body": pack, "pieces": 1, "delay": 0,
                                                           "lag": SLOW_SECONDS})
        return lambda prefix, version: (origin.count(runtime.PACK_PATH) >= 1 and
                                        read_version(prefix, "version.new") == version)
    if point == "pack download":
        origin.routes[runtime.PACK_PATH] = ("slow", {"body": pack, "pieces": 40,
                                                           "delay": SLOW_SECONDS / 40})
        return lambda prefix, version: (cache_pack(prefix).exists() and
                                        0 < cache_pack(prefix).stat().st_size < len(pack) // 2)
    if point.startswith("extraction"):
        runtime.set_pack(root, runtime.pack_bytes(delay_ms=SLOW_SECONDS * 1000))
        # The pack's own process must be up: its command line is logged just before it is created.
        return lambda prefix, version: (any(t.endswith('jre_pack.exe" -y') for t in wine.log_texts(prefix))
                                        and extractor_pids(prefix))
    if point == "before version.txt":  # version.new held past the kill, between the switch's moves
        wine.plan_faults(prefix, "hold-window-ms 60000", "move 1000 32 \\version.new")
        in_place = lambda prefix: (wine.cache_dir(prefix) / "jre" / "lib" / "pack-record.txt").is_file()
        return lambda prefix, version: in_place(prefix) and read_version(prefix, "version.new") == version
    runtime.set_pack(root, runtime.pack_bytes(hold_ms=SLOW_SECONDS * 1000))
    staged_record = lambda prefix: wine.cache_dir(prefix) / "jre.staging" / "jre" / "lib" / "pack-record.txt"
    return lambda prefix, version: staged_record(prefix).is_file()


def read_version(prefix, name="version.txt"):
    path = wine.cache_dir(prefix) / name
    try:
        return path.read_bytes().decode("latin-1")
    except OSError:
        return None


def working_runtime_started(prefix, version):
    """javaw started once in the run, from a runtime the server's pack unpacked completely and
    that the cache records as that version."""
    cache = wine.cache_dir(prefix)
    # Every case expects javaw from its first run, so a slow javaw is waited for, not run again.
    starts = runtime.javaw_starts(prefix, 1)
    return (len(starts) == 1 and (cache / "jre" / "release").is_file() and (cache / "jre" / "unpack.txt").is_file()
            and read_version(prefix) == version)


@pytest.fixture
def origin_for(clean):
    net.require_network()
    origins = []

    def start(version):
        root = runtime.lay_out_server(SERVER_ROOT, version=version, archive=True)
        origins.append(servers.start_origin(root))
        return root, origins[-1]
    yield start
    kill_extractors(clean)
    for server in origins:
        server.stop()


@pytest.mark.parametrize("point", POINTS, ids=[p.replace(", ", "-").replace(" ", "-") for p in POINTS])
@pytest.mark.parametrize("scenario", list(SCENARIOS), ids=["first-install", "update"])
def test_killed_install_works_again_on_the_next_run(origin_for, clean, display, scenario, point):
    prefix = clean
    installed, version = SCENARIOS[scenario]
    if installed:
        runtime.place_runtime(prefix, version=installed)
    root, origin = origin_for(version)
    ready = prepare_point(point, root, origin, prefix)

    started = time.perf_counter()
    proc = wine.start(prefix, display, ARGS, exe=wine.FAULTS_EXE if point == "before version.txt" else wine.EXE)
    try:
        assert wine.wait_for(lambda: ready(prefix, version), timeout=60, interval=0.05), "point not reached"
        if point.startswith("extraction"):
            time.sleep(1.0)  # the new process has finished starting and waits in the pack's delay
    finally:
        proc.kill()
        proc.wait(timeout=30)
    killed_after = time.perf_counter() - started
    if "goes on" not in point:
        kill_extractors(prefix)
    else:
        assert extractor_pids(prefix)

    # Started again with a good server.
    runtime.set_pack(root, runtime.pack_bytes())
    if point == "before version.txt" and not installed:  # a start without the server's number finishes it too
        origin.routes[runtime.VERSION_PATH] = ("body", {"body": b""})
        assert dialog.run(prefix, display, ARGS, timeout=180)[:2] == (0, []) and read_version(prefix) == version
    origin.clear()
    runs, answered, seconds, outcome = 0, [], 0.0, "no working runtime"
    while runs < MAX_RUNS:
        runs += 1
        runtime.javaw_record(prefix).unlink(missing_ok=True)
        code, boxes, took = dialog.run(prefix, display, ARGS, dialog.AS_A_USER, timeout=180)
        answered += boxes
        seconds += took
        assert code == 0
        if working_runtime_started(prefix, version):
            outcome = "javaw from the complete runtime %s" % version
            break
    FIGURES.add(scenario, point, runs if "complete" in outcome else "more than %d" % MAX_RUNS, outcome,
                len(answered), killed_after, seconds)
    assert outcome.startswith("javaw") and runs == 1 and answered == [], (runs, outcome, answered)
    # One download of the pack (none once the new runtime was in place), never over the one an
    # earlier extractor still runs from.
    assert origin.count(runtime.PACK_PATH) == (0 if point == "before version.txt" else 1)
    waited = "RunExtract: Entpacker eines fr\xfcheren Starts l\xe4uft noch, warte auf sein Ende"
    assert (waited in wine.log_texts(prefix)) == ("goes on" in point)
