"""Last line of defence against left-behind processes.

A World starts `python3 -m harness.reaper <parent pid> <world id> [dir]` in
a session of its own. When the World's process ends in any way, even by
SIGKILL, the reaper wakes up, kills every process carrying the World's mark
(harness.procs), removes the World's private temporary directory `dir`, and
exits. When the World closes normally it has
already ended everything, and the reaper finds nothing to do.
"""

import os
import select
import shutil
import signal
import sys

from . import procs


class _Wake(Exception):
    pass


def _wake(*_):
    raise _Wake()


def main(argv):
    parent, world_id = int(argv[0]), argv[1]
    private_dir = argv[2] if len(argv) > 2 else None
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # a terminal's Ctrl-C is the World's business
    signal.signal(signal.SIGTERM, _wake)  # the World is closing: sweep now
    try:
        fd = os.pidfd_open(parent)
        select.select([fd], [], [])
    except (ProcessLookupError, _Wake):
        pass
    signal.signal(signal.SIGTERM, signal.SIG_IGN)
    procs.kill_marked(world_id)
    if private_dir and os.path.basename(private_dir).startswith("kw-"):
        shutil.rmtree(private_dir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
