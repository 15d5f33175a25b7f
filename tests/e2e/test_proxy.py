"""The user's proxy settings from the prefix's registry: logged at start-up, passed on to javaw."""
import struct
import subprocess

from harness import runtime
from harness import wine

KEY = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"


def connection_settings(proxy, bypass="", script=""):
    flags = 1 | (2 if proxy else 0) | (4 if script else 0)
    data = struct.pack("<III", 0x46, 1, flags)
    for text in (proxy, bypass, script):
        raw = text.encode("latin-1")
        data += struct.pack("<I", len(raw)) + raw
    return data + b"\0" * 32


def set_registry(prefix, display, data):
    value = ",".join("%02x" % b for b in data) if data is not None else None
    body = "REGEDIT4\n\n[%s]\n\"DefaultConnectionSettings\"=%s\n" % (KEY, "hex:" + value if value else "-")
    reg = wine.Path(prefix) / "proxy.reg"
    reg.write_text(body)
    subprocess.run([wine.WINE, "regedit", "/S", str(reg)], env=wine.wine_env(prefix, display),
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def test_proxy_server_is_logged_and_reaches_javaw_as_two_properties(clean, display):
    set_registry(clean, display, connection_settings("proxy.example:3128", "<local>"))
    try:
        record = runtime.place_runtime(clean)
        assert wine.run(clean, display, ["start.kvnlp"], timeout=120) == 0
        starts = wine.wait_for(lambda: runtime.read_records(record), timeout=20)
        texts = wine.log_texts(clean)
        assert "Proxy: detect=0, url=proxy.example:3128, config=(null), bypass=<local>" in texts
        assert "windowsProxyParams len %d" % (400 + 2 * (len("proxy.example:3128") + len("<local>"))) in texts
        cmdline, argv = starts[0]
        assert argv[1:4] == ["-Dde.tarvolin.windowsProxyServer=proxy.example:3128",
                             "-Dde.tarvolin.windowsProxyBypass=<local>", "-Djava.net.useSystemProxies=true"]
        assert 'javaw"  "-Dde.tarvolin.windowsProxyServer' in cmdline
        assert '<local>"  "-Djava.net.useSystemProxies=true"' in cmdline
    finally:
        set_registry(clean, display, None)


def test_per_scheme_list_without_scheme_gives_no_properties(clean, display):
    set_registry(clean, display, connection_settings("http=p:1;https=p:2"))
    try:
        record = runtime.place_runtime(clean)
        assert wine.run(clean, display, ["start.kvnlp"], timeout=120) == 0
        starts = wine.wait_for(lambda: runtime.read_records(record), timeout=20)
        assert any(t.startswith("Proxy: detect=0, url=http=p:1;https=p:2") for t in wine.log_texts(clean))
        assert starts[0][1][1] == "-Djava.net.useSystemProxies=true"
    finally:
        set_registry(clean, display, None)
