"""Release check of a 50 MB pack against its download, with the program's own code
(build/tools/pack_bench.exe under Wine) fetching a signed release from the loopback HTTPS origin,
inside the test namespace. Runs alternate two ways of fetching the same pack:

- checked: the pack is hashed while it downloads, then the release check runs with that digest
  (the signature, the size and the digest compared); the same check reading the pack again, as it
  did before the digest was taken on the way, is timed after it for comparison;
- plain: the same download without a digest and without a check.

The check's cost to the first run is the median over the pairs of (checked download + check)
minus the plain download; which of the two runs first alternates between the pairs. Not part of the test run. Run from the checkout:
    ip netns exec tarvolin-e2e env LAUNCHER_BUILD_DIR=$PWD/build \\
        /usr/bin/python3 tests/e2e/bench/release_check_bench.py [--runs 9] [--megabytes 50]
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

from cryptography.hazmat.primitives import serialization  # noqa: E402

from harness import bench_options  # noqa: E402
from harness import release  # noqa: E402
from harness import servers  # noqa: E402
from harness import wine  # noqa: E402

HOST = "get.tarvolin.example"
PACK_PATH = "/bench/jre_pack.exe"
MB = 1 << 20


def key_hex(keys):
    """The raw X||Y of the public key, as the bench tool takes it."""
    key = serialization.load_pem_public_key(release.public_key(keys).read_bytes())
    point = key.public_bytes(serialization.Encoding.X962, serialization.PublicFormat.UncompressedPoint)
    return point[1:].hex()


def run_tool(prefix, folder, version_file, key):
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    result = subprocess.run([wine.WINE, str(wine.TOOLS / "pack_bench.exe"), HOST, PACK_PATH,
                             wine.windows_path(version_file, prefix), key, wine.windows_path(folder, prefix)],
                            env=wine.wine_env(prefix), stdin=subprocess.DEVNULL, capture_output=True, timeout=600)
    fields = dict(re.findall(r"([A-Z_]+)\t(\S+)", result.stdout.decode(errors="replace")))
    if fields.get("RESULT") != "1":
        log = folder / "pack_bench.log"
        raise RuntimeError("pack_bench failed: %r\n%s" % (fields, log.read_text(errors="replace") if log.exists() else ""))
    return {name: float(value) for name, value in fields.items()}


def main():
    args = bench_options.parse(__doc__, runs=9, megabytes=50)
    runs = args.runs
    root = wine.E2E_DIR / "release-check-bench"
    server = root / "server"
    (server / "bench").mkdir(parents=True, exist_ok=True)
    pack = server / "bench" / "jre_pack.exe"
    if not pack.exists() or pack.stat().st_size != args.megabytes * MB or pack.open("rb").read(2) != b"MZ":
        # A Windows program at its head, as the operator's tool signs nothing else.
        head = (wine.TOOLS / "demo_pack.exe").read_bytes()
        pack.write_bytes(head + os.urandom(args.megabytes * MB - len(head)))
    version_file = root / "version.txt"
    version_file.write_bytes(release.signed_version_file(release.KEYS, 7, pack))
    key = key_hex(release.KEYS)
    prefix = wine.boot_prefix(wine.E2E_DIR / "bench-prefix", None)
    origin = servers.start_origin(server)
    try:
        run_tool(prefix, root / "warm", version_file, "none")  # Wine's DLLs in the page cache
        checked, plain = [], []
        for run in range(runs):
            # Which of the two goes first alternates, so that neither always meets the other's
            # leftovers (page cache, files being freed).
            for way in (("checked", "plain") if run % 2 == 0 else ("plain", "checked")):
                if way == "checked":
                    checked.append(run_tool(prefix, root / "checked", version_file, key))
                else:
                    plain.append(run_tool(prefix, root / "plain", version_file, "none"))
    finally:
        origin.stop()
        wine.stop_prefix(prefix)
        for name in ("warm", "checked", "plain"):
            shutil.rmtree(root / name, ignore_errors=True)

    assert all(r["DIGEST_KNOWN"] == 1 for r in checked), "the digest was not taken while the pack downloaded"
    median = statistics.median
    plain_download = [r["DOWNLOAD_SECONDS"] for r in plain]
    costs = [c["DOWNLOAD_SECONDS"] + c["CHECK_SECONDS"] - p["DOWNLOAD_SECONDS"] for c, p in zip(checked, plain)]
    print("pack: %d MB from https://%s%s, signed release, %d pairs of runs" % (args.megabytes, HOST, PACK_PATH, runs))
    print("plain download:                median %.3f s (%.3f to %.3f)" %
          (median(plain_download), min(plain_download), max(plain_download)))
    for label, name in (("download hashing on the way:", "DOWNLOAD_SECONDS"),
                        ("check with that digest:", "CHECK_SECONDS"),
                        ("check reading the pack again:", "REREAD_CHECK_SECONDS")):
        values = [r[name] for r in checked]
        print("%-30s median %.3f s (%.3f to %.3f)" % (label, median(values), min(values), max(values)))
    print("cost of checking per pair (s): %s" % ", ".join("%+.3f" % c for c in costs))
    print("cost of checking: median %+.3f s = %.1f %% of the plain download (aim: at most 5 %%); "
          "reading the pack again after the download: %.1f %%" %
          (median(costs), 100 * median(costs) / median(plain_download),
           100 * median(r["REREAD_CHECK_SECONDS"] for r in checked) / median(plain_download)))


if __name__ == "__main__":
    os.environ.setdefault("LAUNCHER_BUILD_DIR", str(wine.BUILD))
    main()
