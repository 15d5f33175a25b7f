"""The splash window as a person sees it: size, place, image, bar, texts, keys and GDI hygiene.

The launch argument names the first variant and the cache holds no runtime, so the worker ends at
the failed Java start, whose dialog blocks it while the splash keeps animating.
"""
import socket
import threading
import time

import pytest

from harness import net
from harness import screen
from harness import wine

TEAL = (0, 160, 160)
FRAME = (209, 209, 209)


@pytest.fixture
def splash(clean, display):
    proc = wine.start(clean, display, ["https://apps.example/zentrix.kvnlp"])
    window = screen.find_splash(display)
    if window is None:
        proc.kill()
        pytest.fail("no splash window")
    time.sleep(1.0)
    yield proc, window
    if proc.poll() is None:
        proc.kill()
        proc.wait(timeout=30)


def test_window_is_centred_and_shows_image_bar_and_texts(splash, display):
    _, window = splash
    assert screen.geometry(display, window) == (355, 345, 570, 333)
    bars = []
    for _ in range(3):
        pixel = screen.screenshot(display)
        at = lambda x, y: pixel(355 + x, 345 + y)  # noqa: E731
        for x in (5, 300, 560):
            assert at(x, 332) == FRAME
        for y in (150, 300):
            assert at(0, y) == FRAME and at(569, y) == FRAME
        # The bar grows from x 26 inside rows 263-271; the track stays around it.
        width = 0
        while at(26 + width, 267) == TEAL:
            width += 1
        bars.append(width)
        if width:
            assert at(26, 263) == TEAL and at(26, 271) == TEAL
            assert at(26, 262) != TEAL and at(26, 272) != TEAL and at(25, 267) != TEAL
        title = [at(x, y) for x in range(140, 300) for y in range(30, 100)]
        assert sum(1 for c in title if max(c) < 160) > 50
        footer = [at(x, y) for x in range(26, 250) for y in range(292, 310)]
        assert sum(1 for c in footer if max(c) < 160) > 20
        time.sleep(0.3)
    assert len(set(bars)) > 1  # animating
    assert max(bars) <= 517


@pytest.fixture
def busy_worker(clean):
    """A download host that accepts connections and never answers: the worker waits in its first
    download, no dialog owns the splash, and the window takes keys."""
    net.require_network()
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 443))
    listener.listen(16)
    held = []
    stop = threading.Event()

    def hold():
        listener.settimeout(0.2)
        while not stop.is_set():
            try:
                held.append(listener.accept()[0])
            except OSError:
                pass

    thread = threading.Thread(target=hold, daemon=True)
    thread.start()
    yield clean
    stop.set()
    thread.join(timeout=5)
    for conn in held:
        conn.close()
    listener.close()


@pytest.mark.parametrize("keys", ["Escape", "alt+F4"])
def test_escape_or_the_system_close_ends_the_program_with_code_0(busy_worker, display, keys):
    proc = wine.start(busy_worker, display, ["start.kvnlp"])
    try:
        window = screen.find_splash(display)
        assert window is not None
        assert wine.wait_for(lambda: any(t.startswith("DownloadfileDirect https://") for t in
                                             wine.log_texts(busy_worker)), timeout=30)
        time.sleep(0.5)
        assert proc.poll() is None
        screen.press_on_splash(display, window, keys)
        assert proc.wait(timeout=15) == 0
        # The worker was still waiting for the host: nothing was launched.
        assert not any("javaw" in t for t in wine.log_texts(busy_worker))
    finally:
        if proc.poll() is None:
            proc.kill()
