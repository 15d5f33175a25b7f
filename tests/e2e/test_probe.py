"""The generic-archive probe with the real program on a warm runtime cache: whatever the download
host answers for the generic launcher archive, the probe leaves nothing in the temporary folder,
shows no dialog, and javaw starts; the received archive is on javaw's command line (as the copy in
the cache folder) only when it arrived whole and is a whole ZIP archive, otherwise the embedded one
is, and the log says which. Warm starts ask for it only if it changed, and not at all when the
version file names the copy.
"""
import io
import os
import time
import zipfile

import pytest

from harness import dialog
from harness import net
from harness import release
from harness import runtime
from harness import servers
from harness import wine

CAPTION = "tarvolin Launcher Fehler"
ARCHIVE_PATH = "/" + runtime.GENERIC_ARCHIVE
GENERIC = "Generisches Launcher-Archiv wird verwendet: "
EMBEDDED = "Eingebettetes Launcher-Archiv wird verwendet: "


def generic_archive():
    """A small launcher archive that differs from the embedded one."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_STORED) as jar:
        jar.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMain-Class: generic.Main\r\n\r\n")
        jar.writestr("generic/payload.bin", bytes(i * 7 % 256 for i in range(60000)))
    return out.getvalue()


ARCHIVE = generic_archive()
CUT = len(ARCHIVE) // 3
NOT_AN_ARCHIVE = b"<html><body>Wartungsarbeiten</body></html>\n" * 50


# outcome -> (scripted answer for the archive path, or None for no server at all;
#             whether javaw gets the received archive)
OUTCOMES = {
    "whole archive": (("body", {"body": ARCHIVE}), True),
    "empty body": (("body", {"body": b""}), False),
    "404": (("status", {"status": 404}), False),
    "503": (("status", {"status": 503}), False),
    "reset mid-body": (("reset", {"body": ARCHIVE, "sent": CUT}), False),
    "short body": (("short", {"body": ARCHIVE, "sent": CUT}), False),
    "not a zip": (("body", {"body": NOT_AN_ARCHIVE}), False),
    "zip without its end": (("body", {"body": ARCHIVE[:CUT]}), False),
    "no server": (None, False),
}
PROBE = "DownloadfileDirect https://get.tarvolin.example%s to " % ARCHIVE_PATH


def host_path(prefix, windows_path):
    assert windows_path.lower().startswith("c:\\"), windows_path
    return wine.Path(prefix) / "drive_c" / windows_path[3:].replace("\\", "/")


@pytest.mark.parametrize("outcome", list(OUTCOMES))
def test_probe_leaves_nothing_behind_shows_no_dialog_and_the_launch_follows(clean, display, outcome):
    net.require_network()
    answer, received = OUTCOMES[outcome]
    root = runtime.lay_out_server(wine.E2E_DIR / "probe-server", version="5")
    origin = None
    if answer is not None:
        origin = servers.start_origin(root)
        origin.routes[ARCHIVE_PATH] = answer
    record = runtime.place_runtime(clean, version="5")
    temp_before = set(wine.temp_dir(clean).iterdir())
    dialogs = dialog.Answerer(clean, display, {CAPTION: "ok"})
    try:
        assert wine.run(clean, display, ["start.kvnlp"], timeout=120) == 0
        starts = runtime.recorded_starts(record)
    finally:
        shown = dialogs.stop()
        if origin:
            origin.stop()
    assert shown == []
    assert len(starts) == 1
    argv = starts[0][1]
    texts = wine.log_texts(clean)

    probe = [t for t in texts if t.startswith(PROBE)]
    assert len(probe) == 1, texts
    assert not host_path(clean, probe[0].rsplit(" to ", 1)[1]).exists()
    assert new_temp_files(clean, temp_before) == ["TPL", "TPL"]

    jar = argv[10]
    line = GENERIC + jar if received else EMBEDDED + jar
    assert line in texts and texts.index(probe[0]) < texts.index(line)
    assert not any(t.startswith(EMBEDDED if received else GENERIC) for t in texts)
    if received:
        assert host_path(clean, jar) == wine.cache_dir(clean) / "launcher-1.jar"
        assert host_path(clean, jar).read_bytes() == ARCHIVE
    else:
        assert host_path(clean, jar).name.startswith("TPL")
        assert host_path(clean, jar).read_bytes() == runtime.launcher_archive()
        assert not list(wine.cache_dir(clean).glob("launcher-*"))
    if outcome == "404":
        assert "Fehler: HTTP-Statuscode=404 Resource nicht gefunden." in texts
    if origin:
        assert origin.count(ARCHIVE_PATH) == 1


def test_answers_beyond_their_limit_are_cut_and_the_launch_follows(clean, display):
    """A version file of 1 MB (chunked) is cut at 64 KiB by both downloads and still reads as the
    installed version; an archive without end stops at 256 MiB and the embedded one is used."""
    net.require_network()
    root = runtime.lay_out_server(wine.E2E_DIR / "probe-server", version="5")
    origin = servers.start_origin(root)
    origin.routes[runtime.VERSION_PATH] = ("chunked", {"body": b"5\n" + b"#" * (1 << 20), "chunk": 8192})
    origin.routes[ARCHIVE_PATH] = ("endless", {"piece": b"PK" * 32768})
    record = runtime.place_runtime(clean, version="5")
    try:
        code, shown, _ = dialog.run(clean, display, ["start.kvnlp"], timeout=120)
        starts = runtime.recorded_starts(record)
    finally:
        origin.stop()
    texts = wine.log_texts(clean)
    assert code == 0 and shown == [] and len(starts) == 1
    too_large = "Antwort gr\u00f6\u00dfer als %d Bytes, abgebrochen"
    assert texts.count("DownloadfileDirect: " + too_large % 65536) == 1
    assert texts.count("DownloadWithAuthentication 200: " + too_large % 65536) == 1
    assert texts.count("FetchFileConditionally: " + too_large % (256 << 20)) == 1
    assert EMBEDDED + starts[0][1][10] in texts
    assert not any("need to dl java" in t for t in texts)


def new_temp_files(prefix, before):
    """The first three letters of each file the start added to the temporary folder."""
    return sorted(p.name[:3].upper() for p in set(wine.temp_dir(prefix).iterdir()) - before)


def copies(prefix):
    return sorted(p.name for p in wine.cache_dir(prefix).glob("launcher-*.jar"))


def start_and_get_archive(prefix, display, record, count, exe=wine.EXE):
    """One start; the archive javaw got (its path in the prefix) and the lines saying which was used."""
    assert wine.run(prefix, display, ["start.kvnlp"], timeout=120, exe=exe) == 0
    starts = runtime.recorded_starts(record, count)
    assert len(starts) == count
    return host_path(prefix, starts[-1][1][10])


def test_warm_starts_fetch_the_archive_once_and_leave_no_copies_behind(clean, display):
    """Without archive lines a warm start asks whether the archive changed; with a signed version
    file naming the copy's size and digest, the launcher with the key does not ask at all, until a
    changed archive comes with a re-signed file: fetched once and run. No copies pile up."""
    root = runtime.lay_out_server(wine.E2E_DIR / "probe-server", version="5", archive=True)
    (root / runtime.GENERIC_ARCHIVE).write_bytes(ARCHIVE)
    origin = servers.start_origin(root)
    origin.routes[ARCHIVE_PATH] = ("ranged", {"body": ARCHIVE, "ranges": False})
    record = runtime.place_runtime(clean, version="5")
    temp_before = set(wine.temp_dir(clean).iterdir())
    cache, keyed = wine.cache_dir(clean), release.keyed_launcher()
    changed = ARCHIVE.replace(b"generic.Main", b"generic.Next")
    try:
        for count in (1, 2):
            jar = start_and_get_archive(clean, display, record, count)
            assert jar == cache / "launcher-1.jar" and jar.read_bytes() == ARCHIVE
        release.publish(root, 5, runtime.pack_bytes(), keys=release.KEYS, archive=True)
        for count in range(3, 8):
            assert start_and_get_archive(clean, display, record, count, keyed) == cache / "launcher-1.jar"
        assert origin.count(runtime.VERSION_PATH) == 7 and origin.count(ARCHIVE_PATH) == 2
        (root / runtime.GENERIC_ARCHIVE).write_bytes(changed)
        release.publish(root, 5, runtime.pack_bytes(), keys=release.KEYS, archive=True)
        origin.routes[ARCHIVE_PATH] = ("ranged", {"body": changed, "etag": '"v2"', "ranges": False})
        # Files of killed starts go once untouched for ten minutes; a fresh one may be another start's.
        for name, age in (("lar1.tmp", 660), ("lct2.tmp", 660), ("version.seen.new", 660), ("lct3.tmp", 0)):
            (cache / name).write_bytes(b"4")
            os.utime(cache / name, (time.time() - age,) * 2)
        jar = start_and_get_archive(clean, display, record, 8, keyed)
        assert jar == cache / "launcher-2.jar" and jar.read_bytes() == changed
    finally:
        origin.stop()
    assert origin.sent(ARCHIVE_PATH) == len(ARCHIVE) + len(changed)
    asked = [r["headers"].get("If-None-Match") for r in origin.requests if r["path"] == ARCHIVE_PATH]
    assert asked == [None, '"v1"', '"v1"']
    assert new_temp_files(clean, temp_before) == ["TPL"] * 16
    # A start that read the record before launcher-2 came may still be handing launcher-1 to javaw.
    assert copies(clean) == ["launcher-1.jar", "launcher-2.jar"]
    assert sorted(p.name for p in cache.iterdir() if p.suffix in (".new", ".tmp")) == ["lct3.tmp"]
    assert (cache / "version.seen").read_bytes() == b"5"


def test_a_changed_archive_runs_beside_a_held_copy_offline_the_copy_runs_and_a_withdrawn_one_does_not(clean,
                                                                                                      display):
    root = runtime.lay_out_server(wine.E2E_DIR / "probe-server", version="5")
    origin = servers.start_origin(root)
    origin.routes[ARCHIVE_PATH] = ("ranged", {"body": ARCHIVE, "ranges": False})
    record = runtime.place_runtime(clean, version="5")
    cache = wine.cache_dir(clean)
    changed = generic_archive() + b""  # a new release of the archive: other bytes, other ETag
    changed = changed.replace(b"generic.Main", b"generic.Next")
    try:
        assert start_and_get_archive(clean, display, record, 1) == cache / "launcher-1.jar"
        origin.routes[ARCHIVE_PATH] = ("ranged", {"body": changed, "etag": '"v2"', "ranges": False})
        # A running javaw holds the copy it was given: the new one gets a name of its own.
        with wine.holding(clean, display, cache / "launcher-1.jar"):
            jar = start_and_get_archive(clean, display, record, 2)
        assert jar == cache / "launcher-2.jar" and jar.read_bytes() == changed
        assert (cache / "launcher-1.jar").read_bytes() == ARCHIVE
    finally:
        origin.stop()
    # Offline: the copy runs, and, the new one being ten minutes old, the one nothing holds is gone.
    os.utime(cache / "launcher-2.jar", (time.time() - 660,) * 2)
    assert start_and_get_archive(clean, display, record, 3) == cache / "launcher-2.jar"
    assert copies(clean) == ["launcher-2.jar"]
    origin = servers.start_origin(root)
    origin.routes[ARCHIVE_PATH] = ("status", {"status": 404})
    try:
        jar = start_and_get_archive(clean, display, record, 4)
    finally:
        origin.stop()
    # Withdrawn: not run, but as the newest it may be what another start is handing to its javaw.
    assert jar.name.startswith("TPL") and copies(clean) == ["launcher-2.jar"]
