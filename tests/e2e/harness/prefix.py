"""The 32-bit Wine prefix of a build tree: <build dir>/wineprefix.

Made once (wineboot -i without Mono and Gecko, crash dialogs off) under a
lock, marked complete by a stamp naming the Wine version; later calls only
check the stamp. A prefix left half-made by an interrupted run has no stamp
and is made again.

`python3 -m harness.prefix` makes it inside a sealed namespace of its own
and prints how long that took (CTest's e2e_prefix fixture runs this).
"""

import fcntl
import os
import subprocess
import sys
import tempfile
import time
import uuid

from . import procs, sandbox, wine

PREFIX_DIR = "wineprefix"
STAMP = ".kivo-prefix-ready"
# Raise when the set-up below changes, so existing prefixes are made anew.
SETUP_VERSION = "1"

# Registry settings applied once: no crash dialog that would wait for a click.
_REGISTRY = [
    ["reg", "add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD", "/d", "0", "/f"],
]


def build_dir():
    path = os.environ.get("KIVO_BUILD_DIR")
    if not path:
        raise RuntimeError("KIVO_BUILD_DIR is not set (the CMake build directory)")
    return os.path.abspath(path)


def prefix_path(build=None):
    return os.path.join(build or build_dir(), PREFIX_DIR)


def _stamp_text():
    return f"{wine.wine_version()} setup {SETUP_VERSION}\n"


def is_ready(path):
    try:
        with open(os.path.join(path, STAMP)) as f:
            return f.read() == _stamp_text()
    except OSError:
        return False


def _create(path, log):
    world_id = "prefix-" + uuid.uuid4().hex
    tmpdir = tempfile.mkdtemp(prefix="kw-")
    env = wine.wine_env(path, tmpdir, world_id)
    try:
        wine.remove_tree(path)
        log(f"creating the Wine prefix {path} ({wine.wine_version()}, win32)")
        subprocess.run(["wineboot", "-i"], env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=600)
        for command in _REGISTRY:
            subprocess.run(["wine"] + command, env=env, check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120)
        subprocess.run(["wineserver", "-w"], env=env, timeout=120)
        with open(os.path.join(path, STAMP), "w") as f:
            f.write(_stamp_text())
    finally:
        procs.kill_marked(world_id)
        wine.remove_tree(tmpdir)


def ensure(build=None, log=print):
    """Makes the prefix if needed; returns (path, seconds spent creating or None)."""
    sandbox.require_sealed("Wine")
    path = prefix_path(build)
    if is_ready(path):
        return path, None
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if is_ready(path):
            return path, None
        start = time.monotonic()
        _create(path, log)
        return path, time.monotonic() - start


def main():
    sandbox.enter()
    path, seconds = ensure()
    if seconds is None:
        print(f"Wine prefix {path} is ready")
    else:
        print(f"created the Wine prefix {path} in {seconds:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
