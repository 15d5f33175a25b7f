"""Signed releases: test release keys made with the operator's tool, a launcher built with one of
them, and a server root that publishes a release (a pack and its version file, signed or not).

Keys and the keyed build live under build/e2e/ and are made once: a later run reuses them, and the
build is only brought up to date (the key file is a configure dependency, so a new key rebuilds).
"""
import hashlib
import subprocess
import time

from . import runtime
from . import wine

TOOL = wine.ROOT / "tools" / "release"
TOOLCHAIN = wine.ROOT / "cmake" / "mingw-w64-x86_64.cmake"
KEYS = wine.E2E_DIR / "release-keys"
OTHER_KEYS = wine.E2E_DIR / "other-release-keys"
KEYED_BUILD = wine.E2E_DIR / "keyed"
KEYED_EXE = KEYED_BUILD / "DesktopLauncher.exe"


def key_pair(folder):
    """The folder of a release key pair, made with `tools/release keygen` when it is not there yet
    (the tool refuses to replace a key)."""
    if not (folder / "release-private.pem").exists():
        subprocess.run([str(TOOL), "keygen", str(folder)], check=True, stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=60)
    return folder


def private_key(folder):
    return key_pair(folder) / "release-private.pem"


def public_key(folder):
    return key_pair(folder) / "release-public.pem"


def _configured_with(build, key):
    cache = build / "CMakeCache.txt"
    return cache.exists() and ("LAUNCHER_RELEASE_PUBLIC_KEY:FILEPATH=%s\n" % key) in cache.read_text()


def build_keyed_launcher(keys=KEYS):
    """The program built with the public key of keys, without the tests, into build/e2e/keyed;
    returns (path of the program, seconds the configure and build took). Output goes to
    build/e2e/keyed-build.log; a failed build fails with its end."""
    key = public_key(keys)
    log = wine.E2E_DIR / "keyed-build.log"
    steps = []
    if not _configured_with(KEYED_BUILD, key):
        steps.append(["cmake", "-S", str(wine.ROOT), "-B", str(KEYED_BUILD), "-DCMAKE_TOOLCHAIN_FILE=%s" % TOOLCHAIN,
                      "-DCMAKE_BUILD_TYPE=Release", "-DLAUNCHER_BUILD_TESTS=OFF",
                      "-DLAUNCHER_RELEASE_PUBLIC_KEY=%s" % key])
    steps.append(["cmake", "--build", str(KEYED_BUILD), "-j2", "--target", "DesktopLauncher"])
    started = time.perf_counter()
    with open(log, "wb") as out:
        for step in steps:
            out.write(("$ %s\n" % " ".join(step)).encode())
            out.flush()
            if subprocess.run(step, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                              timeout=1800).returncode != 0:
                raise RuntimeError("keyed build failed (%s):\n%s" % (log, log.read_text()[-3000:]))
    return KEYED_EXE, time.perf_counter() - started


def signed_version_file(keys, version, pack_file):
    """The version file `tools/release sign` writes for pack_file with the private key of keys."""
    return subprocess.run([str(TOOL), "sign", "--key", str(private_key(keys)), "--version", str(version),
                           str(pack_file)], check=True, stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=60).stdout


def digest_version_file(version, pack):
    """An unsigned version file that names the size and SHA-256 digest of pack (bytes)."""
    return b"%d\nsize=%d\nsha256=%s\n" % (version, len(pack), hashlib.sha256(pack).hexdigest().encode())


def publish(root, version, pack, keys=None, served_pack=None, folder=runtime.PRODUCTION_JRE):
    """Publishes pack as release version in a server root: signed with keys, or with keys None as
    an unsigned file with size and digest lines. served_pack, when given, is what the server then
    offers instead of the published pack (a wrong upload, a stale copy). Returns the version file."""
    runtime.set_pack(root, pack, folder)
    pack_file = root / folder / "jre_pack.exe"
    text = signed_version_file(keys, version, pack_file) if keys else digest_version_file(version, pack)
    (root / folder / "version.txt").write_bytes(text)
    if served_pack is not None:
        runtime.set_pack(root, served_pack, folder)
    return text


def one_byte_changed(pack):
    """pack with its middle byte flipped: still a Windows program of the same size, so only the
    digest tells."""
    changed = bytearray(pack)
    changed[len(pack) // 2] ^= 0x01
    return bytes(changed)


def other_release_pack():
    """The pack of another release: another runtime (a larger javaw), so another size too."""
    javaw = (wine.TOOLS / "fake_javaw.exe").read_bytes()
    return runtime.pack_bytes(javaw=javaw + b"\0" * 4096)


def check_failure(prefix, kind, **facts):
    """The log line of a refused release check; kind is "sha256", "size", "signature" or
    "no signature", facts the measured and expected values it names."""
    cache = runtime.windows_cache(prefix)
    pack, version_file = cache + "\\jre_pack.exe", cache + "\\version.new"
    if kind == "sha256":
        return "Jre check failed: sha256 %s, version file says %s, file %s" % (facts["actual"], facts["expected"], pack)
    if kind == "size":
        return "Jre check failed: size %d, version file says %d, file %s" % (facts["actual"], facts["expected"], pack)
    if kind == "signature":
        return "Jre check failed: signature does not verify, version file %s" % version_file
    if kind == "no signature":
        return "Jre check failed: no signature in version file %s" % version_file
    raise ValueError(kind)


def download_failure(prefix, folder=runtime.PRODUCTION_JRE):
    """The text of the "Jre download failed ..." box and log line for the pack of folder."""
    return "Jre download failed host=get.tarvolin.example, path=/%s/jre_pack.exe, to file %s\\jre_pack.exe" % (
        folder, runtime.windows_cache(prefix))
