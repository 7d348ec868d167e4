"""Runs one command with a private X display, for test programs that create
windows (the unit tests):

    python3 -m harness.xrun -- command [args...]

The display is a fresh Xvfb that ends with the command. The caller is
already sealed (scripts/test.sh runs CTest inside a sealed namespace).
"""

import os
import subprocess
import sys

from . import sandbox
from .xserver import Xvfb


def main(argv=None):
    argv = list(sys.argv[1:] if argv is None else argv)
    if argv[:1] == ["--"]:
        argv = argv[1:]
    if not argv:
        print("usage: python3 -m harness.xrun -- command [args...]", file=sys.stderr)
        return 2
    sandbox.require_sealed("a test program under Wine")
    xvfb = Xvfb()
    xvfb.start()
    try:
        env = dict(os.environ, DISPLAY=xvfb.display, WINEDEBUG="-all")
        return subprocess.run(argv, env=env, stdin=subprocess.DEVNULL).returncode
    finally:
        xvfb.stop()


if __name__ == "__main__":
    sys.exit(main())
