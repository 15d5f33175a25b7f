"""The user's proxy settings from the prefix's registry: logged at start-up, passed on to javaw."""
from harness import runtime
from harness import servers
from harness import wine


def test_proxy_server_is_logged_and_reaches_javaw_as_two_properties(clean, display):
    servers.set_connection_settings(clean, display, servers.connection_settings("proxy.example:3128", "<local>"))
    try:
        record = runtime.place_runtime(clean)
        assert wine.run(clean, display, ["start.kvnlp"], timeout=120) == 0
        starts = runtime.recorded_starts(record)
        texts = wine.log_texts(clean)
        assert "Proxy: detect=0, url=proxy.example:3128, config=(null), bypass=<local>" in texts
        assert "windowsProxyParams len %d" % (400 + 2 * (len("proxy.example:3128") + len("<local>"))) in texts
        cmdline, argv = starts[0]
        assert argv[1:4] == ["-Dde.tarvolin.windowsProxyServer=proxy.example:3128",
                             "-Dde.tarvolin.windowsProxyBypass=<local>", "-Djava.net.useSystemProxies=true"]
        assert 'javaw"  "-Dde.tarvolin.windowsProxyServer' in cmdline
        assert '<local>"  "-Djava.net.useSystemProxies=true"' in cmdline
    finally:
        servers.set_connection_settings(clean, display, None)


def test_per_scheme_list_without_scheme_gives_no_properties(clean, display):
    servers.set_connection_settings(clean, display, servers.connection_settings("http=p:1;https=p:2"))
    try:
        record = runtime.place_runtime(clean)
        assert wine.run(clean, display, ["start.kvnlp"], timeout=120) == 0
        starts = runtime.recorded_starts(record)
        assert any(t.startswith("Proxy: detect=0, url=http=p:1;https=p:2") for t in wine.log_texts(clean))
        assert starts[0][1][1] == "-Djava.net.useSystemProxies=true"
    finally:
        servers.set_connection_settings(clean, display, None)
