#!/usr/bin/python3
"""End-to-end: the ICMP echo prober against echo servers of the test world.

kivo_probe.exe runs CIcmpPinger's operations (Ping, PingWithRetries, Measure,
Stop from another thread, two probers at once) under Wine; the catalogue's
addresses lead into a TUN device of this script's own namespace, where
harness.icmp_responder answers as each test configures it. Every check runs
twice: over the raw socket, and with the raw socket refused, through the
system's echo service, which must give the same results.
"""

import json
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import World, endpoints, sandbox  # noqa: E402
from harness.icmp_responder import SILENT, Action, IcmpResponder, in_turn, reply  # noqa: E402

sandbox.enter()

BUILD = os.environ["KIVO_BUILD_DIR"]
PROBE = os.path.join(BUILD, "tests", "e2e", "tools", "kivo_probe.exe")
CT1, CT2, CNC1, CNC2, OTHER1, OTHER2 = endpoints.servers(BUILD)

# A round trip may read 1 ms short (both ends of it are whole milliseconds)
# and runs late by what Wine and the responder's thread add.
EARLY_MS, LATE_MS = 1, 6
ATTEMPTS = 3
# A receive gives up 1000 ms after its send.
TIMEOUT_MS = 1000

WORLD = None
RESPONDER = None


def setUpModule():
    global WORLD, RESPONDER
    RESPONDER = IcmpResponder().start()
    WORLD = World().__enter__()


def tearDownModule():
    if WORLD:
        WORLD.__exit__(None, None, None)
    if RESPONDER:
        RESPONDER.stop()


class ProberChecks:
    """The checks, run once per way of measuring (see the two classes below)."""

    refuse_raw = False

    def setUp(self):
        RESPONDER.set_default(SILENT)
        RESPONDER.set_noise(0)
        for address in (CT1, CT2, CNC1, CNC2, OTHER1, OTHER2):
            RESPONDER.set(address, SILENT)
        RESPONDER.clear()

    def probe(self, op, host, *options, timeout=120):
        args = [op, host, *options] + (["--refuse-raw"] if self.refuse_raw else [])
        app = WORLD.start_program(PROBE, args=args)
        code = app.wait_exit(timeout)
        lines = [line for line in app.log().splitlines() if line.startswith('{"op"')]
        self.assertEqual(code, 0, app.log())
        self.assertEqual(len(lines), 1, app.log())
        out = json.loads(lines[0])
        for result in out["results"]:
            if result["identifier"]:
                self.assertEqual(result["raw"], not self.refuse_raw, "the way of measuring")
        return out["results"]

    def timely(self, run):
        """Runs `run`, which makes its own checks and returns the round trips
        it measured as [(measured, configured delay)], until all of them are
        within LATE_MS of their delay, ATTEMPTS times at most: other programs
        on this machine can hold up Wine or the responder now and then. A
        round trip shorter than its delay fails at once."""
        late = []
        for _ in range(ATTEMPTS):
            RESPONDER.clear()
            pairs = run()
            for measured, delay in pairs:
                self.assertGreaterEqual(measured, delay - EARLY_MS, f"shorter than the server's delay: {pairs}")
            late = [(measured, delay) for measured, delay in pairs if measured > delay + LATE_MS]
            if not late:
                return
        self.fail(f"round trips late in all {ATTEMPTS} attempts: {late}")

    def ping_answered(self, host):
        [result] = self.probe("ping", host)
        self.assertTrue(result["ok"], result)
        return result

    def assertOwnRequests(self, requests, result, count):
        """`count` echo requests of 40 bytes, valid checksum, from this prober."""
        self.assertEqual(len(requests), count, requests)
        for r in requests:
            self.assertEqual((r.type, r.code, len(r.message), r.checksum_ok), (8, 0, 40, True))
            self.assertEqual(r.data[4:], bytes(28))
            if not self.refuse_raw:
                # The system's echo service writes its own identifier and sequence.
                self.assertEqual(r.identifier, result["thread_id"] & 0xFFFF)
        if not self.refuse_raw:
            sequences = [r.sequence for r in requests]
            self.assertEqual(sequences, [(sequences[0] + i) & 0xFFFF for i in range(count)])

    # -- round trips -------------------------------------------------------
    def test_round_trip_follows_the_servers_delay(self):
        for delay in (5, 30, 120):
            with self.subTest(delay=delay):
                RESPONDER.set(CT1, reply(delay))

                def run():
                    result = self.ping_answered(CT1)
                    self.assertOwnRequests(RESPONDER.requests(CT1), result, 1)
                    return [(result["rtt"], delay)]

                self.timely(run)

    def test_silent_server_fails_after_one_second(self):
        [result] = self.probe("ping", CT2)
        self.assertFalse(result["ok"])
        self.assertGreaterEqual(result["elapsed_ms"], TIMEOUT_MS - 20)
        self.assertLess(result["elapsed_ms"], TIMEOUT_MS + 300)
        self.assertOwnRequests(RESPONDER.requests(CT2), result, 1)

    def test_retries_make_five_attempts(self):
        [result] = self.probe("retries", CT2)
        self.assertFalse(result["ok"])
        self.assertOwnRequests(RESPONDER.requests(CT2), result, 5)
        self.assertGreaterEqual(result["elapsed_ms"], 5 * TIMEOUT_MS - 50)

    # -- what the prober must skip ----------------------------------------------
    def test_foreign_datagrams_are_skipped(self):
        RESPONDER.set(CNC1, [Action("foreign_id", 0), Action("request", 2), Action("foreign_id", 20),
                             Action("reply", 40)])
        self.timely(lambda: [(self.ping_answered(CNC1)["rtt"], 40)])

    def test_malformed_replies_never_give_a_round_trip(self):
        # An echo reply cut short before or inside the timestamp, and an
        # unreachable message quoting the request, all before the real reply.
        RESPONDER.set(CNC1, [Action("truncated", 1, length=8), Action("truncated", 2, length=10),
                             Action("unreachable", 3), Action("reply", 40)])
        if self.refuse_raw:
            # The service ends its wait at the first datagram it takes for its
            # reply; the prober refuses it rather than report its round trip.
            [result] = self.probe("ping", CNC1)
            self.assertFalse(result["ok"] and result["rtt"] < 40 - EARLY_MS, result)
        else:
            self.timely(lambda: [(self.ping_answered(CNC1)["rtt"], 40)])

    def test_only_foreign_replies_is_silence(self):
        RESPONDER.set(CNC1, [Action("foreign_id", 10), Action("request", 20)])
        [result] = self.probe("ping", CNC1)
        self.assertFalse(result["ok"])
        self.assertGreaterEqual(result["elapsed_ms"], TIMEOUT_MS - 20)

    def test_reply_with_ip_options_is_read_past_them(self):
        RESPONDER.set(CNC2, [Action("reply_options", 25)])
        self.timely(lambda: [(self.ping_answered(CNC2)["rtt"], 25)])

    def test_steady_unrelated_traffic_does_not_stretch_the_wait(self):
        RESPONDER.set_noise(50)
        before = RESPONDER.noise_sent
        [result] = self.probe("ping", OTHER1, timeout=20)
        self.assertFalse(result["ok"])
        self.assertLess(result["elapsed_ms"], TIMEOUT_MS + 300)
        self.assertGreater(RESPONDER.noise_sent - before, 40, "unrelated datagrams arrived meanwhile")
        RESPONDER.set(OTHER2, reply(15))
        self.timely(lambda: [(self.ping_answered(OTHER2)["rtt"], 15)])

    # -- Measure -----------------------------------------------------------------
    def test_measure_fifty_echoes(self):
        RESPONDER.set(CT1, reply(10))

        def run():
            [result] = self.probe("measure", CT1)
            self.assertEqual(result["percent"], 100)
            self.assertOwnRequests(RESPONDER.requests(CT1), result, 50)
            return [(result["average"], 10)]

        self.timely(run)

    def test_measure_stopped_after_ten_answers(self):
        RESPONDER.set(CT1, reply(20))

        def run():
            [result] = self.probe("measure", CT1, "--stop-after-answers", "10")
            self.assertEqual((result["percent"], result["answered"]), (20, 10))
            self.assertOwnRequests(RESPONDER.requests(CT1), result, 10)
            return [(result["average"], 20)]

        self.timely(run)

    def test_measure_stopped_while_waiting_for_a_reply(self):
        # The stop lands during the first unanswered echo: that echo times out, no other follows.
        [result] = self.probe("measure", CT2, "--stop-after-ms", "300")
        self.assertEqual((result["percent"], result["average"]), (0, 0))
        self.assertEqual(len(RESPONDER.requests(CT2)), 1)
        self.assertLess(result["elapsed_ms"], 2 * TIMEOUT_MS)

    # -- several probers ---------------------------------------------------------
    def test_two_probers_on_one_server_keep_their_own_replies(self):
        # The first request to arrive is answered after 20 ms, the second after
        # 80: a prober that took the other's reply would report 20 twice.
        RESPONDER.set(CNC1, in_turn(20, 80))

        def run():
            results = self.probe("ping", CNC1, "--second-host", CNC1)
            self.assertTrue(all(r["ok"] for r in results), results)
            requests = RESPONDER.requests(CNC1)
            self.assertEqual(len(requests), 2)
            if not self.refuse_raw:
                self.assertEqual({r.identifier for r in requests}, {r["thread_id"] & 0xFFFF for r in results})
            return list(zip(sorted(r["rtt"] for r in results), (20, 80)))

        self.timely(run)

    def test_two_probers_on_two_servers_at_once(self):
        RESPONDER.set(CT1, reply(15))
        RESPONDER.set(OTHER1, reply(70))

        def run():
            by_host = {r["host"]: r for r in self.probe("measure", CT1, "--second-host", OTHER1)}
            self.assertEqual((by_host[CT1]["percent"], by_host[OTHER1]["percent"]), (100, 100))
            return [(by_host[CT1]["average"], 15), (by_host[OTHER1]["average"], 70)]

        self.timely(run)

    # -- hosts -------------------------------------------------------------------
    def test_dotted_address_and_resolvable_name(self):
        WORLD.map_host("probe-target.kivoline.example", CT2)
        RESPONDER.set(CT2, reply(12))
        for host in (CT2, "probe-target.kivoline.example"):
            with self.subTest(host=host):

                def run():
                    result = self.ping_answered(host)
                    self.assertEqual(len(RESPONDER.requests(CT2)), 1)
                    return [(result["rtt"], 12)]

                self.timely(run)

    def test_anything_else_fails_without_sending(self):
        RESPONDER.set_default(reply(1))
        for host in ("unknown.kivoline.example", "192.0.2.300", "not a host", "-"):
            with self.subTest(host=host):
                [result] = self.probe("ping", host)
                self.assertFalse(result["ok"])
                [result] = self.probe("measure", host)
                self.assertEqual((result["percent"], result["average"]), (0, 0))
        self.assertEqual(RESPONDER.requests(), [])


class RawSocket(ProberChecks, unittest.TestCase):
    refuse_raw = False


class EchoService(ProberChecks, unittest.TestCase):
    """The raw socket refused, as for a user without administrator rights."""
    refuse_raw = True


if __name__ == "__main__":
    unittest.main(verbosity=2)
