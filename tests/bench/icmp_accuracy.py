#!/usr/bin/python3
"""Benchmark of the ICMP prober's accuracy: prints figures, asserts nothing.

For a few server delays, the same test host (harness.icmp_responder on a TUN
device) is measured three ways:
- iputils `ping` (kernel time stamps): the reference;
- CIcmpPinger::Measure over the raw socket (kivo_probe.exe under Wine);
- CIcmpPinger::Measure through the system's echo service (raw socket refused);
and single Pings over the raw socket, whose spread shows what one start-up
measurement can be off by. Differences are prober minus reference, in ms.
The responder's own lateness (when it really wrote each reply) is shown too.

Runs inside its own sealed namespace, like the end-to-end tests:
    KIVO_BUILD_DIR=build /usr/bin/python3 tests/bench/icmp_accuracy.py
"""

import json
import os
import re
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))

from harness import World, endpoints, sandbox  # noqa: E402
from harness.icmp_responder import IcmpResponder, reply  # noqa: E402

DELAYS_MS = (1, 5, 30, 120)
ECHOES = 50
SINGLE_PINGS = 10


def probe(world, *args):
    app = world.start_program(os.path.join(world.build_dir, "tests", "e2e", "tools", "kivo_probe.exe"),
                              args=list(args))
    app.wait_exit(180)
    lines = [line for line in app.log().splitlines() if line.startswith('{"op"')]
    if len(lines) != 1:
        raise RuntimeError(f"kivo_probe printed no result: {app.log()}")
    return json.loads(lines[0])["results"][0]


def iputils_average(host, delay_ms):
    interval = max(0.005, delay_ms / 1000.0 + 0.005)
    out = subprocess.run(["ping", "-n", "-q", "-c", str(ECHOES), "-i", f"{interval:.3f}", "-W", "1", host],
                         capture_output=True, text=True, check=True).stdout
    match = re.search(r"= ([\d.]+)/([\d.]+)/([\d.]+)/", out)
    if not match:
        raise RuntimeError(f"unexpected ping output: {out}")
    return float(match.group(2))


def main():
    sandbox.enter()
    host = endpoints.servers()[0]
    rows = []
    with IcmpResponder() as responder, World() as world:
        for delay in DELAYS_MS:
            responder.set(host, reply(delay))
            responder.clear()
            reference = iputils_average(host, delay)
            served = statistics.mean(r.delay_ms for r in responder.replies(host))
            raw = probe(world, "measure", host)
            service = probe(world, "measure", host, "--refuse-raw")
            singles = [probe(world, "ping", host)["rtt"] for _ in range(SINGLE_PINGS)]
            rows.append((delay, served, reference, raw["average"], raw["percent"], service["average"],
                         service["percent"], singles))

    print(f"ICMP prober accuracy, {ECHOES} echoes per Measure, {SINGLE_PINGS} single Pings per delay")
    print(f"{'delay':>6} {'served':>7} {'ping':>8} {'raw':>8} {'diff':>6} {'service':>8} {'diff':>6}"
          f" {'Ping min/med/max':>18} {'diff med':>8}")
    for delay, served, reference, raw, raw_pct, service, service_pct, singles in rows:
        med = statistics.median(singles)
        print(f"{delay:>4}ms {served:>7.2f} {reference:>8.3f} {raw:>8.2f} {raw - reference:>+6.2f}"
              f" {service:>8.2f} {service - reference:>+6.2f} {min(singles):>6}/{med:>5}/{max(singles):>5}"
              f" {med - reference:>+8.2f}" + ("" if raw_pct == service_pct == 100 else
                                             f"  (answered {raw_pct}% / {service_pct}%)"))
    print("served: the responder's real delay during the reference run (ms); diff: prober minus ping (ms).")
    return 0


if __name__ == "__main__":
    sys.exit(main())
