#!/usr/bin/python3
"""A scriptable stand-in for the distribution server.

The launcher reaches its server through the system proxy, so requests come
in with absolute URLs ("GET http://dl.morvik.example/kelto2/kelto.dat
HTTP/1.1"); plain origin-form requests work too. Routes map a URL path (any
host, or one host) to a Response, or to a sequence of them for repeated
requests. Every request is recorded. Each response is followed by closing
the connection, which is what lets a response without Content-Length end,
unless the response keeps it open for the next request (keep_alive).

Use it in-process:

    server = DistServer()
    server.start()
    server.route("/kelto2/kelto.dat", Response(body=b"[forceupdate]\\r\\n"))
    server.route("/software2.xml", Response(status=404), Response(body=b"<x/>"))
    ... run something with http_proxy=server.proxy_url ...
    server.requests()  # what arrived
    server.stop()

With a TLS context (DistServer(tls=...)), a CONNECT request opens a tunnel
that speaks TLS with that context's certificate, and the requests inside it
are served like the others; their URLs are recorded as https://. Without
one, CONNECT is refused.

or from the command line:

    /usr/bin/python3 tests/e2e/distserver.py --port 8080 --root DIR [--canned]

Canned routes, always there (Windows tests depend on exactly these):

    /canned/ok?size=N                 200, Content-Length N, byte i = i % 251
    /canned/empty                     200, Content-Length 0
    /canned/nolength?size=N           200, no Content-Length, closed after body
    /canned/404                       404, body b"not here"
    /canned/truncated?size=N&cut=M    announces N, sends M bytes, closes
    /canned/badstatus                 status line "HTTP/1.1 abc OK"
    /canned/hang?ms=T                 answers nothing for T ms, then closes
    /canned/slow?size=N&chunk=K&delay_ms=D
    /canned/redirect?to=PATH          302 to PATH on the request's host
    /canned/file?name=NAME            200, the file NAME of the files folder
                                      (--files, DistServer.files), else 404
    /canned/peer?delay_ms=D           200 after D ms, the client's port; kept open
"""

from __future__ import annotations

import argparse
import dataclasses
import os
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse
from typing import Callable, Iterable, Iterator, Optional, Sequence, Union

__all__ = ["DistServer", "Response", "PatternBody", "EndlessBody", "RecordedRequest", "pattern_bytes"]

# Byte i of every canned body is i % 251: a prime period, so a dropped,
# doubled or reordered chunk of any power-of-two size shows up.
PATTERN_PERIOD = 251
_PATTERN_BLOCK = bytes(i % PATTERN_PERIOD for i in range(PATTERN_PERIOD)) * 1100  # ~270 KiB

MAX_REQUEST_HEAD = 64 * 1024
DEFAULT_CHUNK = 64 * 1024

REASONS = {
    200: "OK", 204: "No Content", 206: "Partial Content", 301: "Moved Permanently",
    302: "Found", 303: "See Other", 304: "Not Modified", 307: "Temporary Redirect",
    400: "Bad Request", 401: "Unauthorized", 403: "Forbidden", 404: "Not Found",
    500: "Internal Server Error", 502: "Bad Gateway", 503: "Service Unavailable",
}


def pattern_bytes(size: int, offset: int = 0) -> bytes:
    """The canned body, or a slice of it: byte i is i % 251."""
    out = bytearray()
    while len(out) < size:
        start = (offset + len(out)) % PATTERN_PERIOD
        take = min(size - len(out), len(_PATTERN_BLOCK) - start)
        out += _PATTERN_BLOCK[start:start + take]
    return bytes(out)


class PatternBody:
    """A body of `size` pattern bytes, produced chunk by chunk so that a
    64 MiB transfer never sits in memory whole; with an offset, the part of
    a longer one that starts there."""

    def __init__(self, size: int, offset: int = 0):
        if size < 0:
            raise ValueError("size must be >= 0")
        self.size = size
        self.offset = offset

    def __len__(self) -> int:
        return self.size

    def chunks(self, chunk_size: int) -> Iterator[bytes]:
        sent = 0
        while sent < self.size:
            n = min(chunk_size, self.size - sent)
            yield pattern_bytes(n, self.offset + sent)
            sent += n

    def tail(self, start: int) -> "PatternBody":
        return PatternBody(self.size - start, self.offset + start)


class EndlessBody:
    """Pattern bytes for as long as the client reads."""

    def __len__(self) -> int:
        return 0

    def chunks(self, chunk_size: int) -> Iterator[bytes]:
        sent = 0
        while True:
            yield pattern_bytes(chunk_size, sent)
            sent += chunk_size


class FileBody:
    """A body read from a file as it is sent."""

    def __init__(self, path: str, offset: int = 0):
        self.path = path
        self.offset = offset
        self.size = os.path.getsize(path) - offset

    def __len__(self) -> int:
        return self.size

    def chunks(self, chunk_size: int) -> Iterator[bytes]:
        with open(self.path, "rb") as f:
            f.seek(self.offset)
            while True:
                data = f.read(chunk_size)
                if not data:
                    return
                yield data

    def tail(self, start: int) -> "FileBody":
        return FileBody(self.path, self.offset + start)


Body = Union[bytes, PatternBody, FileBody, EndlessBody]
AUTO = object()  # Content-Length from the body


@dataclasses.dataclass
class Response:
    """How to answer one request.

    status: an int (the reason phrase is added), or a str that is sent as
        the whole status line, e.g. "HTTP/1.1 abc OK".
    headers: extra header lines, in order; they replace automatic ones of
        the same name (Content-Length, Connection).
    body: bytes, PatternBody or FileBody.
    delay: seconds before anything is sent.
    chunk_size, chunk_delay: throttling; the body goes out in pieces of
        chunk_size bytes with chunk_delay seconds before each piece after
        the first.
    cut_after: close the connection after this many body bytes.
    content_length: AUTO (the body's length), an int (announced whatever
        the body: larger than the body makes a lying length), or None (no
        header; the body ends when the connection closes).
    hang: send nothing; the connection is closed after hang_seconds, or
        when the server stops if hang_seconds is None.
    reset: end the connection with a TCP reset instead of a clean close.
    stall_after: after this many body bytes send nothing more, until the
        connection is closed after stall_seconds (or when the server stops).
    ranges: honour "Range: bytes=N-" when its If-Range matches this
        response's ETag (or Last-Modified): 206 with the rest of the body.
    keep_alive: "Connection: keep-alive" instead of "close", and the
        connection then waits for the next request; for a body of announced
        length only.
    """

    status: Union[int, str] = 200
    headers: Sequence[tuple[str, str]] = ()
    body: Body = b""
    delay: float = 0.0
    chunk_size: int = DEFAULT_CHUNK
    chunk_delay: float = 0.0
    cut_after: Optional[int] = None
    content_length: object = AUTO
    hang: bool = False
    hang_seconds: Optional[float] = None
    reset: bool = False
    stall_after: Optional[int] = None
    stall_seconds: Optional[float] = None
    ranges: bool = False
    keep_alive: bool = False

    def status_line(self) -> bytes:
        if isinstance(self.status, str):
            return self.status.encode("latin-1")
        reason = REASONS.get(self.status, "Status")
        return f"HTTP/1.1 {self.status} {reason}".encode("ascii")

    def announced_length(self) -> Optional[int]:
        if self.content_length is AUTO:
            return None if isinstance(self.body, EndlessBody) else len(self.body)
        return self.content_length  # type: ignore[return-value]


@dataclasses.dataclass
class RecordedRequest:
    """One request as it arrived."""

    method: str
    url: str  # absolute: http://host/path?query, without a ":80"
    host: str
    path: str  # without the query
    query: str
    target: str  # as written in the request line, e.g. with ":80"
    version: str
    headers: list[tuple[str, str]]
    time: float  # time.monotonic() at arrival
    client_port: int

    def header(self, name: str) -> Optional[str]:
        for key, value in self.headers:
            if key.lower() == name.lower():
                return value
        return None

    @property
    def params(self) -> dict[str, str]:
        return dict(urllib.parse.parse_qsl(self.query, keep_blank_values=True))


class _Route:
    def __init__(self, responses: Sequence[Response]):
        if not responses:
            raise ValueError("a route needs at least one response")
        self._responses = list(responses)
        self._served = 0
        self._lock = threading.Lock()

    def next(self) -> Response:
        # A sequence answers in turn; its last response repeats from then on.
        with self._lock:
            index = min(self._served, len(self._responses) - 1)
            self._served += 1
            return self._responses[index]


class BadRequest(Exception):
    pass


def _normal_host(host: str, scheme: str = "http") -> str:
    host = host.lower()
    port = ":443" if scheme == "https" else ":80"
    return host[:-len(port)] if host.endswith(port) else host


def _parse_request(head: bytes, client_port: int, scheme: str = "http") -> RecordedRequest:
    lines = head.decode("latin-1").split("\r\n")
    parts = lines[0].split(" ")
    if len(parts) != 3:
        raise BadRequest(lines[0])
    method, target, version = parts
    headers = []
    for line in lines[1:]:
        if not line:
            continue
        name, sep, value = line.partition(":")
        if not sep:
            raise BadRequest(line)
        headers.append((name.strip(), value.strip()))
    host_header = next((v for k, v in headers if k.lower() == "host"), "")
    if target.lower().startswith("http://"):
        split = urllib.parse.urlsplit(target)
        host = split.netloc
        path = split.path or "/"
        query = split.query
    elif method == "CONNECT":
        # "CONNECT host:443": the tunnel to an https server.
        scheme, host, path, query = "https", target, "", ""
    else:
        host = host_header
        path, _, query = target.partition("?")
    # WinInet names the default port in proxied URLs ("host:80/..."); the
    # record drops it so that tests compare against the URL as configured.
    host = _normal_host(host, scheme)
    url = f"{scheme}://{host}{path}" + (f"?{query}" if query else "")
    return RecordedRequest(method, url, host, urllib.parse.unquote(path), query, target, version,
                           headers, time.monotonic(), client_port)


def _int_param(request: RecordedRequest, name: str, default: int) -> int:
    try:
        return int(request.params.get(name, default))
    except ValueError:
        return default


def canned_response(request: RecordedRequest) -> Optional[Response]:
    """The response of a /canned/ route, or None for any other path."""
    name = request.path[len("/canned/"):] if request.path.startswith("/canned/") else None
    size = _int_param(request, "size", 0)
    if name == "ok":
        return Response(body=PatternBody(size))
    if name == "empty":
        return Response(body=b"")
    if name == "nolength":
        return Response(body=PatternBody(size), content_length=None)
    if name == "404":
        return Response(status=404, body=b"not here")
    if name == "truncated":
        cut = _int_param(request, "cut", 0)
        return Response(body=PatternBody(size), cut_after=cut)
    if name == "badstatus":
        return Response(status="HTTP/1.1 abc OK", body=b"bad status")
    if name == "hang":
        return Response(hang=True, hang_seconds=_int_param(request, "ms", 0) / 1000.0)
    if name == "slow":
        return Response(body=PatternBody(size), chunk_size=max(1, _int_param(request, "chunk", 1024)),
                        chunk_delay=_int_param(request, "delay_ms", 100) / 1000.0)
    if name == "peer":
        return Response(body=str(request.client_port).encode("ascii"), keep_alive=True,
                        delay=_int_param(request, "delay_ms", 0) / 1000.0)
    if name == "redirect":
        to = request.params.get("to", "/")
        if not to.startswith("/"):
            to = "/" + to
        return Response(status=302, headers=[("Location", f"http://{request.host}{to}")],
                        body=b"moved")
    return None


class _Handler(socketserver.BaseRequestHandler):
    server: "_TcpServer"

    def handle(self) -> None:
        owner = self.server.owner
        sock: socket.socket = self.request
        owner._track(sock)
        try:
            scheme = "http"
            while True:
                head = self._read_head(sock)
                if head is None:
                    return
                try:
                    request = _parse_request(head, self.client_address[1], scheme)
                except BadRequest:
                    owner._send(sock, Response(status=400, body=b"bad request"), "GET")
                    return
                owner._record(request)
                if request.method == "CONNECT" and scheme == "http":
                    sock = owner._open_tunnel(sock)
                    if sock is None:
                        return
                    scheme = "https"
                    continue
                response = owner._respond_to(request)
                owner._send(sock, response, request.method, request.path)
                if not response.keep_alive:
                    return
        except OSError:
            pass  # the client went away or the server is stopping
        finally:
            owner._untrack(sock)
            try:
                sock.close()
            except OSError:
                pass

    def _read_head(self, sock: socket.socket) -> Optional[bytes]:
        data = b""
        sock.settimeout(30)
        while b"\r\n\r\n" not in data:
            if len(data) > MAX_REQUEST_HEAD:
                return None
            chunk = sock.recv(4096)
            if not chunk:
                return None
            data += chunk
        head, _, _ = data.partition(b"\r\n\r\n")
        return head


def _ranged(response: Response, request: RecordedRequest) -> Response:
    """The rest of the body as a 206 when the response honours ranges and
    the request's If-Range names this very body."""
    wanted = request.header("Range") or ""
    if not response.ranges or not wanted.startswith("bytes=") or not wanted.endswith("-"):
        return response
    validators = {v for k, v in response.headers if k.lower() in ("etag", "last-modified")}
    start = wanted[len("bytes="):-1]
    total = len(response.body)
    if request.header("If-Range") not in validators or not start.isdigit() \
            or not 0 < int(start) < total or isinstance(response.body, EndlessBody):
        return response
    first = int(start)
    body = response.body[first:] if isinstance(response.body, bytes) else response.body.tail(first)
    headers = list(response.headers) + [("Content-Range", f"bytes {first}-{total - 1}/{total}")]
    return dataclasses.replace(response, status=206, headers=headers, body=body)


class _TcpServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    block_on_close = False

    def __init__(self, address, owner: "DistServer"):
        self.owner = owner
        super().__init__(address, _Handler)


class DistServer:
    """Threaded HTTP server on 127.0.0.1, scripted by routes."""

    def __init__(self, port: int = 0, root: Optional[str] = None,
                 on_request: Optional[Callable[[RecordedRequest], None]] = None,
                 files: Optional[str] = None, tls: Optional[ssl.SSLContext] = None):
        self._wanted_port = port
        self.root = root
        self.files = files  # served by name only, through /canned/file
        self.on_request = on_request
        self.tls = tls  # what a CONNECT tunnel speaks; None refuses CONNECT
        self._routes: dict[tuple[Optional[str], str], _Route] = {}
        self._requests: list[RecordedRequest] = []
        self._body_bytes: dict[str, int] = {}  # sent, by URL path
        self._lock = threading.Condition()
        self._stopping = threading.Event()
        self._sockets: set[socket.socket] = set()
        self._server: Optional[_TcpServer] = None
        self._thread: Optional[threading.Thread] = None

    # --- lifecycle -------------------------------------------------------

    def start(self) -> "DistServer":
        self._stopping.clear()
        self._server = _TcpServer(("127.0.0.1", self._wanted_port), self)
        self._thread = threading.Thread(target=self._server.serve_forever,
                                         kwargs={"poll_interval": 0.05},
                                         name="distserver", daemon=True)
        self._thread.start()
        return self

    def stop(self) -> None:
        """Stops accepting, ends every open connection (hanging ones too)
        and returns when the server thread is gone."""
        if self._server is None:
            return
        self._stopping.set()
        self._server.shutdown()
        self._server.server_close()
        with self._lock:
            open_sockets = list(self._sockets)
        for sock in open_sockets:
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        if self._thread:
            self._thread.join(timeout=5)
        self._server = None

    def __enter__(self) -> "DistServer":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.stop()

    @property
    def port(self) -> int:
        assert self._server is not None, "server not started"
        return self._server.server_address[1]

    @property
    def proxy_url(self) -> str:
        return f"http://127.0.0.1:{self.port}"

    @property
    def base_url(self) -> str:
        return f"http://127.0.0.1:{self.port}"

    # --- routes ----------------------------------------------------------

    def route(self, path: str, *responses: Response, host: Optional[str] = None) -> None:
        """Answers requests for path (on any host, or only on host) with the
        responses in turn; the last one repeats. Replaces an earlier route.
        The query string plays no part: /a?x=1 and /a take the same route."""
        with self._lock:
            self._routes[(_normal_host(host) if host else None, path)] = _Route(responses)

    def add_file(self, path: str, body: Union[bytes, str], status: int = 200,
                 host: Optional[str] = None, **options) -> None:
        if isinstance(body, str):
            body = body.encode("utf-8")
        self.route(path, Response(status=status, body=body, **options), host=host)

    def unroute(self, path: str, host: Optional[str] = None) -> None:
        with self._lock:
            self._routes.pop((_normal_host(host) if host else None, path), None)

    def clear_routes(self) -> None:
        with self._lock:
            self._routes.clear()

    # --- recorded requests -----------------------------------------------

    def requests(self, path: Optional[str] = None) -> list[RecordedRequest]:
        """A copy of the requests so far, in order of arrival."""
        with self._lock:
            return [r for r in self._requests if path is None or r.path == path]

    def paths(self) -> list[str]:
        return [r.path for r in self.requests()]

    def body_bytes_sent(self, path: Optional[str] = None) -> int:
        """Body bytes sent so far, for path or in all."""
        with self._lock:
            return self._body_bytes.get(path, 0) if path else sum(self._body_bytes.values())

    def clear_requests(self) -> None:
        with self._lock:
            self._requests.clear()

    def wait_for_requests(self, count: int, path: Optional[str] = None,
                          timeout: float = 10.0) -> list[RecordedRequest]:
        """Waits until at least count requests (for path) arrived; returns
        them all, however many came by the time-out."""
        deadline = time.monotonic() + timeout
        with self._lock:
            while True:
                found = [r for r in self._requests if path is None or r.path == path]
                remaining = deadline - time.monotonic()
                if len(found) >= count or remaining <= 0:
                    return found
                self._lock.wait(remaining)

    # --- internals -------------------------------------------------------

    def _track(self, sock: socket.socket) -> None:
        with self._lock:
            self._sockets.add(sock)

    def _untrack(self, sock: socket.socket) -> None:
        with self._lock:
            self._sockets.discard(sock)

    def _record(self, request: RecordedRequest) -> None:
        with self._lock:
            self._requests.append(request)
            self._lock.notify_all()
        if self.on_request:
            self.on_request(request)

    def _respond_to(self, request: RecordedRequest) -> Response:
        host = request.host
        with self._lock:
            route = self._routes.get((host, request.path)) or self._routes.get((None, request.path))
        if route:
            return _ranged(route.next(), request)
        if request.path == "/canned/file":
            return self._named_file(request.params.get("name", ""))
        canned = canned_response(request)
        if canned:
            return canned
        if self.root:
            served = self._file_response(request.path)
            if served:
                return served
        return Response(status=404, body=b"not found")

    def _file_response(self, path: str) -> Optional[Response]:
        root = os.path.realpath(self.root)
        candidate = os.path.realpath(os.path.join(root, path.lstrip("/")))
        if not (candidate == root or candidate.startswith(root + os.sep)):
            return None
        if not os.path.isfile(candidate):
            return None
        return Response(body=FileBody(candidate))

    def _named_file(self, name: str) -> Response:
        # A bare file name only: nothing above or below the folder.
        if not self.files or name in ("", ".", "..") or os.path.basename(name) != name \
                or "\\" in name:
            return Response(status=404, body=b"not found")
        path = os.path.join(self.files, name)
        if not os.path.isfile(path):
            return Response(status=404, body=b"not found")
        return Response(body=FileBody(path))

    def _open_tunnel(self, sock: socket.socket) -> Optional[socket.socket]:
        """Answers a CONNECT and speaks TLS on the connection from then on;
        None when there is no tunnel (refused, or the client dropped the
        handshake, as it does with a certificate it does not trust)."""
        if self.tls is None:
            self._send(sock, Response(status=405, body=b"no tunnel here"), "CONNECT")
            return None
        sock.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
        self._untrack(sock)
        secure = self.tls.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        self._track(secure)
        try:
            secure.do_handshake()
        except OSError:
            self._untrack(secure)
            secure.close()
            return None
        return secure

    def _wait(self, seconds: Optional[float]) -> bool:
        """Sleeps; returns False when the server stopped meanwhile."""
        return not self._stopping.wait(seconds)

    def _send(self, sock: socket.socket, response: Response, method: str, path: str = "") -> None:
        sock.settimeout(60)
        if response.delay > 0 and not self._wait(response.delay):
            return
        if response.hang:
            self._wait(response.hang_seconds)
            self._close(sock, response.reset)
            return

        length = response.announced_length()
        names = {name.lower() for name, _ in response.headers}
        lines = [response.status_line()]
        if length is not None and "content-length" not in names:
            lines.append(f"Content-Length: {length}".encode("ascii"))
        if "connection" not in names:
            lines.append(b"Connection: keep-alive" if response.keep_alive else b"Connection: close")
        for name, value in response.headers:
            lines.append(f"{name}: {value}".encode("latin-1"))
        sock.sendall(b"\r\n".join(lines) + b"\r\n\r\n")

        if method.upper() != "HEAD":
            self._send_body(sock, response, path)
        if not response.keep_alive:
            self._close(sock, response.reset)

    def _send_body(self, sock: socket.socket, response: Response, path: str = "") -> None:
        body = response.body
        limit = response.cut_after
        sent = 0
        chunk_size = max(1, response.chunk_size)
        if isinstance(body, bytes):
            pieces: Iterable[bytes] = (body[i:i + chunk_size]
                                       for i in range(0, len(body), chunk_size))
        else:
            pieces = body.chunks(chunk_size)
        for index, piece in enumerate(pieces):
            if limit is not None:
                if sent >= limit:
                    return
                piece = piece[:limit - sent]
            if index > 0 and response.chunk_delay > 0 and not self._wait(response.chunk_delay):
                return
            if response.stall_after is not None and sent + len(piece) > response.stall_after:
                piece = piece[:response.stall_after - sent]
                sock.sendall(piece)
                self._count_sent(path, len(piece))
                self._wait(response.stall_seconds)
                return
            sock.sendall(piece)
            sent += len(piece)
            self._count_sent(path, len(piece))

    def _count_sent(self, path: str, n: int) -> None:
        with self._lock:
            self._body_bytes[path] = self._body_bytes.get(path, 0) + n

    def _close(self, sock: socket.socket, reset: bool) -> None:
        if reset:
            # SO_LINGER with a zero time turns close() into a reset.
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            return
        try:
            if isinstance(sock, ssl.SSLSocket):
                sock.settimeout(2)
                sock = sock.unwrap()  # close_notify: the body ends here
            sock.shutdown(socket.SHUT_WR)
            # Let the client read to the end before the socket goes: closing
            # with unread input would reset the connection and could discard
            # data the client has not read yet.
            sock.settimeout(2)
            while sock.recv(4096):
                pass
        except OSError:
            pass


def _print_request(request: RecordedRequest) -> None:
    print(f"{request.method} {request.url}", flush=True)


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(description="Local distribution server for Kelto2 tests")
    parser.add_argument("--port", type=int, default=0, help="port on 127.0.0.1 (0: any free one)")
    parser.add_argument("--root", help="serve files under this folder by URL path")
    parser.add_argument("--files", help="serve files of this folder through /canned/file")
    parser.add_argument("--canned", action="store_true",
                        help="list the canned /canned/ routes at start (they are always served)")
    args = parser.parse_args(argv)

    server = DistServer(port=args.port, root=args.root, on_request=_print_request,
                        files=args.files)
    server.start()
    print(f"listening on 127.0.0.1:{server.port} (proxy {server.proxy_url})", flush=True)
    if args.canned:
        for line in __doc__.split("Canned routes", 1)[1].splitlines()[2:]:
            if line.strip():
                print("  " + line.strip(), flush=True)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass
    finally:
        server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
