"""The service's update host, for tests: a small HTTP/1.1 server.

Run it only inside a test namespace (harness.sandbox.enter()): it binds port
80 on 127.0.0.1 there, and the harness maps the update host name to it.

Each test says per path what the host answers:

    with UpdateHost() as host:
        host.serve("/Velmar/lastver.html", b"3.0.8")
        host.serve("/Velmar/KivoUpdate.exe", data, content_length=len(data) - 1)
        host.serve("/x", b"abc", status=404)
        host.serve("/y", big, content_length=len(big), stop_after=1000)   # closes half-way
        host.serve("/z", silent=True)          # accepts, reads nothing, never answers
        host.serve("/d", b"3.0.8", drip_head=3.0)   # the head one byte every 3 s
        host.silent = True                     # every connection: accepted, never answered
        ...
        host.requests      # [Request(method, path, version, headers, raw)] in arrival order

content_length: "auto" (the body's length, the default), None (no header)
or any int or str (sent as given). Unknown paths get a 404 with an empty body.
Every answer closes its connection.
"""

import socket
import threading
import time
from dataclasses import dataclass, field

__all__ = ["UpdateHost", "Request", "Route"]

_REASONS = {200: "OK", 301: "Moved Permanently", 403: "Forbidden", 404: "Not Found",
            500: "Internal Server Error", 503: "Service Unavailable"}
_MAX_HEAD = 64 * 1024
_CHUNK = 64 * 1024


@dataclass
class Request:
    method: str
    path: str
    version: str
    headers: list          # [(name, value)] in the order sent
    raw: bytes
    time: float = 0.0

    def header(self, name):
        """The values of a header (case-insensitive name), in order."""
        return [v for k, v in self.headers if k.lower() == name.lower()]


@dataclass
class Route:
    body: object = b""              # bytes, or a callable returning an iterable of bytes chunks
    status: int = 200
    content_length: object = "auto"
    stop_after: int = None          # close after this many body bytes
    silent: bool = False
    delay: float = 0.0              # seconds before the answer
    headers: list = field(default_factory=list)
    body_length: int = None         # length of a callable body, for "auto"
    drip_head: float = 0.0          # seconds between two bytes of the head


class UpdateHost:
    def __init__(self, address="127.0.0.1", port=80):
        self.address = address
        self.port = port
        self.silent = False
        self.requests = []
        self._routes = {}
        self._lock = threading.Lock()
        self._arrived = threading.Condition(self._lock)
        self._held = []                     # silent connections, closed on stop
        self._threads = []
        self._listener = None
        self._stopping = threading.Event()

    # -- configuration ----------------------------------------------------
    def serve(self, path, body=b"", status=200, content_length="auto", stop_after=None,
              silent=False, delay=0.0, headers=(), body_length=None, drip_head=0.0):
        with self._lock:
            self._routes[path] = Route(body, status, content_length, stop_after, silent, delay,
                                       list(headers), body_length, drip_head)

    def remove(self, path):
        with self._lock:
            self._routes.pop(path, None)

    def clear(self):
        with self._lock:
            self._routes.clear()
            self.requests.clear()

    # -- life -------------------------------------------------------------
    def start(self):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind((self.address, self.port))
        s.listen(64)
        s.settimeout(0.2)
        self._listener = s
        t = threading.Thread(target=self._accept_loop, name="update-host", daemon=True)
        t.start()
        self._threads.append(t)
        return self

    def stop(self):
        self._stopping.set()
        if self._listener is not None:
            self._listener.close()
            self._listener = None
        with self._lock:
            held, self._held = self._held, []
        for c in held:
            try:
                c.close()
            except OSError:
                pass
        for t in list(self._threads):
            t.join(timeout=5)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def wait_requests(self, count, timeout=10.0):
        """Waits until `count` requests arrived; returns the list."""
        deadline = time.monotonic() + timeout
        with self._arrived:
            while len(self.requests) < count:
                left = deadline - time.monotonic()
                if left <= 0:
                    break
                self._arrived.wait(left)
            return list(self.requests)

    def requests_for(self, path):
        with self._lock:
            return [r for r in self.requests if r.path == path]

    # -- serving ----------------------------------------------------------
    def _accept_loop(self):
        while not self._stopping.is_set():
            try:
                conn, _ = self._listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            if self.silent:
                with self._lock:
                    self._held.append(conn)
                continue
            t = threading.Thread(target=self._handle, args=(conn,), daemon=True)
            t.start()
            self._threads = [x for x in self._threads if x.is_alive()] + [t]

    def _read_head(self, conn):
        data = b""
        conn.settimeout(10)
        while b"\r\n\r\n" not in data:
            if len(data) > _MAX_HEAD:
                return None
            chunk = conn.recv(4096)
            if not chunk:
                return None
            data += chunk
        return data[:data.index(b"\r\n\r\n") + 4]

    def _handle(self, conn):
        try:
            head = self._read_head(conn)
            if head is None:
                return
            lines = head.decode("latin-1").split("\r\n")
            parts = lines[0].split(" ")
            if len(parts) != 3:
                return
            method, target, version = parts
            headers = []
            for line in lines[1:]:
                if not line:
                    continue
                name, _, value = line.partition(":")
                headers.append((name.strip(), value.strip()))
            path = target
            if path.startswith("http://"):          # absolute form, as through a proxy
                path = "/" + path.split("/", 3)[3] if path.count("/") >= 3 else "/"
            with self._arrived:
                self.requests.append(Request(method, path, version, headers, head, time.monotonic()))
                self._arrived.notify_all()
                route = self._routes.get(path)
            if route is None:
                route = Route(b"", 404)
            if route.silent:
                with self._lock:
                    self._held.append(conn)
                conn = None
                return
            if route.delay:
                self._stopping.wait(route.delay)
            self._answer(conn, method, route)
        except OSError:
            pass
        finally:
            if conn is not None:
                try:
                    conn.close()
                except OSError:
                    pass

    def _answer(self, conn, method, route):
        body = route.body
        chunks = body() if callable(body) else [body]
        if route.content_length == "auto":
            length = route.body_length if callable(body) else len(body)
            length_header = None if length is None else str(length)
        elif route.content_length is None:
            length_header = None
        else:
            length_header = str(route.content_length)
        reason = _REASONS.get(route.status, "Status")
        out = [f"HTTP/1.1 {route.status} {reason}", "Content-Type: application/octet-stream",
               "Connection: close"]
        if length_header is not None:
            out.append(f"Content-Length: {length_header}")
        out += [f"{k}: {v}" for k, v in route.headers]
        head = ("\r\n".join(out) + "\r\n\r\n").encode("latin-1")
        if route.drip_head:
            for i in range(len(head)):
                conn.sendall(head[i:i + 1])
                if self._stopping.wait(route.drip_head):
                    return
        else:
            conn.sendall(head)
        if method == "HEAD":
            return
        left = route.stop_after
        for chunk in chunks:
            for i in range(0, len(chunk), _CHUNK):
                piece = chunk[i:i + _CHUNK]
                if left is not None:
                    piece = piece[:left]
                    left -= len(piece)
                if piece:
                    conn.sendall(piece)
                if left == 0:
                    # Half-way: the connection ends before the body does.
                    conn.shutdown(socket.SHUT_WR)
                    return
        conn.shutdown(socket.SHUT_WR)
