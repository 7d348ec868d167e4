#!/usr/bin/python3
"""Benchmark of the start-up server measurement: prints figures, asserts nothing.

For each situation the client is started a few times in a sealed world
whose six servers are echo hosts of harness.icmp_responder:
- all six answer after 20, 35, 50, 80, 120 and 160 ms: the time from the
  first echo request to the shown window, as a multiple of the slowest
  round trip (measured one after another, the servers would take the sum);
- one server silent: the window waits for its one receive timeout (goal
  about 1 s);
- one server silent and 50 unrelated ICMP datagrams a second reaching the
  host: still about 1 s.
Per start: the time from launching Wine to the window, the first pass's
length as the responder sees it (first request to the second pass's first
request), the process's CPU time (utime + stime, in clock ticks of 10 ms)
until the window showed and within the measurement itself, and its peak
resident memory (VmHWM) then. Last, the time from Exit to the end of the
process, without and during a second pass.

Runs inside its own sealed namespace, like the end-to-end tests:
    KIVO_BUILD_DIR=build /usr/bin/python3 tests/bench/measurement_bench.py [--runs 5]
"""

import argparse
import os
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))

from harness import World, endpoints, sandbox, wait_until  # noqa: E402
from harness.icmp_responder import SILENT, IcmpResponder, reply  # noqa: E402

DELAYS_MS = (20, 35, 50, 80, 120, 160)
IDCANCEL = 2
CLOCK_TICK_MS = 1000.0 / os.sysconf("SC_CLK_TCK")


def cpu_ticks(pid):
    """utime + stime of a process, in clock ticks (None once it is gone)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])
    except (OSError, IndexError, ValueError):
        return None


def peak_memory_kb(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


class Start:
    """One start of the client, until its main window shows, with the CPU
    readings taken while waiting."""

    def __init__(self, world):
        self.world = world
        d = world.driver
        self.launched = time.monotonic()
        self.app = world.start_app(locale="en_US.UTF-8", ras="en")
        pid = self.app.pid
        self.samples = []  # (time, cpu ticks)

        def sample():
            if not self.app.running():
                raise RuntimeError(f"the client ended; log: {self.app.log_path}")
            self.samples.append((time.monotonic(), cpu_ticks(pid)))

        self.hwnd = wait_until(lambda: sample() or d.find_window("Kivoline", "#32770", hidden=True), 60, 0.01)
        wait_until(lambda: sample() or d.visible(self.hwnd), 60, 0.01)
        self.shown = time.monotonic()
        self.cpu_at_shown = cpu_ticks(pid)
        self.peak_kb = peak_memory_kb(pid)

    def cpu_since(self, moment):
        """CPU ticks from the last reading before `moment` to the window."""
        before = [ticks for t, ticks in self.samples if t <= moment and ticks is not None]
        return self.cpu_at_shown - before[-1] if before else None

    def exit(self):
        pressed = time.monotonic()
        d = self.world.driver
        d.click(d.child(self.hwnd, IDCANCEL)["hwnd"])
        code = self.app.wait_exit(60)
        return code, time.monotonic() - pressed


def summary(values, unit="", scale=1.0, digits=0):
    values = [v * scale for v in values if v is not None]
    if not values:
        return "n/a"
    fmt = f"{{:.{digits}f}}"
    return (f"{fmt.format(statistics.median(values))}{unit} (min {fmt.format(min(values))},"
            f" max {fmt.format(max(values))})")


def run_situation(world, responder, servers, runs, silent=None, noise=0):
    for address, delay in zip(servers, DELAYS_MS):
        responder.set(address, SILENT if address == silent else reply(delay))
    responder.set_noise(noise)
    rows = []
    for _ in range(runs):
        responder.clear()
        start = Start(world)
        first = responder.requests()[0].time
        row = {"launch_to_window": start.shown - start.launched, "echo_to_window": start.shown - first,
               "cpu_total": start.cpu_at_shown, "cpu_pass": start.cpu_since(first), "peak_kb": start.peak_kb,
               "first_pass": None}
        if silent is not None:
            retry = wait_until(lambda: responder.requests()[len(servers):], 10)[0]
            row["first_pass"] = retry.time - first
        code, _ = start.exit()
        if code != 0:
            raise RuntimeError(f"the client ended with code {code}")
        rows.append(row)
    responder.set_noise(0)
    return rows


def print_situation(title, rows, slowest_ms=None):
    print(title)
    print(f"  launch to window:        {summary([r['launch_to_window'] for r in rows], ' ms', 1000)}")
    print(f"  first echo to window:    {summary([r['echo_to_window'] for r in rows], ' ms', 1000)}")
    if slowest_ms:
        ratios = [r["echo_to_window"] * 1000 / slowest_ms for r in rows]
        print(f"  ... / slowest round trip ({slowest_ms} ms): {summary(ratios, '', 1, 2)}"
              f"   (one after another: {sum(DELAYS_MS) / slowest_ms:.2f})")
    if any(r["first_pass"] is not None for r in rows):
        print(f"  first pass (responder):  {summary([r['first_pass'] for r in rows], ' ms', 1000)}")
    print(f"  CPU until the window:    {summary([r['cpu_total'] for r in rows], ' ms', CLOCK_TICK_MS)}")
    print(f"  CPU in the measurement:  {summary([r['cpu_pass'] for r in rows], ' ms', CLOCK_TICK_MS)}")
    print(f"  peak working set:        {summary([r['peak_kb'] for r in rows], ' kB')}")


def exit_times(world, responder, servers, runs):
    """Exit to process end: nothing running, and a second pass at its first attempt."""
    plain, during = [], []
    for _ in range(runs):
        for address, delay in zip(servers, DELAYS_MS):
            responder.set(address, reply(delay))
        plain.append(Start(world).exit()[1])
        for address in servers:
            responder.set(address, SILENT)
        responder.clear()
        start = Start(world)
        wait_until(lambda: responder.requests()[len(servers):], 10, 0.01)
        during.append(start.exit()[1])
    return plain, during


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=5, help="starts per situation")
    args = parser.parse_args()
    sandbox.enter()
    servers = endpoints.servers()
    with IcmpResponder() as responder, World() as world:
        answering = run_situation(world, responder, servers, args.runs)
        one_silent = run_situation(world, responder, servers, args.runs, silent=servers[-1])
        with_noise = run_situation(world, responder, servers, args.runs, silent=servers[-1], noise=50)
        plain, during = exit_times(world, responder, servers, max(1, args.runs // 2))

    print(f"Start-up server measurement, {args.runs} starts each (median, min, max)")
    print_situation(f"All six answering after {', '.join(map(str, DELAYS_MS))} ms:", answering, max(DELAYS_MS))
    print_situation("One server silent (goal: about 1000 ms):", one_silent)
    print_situation("One server silent, 50 unrelated ICMP datagrams a second (goal: still about 1000 ms):",
                    with_noise)
    print("Exit to the end of the process:")
    print(f"  no second pass running:  {summary(plain, ' ms', 1000)}")
    print(f"  during a second pass:    {summary(during, ' ms', 1000)}")
    print(f"CPU readings are whole clock ticks of {CLOCK_TICK_MS:.0f} ms; the process is Wine's, so the"
          " figures include Wine's own start.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
