"""An interrupted runtime-pack download goes on where it stopped. The origin serves a 20 MB pack
slowly; the first start (empty cache) is ended by a kill once half of it has gone out; the second
start then meets the server as the case scripts it. One table drives the origin and the checks.
The version file names the second start's pack by size and digest, so an install proves that the
digest taken while the pack arrived covers the part the first start left as well.

    ip netns exec tarvolin-e2e-<name> env LAUNCHER_BUILD_DIR=$PWD/build \\
        /usr/bin/python3 -m pytest -q -s -p no:cacheprovider tests/e2e/test_resume.py
"""

import hashlib

import pytest

from harness import dialog
from harness import net
from harness import release
from harness import runtime
from harness import servers
from harness import wine
from harness.figures import figure

SERVER_ROOT = wine.E2E_DIR / "resume-server"
PACK_SIZE = 20 << 20
SLOW = 4 << 20  # bytes per second of the first start's download
KILL_AT = 0.5
COMMITTED = "EnsureRuntime: neue Runtime installiert, Version 5"
RESUMED = "DownloadfileDirect: Runtime-Paket wird ab Byte %d von %d fortgesetzt"
WHOLE_AGAIN = "DownloadfileDirect: Teildownload verworfen: der Server schickt das ganze Paket"


def padded_pack(size):
    """A demo pack of about size bytes: the stand-in javaw with zero padding behind it still runs."""
    javaw = (wine.TOOLS / "fake_javaw.exe").read_bytes()
    return runtime.pack_bytes(javaw=javaw + b"\0" * max(0, size - len(javaw)))


class Case:
    """first/second: answer_ranged parameters of the pack for each start ("changed": the second
    start is served another pack; "replaced": another pack of the same size under the same
    validator, whose continued download is refused and fetched whole by a third start); status: the
    second answer's status; line: the log line of the second start; at_most: bytes served over both
    starts, in packs."""

    def __init__(self, name, first, second, status, line, changed=False, at_most=None, replaced=False):
        self.name, self.first, self.second, self.status = name, first, second, status
        self.line, self.changed, self.at_most, self.replaced = line, changed, at_most, replaced


CASES = [
    Case("resumed", {"etag": '"v1"'}, {"etag": '"v1"'}, 206, RESUMED, at_most=1.5),
    Case("changed on the server", {"etag": '"v1"'}, {"etag": '"v2"'}, 200, WHOLE_AGAIN, changed=True),
    Case("server without ranges", {"etag": '"v1"', "ranges": False}, {"etag": '"v1"', "ranges": False}, 200,
         WHOLE_AGAIN),
    Case("replaced under the same validator", {"etag": '"v1"'}, {"etag": '"v1"'}, 206, RESUMED, replaced=True),
    Case("date as validator", {"etag": None, "last_modified": "Mon, 07 Dec 2026 20:00:00 GMT"},
         {"etag": None, "last_modified": "Mon, 07 Dec 2026 20:00:00 GMT"}, 206, RESUMED, at_most=1.5),
]


def kill_when_served(prefix, display, origin, share):
    """Starts the program and kills it once share of the pack has gone out; returns the bytes
    served by then."""
    proc = wine.start(prefix, display, ["start.kvnlp"])
    try:
        served = wine.wait_for(lambda: origin.sent(runtime.PACK_PATH) >= share * PACK_SIZE,
                                   timeout=180, interval=0.05)
        assert served, "the pack download did not get under way"
    finally:
        proc.kill()
        proc.wait(timeout=30)
    return origin.sent(runtime.PACK_PATH)


@pytest.mark.parametrize("case", CASES, ids=[c.name for c in CASES])
def test_an_interrupted_pack_download_goes_on_or_starts_over(clean, display, case):
    prefix = clean
    net.require_network()
    root = runtime.lay_out_server(SERVER_ROOT, version="5")
    first_pack = padded_pack(PACK_SIZE)
    second_pack = padded_pack(PACK_SIZE + 4096) if case.changed else first_pack
    if case.replaced:  # differs within the part the first start keeps
        second_pack = bytearray(first_pack)
        second_pack[len(first_pack) // 10] ^= 1
        second_pack = bytes(second_pack)
    version_file = root / runtime.PRODUCTION_JRE / "version.txt"
    version_file.write_bytes(release.digest_version_file(5, first_pack))
    origin = servers.start_origin(root)
    try:
        origin.routes[runtime.PACK_PATH] = ("ranged", dict(case.first, body=first_pack, rate=SLOW))
        kill_when_served(prefix, display, origin, KILL_AT)
        cache = wine.cache_dir(prefix)
        partial = cache / "jre_pack.part"
        kept = partial.stat().st_size
        assert 0 < kept < len(first_pack)
        assert (cache / "jre_pack.part.meta").is_file()
        assert not (cache / "jre").exists()

        # A changed pack is published with its version file (which bounds the download to its size).
        version_file.write_bytes(release.digest_version_file(5, second_pack))
        origin.routes[runtime.PACK_PATH] = ("ranged", dict(case.second, body=second_pack))
        assert dialog.run(prefix, display, ["start.kvnlp"], dialog.AS_A_USER, timeout=240)[0] == 0
        texts = wine.log_texts(prefix)
        requests = [r for r in origin.requests if r["path"] == runtime.PACK_PATH]
        answers = [a for a in origin.answers if a["path"] == runtime.PACK_PATH]
        validator = case.first.get("etag") or case.first.get("last_modified")
        assert len(requests) == 2 and len(answers) == 2
        assert requests[1]["headers"].get("Range") == "bytes=%d-" % kept
        assert requests[1]["headers"].get("If-Range") == validator
        assert answers[1]["status"] == case.status
        expected_line = case.line % (kept, len(second_pack)) if "%d" in case.line else case.line
        assert expected_line in texts, [t for t in texts if "DownloadfileDirect" in t]
        if case.replaced:
            # Two answers' bytes: refused, but no refusal is kept against the server's pack.
            sha = lambda b: hashlib.sha256(b).hexdigest()
            assert release.check_failure(prefix, "sha256", actual=sha(first_pack), expected=sha(second_pack)) in texts
            assert not (cache / "jre_pack.refused").exists() and COMMITTED not in texts
            assert dialog.run(prefix, display, ["start.kvnlp"], dialog.AS_A_USER, timeout=240)[0] == 0
            texts = wine.log_texts(prefix)
            third = [r for r in origin.requests if r["path"] == runtime.PACK_PATH][2]["headers"]
            assert not {"Range", "If-None-Match", "If-Modified-Since"} & set(third)
        assert COMMITTED in texts
        assert (cache / "jre_pack.exe").read_bytes() == second_pack
        assert not partial.exists() and not (cache / "jre_pack.part.meta").exists()
        assert runtime.javaw_starts(prefix, 1)
        served = origin.sent(runtime.PACK_PATH)
        if case.at_most:
            assert served < case.at_most * len(second_pack)
        figure("resume " + case.name, kept=kept, served=served, pack=len(second_pack),
               ratio="%.2f" % (served / len(second_pack)))
    finally:
        origin.stop()


def test_a_trickling_pack_is_given_up_kept_and_the_installed_runtime_starts(clean, display):
    """Half the pack at once, then a byte every 5 s: given up within two windows of the low-speed rule."""
    net.require_network()
    root = runtime.lay_out_server(SERVER_ROOT, version="6")
    record = runtime.place_runtime(clean, version="5")
    pack = padded_pack(1 << 20)
    origin = servers.start_origin(root)
    origin.routes[runtime.PACK_PATH] = ("trickle", {"body": pack, "fast": len(pack) // 2, "interval": 5,
                                                    "headers": {"ETag": '"t1"'}})
    try:
        code, shown, seconds = dialog.run(clean, display, ["start.kvnlp"], timeout=240)
        starts = runtime.recorded_starts(record)
    finally:
        origin.stop()
    texts = wine.log_texts(clean)
    assert code == 0 and len(starts) == 1 and seconds < 150, (seconds, texts[-10:])
    assert "DownloadfileDirect: weniger als 1024 Bytes in 60 s erhalten, Download abgebrochen" in texts
    cache = wine.cache_dir(clean)
    assert len(pack) // 2 <= (cache / "jre_pack.part").stat().st_size < len(pack)
    assert (cache / "jre_pack.part.meta").is_file()
    assert (cache / "version.txt").read_bytes() == b"5"
    figure("pack given up as too slow", seconds="%.1f" % seconds, boxes=len(shown))
