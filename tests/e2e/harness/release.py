"""Signed releases: test release keys made with the operator's tool, the launcher the build links
with one of them, and a server root that publishes a release (a pack and its version file, signed
or not)."""
import hashlib
import re
import subprocess

from . import runtime
from . import wine

TOOL = wine.ROOT / "tools" / "release"
# The build makes this key pair with the operator's tool and links the program with its public key
# into build/keyed/ (tests/CMakeLists.txt).
KEYS = wine.E2E_DIR / "release-keys"
# The keyed program carries a second key too, as during a key rotation; OTHER_KEYS it does not carry.
SECOND_KEYS = wine.E2E_DIR / "second-release-keys"
OTHER_KEYS = wine.E2E_DIR / "other-release-keys"
KEYED_EXE = wine.BUILD / "keyed" / "DesktopLauncher.exe"


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


def keyed_launcher():
    """The program built with the public key of KEYS."""
    assert KEYED_EXE.is_file() and (KEYS / "release-private.pem").is_file(), \
        "the build makes %s with the key of %s" % (KEYED_EXE, KEYS)
    return KEYED_EXE


def signed_version_file(keys, version, pack_file, archive_file=None, expires=None, rollout=None):
    """The version file `tools/release sign` writes for pack_file with the private key of keys (a
    key folder, or a list of them: one signature each), naming the launcher archive archive_file
    and expiring at expires when they are given."""
    extra = (["--archive", str(archive_file)] if archive_file else []) + (["--expires", expires] if expires else [])
    extra += ["--rollout", str(rollout)] if rollout is not None else []  # the share, in percent
    for folder in keys if isinstance(keys, list) else [keys]:
        extra += ["--key", str(private_key(folder))]
    return subprocess.run([str(TOOL), "sign", "--version", str(version)] + extra +
                          [str(pack_file)], check=True, stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=60).stdout


def fingerprint(keys):
    """The fingerprint of the public key of keys, as the tool and the build print it."""
    der = subprocess.run(["openssl", "pkey", "-pubin", "-in", str(public_key(keys)), "-outform", "DER"],
                         check=True, capture_output=True, timeout=60).stdout
    return "SHA256:" + hashlib.sha256(der).hexdigest()


def product_versions(exe):
    """The ProductVersion texts of the exe's version records: UTF-16 values (4-byte aligned, so
    the whole file decodes in step) after their key and its padding."""
    return re.findall("ProductVersion\0+([^\0]+)", exe.read_bytes().decode("utf-16-le", "replace"))


def digest_version_file(version, pack, rollout=None):
    """An unsigned version file that names the size and SHA-256 digest of pack (bytes)."""
    return b"%d\nsize=%d\nsha256=%s\n%s" % (version, len(pack), hashlib.sha256(pack).hexdigest().encode(),
                                          b"" if rollout is None else b"rollout=%d\n" % rollout)


def publish(root, version, pack, keys=None, served_pack=None, folder=runtime.PRODUCTION_JRE, archive=False,
            expires=None, rollout=None):
    """Publishes pack as release version in a server root: signed with keys, or with keys None as
    an unsigned file with size and digest lines. served_pack, when given, is what the server then
    offers instead of the published pack (a wrong upload, a stale copy). archive: the version file
    vouches for the launcher archive the root serves; expires: its expiry. Returns the version file."""
    runtime.set_pack(root, pack, folder)
    pack_file = root / folder / "jre_pack.exe"
    archive_file = root / runtime.GENERIC_ARCHIVE if archive else None
    text = (signed_version_file(keys, version, pack_file, archive_file, expires, rollout) if keys
            else digest_version_file(version, pack, rollout))
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
