"""The splash window as a person sees it: size, place, image, bar, texts, keys and GDI hygiene.

The launch argument names the first variant and the cache holds no runtime, so the worker ends at
the failed Java start, whose dialog blocks it while the splash keeps animating.
"""
import time

import pytest

import splash_bench
import winbench

TEAL = (0, 160, 160)
FRAME = (209, 209, 209)


@pytest.fixture
def splash(clean, display):
    proc = winbench.start(clean, display, ["https://apps.example/zentrix.kvnlp"])
    window = splash_bench.find_splash(display)
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
    assert splash_bench.geometry(display, window) == (355, 345, 570, 333)
    bars = []
    for _ in range(3):
        pixel = splash_bench.screenshot(display)
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
