"""Echo servers for the test world: a TUN device that answers ICMP echo requests.

Must run inside the test's own network namespace (it changes routes and
sysctls there). The responder creates a TUN device, gives it an address,
routes the chosen destinations (by default everything) into it, stops the
kernel from answering echo requests itself, and then answers every echo
request read from the device as configured per destination address:

    with IcmpResponder() as r:
        r.set("192.0.2.11", reply(30))                       # answer after 30 ms
        r.set("192.0.2.12", SILENT)                          # never answer
        r.set("198.51.100.21", [Action("foreign_id", 0), Action("reply", 40)])
        r.set("198.51.100.22", in_turn(20, 80))              # first request 20 ms, second 80 ms
        r.set_noise(50)                                       # 50 unrelated ICMP datagrams a second
        ...
        r.requests("192.0.2.11")                             # what arrived, for assertions

Action kinds (each sent `delay_ms` after the request arrived):
    reply          a proper echo reply
    reply_options  a proper echo reply whose IPv4 header carries options (IHL 6)
    foreign_id     an echo reply carrying another identifier
    truncated      an echo reply with the request's identifier, its ICMP part cut
                   to `length` bytes (default 8: no timestamp)
    unreachable    a destination-unreachable message quoting the request
    request        an echo request sent back to the host (a type the prober must skip)

Replies leave from a scheduler thread at their due time (time.monotonic), so a
slow answer never holds up a fast one. Standard library only.
"""

import dataclasses
import fcntl
import heapq
import ipaddress
import itertools
import os
import select
import struct
import subprocess
import threading
import time

TUNSETIFF = 0x400454CA
IFF_TUN = 0x0001
IFF_NO_PI = 0x1000

ICMP_ECHO_REPLY = 0
ICMP_UNREACHABLE = 3
ICMP_ECHO_REQUEST = 8


def internet_checksum(data: bytes) -> int:
    """RFC 1071 over big-endian words; the result is stored big-endian."""
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    total = (total >> 16) + (total & 0xFFFF)
    total += total >> 16
    return ~total & 0xFFFF


def ipv4_packet(src: str, dst: str, payload: bytes, proto: int = 1, options: bytes = b"") -> bytes:
    assert len(options) % 4 == 0
    ihl = 5 + len(options) // 4
    header = struct.pack("!BBHHHBBH4s4s", (4 << 4) | ihl, 0, ihl * 4 + len(payload), 0x4B56, 0, 64,
                         proto, 0, ipaddress.IPv4Address(src).packed, ipaddress.IPv4Address(dst).packed)
    header += options
    header = header[:10] + struct.pack("!H", internet_checksum(header)) + header[12:]
    return header + payload


def icmp_message(icmp_type: int, code: int, rest: bytes) -> bytes:
    """rest: everything after the 4-byte type/code/checksum head."""
    body = struct.pack("!BBH", icmp_type, code, 0) + rest
    return body[:2] + struct.pack("!H", internet_checksum(body)) + body[4:]


@dataclasses.dataclass(frozen=True)
class Action:
    kind: str
    delay_ms: float = 0.0
    length: int = 8  # for "truncated"


def reply(delay_ms: float = 0.0) -> list:
    return [Action("reply", delay_ms)]


SILENT: list = []


@dataclasses.dataclass(frozen=True)
class InTurn:
    """The n-th request to an address is answered after delays[n]; later ones never.
    Two probers that each send one echo at once get different delays, so each
    can only report its own reply's round trip."""
    delays: tuple


def in_turn(*delays_ms: float) -> InTurn:
    return InTurn(tuple(delays_ms))


@dataclasses.dataclass(frozen=True)
class SentReply:
    request: "EchoRequest"
    kind: str
    due: float           # when it was meant to leave (time.monotonic())
    sent: float          # when it was handed to the device

    @property
    def delay_ms(self) -> float:
        """The delay the server really gave, from the request's arrival."""
        return (self.sent - self.request.time) * 1000.0


@dataclasses.dataclass(frozen=True)
class EchoRequest:
    time: float          # time.monotonic() when it was read from the device
    src: str
    dst: str
    ip_length: int       # total length of the IPv4 datagram
    message: bytes       # the ICMP message
    checksum_ok: bool    # RFC 1071 over the message gives 0

    @property
    def type(self) -> int:
        return self.message[0]

    @property
    def code(self) -> int:
        return self.message[1]

    # The client writes identifier, sequence and timestamp least significant byte first.
    @property
    def identifier(self) -> int:
        return int.from_bytes(self.message[4:6], "little")

    @property
    def sequence(self) -> int:
        return int.from_bytes(self.message[6:8], "little")

    @property
    def timestamp(self) -> int:
        return int.from_bytes(self.message[8:12], "little")

    @property
    def data(self) -> bytes:
        return self.message[8:]


class IcmpResponder:
    def __init__(self, name: str = "kivotun0", address: str = "10.99.0.1/24",
                 routes=("default",)):
        self.name = name
        self.interface = ipaddress.IPv4Interface(address)
        self.routes = tuple(routes)
        self._fd = -1
        self._wake_r, self._wake_w = -1, -1
        self._lock = threading.Lock()
        self._cond = threading.Condition(self._lock)
        self._queue = []                     # (due, order, callable taking the due time)
        self._order = itertools.count()
        self._behaviour = {}
        self._default = SILENT
        self._turns = {}                     # dst -> requests answered in turn so far
        self._requests = []
        self._others = []                    # datagrams read that are not echo requests
        self._replies = []                   # SentReply, in the order written
        self._noise_generation = 0
        self._noise_sent = 0
        self._running = False
        self._threads = []

    @property
    def host_address(self) -> str:
        return str(self.interface.ip)

    # -- life cycle -----------------------------------------------------
    def start(self):
        self._fd = os.open("/dev/net/tun", os.O_RDWR)
        fcntl.ioctl(self._fd, TUNSETIFF, struct.pack("16sH", self.name.encode(), IFF_TUN | IFF_NO_PI))
        _sysctl("net/ipv4/icmp_echo_ignore_all", "1")
        for scope in ("all", "default"):
            _sysctl("net/ipv4/conf/%s/rp_filter" % scope, "0")
        _ip("link", "set", "lo", "up")
        _ip("addr", "add", str(self.interface), "dev", self.name)
        _ip("link", "set", self.name, "up")
        for route in self.routes:
            _ip("route", "replace", route, "dev", self.name)
        self._wake_r, self._wake_w = os.pipe()
        self._running = True
        self._threads = [threading.Thread(target=self._read_loop, name="icmp-reader", daemon=True),
                         threading.Thread(target=self._send_loop, name="icmp-sender", daemon=True)]
        for t in self._threads:
            t.start()
        return self

    def stop(self):
        if not self._running:
            return
        with self._cond:
            self._running = False
            self._cond.notify_all()
        os.write(self._wake_w, b"x")
        for t in self._threads:
            t.join(5)
        for fd in (self._fd, self._wake_r, self._wake_w):
            os.close(fd)
        self._fd = self._wake_r = self._wake_w = -1

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # -- configuration --------------------------------------------------
    def set(self, address: str, behaviour):
        """behaviour: a list of Actions (SILENT = []) or an InTurn."""
        with self._lock:
            self._behaviour[address] = behaviour
            self._turns.pop(address, None)

    def set_default(self, behaviour):
        with self._lock:
            self._default = behaviour

    def set_noise(self, per_second: float, kinds=("foreign_reply", "unreachable")):
        """Unrelated ICMP datagrams delivered to the host at a steady rate; 0 stops them."""
        with self._cond:
            self._noise_generation += 1
            if per_second > 0:
                generation = self._noise_generation
                period = 1.0 / per_second
                kinds = itertools.cycle(kinds)

                def emit(due):
                    if generation != self._noise_generation:
                        return
                    self._write(self._noise_packet(next(kinds)))
                    self._noise_sent += 1
                    self._schedule_locked(due + period, emit)

                self._schedule_locked(time.monotonic(), emit)

    @property
    def noise_sent(self) -> int:
        with self._lock:
            return self._noise_sent

    def requests(self, address: str = None) -> list:
        with self._lock:
            return [r for r in self._requests if address is None or r.dst == address]

    def replies(self, address: str = None) -> list:
        with self._lock:
            return [r for r in self._replies if address is None or r.request.dst == address]

    def others(self) -> list:
        with self._lock:
            return list(self._others)

    def clear(self):
        with self._lock:
            self._requests.clear()
            self._others.clear()
            self._replies.clear()
            self._turns.clear()

    # -- packets ---------------------------------------------------------
    def _read_loop(self):
        while self._running:
            ready, _, _ = select.select([self._fd, self._wake_r], [], [])
            if self._wake_r in ready or not self._running:
                break
            try:
                packet = os.read(self._fd, 65535)
            except OSError:
                continue
            self._handle(packet, time.monotonic())

    def _handle(self, packet: bytes, now: float):
        if len(packet) < 20 or packet[0] >> 4 != 4:
            return
        ihl = (packet[0] & 0x0F) * 4
        total = struct.unpack("!H", packet[2:4])[0]
        src = str(ipaddress.IPv4Address(packet[12:16]))
        dst = str(ipaddress.IPv4Address(packet[16:20]))
        message = packet[ihl:total]
        if packet[9] != 1 or len(message) < 8 or message[0] != ICMP_ECHO_REQUEST:
            with self._lock:
                self._others.append(packet)
            return
        request = EchoRequest(now, src, dst, total, message, internet_checksum(message) == 0)
        with self._cond:
            self._requests.append(request)
            behaviour = self._behaviour.get(dst, self._default)
            if isinstance(behaviour, InTurn):
                n = self._turns.get(dst, 0)
                self._turns[dst] = n + 1
                actions = [Action("reply", behaviour.delays[n])] if n < len(behaviour.delays) else []
            else:
                actions = behaviour
            for action in actions:
                self._schedule_locked(now + action.delay_ms / 1000.0, self._sender(request, action))

    def _sender(self, request: EchoRequest, action: Action):
        packet = self._answer(request, action)

        def send(due):
            # Taken before the write: a thread held up after it must not
            # make the server's delay look longer than the client saw it.
            leaving = time.monotonic()
            self._write(packet)
            self._replies.append(SentReply(request, action.kind, due, leaving))

        return send

    def _answer(self, request: EchoRequest, action: Action) -> bytes:
        m = request.message
        if action.kind == "reply":
            return ipv4_packet(request.dst, request.src, icmp_message(ICMP_ECHO_REPLY, 0, m[4:]))
        if action.kind == "reply_options":
            nops = bytes([1, 1, 1, 0])  # three no-operation options and the end of the list
            return ipv4_packet(request.dst, request.src, icmp_message(ICMP_ECHO_REPLY, 0, m[4:]), options=nops)
        if action.kind == "foreign_id":
            other = bytes([m[4] ^ 0x5A, m[5] ^ 0xA5])
            return ipv4_packet(request.dst, request.src, icmp_message(ICMP_ECHO_REPLY, 0, other + m[6:]))
        if action.kind == "truncated":
            whole = icmp_message(ICMP_ECHO_REPLY, 0, m[4:])
            return ipv4_packet(request.dst, request.src, whole[:max(0, action.length)])
        if action.kind == "unreachable":
            quoted = ipv4_packet(request.src, request.dst, m)[:28]
            return ipv4_packet(request.dst, request.src, icmp_message(ICMP_UNREACHABLE, 1, b"\0" * 4 + quoted))
        if action.kind == "request":
            return ipv4_packet(request.dst, request.src, icmp_message(ICMP_ECHO_REQUEST, 0, m[4:]))
        raise ValueError("unknown action %r" % action.kind)

    def _noise_packet(self, kind: str) -> bytes:
        peer = str(self.interface.network.broadcast_address - 1)
        if kind == "unreachable":
            udp = struct.pack("!HHHH", 40000, 33434, 8, 0)
            quoted = ipv4_packet(self.host_address, "192.0.2.250", udp, proto=17)
            return ipv4_packet(peer, self.host_address, icmp_message(ICMP_UNREACHABLE, 3, b"\0" * 4 + quoted))
        # An echo reply for nobody: identifiers from the top of the range, never one a request used.
        used = {r.identifier for r in self._requests}
        ident = next(i for i in range(0xFFFF, 0, -1) if i not in used)
        rest = struct.pack("<HHI", ident, self._noise_sent & 0xFFFF, 0) + bytes(28)
        return ipv4_packet(peer, self.host_address, icmp_message(ICMP_ECHO_REPLY, 0, rest))

    # -- scheduling ------------------------------------------------------
    def _schedule_locked(self, due: float, item):
        heapq.heappush(self._queue, (due, next(self._order), item))
        self._cond.notify()

    def _send_loop(self):
        with self._cond:
            while self._running:
                if not self._queue:
                    self._cond.wait()
                    continue
                due = self._queue[0][0]
                wait = due - time.monotonic()
                if wait > 0:
                    self._cond.wait(wait)
                    continue
                _, _, send = heapq.heappop(self._queue)
                send(due)

    def _write(self, packet: bytes):
        try:
            os.write(self._fd, packet)
        except OSError:
            pass  # the kernel refuses datagrams it cannot parse; the test sees them missing


def _sysctl(key: str, value: str):
    with open("/proc/sys/" + key, "w") as f:
        f.write(value)


def _ip(*args):
    subprocess.run(["ip", *args], check=True, stdout=subprocess.DEVNULL)
