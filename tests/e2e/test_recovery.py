"""The question after a failed javaw start, answered No and Yes."""
from harness import runtime
from harness import screen
from harness import wine

QUESTION_CAPTION = "RunLauncher: Launcher konnte nicht gestartet werden"
QUESTION = "RunLauncher Fehler: 2. Tempor\xe4re Dateien l\xf6schen und erneut versuchen?"


def test_no_ends_the_program_and_keeps_the_cache(clean, display):
    runtime.place_runtime_without_javaw(clean)
    proc = wine.start(clean, display, ["start.kvnlp"])
    try:
        question = screen.find_window(display, QUESTION_CAPTION)
        assert question
        texts = wine.log_texts(clean)
        assert "Fehler 2: " + QUESTION_CAPTION in texts
        assert QUESTION in texts
        assert texts.index(QUESTION) > [i for i, t in enumerate(texts) if t.startswith('"')][-1]
        screen.press(display, question[0], "n")
        assert proc.wait(timeout=30) == 0
        assert (wine.cache_dir(clean) / "version.txt").exists()
    finally:
        if proc.poll() is None:
            proc.kill()


def test_yes_deletes_the_cache_and_starts_the_program_again(clean, display):
    runtime.place_runtime_without_javaw(clean)
    cache = wine.cache_dir(clean)
    (cache / "leftover.txt").write_text("old")
    proc = wine.start(clean, display, ["start.kvnlp"])
    try:
        screen.press(display, screen.find_window(display, QUESTION_CAPTION)[0], "y")
        assert proc.wait(timeout=30) == 0
        assert not (cache / "leftover.txt").exists()
        # The new instance finds an empty cache and no server: no version file arrives, nothing is
        # installed, it meets the missing runtime and asks again; "No" ends it.
        assert wine.wait_for(lambda: wine.read_log(clean).count(QUESTION) == 2, timeout=40)
        assert wine.read_log(clean).count("Start wWinMain:") == 2
        screen.press(display, screen.find_window(display, QUESTION_CAPTION)[0], "n")
        assert screen.wait_until_no_window(display, timeout=30)
    finally:
        if proc.poll() is None:
            proc.kill()
