"""Finding and ending the processes a World started.

Every process a World starts carries KIVO_WORLD=<id> in its environment, and
Wine hands the environment on to every Windows process those start in turn
(services, explorer, stand-in programs). So "everything this World started"
is exactly the set of processes whose initial environment holds the mark,
whoever their parent is now. Nothing else is ever signalled.
"""

import os
import signal
import time

MARK = "KIVO_WORLD"


def _environ(pid):
    try:
        with open(f"/proc/{pid}/environ", "rb") as f:
            return f.read()
    except OSError:
        return b""


def marked(world_id, exclude=(), var=MARK):
    """Pids of live processes that carry this world's mark (`var`=world_id)."""
    needle = f"{var}={world_id}".encode()
    out = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        pid = int(entry)
        if pid in exclude or pid == os.getpid():
            continue
        if needle in _environ(pid).split(b"\0") and not is_zombie(pid):
            out.append(pid)
    return out


def is_zombie(pid):
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            stat = f.read()
        return stat[stat.rindex(b")") + 2:stat.rindex(b")") + 3] in (b"Z", b"X")
    except (OSError, ValueError):
        return True


def alive(pid):
    return os.path.exists(f"/proc/{pid}") and not is_zombie(pid)


def exe_name(pid):
    try:
        return os.path.basename(os.readlink(f"/proc/{pid}/exe"))
    except OSError:
        return ""


def kill_marked(world_id, exclude=(), timeout=5.0, var=MARK):
    """SIGKILLs every process with the mark until none is left (or time runs
    out); returns the pids that were still alive and had to be killed."""
    killed = []
    deadline = time.monotonic() + timeout
    while True:
        pids = marked(world_id, exclude, var)
        if not pids:
            return killed
        for pid in pids:
            try:
                os.kill(pid, signal.SIGKILL)
                if pid not in killed:
                    killed.append(pid)
            except ProcessLookupError:
                pass
        if time.monotonic() > deadline:
            return killed
        time.sleep(0.05)
