"""The scripted origin, the proxies and the one accept loop: the loopback HTTPS origin, a scripted
proxy, and TCP listeners that drop or hold every connection.

OriginServer listens on 127.0.0.1:443 (inside the test namespace), refuses anything older than
TLS 1.2, answers the paths a test scripts (routes: path -> (answer kind, parameters), the kinds
being the answer_* methods of Handler; download_cases.py holds the download cases' answers) and
serves every other path from a folder. Each request is recorded (method, path, headers) so tests
can count them.

ScriptedProxy answers every request, CONNECT or plain, with 407 and the Proxy-Authenticate
schemes it was given, and records the requests too. A client that goes on with a TLS handshake on
the connection after a 407 to its CONNECT is recorded as a request with the line "TLS handshake"
and the connection is closed. Tinyproxy is a real proxy (tinyproxy) that logs its CONNECTs.

ScriptServer serves a proxy configuration script over plain HTTP and counts the fetches. The
user's connection settings in a prefix's registry (connection_settings, set_connection_settings)
point the program at these proxies or scripts.

Run as a program for manual use or benchmarks:
    cd tests/e2e && ip netns exec tarvolin-e2e python3 -m harness.servers --root DIR [--port 443]
"""
import argparse
import http.server
import re
import socket
import socketserver
import subprocess
import ssl
import struct
import threading
import time
from pathlib import Path

from . import wine


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "tarvolin-e2e"

    def setup(self):
        self.request.do_handshake()
        super().setup()

    def log_message(self, fmt, *args):  # requests are recorded, not printed
        pass

    def do_GET(self):
        # A request target in absolute form ("https://host:443/path", as Wine sends it through a
        # proxy tunnel) is accepted, as HTTP/1.1 servers must.
        self.target = self.path
        if re.match(r"https?://", self.path):
            self.path = "/" + self.path.split("/", 3)[3] if self.path.count("/") >= 3 else "/"
        self.server.record(self)
        path = self.path.split("?", 1)[0]
        script = self.server.routes.get(path)
        if script is None:
            return self.answer_file(path)
        kind, params = script
        getattr(self, "answer_" + kind)(**params)

    do_HEAD = do_GET

    def head(self, status, length=None, headers=None, close=False):
        self.send_response(status)
        for name, value in (headers or {}).items():
            self.send_header(name, value)
        if length is not None:
            self.send_header("Content-Length", str(length))
        if close:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()

    def answer_body(self, body, status=200, headers=None):
        self.head(status, len(body), headers)
        if self.command != "HEAD":
            self.wfile.write(body)

    def answer_status(self, status, body=None, headers=None):
        body = body if body is not None else f"<html>{status}</html>".encode()
        self.answer_body(body, status, headers)

    def answer_chunked(self, body, chunk, cut=None):
        """A chunked body; with cut, the connection is closed cleanly after that many body bytes,
        without the last chunk."""
        self.head(200, None, {"Transfer-Encoding": "chunked"})
        end = len(body) if cut is None else cut
        for i in range(0, end, chunk):
            piece = body[i:min(i + chunk, end)]
            self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
        if cut is None:
            self.wfile.write(b"0\r\n\r\n")
        else:
            self.wfile.flush()
            self.close_connection = True

    def answer_short(self, body, sent, announced=None):
        """Announces the whole body (or announced bytes), sends only a part and closes the
        connection cleanly."""
        self.head(200, len(body) if announced is None else announced, close=True)
        self.wfile.write(body[:sent])
        self.wfile.flush()

    def answer_reset(self, body, sent):
        """Announces the whole body, sends a part and resets the TCP connection."""
        self.head(200, len(body))
        self.wfile.write(body[:sent])
        self.wfile.flush()
        time.sleep(0.2)
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.close_connection = True
        self.server.reset_requested.add(id(self.connection))

    def answer_turns(self, statuses):
        """The statuses in turn, one per request to the path (401 and 407 with their challenges)."""
        with self.server.lock:
            seen = sum(1 for r in self.server.requests if r["path"] == self.path) - 1
        status = statuses[seen % len(statuses)]
        challenge_header = {401: "WWW-Authenticate", 407: "Proxy-Authenticate"}.get(status)
        headers = {challenge_header: 'Basic realm="tarvolin"'} if challenge_header else None
        self.answer_status(status, headers=headers)

    def answer_hangup(self):
        """Reads the request and closes the connection without an answer."""
        self.close_connection = True

    def answer_gated(self, body, gate, timeout=60):
        """body once the test opens gate (a threading.Event), so a start is held in its download
        until the test has seen what it waits for; after timeout the body goes out anyway."""
        gate.wait(timeout)
        self.answer_body(body)

    def answer_slow(self, body, pieces, delay, lag=0.0):
        """The body in pieces with a pause after each; lag: a pause between the head and the body."""
        self.head(200, len(body))
        if lag:
            self.wfile.flush()
            time.sleep(lag)
        step = max(1, len(body) // pieces)
        for i in range(0, len(body), step):
            self.wfile.write(body[i:i + step])
            self.wfile.flush()
            time.sleep(delay)

    def answer_endless(self, piece):
        """piece (bytes) again and again without a length, until the client goes away."""
        self.head(200, None, close=True)
        try:
            while True:
                self.wfile.write(piece)
        except OSError:
            pass

    def answer_trickle(self, body, fast, interval, headers=None):
        """body with its length (and headers): the first fast bytes at once, then one byte each
        interval seconds until the client goes away."""
        self.head(200, len(body), headers)
        self.wfile.write(body[:fast])
        try:
            for at in range(fast, len(body)):
                self.wfile.flush()
                time.sleep(interval)
                self.wfile.write(body[at:at + 1])
        except OSError:
            pass

    def answer_sequence(self, answers):
        """Each request for the path takes the next of the scripted answers; the last one stays."""
        path = self.path.split("?", 1)[0]
        with self.server.lock:
            index = self.server.sequence_index.get(path, 0)
            self.server.sequence_index[path] = index + 1
        kind, params = answers[min(index, len(answers) - 1)]
        getattr(self, "answer_" + kind)(**params)

    def answer_ranged(self, body, etag='"v1"', last_modified=None, ranges=True, rate=None, piece=65536):
        """body as a static file server gives it, with its ETag (and Last-Modified when given). With
        ranges, "Range: bytes=N-" is answered with 206 and the rest when If-Range (if sent) names
        the current ETag or date, else with 200 and the whole body; without, always 200. If-None-Match
        with the ETag, or If-Modified-Since with the date, is answered with 304. rate: bytes
        per second, in pieces. Each answer is recorded (status, first byte) and the body bytes
        written are added to the path's sent count."""
        path = self.path.split("?", 1)[0]
        headers = {"ETag": etag} if etag else {}
        if last_modified:
            headers["Last-Modified"] = last_modified
        wanted = re.fullmatch(r"bytes=(\d+)-", self.headers.get("Range", ""))
        if_range = self.headers.get("If-Range")
        start = 0
        if ranges and wanted and int(wanted.group(1)) < len(body) and if_range in (None, etag, last_modified):
            start = int(wanted.group(1))
            headers["Content-Range"] = "bytes %d-%d/%d" % (start, len(body) - 1, len(body))
        status = 206 if "Content-Range" in headers else 200
        if self.headers.get("If-None-Match", "-") == etag or self.headers.get("If-Modified-Since", "-") == last_modified:
            status, body, start = 304, b"", 0
            headers.pop("Content-Range", None)
        with self.server.lock:
            self.server.answers.append({"path": path, "status": status, "start": start})
        self.head(status, len(body) - start, headers)
        for at in range(start, len(body), piece):
            block = body[at:at + piece]
            self.wfile.write(block)
            with self.server.lock:
                self.server.sent[path] = self.server.sent.get(path, 0) + len(block)
            if rate:
                time.sleep(len(block) / rate)

    def answer_file(self, path):
        root = self.server.root
        target = (root / path.lstrip("/")).resolve() if root else None
        if not target or not str(target).startswith(str(root.resolve())) or not target.is_file():
            return self.answer_status(404)
        size = target.stat().st_size
        self.head(200, size, {"Content-Type": "application/octet-stream"})
        if self.command == "HEAD":
            return
        with open(target, "rb") as f:
            while True:
                block = f.read(1 << 20)
                if not block:
                    break
                self.wfile.write(block)


class _Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, context, root, routes):
        super().__init__(address, Handler)
        self.context = context
        self.root = Path(root) if root else None
        self.routes = routes
        self.requests = []
        self.lock = threading.Lock()
        self.reset_requested = set()
        self.sequence_index = {}
        self.sent = {}
        self.answers = []

    def get_request(self):
        sock, addr = self.socket.accept()
        sock.settimeout(30)
        try:
            # The handshake runs on the request's thread; a refused one ends that connection only.
            return self.context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False), addr
        except OSError:
            sock.close()
            raise

    def record(self, handler):
        with self.lock:
            self.requests.append({"method": handler.command, "path": handler.path, "target": handler.target,
                                  "headers": dict(handler.headers.items()), "tls": handler.request.version()})

    def shutdown_request(self, request):
        if id(request) in self.reset_requested:
            self.reset_requested.discard(id(request))
            try:
                request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                socket.socket.close(request)  # no TLS close_notify: the peer sees a reset
            except OSError:
                pass
            return
        super().shutdown_request(request)

    def handle_error(self, request, client_address):
        pass  # clients that go away mid-answer are part of the tests


def start_origin(root=None, cert="server", **options):
    """The one origin starter: the HTTPS origin on 127.0.0.1:443 serving root with one of the
    bench's certificates (net.SERVER_CERTS); skips the test outside the test namespace."""
    from . import net
    net.require_network()
    net.install_ca()
    cert_file, key_file = net.cert_pair(cert)
    return OriginServer(cert_file, key_file, root, **options).start()


class OriginServer:
    """The scripted HTTPS origin, run on a thread of the calling process."""

    def __init__(self, cert, key, root=None, host="127.0.0.1", port=443, minimum=ssl.TLSVersion.TLSv1_2,
                 maximum=ssl.TLSVersion.MAXIMUM_SUPPORTED):
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.minimum_version = minimum
        self.context.maximum_version = maximum
        self.context.load_cert_chain(str(cert), str(key))
        self.routes = {}
        self.server = _Server((host, port), self.context, root, self.routes)
        # Stopping waits for the next poll; a short one keeps each test's teardown short.
        self.thread = threading.Thread(target=self.server.serve_forever, kwargs={"poll_interval": 0.05},
                                       daemon=True)

    def start(self):
        self.thread.start()
        return self

    def stop(self):
        self.server.shutdown()
        self.server.server_close()

    @property
    def requests(self):
        with self.server.lock:
            return list(self.server.requests)

    def sent(self, path):
        """Body bytes answer_ranged has written for the path."""
        with self.server.lock:
            return self.server.sent.get(path, 0)

    @property
    def answers(self):
        """What answer_ranged answered: path, status and first byte of each."""
        with self.server.lock:
            return list(self.server.answers)

    def count(self, path):
        return sum(1 for r in self.requests if r["path"].split("?", 1)[0] == path)

    def clear(self):
        with self.server.lock:
            self.server.requests.clear()
            self.server.sequence_index.clear()
            self.server.sent.clear()
            self.server.answers.clear()
        self.routes.clear()


def challenge(scheme):
    """The Proxy-Authenticate value for a scheme name (a full challenge text is used as given)."""
    if " " in scheme:
        return scheme
    if scheme == "Basic":
        return 'Basic realm="tarvolin"'
    if scheme == "Digest":
        return 'Digest realm="tarvolin", nonce="6a7d3c1e", qop="auth"'
    return scheme


class Listener:
    """The one accept loop: a TCP port on 127.0.0.1 (0: any free one) whose connections are each
    given to handle(conn) on the loop's thread; counts them. Stops with stop()."""

    def __init__(self, handle, port=0, host="127.0.0.1"):
        self.handle = handle
        self.connections = 0
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((host, port))
        self.sock.listen(16)
        self.sock.settimeout(0.05)  # how long stop waits for the accept loop to notice
        self.address = "%s:%d" % self.sock.getsockname()
        self.running = True
        self.thread = threading.Thread(target=self._accept, daemon=True)

    def start(self):
        self.thread.start()
        return self

    def stop(self):
        self.running = False
        self.thread.join(timeout=5)
        self.sock.close()

    def _accept(self):
        while self.running:
            try:
                conn, _ = self.sock.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            self.connections += 1
            self.handle(conn)


def closing_listener():
    """A port that accepts each connection and closes it at once (a proxy that drops everyone)."""
    return Listener(lambda conn: conn.close()).start()


def holding_listener(port):
    """A port that accepts connections and never answers them; held connections close at stop."""
    held = []
    listener = Listener(held.append, port=port)
    plain_stop = listener.stop

    def stop():
        plain_stop()
        for conn in held:
            conn.close()
    listener.stop = stop
    return listener.start()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class ScriptedProxy:
    """A proxy that answers every request with 407 and the given Proxy-Authenticate schemes."""

    def __init__(self, schemes=("Basic",), host="127.0.0.1", port=0):
        self.schemes = list(schemes)
        self.requests = []
        self.lock = threading.Lock()
        self.listener = Listener(self._serve_on_thread, port, host)

    def start(self):
        self.listener.start()
        return self

    def stop(self):
        self.listener.stop()

    @property
    def proxy_text(self):
        return self.listener.address

    def _serve_on_thread(self, conn):
        threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        conn.settimeout(10)
        data = b""
        try:
            for _ in range(20):  # bounded: a client gets at most 20 answers per connection
                lines, data = read_head(conn, data)
                if lines is None:
                    if data[:1] == TLS_RECORD:
                        with self.lock:
                            self.requests.append({"line": "TLS handshake", "headers": {}})
                    return
                with self.lock:
                    self.requests.append({"line": lines[0], "headers": head_fields(lines)})
                body = b"<html>407 Proxy Authentication Required</html>"
                answer = ["HTTP/1.1 407 Proxy Authentication Required"]
                answer += [f"Proxy-Authenticate: {challenge(s)}" for s in self.schemes]
                answer += [f"Content-Length: {len(body)}", "Proxy-Connection: keep-alive", "", ""]
                conn.sendall("\r\n".join(answer).encode() + body)
        except OSError:
            pass
        finally:
            conn.close()


TLS_RECORD = b"\x16"


def read_head(conn, data=b""):
    """Reads from conn until a request head is complete; returns (its lines, the bytes after it),
    or (None, what was read) when the peer closed first or sent a TLS record where a request
    should be."""
    while b"\r\n\r\n" not in data:
        if data[:1] == TLS_RECORD:
            return None, data
        chunk = conn.recv(65536)
        if not chunk:
            return None, data
        data += chunk
    head, rest = data.split(b"\r\n\r\n", 1)
    return head.decode("latin-1").split("\r\n"), rest


def head_fields(lines):
    return dict(line.split(": ", 1) for line in lines[1:] if ": " in line)


class ScriptServer:
    """Plain HTTP on 127.0.0.1 answering every GET with a proxy configuration script (text), one
    answer per connection; fetches counts the GETs, url is the script's address."""

    def __init__(self, text):
        self.body = text.encode()
        self.fetches = 0
        self.listener = Listener(self._answer)
        self.url = "http://%s/proxy.pac" % self.listener.address

    def start(self):
        self.listener.start()
        return self

    def stop(self):
        self.listener.stop()

    def _answer(self, conn):
        conn.settimeout(5)
        try:
            lines, _ = read_head(conn)
            if lines and lines[0].startswith("GET "):
                self.fetches += 1
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/x-ns-proxy-autoconfig\r\n"
                             b"Content-Length: %d\r\nConnection: close\r\n\r\n%s" % (len(self.body), self.body))
        except OSError:
            pass
        finally:
            conn.close()


def route_script(route):
    """A configuration script that gives the hosts of the test domain the route ("DIRECT" or
    "PROXY host:port") and every other host DIRECT."""
    return ('function FindProxyForURL(url, host) { return dnsDomainIs(host, ".tarvolin.example") ? "%s" : "DIRECT"; }'
            % route)


class Tinyproxy:
    """tinyproxy on 127.0.0.1, configured and logging in folder; skips the test when it is not
    installed. address: "127.0.0.1:port" (a proxy text; Wine sends nothing to a proxy written as
    http://host:port); log: its log file, which names each CONNECT."""

    PROGRAM = Path("/usr/bin/tinyproxy")

    def __init__(self, folder):
        if not self.PROGRAM.exists():
            import pytest
            pytest.skip("tinyproxy is not installed (scripts/install-deps.sh)")
        folder = Path(folder)
        folder.mkdir(parents=True, exist_ok=True)
        self.port = free_port()
        self.address = "127.0.0.1:%d" % self.port
        self.log = folder / "tinyproxy.log"
        self.log.write_text("")
        (folder / "tinyproxy.conf").write_text(
            "Port %d\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 60\nMaxClients 20\nConnectPort 443\n"
            "LogFile \"%s\"\nLogLevel Connect\n" % (self.port, self.log))
        self.proc = subprocess.Popen([str(self.PROGRAM), "-d", "-c", str(folder / "tinyproxy.conf")],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def start(self):
        def listening():
            with socket.socket() as s:
                return s.connect_ex(("127.0.0.1", self.port)) == 0
        if not wine.wait_for(listening, timeout=10):
            self.stop()
            raise RuntimeError("tinyproxy did not start")
        return self

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)

    def log_text(self):
        return self.log.read_text(errors="replace")


CONNECTIONS_KEY = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"


def connection_settings(proxy="", bypass="", script="", detect=False):
    """The user's DefaultConnectionSettings value: flags 1 direct, 2 proxy text, 4 script address,
    8 detection; then the proxy text, the bypass list and the script address."""
    flags = 1 | (2 if proxy else 0) | (4 if script else 0) | (8 if detect else 0)
    data = struct.pack("<III", 0x46, 1, flags)
    for text in (proxy, bypass, script):
        raw = text.encode("latin-1")
        data += struct.pack("<I", len(raw)) + raw
    return data + b"\0" * 32


def set_connection_settings(prefix, display, data):
    """Writes the settings value into the prefix's registry (None removes it) and reads it back.
    A write that did not take is reported in the prefix, warned about and done once more; a second
    miss fails the test. Unchecked, a removal that did not take once left one test's proxy in the
    arguments of every later test."""
    for attempt in (1, 2):
        written = _write_connection_settings(prefix, display, data)
        found = read_connection_settings(prefix, display)
        if found == data:
            return
        what = "connection settings read back as %r after writing %r (regedit: %r)" % (
            found and found[:16], data and data[:16], written)
        if attempt == 2:
            raise AssertionError(what)
        wine.report_wine_failure(prefix, "registry-write.txt", what, b"", "written once more")


def _write_connection_settings(prefix, display, data):
    """Runs regedit on a file that sets or removes the value; returns its exit code and output."""
    value = ",".join("%02x" % b for b in data) if data is not None else None
    body = "REGEDIT4\n\n[%s]\n\"DefaultConnectionSettings\"=%s\n" % (CONNECTIONS_KEY, "hex:" + value if value else "-")
    reg = Path(prefix) / "connection-settings.reg"
    reg.write_text(body)
    done = subprocess.run([wine.WINE, "regedit", "/S", str(reg)], env=wine.wine_env(prefix, display),
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    return done.returncode, done.stdout[-300:], done.stderr[-300:]


def read_connection_settings(prefix, display):
    """The settings value in the prefix's registry as bytes, None when there is none."""
    done = subprocess.run([wine.WINE, "reg", "query", CONNECTIONS_KEY, "/v", "DefaultConnectionSettings"],
                          env=wine.wine_env(prefix, display), stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=60)
    found = re.search(rb"DefaultConnectionSettings\s+REG_BINARY\s+([0-9A-Fa-f]*)", done.stdout)
    return bytes.fromhex(found.group(1).decode()) if done.returncode == 0 and found else None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--root", help="folder served for paths without a script")
    parser.add_argument("--cert", default=None)
    parser.add_argument("--key", default=None)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=443)
    parser.add_argument("--seconds", type=float, default=3600, help="stops by itself after this time")
    args = parser.parse_args()
    if not args.cert:
        from . import net
        net.make_certs()
        args.cert, args.key = net.cert_pair("server")
    server = OriginServer(args.cert, args.key, args.root, args.host, args.port).start()
    print(f"serving https://{args.host}:{args.port}/ for {args.seconds:.0f} s", flush=True)
    try:
        time.sleep(args.seconds)
    except KeyboardInterrupt:
        pass
    server.stop()


if __name__ == "__main__":
    main()
