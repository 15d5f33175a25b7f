"""The runtime install as one transaction: one start at a time per cache folder, the pack unpacked
in a staging folder and switched in only when complete, and the installed runtime and version.txt
kept whole by every failure before that."""
import subprocess
import time

import pytest

import launch_bench
import runtime_bench
import winbench

SERVER_ROOT = winbench.E2E_DIR / "transaction-server"
ARGS = ["start.kvnlp"]
WAITING = "EnsureRuntime: ein anderer Start arbeitet an der Java-Runtime, warte auf sein Ende"
IN_USE = "EnsureRuntime: bisherige Runtime ist in Benutzung und bleibt, die neue folgt beim n\xe4chsten Start"
INCOMPLETE = "EnsureRuntime: neue Runtime unvollst\xe4ndig entpackt, bisherige Runtime bleibt"
NOT_A_PROGRAM = "EnsureRuntime: Runtime-Paket ist kein Windows-Programm (%d Bytes), es wird nicht gestartet"
COMMITTED = "EnsureRuntime: neue Runtime installiert, Version %d"


def extractions(prefix):
    return [t for t in winbench.log_texts(prefix) if t.endswith('jre_pack.exe" -y')]


def installed_files(prefix):
    """The installed runtime and version.txt, byte for byte."""
    cache = winbench.cache_dir(prefix)
    files = {p.relative_to(cache).as_posix(): p.read_bytes() for p in (cache / "jre").rglob("*") if p.is_file()
             and p.name != "javaw-record.txt"}
    files["version.txt"] = (cache / "version.txt").read_bytes() if (cache / "version.txt").exists() else None
    return files


def no_install_leftovers(prefix):
    cache = winbench.cache_dir(prefix)
    return not any((cache / name).exists() for name in ("jre.staging", "jre.old", "version.new", "version.tmp"))


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


@pytest.mark.parametrize("installed", [None, "4"], ids=["empty-cache", "older-runtime"])
def test_two_starts_half_a_second_apart_install_once_and_both_launch(server, display, tmp_path, installed):
    root, origin, prefix = server
    if installed:
        launch_bench.place_runtime(prefix, version=installed)
    runtime_bench.set_pack(root, runtime_bench.pack_bytes(delay_ms=4000))
    record = tmp_path / "javaw-record.txt"
    env = {"FAKE_JAVAW_RECORD": windows_path(record)}
    answerer = launch_bench.DialogAnswerer(prefix, display, runtime_bench.WARNING_CAPTION)
    first = second = None
    try:
        first = subprocess.Popen([winbench.WINE, str(winbench.EXE), *ARGS], env=winbench.wine_env(prefix, display, env),
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.5)
        second = subprocess.Popen([winbench.WINE, str(winbench.EXE), *ARGS], env=winbench.wine_env(prefix, display, env),
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        codes = (first.wait(timeout=120), second.wait(timeout=120))
    finally:
        dialogs = answerer.stop()
        for proc in (first, second):
            if proc and proc.poll() is None:
                proc.kill()
    assert codes == (0, 0) and dialogs == []
    assert origin.count(runtime_bench.PACK_PATH) == 1
    texts = winbench.log_texts(prefix)
    assert len(extractions(prefix)) == 1 and texts.count(WAITING) == 1
    assert winbench.wait_for(lambda: len(launch_bench.read_records(record)) == 2, timeout=20)
    cache = winbench.cache_dir(prefix)
    assert (cache / "jre" / "unpack.txt").is_file() and (cache / "jre" / "release").is_file()
    assert (cache / "version.txt").read_bytes() == b"5" and no_install_leftovers(prefix)


def unpacks_nothing():
    """A Windows program that ends well and unpacks no runtime."""
    return runtime_bench.as_windowed_program((winbench.TOOLS / "fake_javaw.exe").read_bytes())


PORTAL_PAGE = b"<html><body>Please log in to the guest network</body></html>"
# What the server answers for the pack -> the log line that says why the runtime was kept.
BAD_PACKS = {
    "empty body": (lambda: b"", NOT_A_PROGRAM % 0),
    "portal page": (lambda: PORTAL_PAGE, NOT_A_PROGRAM % len(PORTAL_PAGE)),
    "exit code 7": (lambda: runtime_bench.pack_bytes(exit_code=7), INCOMPLETE),
    "unpacks nothing": (unpacks_nothing, INCOMPLETE),
}


@pytest.mark.parametrize("case", list(BAD_PACKS))
def test_bad_pack_keeps_the_installed_runtime_and_the_next_good_run_installs(server, display, case):
    root, origin, prefix = server
    record = launch_bench.place_runtime(prefix, version="4")
    (winbench.cache_dir(prefix) / "jre" / "old-runtime.txt").write_text("old")
    before = installed_files(prefix)
    pack, line = BAD_PACKS[case]
    runtime_bench.set_pack(root, pack())

    code, answered, _ = runtime_bench.run_answering_dialogs(prefix, display, ARGS)
    assert code == 0
    # Refused content shows the pack-failure box; a pack that ran and failed shows none.
    assert answered == ([runtime_bench.WARNING_CAPTION] if line.startswith(NOT_A_PROGRAM[:35]) else [])
    assert line in winbench.log_texts(prefix)
    assert installed_files(prefix) == before and no_install_leftovers(prefix)
    assert len(winbench.wait_for(lambda: launch_bench.read_records(record), timeout=20)) == 1

    runtime_bench.set_pack(root, runtime_bench.pack_bytes())
    origin.clear()
    code, answered, _ = runtime_bench.run_answering_dialogs(prefix, display, ARGS)
    assert code == 0 and answered == []
    assert origin.count(runtime_bench.PACK_PATH) == 1 and COMMITTED % 5 in winbench.log_texts(prefix)
    cache = winbench.cache_dir(prefix)
    assert not (cache / "jre" / "old-runtime.txt").exists() and (cache / "version.txt").read_bytes() == b"5"


def test_refused_pack_then_an_offline_start_is_quiet(server, display):
    root, origin, prefix = server
    record = launch_bench.place_runtime(prefix, version="4")
    runtime_bench.set_pack(root, PORTAL_PAGE)
    code, answered, _ = runtime_bench.run_answering_dialogs(prefix, display, ARGS)
    assert code == 0 and answered == [runtime_bench.WARNING_CAPTION]

    origin.stop()  # offline: no server answers
    code, answered, _ = runtime_bench.run_answering_dialogs(prefix, display, ARGS)
    assert code == 0 and answered == []
    assert winbench.wait_for(lambda: len(launch_bench.read_records(record)) == 2, timeout=20)
    assert (winbench.cache_dir(prefix) / "version.txt").read_bytes() == b"4"


@pytest.mark.parametrize("key", ["Escape", "alt+F4"])
def test_ending_the_program_at_the_pack_failure_box_keeps_marker_and_version(server, display, key):
    root, origin, prefix = server
    launch_bench.place_runtime(prefix, version="4")
    before = installed_files(prefix)
    # Refused content: the pack-failure box is the only one (a status error would show its own first).
    runtime_bench.set_pack(root, PORTAL_PAGE)
    proc = winbench.start(prefix, display, ARGS)
    try:
        assert winbench.wait_for(lambda: runtime_bench._windows_named(display, runtime_bench.WARNING_CAPTION),
                                 timeout=60)
        assert any(t.startswith("Jre download failed") for t in winbench.log_texts(prefix))
        splash = winbench.wait_for(lambda: runtime_bench._windows_named(display, "Zentrix"), timeout=20)
        assert splash
        env = {"DISPLAY": display}
        for args in (("windowactivate", "--sync", splash[0]), ("mousemove", "--window", splash[0], "285", "100"),
                     ("click", "1"), ("key", key)):
            subprocess.run(["xdotool", *args], env=env, capture_output=True, timeout=20)
            time.sleep(0.3)
        assert proc.wait(timeout=15) == 0
    finally:
        if proc.poll() is None:
            proc.kill()
    assert installed_files(prefix) == before and no_install_leftovers(prefix)
    assert not (winbench.cache_dir(prefix) / "jre_pack.exe").exists()


def test_runtime_that_cannot_be_moved_aside_stays_and_starts(server, display, tmp_path):
    root, origin, prefix = server
    record = launch_bench.place_runtime(prefix, version="4")
    before = installed_files(prefix)
    release = tmp_path / "release"
    holder = subprocess.Popen([winbench.WINE, str(winbench.TOOLS / "hold_file.exe"),
                               windows_path(winbench.cache_dir(prefix) / "jre"), "120", windows_path(release)],
                              env=winbench.wine_env(prefix, display), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        assert holder.stdout.readline().strip() == b"HELD"
        code, answered, _ = runtime_bench.run_answering_dialogs(prefix, display, ARGS)
    finally:
        release.write_text("")
        holder.wait(timeout=30)
    assert code == 0 and answered == []
    texts = winbench.log_texts(prefix)
    assert len(extractions(prefix)) == 1 and IN_USE in texts
    assert installed_files(prefix) == before and no_install_leftovers(prefix)
    assert len(winbench.wait_for(lambda: launch_bench.read_records(record), timeout=20)) == 1

    # Released: the next start installs.
    origin.clear()
    code, answered, _ = runtime_bench.run_answering_dialogs(prefix, display, ARGS)
    assert code == 0 and answered == [] and COMMITTED % 5 in winbench.log_texts(prefix)
