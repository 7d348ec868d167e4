"""Runs one command inside a sealed namespace and leaves nothing behind.

    python3 -m harness.sealed [--build DIR] -- command [args...]

The command (scripts/test.sh runs ctest this way) starts inside a fresh
sandbox (harness.sandbox): no interface but loopback, private hosts and
resolver files. Its Wine programs get a TMPDIR of their own, so they can
only talk to wineservers started in here; with --build they use the build
tree's prefix, made first if needed. When the command ends, every
process it left behind is killed. The exit status is the command's.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import uuid

from . import prefix, procs, sandbox, wine

RUN_MARK = "KIVO_SEALED_RUN"


def _end_wine(env):
    """Ends the wineserver the command's own Wine programs used (it lingers
    for a few seconds after its last program), so that it saves the registry
    and takes Wine's service processes with it."""
    if "WINEPREFIX" not in env:
        return
    try:
        subprocess.run([wine.WINESERVER, "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=15)
        subprocess.run([wine.WINESERVER, "-w"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=15)
    except (OSError, subprocess.TimeoutExpired):
        pass


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m harness.sealed")
    parser.add_argument("--build", help="build tree whose Wine prefix the command uses")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args(argv)
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command given")

    sandbox.enter()
    run_id = uuid.uuid4().hex
    tmpdir = tempfile.mkdtemp(prefix="kivo-sealed-")
    env = dict(os.environ, TMPDIR=tmpdir, WINEDEBUG="-all", **{RUN_MARK: run_id})
    if args.build:
        build = os.path.abspath(args.build)
        env["KIVO_BUILD_DIR"] = build
        os.environ["KIVO_BUILD_DIR"] = build
        path, seconds = prefix.ensure(build)  # the unit tests and tools use the "en" fonts
        if seconds is not None:
            print(f"sealed: created the Wine prefix in {seconds:.1f} s", flush=True)
        env.update(wine.prefix_env(path))

    child = subprocess.Popen(command, env=env)
    forward = lambda signum, frame: child.send_signal(signum)  # noqa: E731
    old = {s: signal.signal(s, forward) for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)}
    try:
        status = child.wait()
    finally:
        for s, handler in old.items():
            signal.signal(s, handler)
        _end_wine(env)
        names = {p: procs.exe_name(p) for p in procs.marked(run_id, var=RUN_MARK)}
        left = procs.kill_marked(run_id, var=RUN_MARK)
        if left:
            print(f"sealed: killed {len(left)} process(es) left behind: "
                  f"{sorted(names.get(p) or str(p) for p in left)}", file=sys.stderr)
        shutil.rmtree(tmpdir, ignore_errors=True)
    return status if status >= 0 else 128 - status


if __name__ == "__main__":
    sys.exit(main())
