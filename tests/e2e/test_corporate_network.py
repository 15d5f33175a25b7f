"""Company networks: the user's settings name a proxy configuration script (served over plain HTTP
on loopback) or switch on automatic detection, and no proxy text; a proxy that asks for a login;
a long bypass list on the way to javaw.

The script sends the download hosts through tinyproxy (named as host:port: Wine sends nothing to a
proxy written as http://host:port). Runs in the test namespace like the other network modules.
Run as a program it measures the start-up cost of the script lookup (see main()).
"""
import http.server
import re
import socket
import struct
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

import launch_bench  # noqa: E402
import runtime_bench  # noqa: E402
import winbench  # noqa: E402

SERVER_ROOT = winbench.E2E_DIR / "corporate-server"
HOST = "get.tarvolin.example"
KEY = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"
ROUTE_TO = 'function FindProxyForURL(url, host) { return dnsDomainIs(host, ".tarvolin.example") ? "%s" : "DIRECT"; }'
NO_ANSWER = "Proxy script for %s: no answer, the downloads go on without it" % HOST


def connection_settings(proxy="", bypass="", script="", detect=False):
    """DefaultConnectionSettings: flags 1 direct, 2 proxy text, 4 script address, 8 detection."""
    flags = 1 | (2 if proxy else 0) | (4 if script else 0) | (8 if detect else 0)
    data = struct.pack("<III", 0x46, 1, flags)
    for text in (proxy, bypass, script):
        raw = text.encode("latin-1")
        data += struct.pack("<I", len(raw)) + raw
    return data + b"\0" * 32


def set_settings(prefix, display, data):
    value = ",".join("%02x" % b for b in data) if data is not None else None
    body = "REGEDIT4\n\n[%s]\n\"DefaultConnectionSettings\"=%s\n" % (KEY, "hex:" + value if value else "-")
    reg = Path(prefix) / "corporate-proxy.reg"
    reg.write_text(body)
    subprocess.run([winbench.WINE, "regedit", "/S", str(reg)], env=winbench.wine_env(prefix, display),
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


class ScriptServer:
    """Plain HTTP on loopback serving the proxy script at /proxy.pac; counts the fetches."""

    def __init__(self, text):
        owner = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                owner.fetches += 1
                body = text.encode()
                self.send_response(200)
                self.send_header("Content-Type", "application/x-ns-proxy-autoconfig")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.fetches = 0
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/proxy.pac" % self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_tinyproxy(folder):
    """tinyproxy on loopback; returns (process, "127.0.0.1:port", its log file)."""
    if not Path("/usr/bin/tinyproxy").exists():
        pytest.skip("tinyproxy is not installed (scripts/install-deps.sh)")
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    port, log = free_port(), folder / "tinyproxy.log"
    log.write_text("")
    (folder / "tinyproxy.conf").write_text(
        "Port %d\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 60\nMaxClients 20\nConnectPort 443\n"
        "LogFile \"%s\"\nLogLevel Connect\n" % (port, log))
    proc = subprocess.Popen(["/usr/bin/tinyproxy", "-d", "-c", str(folder / "tinyproxy.conf")],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def listening():
        with socket.socket() as s:
            return s.connect_ex(("127.0.0.1", port)) == 0
    assert winbench.wait_for(listening, timeout=10), "tinyproxy did not start"
    return proc, "127.0.0.1:%d" % port, log


def stop(proc):
    proc.terminate()
    proc.wait(timeout=10)


@pytest.fixture
def settings(clean, display):
    """Sets the user's connection settings for one test and removes them afterwards."""
    yield lambda **kw: set_settings(clean, display, connection_settings(**kw))
    set_settings(clean, display, None)


def javaw_argv(prefix, record):
    starts = winbench.wait_for(lambda: launch_bench.read_records(record), timeout=20)
    assert starts, winbench.log_texts(prefix)[-15:]
    return starts[0][1]


def test_first_run_installs_through_the_proxy_the_script_names(server, display, settings, tmp_path):
    root, origin, prefix = server
    proxy, address, proxy_log = start_tinyproxy(tmp_path / "tinyproxy")
    script = ScriptServer(ROUTE_TO % ("PROXY " + address))
    try:
        settings(script=script.url)
        assert winbench.run(prefix, display, ["start.kvnlp"], timeout=180) == 0
        argv = javaw_argv(prefix, winbench.cache_dir(prefix) / "jre" / "bin" / "javaw-record.txt")
    finally:
        stop(proxy)
        script.stop()
    # Wine keeps the tunnel of the first download for the later ones (its connection pool is keyed
    # by the proxy's address, so no direct session shares it): one CONNECT carries all four
    # requests here, where Windows opens one per download.
    assert proxy_log.read_text(errors="replace").count("CONNECT %s:443" % HOST) >= 1
    assert origin.count(runtime_bench.VERSION_PATH) == 2 and origin.count(runtime_bench.PACK_PATH) == 1
    texts = winbench.log_texts(prefix)
    assert "Proxy script: detect=0, config=%s, bypass=(null)" % script.url in texts
    # Asked once for the host, the script fetched once.
    assert texts.count("Proxy script for %s: proxy=%s, bypass=(null)" % (HOST, address)) == 1
    assert script.fetches == 1
    # The Java side gets what it got before: no proxy properties without a proxy text.
    assert argv[1] == "-Djava.net.useSystemProxies=true"


# Settings under which the downloads go direct: name -> (settings, the line of the lookup).
DIRECT_CASES = {
    "script answers DIRECT": (dict(script="SCRIPT"), re.escape("Proxy script for %s: DIRECT" % HOST)),
    "script address does not answer": (dict(script="http://127.0.0.1:%d/proxy.pac" % free_port()),
                                       r"Fehler \d+: " + re.escape(NO_ANSWER)),
    # A script server that takes the connection and never answers holds a start up for the
    # lookup's bounded wait only (ERROR_WINHTTP_TIMEOUT; Wine itself would wait for minutes).
    "script server never answers": (dict(script="HANG"), re.escape("Fehler 12002: " + NO_ANSWER)),
    # Wine has no WPAD server to find and fails at once with ERROR_WINHTTP_AUTODETECTION_FAILED.
    "detection finds no server": (dict(detect=True), re.escape("Fehler 12180: " + NO_ANSWER)),
}


@pytest.mark.parametrize("case", sorted(DIRECT_CASES))
def test_downloads_go_direct_when_the_script_says_so_or_gives_no_answer(server, display, settings, case):
    root, origin, prefix = server
    record = launch_bench.place_runtime(prefix, version="5")
    chosen, line = DIRECT_CASES[case]
    script = ScriptServer(ROUTE_TO % "DIRECT")
    hanging = socket.socket()
    hanging.bind(("127.0.0.1", 0))
    hanging.listen(8)  # connections wait in the backlog unanswered
    urls = {"SCRIPT": script.url, "HANG": "http://127.0.0.1:%d/proxy.pac" % hanging.getsockname()[1]}
    try:
        settings(**{k: urls.get(v, v) if isinstance(v, str) else v for k, v in chosen.items()})
        started = time.monotonic()
        assert winbench.run(prefix, display, ["start.kvnlp"], timeout=180) == 0
        seconds = time.monotonic() - started
        javaw_argv(prefix, record)
    finally:
        script.stop()
        hanging.close()
    assert seconds < 45, seconds
    texts = winbench.log_texts(prefix)
    assert len([t for t in texts if re.fullmatch(line, t)]) == 1, texts
    assert origin.count(runtime_bench.VERSION_PATH) == 1


def unit_tests_exe():
    found = sorted(winbench.BUILD.rglob("unit_tests.exe"))
    assert found, "unit_tests.exe not built in " + str(winbench.BUILD)
    return found[0]


def test_a_proxy_login_goes_to_the_fallback_through_the_same_proxy(prefix, display, monkeypatch):
    # The platform default is direct here (no http_proxy), so only the user's proxy meets the proxy.
    monkeypatch.delenv("http_proxy", raising=False)
    runtime_bench.require_network()
    import https_server
    proxy = https_server.ScriptedProxy(("Basic",)).start()
    script = ScriptServer(ROUTE_TO % ("PROXY " + proxy.proxy_text))
    try:
        code = winbench.run(prefix, display, ["--gtest_filter=ProxyLoginLive.*", "--gtest_color=no"],
                            exe=unit_tests_exe(), timeout=120,
                            extra_env={"LAUNCHER_TEST_LOGIN_SCRIPT": script.url, "LAUNCHER_TEST_ORIGIN": HOST})
        requests = list(proxy.requests)
    finally:
        proxy.stop()
        script.stop()
    output = (Path(prefix) / "last-stdout.txt").read_bytes().decode("latin-1")
    assert code == 0 and "[  PASSED  ] 1 test." in output and "SKIPPED" not in output, output[-3000:]
    # The plain download once, then the fallback twice with its own user agent; Basic never answered.
    assert [r["line"] for r in requests] == ["GET http://%s:80/e2e/ok HTTP/1.1" % HOST] * 3
    assert [r["headers"].get("User-Agent") for r in requests] == [
        "WinHTTP tarvolin Client Launcher", "tarvolin Windows Launcher/1.0", "tarvolin Windows Launcher/1.0"]
    assert not any("Proxy-Authorization" in r["headers"] for r in requests)


def test_a_long_bypass_list_reaches_javaw_whole(clean, display, settings):
    bypass = ";".join("host%d.intra.example" % i for i in range(250))[:4000].rstrip(";.")
    assert len(bypass) >= 3990
    settings(proxy="proxy.example:3128", bypass=bypass)
    record = launch_bench.place_runtime(clean)
    assert winbench.run(clean, display, ["start.kvnlp"], timeout=180) == 0
    argv = javaw_argv(clean, record)
    assert argv[1:3] == ["-Dde.tarvolin.windowsProxyServer=proxy.example:3128",
                         "-Dde.tarvolin.windowsProxyBypass=" + bypass]


def main():
    """Warm-cache start-up time, process start to javaw start, with the proxy named by a
    configuration script against the same proxy given as a proxy text (both tinyproxy, runs
    alternating). Inside the test namespace:
        ip netns exec tarvolin-e2e python3 tests/e2e/test_corporate_network.py [--runs 10]
    """
    import argparse
    import statistics
    import https_server
    import net_bench

    parser = argparse.ArgumentParser(description=main.__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=10)
    runs = min(max(parser.parse_args().runs, 1), 50)
    if not net_bench.in_namespace():
        raise SystemExit("run inside the namespace " + net_bench.NAMESPACE + " (scripts/netns.sh)")
    net_bench.install_ca()
    xvfb, display = winbench.start_xvfb()
    prefix = winbench.boot_prefix(winbench.E2E_DIR / "corporate-bench-prefix", display)
    winbench.clear_user_state(prefix)
    root = runtime_bench.lay_out_server(winbench.E2E_DIR / "corporate-bench-server", version="5")
    cert, key = net_bench.cert_pair("server")
    origin = https_server.OriginServer(cert, key, root).start()
    proxy, address, _ = start_tinyproxy(winbench.E2E_DIR / "corporate-bench-tinyproxy")
    script = ScriptServer(ROUTE_TO % ("PROXY " + address))
    try:
        argument = ["https://get.tarvolin.example/start/app.kvnlp"]
        record = winbench.cache_dir(prefix) / "jre" / "bin" / "javaw-record.txt"
        forms = {"script": connection_settings(script=script.url), "text": connection_settings(proxy=address)}
        set_settings(prefix, display, forms["text"])
        runtime_bench._time_to_javaw(prefix, display, argument, winbench.EXE, record, timeout=180)  # warm cache
        times = {"script": [], "text": []}
        for _ in range(runs):
            for form in ("script", "text"):
                set_settings(prefix, display, forms[form])
                times[form].append(runtime_bench._time_to_javaw(prefix, display, argument, winbench.EXE, record))
        print("runs: %d" % runs)
        for form in ("script", "text"):
            print("%-6s median %.3f s (min %.3f, max %.3f)" % (form, statistics.median(times[form]),
                                                              min(times[form]), max(times[form])))
        print("ratio script/text (medians): %.2f (aim: at most 1.2)" %
              (statistics.median(times["script"]) / statistics.median(times["text"])))
    finally:
        set_settings(prefix, display, None)
        script.stop()
        stop(proxy)
        origin.stop()
        winbench.stop_prefix(prefix)
        xvfb.terminate()


if __name__ == "__main__":
    main()
