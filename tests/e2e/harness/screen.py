"""The X display: windows found and keys pressed with xdotool (the only module that calls it),
screenshots read from xwd, and the CPU time of the program's process."""
import os
import struct
import subprocess
import time

from . import wine


def xdotool(display, *args, timeout=10):
    env = dict(os.environ, DISPLAY=display)
    out = subprocess.run(["xdotool", *args], env=env, stdin=subprocess.DEVNULL, capture_output=True,
                         timeout=timeout)
    return out.stdout.decode().split()


def windows_named(display, caption):
    """The X windows whose title is exactly caption."""
    return xdotool(display, "search", "--name", "^" + caption + "$")


def find_window(display, caption, timeout=40):
    """The X windows titled caption once there is one, or an empty list."""
    return wine.wait_for(lambda: windows_named(display, caption), timeout=timeout) or []


def wait_until_no_window(display, caption="Zentrix", timeout=30):
    """True once no window titled caption is left (a launcher instance no test owns has ended)."""
    return wine.wait_for(lambda: not windows_named(display, caption), timeout=timeout)


def press(display, window, key):
    """Activates a window and sends it a key (dialog boxes take keys sent to their window)."""
    xdotool(display, "windowactivate", "--sync", window)
    xdotool(display, "key", "--window", window, key)


def press_on_splash(display, window, keys):
    """A real key press (XTEST) on the focused splash; Wine ignores keys sent to a window, so the
    splash is focused and clicked first."""
    xdotool(display, "windowfocus", "--sync", window)
    xdotool(display, "mousemove", "--window", window, "285", "100", "click", "1")
    time.sleep(0.3)
    xdotool(display, "key", keys)


def find_splash(display, timeout=60):
    """The X window id of the splash (title "Zentrix"), or None."""
    found = wine.wait_for(lambda: xdotool(display, "search", "--onlyvisible", "--name", "^Zentrix$"),
                              timeout=timeout, interval=0.5)
    return found[0] if found else None


def geometry(display, window):
    """(x, y, width, height) of an X window."""
    values = dict(item.split("=") for item in xdotool(display, "getwindowgeometry", "--shell", window))
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def screenshot(display):
    """The root window as a function pixel(x, y) -> (r, g, b)."""
    data = subprocess.run(["xwd", "-root", "-silent", "-display", display], stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=30, check=True).stdout
    fields = struct.unpack_from(">25I", data, 0)
    header_size, width, byte_order, bits, stride, ncolours = (fields[0], fields[4], fields[7], fields[11],
                                                              fields[12], fields[19])
    assert bits in (24, 32), bits
    size = bits // 8
    start = header_size + 12 * ncolours

    def pixel(x, y):
        raw = data[start + y * stride + size * x: start + y * stride + size * x + size]
        value = int.from_bytes(raw, "little" if byte_order == 0 else "big")
        return (value >> 16) & 255, (value >> 8) & 255, value & 255

    pixel.width = width
    return pixel


def cpu_ticks(pid):
    """utime + stime of a process in clock ticks."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def exe_pid(name="DesktopLauncher.exe", prefix=None):
    """The pid of the Wine process running the exe (found by its command line), in the given
    prefix when one is named, so that other benches on the machine do not count."""
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/cmdline", "rb") as f:
                    cmd = f.read().split(b"\0")
                with open(f"/proc/{entry}/environ", "rb") as f:
                    env = f.read().split(b"\0")
            except OSError:
                continue
            if prefix is not None and ("WINEPREFIX=%s" % prefix).encode() not in env:
                continue
            if any(part.endswith(name.encode()) for part in cmd):
                return int(entry)
    return None


def cpu_share(pid, seconds=20.0):
    """CPU time of the process per second of wall time over the given span."""
    ticks = os.sysconf("SC_CLK_TCK")
    before, started = cpu_ticks(pid), time.monotonic()
    time.sleep(seconds)
    return (cpu_ticks(pid) - before) / ticks / (time.monotonic() - started)
