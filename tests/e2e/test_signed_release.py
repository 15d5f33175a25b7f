"""Signed releases with the real program: a launcher built with a test release key installs only
the pack its key signed, and refuses a changed pack, another release's pack, a version file signed
with another key and an unsigned one, and takes a file that one of its keys signed among others;
the launcher built without a key refuses a pack whose digest the version file contradicts. A
refused pack does not run: the installed runtime starts and version.txt keeps its number. (An
unsigned old-style server with the keyless launcher is what the other end-to-end modules run
against.) `tools/release status` reads the published file as a launcher does and warns before it
expires."""
import datetime
import functools
import hashlib
import io
import subprocess
import zipfile

import pytest

from harness import dialog
from harness import net
from harness import release
from harness import runtime
from harness import servers
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
    assert [t for t in texts if t.startswith("Jre check failed") or t.endswith("Runtime-Paket abgelehnt")] == [line]
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
    # The version file of release 5 is up, the server still has release 4's pack: its length
    # contradicts the signed size, so not a byte of it is written.
    "pack of another release": (
        lambda root: release.publish(root, 5, good(), keys=release.KEYS, served_pack=release.other_release_pack()),
        lambda prefix: "DownloadfileDirect: Server k\xfcndigt %d Bytes an, die Versionsdatei nennt %d, "
                       "Runtime-Paket abgelehnt" % (len(release.other_release_pack()), len(good()))),
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


INSTALLED_NOTHING = "EnsureRuntime: signierte Versionsdatei nennt Version 5"
UNVERIFIED = "EnsureRuntime: Versionsdatei des Servers ist nicht mit dem Release-Schl\xfcssel signiert, keine Installation"
EXPIRED = "EnsureRuntime: Versionsdatei des Servers seit 2001-01-01T00:00:00Z abgelaufen, keine Installation"
LATER = "2099-12-31T23:59:59Z"


def serve_in_turn(origin, path, *bodies):
    origin.routes[path] = ("sequence", {"answers": [("body", {"body": b}) for b in bodies]})


# Case -> how the server and the cache are set up over installed release 7 (root, origin, prefix)
# -> the line that says nothing is installed, or None when release 8 installs.
ROLL_BACKS = {
    "first fetch 9, second the genuine 5": (
        lambda root, origin, prefix: serve_in_turn(origin, runtime.VERSION_PATH, b"9",
                                                   release.publish(root, 5, good(), keys=release.KEYS)),
        INSTALLED_NOTHING + " statt 9, keine Installation"),
    "marker removed, genuine 5 replayed": (
        lambda root, origin, prefix: ((wine.cache_dir(prefix) / "jre" / "unpack.txt").unlink(),
                                      release.publish(root, 5, good(), keys=release.KEYS)),
        INSTALLED_NOTHING + ", installiert ist 7, keine Installation"),
    # An unverified file decides nothing about the pack: it is not asked for.
    "signed with another key": (
        lambda root, origin, prefix: release.publish(root, 8, good(), keys=release.OTHER_KEYS), UNVERIFIED),
    # An old-style server: the number and nothing else.
    "unsigned version file": (
        lambda root, origin, prefix: (runtime.set_pack(root, good()), runtime.set_version(root, "8")), UNVERIFIED),
    "expired": (
        lambda root, origin, prefix: release.publish(root, 8, good(), keys=release.KEYS,
                                                     expires="2001-01-01T00:00:00Z"),
        EXPIRED),
    "expiring later": (
        lambda root, origin, prefix: release.publish(root, 8, good(), keys=release.KEYS, expires=LATER), None),
    # Signed as while launchers change keys: a key it does not hold first, then its second key.
    "signed by an unknown key and the second key": (
        lambda root, origin, prefix: release.publish(root, 8, good(), keys=[release.OTHER_KEYS, release.SECOND_KEYS]),
        None),
}


@pytest.mark.parametrize("case", list(ROLL_BACKS))
def test_keyed_launcher_installs_only_the_release_that_decided_and_never_an_older_one(server, display,
                                                                                       keyed_launcher, case):
    root, origin, prefix = server
    runtime.place_runtime(prefix, version="7")
    serve, line = ROLL_BACKS[case]
    serve(root, origin, prefix)

    code, answered, _ = dialog.run(prefix, display, ARGS, exe=keyed_launcher)
    assert code == 0 and answered == []
    texts = wine.log_texts(prefix)
    version_txt = (wine.cache_dir(prefix) / "version.txt").read_bytes()
    if line:
        assert line in texts and pack_runs(prefix) == [] and origin.count(runtime.PACK_PATH) == 0
        assert version_txt == b"7"
    else:
        assert COMMITTED % 8 in texts and version_txt.startswith(b"8\n")
    assert len(runtime.javaw_starts(prefix, 1)) == 1


def other_archive():
    return release.one_byte_changed(runtime.launcher_archive())


# Case -> (does the version file vouch for the served archive, what the server serves instead
# after signing) -> whether javaw runs the server's archive, and the line when it does not.
ARCHIVES = {
    "not vouched": (False, None, "die Versionsdatei nennt kein Launcher-Archiv"),
    "vouched": (True, None, None),
    "changed after signing": (True, other_archive, "sha256 "),
}


@pytest.mark.parametrize("case", list(ARCHIVES))
def test_keyed_launcher_runs_only_the_archive_its_version_file_vouches_for(server, display, keyed_launcher, case):
    root, origin, prefix = server
    runtime.place_runtime(prefix, version="5")
    vouched, replacement, reason = ARCHIVES[case]
    release.publish(root, 5, good(), keys=release.KEYS, archive=vouched)
    if replacement:
        (root / runtime.GENERIC_ARCHIVE).write_bytes(replacement())

    code, answered, _ = dialog.run(prefix, display, ARGS, exe=keyed_launcher)
    assert code == 0 and answered == []
    texts = wine.log_texts(prefix)
    used = [t for t in texts if "Launcher-Archiv wird verwendet" in t]
    assert len(used) == 1 and used[0].startswith("Generisches" if reason is None else "Eingebettetes")
    refusals = [t for t in texts if t.startswith("provideGenenricLauncherJar: Archiv des Servers wird nicht")]
    assert len(refusals) == (0 if reason is None else 1) and all(reason in t for t in refusals)
    assert len(runtime.javaw_starts(prefix, 1)) == 1


def zip_archive(name):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as jar:
        jar.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMain-Class: %s.Main\r\n\r\n" % name)
    return out.getvalue()


def test_keyed_launcher_runs_no_archive_a_newer_release_withdrew_nor_one_an_older_release_brings(server, display,
                                                                                                 keyed_launcher):
    """Release 7 with archive A, its copy kept; release 7 re-signed for archive C with the archive
    request closed unanswered; then the genuine release 5 with archive B replayed: neither A nor B runs."""
    root, origin, prefix = server
    runtime.place_runtime(prefix, version="7")
    used = []
    for name, version, route in (("A", 7, None), ("C", 7, ("hangup", {})), ("B", 5, None)):
        (root / runtime.GENERIC_ARCHIVE).write_bytes(zip_archive(name))
        release.publish(root, version, good(), keys=release.KEYS, archive=True)
        origin.routes.pop("/" + runtime.GENERIC_ARCHIVE, None)
        if route:
            origin.routes["/" + runtime.GENERIC_ARCHIVE] = route
        code, answered, _ = dialog.run(prefix, display, ARGS, exe=keyed_launcher)
        assert code == 0 and answered == []
        used += [t.split(":")[0] for t in wine.log_texts(prefix) if "Launcher-Archiv wird verwendet" in t][len(used):]
    assert used == ["Generisches Launcher-Archiv wird verwendet"] + ["Eingebettetes Launcher-Archiv wird verwendet"] * 2
    assert ("provideGenenricLauncherJar: Archiv des Servers wird nicht verwendet: die Versionsdatei nennt Version 5, "
            "dieser Cache kannte schon Version 7") in wine.log_texts(prefix)
    assert (wine.cache_dir(prefix) / "version.seen").read_bytes() == b"7"
    assert len(runtime.javaw_starts(prefix, 3)) == 3


def test_keyless_launcher_refuses_a_pack_the_digest_line_contradicts_once_until_it_changes(server, display):
    root, origin, prefix = server
    record = runtime.place_runtime(prefix, version="4")
    (wine.cache_dir(prefix) / "jre" / "old-runtime.txt").write_text("old")
    changed = release.one_byte_changed(good())
    release.publish(root, 5, good(), served_pack=changed)
    origin.routes[runtime.PACK_PATH] = ("ranged", {"body": changed, "etag": '"p1"'})
    line = release.check_failure(prefix, "sha256", actual=digest(changed), expected=digest(good()))

    code, answered, _ = dialog.run(prefix, display, ARGS)
    assert code == 0
    assert_refused(prefix, answered, record, line)
    # Unchanged on the server: asked for only if it changed, refused again without its body.
    for start in (2, 3):
        code, answered, _ = dialog.run(prefix, display, ARGS)
        assert code == 0 and answered == [(dialog.WARNING_CAPTION, release.download_failure(prefix))]
        assert wine.log_texts(prefix).count(line) == start
    assert origin.sent(runtime.PACK_PATH) == len(changed) and len(runtime.recorded_starts(record, 3)) == 3
    # Fixed on the server: the next start fetches and installs it.
    origin.routes[runtime.PACK_PATH] = ("ranged", {"body": good(), "etag": '"p2"'})
    code, answered, _ = dialog.run(prefix, display, ARGS)
    assert code == 0 and answered == [] and COMMITTED % 5 in wine.log_texts(prefix)


def in_days(days):
    return (datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(days=days)).strftime("%Y-%m-%dT%H:%M:%SZ")


# Case -> what the server publishes -> the exit code and the start of the one line of
# `tools/release status` for a launcher with the keyed launcher's keys.
STATUSES = {
    "good": (lambda root: release.publish(root, 5, good(), keys=release.KEYS, expires=in_days(40), rollout=25), 0,
             "ok: version 5, signed by %s, rollout=25, expires " % release.fingerprint(release.KEYS)),
    "expiring soon": (lambda root: release.publish(root, 6, good(), keys=release.SECOND_KEYS, expires=in_days(3)), 1,
                      "expires soon: version 6, signed by %s, expires " % release.fingerprint(release.SECOND_KEYS)),
    "not verifying": (lambda root: release.publish(root, 7, good(), keys=release.OTHER_KEYS), 2,
                      "critical: the signature verifies with none of "),
}


def test_status_fetches_the_published_version_file_as_a_launcher_and_warns_before_expiry(server):
    root, origin, _ = server
    url = "https://get.tarvolin.example" + runtime.VERSION_PATH
    keys = "%s,%s" % (release.public_key(release.KEYS), release.public_key(release.SECOND_KEYS))
    for case, (serve, code, start) in STATUSES.items():
        serve(root)
        answer = subprocess.run([str(release.TOOL), "status", url, "--key", keys, "--days", "14", "--ca",
                                 str(net.CERTS / "ca.crt")], capture_output=True, text=True, timeout=60)
        assert (answer.returncode, answer.stdout[:len(start)]) == (code, start), (case, answer.stdout, answer.stderr)
    assert {r["headers"]["User-Agent"] for r in origin.requests} == {"WinHTTP tarvolin Client Launcher"}
HELD_BACK = "EnsureRuntime: Version 5 geht an %d %% der Arbeitspl\xe4tze, dieser hat die Nummer %d und bleibt bei " \
            "Version 4"

# Desktop -> (installed release, its kept number, the share release 5 is published to, signed) ->
# whether it installs 5. Lowering the share stops those not yet updated and rolls nobody back.
ROLLOUT = {
    "number below the share": (4, 29, 30, True, True),
    "number at the share": (4, 30, 30, True, False),
    "no runtime, share 0": (None, 99, 0, True, True),
    "share lowered below its number, keyless": (4, 15, 10, False, False),
    "updated, share lowered": (5, 29, 10, True, False),
}


def fresh_desktop(prefix, origin):
    wine.wait_for(lambda: not wine.prefix_processes(prefix), timeout=30)
    wine.clear_user_state(prefix)
    origin.clear()


def test_staged_rollout_installs_on_the_desktops_its_share_names(server, display, keyed_launcher):
    root, origin, prefix = server
    for desktop, (installed, number, share, signed, installs) in ROLLOUT.items():
        fresh_desktop(prefix, origin)
        if installed:
            runtime.place_runtime(prefix, version=str(installed))
        wine.cache_dir(prefix).mkdir(parents=True, exist_ok=True)
        (wine.cache_dir(prefix) / "rollout-number.txt").write_text(str(number))  # the number it drew once
        release.publish(root, 5, good(), keys=release.KEYS if signed else None, rollout=share)
        code, answered, _ = dialog.run(prefix, display, ARGS, exe=keyed_launcher if signed else wine.EXE)
        texts, cache = wine.log_texts(prefix), wine.cache_dir(prefix)
        assert code == 0 and answered == [] and len(runtime.javaw_starts(prefix, 1)) == 1, desktop
        assert (COMMITTED % 5 in texts) == installs == origin.count(runtime.PACK_PATH), desktop
        assert (HELD_BACK % (share, number) in texts) == (installed == 4 and not installs), desktop
        assert (cache / "version.txt").read_bytes()[:1] == (b"5" if installs else str(installed).encode()), desktop
        assert (cache / "rollout-number.txt").read_text() == str(number), desktop


def test_release_placed_beside_the_program_installs_without_its_download_unless_changed(server, display,
                                                                                          keyed_launcher):
    root, origin, prefix = server
    signed = release.publish(root, 5, good(), keys=release.KEYS)
    folder = wine.E2E_DIR / "program-with-release"
    exe = runtime.program_with_release_beside(keyed_launcher, folder, signed, good())
    delivered = wine.windows_path(folder / "runtime" / "jre_pack.exe", prefix)
    changed = release.one_byte_changed(good())
    # First with the server's pack gone, then with the pack beside the program changed.
    for pack_beside, used in ((good(), True), (changed, False)):
        fresh_desktop(prefix, origin)
        (folder / "runtime" / "jre_pack.exe").write_bytes(pack_beside)
        if used:
            origin.routes[runtime.PACK_PATH] = ("body", {"body": b"gone", "status": 404})
        code, answered, _ = dialog.run(prefix, display, ARGS, exe=exe)
        texts = wine.log_texts(prefix)
        assert code == 0 and answered == [] and len(runtime.javaw_starts(prefix, 1)) == 1
        assert COMMITTED % 5 in texts and origin.count(runtime.PACK_PATH) == (0 if used else 1)
        assert ("EnsureRuntime: Runtime-Paket %s wird verwendet, kein Download" % delivered in texts) == used
        assert [t for t in texts if t.startswith("Jre check failed")] == ([] if used else [
            "Jre check failed: sha256 %s, version file says %s, file %s" % (digest(changed), digest(good()), delivered)])

    # The server unreachable: a desktop without a runtime installs the release beside the program
    # when it verifies (expired or not), and the next start with the server installs the higher one
    # it announces.
    origin.stop()
    (folder / "runtime" / "jre_pack.exe").write_bytes(good())
    expired = release.signed_version_file(release.KEYS, 5, folder / "runtime" / "jre_pack.exe",
                                          expires="2001-01-01T00:00:00Z")
    beside = "EnsureRuntime: keine Versionsdatei vom Server, die Runtime neben dem Programm wird "
    for version_beside, line in ((release.digest_version_file(5, good()), "nicht installiert: ihre Versionsdatei ist "
                                  "nicht mit dem Release-Schl\xfcssel signiert"),
                                 (expired, "installiert, Version 5"), (signed, "installiert, Version 5")):
        fresh_desktop(prefix, origin)
        (folder / "runtime" / "version.txt").write_bytes(version_beside)
        code, answered, _ = dialog.run(prefix, display, ARGS, dialog.AS_A_USER, exe=exe)
        texts, version_file = wine.log_texts(prefix), wine.cache_dir(prefix) / "version.txt"
        installed = line.startswith("installiert")
        assert code == 0 and [c for c, _ in answered] == ([] if installed else [dialog.QUESTION_CAPTION])
        assert beside + line in texts and (COMMITTED % 5 in texts) == installed
        assert (version_file.read_bytes() if version_file.exists() else None) == (version_beside if installed else None)
        assert any(t.startswith("EnsureRuntime: Versionsdatei neben dem Programm seit 2001-01-01T00:00:00Z abgelaufen")
                   for t in texts) == (version_beside == expired)
    assert len(runtime.javaw_starts(prefix, 1)) == 1
    newer = release.publish(root, 6, good(), keys=release.KEYS)
    back = servers.start_origin(root)
    try:
        wine.wait_for(lambda: not wine.prefix_processes(prefix), timeout=30)
        code, answered, _ = dialog.run(prefix, display, ARGS, exe=exe)
        assert code == 0 and answered == [] and COMMITTED % 6 in wine.log_texts(prefix)
        assert (wine.cache_dir(prefix) / "version.txt").read_bytes() == newer
        assert len(runtime.javaw_starts(prefix, 1)) == 1
    finally:
        back.stop()
