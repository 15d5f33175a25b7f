"""Placing a runtime and reading javaw's records: a stand-in runtime placed in the cache, demo
runtime packs built from the test tools, a download server root laid out like the real one, and
what the stand-in javaw and the demo pack recorded.

A served pack is demo_pack.exe, then the javaw it unpacks (fake_javaw.exe), then a 24-byte trailer:
payload length (8 bytes), exit code (4), delay in ms (4), magic "ZXPACK01", all little endian.
The delay comes before the pack writes anything; with its top bit set, after it has written all.
"""
import shutil
import struct
from pathlib import Path

from . import wine

PRODUCTION_JRE = "apps/zentrix/windows/jre"
TEST_JRE = "apps/zentrix/test/windows/test/jre"
GENERIC_ARCHIVE = "apps/zentrix/launcher/launcher.jar"
VERSION_PATH = "/" + PRODUCTION_JRE + "/version.txt"
PACK_PATH = "/" + PRODUCTION_JRE + "/jre_pack.exe"


def as_windowed_program(program):
    """The program with its PE subsystem set to GUI, as a real self-extracting pack has it, so that
    no console window opens while it runs (the test tools are built as console programs)."""
    program = bytearray(program)
    pe = struct.unpack_from("<I", program, 0x3C)[0]
    assert program[pe:pe + 4] == b"PE\0\0"
    struct.pack_into("<H", program, pe + 0x5C, 2)
    return bytes(program)


HOLD_AFTER_UNPACKING = 0x80000000


def pack_bytes(exit_code=0, delay_ms=0, javaw=None, hold_ms=0):
    """A self-extracting demo runtime pack whose javaw is the recording stand-in. delay_ms: a wait
    before it writes anything; hold_ms: a wait after it has written everything, before it ends."""
    program = as_windowed_program((wine.TOOLS / "demo_pack.exe").read_bytes())
    payload = javaw if javaw is not None else (wine.TOOLS / "fake_javaw.exe").read_bytes()
    wait = hold_ms | HOLD_AFTER_UNPACKING if hold_ms else delay_ms
    return program + payload + struct.pack("<QII", len(payload), exit_code, wait) + b"ZXPACK01"


def launcher_archive():
    """The launcher archive the program embeds; the server offers the same bytes as the generic one."""
    return (wine.ROOT / "res" / "launcher.jar").read_bytes()


def lay_out_server(root, version="5", pack=None, folders=(PRODUCTION_JRE, TEST_JRE), archive=False):
    """Writes version.txt and jre_pack.exe into the runtime folders of a server root, and with
    archive the generic launcher archive; returns the root."""
    root = Path(root)
    shutil.rmtree(root, ignore_errors=True)
    for folder in folders:
        target = root / folder
        target.mkdir(parents=True, exist_ok=True)
        set_version(root, version, folder)
        (target / "jre_pack.exe").write_bytes(pack if pack is not None else pack_bytes())
    if archive:
        (root / GENERIC_ARCHIVE).parent.mkdir(parents=True, exist_ok=True)
        (root / GENERIC_ARCHIVE).write_bytes(launcher_archive())
    return root


def set_version(root, version, folder=PRODUCTION_JRE):
    (Path(root) / folder / "version.txt").write_bytes(str(version).encode())


def set_pack(root, pack, folder=PRODUCTION_JRE):
    (Path(root) / folder / "jre_pack.exe").write_bytes(pack)


def remove_pack(root, folder=PRODUCTION_JRE):
    (Path(root) / folder / "jre_pack.exe").unlink(missing_ok=True)


def runtime_files(prefix):
    """What is in the runtime cache, as paths relative to it."""
    cache = wine.cache_dir(prefix)
    return sorted(str(p.relative_to(cache)).replace("\\", "/") for p in cache.rglob("*")) if cache.exists() else []


def pack_record(prefix):
    """The command line and current folder the demo pack recorded during the last install."""
    path = wine.cache_dir(prefix) / "jre" / "lib" / "pack-record.txt"
    if not path.exists():
        return {}
    return dict(line.split("\t", 1) for line in path.read_text(encoding="utf-8").splitlines() if "\t" in line)


def windows_cache(prefix):
    return "C:\\users\\" + wine.user_dir(prefix).name + "\\AppData\\Local\\tarvolin\\zentrixjre"


def javaw_record(prefix):
    """Where the installed runtime's javaw records its starts."""
    return wine.cache_dir(prefix) / "jre" / "bin" / "javaw-record.txt"


def place_runtime(prefix, version="0"):
    cache = wine.cache_dir(prefix)
    bin_dir = cache / "jre" / "bin"
    bin_dir.mkdir(parents=True, exist_ok=True)
    shutil.copy(wine.TOOLS / "fake_javaw.exe", bin_dir / "javaw.exe")
    (cache / "jre" / "unpack.txt").write_bytes(b"")
    (cache / "version.txt").write_text(version)
    return javaw_record(prefix)


def read_records(record_file):
    """Each start of javaw as (command line, [arguments])."""
    if not record_file.exists():
        return []
    starts, current = [], None
    for line in record_file.read_text(encoding="utf-8").split("\n"):
        kind, _, value = line.partition("\t")
        if kind == "CMDLINE":
            current = (value, [])
        elif kind == "ARG" and current:
            current[1].append(value)
        elif kind == "END" and current:
            starts.append(current)
            current = None
    return starts


def place_runtime_without_javaw(prefix, version="0"):
    """A runtime that counts as current offline but whose javaw is missing."""
    cache = wine.cache_dir(prefix)
    (cache / "jre" / "bin").mkdir(parents=True, exist_ok=True)
    (cache / "jre" / "unpack.txt").write_bytes(b"")
    (cache / "version.txt").write_text(version)
    return cache


# javaw may still be starting when the launcher has ended; on a loaded machine one start of the
# soak took over 14 s in all. A slow javaw start is not a missing one.
JAVAW_WAIT_SECONDS = 60


def recorded_starts(record, count=1, timeout=JAVAW_WAIT_SECONDS):
    """javaw's records in record once there are at least count of them; [] when they do not come."""
    return wine.wait_for(lambda: len(read_records(record)) >= count and read_records(record),
                         timeout=timeout) or []


def javaw_starts(prefix, count, timeout=JAVAW_WAIT_SECONDS):
    """javaw's records of the installed runtime once there are at least count of them."""
    return recorded_starts(javaw_record(prefix), count, timeout)


def program_with_release_beside(exe, folder, version_text, pack):
    """A copy of the program in folder with a release in its folder runtime, as a software
    distribution places them; returns the copy."""
    (folder / "runtime").mkdir(parents=True, exist_ok=True)
    (folder / "runtime" / "version.txt").write_bytes(version_text)
    (folder / "runtime" / "jre_pack.exe").write_bytes(pack)
    return shutil.copy(exe, folder / "DesktopLauncher.exe")
