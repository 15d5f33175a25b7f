"""Signed releases with the real program: a launcher built with a test release key installs only
the pack its key signed, and refuses a changed pack, another release's pack, a version file signed
with another key and an unsigned one; the launcher built without a key refuses a pack whose digest
the version file contradicts. A refused pack does not run: the installed runtime starts and
version.txt keeps its number. (An unsigned old-style server with the keyless launcher is what the
other end-to-end modules run against.)"""
import functools
import hashlib

import pytest

from harness import dialog
from harness import release
from harness import runtime
from harness import wine

SERVER_ROOT = wine.E2E_DIR / "signed-release-server"
ARGS = ["start.kvnlp"]
COMMITTED = "EnsureRuntime: neue Runtime installiert, Version %d"


@pytest.fixture(scope="session")
def keyed_launcher():
    return release.keyed_launcher()


def digest(pack):
    return hashlib.sha256(pack).hexdigest()


def pack_runs(prefix):
    return [t for t in wine.log_texts(prefix) if t.endswith('jre_pack.exe" -y')]


def test_signed_release_installs_launches_and_is_current_on_the_next_start(server, display, keyed_launcher):
    root, origin, prefix = server
    runtime.place_runtime(prefix, version="4")
    signed = release.publish(root, 5, good(), keys=release.KEYS)

    code, answered, _ = dialog.run(prefix, display, ARGS, exe=keyed_launcher)
    assert code == 0 and answered == []
    texts = wine.log_texts(prefix)
    assert len(pack_runs(prefix)) == 1 and COMMITTED % 5 in texts
    assert not any(t.startswith("Jre check failed") for t in texts)
    cache = wine.cache_dir(prefix)
    # version.txt is the server's signed file; its number still reads as the installed version.
    assert (cache / "version.txt").read_bytes() == signed
    assert len(runtime.javaw_starts(prefix, 1)) == 1

    origin.clear()
    code, answered, _ = dialog.run(prefix, display, ARGS, exe=keyed_launcher)
    assert code == 0 and answered == []
    assert origin.count(runtime.PACK_PATH) == 0 and len(pack_runs(prefix)) == 1
    assert len(runtime.javaw_starts(prefix, 2)) == 2


def assert_refused(prefix, answered, record, line):
    """A refused release: the one check line, the download box once, the pack neither run nor
    kept, the installed runtime started and version.txt at its number."""
    texts = wine.log_texts(prefix)
    assert [t for t in texts if t.startswith("Jre check failed")] == [line]
    failure = release.download_failure(prefix)
    assert failure in texts and answered == [(dialog.WARNING_CAPTION, failure)]
    assert pack_runs(prefix) == []
    cache = wine.cache_dir(prefix)
    assert not (cache / "jre_pack.exe").exists() and (cache / "jre" / "old-runtime.txt").exists()
    assert (cache / "version.txt").read_bytes() == b"4"
    assert len(runtime.recorded_starts(record)) == 1


@functools.cache
def good():
    """The pack of release 5."""
    return runtime.pack_bytes()


# Case -> what the server publishes (root) -> the check line expected (prefix).
REFUSALS = {
    "one byte changed": (
        lambda root: release.publish(root, 5, good(), keys=release.KEYS, served_pack=release.one_byte_changed(good())),
        lambda prefix: release.check_failure(prefix, "sha256", actual=digest(release.one_byte_changed(good())),
                                             expected=digest(good()))),
    # The version file of release 5 is up, the server still has release 4's pack.
    "pack of another release": (
        lambda root: release.publish(root, 5, good(), keys=release.KEYS, served_pack=release.other_release_pack()),
        lambda prefix: release.check_failure(prefix, "size", actual=len(release.other_release_pack()),
                                             expected=len(good()))),
    "signed with another key": (
        lambda root: release.publish(root, 5, good(), keys=release.OTHER_KEYS),
        lambda prefix: release.check_failure(prefix, "signature")),
    # An old-style server: the number and nothing else.
    "unsigned version file": (
        lambda root: (runtime.set_pack(root, good()), runtime.set_version(root, "5")),
        lambda prefix: release.check_failure(prefix, "no signature")),
}


@pytest.mark.parametrize("case", list(REFUSALS))
def test_keyed_launcher_refuses_and_starts_the_installed_runtime(server, display, keyed_launcher, case):
    root, origin, prefix = server
    record = runtime.place_runtime(prefix, version="4")
    (wine.cache_dir(prefix) / "jre" / "old-runtime.txt").write_text("old")
    serve, line = REFUSALS[case]
    serve(root)

    code, answered, _ = dialog.run(prefix, display, ARGS, exe=keyed_launcher)
    assert code == 0
    assert_refused(prefix, answered, record, line(prefix))


def test_keyless_launcher_refuses_a_pack_the_digest_line_contradicts(server, display):
    root, origin, prefix = server
    record = runtime.place_runtime(prefix, version="4")
    (wine.cache_dir(prefix) / "jre" / "old-runtime.txt").write_text("old")
    changed = release.one_byte_changed(good())
    release.publish(root, 5, good(), served_pack=changed)

    code, answered, _ = dialog.run(prefix, display, ARGS)
    assert code == 0
    assert_refused(prefix, answered, record,
                   release.check_failure(prefix, "sha256", actual=digest(changed), expected=digest(good())))
