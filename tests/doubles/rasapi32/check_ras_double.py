"""The Python side of the RAS double (tests/e2e/harness/ras_double.py)
against the real library: what RasDouble writes, the library must honour, and
what the library writes, RasDouble must read back.

    check_ras_double.py --probe kivo_ras_selftest.exe --dll ras_en/rasapi32.dll --work DIR

The self-test program drives the library (its --probe and --layout modes);
it runs under wine with WINEDLLOVERRIDES=rasapi32=n.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "e2e", "harness"))
import ras_double  # noqa: E402
from ras_double import RasDouble  # noqa: E402

ARGS = None


def wine_env():
    return dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="rasapi32=n")


def wine():
    return ras_double.arch.current().loader


def setUpModule():
    # Starts the wineserver and Wine's own helper processes with no pipe of
    # ours open, so that they cannot hold a later run's output open; the runs
    # that follow within seconds find them warm.
    subprocess.run([wine(), "cmd", "/c", "exit"], env=wine_env(), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)


def run_selftest(*args):
    done = subprocess.run([wine(), ARGS.probe, *map(str, args)], env=wine_env(), capture_output=True, timeout=60)
    if done.returncode != 0:
        raise AssertionError(f"{args} exited with {done.returncode}: {done.stderr.decode(errors='replace')}")
    lines = [line for line in done.stdout.decode().splitlines() if line.startswith("{")]
    return json.loads(lines[-1])


class RasDoubleAgainstLibrary(unittest.TestCase):
    def double(self, name):
        path = os.path.join(ARGS.work, name)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return RasDouble(path)

    def test_layout_matches_the_compiler(self):
        layout = run_selftest("--layout")
        entry = layout.pop("RASENTRYW")
        self.assertEqual(ras_double.ENTRY_SIZE, entry.pop("size"))
        self.assertEqual({k: tuple(v) for k, v in entry.items()}, ras_double.ENTRY_LAYOUT)
        self.assertEqual(ras_double.record_sizes(), layout)

    def test_connect_as_the_client_does(self):
        ras = self.double("connect")
        ras.configure(states=[(0, 5), (1, 5), (5, 5), (ras_double.RASCS_CONNECTED, 5)],
                      error_texts={691: "Accès refusé", 800: "No VPN"}, projection_ip="10.9.8.7",
                      stats_sent=1000, stats_received=2**32 - 1, stats_bps=12345678, hangup_confirm_ms=50)
        before = ras_double.clock_ms()
        out = run_selftest("--probe", os.path.dirname(ARGS.dll), ras.dir, "connect", "vpn.kivoline.example",
                           "alice", "pa ss", 691)
        after = ras_double.clock_ms()

        self.assertEqual(0, out["set"])
        self.assertEqual(0, out["dial"])
        self.assertEqual([[0, 0], [1, 0], [5, 0], [8192, 0]], out["notifications"])
        self.assertEqual(bytes.fromhex(out["ip"]), b"10.9.8.7")
        self.assertEqual((1000, 2**32 - 1, 12345678), (out["sent"], out["received"], out["bps"]))
        self.assertEqual(0, out["text_result"])
        # The UTF-8 text arrives in UTF-16 (the probe prints it as UTF-8) and is logged in UTF-8.
        self.assertEqual("Accès refusé", bytes.fromhex(out["text"]).decode("utf-8"))
        self.assertEqual("Accès refusé", ras.wait_call("RasGetErrorStringW", timeout=0)["text"])

        entry = ras.entry()
        self.assertEqual({
            "dwSize": 5616, "dwfOptions": 0x38001010, "dwCountryID": 86, "dwCountryCode": 86,
            "szLocalPhoneNumber": "vpn.kivoline.example", "dwfNetProtocols": 4, "dwFramingProtocol": 1,
            "szDeviceType": "vpn", "szDeviceName": "WAN Miniport (L2TP)", "dwType": 2, "dwEncryptionType": 3,
            "dwVpnStrategy": 2}, entry)
        self.assertEqual(b"", ras.devinfo())

        dials = ras.dials()
        self.assertEqual(1, len(dials))
        dial = dials[0]
        self.assertEqual(0, dial["result"])
        self.assertEqual(out["handle"], dial["handle"])
        self.assertEqual((ras_double.record_sizes()["RASDIALPARAMSW"], "Kivoline", "", "alice", "pa ss", 0),
                         (dial["dwSize"], dial["entry"], dial["phone"], dial["user"], dial["password"],
                          dial["notifier_type"]))
        self.assertEqual("vpn.kivoline.example", dial["entry_phone"])
        self.assertEqual([(0, 0), (1, 0), (5, 0), (8192, 0)], [(s, e) for _, s, e in dial["notifications"]])
        self.assertEqual(1, len(dial["hangups"]))
        self.assertIsNone(dial["drop"])

        calls = ras.calls()
        stamps = [c.t for c in calls]
        self.assertEqual(sorted(stamps), stamps)
        # The log's clock is the one clock_ms() reads.
        self.assertGreaterEqual(stamps[0], before - 50)
        self.assertLessEqual(stamps[-1], after + 50)
        statuses = ras.calls("RasGetConnectStatusW")
        self.assertEqual(ras_double.ERROR_INVALID_HANDLE, statuses[-1].result)
        self.assertTrue(all(c.result == 0 for c in statuses[:-1]))
        # Confirmed 50 ms after the hang-up: the probe's stamp and the log's
        # are taken at different points of the two calls, a few ms apart.
        self.assertGreaterEqual(statuses[-1].t - dial["hangups"][0], 45)
        self.assertEqual(dial["handle"], ras.wait_call("RasHangUpW", timeout=0).get("handle"))

    def test_failed_dial_is_recorded(self):
        ras = self.double("fail")
        ras.configure(states="0:5,5:5,8192:5", error_state=5, error_code=691, error_texts="")
        out = run_selftest("--probe", os.path.dirname(ARGS.dll), ras.dir, "connect", "192.0.2.11", "bob", "x", 691)
        self.assertEqual([[0, 0], [5, 691]], out["notifications"])
        self.assertEqual(87, out["text_result"])
        self.assertEqual([(0, 0), (5, 691)], [(s, e) for _, s, e in ras.dials()[0]["notifications"]])

    def test_planted_entry_is_read_back(self):
        ras = self.double("planted")
        ras.plant_entry(devinfo=b"\x01\x02\x03", szLocalPhoneNumber="198.51.100.99",
                        szDeviceName="WAN 微型端口 (L2TP)", dwType=2)
        ras.configure(devinfo_size=3)
        out = run_selftest("--probe", os.path.dirname(ARGS.dll), ras.dir, "read")
        self.assertEqual((183, 603, 0), (out["validate"], out["query"], out["get"]))
        self.assertEqual(ras.entry_bytes(), bytes.fromhex(out["entry"]))
        self.assertEqual(b"\x01\x02\x03", bytes.fromhex(out["devinfo"]))
        entry = ras.entry()
        self.assertEqual("198.51.100.99", entry["szLocalPhoneNumber"])
        self.assertEqual("WAN 微型端口 (L2TP)", entry["szDeviceName"])

        ras.configure(validate=0, devinfo_size=None)
        out = run_selftest("--probe", os.path.dirname(ARGS.dll), ras.dir, "read")
        self.assertEqual(0, out["validate"])
        ras.remove_entry()
        self.assertIsNone(ras.entry())

    def test_control_values_are_checked_before_they_are_written(self):
        ras = self.double("keys")
        with self.assertRaises(KeyError):
            ras.configure(dial_reslt=800)
        with self.assertRaises(ValueError):
            ras.configure(error_texts={691: "one; two"})
        with self.assertRaises(ValueError):
            ras.configure(projection_ip="1.2.3.4\n[ras]")
        with self.assertRaises(ValueError):
            RasDouble.build_entry(szLocalPhoneNumber="x" * 129)
        ras.configure(states=[(0, 10)], dial_stores_handle=True, hangup_confirm_ms=-1)
        with open(ras.control_path, "rb") as f:
            self.assertEqual(b"\xef\xbb\xbf[ras]\r\nstates=0:10\r\ndial_stores_handle=1\r\nhangup_confirm_ms=-1\r\n",
                             f.read())
        ras.configure(states=None)
        self.assertEqual({"dial_stores_handle": "1", "hangup_confirm_ms": "-1"}, ras.settings())


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe", required=True)
    parser.add_argument("--dll", required=True)
    parser.add_argument("--work", required=True)
    ARGS, rest = parser.parse_known_args()
    os.makedirs(ARGS.work, exist_ok=True)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
