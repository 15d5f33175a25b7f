"""The generic-archive probe with the real program on a warm runtime cache: whatever the download
host answers for the generic launcher archive, the probe leaves its "lnc" temporary file, shows no
dialog, and javaw starts; the received archive is on javaw's command line only when it arrived
whole and is a whole ZIP archive, otherwise the embedded one is, and the log says which.
"""
import io
import re
import zipfile

import pytest

from harness import dialog
from harness import net
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


def is_cut_archive(data):
    return 0 < len(data) < len(ARCHIVE) and ARCHIVE.startswith(data)


# outcome -> (scripted answer for the archive path, or None for no server at all;
#             whether javaw gets the received archive; what the probe's file must hold)
OUTCOMES = {
    "whole archive": (("body", {"body": ARCHIVE}), True, lambda d: d == ARCHIVE),
    "empty body": (("body", {"body": b""}), False, lambda d: d == b""),
    "404": (("status", {"status": 404}), False, lambda d: d == b""),
    "503": (("status", {"status": 503}), False, lambda d: d == b""),
    "reset mid-body": (("reset", {"body": ARCHIVE, "sent": CUT}), False, is_cut_archive),
    "short body": (("short", {"body": ARCHIVE, "sent": CUT}), False, is_cut_archive),
    "not a zip": (("body", {"body": NOT_AN_ARCHIVE}), False, lambda d: d == NOT_AN_ARCHIVE),
    "zip without its end": (("body", {"body": ARCHIVE[:CUT]}), False, lambda d: d == ARCHIVE[:CUT]),
    "no server": (None, False, lambda d: d == b""),
}


def host_path(prefix, windows_path):
    assert windows_path.lower().startswith("c:\\"), windows_path
    return wine.Path(prefix) / "drive_c" / windows_path[3:].replace("\\", "/")


@pytest.mark.parametrize("outcome", list(OUTCOMES))
def test_probe_leaves_its_file_shows_no_dialog_and_the_launch_follows(clean, display, outcome):
    net.require_network()
    answer, received, holds = OUTCOMES[outcome]
    root = runtime.lay_out_server(wine.E2E_DIR / "probe-server", version="5")
    origin = None
    if answer is not None:
        origin = servers.start_origin(root)
        origin.routes[ARCHIVE_PATH] = answer
    record = runtime.place_runtime(clean, version="5")
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

    probe = [t for t in texts if t.startswith("DownloadfileDirect https://get.tarvolin.example%s to " % ARCHIVE_PATH)]
    assert len(probe) == 1, texts
    probe_file = probe[0].rsplit(" to ", 1)[1]
    assert re.fullmatch(r"lnc[0-9A-F]{1,4}\.tmp", probe_file.rsplit("\\", 1)[1], re.I), probe_file
    local = host_path(clean, probe_file)
    assert local.parent == wine.temp_dir(clean)
    assert local.is_file() and holds(local.read_bytes())

    jar = argv[10]
    line = GENERIC + jar if received else EMBEDDED + jar
    assert line in texts and texts.index(probe[0]) < texts.index(line)
    assert not any(t.startswith(EMBEDDED if received else GENERIC) for t in texts)
    if received:
        assert jar == probe_file
        assert host_path(clean, jar).read_bytes() == ARCHIVE
    else:
        assert host_path(clean, jar).name.startswith("TPL")
        assert host_path(clean, jar).read_bytes() == runtime.launcher_archive()
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
    assert texts.count("DownloadfileDirect: " + too_large % (256 << 20)) == 1
    assert EMBEDDED + starts[0][1][10] in texts
    assert not any("need to dl java" in t for t in texts)
