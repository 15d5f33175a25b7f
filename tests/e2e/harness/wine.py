"""Prefix, display and program start: a private Wine prefix, a private X display and the launcher
started in them.

Everything lives under build/e2e/ of the checkout; ~/.wine is never touched. The test command runs
pytest inside the network namespace whose hosts file maps the download hosts to 127.0.0.1, so the
wineserver started here (detached, or pytest would wait on its pipes) lives in that namespace too.
"""
import contextlib
import itertools
import os
import re
import shutil
import signal
import subprocess
import time
import warnings
from pathlib import Path

ROOT = Path(__file__).resolve().parents[3]
BUILD = Path(os.environ.get("LAUNCHER_BUILD_DIR", ROOT / "build"))
EXE = BUILD / "DesktopLauncher.exe"
# The test build with the fault plan (src/testbuild/fault_plan.cpp says what a plan holds).
FAULTS_EXE = BUILD / "faults" / "DesktopLauncher.exe"
TOOLS = BUILD / "tools"
E2E_DIR = BUILD / "e2e"
# What one run of the tests changes (its prefix, the programs' working folder, the reports of odd
# exits and failures): E2E_DIR, or a folder of its own when several runs share the build at once
# (scripts/test.sh runs the end-to-end tests in two shards). Keys, certificates and server roots
# stay in E2E_DIR.
RUN_DIR = Path(os.environ.get("LAUNCHER_E2E_RUN_DIR") or E2E_DIR)
WINE = "/usr/lib/wine/wine64"


def wine_env(prefix, display=None, extra=None):
    # Wine's WinHTTP takes http_proxy as its default proxy, which Windows never does: no start may
    # reach a server through a proxy only because the shell that runs the tests names one.
    env = {name: value for name, value in os.environ.items()
           if name.lower() not in ("http_proxy", "https_proxy", "all_proxy", "no_proxy")}
    # Wine's own error lines are kept (a start's stderr goes to a file, see start), so that a start
    # Wine failed says why; LAUNCHER_WINEDEBUG turns trace channels on for a run that hunts a fault.
    env.update(WINEPREFIX=str(prefix), WINEDEBUG=os.environ.get("LAUNCHER_WINEDEBUG", "-all,err+all"),
               WINEDLLOVERRIDES="mscoree,mshtml=")
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


def plan_faults(prefix, *lines):
    """Writes the fault plan FAULTS_EXE reads at its next starts; no lines: no faults."""
    base_dir(prefix).mkdir(parents=True, exist_ok=True)
    (base_dir(prefix) / "fault-plan.txt").write_text("".join(line + "\n" for line in lines), encoding="utf-8")


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
    the current folder must not reach the sources. Each start gets a number (proc.start_number)."""
    if cwd is None:
        cwd = RUN_DIR / "cwd"
        cwd.mkdir(parents=True, exist_ok=True)
    out = open(Path(prefix) / "last-stdout.txt", "wb")
    err = open(Path(prefix) / "last-stderr.txt", "wb")
    with out, err:  # the program keeps its own copies of the two
        proc = subprocess.Popen([WINE, str(exe), *args], env=wine_env(prefix, display, extra_env),
                                stdin=subprocess.DEVNULL, stdout=out, stderr=err, cwd=cwd)
    proc.start_number = next(_start_numbers)
    proc.args_given = list(args)
    return proc


_start_numbers = itertools.count(1)
# The exit codes the launcher itself returns; any other code comes from Wine or from a crash.
PROGRAM_EXIT_CODES = (0, 10)
ODD_EXITS = RUN_DIR / "odd-exits"


class ExitCode(int):
    """An exit code that, when it is not one the program returns, names its start, the report
    kept of it and the end of what Wine printed, so that a failed assertion on it says which
    start failed and why."""

    def __new__(cls, code, proc=None, prefix=None):
        self = super().__new__(cls, code)
        self.report = None
        if proc is not None and code not in PROGRAM_EXIT_CODES:
            self.start_number = proc.start_number
            self.report = keep_odd_exit(prefix, proc, code)
            self.stdout_tail, self.stderr_tail = ((Path(prefix) / name).read_bytes()[-300:].decode("utf-8", "replace")
                                                  for name in ("last-stdout.txt", "last-stderr.txt"))
        return self

    def __repr__(self):
        if self.report is None:
            return int.__repr__(self)
        return "%d (start %d, report %s, stdout ends %r, stderr ends %r)" % (
            self, self.start_number, self.report, self.stdout_tail, self.stderr_tail)


def keep_odd_exit(prefix, proc, code):
    """Keeps the stdout, stderr, exit code and start number of a start that ended with a code the
    program does not return; returns the report file."""
    ODD_EXITS.mkdir(parents=True, exist_ok=True)
    report = ODD_EXITS / ("start-%d-exit-%d.txt" % (proc.start_number, code))
    with open(report, "wb") as out:
        out.write(b"start %d, exit code %d, args %r, prefix %s\n" % (proc.start_number, code,
                                                                      proc.args_given, str(prefix).encode()))
        for name in ("stdout", "stderr"):
            out.write(b"--- %s\n" % name.encode())
            out.write((Path(prefix) / ("last-%s.txt" % name)).read_bytes())
            out.write(b"\n")
    return report


FAILURES = RUN_DIR / "failures"
# What the dialog answerer's last run of each button printed (dialog.answer).
ANSWERER_OUTPUT = "answer-*.txt"


def keep_failure_evidence(prefix, test_name):
    """Copies the launcher's per-user folder (log and cache, without runtime files over 1 MB), the
    last start's output and the dialog answerer's of prefix into build/e2e/failures/<test>/, with
    the programs of the prefix still running; returns that folder."""
    folder = FAILURES / re.sub(r"[^A-Za-z0-9_.-]+", "_", test_name)[-150:]
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    base = base_dir(prefix)
    try:
        if base.exists():
            # Files may change or go while a program of the run still works on them; what can be
            # copied is kept.
            shutil.copytree(base, folder / "user-state", ignore=lambda d, names: [
                n for n in names if (Path(d) / n).is_file() and (Path(d) / n).stat().st_size > (1 << 20)])
        for path in [Path(prefix) / "last-stdout.txt", Path(prefix) / "last-stderr.txt",
                     *Path(prefix).glob(ANSWERER_OUTPUT)]:
            if path.exists():
                shutil.copy(path, folder / path.name)
    except (OSError, shutil.Error) as error:
        (folder / "copy-error.txt").write_text(str(error) + "\n")
    (folder / "processes.txt").write_text("\n".join("%d %s" % p for p in prefix_processes(prefix)) + "\n")
    return folder


def loader_crashed(code):
    """A crash signal (SIGSEGV, SIGBUS, SIGABRT) that ended Wine's own loader process. The
    program's own faults never end that way: Wine turns them into Windows exception codes
    (0xC0000005 ...). A kill (SIGKILL, SIGTERM) is not a crash and is not retried."""
    return code in (-signal.SIGSEGV, -signal.SIGBUS, -signal.SIGABRT)


# What Wine's start.exe prints when Wine could not load the program's image and handed the start to
# it; the start then ends with exit code 1 and the program never ran. Seen for an image that was
# empty, cut short or gone at that moment.
NOT_LOADED = b"Application could not be started"


def image_not_loaded(code, prefix):
    """Exit code 1 with start.exe's message on standard output: Wine did not run the program."""
    out = Path(prefix) / "last-stdout.txt"
    return code == 1 and out.exists() and NOT_LOADED in out.read_bytes()


# What Wine's loader prints when the address it must map for a new process is taken (status
# 0xC0000018, conflicting addresses); the start ends with exit code 1 before the program runs.
NOT_MAPPED = b"failed to map the shared user data"


def address_not_mapped(code, prefix):
    err = Path(prefix) / "last-stderr.txt"
    return code == 1 and err.exists() and NOT_MAPPED in err.read_bytes()


def wine_failure(code, prefix):
    """(report file name, what happened) for a start that Wine itself failed, else None."""
    if loader_crashed(code):
        # Seen once in CI after a complete run (signal 11 of the Wine loader).
        return "loader-crash.txt", "Wine loader ended by signal %d" % -code
    if image_not_loaded(code, prefix):
        return "image-not-loaded.txt", "Wine did not load the program (exit code 1)"
    if address_not_mapped(code, prefix):
        # Seen once in a full run, with two test shards starting programs at once.
        return "address-not-mapped.txt", "Wine could not map a new process's shared data (exit code 1)"
    return None


def start_again_after_wine_failure(prefix, code, args):
    """True when Wine itself failed the start (its loader crashed, or it could not load the image):
    the start is then reported in a file of the prefix and warned about, and the caller starts once
    more, so that the test judges the program and not Wine."""
    failure = wine_failure(code, prefix)
    if not failure:
        return False
    report_name, what = failure
    output = b"".join((Path(prefix) / ("last-%s.txt" % name)).read_bytes()[-4000:] for name in ("stdout", "stderr"))
    report_wine_failure(prefix, report_name, "%s, args %r, start %d, kept in %s" % (
        what, args, code.start_number, code.report), output, "started once more")
    return True


def report_wine_failure(prefix, report_name, what, output, next_step):
    """Appends what Wine failed and its output to the report file report_name of the prefix and
    warns; the caller then does the failed step once more, only once."""
    report_path = Path(prefix) / report_name
    with open(report_path, "ab") as report:
        report.write(what.encode("utf-8", "replace") + b"\n" + output)
    warnings.warn("%s; %s (see %s)" % (what, next_step, report_path))


def run(prefix, display, args, timeout=60, **kw):
    """Runs the launcher to its end; returns its exit code (an ExitCode)."""
    code = _run_once(prefix, display, args, timeout, **kw)
    if start_again_after_wine_failure(prefix, code, args):
        code = _run_once(prefix, display, args, timeout, **kw)
    return code


def _run_once(prefix, display, args, timeout, **kw):
    proc = start(prefix, display, args, **kw)
    try:
        return ExitCode(proc.wait(timeout=timeout), proc, prefix)
    except subprocess.TimeoutExpired:
        proc.kill()
        raise


@contextlib.contextmanager
def running(prefix, display, args, **start_options):
    """A started program for the time of a with block; killed at its end if it is still running."""
    proc = start(prefix, display, args, **start_options)
    try:
        yield proc
    finally:
        if proc.poll() is None:
            proc.kill()


def finish(proc, prefix, timeout):
    """Waits for a started program to end; returns its exit code (an ExitCode)."""
    return ExitCode(proc.wait(timeout=timeout), proc, prefix)


# The programs of a launcher run: the launcher, the runtime's javaw, the pack and the answerer.
RUN_PROGRAMS = ("DesktopLauncher.exe", "javaw.exe", "jre_pack.exe", "answer_box.exe")


def prefix_processes(prefix, programs=RUN_PROGRAMS):
    """Processes of this prefix (by WINEPREFIX) whose command line names one of the programs."""
    marker = ("WINEPREFIX=%s" % prefix).encode()
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            if marker not in (entry / "environ").read_bytes().split(b"\0"):
                continue
            cmdline = (entry / "cmdline").read_bytes().replace(b"\0", b" ").decode("utf-8", "replace")
        except OSError:
            continue
        if any(program.lower() in cmdline.lower() for program in programs):
            found.append((int(entry.name), cmdline.strip()))
    return found


def wait_for(predicate, timeout=30, interval=0.2):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    return predicate()


def free_display():
    # Runs that start at once look from different numbers, so that they do not take the same one.
    first = int(os.environ.get("LAUNCHER_E2E_FIRST_DISPLAY", "90"))
    for number in range(first, first + 110):
        if not Path(f"/tmp/.X11-unix/X{number}").exists() and not Path(f"/tmp/.X{number}-lock").exists():
            return f":{number}"
    raise RuntimeError("no free X display")


def start_xvfb():
    display = free_display()
    proc = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for(lambda: Path(f"/tmp/.X11-unix/X{display[1:]}").exists(), timeout=10)
    return proc, display


def windows_path(host_path, prefix):
    """The Windows name of a path inside the prefix's drive C:, or of any other path as drive Z:."""
    host_path = Path(host_path)
    drive_c = Path(prefix) / "drive_c"
    try:
        return "C:\\" + str(host_path.relative_to(drive_c)).replace("/", "\\")
    except ValueError:
        return "Z:" + str(host_path).replace("/", "\\")


@contextlib.contextmanager
def holding(prefix, display, path, run_from=None):
    """hold_file keeps path (a file or a folder) open without sharing, as another program that
    locks it would, for the time of a with block; with run_from, from a copy of it in that folder,
    as a program started from there."""
    exe = str(TOOLS / "hold_file.exe")
    if run_from:
        exe = windows_path(shutil.copy(exe, run_from), prefix)
    release = Path(prefix) / "hold-release.flag"
    release.unlink(missing_ok=True)
    out_path = Path(prefix) / "hold-stdout.txt"
    with open(out_path, "wb") as out:
        holder = subprocess.Popen([WINE, exe, windows_path(path, prefix), "120",
                                   windows_path(release, prefix)], env=wine_env(prefix, display),
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL)
    try:
        assert wait_for(lambda: b"HELD" in out_path.read_bytes(), timeout=30), "not held: %s" % path
        yield
    finally:
        release.write_bytes(b"")
        holder.wait(timeout=30)
        release.unlink(missing_ok=True)
