"""Server faults during a run, with a runtime (version 5) installed: a connection reset, a body short
of its Content-Length, a slow body and a 503 on each download of the run (the version file, fetched
twice when an install follows, the runtime pack and the generic archive), and for the whole server a
certificate for another host, an expired one and one from an untrusted CA. Each case is one faulty
run and then one run with a good server. In every case javaw starts, and the good run ends with the
server's runtime installed and current.

The default run covers every case. LAUNCHER_FAULTS_FULL=1 adds the stall: a body that stops for
longer than the platform's receive time-out. The figures of the last run are written to
build/e2e/figures/server-faults.md.
"""
import os

import pytest

from harness import dialog
from harness import figures
from harness import net
from harness import runtime
from harness import servers
from harness import wine

SERVER_ROOT = wine.E2E_DIR / "fault-server"
INSTALLED = "5"
NEWER = "6"
ARGS = ["start.kvnlp"]
FULL = os.environ.get("LAUNCHER_FAULTS_FULL") == "1"
FIGURES = figures.Table("server-faults.md", ["download", "fault", "faulty run: javaw from", "dialogs", "time (s)",
                                             "good run: packs", "time (s)"],
                        "| %s | %s | %s | %d | %.1f | %d | %.1f |")

PATHS = {
    "version": runtime.VERSION_PATH,
    "version again": runtime.VERSION_PATH,
    "pack": runtime.PACK_PATH,
    "probe": "/" + runtime.GENERIC_ARCHIVE,
}
FAULTS = ["reset", "short", "slow", "503"] + (["stall"] if FULL else [])
CERTIFICATES = ["other-host", "expired", "untrusted"]


def faulty_answer(fault, body):
    half = len(body) // 2
    if fault == "reset":
        return "reset", {"body": body, "sent": half}
    if fault == "short":
        return "short", {"body": body, "sent": half}
    if fault == "slow":
        return "slow", {"body": body, "pieces": 4, "delay": 0.5, "lag": 2.0}
    if fault == "stall":  # longer than the low-speed window and the 65 s a read waits
        return "slow", {"body": body, "pieces": 2, "delay": 0.0, "lag": 70.0}
    return "status", {"status": 503}


@pytest.fixture
def layout(clean):
    """A server root with the given version and the installed runtime 5 in the cache."""
    net.require_network()

    def lay_out(version):
        root = runtime.lay_out_server(SERVER_ROOT, version=version, archive=True)
        runtime.place_runtime(clean, version=INSTALLED)
        return root
    return lay_out


def started_runtime(prefix):
    """Which runtime's javaw started: "new" (unpacked from the server's pack), "old" (the one
    installed before), or None when javaw did not start exactly once."""
    record = runtime.javaw_record(prefix)
    if len(runtime.recorded_starts(record)) != 1:
        return None
    return "new" if (wine.cache_dir(prefix) / "jre" / "release").is_file() else "old"


def assert_sound_cache(prefix, version):
    cache = wine.cache_dir(prefix)
    assert (cache / "version.txt").read_bytes() == version.encode()
    assert (cache / "jre" / "unpack.txt").is_file() and (cache / "jre" / "bin" / "javaw.exe").is_file()
    assert not (cache / "version.tmp").exists()


def good_run(prefix, display, origin):
    """The run after the fault, with every answer good; returns (packs fetched, seconds)."""
    origin.clear()
    runtime.javaw_record(prefix).unlink(missing_ok=True)
    code, answered, seconds = dialog.run(prefix, display, ARGS, dialog.AS_A_USER, timeout=180)
    assert code == 0 and answered == []
    packs = origin.count(runtime.PACK_PATH)
    assert started_runtime(prefix) in (("new",) if packs else ("new", "old"))
    return packs, seconds


@pytest.mark.parametrize("fault", FAULTS)
@pytest.mark.parametrize("download", list(PATHS))
def test_fault_during_a_download_keeps_a_runtime_that_starts(layout, clean, display, download, fault):
    prefix = clean
    # The version and the pack matter only when the server has a newer runtime; the probe follows a
    # runtime that is current.
    server_version = INSTALLED if download == "probe" else NEWER
    root = layout(server_version)
    origin = servers.start_origin(root)
    try:
        body = (root / PATHS[download].lstrip("/")).read_bytes()
        answer = faulty_answer(fault, body)
        if download == "version again":  # the first fetch is good, the one into version.txt is not
            answer = ("sequence", {"answers": [("body", {"body": body}), answer]})
        origin.routes[PATHS[download]] = answer

        code, answered, seconds = dialog.run(prefix, display, ARGS, dialog.AS_A_USER, timeout=180)
        assert code == 0
        started = started_runtime(prefix)
        texts = wine.log_texts(prefix)
        cache = wine.cache_dir(prefix)
        assert not (cache / "version.tmp").exists()
        delivered = fault == "slow"
        if download == "version":
            # An unreadable server number never installs; a slow one is only slow.
            assert started == ("new" if delivered else "old")
        elif download == "version again":
            # version.txt is replaced only by a second fetch that arrived whole with a number.
            assert started == ("new" if delivered else "old")
            assert delivered or (cache / "version.txt").read_bytes() == INSTALLED.encode()
        elif download == "pack":
            assert started == ("new" if delivered else "old")
            if not delivered:
                failure = "Jre download failed host=get.tarvolin.example, path=%s, to file %s\\jre_pack.exe" % (
                    runtime.PACK_PATH, runtime.windows_cache(prefix))
                assert failure in texts and answered
                assert (cache / "jre" / "unpack.txt").is_file()
                assert (cache / "version.txt").read_bytes() == INSTALLED.encode()
                assert not any(t.endswith('jre_pack.exe" -y') for t in texts)
        else:
            assert started == "old" and answered == []
            used = "Generisches" if delivered else "Eingebettetes"
            assert any(t.startswith(used + " Launcher-Archiv wird verwendet") for t in texts)

        packs, good_seconds = good_run(prefix, display, origin)
        assert_sound_cache(prefix, server_version)
        FIGURES.add(download, fault, started, len(answered), seconds, packs, good_seconds)
    finally:
        origin.stop()


@pytest.mark.parametrize("certificate", CERTIFICATES)
def test_bad_certificate_fails_every_download_and_the_installed_runtime_starts(layout, clean, display,
                                                                               certificate):
    prefix = clean
    root = layout(NEWER)
    bad = servers.start_origin(root, cert=certificate)
    try:
        code, answered, seconds = dialog.run(prefix, display, ARGS, dialog.AS_A_USER, timeout=180)
    finally:
        bad.stop()
    assert code == 0 and answered == []
    # The checks stay on: no request got through the refused handshake, nothing was installed.
    assert bad.requests == []
    assert started_runtime(prefix) == "old"
    assert (wine.cache_dir(prefix) / "version.txt").read_bytes() == INSTALLED.encode()
    texts = wine.log_texts(prefix)
    assert any(t.startswith("Fehler ") and t.endswith("Kein Netzwerkzugriff") for t in texts)
    assert not any("need to dl java" in t for t in texts)

    origin = servers.start_origin(root)
    try:
        packs, good_seconds = good_run(prefix, display, origin)
    finally:
        origin.stop()
    assert packs == 1
    assert_sound_cache(prefix, NEWER)
    FIGURES.add("all", "certificate " + certificate, "old", len(answered), seconds, packs, good_seconds)
