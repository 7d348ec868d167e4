#!/usr/bin/python3
"""Benchmark of the connection: prints figures, asserts nothing.

- the redial cadence after a drop: the intervals between the ten attempts'
  RasDialW calls (the double's clock), mean and worst against 3000 ms;
- the time from a hang-up to the controls being enabled again, with the RAS
  double confirming the hang-up at once;
- how long the user-interface thread stops answering: round trips of WM_NULL
  sent by the driver while the client is idle, while a dial runs, across the
  change to connected (which hides the dialog), and across a hang-up that is
  never confirmed (bounded at 3000 ms by design).

Runs the real client under Wine with the RAS double, inside its own sealed
namespace, like the end-to-end tests:
    KIVO_BUILD_DIR=build /usr/bin/python3 tests/bench/connect_bench.py
"""

import os
import statistics
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))

from harness import World, sandbox, wait_until  # noqa: E402
from harness.driver import IDCANCEL, IDOK  # noqa: E402
from harness.ras_double import RASCS_CONNECTED, RasDouble, clock_ms  # noqa: E402

IDC_USER, IDC_PASSWORD = 1001, 1002
WM_NULL = 0
REDIAL_MS = 3000
HANG_UPS = 10
# A dial through many states, 60 ms apart, then connected.
BUSY_DIAL = [(state, 60) for state in list(range(18)) + [0x1000, 0x1001, 0x1002, 0x1003]] + [(RASCS_CONNECTED, 60)]


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


class Client:
    def __init__(self, world, ras):
        self.world = world
        self.d = world.driver
        self.ras = ras
        self.app = world.start_app(locale="en_US.UTF-8", ras="en")
        self.hwnd = self.app.wait_window("Kivoline", visible=True, timeout=45)
        self.ids = {c["id"]: c["hwnd"] for c in self.d.children(self.hwnd)}
        self.d.set_text(self.ids[IDC_USER], "bench")
        self.d.set_text(self.ids[IDC_PASSWORD], "secret")

    def enabled(self):
        return self.d.enabled(self.ids[IDC_USER])

    def dial(self):
        """Connect; returns the dial's RasDialW call."""
        count = len(self.ras.calls("RasDialW"))
        self.d.command(self.hwnd, IDOK, sync=False)
        return self.ras.wait_call("RasDialW", count=count + 1)

    def close(self):
        if self.app.running() and self.enabled():
            self.d.command(self.hwnd, IDCANCEL, sync=False)
            self.app.wait_exit(15)
        self.app.kill()


class Sampler:
    """Round trips of WM_NULL sent to the dialog, back to back, with the
    (double's) time each was sent."""

    def __init__(self, driver, hwnd):
        self.driver = driver
        self.hwnd = hwnd
        self.samples = []
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join(30)

    def _run(self):
        while not self._stop.is_set():
            sent = clock_ms()
            self.driver.send(self.hwnd, WM_NULL, timeout=20000)
            self.samples.append((sent, clock_ms() - sent))

    def between(self, start, end):
        return [rtt for t, rtt in self.samples if start <= t < end]


def describe(name, rtts):
    if not rtts:
        print(f"  {name}: no samples")
        return
    print(f"  {name}: {len(rtts)} round trips, median {statistics.median(rtts):.1f} ms, "
          f"99th percentile {percentile(rtts, 0.99):.1f} ms, longest {max(rtts):.1f} ms")


def redial_cadence(client):
    ras = client.ras
    ras.reset()
    ras.configure(states=[(0, 50), (RASCS_CONNECTED, 50)], drop_after_ms=200, drop_status=6)
    first = client.dial()
    ras.configure(states=[(0, 60), (5, 60)], error_state=5, error_code=678)
    drop = wait_until(lambda: [c for c in ras.calls("RasGetConnectStatusW")
                               if c.get("handle") == first["handle"] and c.result == 6], 15)[0]
    dials = wait_until(lambda: (lambda d: d if len(d) >= 10 else None)(
        [c for c in ras.calls("RasDialW") if c.t > drop.t]), 10 * REDIAL_MS / 1000 + 10)
    box = wait_until(client.app.message_boxes, 10)[0]
    client.d.click(box["buttons"][0]["hwnd"])
    wait_until(client.enabled, 15)
    gaps = [b.t - a.t for a, b in zip(dials, dials[1:])]
    print("Redial cadence (RasDialW of each attempt, the double's clock):")
    print(f"  first attempt {dials[0].t - drop.t:.1f} ms after the drop was seen")
    print(f"  intervals: {', '.join(f'{g:.0f}' for g in gaps)} ms")
    print(f"  mean {statistics.mean(gaps):.1f} ms (target {REDIAL_MS}), worst deviation "
          f"{max(abs(g - REDIAL_MS) for g in gaps):.1f} ms")


def hang_up_to_enabled(client):
    ras = client.ras
    ras.reset()
    ras.configure(states=[(0, 30), (1, 60000)], hangup_confirm_ms=0)
    to_enabled, waits = [], []
    for _ in range(HANG_UPS):
        dial = client.dial()
        wait_until(lambda: ras.calls("notify") and ras.calls("notify")[-1].get("handle") == dial["handle"], 10)
        started = clock_ms()
        client.d.click(client.ids[IDCANCEL])
        while not client.enabled():
            pass
        to_enabled.append(clock_ms() - started)
        hangup = ras.wait_call("RasHangUpW", handle=dial["handle"])
        polls = [c for c in ras.calls("RasGetConnectStatusW") if c.get("handle") == dial["handle"] and c.t >= hangup.t]
        waits.append(polls[-1].t - hangup.t if polls else float("nan"))
    print(f"Hang-up, confirmed at once ({HANG_UPS} times):")
    print(f"  Exit pressed to controls enabled (driver polling): median {statistics.median(to_enabled):.1f} ms, "
          f"longest {max(to_enabled):.1f} ms")
    print(f"  RasHangUpW to the wait's last status poll: median {statistics.median(waits):.2f} ms, "
          f"longest {max(waits):.2f} ms")


def ui_stalls(client):
    ras = client.ras
    d = client.d
    ras.reset()
    print("User-interface thread (round trips of WM_NULL sent by the driver):")
    with Sampler(d, client.hwnd) as sampler:
        time.sleep(2)
        idle_end = clock_ms()
        ras.configure(states=BUSY_DIAL)
        dial = client.dial()
        notes = wait_until(lambda: (lambda n: n if n and n[-1]["state"] == RASCS_CONNECTED else None)(
            [c for c in ras.calls("notify") if c.get("handle") == dial["handle"]]), 30)
        wait_until(lambda: not d.visible(client.hwnd), 15)
        time.sleep(1)
        connected_end = clock_ms()
    describe("idle", sampler.between(0, idle_end))
    describe(f"dialling ({len(notes) - 1} states, 60 ms apart)", sampler.between(dial.t, notes[-1].t))
    describe("from connected to hidden and after", sampler.between(notes[-1].t, connected_end))

    # Hang up (the dialog is hidden: Exit through the tray's command) and
    # dial once more with a hang-up that never comes.
    d.command(client.hwnd, IDCANCEL, sync=False)
    wait_until(client.enabled, 15)
    ras.configure(states=[(0, 30), (1, 60000)], hangup_confirm_ms=-1)
    dial = client.dial()
    time.sleep(0.5)
    with Sampler(d, client.hwnd) as sampler:
        time.sleep(0.5)
        d.command(client.hwnd, IDCANCEL, sync=False)
        wait_until(client.enabled, 15)
        time.sleep(0.5)
    hangup = ras.wait_call("RasHangUpW", handle=dial["handle"])
    describe("across a hang-up that is never confirmed", sampler.between(hangup.t - 500, clock_ms()))


def main():
    build = os.environ.get("KIVO_BUILD_DIR")
    if not build:
        sys.exit("KIVO_BUILD_DIR is required")
    sandbox.enter()
    with World(build_dir=build, name="connect_bench") as world:
        ras = RasDouble(os.path.join(world.run_dir, "ras"))
        ras.reset()
        client = Client(world, ras)
        try:
            hang_up_to_enabled(client)
            ui_stalls(client)
            redial_cadence(client)
        finally:
            client.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
