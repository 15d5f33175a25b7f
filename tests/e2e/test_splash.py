"""The splash window on screen, and the recovery question it shows when javaw cannot start."""
import subprocess

import winbench

QUESTION_CAPTION = "RunLauncher: Launcher konnte nicht gestartet werden"


def xdotool(display, *args):
    result = subprocess.run(["xdotool", *args], env={"DISPLAY": display}, capture_output=True, text=True,
                            timeout=20)
    return result.stdout.strip()


def find_window(display, name):
    return winbench.wait_for(lambda: xdotool(display, "search", "--name", name).split(), timeout=30)


def geometry(display, window):
    out = xdotool(display, "getwindowgeometry", "--shell", window)
    values = dict(line.split("=") for line in out.splitlines())
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def screenshot(display, path):
    xwd = subprocess.run(["xwd", "-root", "-silent"], env={"DISPLAY": display}, capture_output=True, timeout=20)
    subprocess.run(["convert", "xwd:-", "-depth", "8", f"rgb:{path}"], input=xwd.stdout, check=True, timeout=20)
    return path.read_bytes()


def pixel(raw, x, y, width=1280):
    offset = (y * width + x) * 3
    return tuple(raw[offset:offset + 3])


def test_splash_shows_image_bar_title_footer_and_the_question_with_code_2(clean, display, tmp_path):
    proc = winbench.start(clean, display, ["start.kvnlp"])  # no runtime in the cache: javaw cannot start
    try:
        window = find_window(display, "^Zentrix$")[0]
        assert geometry(display, window) == ((1280 - 570) // 2, (1024 - 333) // 2, 570, 333)
        question = find_window(display, QUESTION_CAPTION)
        assert question
        left, top = 355, 345
        bar_seen = False
        for i in range(8):
            raw = screenshot(display, tmp_path / f"shot{i}.rgb")
            assert pixel(raw, left, top + 100) == (209, 209, 209)
            assert pixel(raw, left + 569, top + 100) == (209, 209, 209)
            assert pixel(raw, left + 300, top + 332) == (209, 209, 209)
            bar_seen = bar_seen or pixel(raw, left + 27, top + 267) == (0, 160, 160)
            assert pixel(raw, left + 26, top + 262) == (222, 222, 222)  # the track's top row stays
        assert bar_seen
        title = [pixel(raw, left + x, top + y) for x in range(140, 260) for y in range(30, 95)]
        assert sum(1 for p in title if p[0] < 140) > 200
        footer = [pixel(raw, left + x, top + y) for x in range(26, 200) for y in range(290, 312)]
        assert sum(1 for p in footer if p[0] < 200) > 50
        texts = winbench.log_texts(clean)
        assert "Fehler 2: " + QUESTION_CAPTION in texts
        assert "RunLauncher Fehler: 2. Tempor\xe4re Dateien l\xf6schen und erneut versuchen?" in texts
        # "No" ends the program without touching the cache.
        xdotool(display, "windowactivate", "--sync", question[0])
        xdotool(display, "key", "--window", question[0], "n")
        assert proc.wait(timeout=30) == 0
        assert winbench.cache_dir(clean).is_dir()
    finally:
        if proc.poll() is None:
            proc.kill()


def test_yes_deletes_the_cache_and_starts_the_program_again(clean, display):
    cache = winbench.cache_dir(clean)
    cache.mkdir(parents=True)
    (cache / "leftover.txt").write_text("old")
    proc = winbench.start(clean, display, ["start.kvnlp"])
    try:
        question = find_window(display, QUESTION_CAPTION)[0]
        xdotool(display, "windowactivate", "--sync", question)
        xdotool(display, "key", "--window", question, "y")
        assert proc.wait(timeout=30) == 0
        assert not (cache / "leftover.txt").exists()
        # The new instance meets the same missing runtime and asks again; "No" ends it.
        asked_again = winbench.wait_for(lambda: winbench.read_log(clean).count("RunLauncher Fehler: 2.") == 2,
                                        timeout=40)
        assert asked_again
        assert winbench.read_log(clean).count("Start wWinMain:") == 2
        second = find_window(display, QUESTION_CAPTION)
        xdotool(display, "windowactivate", "--sync", second[0])
        xdotool(display, "key", "--window", second[0], "n")
        winbench.wait_for(lambda: not xdotool(display, "search", "--name", "^Zentrix$"), timeout=30)
    finally:
        if proc.poll() is None:
            proc.kill()
