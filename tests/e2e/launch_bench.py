"""Placing a stand-in runtime in the cache and reading what its javaw received."""
import shutil
import subprocess
import threading
import time
from pathlib import Path

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


def place_runtime_without_javaw(prefix, version="0"):
    """A runtime that counts as current offline but whose javaw is missing."""
    cache = winbench.cache_dir(prefix)
    (cache / "jre" / "bin").mkdir(parents=True, exist_ok=True)
    (cache / "jre" / "unpack.txt").write_bytes(b"")
    (cache / "version.txt").write_text(version)
    return cache


def start_answer(prefix, display, caption_part, answer, timeout=60):
    """Starts answer_box in the prefix; it waits for the dialog, reads it and presses the button."""
    out = open(Path(prefix) / ("answer-%s.txt" % answer), "wb")
    return subprocess.Popen([winbench.WINE, str(winbench.TOOLS / "answer_box.exe"), caption_part, answer,
                             str(timeout)],
                            env=winbench.wine_env(prefix, display), stdin=subprocess.DEVNULL, stdout=out,
                            stderr=subprocess.DEVNULL), out.name


def answer(prefix, display, caption_part, button, timeout=60):
    """Answers the dialog; returns (caption, text) or None when none came in time."""
    proc, out_name = start_answer(prefix, display, caption_part, button, timeout)
    try:
        code = proc.wait(timeout=timeout + 30)
    except subprocess.TimeoutExpired:
        proc.kill()
        raise
    fields = {}
    for line in Path(out_name).read_bytes().decode("utf-8").split("\n"):
        kind, _, value = line.partition("\t")
        fields[kind] = value.rstrip("\r")
    return (fields.get("CAPTION"), fields.get("TEXT")) if code == 0 else None


def wait_until_no_window(prefix, display, title="^Zentrix$", timeout=30):
    """Waits for a launcher instance that no test process owns to close its splash window."""
    def gone():
        found = subprocess.run(["xdotool", "search", "--name", title], env={"DISPLAY": display},
                               capture_output=True, text=True, timeout=20)
        return not found.stdout.strip()
    assert winbench.wait_for(gone, timeout=timeout)


class DialogAnswerer:
    """Answers with OK every dialog with this exact caption that shows up on the display, until
    stopped; keeps (caption, text) of each, in order. xdotool looks, answer_box reads and answers."""

    def __init__(self, prefix, display, caption):
        self.prefix, self.display, self.caption = prefix, display, caption
        self.seen = []
        self.running = True
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        while self.running:
            found = subprocess.run(["xdotool", "search", "--name", "^" + self.caption + "$"],
                                   env={"DISPLAY": self.display}, capture_output=True, text=True, timeout=20).stdout
            if found.split():
                # Short: the window of a box just answered may still be listed for a moment.
                answered = answer(self.prefix, self.display, self.caption, "ok", timeout=2)
                if answered:
                    self.seen.append(answered)
            time.sleep(0.1)

    def stop(self):
        time.sleep(0.3)  # a dialog shown at the very end is still answered before the list is read
        self.running = False
        self.thread.join(timeout=40)
        return self.seen
