"""The runtime-install bench: demo runtime packs built from the test tools, a download server
root laid out like the real one, and the HTTPS origin serving it inside the test namespace.

A served pack is demo_pack.exe, then the javaw it unpacks (fake_javaw.exe), then a 24-byte trailer:
payload length (8 bytes), exit code (4), delay in ms (4), magic "ZXPACK01", all little endian.
The delay comes before the pack writes anything; with its top bit set, after it has written all.
"""
import shutil
import struct
from pathlib import Path

import pytest

import winbench

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
    program = as_windowed_program((winbench.TOOLS / "demo_pack.exe").read_bytes())
    payload = javaw if javaw is not None else (winbench.TOOLS / "fake_javaw.exe").read_bytes()
    wait = hold_ms | HOLD_AFTER_UNPACKING if hold_ms else delay_ms
    return program + payload + struct.pack("<QII", len(payload), exit_code, wait) + b"ZXPACK01"


def lay_out_server(root, version="5", pack=None, folders=(PRODUCTION_JRE, TEST_JRE)):
    """Writes version.txt and jre_pack.exe into the runtime folders of a server root; returns it."""
    root = Path(root)
    shutil.rmtree(root, ignore_errors=True)
    for folder in folders:
        target = root / folder
        target.mkdir(parents=True, exist_ok=True)
        set_version(root, version, folder)
        (target / "jre_pack.exe").write_bytes(pack if pack is not None else pack_bytes())
    return root


def set_version(root, version, folder=PRODUCTION_JRE):
    (Path(root) / folder / "version.txt").write_bytes(str(version).encode())


def set_pack(root, pack, folder=PRODUCTION_JRE):
    (Path(root) / folder / "jre_pack.exe").write_bytes(pack)


def remove_pack(root, folder=PRODUCTION_JRE):
    (Path(root) / folder / "jre_pack.exe").unlink(missing_ok=True)


def require_network():
    """The network bench modules; skips the test outside the test namespace."""
    net_bench = pytest.importorskip("net_bench")
    https_server = pytest.importorskip("https_server")
    if not net_bench.in_namespace():
        pytest.skip("needs the network namespace " + net_bench.NAMESPACE + " (scripts/test.sh sets it up)")
    return net_bench, https_server


def start_origin(root):
    """The HTTPS origin on 127.0.0.1:443 serving root; skips the test outside the test namespace."""
    net_bench, https_server = require_network()
    net_bench.install_ca()
    cert, key = net_bench.cert_pair("server")
    return https_server.OriginServer(cert, key, root).start()


def runtime_files(prefix):
    """What is in the runtime cache, as paths relative to it."""
    cache = winbench.cache_dir(prefix)
    return sorted(str(p.relative_to(cache)).replace("\\", "/") for p in cache.rglob("*")) if cache.exists() else []


def pack_record(prefix):
    """The command line and current folder the demo pack recorded during the last install."""
    path = winbench.cache_dir(prefix) / "jre" / "lib" / "pack-record.txt"
    if not path.exists():
        return {}
    return dict(line.split("\t", 1) for line in path.read_text(encoding="utf-8").splitlines() if "\t" in line)


def windows_cache(prefix):
    return "C:\\users\\" + winbench.user_dir(prefix).name + "\\AppData\\Local\\tarvolin\\zentrixjre"


def _javaw_starts(record):
    return record.read_bytes().count(b"\nEND\n") if record.exists() else 0


def _time_to_javaw(prefix, display, args, exe, record, timeout=60):
    """Seconds from the process start to the first line javaw records."""
    import time
    before = _javaw_starts(record)
    start = time.perf_counter()
    proc = winbench.start(prefix, display, args, exe=exe)
    try:
        while _javaw_starts(record) == before:
            if time.perf_counter() - start > timeout:
                raise RuntimeError("javaw did not start within %d s" % timeout)
            time.sleep(0.005)
        elapsed = time.perf_counter() - start
        proc.wait(timeout=timeout)
        return elapsed
    finally:
        if proc.poll() is None:
            proc.kill()


WARNING_CAPTION = "tarvolin Launcher Fehler"
QUESTION_CAPTION = "RunLauncher: Launcher konnte nicht gestartet werden"


def _windows_named(display, caption):
    import subprocess
    found = subprocess.run(["xdotool", "search", "--name", "^" + caption + "$"], env={"DISPLAY": display},
                           capture_output=True, text=True, timeout=20)
    return found.stdout.split()


def _press_return(display, window):
    import subprocess
    for args in (("windowactivate", "--sync", window), ("key", "--window", window, "Return")):
        subprocess.run(["xdotool", *args], env={"DISPLAY": display}, capture_output=True, timeout=20)


def run_answering_dialogs(prefix, display, args, timeout=180, restart="no"):
    """Runs the launcher to its end as a user would: every warning box is closed with OK, and the
    question after a failed javaw start is answered with restart ("no" or "yes"). Returns
    (exit code, captions of the boxes answered, seconds from start to end)."""
    import time
    import launch_bench
    started = time.perf_counter()
    proc = winbench.start(prefix, display, args)
    answered = []
    deadline = time.time() + timeout
    try:
        while proc.poll() is None and time.time() < deadline:
            for window in _windows_named(display, WARNING_CAPTION):
                _press_return(display, window)
                answered.append(WARNING_CAPTION)
                # Counted once: wait until this box has gone before looking for the next one.
                winbench.wait_for(lambda: window not in _windows_named(display, WARNING_CAPTION), timeout=5)
            if _windows_named(display, QUESTION_CAPTION):
                if launch_bench.answer(prefix, display, QUESTION_CAPTION, restart, timeout=15):
                    answered.append(QUESTION_CAPTION)
            time.sleep(0.2)
        code = proc.wait(timeout=5)
        return code, answered, time.perf_counter() - started
    finally:
        if proc.poll() is None:
            proc.kill()


def main():
    """Start-up overhead on a warm cache: the launcher's time from process start to javaw's start,
    against the minimal WinHTTP client (one HTTPS request, then the same javaw), both under Wine in
    the same run. Run inside the test namespace:
        ip netns exec tarvolin-e2e python3 tests/e2e/runtime_bench.py [--runs 10]
    """
    import argparse
    import statistics
    import net_bench
    import https_server

    parser = argparse.ArgumentParser(description=main.__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=10)
    runs = min(max(parser.parse_args().runs, 1), 50)
    if not net_bench.in_namespace():
        raise SystemExit("run inside the namespace " + net_bench.NAMESPACE + " (scripts/netns.sh)")
    net_bench.install_ca()
    xvfb, display = winbench.start_xvfb()
    prefix = winbench.boot_prefix(winbench.E2E_DIR / "bench-prefix", display)
    winbench.clear_user_state(prefix)
    root = lay_out_server(winbench.E2E_DIR / "bench-server", version="5")
    cert, key = net_bench.cert_pair("server")
    origin = https_server.OriginServer(cert, key, root).start()
    try:
        argument = ["https://get.tarvolin.example/start/app.kvnlp"]
        record = winbench.cache_dir(prefix) / "jre" / "bin" / "javaw-record.txt"
        _time_to_javaw(prefix, display, argument, winbench.EXE, record, timeout=120)  # installs: warm cache
        javaw = windows_cache(prefix) + "\\jre\\bin\\javaw.exe"
        baseline_args = ["get.tarvolin.example", VERSION_PATH, javaw]
        launcher, baseline = [], []
        for _ in range(runs):
            launcher.append(_time_to_javaw(prefix, display, argument, winbench.EXE, record))
            baseline.append(_time_to_javaw(prefix, display, baseline_args, winbench.TOOLS / "winhttp_baseline.exe",
                                           record))
        ratio = statistics.median(launcher) / statistics.median(baseline)
        print("runs: %d" % runs)
        print("launcher, process start to javaw start: median %.3f s (min %.3f, max %.3f)" %
              (statistics.median(launcher), min(launcher), max(launcher)))
        print("minimal WinHTTP client:                 median %.3f s (min %.3f, max %.3f)" %
              (statistics.median(baseline), min(baseline), max(baseline)))
        print("ratio (medians): %.2f (aim: at most 1.5)" % ratio)
    finally:
        origin.stop()
        winbench.stop_prefix(prefix)
        xvfb.terminate()


if __name__ == "__main__":
    main()
