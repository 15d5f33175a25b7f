"""The Wine test bench: a private prefix, a private X display and the launcher started in them.

Everything lives under build/e2e/ of the checkout; ~/.wine is never touched. The test command runs
pytest inside the network namespace whose hosts file maps the download hosts to 127.0.0.1, so the
wineserver started here (detached, or pytest would wait on its pipes) lives in that namespace too.
"""
import os
import shutil
import signal
import subprocess
import time
import warnings
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("LAUNCHER_BUILD_DIR", ROOT / "build"))
EXE = BUILD / "DesktopLauncher.exe"
TOOLS = BUILD / "tools"
E2E_DIR = BUILD / "e2e"
WINE = "/usr/lib/wine/wine64"


def wine_env(prefix, display=None, extra=None):
    env = dict(os.environ)
    env.update(WINEPREFIX=str(prefix), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    if display:
        env["DISPLAY"] = display
    env.update(extra or {})
    return env


def boot_prefix(prefix, display):
    prefix = Path(prefix)
    prefix.mkdir(parents=True, exist_ok=True)
    env = wine_env(prefix, display)
    subprocess.run(["wineserver", "-p"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([WINE, "wineboot", "-u"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
    return prefix


def stop_prefix(prefix):
    subprocess.run(["wineserver", "-k"], env=wine_env(prefix), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def user_dir(prefix):
    """The profile Wine made for the Unix user (named after the account, not after $USER)."""
    users = Path(prefix) / "drive_c" / "users"
    found = [p for p in users.glob("*") if p.name != "Public" and p.is_dir()] if users.exists() else []
    return found[0] if len(found) == 1 else users / os.environ.get("USER", "root")


def local_appdata(prefix):
    return user_dir(prefix) / "AppData" / "Local"


def base_dir(prefix):
    return local_appdata(prefix) / "tarvolin"


def cache_dir(prefix):
    return base_dir(prefix) / "zentrixjre"


def log_path(prefix):
    return base_dir(prefix) / "DesktopLauncher.log"


def temp_dir(prefix):
    """The user's temporary folder as Windows programs see it (%TEMP%), on the host; this Wine
    keeps it in the profile (users\\<name>\\Temp), not below the local application data."""
    prefix = Path(prefix)
    if prefix not in _temp_dirs:
        out = subprocess.run([WINE, "cmd", "/c", "echo %TEMP%"], env=wine_env(prefix), stdin=subprocess.DEVNULL,
                             capture_output=True, timeout=60).stdout.decode("utf-8", "replace").strip()
        if out[:3].lower() != "c:\\":
            return local_appdata(prefix) / "Temp"
        _temp_dirs[prefix] = prefix / "drive_c" / out[3:].replace("\\", "/")
    return _temp_dirs[prefix]


_temp_dirs = {}


def read_log(prefix):
    """The log as text (one byte per character) or '' when there is none."""
    path = log_path(prefix)
    return path.read_bytes().decode("latin-1") if path.exists() else ""


def log_texts(prefix):
    """The texts of the log lines, without time stamp and line end."""
    lines = read_log(prefix).split("\r\n")
    return [line.split(": ", 1)[1] if ": " in line else line for line in lines if line]


def clear_user_state(prefix):
    """Removes the launcher's folders; temporary files stay, as they do for a user."""
    shutil.rmtree(base_dir(prefix), ignore_errors=True)


def start(prefix, display, args, exe=EXE, extra_env=None, cwd=None):
    """Starts a Windows program; returns the Popen. Output goes to files, never to our pipes.
    Without a cwd the program runs in build/e2e/cwd, never in the checkout: a fault that works on
    the current folder must not reach the sources."""
    if cwd is None:
        cwd = E2E_DIR / "cwd"
        cwd.mkdir(parents=True, exist_ok=True)
    out = open(Path(prefix) / "last-stdout.txt", "wb")
    err = open(Path(prefix) / "last-stderr.txt", "wb")
    return subprocess.Popen([WINE, str(exe), *args], env=wine_env(prefix, display, extra_env),
                            stdin=subprocess.DEVNULL, stdout=out, stderr=err, cwd=cwd)


def loader_crashed(code):
    """A crash signal (SIGSEGV, SIGBUS, SIGABRT) that ended Wine's own loader process. The
    program's own faults never end that way: Wine turns them into Windows exception codes
    (0xC0000005 ...). A kill (SIGKILL, SIGTERM) is not a crash and is not retried."""
    return code in (-signal.SIGSEGV, -signal.SIGBUS, -signal.SIGABRT)


def run(prefix, display, args, timeout=60, **kw):
    """Runs the launcher to its end; returns its exit code."""
    code = _run_once(prefix, display, args, timeout, **kw)
    if loader_crashed(code):
        # Seen once in CI after a complete run (signal 11 of the Wine loader). Keep what Wine said
        # and start once more, so the test judges the program and not the loader.
        crash = Path(prefix) / "loader-crash.txt"
        with open(crash, "ab") as report:
            report.write(b"signal %d, args %r\n" % (-code, args))
            report.write((Path(prefix) / "last-stderr.txt").read_bytes()[-4000:])
        warnings.warn("Wine loader ended by signal %d; started once more (see %s)" % (-code, crash))
        code = _run_once(prefix, display, args, timeout, **kw)
    return code


def _run_once(prefix, display, args, timeout, **kw):
    proc = start(prefix, display, args, **kw)
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        raise


def wait_for(predicate, timeout=30, interval=0.2):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    return predicate()


def free_display():
    for number in range(90, 200):
        if not Path(f"/tmp/.X11-unix/X{number}").exists() and not Path(f"/tmp/.X{number}-lock").exists():
            return f":{number}"
    raise RuntimeError("no free X display")


def start_xvfb():
    display = free_display()
    proc = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for(lambda: Path(f"/tmp/.X11-unix/X{display[1:]}").exists(), timeout=10)
    return proc, display
