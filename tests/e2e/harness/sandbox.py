"""The sealed test world: a private network and mount namespace.

enter() moves the calling process (and everything it starts afterwards) into
a network namespace of its own, where only loopback exists, and a private
mount namespace in which /etc/hosts, /etc/resolv.conf and /etc/nsswitch.conf
are private copies. Nothing started after enter() can reach any address
outside this machine; the service's own addresses and host names lead only
to what the test itself sets up in here (TUN devices, local servers).

A process may call enter() once; later calls return at once. Helpers that
start the client refuse to run unless is_sealed() holds.
"""

import atexit
import ctypes
import ctypes.util
import fcntl
import os
import socket
import struct
import subprocess
import tempfile

CLONE_NEWNS = 0x00020000
CLONE_NEWNET = 0x40000000
MS_BIND = 0x1000
MS_REC = 0x4000
MS_PRIVATE = 1 << 18
MNT_DETACH = 2
IFF_UP = 0x1
SIOCGIFFLAGS = 0x8913

# Set in the environment of everything started after enter(): the inode of
# the sealed network namespace, so that child processes can check that they
# still run inside it.
ENV_MARK = "KIVO_SEALED_NETNS"

HOSTS = "127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n"
# No name server: every lookup that /etc/hosts cannot answer fails at once.
RESOLV = "# sealed test namespace: no name server\noptions timeout:1 attempts:1\n"
NSSWITCH = "passwd: files\ngroup: files\nshadow: files\nhosts: files dns\nnetworks: files\n"


class SandboxError(RuntimeError):
    pass


class _State:
    entered = False
    private_dir = None
    hosts_path = None
    owner_pid = None


_libc = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6", use_errno=True)


def _check(result, what):
    if result != 0:
        err = ctypes.get_errno()
        raise SandboxError(f"{what} failed: {os.strerror(err)}")


def _mount(source, target, fstype, flags, data=None):
    _check(_libc.mount(source and source.encode(), target.encode(), fstype and fstype.encode(),
                       ctypes.c_ulong(flags), data and data.encode()), f"mount {target}")


def netns_inode(pid="self"):
    return os.stat(f"/proc/{pid}/ns/net").st_ino


def _interface_names():
    # /proc/self/net follows the caller's network namespace (a /sys mounted
    # before unshare would still show the old one).
    with open("/proc/self/net/dev") as f:
        lines = f.read().splitlines()[2:]
    return sorted(line.split(":", 1)[0].strip() for line in lines if ":" in line)


def _is_up(sock, name):
    request = struct.pack("16sH14x", name.encode()[:15], 0)
    flags = struct.unpack("16sH14x", fcntl.ioctl(sock.fileno(), SIOCGIFFLAGS, request))[1]
    return bool(flags & IFF_UP)


def interfaces():
    """Every network interface of the current namespace: name -> (is_up, kind),
    kind being "loopback", "tun" or "other"."""
    names = _interface_names()
    sys_current = sorted(os.listdir("/sys/class/net")) == names
    out = {}
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
        for name in names:
            if name == "lo":
                kind = "loopback"
            elif sys_current and os.path.exists(f"/sys/class/net/{name}/tun_flags"):
                kind = "tun"
            else:
                kind = "other"
            try:
                out[name] = (_is_up(sock, name), kind)
            except OSError:
                continue
    return out


def leaks():
    """Interfaces that could carry traffic off this machine: anything up that
    is neither loopback nor a TUN device (whose only peer is a process here)."""
    return [name for name, (up, kind) in interfaces().items() if up and kind == "other"]


def is_sealed():
    """True inside a namespace made by enter() (in this process or an
    ancestor) that still has no way out."""
    mark = os.environ.get(ENV_MARK)
    if mark is None or mark != str(netns_inode()):
        return False
    return not leaks()


def require_sealed(what="this"):
    if not is_sealed():
        raise SandboxError(f"refusing to run {what} outside a sealed namespace: call harness.sandbox.enter() first"
                           f" (interfaces: {interfaces()})")


def _bind_private(content, target):
    """Bind-mounts a private file with `content` over `target`."""
    path = os.path.join(_State.private_dir, os.path.basename(target))
    with open(path, "w") as f:
        f.write(content)
    real = os.path.realpath(target)
    if not os.path.exists(real):
        raise SandboxError(f"{target} does not exist; cannot make a private copy")
    _mount(path, real, None, MS_BIND)
    return path


def enter():
    """Enters a fresh sealed network and mount namespace (once per process)."""
    if _State.entered:
        return
    if os.geteuid() != 0:
        raise SandboxError("the sealed namespace needs root")
    _check(_libc.unshare(CLONE_NEWNET | CLONE_NEWNS), "unshare(CLONE_NEWNET|CLONE_NEWNS)")
    # Mounts made from here on stay inside this namespace.
    _mount(None, "/", None, MS_REC | MS_PRIVATE)
    # A sysfs of the new namespace, so that /sys/class/net shows its devices.
    _mount("sysfs", "/sys", "sysfs", 0)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    _State.private_dir = tempfile.mkdtemp(prefix="kivo-sandbox-")
    _State.owner_pid = os.getpid()
    # A tmpfs of our own holds the private files; it vanishes with the namespace.
    _mount("tmpfs", _State.private_dir, "tmpfs", 0, "size=1m,mode=0755")
    _State.hosts_path = _bind_private(HOSTS, "/etc/hosts")
    _bind_private(RESOLV, "/etc/resolv.conf")
    _bind_private(NSSWITCH, "/etc/nsswitch.conf")
    bad = leaks()
    if bad:
        raise SandboxError(f"interfaces other than loopback are up inside the sandbox: {bad}")
    os.environ[ENV_MARK] = str(netns_inode())
    _State.entered = True
    atexit.register(_remove_private_dir)


def _remove_private_dir():
    # The tmpfs lives only in this namespace; outside it the directory is
    # empty and can go.
    if os.getpid() != _State.owner_pid:
        return
    _libc.umount2(_State.private_dir.encode(), MNT_DETACH)
    try:
        os.rmdir(_State.private_dir)
    except OSError:
        pass


def map_host(name, address):
    """Makes `name` resolve to `address` inside the sandbox (private /etc/hosts)."""
    if not _State.entered:
        raise SandboxError("map_host needs the sandbox of this process: call sandbox.enter() first")
    if not name or any(c.isspace() for c in name) or any(c.isspace() for c in address):
        raise ValueError(f"bad host mapping {name!r} -> {address!r}")
    with open(_State.hosts_path, "a") as f:
        f.write(f"{address}\t{name}\n")


def unmap_hosts():
    """Restores the private /etc/hosts to localhost only."""
    if not _State.entered:
        raise SandboxError("unmap_hosts needs the sandbox of this process")
    with open(_State.hosts_path, "w") as f:
        f.write(HOSTS)
