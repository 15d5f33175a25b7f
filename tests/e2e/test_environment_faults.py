"""The launcher on a hostile machine: a read-only cache folder, a missing temporary folder, a TEMP
path longer than 260 characters, a log file that another program holds open without sharing, a
disk without room for the announced pack, a disk that fills up during a pack download sent without
a length (under the cache folder, and under the whole local profile folder), and a profile path so long that the cache paths are cut. In each case the program must end by itself, keep an installed runtime working and start
it, and never delete anything outside the runtime cache.

Each test prints one "FIGURE" line with what it measured (docs/robustness.md keeps the table):
    ip netns exec tarvolin-e2e env LAUNCHER_BUILD_DIR=$PWD/build \\
        /usr/bin/python3 -m pytest -q -s -p no:cacheprovider tests/e2e/test_environment_faults.py
"""
import contextlib
import os
import shutil
import subprocess
import time
from pathlib import Path

import pytest

from harness import dialog
from harness import runtime
from harness import screen
from harness import wine
from harness.figures import figure

CAPTION = "tarvolin Launcher Fehler"
QUESTION_CAPTION = "RunLauncher: Launcher konnte nicht gestartet werden"
SERVER_ROOT = wine.E2E_DIR / "environment-server"
PATH_LIMIT = 259


windows_path = wine.windows_path


def runtime_snapshot(prefix):
    """The installed runtime's files with their bytes, the stand-in's own record excepted."""
    jre = wine.cache_dir(prefix) / "jre"
    return {str(p.relative_to(jre)): p.read_bytes() for p in sorted(jre.rglob("*"))
            if p.is_file() and p.name != "javaw-record.txt"}


@contextlib.contextmanager
def mounted(target, *options):
    subprocess.run(["mount", *options, str(target)], check=True, stdin=subprocess.DEVNULL,
                   capture_output=True)
    try:
        yield target
    finally:
        for _ in range(20):  # a Wine process may still hold a file open for a moment
            if subprocess.run(["umount", str(target)], capture_output=True).returncode == 0:
                break
            time.sleep(0.5)


@pytest.fixture
def mounts_allowed():
    probe = subprocess.run(["mount", "--version"], capture_output=True)
    if probe.returncode != 0 or not Path("/proc/self/mountinfo").exists():
        pytest.skip("needs mount")
    # The tests that mount run inside the test namespace, whose mounts no other process sees.
    if os.geteuid() != 0:
        pytest.skip("mounting a read-only folder or a small disk needs root")


# --- the cache folder and the disk ------------------------------------------------------------


def test_read_only_cache_folder_starts_the_installed_runtime(server, display, mounts_allowed, tmp_path):
    root, origin, prefix = server
    cache = wine.cache_dir(prefix)
    runtime.place_runtime(prefix, version="5")
    before = runtime_snapshot(prefix)
    record = tmp_path / "javaw-record.txt"
    env = {"FAKE_JAVAW_RECORD": windows_path(record, prefix)}
    with mounted(cache, "--bind", str(cache)):
        subprocess.run(["mount", "-o", "remount,ro,bind", str(cache)], check=True, capture_output=True)
        code, boxes, seconds = dialog.run(prefix, display, ["start.kvnlp"], extra_env=env)
        starts = runtime.recorded_starts(record, 1)
    texts = wine.log_texts(prefix)
    assert code == 0
    assert len(starts) == 1, "the installed runtime did not start"
    # The announced version cannot be stored, so the installed runtime counts as current.
    assert 'Could not create destination file "%s\\version.tmp"' % runtime.windows_cache(prefix) in texts
    assert not any("need to dl java" in t for t in texts)
    assert runtime_snapshot(prefix) == before
    assert origin.count(runtime.PACK_PATH) == 0
    figure("read-only cache", exit=code, javaw_starts=len(starts), boxes=len(boxes), seconds="%.1f" % seconds,
           runtime_kept=runtime_snapshot(prefix) == before)


def padded_pack(size):
    """A demo pack of about size bytes: the stand-in javaw with zero padding behind it still runs."""
    javaw = (wine.TOOLS / "fake_javaw.exe").read_bytes()
    return runtime.pack_bytes(javaw=javaw + b"\0" * max(0, size - len(javaw)))


def cache_files(cache):
    """The cache's files with their bytes, the stand-in's own record and the launcher archive's
    copy (which every start with a server keeps) excepted."""
    return {str(p.relative_to(cache)): p.read_bytes() for p in sorted(cache.rglob("*"))
            if p.is_file() and p.name != "javaw-record.txt" and not p.name.startswith("launcher-")}


@contextlib.contextmanager
def small_cache_disk(server):
    """The cache folder on a disk of 1 MB holding runtime 5, with version 6 on the server; yields
    the installed stand-in's record file."""
    root, origin, prefix = server
    cache = wine.cache_dir(prefix)
    cache.mkdir(parents=True, exist_ok=True)
    runtime.set_version(root, "6")
    with mounted(cache, "-t", "tmpfs", "-o", "size=1m", "tmpfs"):
        yield runtime.place_runtime(prefix, version="5")


def test_a_disk_without_room_for_the_pack_is_said_plainly(server, display, mounts_allowed):
    """The server announces a pack of 3 MB; the cache's disk has 1 MB: nothing is downloaded."""
    root, origin, prefix = server
    cache = wine.cache_dir(prefix)
    pack = padded_pack(3 << 20)
    runtime.set_pack(root, pack)
    with small_cache_disk(server) as record:
        before = cache_files(cache)
        code, boxes, seconds = dialog.run(prefix, display, ["start.kvnlp"])
        starts = runtime.recorded_starts(record, 1)
        texts = wine.log_texts(prefix)
        after = cache_files(cache)
    needed_mb = -(-3 * len(pack) // (1 << 20))
    assert code == 0 and len(starts) == 1, "the installed runtime did not start"
    assert [caption for caption, _ in boxes] == [CAPTION]
    assert boxes[0][1].startswith(
        "Die Festplatte ist voll: F\u00fcr die Java-Laufzeitumgebung werden %d MB freier Speicherplatz "
        "ben\u00f6tigt, frei sind nur " % needed_mb), boxes
    room = [t for t in texts if t.startswith("DownloadfileDirect: zu wenig Speicherplatz im Cache-Ordner, %d Bytes "
                                             "ben\u00f6tigt, " % (3 * len(pack)))]
    assert len(room) == 1 and room[0].endswith(" Bytes frei, Runtime-Paket wird nicht geladen"), texts
    assert not any(t.startswith("Jre download failed") for t in texts)
    assert after == before, "the cache changed: %s" % sorted(set(after) ^ set(before))
    assert origin.count(runtime.PACK_PATH) == 1
    figure("no room for the pack", exit=code, javaw_starts=len(starts), boxes=len(boxes),
           seconds="%.1f" % seconds, cache_unchanged=after == before)


def test_disk_full_during_the_pack_download_keeps_the_old_runtime(server, display, mounts_allowed):
    """A pack sent without a length (chunked) cannot be measured first: the disk fills up while it
    is written."""
    root, origin, prefix = server
    cache = wine.cache_dir(prefix)
    origin.routes[runtime.PACK_PATH] = ("chunked", {"body": padded_pack(3 << 20), "chunk": 1 << 16})
    with small_cache_disk(server) as record:
        before = runtime_snapshot(prefix)
        code, boxes, seconds = dialog.run(prefix, display, ["start.kvnlp"])
        starts = runtime.recorded_starts(record, 1)
        texts = wine.log_texts(prefix)
        kept = runtime_snapshot(prefix) == before
        marker = (cache / "jre" / "unpack.txt").is_file()
        version_kept = (cache / "version.txt").exists()

        # Once more on the still full disk: the same outcome, no hang.
        code2, boxes2, seconds2 = dialog.run(prefix, display, ["start.kvnlp"])
        starts2 = runtime.recorded_starts(record, 2)
        kept2 = runtime_snapshot(prefix) == before
    assert origin.count(runtime.PACK_PATH) >= 2
    assert code == 0 and code2 == 0
    # The write that failed ends the download; neither download passes a cut pack on.
    # (Wine reports the disk full as a short write that succeeds.)
    assert any("DownloadfileDirect: Datei konnte nicht geschrieben werden" in t for t in texts), texts
    assert any("DownloadWithAuthentication 200: Datei konnte nicht geschrieben werden" in t for t in texts)
    assert any(t.startswith("Jre download failed host=get.tarvolin.example") for t in texts)
    assert not any(t.endswith('jre_pack.exe" -y') for t in texts), "a cut pack was started"
    assert kept and marker and kept2
    # version.txt keeps the installed number: an offline start stays quiet, an online one retries.
    assert version_kept
    assert len(starts) == 1 and len(starts2) == 2
    figure("disk full during the pack download", exit=code, javaw_starts=len(starts2), 
           boxes="%d+%d" % (len(boxes), len(boxes2)),
           seconds="%.1f/%.1f" % (seconds, seconds2), runtime_kept=kept2, extracted=False)


def test_disk_full_under_the_profile_still_gives_javaw_a_whole_archive(server, display, mounts_allowed, tmp_path):
    """The profile's local folder (log, cache and, as on Windows, the temporary folder) on one
    small disk that the pack download fills (sent without a length, so it cannot be measured first)."""
    root, origin, prefix = server
    local = wine.local_appdata(prefix)
    local.mkdir(parents=True, exist_ok=True)
    runtime.set_version(root, "6")
    origin.routes[runtime.PACK_PATH] = ("chunked", {"body": padded_pack(3 << 20), "chunk": 1 << 16})
    windows_local = windows_path(local, prefix)
    batch = tmp_path / "profile-temp.cmd"
    batch.write_bytes(('@set "TMP=%s\\Temp"\r\n@set "TEMP=%s\\Temp"\r\n@"%s" start.kvnlp\r\n' % (
        windows_local, windows_local, windows_path(wine.EXE, prefix))).encode())
    with mounted(local, "-t", "tmpfs", "-o", "size=1m", "tmpfs"):
        (local / "Temp").mkdir()
        runtime.place_runtime(prefix, version="5")
        record = tmp_path / "javaw-record.txt"
        env = {"FAKE_JAVAW_RECORD": windows_path(record, prefix)}
        before = runtime_snapshot(prefix)
        code, boxes, seconds = dialog.run(prefix, display, ["/c", windows_path(batch, prefix)], exe="cmd",
                                                 extra_env=env)
        starts = runtime.recorded_starts(record, 1)
        texts = wine.log_texts(prefix)
        kept = runtime_snapshot(prefix) == before
        archive = host_path(prefix, starts[0][1][10]).read_bytes() if starts else b""
        properties = host_path(prefix, starts[0][1][11]).read_bytes() if starts else b""
        pack_left = any((wine.cache_dir(prefix) / name).exists() for name in ("jre_pack.exe", "jre_pack.part"))
        log = wine.log_path(prefix).read_bytes()
    assert code == 0 and len(starts) == 1 and kept
    assert any(t.startswith("Jre download failed host=") for t in texts), texts
    # The cut pack is removed, so the log, the probe's archive and the payloads still fit on the
    # disk: no line is lost or torn, and javaw gets whole files.
    assert not pack_left
    assert log.endswith(b"\r\n") and texts[-1].startswith('"') and "-jar" in texts[-1], texts[-3:]
    assert any(t.startswith("Generisches Launcher-Archiv wird verwendet") for t in texts)
    assert archive == runtime.launcher_archive()
    assert properties == (wine.ROOT / "res" / "launcher.properties").read_bytes()
    figure("disk full under the profile", exit=code, javaw_starts=len(starts), boxes=len(boxes),
           seconds="%.1f" % seconds, runtime_kept=kept, archive_whole=True, pack_left=pack_left)


# --- the temporary folder ---------------------------------------------------------------------


def host_path(prefix, windows):
    assert windows[:3].lower() == "c:\\", windows
    return Path(prefix) / "drive_c" / windows[3:].replace("\\", "/")


def check_launch_with_payloads(prefix, starts):
    """javaw got the launcher archive and the property file, byte for byte."""
    assert len(starts) == 1
    argv = starts[0][1]
    assert argv[9] == "-jar" and len(argv) == 12
    jar, properties = host_path(prefix, argv[10]), host_path(prefix, argv[11])
    assert jar.read_bytes() == runtime.launcher_archive()
    assert properties.read_bytes() == (wine.ROOT / "res" / "launcher.properties").read_bytes()
    return argv


def test_missing_temp_folder(server, display):
    root, origin, prefix = server
    temp = wine.temp_dir(prefix)
    record = runtime.place_runtime(prefix, version="5")
    saved = temp.with_name("Temp.saved")
    shutil.rmtree(saved, ignore_errors=True)
    if temp.exists():
        temp.rename(saved)
    try:
        code, boxes, seconds = dialog.run(prefix, display, ["start.kvnlp"])
        starts = runtime.recorded_starts(record, 1)
        texts = wine.log_texts(prefix)
        argv = check_launch_with_payloads(prefix, starts)
    finally:
        shutil.rmtree(temp, ignore_errors=True)
        if saved.exists():
            saved.rename(temp)
        temp.mkdir(parents=True, exist_ok=True)
    check_fallback(prefix, code, boxes, texts, argv, "GetTempFileName failed")
    figure("missing temp folder", exit=code, javaw_starts=len(starts), boxes=len(boxes),
           seconds="%.1f" % seconds, archive=argv[10])


def check_fallback(prefix, code, boxes, texts, argv, failure):
    """The two payload files went to the launcher's own folder, each with the failure and the folder
    in the log; the probe's archive goes to the cache folder whatever the temporary folder is."""
    base = "C:\\users\\" + wine.user_dir(prefix).name + "\\AppData\\Local\\tarvolin"
    assert code == 0 and boxes == []
    assert texts.count("ThawFile: %s" % failure) == 2
    assert texts.count("ThawFile: Datei im Ordner %s angelegt" % base) == 2
    # The archive is the probe's copy (the origin serves a whole one) or the embedded one.
    assert argv[10].startswith((base + "\\zentrixjre\\launcher-", base + "\\TPL")) and argv[11].startswith(base + "\\TPL")


def test_temp_longer_than_260_characters(server, display, tmp_path):
    root, origin, prefix = server
    record = runtime.place_runtime(prefix, version="5")
    long_temp = "C:\\" + "\\".join(["t" * 60] * 5)  # 307 characters
    # Wine keeps the Unix TEMP for itself, so a batch file sets the Windows variables.
    batch = tmp_path / "long-temp.cmd"
    batch.write_bytes(('@set "TMP=%s"\r\n@set "TEMP=%s"\r\n@"%s" start.kvnlp\r\n' % (
        long_temp, long_temp, windows_path(wine.EXE, prefix))).encode())
    code, boxes, seconds = dialog.run(prefix, display, ["/c", windows_path(batch, prefix)], exe="cmd")
    starts = runtime.recorded_starts(record, 1)
    texts = wine.log_texts(prefix)
    argv = check_launch_with_payloads(prefix, starts)
    check_fallback(prefix, code, boxes, texts, argv, "GetTempPath failed")
    figure("TEMP of 307 characters", exit=code, javaw_starts=len(starts), boxes=len(boxes),
           seconds="%.1f" % seconds, archive=argv[10])


# --- the log file ------------------------------------------------------------------------------


def test_log_held_open_without_sharing_drops_lines_and_the_launch_goes_on(server, display):
    root, origin, prefix = server
    record = runtime.place_runtime(prefix, version="5")
    log = wine.log_path(prefix)
    log.parent.mkdir(parents=True, exist_ok=True)
    log.write_bytes(b"")
    with wine.holding(prefix, display, log):
        code, boxes, seconds = dialog.run(prefix, display, ["start.kvnlp"])
        starts = runtime.recorded_starts(record, 1)
        held_size = log.stat().st_size
    assert code == 0 and boxes == []
    assert len(starts) == 1
    assert held_size == 0, "a line reached the held file"
    # Released, the next start logs as before.
    code2, _, _ = dialog.run(prefix, display, ["start.kvnlp"])
    assert code2 == 0 and len(runtime.recorded_starts(record, 2)) == 2
    lines = wine.log_texts(prefix)
    assert "Start wWinMain:" in lines and lines[-1].startswith('"')
    figure("log held without sharing", exit=code, javaw_starts=len(starts), lines_of_a_start=len(lines),
           lines_written_while_held=held_size, seconds="%.1f" % seconds)


# --- a profile path so long that the cache paths are cut --------------------------------------

SHELL_FOLDERS = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders"


def reg(prefix, *args):
    return subprocess.run([wine.WINE, "reg", *args], env=wine.wine_env(prefix), stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=60)


def long_local_appdata(prefix, length):
    """A Windows folder path of exactly length characters below the user's profile."""
    path = "C:\\users\\" + wine.user_dir(prefix).name + "\\long"
    while len(path) < length:
        room = length - len(path) - 1
        path += "\\" + "p" * min(room if room > 0 else 1, 120)
    assert len(path) == length, path
    return path


@contextlib.contextmanager
def local_appdata_at(prefix, windows_folder):
    """Points the user's local application data folder at windows_folder for the programs started
    meanwhile, and back again afterwards."""
    host = host_path(prefix, windows_folder)
    host.mkdir(parents=True, exist_ok=True)
    saved = reg(prefix, "query", SHELL_FOLDERS, "/v", "Local AppData").stdout.decode("utf-8", "replace")
    old = None
    for line in saved.splitlines():
        if "Local AppData" in line and "REG_" in line:
            old = line.split("REG_EXPAND_SZ" if "REG_EXPAND_SZ" in line else "REG_SZ", 1)[1].strip()
    assert reg(prefix, "add", SHELL_FOLDERS, "/v", "Local AppData", "/t", "REG_EXPAND_SZ", "/d", windows_folder,
               "/f").returncode == 0
    try:
        yield host
    finally:
        if old:
            reg(prefix, "add", SHELL_FOLDERS, "/v", "Local AppData", "/t", "REG_EXPAND_SZ", "/d", old, "/f")
        else:
            reg(prefix, "delete", SHELL_FOLDERS, "/v", "Local AppData", "/f")
        shutil.rmtree(Path(prefix) / "drive_c" / "users" / wine.user_dir(prefix).name / "long",
                      ignore_errors=True)


def cut(path):
    return path[:PATH_LIMIT]


def plant(folder, name):
    """A sentinel file (and its folder) that must survive every run."""
    path = Path(folder) / name
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text("keep " + name)
    return path


def answer_question(prefix, display, button):
    return dialog.answer(prefix, display, QUESTION_CAPTION, button, timeout=90)


def run_with_recovery(prefix, display, timeout=120, cwd=None):
    """Starts the program, answers its warnings with Return, its first recovery question with Yes
    (which restarts it) and the restarted instance's question with No; returns the boxes closed."""
    with dialog.Answerer(prefix, display) as closer:
        proc = wine.start(prefix, display, ["start.kvnlp"], cwd=cwd)
        try:
            first = answer_question(prefix, display, "yes")
            assert proc.wait(timeout=timeout) == 0
            second = answer_question(prefix, display, "no")
            assert screen.wait_until_no_window(display, timeout=60)
        finally:
            if proc.poll() is None:
                proc.kill()
    return first, second, closer.seen


def host_files(folder):
    return sorted(str(p.relative_to(folder)) for p in Path(folder).rglob("*"))


def test_cut_cache_folder_is_never_deleted(clean, display):
    prefix = clean
    # 245 + "\tarvolin" fits; the cache folder "\tarvolin\zentrixjre" is cut to "...\tarvolin\zent".
    local = long_local_appdata(prefix, 245)
    with local_appdata_at(prefix, local) as local_host:
        base = local_host / "tarvolin"
        cut_cache = cut(local + "\\tarvolin\\zentrixjre")
        assert cut_cache.endswith("\\tarvolin\\zent")
        sentinels = [plant(local_host, "above.txt"), plant(base, "next-to-the-cache.txt"),
                     plant(base, "zentrix-other/keep.txt"), plant(base, "zent/inside-the-cut-path.txt")]
        before = host_files(local_host)
        first, second, boxes = run_with_recovery(prefix, display)
        after = host_files(local_host)
        kept = [p.exists() for p in sentinels]
        log = host_path(prefix, cut(local + "\\tarvolin\\DesktopLauncher.log"))
        texts = [line.split(": ", 1)[-1] for line in log.read_bytes().decode("latin-1").split("\r\n") if line]
    refused = "DeleteFolderTree: %s wird nicht gel\xf6scht" % cut_cache
    assert first and second
    assert texts.count(refused) == 1, texts
    assert texts.count("Start wWinMain:") == 2
    assert all(kept), [str(p) for p, k in zip(sentinels, kept) if not k]
    assert set(before) <= set(after), sorted(set(before) - set(after))
    figure("cache folder cut at 259", cut_path=cut_cache[-20:], refused_deletions=texts.count(refused),
           sentinels_kept="%d/%d" % (sum(kept), len(kept)), files_lost=len(set(before) - set(after)), boxes=len(boxes))


def decoy_folder(path):
    """A current folder for the program, with files that nothing may delete."""
    shutil.rmtree(path, ignore_errors=True)
    decoys = [plant(path, ".git"), plant(path, "README.md"), plant(path, "sub/file.txt")]
    return path, decoys


def test_cut_runtime_folder_is_never_deleted_during_an_install(server, display, tmp_path):
    root, origin, prefix = server
    # Handed a tree with deeper paths than 259 characters, the shell under Wine deleted the
    # contents of the program's current folder instead; the program now refuses such a tree.
    cwd, decoys = decoy_folder(tmp_path / "current")
    # 237 + "\tarvolin\zentrixjre" (257) fits; "\jre" is cut to "\j", and so are the staging and
    # set-aside folders: the install must not run on paths that name one another.
    local = long_local_appdata(prefix, 237)
    with local_appdata_at(prefix, local) as local_host:
        base = local_host / "tarvolin"
        cache_windows = local + "\\tarvolin\\zentrixjre"
        cut_runtime = cut(cache_windows + "\\jre")
        assert cut_runtime.endswith("zentrixjre\\j")
        cache = host_path(prefix, cache_windows)
        sentinels = [plant(local_host, "above.txt"), plant(base, "next-to-the-cache.txt"),
                     plant(base, "zentrixjre-other/keep.txt")]
        inside = plant(cache, "next-to-the-cut-path.txt")
        with dialog.Answerer(prefix, display) as closer:
            proc = wine.start(prefix, display, ["start.kvnlp"], cwd=cwd)
            try:
                question = answer_question(prefix, display, "no")
                assert proc.wait(timeout=60) == 0
            finally:
                if proc.poll() is None:
                    proc.kill()
        inside_kept = inside.exists()
        log = host_path(prefix, cut(local + "\\tarvolin\\DesktopLauncher.log"))
        texts = [line.split(": ", 1)[-1] for line in log.read_bytes().decode("latin-1").split("\r\n") if line]
        # The cache holds a path beyond 259 characters: the recovery's Yes must leave it alone
        # rather than hand it to the shell.
        first, second, boxes = run_with_recovery(prefix, display, cwd=cwd)
        after_yes = [line.split(": ", 1)[-1] for line in log.read_bytes().decode("latin-1").split("\r\n") if line]
        cache_left = len(host_files(cache)) if cache.exists() else 0
        inside_kept_after_yes = inside.exists()
        kept = [p.exists() for p in sentinels]
    refused = "EnsureRuntime: Pfade im Cache-Ordner zu lang, keine Installation"
    refused_cache = "DeleteFolderTree: %s wird nicht gel\xf6scht" % cache_windows
    assert all(p.exists() for p in decoys), "files in the current folder were deleted"
    # A path in the cache passes 259 characters, so Yes leaves the cache alone.
    assert refused_cache in after_yes
    assert question and first and second
    assert origin.count(runtime.PACK_PATH) == 0
    assert refused in texts, texts
    assert inside_kept and inside_kept_after_yes
    assert all(kept)
    figure("runtime folder cut at 259", cut_path=cut_runtime[-20:],
           refused_deletions=texts.count(refused) + after_yes.count(refused_cache),
           sentinels_kept="%d/%d" % (sum(kept) + inside_kept_after_yes, len(kept) + 1),
           decoys_in_current_folder_kept="%d/%d" % (sum(p.exists() for p in decoys), len(decoys)),
           boxes=len(closer.seen) + len(boxes), cache_entries_left_after_yes=cache_left)


def test_a_profile_outside_the_code_page_reaches_javaw_in_short_paths(server, display, tmp_path):
    """The Java launcher reads its command line in the ANSI code page (1252 here): a Romanian name
    in the profile path must reach it as the folder's short name, which is plain ASCII. A start that
    application control refuses names javaw by its own path, which the administrator's rule needs."""
    root, origin, prefix = server
    record = tmp_path / "javaw-record.txt"
    windows = "C:\\users\\%s\\Mih\u0103il\u0103" % wine.user_dir(prefix).name
    run = dict(extra_env={"FAKE_JAVAW_RECORD": windows_path(record, prefix)})
    try:
        with local_appdata_at(prefix, windows) as host:
            code, boxes, _ = dialog.run(prefix, display, ["start.kvnlp"], dialog.AS_A_USER, **run)
            starts = runtime.recorded_starts(record, 1)
            (host / "tarvolin" / "fault-plan.txt").write_text("start 1260 \\jre\\bin\\javaw\n", encoding="utf-8")
            _, refused, _ = dialog.run(prefix, display, ["start.kvnlp"], dialog.AS_A_USER, exe=wine.FAULTS_EXE, **run)
            log = (host / "tarvolin" / "DesktopLauncher.log").read_bytes().decode("latin-1")
    finally:
        shutil.rmtree(host_path(prefix, windows), ignore_errors=True)
    assert code == 0 and boxes == [] and len(starts) == 1
    blocked = [line for line in log.split("\r\n") if "Start blockiert (Fehler 1260): " in line]
    assert len(refused) == 1 and len(blocked) == 1 and "~" not in blocked[0], blocked
    assert blocked[0].endswith("\\tarvolin\\zentrixjre\\jre\\bin\\javaw"), blocked
    argv = starts[0][1]
    cache_argument = next(a for a in argv if a.startswith("-Dde.tarvolin.jreCacheBasePath="))
    assert "~" in cache_argument and "".join(argv).encode("cp1252"), argv
