"""The one dialog answerer: xdotool finds a box on the X display, answer_box (a Windows program in
the same prefix) reads its caption and text and presses the button asked for. It answers one box
in the foreground (answer) or every box of the given captions in the background (Answerer), and
runs the launcher to its end while answering (run)."""
import subprocess
import threading
import time
from pathlib import Path

from . import screen
from . import wine

WARNING_CAPTION = "tarvolin Launcher Fehler"
QUESTION_CAPTION = "RunLauncher: Launcher konnte nicht gestartet werden"
# What a user does who only wants the program to go on: OK to every warning, No to the question
# after a failed javaw start (Yes would restart the program).
AS_A_USER = {WARNING_CAPTION: "ok", QUESTION_CAPTION: "no"}


def answer(prefix, display, caption_part, button, timeout=60):
    """Waits for a box whose caption holds caption_part and presses button ("ok", "yes", "no");
    returns (caption, text), or None when none came in time."""
    out = Path(prefix) / ("answer-%s.txt" % button)
    # Its stderr (Wine's error lines) is kept beside it for the failure evidence (wine.ANSWERER_OUTPUT).
    with open(out, "wb") as stdout, open(Path(prefix) / ("answer-%s-stderr.txt" % button), "wb") as stderr:
        proc = subprocess.Popen([wine.WINE, str(wine.TOOLS / "answer_box.exe"), caption_part, button, str(timeout)],
                                env=wine.wine_env(prefix, display), stdin=subprocess.DEVNULL, stdout=stdout,
                                stderr=stderr)
        try:
            code = proc.wait(timeout=timeout + 30)
        except subprocess.TimeoutExpired:
            proc.kill()
            raise
    fields = {}
    for line in out.read_bytes().decode("utf-8", "replace").split("\n"):
        kind, _, value = line.partition("\t")
        fields[kind] = value.rstrip("\r")
    return (fields.get("CAPTION"), fields.get("TEXT")) if code == 0 else None


class Answerer:
    """Answers, until stopped, every box whose caption is exactly one of the keys of buttons, with
    that key's button; keeps (caption, text) of each box in the order answered. A context manager;
    stop() returns what it answered."""

    def __init__(self, prefix, display, buttons=None):
        self.prefix, self.display = prefix, display
        self.buttons = dict(buttons or {WARNING_CAPTION: "ok"})
        self.seen = []
        self.running = True
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        while self.running:
            for caption, button in self.buttons.items():
                if screen.windows_named(self.display, caption):
                    # Short: the window of a box just answered may still be listed for a moment.
                    answered = answer(self.prefix, self.display, caption, button, timeout=2)
                    if answered:
                        self.seen.append(answered)
            time.sleep(0.1)

    def captions(self):
        return [caption for caption, _ in self.seen]

    def texts(self):
        return [text for _, text in self.seen]

    def stop(self):
        time.sleep(0.3)  # a box shown at the very end is still answered before the list is read
        self.running = False
        self.thread.join(timeout=40)
        return self.seen

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def run(prefix, display, args, buttons=None, timeout=120, **start_options):
    """Runs a program to its end as a user would, answering its boxes (by default every warning
    with OK); returns (exit code, (caption, text) of each box answered, seconds from start to end).
    A start that Wine itself failed is started once more (wine.start_again_after_wine_failure)."""
    code, seen, seconds = _run_answering(prefix, display, args, buttons, timeout, start_options)
    if wine.start_again_after_wine_failure(prefix, code, args):
        code, seen, seconds = _run_answering(prefix, display, args, buttons, timeout, start_options)
    return code, seen, seconds


def _run_answering(prefix, display, args, buttons, timeout, start_options):
    started = time.perf_counter()
    with Answerer(prefix, display, buttons) as answerer:
        proc = wine.start(prefix, display, args, **start_options)
        try:
            code = wine.finish(proc, prefix, timeout)
            seconds = time.perf_counter() - started
        finally:
            if proc.poll() is None:
                proc.kill()
    return code, answerer.seen, seconds
