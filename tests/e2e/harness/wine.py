"""Wine environments and the persistent wineserver of a World.

Debian's Wine keeps the wineserver's socket under $TMPDIR (the prefix names
the directory). Each World gives its Wine processes a TMPDIR of its own, so
they can only ever talk to the wineserver that this World started inside its
sealed namespace; a wineserver of some other namespace, which would create
sockets there (Wine's sockets are made by the server), is never reached.

Every Wine program is started through the loader of the build tree's
architecture, by its path (see harness.arch): /usr/bin/wine would pick the
32-bit loader whenever wine32 is installed, even where it cannot run.
"""

import os
import shutil
import subprocess
import time

from . import arch, procs

# Debian's wineserver script, which runs the 64-bit server where there is
# one: it serves 32-bit and 64-bit programs alike.
WINESERVER = "/usr/lib/wine/wineserver"
DEFAULT_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"
# Variables that must not leak from the caller into the test world.
_DROPPED = ("LANG", "LANGUAGE", "DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "TMPDIR")


def wine_env(prefix, tmpdir, world_id, display=None, locale="en_US.UTF-8", overrides=None, extra=None):
    """The environment of a Wine process in a World."""
    env = {k: v for k, v in os.environ.items()
           if not (k.startswith("LC_") or k.startswith("WINE") or k in _DROPPED)}
    env.update({
        "WINEPREFIX": str(prefix),
        "WINEARCH": arch.current().winearch,
        "WINELOADER": loader(),
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": overrides or DEFAULT_OVERRIDES,
        "TMPDIR": str(tmpdir),
        procs.MARK: world_id,
    })
    if locale:
        env["LC_ALL"] = locale
        env["LANG"] = locale
    if display:
        env["DISPLAY"] = display
    if extra:
        for key, value in extra.items():
            if value is None:
                env.pop(key, None)
            else:
                env[key] = str(value)
    return env


def loader():
    """The Wine loader for the programs of the build tree in KIVO_BUILD_DIR."""
    return arch.current().loader


def command(*args):
    """The command line that runs a Windows program (or Wine's own tool) under Wine."""
    return [loader(), *map(str, args)]


def prefix_env(prefix_path):
    """WINEPREFIX, WINEARCH and WINELOADER for a prefix of the build tree."""
    return {"WINEPREFIX": str(prefix_path), "WINEARCH": arch.current().winearch, "WINELOADER": loader()}


def merge_overrides(*parts):
    """Joins WINEDLLOVERRIDES fragments ("a=n", "b,c=") into one value."""
    return ";".join(p for p in parts if p)


def server_dir_name(prefix):
    st = os.stat(prefix)
    return f"server-{st.st_dev:x}-{st.st_ino:x}"


def _servers_of(prefix):
    """Pids of wineservers (of any namespace) serving this prefix."""
    name = server_dir_name(prefix)
    out = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        pid = int(entry)
        if not procs.exe_name(pid).startswith("wineserver"):
            continue
        try:
            cwd = os.readlink(f"/proc/{pid}/cwd")
        except OSError:
            continue
        if os.path.basename(cwd) == name and procs.alive(pid):
            out.append(pid)
    return out


class WineServer:
    """`wineserver -p` for the length of a World, `wineserver -k` at its end."""

    def __init__(self, env):
        self.env = env
        self.pid = None

    def start(self, foreign_wait=15.0):
        prefix = self.env["WINEPREFIX"]
        # A wineserver of another test world (say the unit tests' own, which
        # ends 3 s after its last program) may still hold the prefix. Ours
        # cannot reach it, but both would write the registry: wait it out.
        deadline = time.monotonic() + foreign_wait
        while _servers_of(prefix) and time.monotonic() < deadline:
            time.sleep(0.1)
        subprocess.run([WINESERVER, "-p"], env=self.env, check=True)
        mark = self.env[procs.MARK]
        deadline = time.monotonic() + 10
        while self.pid is None and time.monotonic() < deadline:
            mine = [p for p in procs.marked(mark) if procs.exe_name(p).startswith("wineserver")]
            self.pid = mine[0] if mine else None
            if self.pid is None:
                time.sleep(0.02)
        if self.pid is None:
            raise RuntimeError("wineserver did not start")

    def stop(self, timeout=10.0):
        if self.pid is None:
            return
        subprocess.run([WINESERVER, "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=timeout)
        deadline = time.monotonic() + timeout
        while procs.alive(self.pid) and time.monotonic() < deadline:
            time.sleep(0.02)
        if procs.alive(self.pid):
            os.kill(self.pid, 9)
        self.pid = None


def wine_version():
    out = subprocess.run([loader(), "--version"], capture_output=True, text=True, check=True).stdout
    return out.strip()


def remove_tree(path):
    shutil.rmtree(path, ignore_errors=True)
