#!/usr/bin/python3
"""Benchmark of the network performance dialog: prints figures, asserts nothing.

- The duration of a full test over the six servers, each answering after
  5 ms, against the least it can take: fifty echoes per server, each a 5 ms
  stop check plus its 5 ms round trip, one server after another (3000 ms).
  Measured twice: from the "Test Again" click to the Idle buttons (what the
  user waits), and from the first echo request to the last reply as the
  echo servers saw them (the measuring alone).
- The delay from a Stop click to the Idle buttons: while a server answering
  after 30 ms is measured (the echo in flight ends at its reply), and while
  a silent server is measured (it ends at the one-second receive time-out).

Runs inside its own sealed namespace, like the end-to-end tests:
    KIVO_BUILD_DIR=build /usr/bin/python3 tests/bench/netperf_bench.py
"""

import os
import random
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))

from harness import sandbox, wait_until  # noqa: E402

sandbox.enter()

from choice_world import CT1, IDC_STOP_TEST, IDC_TEST_AGAIN, EchoWorld  # noqa: E402
from harness.icmp_responder import reply  # noqa: E402

FULL_ROUNDS = 4
STOP_ROUNDS = 6
SILENT_STOP_ROUNDS = 4
ECHOES, STOP_CHECK_MS, DELAY_MS = 50, 5, 5
LEAST_MS = 6 * ECHOES * (STOP_CHECK_MS + DELAY_MS)


def figures(values):
    return f"min {min(values):.0f}  median {statistics.median(values):.0f}  max {max(values):.0f} ms"


class Timer:
    """Polls the "Test Again" button until it is enabled again (Idle)."""

    def __init__(self, ew, perf):
        self.d = ew.driver
        self.test_again = perf.controls[IDC_TEST_AGAIN]
        self.stop = perf.controls[IDC_STOP_TEST]

    def idle(self):
        return self.d.enabled(self.test_again)

    def wait_idle(self, timeout):
        wait_until(self.idle, timeout, interval=0.002, message="Idle")
        return time.monotonic()

    def start_test(self):
        self.d.click(self.test_again, sync=True)
        wait_until(lambda: not self.idle(), 5, interval=0.002, message="Testing")


def full_test(ew, timer):
    responder = ew.responder
    totals, spans = [], []
    for _ in range(FULL_ROUNDS):
        responder.clear()
        clicked = time.monotonic()
        timer.start_test()
        ended = timer.wait_idle(timeout=60)
        requests, replies = responder.requests(), responder.replies()
        totals.append((ended - clicked) * 1000)
        spans.append((max(r.sent for r in replies) - min(r.time for r in requests)) * 1000)
        if len(requests) != 6 * ECHOES:
            print(f"  (a full test sent {len(requests)} echo requests, not {6 * ECHOES})")
    print(f"full test, six servers at {DELAY_MS} ms (least {LEAST_MS} ms):")
    print(f"  click to Idle:             {figures(totals)}  ratio {statistics.median(totals) / LEAST_MS:.3f}")
    print(f"  first echo to last reply:  {figures(spans)}  ratio {statistics.median(spans) / LEAST_MS:.3f}")
    per_echo = statistics.median(spans) / (6 * ECHOES)
    print(f"  per echo: {per_echo:.2f} ms (stop check {STOP_CHECK_MS} ms + round trip {DELAY_MS} ms "
          f"+ {per_echo - STOP_CHECK_MS - DELAY_MS:.2f} ms overhead)")


def stop_delays(ew, timer, rounds, earliest_s, latest_s):
    delays = []
    for _ in range(rounds):
        timer.start_test()
        time.sleep(random.uniform(earliest_s, latest_s))
        clicked = time.monotonic()
        ew.driver.click(timer.stop)
        delays.append((timer.wait_idle(timeout=5) - clicked) * 1000)
    return delays


def main():
    with EchoWorld() as ew:
        ew.answer_all(DELAY_MS)
        client = ew.start_client("en_US.UTF-8")
        perf = client.open_performance()
        timer = Timer(ew, perf)
        timer.wait_idle(timeout=60)

        full_test(ew, timer)

        ew.responder.set(CT1, reply(30))
        answering = stop_delays(ew, timer, STOP_ROUNDS, 0.2, 1.5)
        print(f"Stop to Idle, the first server answering after 30 ms:  {figures(answering)}")

        ew.silence(CT1)
        silent = stop_delays(ew, timer, SILENT_STOP_ROUNDS, 1.0, 3.0)
        print(f"Stop to Idle, the first server silent (1 s time-out): {figures(silent)}")
        client.app.kill()
    return 0


if __name__ == "__main__":
    sys.exit(main())
