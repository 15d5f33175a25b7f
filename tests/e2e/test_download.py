"""The live download cases (harness/download_cases.py) against the scripted HTTPS origin and the
proxies of this bench.

Each case runs in a unit-test process of its own under Wine (LiveDownload.Case, its calls from the
environment), so the report of the first HTTP error status starts fresh each time. The origin
listens on 127.0.0.1:443 inside the test namespace, requires TLS 1.2 or later and answers what the
case says. While a case runs, every warning dialog is answered through the harness's dialog
answerer; its texts and the ones the runner watched must both be the case's dialogs, in order.
"""
import re
import ssl
import subprocess
from collections import Counter
from pathlib import Path

import pytest

from harness import dialog
from harness import download_cases
from harness import net
from harness import servers
from harness import wine

HOST = "get.tarvolin.example"
CASES = download_cases.BY_NAME


def unit_tests_exe():
    for candidate in (wine.BUILD / "tests" / "unit_tests.exe", wine.BUILD / "unit_tests.exe"):
        if candidate.exists():
            return candidate
    found = sorted(wine.BUILD.rglob("unit_tests.exe"))
    assert found, "unit_tests.exe not built in " + str(wine.BUILD)
    return found[0]


def parse_runner_output(output):
    """What LiveDownload.Case printed: the calls' results, the log texts, the dialogs it watched
    and the count of status reports."""
    got = {"steps": [], "log": [], "dialogs": [], "status_messages": None}
    # The program's log trace goes to standard output too, without line ends: a record may follow
    # it on the same line.
    for kind, value in re.findall(r"(STEP|LOG|DIALOG|STATUS_MESSAGES)\t([^\n]*)", output):
        if kind == "STEP":
            fields = value.split("\t")
            values = dict(zip(fields[1::2], fields[2::2]))
            got["steps"].append({"result": int(values["RESULT"]), "exists": values["EXISTS"] == "1",
                                 "bytes": int(values["BYTES"]), "pattern": values["PATTERN"] == "1",
                                 "body": None if values["BODY"] == "-" else bytes.fromhex(values["BODY"]),
                                 "log_lines": int(values["LOGLINES"]),
                                 "target": bytes.fromhex(values["TARGET"]).decode("latin-1"),
                                 "validator": bytes.fromhex(values["VALIDATOR"]).decode("latin-1"),
                                 "digest": values["DIGEST"] == "1"})
        elif kind == "LOG":
            got["log"].append(bytes.fromhex(value).decode("latin-1"))
        elif kind == "DIALOG":
            got["dialogs"].append(bytes.fromhex(value).decode("utf-16-le"))
        else:
            got["status_messages"] = int(value)
    return got


def run_case(prefix, display, case, env=None, timeout=120):
    """Runs one case in LiveDownload.Case; returns what it printed (parse_runner_output) with the
    texts of the dialogs the answerer answered."""
    extra = {"LAUNCHER_TEST_ORIGIN": HOST, "LAUNCHER_TEST_DIALOGS": "outside",
             "LAUNCHER_CASE_STEPS": "|".join(step.text() for step in case.steps)}
    if case.host:
        extra["LAUNCHER_CASE_HOST"] = case.host
    extra.update(env or {})
    with dialog.Answerer(prefix, display) as answerer:
        code = wine.run(prefix, display, ["--gtest_filter=LiveDownload.Case", "--gtest_color=no"],
                        exe=unit_tests_exe(), extra_env=extra, timeout=timeout)
    output = (Path(prefix) / "last-stdout.txt").read_bytes().decode("latin-1").replace("\r", "")
    assert code == 0, output[-4000:]
    assert "[  PASSED  ] 1 test." in output and "SKIPPED" not in output, output[-4000:]
    got = parse_runner_output(output)
    got["answered"] = answerer.seen
    return got


def check_case(case, got, origin=None):
    """Every expectation of the case against what the runner printed and the origin received."""
    assert len(got["steps"]) == len(case.steps), got
    target = got["steps"][0]["target"]

    def filled(text):
        return text.replace("{host}", HOST).replace("{target}", target)

    for number, (step, result) in enumerate(zip(case.steps, got["steps"]), 1):
        where = "call %d (%s): %r" % (number, step.text(), result)
        assert result["result"] == step.result, where
        assert step.body is None or step.body.holds(result), where
        assert step.exists is None or result["exists"] == step.exists, where
        assert step.log_lines is None or result["log_lines"] == step.log_lines, (where, got["log"])
        assert result["digest"], where
        assert step.answered is None or result["validator"] == step.answered, where
    for check in case.log:
        if hasattr(check, "texts"):
            check = download_cases.All([filled(t) for t in check.texts])
        else:
            check = type(check)(*[filled(v) if isinstance(v, str) else v for v in vars(check).values()])
        assert check.holds(got["log"]), (vars(check), got["log"])
    dialogs = [filled(text) for text in case.dialogs]
    assert got["dialogs"] == dialogs
    assert all(caption == dialog.WARNING_CAPTION for caption, _ in got["answered"]), got["answered"]
    assert [text for _, text in got["answered"]] == dialogs
    if case.status_messages is not None:
        assert got["status_messages"] == case.status_messages
    if case.request_paths is not None:
        assert [r["path"] for r in origin.requests] == case.request_paths, origin.requests
    if case.requests is not None:
        seen = Counter((r["path"], r["headers"].get("User-Agent")) for r in origin.requests)
        assert seen == Counter({(path, agent): count for path, agents in case.requests.items()
                                for agent, count in agents.items()}), origin.requests


def run_and_check(prefix, display, case, origin=None, env=None):
    if origin is not None:
        origin.routes.update(case.answers)
    got = run_case(prefix, display, case, env)
    check_case(case, got, origin)
    return got


@pytest.fixture
def bench(prefix, display):
    net.require_network()
    return prefix, display


@pytest.fixture
def origin(bench):
    server = servers.start_origin()
    yield server
    server.stop()


# The cases that need more than the origin, each driven by a test of its own below.
BENCH_CASES = {"DirectWholeBodyOverTls12", "BothDownloadsRefuseACertificateTheyCannotTrust",
               "DirectUnreachableExplicitProxyFailsTheFirstAttemptAndTheSecondGoesDirect",
               "DirectThroughTheExplicitProxy", "DirectFailsOverToTheSecondEntryOfTheScriptsProxyList",
               "AuthThroughABasicOnlyProxyOverHttp",
               "AuthThroughABasicOnlyProxyOverHttps",
               "ProxyLoginNamedByTheScriptGoesToTheFallbackThroughTheSameProxy"}


def test_every_live_case_is_driven(bench):
    """One runner in the unit tests, and no case left that no test here drives."""
    assert {case.name for case in download_cases.CASES if case.bench} == BENCH_CASES
    prefix, display = bench
    proc = subprocess.run([wine.WINE, str(unit_tests_exe()), "--gtest_list_tests", "--gtest_filter=LiveDownload.*"],
                          env=wine.wine_env(prefix, display), stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=120)
    listed = {line.strip() for line in proc.stdout.decode("latin-1").splitlines() if line.startswith("  ")}
    assert listed == {"Case"}


def plain_case_params():
    """The cases that need nothing but the origin; a case Wine does not let pass fails strictly."""
    return [pytest.param(case.name, marks=pytest.mark.xfail(strict=True, reason=case.wine_limit))
            if case.wine_limit else case.name for case in download_cases.CASES if case.bench is None]


@pytest.mark.parametrize("name", plain_case_params())
def test_live_case(origin, bench, name):
    prefix, display = bench
    run_and_check(prefix, display, CASES[name], origin)


def test_whole_body_from_an_origin_that_speaks_tls_1_2_only(bench):
    # Wine 8's TLS stack offers no TLS 1.3: an origin that requires it fails even for a WinHTTP
    # client that leaves the secure protocols at the platform default, so only 1.2 is driven here.
    prefix, display = bench
    server = servers.start_origin(minimum=ssl.TLSVersion.TLSv1_2, maximum=ssl.TLSVersion.TLSv1_2)
    try:
        run_and_check(prefix, display, CASES["DirectWholeBodyOverTls12"], server)
        assert [(r["path"], r["tls"]) for r in server.requests] == [("/e2e/ok", "TLSv1.2")]
        assert server.requests[0]["headers"]["User-Agent"] == download_cases.DIRECT_AGENT
    finally:
        server.stop()


@pytest.mark.parametrize("cert", ["untrusted", "expired", "other-host"])
def test_certificate_checks_stay_on(bench, cert):
    prefix, display = bench
    server = servers.start_origin(cert=cert)
    try:
        run_and_check(prefix, display, CASES["BothDownloadsRefuseACertificateTheyCannotTrust"], server)
        assert server.requests == []
    finally:
        server.stop()


def test_unreachable_explicit_proxy_fails_the_first_attempt_and_the_second_goes_direct(origin, bench):
    prefix, display = bench
    case = CASES["DirectUnreachableExplicitProxyFailsTheFirstAttemptAndTheSecondGoesDirect"]
    # Nothing listens on the proxy's port.
    run_and_check(prefix, display, case, origin, {"LAUNCHER_CASE_PROXY": "127.0.0.1:%d" % servers.free_port()})
    # A proxy that closes every connection: the first attempt reached it, the second went direct.
    origin.clear()
    dead = servers.closing_listener()
    try:
        run_and_check(prefix, display, case, origin, {"LAUNCHER_CASE_PROXY": dead.address})
        assert dead.connections == 1
    finally:
        dead.stop()


def test_first_attempt_goes_through_the_explicit_proxy(origin, bench, tmp_path):
    prefix, display = bench
    proxy = servers.Tinyproxy(tmp_path / "tinyproxy").start()
    try:
        run_and_check(prefix, display, CASES["DirectThroughTheExplicitProxy"], origin,
                      {"LAUNCHER_CASE_PROXY": proxy.address})
    finally:
        proxy.stop()
    assert "CONNECT get.tarvolin.example:443" in proxy.log_text()


def test_a_dead_first_entry_of_the_scripts_list_fails_over_to_the_next(origin, bench, tmp_path):
    prefix, display = bench
    dead, live = servers.closing_listener(), servers.Tinyproxy(tmp_path / "tinyproxy").start()
    try:
        got = run_and_check(prefix, display, CASES["DirectFailsOverToTheSecondEntryOfTheScriptsProxyList"], origin,
                            {"LAUNCHER_CASE_SCRIPT_ANSWER": "PROXY %s; PROXY %s; DIRECT" % (dead.address, live.address)})
    finally:
        dead.stop()
        live.stop()
    assert dead.connections == 1
    assert "CONNECT get.tarvolin.example:443" in live.log_text()
    assert got["log"].count("Proxy script entry %s carries the download" % live.address) == 2


@pytest.fixture
def basic_proxy(bench):
    proxy = servers.ScriptedProxy(("Basic",)).start()
    yield proxy
    proxy.stop()


def test_basic_only_proxy_over_http_ends_after_two_requests(basic_proxy, bench):
    prefix, display = bench
    run_and_check(prefix, display, CASES["AuthThroughABasicOnlyProxyOverHttp"],
                  env={"LAUNCHER_CASE_PROXY": basic_proxy.proxy_text})
    requests = basic_proxy.requests
    assert [r["line"] for r in requests] == ["GET http://get.tarvolin.example:80/e2e/ok HTTP/1.1"] * 2
    assert not any("Proxy-Authorization" in r["headers"] for r in requests)
    assert requests[0]["headers"]["User-Agent"] == download_cases.AUTH_AGENT


def test_basic_only_proxy_over_https_fails_at_the_tls_handshake_under_wine(basic_proxy, bench):
    # Wine's WinHTTP does not surface the 407 answer to its CONNECT as a status: it starts the TLS
    # handshake on the same connection (the proxy sees a TLS record where the next request would
    # be) and the send fails with 12157. One request, the error line, result 0.
    prefix, display = bench
    run_and_check(prefix, display, CASES["AuthThroughABasicOnlyProxyOverHttps"],
                  env={"LAUNCHER_CASE_PROXY": basic_proxy.proxy_text})
    assert [r["line"] for r in basic_proxy.requests] == ["CONNECT get.tarvolin.example:443 HTTP/1.1", "TLS handshake"]


def test_proxy_login_named_by_the_script_goes_to_the_fallback_through_the_same_proxy(basic_proxy, bench):
    prefix, display = bench
    case = CASES["ProxyLoginNamedByTheScriptGoesToTheFallbackThroughTheSameProxy"]
    script = servers.ScriptServer(servers.route_script(case.script.replace("{proxy}", basic_proxy.proxy_text)))
    script.start()
    try:
        run_and_check(prefix, display, case, env={"LAUNCHER_CASE_SCRIPT": script.url})
    finally:
        script.stop()
    # The direct download once, then the fallback twice with its own user agent; Basic never answered.
    requests = basic_proxy.requests
    assert [r["line"] for r in requests] == ["GET http://get.tarvolin.example:80/e2e/ok HTTP/1.1"] * 3
    assert [r["headers"].get("User-Agent") for r in requests] == [
        download_cases.DIRECT_AGENT, download_cases.AUTH_AGENT, download_cases.AUTH_AGENT]
    assert not any("Proxy-Authorization" in r["headers"] for r in requests)
