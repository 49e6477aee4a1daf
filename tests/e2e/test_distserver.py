"""The distribution server of the bench does what each of its behaviours
promises: the Windows tests trust it to produce exactly these responses."""

import http.client
import os
import re
import socket
import subprocess
import sys
import threading
import time
import tracemalloc
import urllib.error
import urllib.request

import pytest

sys.path.insert(0, os.path.dirname(__file__))
from distserver import DistServer, PatternBody, Response, pattern_bytes  # noqa: E402

HOST = "dl.morvik.example"


@pytest.fixture
def srv():
    server = DistServer().start()
    yield server
    server.stop()


class Raw:
    """One response as it came off the wire."""

    def __init__(self, status_line, headers, body, closed):
        self.status_line = status_line
        self.headers = headers
        self.body = body
        self.closed = closed  # the server closed the connection after the body

    def header(self, name):
        return self.headers.get(name.lower())


def raw_get(port, path, host=HOST, timeout=10.0, absolute=True):
    target = f"http://{host}{path}" if absolute else path
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as sock:
        sock.sendall(f"GET {target} HTTP/1.1\r\nHost: {host}\r\nUser-Agent: \r\n\r\n".encode())
        data = b""
        closed = False
        while True:
            try:
                chunk = sock.recv(65536)
            except socket.timeout:
                break
            if not chunk:
                closed = True
                break
            data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return Raw(lines[0], headers, body, closed)


def proxied_opener(server):
    return urllib.request.build_opener(urllib.request.ProxyHandler({"http": server.proxy_url}))


# --- canned routes -------------------------------------------------------

@pytest.mark.parametrize("size", [0, 1, 250, 251, 252, 16184, 70001])
def test_canned_ok_through_proxy(srv, size):
    with proxied_opener(srv).open(f"http://{HOST}/canned/ok?size={size}", timeout=10) as reply:
        body = reply.read()
        assert reply.status == 200
        assert reply.headers["Content-Length"] == str(size)
    assert body == bytes(i % 251 for i in range(size))


@pytest.mark.parametrize("path, status_line, length, body", [
    ("/canned/empty", "HTTP/1.1 200 OK", "0", b""),
    ("/canned/nolength?size=600", "HTTP/1.1 200 OK", None, pattern_bytes(600)),
    ("/canned/404", "HTTP/1.1 404 Not Found", "8", b"not here"),
    ("/canned/truncated?size=1000&cut=300", "HTTP/1.1 200 OK", "1000", pattern_bytes(300)),
    ("/canned/truncated?size=1000&cut=0", "HTTP/1.1 200 OK", "1000", b""),
    ("/canned/badstatus", "HTTP/1.1 abc OK", "10", b"bad status"),
    ("/no/such/file", "HTTP/1.1 404 Not Found", "9", b"not found"),
])
def test_canned_wire_format(srv, path, status_line, length, body):
    raw = raw_get(srv.port, path)
    assert raw.status_line == status_line
    assert raw.header("content-length") == length
    assert raw.body == body
    assert raw.closed


def test_canned_redirect_keeps_the_request_host(srv):
    raw = raw_get(srv.port, "/canned/redirect?to=/canned/ok%3Fsize%3D5")
    assert raw.status_line == "HTTP/1.1 302 Found"
    assert raw.header("location") == f"http://{HOST}/canned/ok?size=5"
    # A client that follows it lands on the target through the same proxy.
    with proxied_opener(srv).open(f"http://{HOST}/canned/redirect?to=/canned/ok%3Fsize%3D5") as r:
        assert r.read() == pattern_bytes(5)
    assert srv.paths()[-2:] == ["/canned/redirect", "/canned/ok"]


def test_canned_peer_keeps_the_connection_for_the_next_request(srv):
    connection = http.client.HTTPConnection("127.0.0.1", srv.port, timeout=10)
    try:
        bodies = []
        for _ in range(2):
            connection.request("GET", f"http://{HOST}/canned/peer")
            reply = connection.getresponse()
            assert reply.status == 200 and reply.headers["Connection"] == "keep-alive"
            bodies.append(reply.read())
        port = connection.sock.getsockname()[1]
    finally:
        connection.close()
    assert bodies == [str(port).encode()] * 2
    assert [r.client_port for r in srv.requests()] == [port, port]


def test_canned_hang_sends_nothing_then_closes(srv):
    start = time.monotonic()
    raw = raw_get(srv.port, "/canned/hang?ms=600")
    elapsed = time.monotonic() - start
    assert raw.status_line == "" and raw.body == b""
    assert raw.closed
    assert elapsed >= 0.55


def test_canned_slow_spreads_the_body_over_time(srv):
    arrivals = []
    with socket.create_connection(("127.0.0.1", srv.port), timeout=10) as sock:
        sock.sendall(f"GET http://{HOST}/canned/slow?size=4000&chunk=1000&delay_ms=150 HTTP/1.1"
                     f"\r\nHost: {HOST}\r\n\r\n".encode())
        data = b""
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                break
            data += chunk
            arrivals.append(time.monotonic())
    body = data.partition(b"\r\n\r\n")[2]
    assert body == pattern_bytes(4000)
    # Three pauses of 150 ms between four chunks.
    assert arrivals[-1] - arrivals[0] >= 0.4


# --- scripted routes -----------------------------------------------------

def test_sequence_answers_in_turn_and_repeats_the_last(srv):
    srv.route("/software2.xml", Response(status=404, body=b"no"), Response(body=b"<xml/>"))
    got = [raw_get(srv.port, "/software2.xml") for _ in range(3)]
    assert [r.status_line for r in got] == ["HTTP/1.1 404 Not Found", "HTTP/1.1 200 OK",
                                            "HTTP/1.1 200 OK"]
    assert [r.body for r in got] == [b"no", b"<xml/>", b"<xml/>"]


def test_host_route_wins_over_any_host_route(srv):
    srv.add_file("/kelto2/kelto.dat", b"any")
    srv.add_file("/kelto2/kelto.dat", b"mirror", host="Mirror.example")
    assert raw_get(srv.port, "/kelto2/kelto.dat", host="mirror.example").body == b"mirror"
    assert raw_get(srv.port, "/kelto2/kelto.dat", host=HOST).body == b"any"
    # WinInet names the default port in proxied URLs.
    assert raw_get(srv.port, "/kelto2/kelto.dat", host="mirror.example:80").body == b"mirror"
    assert srv.requests()[-1].url == "http://mirror.example/kelto2/kelto.dat"
    assert srv.requests()[-1].target == "http://mirror.example:80/kelto2/kelto.dat"
    srv.unroute("/kelto2/kelto.dat", host="mirror.example")
    assert raw_get(srv.port, "/kelto2/kelto.dat", host="mirror.example").body == b"any"


@pytest.mark.parametrize("response, status_line, length, body", [
    (Response(body=b"abc", content_length=10), "HTTP/1.1 200 OK", "10", b"abc"),
    (Response(body=b"abcdef", content_length=None), "HTTP/1.1 200 OK", None, b"abcdef"),
    (Response(body=b"abcdef", cut_after=2), "HTTP/1.1 200 OK", "6", b"ab"),
    (Response(status=500, body=b"oops"), "HTTP/1.1 500 Internal Server Error", "4", b"oops"),
    (Response(status=299, body=b""), "HTTP/1.1 299 Status", "0", b""),
    (Response(status="HTTP/1.0 200", body=b"x"), "HTTP/1.0 200", "1", b"x"),
    (Response(headers=[("Content-Length", "7"), ("X-Extra", "1")], body=b"x"),
     "HTTP/1.1 200 OK", "7", b"x"),
    (Response(body=PatternBody(300000), chunk_size=7777), "HTTP/1.1 200 OK", "300000",
     pattern_bytes(300000)),
])
def test_response_spec_on_the_wire(srv, response, status_line, length, body):
    srv.route("/f", response)
    raw = raw_get(srv.port, "/f")
    assert (raw.status_line, raw.header("content-length"), raw.body) == (status_line, length, body)
    assert raw.header("connection") == "close"
    assert raw.closed


def test_reset_ends_the_connection_abruptly(srv):
    srv.route("/f", Response(body=b"abcdef", cut_after=3, reset=True))
    with socket.create_connection(("127.0.0.1", srv.port), timeout=10) as sock:
        sock.sendall(f"GET http://{HOST}/f HTTP/1.1\r\nHost: {HOST}\r\n\r\n".encode())
        with pytest.raises(ConnectionResetError):
            while sock.recv(65536):
                pass


def test_delay_holds_the_response_back(srv):
    srv.route("/f", Response(body=b"late", delay=0.5))
    start = time.monotonic()
    assert raw_get(srv.port, "/f").body == b"late"
    assert time.monotonic() - start >= 0.45


def test_directory_root_serves_files_and_nothing_outside(tmp_path):
    root = tmp_path / "root"
    (root / "download").mkdir(parents=True)
    (root / "download" / "mvsetup.exe").write_bytes(b"MZsetup")
    (tmp_path / "secret").write_bytes(b"secret")
    with DistServer(root=str(root)) as server:
        assert raw_get(server.port, "/download/mvsetup.exe").body == b"MZsetup"
        assert raw_get(server.port, "/download/../../secret", absolute=False).status_line \
            == "HTTP/1.1 404 Not Found"
        assert raw_get(server.port, "/download").status_line == "HTTP/1.1 404 Not Found"
        # Scripted routes and canned routes still come first.
        server.add_file("/download/mvsetup.exe", b"scripted")
        assert raw_get(server.port, "/download/mvsetup.exe").body == b"scripted"
        assert raw_get(server.port, "/canned/404").body == b"not here"


# --- request log ---------------------------------------------------------

def test_requests_are_recorded_in_order_and_can_be_cleared(srv):
    conn = http.client.HTTPConnection("127.0.0.1", srv.port, timeout=10)
    conn.request("GET", f"http://{HOST}/kelto2/kelto.dat", headers={"User-Agent": ""})
    conn.getresponse().read()
    conn.close()
    raw_get(srv.port, "/kelto2/games/9.dat?x=1", absolute=False, host="mirror.example:81")

    first, second = srv.requests()
    assert (first.method, first.url, first.host, first.path) == \
        ("GET", f"http://{HOST}/kelto2/kelto.dat", HOST, "/kelto2/kelto.dat")
    assert first.header("user-agent") == ""
    assert first.header("Host") == HOST
    assert (second.url, second.path, second.query, second.params) == \
        ("http://mirror.example:81/kelto2/games/9.dat?x=1", "/kelto2/games/9.dat", "x=1",
         {"x": "1"})
    assert first.time <= second.time
    assert [r.path for r in srv.requests("/kelto2/kelto.dat")] == ["/kelto2/kelto.dat"]

    srv.clear_requests()
    assert srv.requests() == []
    raw_get(srv.port, "/a")
    assert srv.paths() == ["/a"]


def test_concurrent_requests_are_all_recorded(srv):
    threads = [threading.Thread(target=raw_get, args=(srv.port, f"/canned/ok?size={i}"))
               for i in range(20)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    got = srv.wait_for_requests(20, timeout=5)
    assert sorted(r.params["size"] for r in got) == sorted(str(i) for i in range(20))


@pytest.mark.parametrize("garbage", [b"NONSENSE\r\n\r\n", b"GET /x HTTP/1.1\r\nno colon\r\n\r\n"])
def test_malformed_request_gets_400_and_is_not_recorded(srv, garbage):
    with socket.create_connection(("127.0.0.1", srv.port), timeout=10) as sock:
        sock.sendall(garbage)
        data = b""
        while chunk := sock.recv(4096):
            data += chunk
    assert data.startswith(b"HTTP/1.1 400 ")
    assert srv.requests() == []


# --- lifecycle -----------------------------------------------------------

def test_stop_ends_a_hanging_response():
    server = DistServer().start()
    server.route("/forever", Response(hang=True))
    result = {}

    def fetch():
        result["raw"] = raw_get(server.port, "/forever", timeout=30)

    reader = threading.Thread(target=fetch)
    reader.start()
    server.wait_for_requests(1, timeout=5)
    start = time.monotonic()
    server.stop()
    reader.join(timeout=10)
    assert not reader.is_alive()
    assert time.monotonic() - start < 10
    assert result["raw"].body == b"" and result["raw"].closed


def test_large_body_is_streamed_not_built_in_memory(srv):
    size = 64 * 1024 * 1024
    tracemalloc.start()
    try:
        with socket.create_connection(("127.0.0.1", srv.port), timeout=30) as sock:
            sock.sendall(f"GET http://{HOST}/canned/ok?size={size} HTTP/1.1\r\n\r\n".encode())
            buffer = bytearray(1 << 20)
            view = memoryview(buffer)
            head = b""
            while b"\r\n\r\n" not in head:
                head += sock.recv(1)
            received = 0
            samples_ok = True
            while n := sock.recv_into(view):
                # Spot-check the pattern at the start of every read.
                samples_ok &= buffer[0] == received % 251
                received += n
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert b"Content-Length: %d" % size in head
    assert received == size
    assert samples_ok
    assert peak < 8 * 1024 * 1024, f"peak {peak} bytes while serving {size}"


def test_command_line_serves_a_folder_and_prints_requests(tmp_path):
    (tmp_path / "kelto2").mkdir()
    (tmp_path / "kelto2" / "kelto.dat").write_bytes(b"[forceupdate]\r\nlatest=1.6.5.2288\r\n")
    proc = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(__file__), "distserver.py"),
                             "--port", "0", "--root", str(tmp_path), "--canned"],
                            stdout=subprocess.PIPE, text=True)
    try:
        first = proc.stdout.readline()
        port = int(re.search(r"127\.0\.0\.1:(\d+)", first).group(1))
        listing = [proc.stdout.readline() for _ in range(12)]
        assert any("/canned/ok?size=N" in line for line in listing)
        assert raw_get(port, "/kelto2/kelto.dat").body.startswith(b"[forceupdate]")
        assert raw_get(port, "/canned/404").body == b"not here"
        assert proc.stdout.readline().strip() == f"GET http://{HOST}/kelto2/kelto.dat"
        assert proc.stdout.readline().strip() == f"GET http://{HOST}/canned/404"
    finally:
        proc.terminate()
        proc.wait(timeout=10)
