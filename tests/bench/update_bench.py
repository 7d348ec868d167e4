#!/usr/bin/python3
"""Benchmark of the self-update: prints figures, asserts nothing.

- what the version check adds to start-up, with the update host answering at
  once, refusing, silent, or not resolvable (kivo_update_tool's own clock, and
  the client's time to its main window);
- download throughput and the peak memory of the downloading process for
  updaters of 5 and 50 MB (memory must not grow with the size).

Runs inside its own sealed namespace, like the end-to-end tests:
    KIVO_BUILD_DIR=build /usr/bin/python3 tests/bench/update_bench.py
"""

import os
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))

from harness import arch, procs, sandbox, wine  # noqa: E402
from harness.update_host import UpdateHost  # noqa: E402
from update_world import UPDATE_HOST, UPDATER_PATH, VERSION_PATH, UpdateWorld, _cmdline  # noqa: E402

MB = 1024 * 1024
ROUNDS = 3


def median(values):
    values = sorted(values)
    return values[len(values) // 2]


def peak_rss_kb(world, exe, stop):
    """Largest VmHWM seen for processes of the world running `exe`."""
    peak = [0]

    def watch():
        while not stop.is_set():
            for pid in procs.marked(world.world_id):
                if exe.encode() in _cmdline(pid):
                    try:
                        with open(f"/proc/{pid}/status") as f:
                            for line in f:
                                if line.startswith("VmHWM:"):
                                    peak[0] = max(peak[0], int(line.split()[1]))
                    except OSError:
                        pass
            time.sleep(0.01)

    t = threading.Thread(target=watch, daemon=True)
    t.start()
    return peak, t


def body_of(size):
    block = bytes(range(256)) * 256   # 64 KiB

    def chunks():
        left = size
        while left > 0:
            piece = block[:min(left, len(block))]
            left -= len(piece)
            yield piece
    return chunks


def check_times(world):
    print("Version check (kivo_update_tool check, median of %d, ms):" % ROUNDS)
    host = world.host
    cases = []

    def answering():
        host.silent = False
        host.serve(VERSION_PATH, b"3.0.7")

    def silent():
        host.silent = True

    cases = [("skipped (even ending 3.0.8)", answering, "3.0.8"),
             ("host answers at once", answering, "3.0.7"),
             ("host silent", silent, "3.0.7")]
    for name, prepare, version in cases:
        prepare()
        times = [world.tool("check", version)[0]["ms"] for _ in range(ROUNDS)]
        print(f"  {name:32s} {median(times):6d}")
    host.silent = False
    host.stop()
    times = [world.tool("check", "3.0.7")[0]["ms"] for _ in range(ROUNDS)]
    print(f"  {'host refuses':32s} {median(times):6d}")
    sandbox.unmap_hosts()
    times = [world.tool("check", "3.0.7")[0]["ms"] for _ in range(ROUNDS)]
    print(f"  {'name does not resolve':32s} {median(times):6d}")
    sandbox.map_host(UPDATE_HOST, "127.0.0.1")
    world.host = UpdateHost().start()


def client_times(world):
    exe = "KivoVpn.exe"
    try:
        world.built(exe)
    except FileNotFoundError:
        print("Client start-up: KivoVpn.exe not built, skipped")
        return
    print("Client start-up to its main window (seconds):")

    def run():
        d = world.run_dir(exe)
        p = world.start(exe, d)
        try:
            outcome, seconds = world.wait_window_or_exit(p, 60)
        finally:
            world.stop(p, exe)
        return f"{seconds:6.2f}" if outcome == "window" else f"{outcome} after {seconds:.2f}"

    world.host.serve(VERSION_PATH, b"3.0.7")
    print(f"  {'host answers at once':32s} {run()}")
    world.host.silent = True
    print(f"  {'host silent':32s} {run()}")
    world.host.silent = False
    world.host.stop()
    print(f"  {'host refuses':32s} {run()}")
    world.host = UpdateHost().start()


def downloads(world):
    print("Updater download (kivo_update_tool download):")
    exe = "kivo_update_tool.exe"
    for size in (5 * MB, 50 * MB):
        world.host.serve(UPDATER_PATH, body_of(size), body_length=size)
        stop = threading.Event()
        peak, watcher = peak_rss_kb(world, exe, stop)
        start = time.monotonic()
        result, run_dir = world.tool("download")
        wall = time.monotonic() - start
        stop.set()
        watcher.join()
        written = os.path.getsize(os.path.join(run_dir, "KivoUpdate.exe"))
        os.remove(os.path.join(run_dir, "KivoUpdate.exe"))
        rate = size / MB / (result["ms"] / 1000.0) if result["ms"] else float("inf")
        print(f"  {size // MB:3d} MB: result {result['result']}, written {written} bytes, "
              f"{result['ms']} ms in the tool ({rate:.1f} MB/s), {wall:.2f} s with Wine start, "
              f"peak resident {peak[0] / 1024:.1f} MB")


def main():
    with UpdateWorld() as world:
        print(f"Wine: {wine.wine_version()} ({arch.current().name})")
        check_times(world)
        client_times(world)
        downloads(world)


if __name__ == "__main__":
    main()
