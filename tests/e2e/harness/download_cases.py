"""The live download cases, one entry each: what the scripted origin answers, which downloads run
with which arguments, and what is expected. The origin serves a case's answers (servers.Handler
answer_<kind>), the unit-test runner LiveDownload.Case makes the calls (download_test.cpp), and
test_download.py checks what the runner printed and what the origin and the proxies saw.

A new case is one more Case(...) in CASES. Fields:
  answers   path -> (answer kind, parameters) the origin gives: body, status (with headers), chunked
            (with a cut), short, reset, slow (pieces and delays), hangup, turns (statuses in turn),
            endless (a body without length that never ends)
  steps     the calls in order: Step(call, path, result, body, ...); call is "direct" or "auth"
            (DownloadfileDirect, DownloadWithAuthentication), "-dialog" added: DownloadfileDirect
            asked to show its dialog, "-plain" added last: useTls 0 (plain HTTP); target
            "missing-folder" downloads into a folder that does not exist; limit: the call's byte
            limit (none when not given). "fetch": FetchFileConditionally, with validator; "pack":
            DownloadRuntimePack, with validator as the refused one; "auth-pack":
            DownloadPackWithAuthentication, limit the size the version file names; answered: the validator they give
            back (the runner also checks that a fetch's digest is that of the file it wrote)
  body      Whole(size): the scripted pattern of that size; Exact(bytes) (Exact(b"") also holds
            for a missing file); Cut(below=n) or Cut(at_most=n): a part of the pattern
  log       checks on the log lines: Line(text, count), Prefix(text, count), Suffix(text, count),
            Containing(text, count), AtLeastPrefix(text, count), At(index, regex), All([texts]);
            "{host}" and "{target}" (the first call's target) stand for the case's values
  dialogs   the warning texts, in order, that the case shows (the runner's and the driver's view)
  status_messages  launcherState.statusMessageCount at the end
  requests  path -> {user agent: count} of what the origin received, all of it; request_paths the
            paths in the order received
  host      another download host for the calls; script: the calls take their proxy from a
            configuration script that gives the download hosts this route ("PROXY {proxy}": the
            driving test's proxy; servers.route_script); bench: the test that runs the case when it
            needs more than the origin (a proxy, another certificate); wine_limit: why Wine does not let
            the program see the sound result (the case is expected to fail, strictly)
"""
import re

OK_SIZE = 100_000
SHORT_ANNOUNCED = 50_000
SHORT_SENT = 20_000
CUT_AT = 20_000
BEYOND_4GIB = (1 << 32) + SHORT_SENT  # read as 32 bits: SHORT_SENT, and the short body would pass
DIRECT_AGENT = "WinHTTP tarvolin Client Launcher"
AUTH_AGENT = "tarvolin Windows Launcher/1.0"
PROXY_407 = "DownloadWithAuthentication 407: The proxy requires authentication.  Sending credentials...\n"
DIRECT_407 = "DownloadfileDirect 407: The proxy requires authentication."
AUTH_FAILED = ": DownloadWithAuthentication results=0: Error has occurred.\n"


def pattern(size):
    """The bytes of the scripted bodies: byte i is i % 251."""
    block = bytes(i % 251 for i in range(251))
    return (block * (size // 251 + 1))[:size]


class Case:
    def __init__(self, name, steps, answers=None, log=(), dialogs=(), status_messages=None, requests=None,
                 request_paths=None, host=None, script=None, bench=None, wine_limit=None):
        self.name, self.steps, self.answers = name, steps, answers or {}
        self.log, self.dialogs, self.status_messages = list(log), list(dialogs), status_messages
        self.requests, self.request_paths = requests, request_paths
        self.host, self.script, self.bench, self.wine_limit = host, script, bench, wine_limit


class Step:
    def __init__(self, call, path, result, body=None, exists=None, log_lines=None, target=None, limit=None,
                 validator=None, answered=None):
        self.call, self.path, self.result, self.body = call, path, result, body
        self.exists, self.log_lines, self.target, self.limit = exists, log_lines, target, limit
        self.validator, self.answered = validator, answered

    def text(self):
        return " ".join([self.call, self.path] + ([self.target] if self.target else []) +
                        (["limit=%d" % self.limit] if self.limit is not None else []) +
                        (["validator=" + self.validator] if self.validator else []))


class Whole:
    def __init__(self, size):
        self.size = size

    def holds(self, got):
        return got["exists"] and got["bytes"] == self.size and got["pattern"]


class Exact:
    def __init__(self, data):
        self.data = data

    def holds(self, got):
        return got["body"] == self.data if got["exists"] else self.data == b""


class Cut:
    def __init__(self, below=None, at_most=None):
        self.below, self.at_most = below, at_most

    def holds(self, got):
        size_ok = got["bytes"] < self.below if self.below is not None else got["bytes"] <= self.at_most
        return size_ok and got["pattern"]


class Line:
    def __init__(self, text, count=1):
        self.text, self.count = text, count

    def holds(self, texts):
        return sum(t == self.text for t in texts) == self.count


class Prefix(Line):
    def holds(self, texts):
        return sum(t.startswith(self.text) for t in texts) == self.count


class Suffix(Line):
    def holds(self, texts):
        return sum(t.endswith(self.text) for t in texts) == self.count


class Containing(Line):
    def holds(self, texts):
        return sum(self.text in t for t in texts) == self.count


class AtLeastPrefix(Line):
    def holds(self, texts):
        return sum(t.startswith(self.text) for t in texts) >= self.count


class At:
    def __init__(self, index, regex):
        self.index, self.text = index, regex

    def holds(self, texts):
        return len(texts) > self.index and re.fullmatch(self.text, texts[self.index], re.S) is not None


class All:
    def __init__(self, texts):
        self.texts = texts

    def holds(self, texts):
        return texts == self.texts


def _answers(*paths):
    return {path: ANSWERS[path] for path in paths}


# What the origin answers on each scripted path.
ANSWERS = {
    "/e2e/ok": ("body", {"body": pattern(OK_SIZE)}),
    "/e2e/empty": ("body", {"body": b""}),
    "/e2e/chunked": ("chunked", {"body": pattern(OK_SIZE), "chunk": 7000}),
    "/e2e/404": ("status", {"status": 404}),
    "/e2e/500": ("status", {"status": 500}),
    "/e2e/503": ("status", {"status": 503}),
    "/e2e/407": ("status", {"status": 407, "body": b"<html>Proxy Authentication Required</html>",
                            "headers": {"Proxy-Authenticate": 'Basic realm="tarvolin"'}}),
    "/e2e/401": ("status", {"status": 401, "headers": {"WWW-Authenticate": 'Basic realm="tarvolin"'}}),
    "/e2e/short": ("short", {"body": pattern(SHORT_ANNOUNCED), "sent": SHORT_SENT}),
    "/e2e/reset": ("reset", {"body": pattern(SHORT_ANNOUNCED), "sent": SHORT_SENT}),
    "/e2e/slow": ("slow", {"body": pattern(OK_SIZE), "pieces": 10, "delay": 0.2}),
    "/e2e/hangup": ("hangup", {}),
    "/e2e/401-407": ("turns", {"statuses": (401, 407)}),
    "/e2e/chunked-cut": ("chunked", {"body": pattern(OK_SIZE), "chunk": 7000, "cut": CUT_AT}),
    "/e2e/beyond-4gib": ("short", {"body": pattern(SHORT_SENT), "sent": SHORT_SENT, "announced": BEYOND_4GIB}),
    "/e2e/endless": ("endless", {"piece": pattern(251 * 64)}),
    "/e2e/tagged": ("ranged", {"body": pattern(OK_SIZE), "etag": '"a1"'}),
}

NO_CONNECTION = r"Fehler .*: Kein Netzwerkzugriff.*"
LIMIT = 65536
FETCH_TOO_LARGE = "FetchFileConditionally: Antwort gr\u00f6\u00dfer als %d Bytes, abgebrochen" % LIMIT
TOO_LARGE = "DownloadfileDirect: Antwort gr\u00f6\u00dfer als %d Bytes, abgebrochen" % LIMIT
AUTH_TOO_LARGE = "DownloadWithAuthentication 200: Antwort gr\u00f6\u00dfer als %d Bytes, abgebrochen" % LIMIT

CASES = [
    Case("DirectWholeBodyOverTls12", bench="an origin that speaks TLS 1.2 only",
         answers=_answers("/e2e/ok"),
         steps=[Step("direct", "/e2e/ok", 1, Whole(OK_SIZE))],
         log=[All(["DownloadfileDirect https://{host}/e2e/ok to {target}"])],
         requests={"/e2e/ok": {DIRECT_AGENT: 1}}),
    Case("DirectChunkedAndSlowBodiesAreWhole",
         answers=_answers("/e2e/chunked", "/e2e/slow"),
         steps=[Step("direct", "/e2e/chunked", 1, Whole(OK_SIZE)),
                Step("direct", "/e2e/slow", 1, Whole(OK_SIZE), log_lines=2)],
         requests={"/e2e/chunked": {DIRECT_AGENT: 1}, "/e2e/slow": {DIRECT_AGENT: 1}}),
    Case("DirectEmpty200GivesAnEmptyFileAnd1",
         answers=_answers("/e2e/empty"),
         steps=[Step("direct", "/e2e/empty", 1, Exact(b""), exists=True)],
         requests={"/e2e/empty": {DIRECT_AGENT: 1}}),
    Case("DirectFirst404WithDialogThenA500StaysSilent",
         answers=_answers("/e2e/404", "/e2e/500"),
         steps=[Step("direct-dialog", "/e2e/404", 0, Exact(b"")),
                Step("direct-dialog", "/e2e/500", 0, Exact(b""))],
         dialogs=["Fehler: HTTP-Statuscode=404 Resource nicht gefunden."],
         log=[Line("Fehler: HTTP-Statuscode=404 Resource nicht gefunden.", 1),
              Prefix("Fehler: HTTP-Statuscode=500", 0)],
         status_messages=2,
         request_paths=["/e2e/404", "/e2e/500"],
         requests={"/e2e/404": {DIRECT_AGENT: 1}, "/e2e/500": {DIRECT_AGENT: 1}}),
    Case("DirectFirstErrorWithoutDialogSilencesLaterOnes",
         answers=_answers("/e2e/503", "/e2e/404"),
         steps=[Step("direct", "/e2e/503", 0), Step("direct-dialog", "/e2e/404", 0)],
         log=[Line("Fehler: HTTP-Statuscode=503.", 1), Prefix("Fehler: HTTP-Statuscode=404", 0)],
         requests={"/e2e/503": {DIRECT_AGENT: 1}, "/e2e/404": {DIRECT_AGENT: 1}}),
    # A proxy's login page is no file of ours: 0 sends the caller to the fallback, which logs in.
    Case("Direct407Gives0AndAnEmptyFile",
         answers=_answers("/e2e/407"),
         steps=[Step("direct-dialog", "/e2e/407", 0, Exact(b""), exists=True)],
         log=[All(["DownloadfileDirect https://{host}/e2e/407 to {target}", DIRECT_407])],
         status_messages=0,
         requests={"/e2e/407": {DIRECT_AGENT: 1}}),
    Case("DirectIntoAMissingFolderShowsTheDialogWithoutBeingAsked",
         answers=_answers("/e2e/ok"),
         steps=[Step("direct", "/e2e/ok", 0, target="missing-folder")],
         dialogs=['Could not create destination file "{target}"'],
         log=[Line('Could not create destination file "{target}"', 1)],
         requests={}),
    Case("DirectShortBodyGives0AndKeepsWhatArrived",
         answers=_answers("/e2e/short"),
         steps=[Step("direct", "/e2e/short", 0, Cut(below=SHORT_ANNOUNCED))],
         log=[Prefix("DownloadfileDirect: Antwort unvollst", 1)],
         requests={"/e2e/short": {DIRECT_AGENT: 1}}),
    Case("BothDownloadsReadALengthOf4GiBAndMoreIn64Bits",
         answers=_answers("/e2e/beyond-4gib"),
         steps=[Step("direct", "/e2e/beyond-4gib", 0, Cut(at_most=SHORT_SENT)),
                Step("auth", "/e2e/beyond-4gib", 0, Cut(at_most=SHORT_SENT))],
         log=[Line("DownloadfileDirect: Antwort unvollst\u00e4ndig, %d von %d Bytes erhalten" % (SHORT_SENT, BEYOND_4GIB)),
              Line("DownloadWithAuthentication 200: Antwort unvollst\u00e4ndig, %d von %d Bytes erhalten"
                   % (SHORT_SENT, BEYOND_4GIB))],
         requests={"/e2e/beyond-4gib": {DIRECT_AGENT: 1, AUTH_AGENT: 1}}),
    # Announced beyond the limit: an empty file; grown past it: cut there; exactly at it: whole.
    Case("BothDownloadsKeepToTheirByteLimit",
         answers=_answers("/e2e/ok", "/e2e/chunked", "/e2e/endless"),
         steps=[Step("direct", "/e2e/ok", 0, Exact(b""), exists=True, limit=LIMIT),
                Step("direct", "/e2e/chunked", 0, Whole(LIMIT), limit=LIMIT),
                Step("auth", "/e2e/endless", 0, Whole(LIMIT), limit=LIMIT),
                Step("direct", "/e2e/ok", 1, Whole(OK_SIZE), limit=OK_SIZE),
                # The fallback's pack: a length that contradicts the named size, refused before a byte.
                Step("auth-pack", "/e2e/ok", 0, Exact(b""), exists=True, limit=OK_SIZE + 1)],
         log=[Line(TOO_LARGE, 2), Line(AUTH_TOO_LARGE, 1), Prefix("Fehler", 0),
              Line("DownloadWithAuthentication: Server k\u00fcndigt %d Bytes an, die Versionsdatei nennt %d, "
                   "Runtime-Paket abgelehnt" % (OK_SIZE, OK_SIZE + 1), 1)],
         requests={"/e2e/ok": {DIRECT_AGENT: 2, AUTH_AGENT: 1}, "/e2e/chunked": {DIRECT_AGENT: 1}, "/e2e/endless": {AUTH_AGENT: 1}}),
    # A fetch creates its file only for a 200 body, deletes a failed one, and a 304 leaves the copy.
    # A proxy's 407 is no answer (4) and leaves the status report to the 404.
    Case("FetchTakesOnlyAChangedFileAndLeavesNoFailedOne",
         answers=_answers("/e2e/ok", "/e2e/407", "/e2e/404", "/e2e/endless", "/e2e/tagged"),
         steps=[Step("fetch", "/e2e/ok", 5, target="missing-folder"), Step("fetch", "/e2e/407", 4, exists=False),
                Step("fetch", "/e2e/404", 3, exists=False),
                Step("fetch", "/e2e/endless", 5, exists=False, limit=LIMIT),
                Step("fetch", "/e2e/tagged", 1, Whole(OK_SIZE), answered='"a1"'),
                Step("fetch", "/e2e/tagged", 2, Whole(OK_SIZE), validator='"a1"', answered='"a1"'),
                Step("fetch", "/e2e/tagged", 1, Whole(OK_SIZE), validator='"a0"', answered='"a1"')],
         log=[Line("Fehler: HTTP-Statuscode=404 Resource nicht gefunden.", 1), Line(FETCH_TOO_LARGE, 1),
              Line(DIRECT_407, 1), Line("DownloadfileDirect https://{host}/e2e/ok to {target}", 1)],
         dialogs=['Could not create destination file "{target}"'], status_messages=1,
         requests={"/e2e/ok": {DIRECT_AGENT: 1}, "/e2e/407": {DIRECT_AGENT: 1}, "/e2e/404": {DIRECT_AGENT: 1},
                   "/e2e/endless": {DIRECT_AGENT: 1}, "/e2e/tagged": {DIRECT_AGENT: 3}}),
    # A refused pack asked for again: 304 gives 4 without box or file, a changed one comes whole.
    Case("RefusedPackIsAskedForOnlyIfItChanged",
         answers=_answers("/e2e/tagged"),
         steps=[Step("pack", "/e2e/tagged", 4, exists=False, validator='"a1"', answered=""),
                Step("pack", "/e2e/tagged", 1, Whole(OK_SIZE), validator='"a0"', answered='"a1"')],
         status_messages=0,
         requests={"/e2e/tagged": {DIRECT_AGENT: 2}}),
    # A chunked body has no Content-Length: only its last chunk tells that it is whole.
    Case("BothDownloadsGive0ForAChunkedBodyCutBeforeItsLastChunk",
         answers=_answers("/e2e/chunked-cut"),
         steps=[Step("direct", "/e2e/chunked-cut", 0, Cut(at_most=CUT_AT)),
                Step("auth", "/e2e/chunked-cut", 0, Cut(at_most=CUT_AT))],
         # A cut by a clean close: Wine reports the end of the data (0 bytes available, no error),
         # and without a Content-Length nothing tells the program that the body is short.
         wine_limit="Wine ends a cut chunked body without an error",
         requests={"/e2e/chunked-cut": {DIRECT_AGENT: 1, AUTH_AGENT: 1}}),
    Case("DirectResetMidBodyGives0AndKeepsWhatArrived",
         answers=_answers("/e2e/reset"),
         # The start line and one failure line.
         steps=[Step("direct", "/e2e/reset", 0, Cut(at_most=SHORT_SENT), log_lines=2)],
         requests={"/e2e/reset": {DIRECT_AGENT: 1}}),
    # A name that no resolver knows (the namespace has no route to any name server): both attempts
    # fail before a request goes out.
    Case("DirectWithoutConnectionGives0AndLogsKeinNetzwerkzugriff", host="no-such-host.invalid",
         steps=[Step("direct", "/e2e/ok", 0, Exact(b""), exists=True, log_lines=2)],
         log=[At(1, NO_CONNECTION)],
         requests={}),
    # The first attempt goes to an explicit proxy that fails (nothing listens, or it closes every
    # connection at once); the second goes direct.
    Case("DirectUnreachableExplicitProxyFailsTheFirstAttemptAndTheSecondGoesDirect",
         bench="an explicit proxy that fails",
         answers=_answers("/e2e/ok"),
         steps=[Step("direct", "/e2e/ok", 1, Whole(OK_SIZE), log_lines=1)],
         request_paths=["/e2e/ok"],
         requests={"/e2e/ok": {DIRECT_AGENT: 1}}),
    Case("DirectThroughTheExplicitProxy", bench="tinyproxy as the explicit proxy",
         answers=_answers("/e2e/ok"),
         steps=[Step("direct", "/e2e/ok", 1, Whole(OK_SIZE), log_lines=1)],
         request_paths=["/e2e/ok"],
         requests={"/e2e/ok": {DIRECT_AGENT: 1}}),
    Case("BothDownloadsGive0WhenTheServerHangsUpWithoutAnAnswer",
         answers=_answers("/e2e/hangup"),
         steps=[Step("direct", "/e2e/hangup", 0, Exact(b""), exists=True, log_lines=2),
                Step("auth", "/e2e/hangup", 0, Exact(b""))],
         log=[At(1, NO_CONNECTION), Suffix(AUTH_FAILED, 1)],
         requests={"/e2e/hangup": {DIRECT_AGENT: 1, AUTH_AGENT: 1}}),
    # Served with a certificate of an unknown CA, an expired one and one for another host name:
    # the checks stay on, so nothing is received.
    Case("BothDownloadsRefuseACertificateTheyCannotTrust", bench="an origin with a bad certificate",
         answers=_answers("/e2e/ok"),
         steps=[Step("direct", "/e2e/ok", 0, Exact(b"")), Step("auth", "/e2e/ok", 0, Exact(b""))],
         log=[Suffix(": Kein Netzwerkzugriff", 1), Suffix(AUTH_FAILED, 1), Prefix("Fehler ", 2)],
         requests={}),
    Case("AuthWholeBodyLogsEachChunk",
         answers=_answers("/e2e/ok"),
         steps=[Step("auth", "/e2e/ok", 1, Whole(OK_SIZE))],
         log=[AtLeastPrefix("from https://{host}//e2e/ok loading ", 1), Prefix("Fehler", 0)],
         requests={"/e2e/ok": {AUTH_AGENT: 1}}),
    Case("AuthEmpty200GivesAnEmptyFileAnd1",
         answers=_answers("/e2e/empty"),
         steps=[Step("auth", "/e2e/empty", 1, Exact(b""), exists=True)],
         requests={"/e2e/empty": {AUTH_AGENT: 1}}),
    Case("Auth503LogsTheDefaultLineAndGives0",
         answers=_answers("/e2e/503"),
         steps=[Step("auth", "/e2e/503", 0, Exact(b""))],
         log=[Line("DownloadWithAuthentication default: error. HTTP Status code 503 returned.\n", 1)],
         requests={"/e2e/503": {AUTH_AGENT: 1}}),
    Case("Auth401ForeverEndsAtTheSecond401",
         answers=_answers("/e2e/401"),
         steps=[Step("auth", "/e2e/401", 0, Exact(b""))],
         log=[Prefix("DownloadWithAuthentication 401: ", 1)],
         requests={"/e2e/401": {AUTH_AGENT: 2}}),
    Case("Auth401And407InTurnEndAfterSixRequests",
         answers=_answers("/e2e/401-407"),
         steps=[Step("auth", "/e2e/401-407", 0, Exact(b""))],
         log=[Line(PROXY_407, 3),
              Line("DownloadWithAuthentication: No usable answer after 6 requests (last status 407). Giving up.", 1),
              Prefix("Fehler", 0)],
         requests={"/e2e/401-407": {AUTH_AGENT: 6}}),
    Case("AuthShortAndResetBodiesGive0",
         answers=_answers("/e2e/short", "/e2e/reset"),
         steps=[Step("auth", "/e2e/short", 0, Cut(below=SHORT_ANNOUNCED)),
                Step("auth", "/e2e/reset", 0, Cut(at_most=SHORT_SENT))],
         requests={"/e2e/short": {AUTH_AGENT: 1}, "/e2e/reset": {AUTH_AGENT: 1}}),
    # Through the default proxy (Wine takes it from http_proxy), a scripted proxy that offers Basic
    # only. Over plain HTTP the proxy answers the GET itself: the 407 is a status, Basic is never
    # chosen, so the second request goes out as the first and its 407 ends the exchange.
    Case("AuthThroughABasicOnlyProxyOverHttp", bench="a proxy that offers Basic only",
         steps=[Step("auth-plain", "/e2e/ok", 0, Exact(b""))],
         log=[Prefix("Fehler", 0), Line(PROXY_407, 2)]),
    # Over HTTPS the proxy answers the CONNECT with 407. Wine's WinHTTP does not surface that as a
    # status: it starts the TLS handshake on the same connection, which fails with 12157
    # (ERROR_WINHTTP_SECURE_CHANNEL_ERROR); the exchange ends after one request with the error
    # line and 0. (Windows reports the 407 as the status; the plain-HTTP case shows what the
    # program does with it.)
    Case("AuthThroughABasicOnlyProxyOverHttps", bench="a proxy that offers Basic only",
         steps=[Step("auth", "/e2e/ok", 0, Exact(b""))],
         log=[Line(PROXY_407, 0), Line("Fehler 12157" + AUTH_FAILED, 1)]),
    # The user's settings name only a configuration script, which sends the host through a proxy
    # that asks for a login (Basic only). Over plain HTTP, where Wine surfaces the proxy's 407 as a
    # status: the direct download gives 0 without a dialog or status message, and the fallback
    # meets the same proxy, whose second 407 ends it.
    Case("ProxyLoginNamedByTheScriptGoesToTheFallbackThroughTheSameProxy",
         bench="a proxy that offers Basic only, named by a configuration script",
         script="PROXY {proxy}",
         steps=[Step("direct-dialog-plain", "/e2e/ok", 0, Exact(b"")),
                Step("auth-plain", "/e2e/ok", 0, Exact(b""))],
         log=[Line(DIRECT_407, 1), Line(PROXY_407, 2), Containing("Fehler: HTTP-Statuscode", 0),
              Containing("Error has occurred", 0)],
         status_messages=0),
]

BY_NAME = {case.name: case for case in CASES}
