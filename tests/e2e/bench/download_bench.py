"""Download benchmarks of DownloadfileDirect (through build/tools/download_bench.exe under Wine)
against the loopback HTTPS origin, inside the test namespace:

- throughput for a large file against curl fetching the same file from the same server in the
  same run (both over TLS 1.2, both writing to a file in the same folder), runs alternating; the
  figure is the median of the runs' ratios of DownloadfileDirect's throughput over curl's;
- peak memory of the process for the large download against a 1 MB one: the Windows view
  (GetProcessMemoryInfo) and the Linux view (VmHWM of the Wine process, polled).

Not part of the test run. Run from the checkout:
    ip netns exec tarvolin-e2e python3 tests/e2e/bench/download_bench.py [--runs 5] [--megabytes 200]
"""
import os
import re
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

from harness import bench_options  # noqa: E402
from harness import download_cases  # noqa: E402
from harness import net  # noqa: E402
from harness import servers  # noqa: E402
from harness import wine  # noqa: E402

HOST = "get.tarvolin.example"
MB = 1 << 20


def write_file(path, size):
    """A file of the scripted pattern; written once and kept while its size is right."""
    if path.exists() and path.stat().st_size == size:
        return
    path.parent.mkdir(parents=True, exist_ok=True)
    block = download_cases.pattern(MB)
    with open(path, "wb") as f:
        for _ in range(size // MB):
            f.write(block)
        f.write(block[:size % MB])


def vm_hwm(pid):
    """Peak resident set of a Linux process in bytes, or 0 when it is gone."""
    try:
        for line in Path(f"/proc/{pid}/status").read_text().splitlines():
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    except OSError:
        pass
    return 0


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def run_tool(prefix, path, target):
    """One DownloadfileDirect call; returns the tool's fields plus VMHWM."""
    target.unlink(missing_ok=True)
    out = Path(prefix) / "download-bench-stdout.txt"
    with open(out, "wb") as stdout:
        proc = subprocess.Popen([wine.WINE, str(wine.TOOLS / "download_bench.exe"), HOST, path,
                                 windows_path(target)], env=wine.wine_env(prefix), stdin=subprocess.DEVNULL,
                                stdout=stdout, stderr=subprocess.DEVNULL)
        peak = 0
        while proc.poll() is None:
            peak = max(peak, vm_hwm(proc.pid))
            time.sleep(0.02)
    # The program's log trace goes to standard output too, without a line end.
    fields = dict(re.findall(r"(RESULT|SECONDS|BYTES|PEAK_WORKING_SET|PEAK_PRIVATE)\t(\S+)", out.read_text()))
    if fields.get("RESULT") != "1":
        raise RuntimeError("download_bench failed: %r" % fields)
    return {"seconds": float(fields["SECONDS"]), "bytes": int(fields["BYTES"]),
            "working_set": int(fields["PEAK_WORKING_SET"]), "private": int(fields["PEAK_PRIVATE"]), "vmhwm": peak}


def run_curl(path, target):
    target.unlink(missing_ok=True)
    result = subprocess.run(["curl", "-sS", "--fail", "--tlsv1.2", "--tls-max", "1.2",
                             "--cacert", str(net.CERTS / "ca.crt"), "-o", str(target),
                             "-w", "%{time_total}", "https://%s%s" % (HOST, path)],
                            capture_output=True, text=True, timeout=600, check=True)
    return float(result.stdout.strip())


def main():
    args = bench_options.parse(__doc__, runs=5, megabytes=200)
    runs = args.runs
    size = max(args.megabytes, 2) * MB
    root = wine.E2E_DIR / "download-bench"
    write_file(root / "bench" / "large.bin", size)
    write_file(root / "bench" / "small.bin", MB)
    targets = root / "targets"
    targets.mkdir(parents=True, exist_ok=True)
    prefix = wine.boot_prefix(wine.E2E_DIR / "bench-prefix", None)
    origin = servers.start_origin(root)
    try:
        run_tool(prefix, "/bench/small.bin", targets / "warm.bin")  # Wine's DLLs in the page cache
        tool, curl, large, small = [], [], [], []
        for _ in range(runs):
            result = run_tool(prefix, "/bench/large.bin", targets / "tool.bin")
            assert result["bytes"] == size
            tool.append(result["seconds"])
            large.append(result)
            curl.append(run_curl("/bench/large.bin", targets / "curl.bin"))
            assert (targets / "curl.bin").stat().st_size == size
            small.append(run_tool(prefix, "/bench/small.bin", targets / "small.bin"))
        for f in targets.iterdir():
            f.unlink()
    finally:
        origin.stop()
        wine.stop_prefix(prefix)

    megabytes = size / MB
    # Each run pairs the two clients back to back, so a change of load on the machine between runs
    # bears on both; the ratio is the median of the runs' ratios.
    ratios = [c / t for c, t in zip(curl, tool)]
    ratio = statistics.median(ratios)
    print("file: %d MB from https://%s (TLS 1.2), %d runs" % (megabytes, HOST, runs))
    print("DownloadfileDirect: median %.2f s = %.0f MB/s (min %.2f, max %.2f)" %
          (statistics.median(tool), megabytes / statistics.median(tool), min(tool), max(tool)))
    print("curl:               median %.2f s = %.0f MB/s (min %.2f, max %.2f)" %
          (statistics.median(curl), megabytes / statistics.median(curl), min(curl), max(curl)))
    print("throughput ratio DownloadfileDirect / curl per run: %s" % ", ".join("%.2f" % r for r in ratios))
    print("throughput ratio, median of the runs: %.2f (aim: at least 0.5); ratio of the medians: %.2f" %
          (ratio, statistics.median(curl) / statistics.median(tool)))
    for name, key_ in (("peak working set", "working_set"), ("peak private bytes", "private"),
                       ("peak RSS (VmHWM)", "vmhwm")):
        big = statistics.median(r[key_] for r in large) / MB
        little = statistics.median(r[key_] for r in small) / MB
        print("%-19s %d MB: %.1f MB, 1 MB: %.1f MB, difference %.1f MB (aim: within 16 MB)" %
              (name + ",", megabytes, big, little, big - little))


if __name__ == "__main__":
    os.environ.setdefault("LAUNCHER_BUILD_DIR", str(wine.BUILD))
    main()
