"""Placing a stand-in runtime in the cache and reading what its javaw received."""
import shutil

import winbench


def place_runtime(prefix, version="0"):
    cache = winbench.cache_dir(prefix)
    bin_dir = cache / "jre" / "bin"
    bin_dir.mkdir(parents=True, exist_ok=True)
    shutil.copy(winbench.TOOLS / "fake_javaw.exe", bin_dir / "javaw.exe")
    (cache / "jre" / "unpack.txt").write_bytes(b"")
    (cache / "version.txt").write_text(version)
    return bin_dir / "javaw-record.txt"


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
