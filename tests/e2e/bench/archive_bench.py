"""Warm starts with a large launcher archive: nginx serves the archive (a whole ZIP) at 50 Mbit/s
(limit_rate 6250k) with its ETag and 304 for a match, as a static file server does; the launcher
runs on a warm cache, once with a 20 MB archive and once with a 3 KB one, and an earlier build of
the program (--before-exe, one that fetches the archive whole on every start) runs beside it in the
same run. Prints, per program and archive, the median time from process start to javaw's start and
the archive bytes nginx sent per warm start. Not part of the test run. Needs nginx
(apt-get install nginx-light). Run inside the test namespace:
    ip netns exec tarvolin-e2e env LAUNCHER_BUILD_DIR=$PWD/build /usr/bin/python3 tests/e2e/bench/archive_bench.py --before-exe OLD.exe [--runs 5]
"""
import io
import random
import shutil
import statistics
import subprocess
import sys
import time
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

from harness import bench_options  # noqa: E402
from harness import net  # noqa: E402
from harness import runtime  # noqa: E402
from harness import wine  # noqa: E402
from startup_bench import LAUNCH_ARGUMENT, time_to_javaw  # noqa: E402

NGINX = Path("/usr/sbin/nginx")
RATE = "6250k"  # bytes per second: 50 Mbit/s
ARCHIVE_PATH = "/" + runtime.GENERIC_ARCHIVE


def archive_of(size):
    """A whole ZIP of about size bytes (stored, incompressible content)."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_STORED) as jar:
        jar.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMain-Class: bench.Main\r\n\r\n")
        jar.writestr("bench/payload.bin", random.Random(size).randbytes(max(size - 400, 1)))
    return out.getvalue()


def start_nginx(folder, root, port=443, keepalive=75):
    """nginx serving root on port; keepalive 0 closes each connection after its request."""
    if not NGINX.exists():
        raise SystemExit("nginx is missing: apt-get install nginx-light (outside the test namespace)")
    net.install_ca()
    cert, key = net.cert_pair("server")
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "access.log").write_text("")
    (folder / "nginx.conf").write_text("""
daemon off; pid %(folder)s/nginx.pid; error_log %(folder)s/error.log; worker_processes 1;
events { worker_connections 64; }
http {
  log_format sent '$uri $status $bytes_sent $connection $msec'; keepalive_timeout %(keepalive)d;
  access_log %(folder)s/access.log sent;
  client_body_temp_path %(folder)s; proxy_temp_path %(folder)s; fastcgi_temp_path %(folder)s;
  uwsgi_temp_path %(folder)s; scgi_temp_path %(folder)s;
  server {
    listen 127.0.0.1:%(port)d ssl; ssl_certificate %(cert)s; ssl_certificate_key %(key)s;
    root %(root)s;
    location /apps/zentrix/launcher/ { limit_rate %(rate)s; }
  }
}
""" % {"folder": folder, "cert": cert, "key": key, "root": root, "rate": RATE, "port": port,
       "keepalive": keepalive})
    proc = subprocess.Popen([str(NGINX), "-c", str(folder / "nginx.conf")], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1)
    if proc.poll() is not None:
        raise RuntimeError("nginx did not start: " + (folder / "error.log").read_text()[-500:])
    return proc


def archive_bytes_sent(log, since):
    """Bytes nginx sent for the archive (headers and body) in the log lines after the first since lines, and the
    number of lines now."""
    lines = log.read_text().splitlines()
    new = lines[since:]
    return sum(int(line.split()[2]) for line in new if line.startswith(ARCHIVE_PATH + " ")), len(lines)


def main():
    options = bench_options.parse(__doc__, runs=5, before_exe="")
    if not options.before_exe:
        raise SystemExit("--before-exe names an earlier build of the program (see docs/benchmarks.md)")
    xvfb, display = wine.start_xvfb()
    prefix = wine.boot_prefix(wine.E2E_DIR / "archive-bench-prefix", display)
    wine.clear_user_state(prefix)
    root = runtime.lay_out_server(wine.E2E_DIR / "archive-bench-server", version="5", archive=True)
    folder = wine.E2E_DIR / "archive-bench-nginx"
    nginx = start_nginx(folder, root)
    record = runtime.javaw_record(prefix)
    programs = {"before": Path(options.before_exe), "after": wine.EXE}
    results = {}
    try:
        time_to_javaw(prefix, display, LAUNCH_ARGUMENT, wine.EXE, record, timeout=180)  # installs
        for label, size in (("20 MB", 20 * 1000 * 1000), ("3 KB", 3000)):
            (root / runtime.GENERIC_ARCHIVE).write_bytes(archive_of(size))
            for name, exe in programs.items():  # a first start of each takes the new archive
                time_to_javaw(prefix, display, LAUNCH_ARGUMENT, exe, record, timeout=120)
            logged = len((folder / "access.log").read_text().splitlines())
            for _ in range(options.runs):
                for name, exe in programs.items():
                    seconds = time_to_javaw(prefix, display, LAUNCH_ARGUMENT, exe, record, timeout=120)
                    sent, logged = archive_bytes_sent(folder / "access.log", logged)
                    results.setdefault((name, label), []).append((seconds, sent))
    finally:
        nginx.terminate()
        nginx.wait(timeout=10)
        wine.stop_prefix(prefix)
        xvfb.terminate()
        shutil.rmtree(root, ignore_errors=True)
    print("runs: %d, archive served at 50 Mbit/s" % options.runs)
    for (name, label), values in sorted(results.items()):
        print("%-6s %-5s  median %.3f s  archive bytes per warm start: median %d" %
              (name, label, statistics.median(v[0] for v in values), statistics.median(v[1] for v in values)))
    for name in programs:
        large = statistics.median(v[0] for v in results[(name, "20 MB")])
        small = statistics.median(v[0] for v in results[(name, "3 KB")])
        print("%-6s 20 MB against 3 KB: %.2f (aim for the launcher: at most 1.1)" % (name, large / small))


if __name__ == "__main__":
    main()
