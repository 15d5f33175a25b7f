"""The private runtime provisioned from a download server: first install, a current runtime, a
lower or forced version, a refused pack, a failing extractor and Escape during a slow extraction.

The origin serves a server root under build/e2e/runtime-server on 127.0.0.1:443 inside the test
namespace; the demo pack unpacks the recording stand-in javaw.
"""
import shutil
import struct
import subprocess
import time

import launch_bench
import runtime_bench
import winbench

CAPTION = "tarvolin Launcher Fehler"
SERVER_ROOT = winbench.E2E_DIR / "runtime-server"
COMMITTED = "EnsureRuntime: neue Runtime installiert, Version %d"
STEP8 = "localVersion=%d, remoteVersion=%d, ... need to dl java"


def xdotool(display, *args):
    result = subprocess.run(["xdotool", *args], env={"DISPLAY": display}, capture_output=True, text=True,
                            timeout=20)
    return result.stdout.strip()


def run_answering_dialogs(prefix, display, args, timeout=120):
    """Runs the launcher, pressing Return on each warning box; returns (exit code, boxes closed)."""
    proc = winbench.start(prefix, display, args)
    closed = 0
    deadline = time.time() + timeout
    try:
        while proc.poll() is None and time.time() < deadline:
            for window in xdotool(display, "search", "--name", "^" + CAPTION + "$").split():
                xdotool(display, "windowactivate", "--sync", window)
                xdotool(display, "key", "--window", window, "Return")
                closed += 1
                time.sleep(0.5)
            time.sleep(0.3)
        return proc.wait(timeout=5), closed
    finally:
        if proc.poll() is None:
            proc.kill()


def javaw_starts(prefix, count):
    record = winbench.cache_dir(prefix) / "jre" / "bin" / "javaw-record.txt"
    return winbench.wait_for(lambda: len(launch_bench.read_records(record)) >= count and
                             launch_bench.read_records(record), timeout=20) or []


def new_log_texts(prefix, before):
    return winbench.log_texts(prefix)[before:]


def test_first_run_installs_and_second_run_finds_the_runtime_current(server, display):
    root, origin, prefix = server
    cache = winbench.cache_dir(prefix)
    assert winbench.run(prefix, display, ["start.kvnlp"], timeout=120) == 0

    assert origin.count(runtime_bench.VERSION_PATH) == 2
    assert origin.count(runtime_bench.PACK_PATH) == 1
    assert not (cache / "version.tmp").exists()
    assert (cache / "version.txt").read_bytes() == b"5"
    assert (cache / "jre" / "unpack.txt").is_file()
    assert (cache / "jre_pack.exe").read_bytes() == (root / runtime_bench.PRODUCTION_JRE / "jre_pack.exe").read_bytes()
    windows_cache = runtime_bench.windows_cache(prefix)
    record = runtime_bench.pack_record(prefix)
    # The pack runs from inside the staging folder, whatever way it unpacks.
    staged_pack = '"%s\\jre.staging\\jre_pack.exe" -y' % windows_cache
    assert record["CMDLINE"] == staged_pack
    assert record["CWD"].lower() == (windows_cache + "\\jre.staging").lower()
    assert not (cache / "jre.staging").exists() and not (cache / "jre.old").exists()
    texts = winbench.log_texts(prefix)
    assert STEP8 % (-1, 5) in texts
    assert texts.index(STEP8 % (-1, 5)) < texts.index(staged_pack) < texts.index(COMMITTED % 5)
    starts = javaw_starts(prefix, 1)
    assert len(starts) == 1
    argv = starts[0][1]
    assert argv[0] == windows_cache + "\\jre\\bin\\javaw"
    assert argv[8:10] == ["-Dde.tarvolin.RoamingPath=", "-jar"] and len(argv) == 12

    origin.clear()
    before = len(winbench.log_texts(prefix))
    assert winbench.run(prefix, display, ["start.kvnlp"], timeout=120) == 0
    assert origin.count(runtime_bench.VERSION_PATH) == 1
    assert origin.count(runtime_bench.PACK_PATH) == 0
    assert not (cache / "version.tmp").exists()
    assert not any("need to dl java" in t for t in new_log_texts(prefix, before))
    assert len(javaw_starts(prefix, 2)) == 2


def test_lower_server_number_installs_nothing_higher_one_installs(server, display):
    root, origin, prefix = server
    assert winbench.run(prefix, display, ["start.kvnlp"], timeout=120) == 0
    runtime_bench.set_version(root, "3")
    origin.clear()
    assert winbench.run(prefix, display, ["start.kvnlp"], timeout=120) == 0
    assert origin.count(runtime_bench.PACK_PATH) == 0
    assert (winbench.cache_dir(prefix) / "version.txt").read_bytes() == b"5"

    runtime_bench.set_version(root, " 12\n")
    before = len(winbench.log_texts(prefix))
    assert winbench.run(prefix, display, ["start.kvnlp"], timeout=120) == 0
    assert origin.count(runtime_bench.PACK_PATH) == 1
    assert STEP8 % (5, 12) in new_log_texts(prefix, before)
    assert (winbench.cache_dir(prefix) / "jre" / "unpack.txt").is_file()


def test_forcedownload_installs_on_every_run(server, display, tmp_path):
    root, origin, prefix = server
    properties = tmp_path / "forced.properties"
    jre = "/" + runtime_bench.TEST_JRE
    properties.write_text("hostname=get.tarvolin.example\nforcedownload=true\nversionDownloadPath=%s/version.txt\n"
                          "resourceDownloadPath=%s/jre_pack.exe\n" % (jre, jre))
    jar = tmp_path / "launcher.jar"
    jar.write_bytes((winbench.ROOT / "res" / "launcher.jar").read_bytes())
    # The two-argument form runs the runtime check with the given property file and starts no javaw.
    for run in range(2):
        origin.clear()
        assert winbench.run(prefix, display, [str(properties), str(jar)], timeout=120) == 0
        assert origin.count("/" + runtime_bench.TEST_JRE + "/jre_pack.exe") == 1
        assert (winbench.cache_dir(prefix) / "jre" / "unpack.txt").is_file()
    texts = winbench.log_texts(prefix)
    assert texts.count(STEP8 % (-1, 5)) == 1 and texts.count(STEP8 % (5, 5)) == 1


def test_folder_named_unpack_txt_or_jre_without_bin_installs_again(server, display):
    root, origin, prefix = server
    cache = winbench.cache_dir(prefix)
    launch_bench.place_runtime(prefix, version="5")
    (cache / "jre" / "unpack.txt").unlink()
    (cache / "jre" / "unpack.txt").mkdir()
    assert winbench.run(prefix, display, ["start.kvnlp"], timeout=120) == 0
    assert origin.count(runtime_bench.PACK_PATH) == 1
    assert (cache / "jre" / "unpack.txt").is_file()

    winbench.clear_user_state(prefix)
    launch_bench.place_runtime(prefix, version="5")
    shutil.rmtree(cache / "jre" / "bin")
    origin.clear()
    assert winbench.run(prefix, display, ["start.kvnlp"], timeout=120) == 0
    assert origin.count(runtime_bench.PACK_PATH) == 1
    assert (cache / "jre" / "bin" / "javaw.exe").is_file()


def test_refused_pack_keeps_the_old_runtime_and_the_next_run_retries(server, display):
    root, origin, prefix = server
    cache = winbench.cache_dir(prefix)
    record = launch_bench.place_runtime(prefix, version="5")
    (cache / "jre" / "old-runtime.txt").write_text("old")
    runtime_bench.set_version(root, "6")
    runtime_bench.remove_pack(root)

    code, closed = run_answering_dialogs(prefix, display, ["start.kvnlp"])
    assert code == 0 and closed >= 1
    texts = winbench.log_texts(prefix)
    failure = "Jre download failed host=get.tarvolin.example, path=/%s/jre_pack.exe, to file %s\\jre_pack.exe" % (
        runtime_bench.PRODUCTION_JRE, runtime_bench.windows_cache(prefix))
    assert failure in texts
    assert (cache / "jre" / "old-runtime.txt").exists() and (cache / "jre" / "unpack.txt").is_file()
    assert (cache / "version.txt").read_bytes() == b"5"
    assert not any(t.endswith('jre_pack.exe" -y') for t in texts)
    # The old runtime starts.
    assert len(winbench.wait_for(lambda: launch_bench.read_records(record), timeout=20)) == 1

    runtime_bench.set_pack(root, runtime_bench.pack_bytes())
    origin.clear()
    assert winbench.run(prefix, display, ["start.kvnlp"], timeout=120) == 0
    assert origin.count(runtime_bench.PACK_PATH) == 1
    assert not (cache / "jre" / "old-runtime.txt").exists()
    assert (cache / "version.txt").read_bytes() == b"6"


def test_failing_extractor_keeps_the_installed_runtime_and_the_next_run_installs(server, display):
    root, origin, prefix = server
    cache = winbench.cache_dir(prefix)
    record = launch_bench.place_runtime(prefix, version="4")
    (cache / "jre" / "old-runtime.txt").write_text("old")
    runtime_bench.set_pack(root, runtime_bench.pack_bytes(exit_code=3))
    assert winbench.run(prefix, display, ["start.kvnlp"], timeout=120) == 0
    # The pack unpacked everything and failed: its runtime is not taken, the old one starts.
    assert (cache / "jre" / "old-runtime.txt").exists() and (cache / "jre" / "unpack.txt").is_file()
    assert (cache / "version.txt").read_bytes() == b"4"
    assert not (cache / "jre.staging").exists()
    texts = winbench.log_texts(prefix)
    assert "RunExtract: Java JRE nicht vollst\xe4ndig entpackt, Exitcode 3" in texts
    assert "EnsureRuntime: neue Runtime unvollst\xe4ndig entpackt, bisherige Runtime bleibt" in texts
    assert len(winbench.wait_for(lambda: launch_bench.read_records(record), timeout=20)) == 1

    runtime_bench.set_pack(root, runtime_bench.pack_bytes())
    origin.clear()
    assert winbench.run(prefix, display, ["start.kvnlp"], timeout=120) == 0
    assert origin.count(runtime_bench.PACK_PATH) == 1
    assert (cache / "jre" / "unpack.txt").is_file()


def press_escape(display, window):
    """A real key press (XTEST) on the focused splash; Wine ignores keys sent to a window."""
    xdotool(display, "windowfocus", "--sync", window)
    xdotool(display, "mousemove", "--window", window, "285", "100")
    xdotool(display, "click", "1")
    time.sleep(0.3)
    xdotool(display, "key", "Escape")


def slow_generic_archive(origin, seconds=20):
    archive = (winbench.ROOT / "res" / "launcher.jar").read_bytes()
    origin.routes["/" + runtime_bench.GENERIC_ARCHIVE] = ("slow", {"body": archive, "pieces": seconds,
                                                                   "delay": 1.0})


def splash(display):
    found = winbench.wait_for(lambda: xdotool(display, "search", "--name", "^Zentrix$").split(), timeout=20)
    assert found
    return found[0]


def test_escape_is_ignored_during_a_slow_extraction_and_works_after_it(server, display):
    root, origin, prefix = server
    cache = winbench.cache_dir(prefix)
    runtime_bench.set_pack(root, runtime_bench.pack_bytes(delay_ms=6000))
    slow_generic_archive(origin)
    proc = winbench.start(prefix, display, ["start.kvnlp"])
    try:
        assert winbench.wait_for(lambda: any(t.endswith('jre_pack.exe" -y') for t in winbench.log_texts(prefix)),
                                 timeout=60)
        window = splash(display)
        for _ in range(3):
            press_escape(display, window)
            time.sleep(0.5)
        assert proc.poll() is None, "Escape ended the program during the extraction"
        # The extraction ends, the marker follows; during the slow archive probe Escape works again.
        assert winbench.wait_for(lambda: (cache / "jre" / "unpack.txt").is_file(), timeout=60)
        assert winbench.wait_for(lambda: any("launcher/launcher.jar" in t for t in winbench.log_texts(prefix)),
                                 timeout=30)
        press_escape(display, window)
        assert proc.wait(timeout=15) == 0
        assert not (cache / "jre" / "bin" / "javaw-record.txt").exists()
    finally:
        if proc.poll() is None:
            proc.kill()


def test_pack_that_cannot_be_started_logs_one_error_and_escape_works_again(server, display):
    root, origin, prefix = server
    # A Windows program, so it passes the pack check, but for a machine this one cannot run.
    program = bytearray(runtime_bench.pack_bytes())
    pe = struct.unpack_from("<I", program, 0x3C)[0]
    struct.pack_into("<H", program, pe + 4, 0x0200)
    runtime_bench.set_pack(root, bytes(program))
    slow_generic_archive(origin)
    proc = winbench.start(prefix, display, ["start.kvnlp"])
    try:
        context = "RunExtract: Java JRE konnte nicht entpackt werden"
        assert winbench.wait_for(lambda: any(t.endswith(context) for t in winbench.log_texts(prefix)), timeout=60)
        texts = winbench.log_texts(prefix)
        assert len([t for t in texts if t.endswith(context)]) == 1
        assert [t for t in texts if t.endswith(context)][0].startswith("Fehler ")
        assert not (winbench.cache_dir(prefix) / "jre" / "unpack.txt").exists()
        press_escape(display, splash(display))
        assert proc.wait(timeout=15) == 0
    finally:
        if proc.poll() is None:
            proc.kill()
