"""The splash bitmap and the icon as the window and the resource compiler use them."""
import struct

from harness import wine

RES = wine.ROOT / "res"


def read_bmp(path):
    data = path.read_bytes()
    magic, _, _, _, offset = struct.unpack_from("<2sIHHI", data, 0)
    header = struct.unpack_from("<IiiHHIIiiII", data, 14)
    table = [struct.unpack_from("<BBBB", data, 54 + 4 * i)[:3][::-1] for i in range(256)]
    width, height = header[1], header[2]
    stride = (width + 3) & ~3

    def pixel(x, y):  # top-down coordinates
        return table[data[offset + (height - 1 - y) * stride + x]]

    return magic, header, pixel


def test_splash_header_fields():
    magic, (size, width, height, planes, bpp, compression, _, xppm, yppm, used, _), _ = read_bmp(RES / "splash.bmp")
    assert (magic, size, width, height, planes, bpp) == (b"BM", 40, 570, 333, 1, 8)
    assert (compression, xppm, yppm) == (0, 3779, 3779)
    assert used in (0, 256)


def test_splash_layout_the_window_draws_on():
    pixel = read_bmp(RES / "splash.bmp")[2]
    frame = (209, 209, 209)
    for x in (0, 100, 569):
        assert pixel(x, 0) == frame and pixel(x, 332) == frame
    for y in (0, 150, 332):
        assert pixel(0, y) == frame and pixel(569, y) == frame
    track = {pixel(x, y) for x in range(25, 545) for y in range(262, 273)}
    assert track == {(222, 222, 222)}
    assert pixel(24, 262) != (222, 222, 222) and pixel(545, 272) != (222, 222, 222)
    band = {pixel(x, y) for x in range(20, 551) for y in range(285, 321)}
    assert band == {(255, 255, 255)}
    title = {pixel(x, y) for x in range(140, 330) for y in range(30, 100)}
    assert title == {(255, 255, 255)}
    logo = [pixel(x, y) for x in range(41, 138) for y in range(40, 80)]
    assert (88, 88, 87) in logo
    assert any(r > 150 and g < 80 and b < 80 for r, g, b in logo)
    assert all(pixel(x, y) == (255, 255, 255) for x in range(1, 41) for y in range(1, 150))
    icons = {pixel(x, y) for x in range(357, 569) for y in range(1, 240)}
    assert any(c != (255, 255, 255) and c[0] == c[1] == c[2] and c[0] > 150 for c in icons)


def test_icon_group_has_64_32_16_at_8_bits():
    data = (RES / "launcher.ico").read_bytes()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    assert (reserved, kind, count) == (0, 1, 3)
    sizes = []
    for i in range(count):
        w, h, _, _, _, bpp, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        info = struct.unpack_from("<IiiHH", data, offset)
        assert bpp == 8 and info[4] == 8 and info[1] == (w or 256)
        sizes.append(w or 256)
    assert sizes == [64, 32, 16]
