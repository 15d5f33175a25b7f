"""The question after a failed javaw start, answered No and Yes."""
import subprocess

import winbench

PACK_FAILURE_CAPTION = "tarvolin Launcher Fehler"
QUESTION_CAPTION = "RunLauncher: Launcher konnte nicht gestartet werden"
QUESTION = "RunLauncher Fehler: 2. Tempor\xe4re Dateien l\xf6schen und erneut versuchen?"


def xdotool(display, *args):
    result = subprocess.run(["xdotool", *args], env={"DISPLAY": display}, capture_output=True, text=True,
                            timeout=20)
    return result.stdout.strip()


def find_window(display, name, timeout=40):
    return winbench.wait_for(lambda: xdotool(display, "search", "--name", name).split(), timeout=timeout)


def press(display, window, key):
    xdotool(display, "windowactivate", "--sync", window)
    xdotool(display, "key", "--window", window, key)


def place_runtime_without_javaw(prefix):
    """A runtime that counts as current offline but whose javaw is missing."""
    cache = winbench.cache_dir(prefix)
    (cache / "jre" / "bin").mkdir(parents=True)
    (cache / "jre" / "unpack.txt").write_bytes(b"")
    (cache / "version.txt").write_text("0")


def test_no_ends_the_program_and_keeps_the_cache(clean, display):
    place_runtime_without_javaw(clean)
    proc = winbench.start(clean, display, ["start.kvnlp"])
    try:
        question = find_window(display, QUESTION_CAPTION)
        assert question
        texts = winbench.log_texts(clean)
        assert "Fehler 2: " + QUESTION_CAPTION in texts
        assert QUESTION in texts
        assert texts.index(QUESTION) > [i for i, t in enumerate(texts) if t.startswith('"')][-1]
        press(display, question[0], "n")
        assert proc.wait(timeout=30) == 0
        assert (winbench.cache_dir(clean) / "version.txt").exists()
    finally:
        if proc.poll() is None:
            proc.kill()


def test_yes_deletes_the_cache_and_starts_the_program_again(clean, display):
    place_runtime_without_javaw(clean)
    cache = winbench.cache_dir(clean)
    (cache / "leftover.txt").write_text("old")
    proc = winbench.start(clean, display, ["start.kvnlp"])
    try:
        press(display, find_window(display, QUESTION_CAPTION)[0], "y")
        assert proc.wait(timeout=30) == 0
        assert not (cache / "leftover.txt").exists()
        # The new instance finds an empty cache and no server, says that the pack could not be
        # fetched, meets the missing runtime and asks again; "No" ends it.
        press(display, find_window(display, PACK_FAILURE_CAPTION)[0], "Return")
        assert winbench.wait_for(lambda: winbench.read_log(clean).count(QUESTION) == 2, timeout=40)
        assert winbench.read_log(clean).count("Start wWinMain:") == 2
        press(display, find_window(display, QUESTION_CAPTION)[0], "n")
        assert winbench.wait_for(lambda: not xdotool(display, "search", "--name", "^Zentrix$"), timeout=30)
    finally:
        if proc.poll() is None:
            proc.kill()
