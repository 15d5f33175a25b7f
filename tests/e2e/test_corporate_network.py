"""Company networks: the user's settings name a proxy configuration script (served over plain HTTP
on loopback) or switch on automatic detection, and no proxy text; a long bypass list on the way to
javaw. (A proxy that asks for a login is a live download case: test_download.py.)

The script sends the download hosts through tinyproxy. Runs in the test namespace like the other
network modules; every start answers its boxes as a user would and none is expected. The start-up
cost of the script lookup is measured by bench/proxy_script_bench.py.
"""
import re

import pytest

from harness import dialog
from harness import runtime
from harness import servers
from harness import wine

SERVER_ROOT = wine.E2E_DIR / "corporate-server"
HOST = "get.tarvolin.example"
NO_ANSWER = "Proxy script for %s: no answer, the downloads go on without it" % HOST


@pytest.fixture
def settings(clean, display):
    """Sets the user's connection settings for one test and removes them afterwards."""
    yield lambda **kw: servers.set_connection_settings(clean, display, servers.connection_settings(**kw))
    servers.set_connection_settings(clean, display, None)


def start_without_boxes(prefix, display):
    """Runs the launcher with a launch file to its end; returns the seconds it took."""
    code, boxes, seconds = dialog.run(prefix, display, ["start.kvnlp"], timeout=180)
    assert code == 0 and boxes == [], (code, boxes, wine.log_texts(prefix)[-15:])
    return seconds


def javaw_argv(prefix):
    starts = runtime.javaw_starts(prefix, 1)
    assert starts, "javaw left no record; the log ends:\n" + "\n".join(wine.log_texts(prefix)[-15:])
    return starts[0][1]


def test_first_run_installs_through_the_proxy_the_script_names(server, display, settings, tmp_path):
    root, origin, prefix = server
    proxy = servers.Tinyproxy(tmp_path / "tinyproxy").start()
    script = servers.ScriptServer(servers.route_script("PROXY " + proxy.address)).start()
    try:
        settings(script=script.url)
        start_without_boxes(prefix, display)
        argv = javaw_argv(prefix)
    finally:
        proxy.stop()
        script.stop()
    # Wine keeps the tunnel of the first download for the later ones (its connection pool is keyed
    # by the proxy's address, so no direct session shares it): one CONNECT carries all four
    # requests here, where Windows opens one per download.
    assert proxy.log_text().count("CONNECT %s:443" % HOST) >= 1
    assert origin.count(runtime.VERSION_PATH) == 2 and origin.count(runtime.PACK_PATH) == 1
    texts = wine.log_texts(prefix)
    assert "Proxy script: detect=0, config=%s, bypass=(null)" % script.url in texts
    # Asked once for the host, the script fetched once.
    assert texts.count("Proxy script for %s: proxy=%s, bypass=(null)" % (HOST, proxy.address)) == 1
    assert script.fetches == 1
    # Each download names the entry of the script's list that carried it.
    assert texts.count("Proxy script entry %s carries the download" % proxy.address) == 4
    # The Java side gets what it got before: no proxy properties without a proxy text.
    assert argv[1] == "-Djava.net.useSystemProxies=true"


# Settings under which the downloads go direct: name -> (settings, the line of the lookup).
# SCRIPT: a script that answers DIRECT; HANG: a server that takes the connection and never answers.
DIRECT_CASES = {
    "script answers DIRECT": (dict(script="SCRIPT"), re.escape("Proxy script for %s: DIRECT" % HOST)),
    "script address does not answer": (dict(script="http://127.0.0.1:%d/proxy.pac" % servers.free_port()),
                                       r"Fehler \d+: " + re.escape(NO_ANSWER)),
    # A script server that never answers holds a start up for the lookup's bounded wait only
    # (ERROR_WINHTTP_TIMEOUT; Wine itself would wait for minutes).
    "script server never answers": (dict(script="HANG"), re.escape("Fehler 12002: " + NO_ANSWER)),
    # Wine has no WPAD server to find and fails at once with ERROR_WINHTTP_AUTODETECTION_FAILED,
    # which is no error: an information line.
    "detection finds no server": (dict(detect=True), re.escape(
        "Proxy script for %s: keine automatische Konfiguration gefunden, Downloads ohne Proxy-Skript" % HOST)),
}


@pytest.mark.parametrize("case", sorted(DIRECT_CASES))
def test_downloads_go_direct_when_the_script_says_so_or_gives_no_answer(server, display, settings, case):
    root, origin, prefix = server
    runtime.place_runtime(prefix, version="5")
    chosen, line = DIRECT_CASES[case]
    script = servers.ScriptServer(servers.route_script("DIRECT")).start()
    hanging = servers.holding_listener(0)
    urls = {"SCRIPT": script.url, "HANG": "http://%s/proxy.pac" % hanging.address}
    try:
        settings(**{k: urls.get(v, v) if isinstance(v, str) else v for k, v in chosen.items()})
        seconds = start_without_boxes(prefix, display)
        javaw_argv(prefix)
    finally:
        script.stop()
        hanging.stop()
    assert seconds < 45, seconds
    texts = wine.log_texts(prefix)
    assert len([t for t in texts if re.fullmatch(line, t)]) == 1, texts
    assert origin.count(runtime.VERSION_PATH) == 1


def test_a_long_bypass_list_reaches_javaw_whole(clean, display, settings):
    bypass = ";".join("host%d.intra.example" % i for i in range(250))[:4000].rstrip(";.")
    assert len(bypass) >= 3990
    settings(proxy="proxy.example:3128", bypass=bypass)
    runtime.place_runtime(clean)
    start_without_boxes(clean, display)
    argv = javaw_argv(clean)
    assert argv[1:3] == ["-Dde.tarvolin.windowsProxyServer=proxy.example:3128",
                         "-Dde.tarvolin.windowsProxyBypass=" + bypass]
