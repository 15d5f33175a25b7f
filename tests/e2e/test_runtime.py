"""The private runtime provisioned from a download server: first install, a current runtime, a
lower or forced version, a refused pack, a failing extractor and Escape during a slow extraction.

The origin serves a server root under build/e2e/runtime-server on 127.0.0.1:443 inside the test
namespace; the demo pack unpacks the recording stand-in javaw.
"""
import shutil
import struct
import time

from harness import dialog
from harness import runtime
from harness import screen
from harness import wine

CAPTION = "tarvolin Launcher Fehler"
SERVER_ROOT = wine.E2E_DIR / "runtime-server"
COMMITTED = "EnsureRuntime: neue Runtime installiert, Version %d"
STEP8 = "localVersion=%d, remoteVersion=%d, ... need to dl java"


def new_log_texts(prefix, before):
    return wine.log_texts(prefix)[before:]


def test_first_run_installs_and_second_run_finds_the_runtime_current(server, display):
    root, origin, prefix = server
    cache = wine.cache_dir(prefix)
    assert wine.run(prefix, display, ["start.kvnlp"], timeout=120) == 0

    assert origin.count(runtime.VERSION_PATH) == 2
    assert origin.count(runtime.PACK_PATH) == 1
    assert not (cache / "version.tmp").exists()
    assert (cache / "version.txt").read_bytes() == b"5"
    assert (cache / "jre" / "unpack.txt").is_file()
    assert (cache / "jre_pack.exe").read_bytes() == (root / runtime.PRODUCTION_JRE / "jre_pack.exe").read_bytes()
    windows_cache = runtime.windows_cache(prefix)
    record = runtime.pack_record(prefix)
    # The pack runs from inside the staging folder, whatever way it unpacks.
    staged_pack = '"%s\\jre.staging\\jre_pack.exe" -y' % windows_cache
    assert record["CMDLINE"] == staged_pack
    assert record["CWD"].lower() == (windows_cache + "\\jre.staging").lower()
    assert not (cache / "jre.staging").exists() and not (cache / "jre.old").exists()
    texts = wine.log_texts(prefix)
    assert STEP8 % (-1, 5) in texts
    assert texts.index(STEP8 % (-1, 5)) < texts.index(staged_pack) < texts.index(COMMITTED % 5)
    starts = runtime.javaw_starts(prefix, 1)
    assert len(starts) == 1
    argv = starts[0][1]
    assert argv[0] == windows_cache + "\\jre\\bin\\javaw"
    assert argv[8:10] == ["-Dde.tarvolin.RoamingPath=", "-jar"] and len(argv) == 12

    origin.clear()
    before = len(wine.log_texts(prefix))
    # A runtime set aside as not whole that a program runs from is left whole.
    broken = cache / "jre.broken"
    (broken / "bin").mkdir(parents=True)
    (broken / "bin" / "java.dll").write_bytes(b"dll")
    with wine.holding(prefix, display, broken / "held.txt", run_from=broken):
        assert wine.run(prefix, display, ["start.kvnlp"], timeout=120) == 0
    assert (broken / "hold_file.exe").is_file() and (broken / "bin" / "java.dll").is_file()
    assert origin.count(runtime.VERSION_PATH) == 1
    assert origin.count(runtime.PACK_PATH) == 0
    assert not (cache / "version.tmp").exists()
    assert not any("need to dl java" in t for t in new_log_texts(prefix, before))
    assert len(runtime.javaw_starts(prefix, 2)) == 2


def test_lower_server_number_installs_nothing_higher_one_installs(server, display):
    root, origin, prefix = server
    assert wine.run(prefix, display, ["start.kvnlp"], timeout=120) == 0
    runtime.set_version(root, "3")
    origin.clear()
    (wine.cache_dir(prefix) / "jre.broken" / "bin").mkdir(parents=True)  # left by an earlier start
    assert wine.run(prefix, display, ["start.kvnlp"], timeout=120) == 0
    assert origin.count(runtime.PACK_PATH) == 0 and not (wine.cache_dir(prefix) / "jre.broken").exists()
    assert (wine.cache_dir(prefix) / "version.txt").read_bytes() == b"5"

    runtime.set_version(root, " 12\n")
    before = len(wine.log_texts(prefix))
    assert wine.run(prefix, display, ["start.kvnlp"], timeout=120) == 0
    assert origin.count(runtime.PACK_PATH) == 1
    assert STEP8 % (5, 12) in new_log_texts(prefix, before)
    assert (wine.cache_dir(prefix) / "jre" / "unpack.txt").is_file()


def test_forcedownload_installs_on_every_run(server, display, tmp_path):
    root, origin, prefix = server
    properties = tmp_path / "forced.properties"
    jre = "/" + runtime.TEST_JRE
    properties.write_text("hostname=get.tarvolin.example\nforcedownload=true\nversionDownloadPath=%s/version.txt\n"
                          "resourceDownloadPath=%s/jre_pack.exe\n" % (jre, jre))
    jar = tmp_path / "launcher.jar"
    jar.write_bytes(runtime.launcher_archive())
    # The two-argument form runs the runtime check with the given property file and starts no javaw.
    for run in range(2):
        origin.clear()
        assert wine.run(prefix, display, [str(properties), str(jar)], timeout=120) == 0
        assert origin.count("/" + runtime.TEST_JRE + "/jre_pack.exe") == 1
        assert (wine.cache_dir(prefix) / "jre" / "unpack.txt").is_file()
    texts = wine.log_texts(prefix)
    assert texts.count(STEP8 % (-1, 5)) == 1 and texts.count(STEP8 % (5, 5)) == 1


def test_folder_named_unpack_txt_or_jre_without_bin_installs_again(server, display):
    root, origin, prefix = server
    cache = wine.cache_dir(prefix)
    runtime.place_runtime(prefix, version="5")
    (cache / "jre" / "unpack.txt").unlink()
    (cache / "jre" / "unpack.txt").mkdir()
    assert wine.run(prefix, display, ["start.kvnlp"], timeout=120) == 0
    assert origin.count(runtime.PACK_PATH) == 1
    assert (cache / "jre" / "unpack.txt").is_file()

    wine.clear_user_state(prefix)
    runtime.place_runtime(prefix, version="5")
    shutil.rmtree(cache / "jre" / "bin")
    origin.clear()
    assert wine.run(prefix, display, ["start.kvnlp"], timeout=120) == 0
    assert origin.count(runtime.PACK_PATH) == 1
    assert (cache / "jre" / "bin" / "javaw.exe").is_file()


def test_refused_pack_keeps_the_old_runtime_and_the_next_run_retries(server, display):
    root, origin, prefix = server
    cache = wine.cache_dir(prefix)
    record = runtime.place_runtime(prefix, version="5")
    (cache / "jre" / "old-runtime.txt").write_text("old")
    runtime.set_version(root, "6")
    runtime.remove_pack(root)

    code, closed, _ = dialog.run(prefix, display, ["start.kvnlp"])
    assert code == 0 and len(closed) >= 1
    texts = wine.log_texts(prefix)
    failure = "Jre download failed host=get.tarvolin.example, path=/%s/jre_pack.exe, to file %s\\jre_pack.exe" % (
        runtime.PRODUCTION_JRE, runtime.windows_cache(prefix))
    assert failure in texts
    assert (cache / "jre" / "old-runtime.txt").exists() and (cache / "jre" / "unpack.txt").is_file()
    assert (cache / "version.txt").read_bytes() == b"5"
    assert not any(t.endswith('jre_pack.exe" -y') for t in texts)
    # The old runtime starts.
    assert len(runtime.recorded_starts(record)) == 1

    runtime.set_pack(root, runtime.pack_bytes())
    origin.clear()
    assert wine.run(prefix, display, ["start.kvnlp"], timeout=120) == 0
    assert origin.count(runtime.PACK_PATH) == 1
    assert not (cache / "jre" / "old-runtime.txt").exists()
    assert (cache / "version.txt").read_bytes() == b"6"


def slow_generic_archive(origin, seconds=20):
    archive = runtime.launcher_archive()
    origin.routes["/" + runtime.GENERIC_ARCHIVE] = ("slow", {"body": archive, "pieces": seconds,
                                                                   "delay": 1.0})


def splash(display):
    found = screen.find_window(display, "Zentrix", timeout=20)
    assert found
    return found[0]


def test_escape_is_ignored_during_a_slow_extraction_and_works_after_it(server, display):
    root, origin, prefix = server
    cache = wine.cache_dir(prefix)
    runtime.set_pack(root, runtime.pack_bytes(delay_ms=6000))
    slow_generic_archive(origin)
    proc = wine.start(prefix, display, ["start.kvnlp"])
    try:
        assert wine.wait_for(lambda: any(t.endswith('jre_pack.exe" -y') for t in wine.log_texts(prefix)),
                                 timeout=60)
        window = splash(display)
        for _ in range(3):
            screen.press_on_splash(display, window, "Escape")
            time.sleep(0.5)
        assert proc.poll() is None, "Escape ended the program during the extraction"
        # The extraction ends, the marker follows; during the slow archive probe Escape works again.
        assert wine.wait_for(lambda: (cache / "jre" / "unpack.txt").is_file(), timeout=60)
        assert wine.wait_for(lambda: any("launcher/launcher.jar" in t for t in wine.log_texts(prefix)),
                                 timeout=30)
        screen.press_on_splash(display, window, "Escape")
        assert proc.wait(timeout=15) == 0
        assert not runtime.javaw_record(prefix).exists()
    finally:
        if proc.poll() is None:
            proc.kill()


def test_pack_that_cannot_be_started_logs_one_error_and_escape_works_again(server, display):
    root, origin, prefix = server
    # A Windows program, so it passes the pack check, but for a machine this one cannot run.
    program = bytearray(runtime.pack_bytes())
    pe = struct.unpack_from("<I", program, 0x3C)[0]
    struct.pack_into("<H", program, pe + 4, 0x0200)
    runtime.set_pack(root, bytes(program))
    slow_generic_archive(origin)
    proc = wine.start(prefix, display, ["start.kvnlp"])
    try:
        context = "RunExtract: Java JRE konnte nicht entpackt werden"
        assert wine.wait_for(lambda: any(t.endswith(context) for t in wine.log_texts(prefix)), timeout=60)
        texts = wine.log_texts(prefix)
        assert len([t for t in texts if t.endswith(context)]) == 1
        assert [t for t in texts if t.endswith(context)][0].startswith("Fehler ")
        assert not (wine.cache_dir(prefix) / "jre" / "unpack.txt").exists()
        screen.press_on_splash(display, splash(display), "Escape")
        assert proc.wait(timeout=15) == 0
    finally:
        if proc.poll() is None:
            proc.kill()
