#!/usr/bin/python3
"""End-to-end: the start-up version check, the updater download and the
signature gate, against the test update host inside a sealed namespace.

The HTTP exchanges are driven step by step through kivo_update_tool.exe; the
client itself (KivoVpn_testsigner.exe, which pins the TEST-ONLY signer, and
KivoVpn.exe, which pins none) shows how start-up reacts: a trusted updater is
started with the client's file name and the client ends without a window;
anything else ends in the normal main window.
"""

import json
import os
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import sandbox  # noqa: E402
from harness.driver import IDCANCEL  # noqa: E402
from harness.resource_ids import IDC_UPDATE_BAR, IDC_UPDATE_TEXT  # noqa: E402
from harness.wait import wait_until  # noqa: E402
from harness.update_host import UpdateHost  # noqa: E402
from update_world import (FIXTURES, UPDATE_HOST, UPDATER_PATH, VERSION_PATH, UpdateWorld,  # noqa: E402
                          pem_key_pin, pinned_test_key)

WORLD = None
PBM_GETPOS = 0x0408
# Start-up may take a while under Wine (server measurement, first window);
# a hung update check would never get there at all.
WINDOW_WAIT = 45


def setUpModule():
    global WORLD
    WORLD = UpdateWorld().__enter__()


def tearDownModule():
    if WORLD:
        WORLD.__exit__(None, None, None)


def tool(*args, run_dir=None):
    return WORLD.tool(*args, run_dir=run_dir)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def windows_path(run_dir, name):
    return "Z:" + os.path.join(run_dir, name).replace("/", "\\")


class Base(unittest.TestCase):
    def setUp(self):
        WORLD.host.silent = False
        WORLD.host.clear()


class VersionCheck(Base):
    def check(self, page, status=200, running="3.0.7"):
        WORLD.host.clear()
        WORLD.host.serve(VERSION_PATH, page, status=status)
        return tool("check", running)[0]["result"]

    def test_only_a_newer_five_byte_version_offers_an_update(self):
        cases = [(b"3.0.8", False), (b"3.1.0", False), (b"3.0.7", True), (b"2.9.9", True), (b"10.00", True),
                 (b"3.0.8\n", True), (b"3.0.8\r\n", True), (b"", True), (b"3.0.80", True), (b"3.08", True)]
        for page, expected in cases:
            with self.subTest(page=page):
                self.assertIs(self.check(page), expected)

    def test_error_status_with_a_five_byte_body_counts(self):
        for status in (404, 500):
            with self.subTest(status=status):
                self.assertIs(self.check(b"3.0.8", status=status), False)

    def test_the_version_request(self):
        WORLD.host.serve(VERSION_PATH, b"3.0.8")
        result, _ = tool("fetch")
        self.assertEqual(result["latest"], "3.0.8")
        [request] = WORLD.host.requests
        self.assertEqual((request.method, request.path), ("GET", VERSION_PATH))
        self.assertEqual(request.header("User-Agent"), ["version"])
        self.assertEqual(request.header("Host"), [UPDATE_HOST])

    def test_even_ending_never_asks(self):
        WORLD.host.serve(VERSION_PATH, b"9.9.9")
        for running in ("3.0.8", "3.0.0", "3.0.4"):
            with self.subTest(running=running):
                self.assertIs(tool("check", running)[0]["result"], True)
        self.assertEqual(WORLD.host.requests, [])

    def test_silent_host_is_given_up(self):
        WORLD.host.serve(VERSION_PATH, silent=True)
        result, _ = tool("check", "3.0.7")
        self.assertIs(result["result"], True)
        print(f"\n  silent version page given up after {result['ms']} ms", file=sys.stderr)


class Download(Base):
    def download(self, body=b"", **route):
        WORLD.host.serve(UPDATER_PATH, body, **route)
        result, run_dir = tool("download")
        return result, os.path.join(run_dir, "KivoUpdate.exe")

    def test_complete_download(self):
        body = WORLD.updaters["signed"]
        result, target = self.download(body)
        self.assertIs(result["result"], True)
        self.assertEqual(result["path"], result["target"])
        self.assertTrue(result["path"].endswith("\\KivoUpdate.exe"))
        self.assertEqual(result["exe"], "kivo_update_tool.exe")
        self.assertEqual(read(target), body)
        [request] = WORLD.host.requests
        self.assertEqual((request.method, request.path), ("GET", UPDATER_PATH))
        self.assertEqual(request.header("Accept"), ["*/*"])
        self.assertEqual(request.header("User-Agent"), ["KivoVpn"])
        self.assertEqual(request.header("Host"), [UPDATE_HOST])

    def test_short_body_fails_and_leaves_the_file(self):
        body = b"k" * 3000
        result, target = self.download(body, content_length=len(body) + 1)
        self.assertEqual((result["result"], result["path"]), (False, ""))
        self.assertEqual(result["exe"], "kivo_update_tool.exe")
        self.assertEqual(read(target), body)

    def test_body_cut_half_way_fails_and_leaves_the_file(self):
        body = bytes(range(256)) * 400
        result, target = self.download(body, stop_after=len(body) // 2)
        self.assertEqual((result["result"], result["path"]), (False, ""))
        self.assertEqual(read(target), body[:len(body) // 2])

    def test_announced_length_shorter_than_the_body(self):
        # Whether the HTTP client hands over the byte beyond the announced
        # length depends on how it arrived (Wine passes it on when it came
        # with the rest, and stops at the length otherwise). Either way the
        # download never reports more or less than the file holds, and never
        # writes more than was announced.
        outcomes = set()
        for size in (100, 3000, 100000):
            with self.subTest(size=size):
                body = bytes(range(256)) * (size // 256) + b"k" * (size % 256)
                result, target = self.download(body, content_length=size - 1)
                outcomes.add(result["result"])
                if result["result"]:
                    self.assertEqual(read(target), body[:-1])
                    self.assertEqual(result["path"], result["target"])
                else:
                    # The download stops at the first byte beyond the announced length.
                    written = read(target)
                    self.assertLess(len(written), size)
                    self.assertEqual(written, body[:len(written)])
                    self.assertEqual(result["path"], "")
        print(f"\n  body one byte longer than announced: results {sorted(outcomes)}", file=sys.stderr)

    def test_no_content_length(self):
        # Nothing is written for an answer that does not say how long it is.
        for body in (b"", b"some body"):
            with self.subTest(body=body):
                result, target = self.download(body, content_length=None)
                self.assertEqual((result["result"], result["path"]), (False, ""))
                self.assertFalse(os.path.exists(target))

    def test_not_found_fails_without_naming_the_program(self):
        result, target = self.download(b"missing", status=404)
        self.assertEqual(result, {**result, "result": False, "path": "", "exe": ""})
        self.assertFalse(os.path.exists(target))

    def test_silent_download_is_given_up(self):
        result, target = self.download(silent=True)
        self.assertEqual((result["result"], result["path"]), (False, ""))
        print(f"\n  silent download given up after {result['ms']} ms", file=sys.stderr)


class Gate(Base):
    def test_fixture_key_is_the_pinned_one(self):
        self.assertEqual(pem_key_pin(os.path.join(FIXTURES, "test_signer.pem")), pinned_test_key())

    def test_signer_is_read_from_the_verification(self):
        run_dir = WORLD.run_dir("tests/e2e/tools/kivo_update_tool.exe")
        for name in ("signed", "other", "altered", "unsigned"):
            with open(os.path.join(run_dir, name + ".exe"), "wb") as f:
                f.write(WORLD.updaters[name])
        expected = {
            "signed": (True, pinned_test_key(), True),
            "other": (True, None, True),   # valid, but by somebody else
            # Whether a verification that fails on the digest still names
            # the signer is up to the trust provider (Wine's does not).
            "altered": (None, pinned_test_key(), False),
            "unsigned": (False, "", False),
        }
        for name, (signed, key, verified) in expected.items():
            with self.subTest(name=name):
                result, _ = tool("signer", windows_path(run_dir, name + ".exe"), run_dir=run_dir)
                self.assertEqual(result["verified"], verified)
                if signed is None:
                    self.assertIn(result["key"], ("", key))
                    continue
                self.assertEqual(result["signed"], signed)
                if key is not None:
                    self.assertEqual(result["key"], key)
                else:
                    self.assertNotEqual(result["key"], pinned_test_key())

    def test_only_the_pinned_signer_of_the_announced_version_passes(self):
        run_dir = WORLD.run_dir("tests/e2e/tools/kivo_update_tool.exe")
        # The stand-in's signed version resource says 3.0.8.
        cases = (("signed", "3.0.8", True), ("other", "3.0.8", False), ("altered", "3.0.8", False),
                 ("unsigned", "3.0.8", False),
                 # An older signed build offered as a newer one.
                 ("signed", "3.0.9", False))
        for name, announced, trusted in cases:
            with self.subTest(name=name, announced=announced):
                path = os.path.join(run_dir, name + ".exe")
                with open(path, "wb") as f:
                    f.write(WORLD.updaters[name])
                result, _ = tool("gate", windows_path(run_dir, name + ".exe"), announced, run_dir=run_dir)
                self.assertEqual(result, {"trusted": trusted, "exists": trusted})
                self.assertEqual(os.path.exists(path), trusted)
        # The client, signed by the pinned signer and announced as its own
        # version, is no updater: its version resource names the client.
        path = os.path.join(run_dir, "client.exe")
        with open(path, "wb") as f:
            f.write(WORLD.updaters["client"])
        version = tool("version", windows_path(run_dir, "client.exe"), run_dir=run_dir)[0]["version"]
        self.assertEqual(len(version), 5)
        result, _ = tool("gate", windows_path(run_dir, "client.exe"), version, run_dir=run_dir)
        self.assertEqual(result, {"trusted": False, "exists": False})
        # With no pin nothing passes, the right signer included.
        path = os.path.join(run_dir, "signed.exe")
        with open(path, "wb") as f:
            f.write(WORLD.updaters["signed"])
        result, _ = tool("gate", windows_path(run_dir, "signed.exe"), "3.0.8", "", run_dir=run_dir)
        self.assertEqual(result, {"trusted": False, "exists": False})


class StartupOrder(Base):
    """The whole start-up order of the client through the tool."""

    def test_leftover_is_deleted_before_the_check(self):
        run_dir = WORLD.run_dir("tests/e2e/tools/kivo_update_tool.exe")
        with open(os.path.join(run_dir, "KivoUpdate.exe"), "wb") as f:
            f.write(b"left over")
        WORLD.host.serve(VERSION_PATH, b"3.0.7")
        result, _ = tool("startup", "3.0.7", run_dir=run_dir)
        self.assertTrue(result["had_leftover"])
        self.assertTrue(result["leftover_gone"])
        self.assertEqual((result["up_to_date"], result["downloaded"]), (True, None))
        self.assertEqual([r.path for r in WORLD.host.requests], [VERSION_PATH])

    def test_empty_download_is_refused(self):
        WORLD.host.serve(VERSION_PATH, b"3.0.8")
        WORLD.host.serve(UPDATER_PATH, b"", content_length=None)
        result, run_dir = tool("startup", "3.0.7")
        self.assertEqual((result["up_to_date"], result["downloaded"]), (False, False))
        self.assertEqual((result["trusted"], result["started"], result["file_exists"]), (False, False, False))


def app_available(name):
    try:
        WORLD.built(name)
        return True
    except FileNotFoundError:
        return False


class Client(Base):
    """The client's own start-up."""

    def run_client(self, exe="KivoVpn_testsigner.exe", leftover=None, name=None, cwd=None):
        """Runs a built client from a run directory (as `name` there when given,
        started in `cwd` when given)."""
        if not app_available(exe):
            self.skipTest(f"{exe} is not built")
        run_dir = WORLD.run_dir(exe)
        if name is not None:
            os.rename(os.path.join(run_dir, exe), os.path.join(run_dir, name))
            exe = name
        if leftover is not None:
            with open(os.path.join(run_dir, "KivoUpdate.exe"), "wb") as f:
                f.write(leftover)
        process = WORLD.start(exe, run_dir, cwd=cwd)
        try:
            outcome, seconds = WORLD.wait_window_or_exit(process, WINDOW_WAIT)
        finally:
            WORLD.stop(process, exe)
        return outcome, seconds, run_dir

    def assert_normal_start(self, outcome, seconds, run_dir):
        self.assertEqual(outcome, "window", f"after {seconds:.1f} s")
        self.assertFalse(os.path.exists(os.path.join(run_dir, "KivoUpdate.exe")))
        self.assertFalse(os.path.exists(os.path.join(run_dir, "updater_record.json")))

    def test_trusted_update_replaces_the_client(self):
        WORLD.host.serve(VERSION_PATH, b"3.0.8")
        WORLD.host.serve(UPDATER_PATH, WORLD.updaters["signed"])
        # A name with a space, started from another folder (as a Run key starts it in System32). The
        # test build pins the test signer's key second of two keys.
        outcome, seconds, run_dir = self.run_client(name="Kivo Vpn.exe", cwd=WORLD.tmp)
        self.assertEqual(outcome, "exit", "the client must end without showing its window")
        record_path = os.path.join(run_dir, "updater_record.json")
        self.assertTrue(WORLD.wait_file(record_path, 20), "the updater was not started")
        time.sleep(0.2)
        with open(record_path, encoding="utf-8") as f:
            record = json.load(f)
        self.assertTrue(record["exe"].endswith("\\KivoUpdate.exe"), record)
        self.assertEqual(record["argv"][1:], ["Kivo Vpn.exe"], record)
        self.assertTrue(record["command_line"].rstrip().endswith('"Kivo Vpn.exe"'), record)
        self.assertEqual(record["cwd"].rstrip("\\").rsplit("\\", 1)[-1], os.path.basename(run_dir),
                         "the updater works in the client's folder")
        paths = [r.path for r in WORLD.host.requests]
        self.assertEqual(paths, [VERSION_PATH, UPDATER_PATH])
        version, download = WORLD.host.requests
        self.assertEqual(version.header("User-Agent"), ["version"])
        self.assertEqual(download.header("Accept"), ["*/*"])
        self.assertEqual(download.header("User-Agent"), ["KivoVpn"])

    def test_slow_download_shows_its_progress_and_cancel_starts_the_client(self):
        # The updater comes a piece every 0.1 s; its last half only once the
        # test has pressed Cancel, so that the download is still running then.
        body = WORLD.updaters["signed"]
        step = -(-len(body) // 50)
        pressed = threading.Event()

        def slowly():
            for i in range(0, len(body), step):
                if i >= len(body) // 2:
                    pressed.wait(30)
                else:
                    time.sleep(0.1)
                yield body[i:i + step]

        WORLD.host.serve(VERSION_PATH, b"3.0.8")
        WORLD.host.serve(UPDATER_PATH, slowly, body_length=len(body))
        exe = "KivoVpn_testsigner.exe"
        if not app_available(exe):
            self.skipTest(f"{exe} is not built")
        run_dir = WORLD.run_dir(exe)
        process = WORLD.start(exe, run_dir)
        try:
            [box] = wait_until(WORLD.progress_windows, WINDOW_WAIT, message="the progress window")
            self.assertEqual(WORLD.driver.child(box["hwnd"], IDC_UPDATE_TEXT)["text"],
                             "Downloading the update to 3.0.8\u2026")
            bar = WORLD.driver.child(box["hwnd"], IDC_UPDATE_BAR)["hwnd"]
            first = WORLD.driver.send(bar, PBM_GETPOS)
            wait_until(lambda: WORLD.driver.send(bar, PBM_GETPOS) > first, 20, message="the bar to move")
            [cancel] = [b for b in box["buttons"] if b["id"] == IDCANCEL]
            self.assertEqual(cancel["text"], "Cancel")
            WORLD.driver.click(cancel["hwnd"])
            outcome, seconds = WORLD.wait_window_or_exit(process, WINDOW_WAIT)
            pressed.set()
            self.assertEqual(outcome, "window", f"after {seconds:.1f} s")
            self.assertEqual(WORLD.progress_windows(), [])
        finally:
            pressed.set()
            WORLD.stop(process, exe)
        self.assertFalse(os.path.exists(os.path.join(run_dir, "updater_record.json")))
        self.assertEqual([r.path for r in WORLD.host.requests], [VERSION_PATH, UPDATER_PATH])

    def test_a_new_client_that_does_not_come_up_is_rolled_back(self):
        # The real updater, in update mode, whose new "client" exits at once
        # (the stand-in updater, which records its start): the old client is
        # put back and started with the failure, and nothing else stays.
        run_dir = WORLD.run_dir("KivoVpn_testsigner.exe", "tests/doubles/stand_in_updater.exe")
        client = os.path.join(run_dir, "KivoVpn.exe")
        os.rename(os.path.join(run_dir, "KivoVpn_testsigner.exe"), client)
        old = read(client)
        stand_in = os.path.join(run_dir, "stand_in_updater.exe")
        WORLD.real_updater(stand_in, "3.0.9", os.path.join(run_dir, "KivoUpdate.exe"))
        os.remove(stand_in)
        process = WORLD.start("KivoUpdate.exe", run_dir, args=("KivoVpn.exe",))
        try:
            [box] = wait_until(lambda: [b for b in WORLD.driver.dialogs() if b["message_box"]],
                               WINDOW_WAIT + 15, message="the old client's message")
            self.assertIn("update to Kivoline 3.0.9 could not be installed", box["message"])
            self.assertIn("did not start", box["message"])
            self.assertTrue(WORLD.main_window_shown())
            self.assertTrue(os.path.exists(os.path.join(run_dir, "updater_record.json")),
                            "the new client was not started")
            self.assertEqual(read(client), old)
            self.assertEqual([f for f in os.listdir(run_dir) if f.endswith((".new", ".old"))], [])
        finally:
            WORLD.stop(process, "KivoVpn.exe")

    def test_untrusted_updaters_are_deleted_and_never_started(self):
        for name in ("unsigned", "other", "altered"):
            with self.subTest(updater=name):
                WORLD.host.clear()
                WORLD.host.serve(VERSION_PATH, b"3.0.8")
                WORLD.host.serve(UPDATER_PATH, WORLD.updaters[name])
                outcome, seconds, run_dir = self.run_client()
                self.assert_normal_start(outcome, seconds, run_dir)
                self.assertEqual([r.path for r in WORLD.host.requests], [VERSION_PATH, UPDATER_PATH])

    def test_release_build_pins_no_signer(self):
        WORLD.host.serve(VERSION_PATH, b"3.0.8")
        WORLD.host.serve(UPDATER_PATH, WORLD.updaters["signed"])
        outcome, seconds, run_dir = self.run_client("KivoVpn.exe")
        self.assert_normal_start(outcome, seconds, run_dir)
        self.assertEqual([r.path for r in WORLD.host.requests], [VERSION_PATH, UPDATER_PATH])

    def test_no_newer_version_starts_normally_and_removes_the_leftover(self):
        WORLD.host.serve(VERSION_PATH, b"3.0.7")
        outcome, seconds, run_dir = self.run_client(leftover=b"from an earlier update")
        self.assert_normal_start(outcome, seconds, run_dir)
        self.assertEqual([r.path for r in WORLD.host.requests], [VERSION_PATH])

    def test_failed_download_starts_normally(self):
        WORLD.host.serve(VERSION_PATH, b"3.0.8")
        WORLD.host.serve(UPDATER_PATH, b"x", status=404)
        outcome, seconds, run_dir = self.run_client()
        self.assert_normal_start(outcome, seconds, run_dir)

    def test_dripping_headers_do_not_hold_start_up(self):
        # Each byte restarts the request's receive time-out: only the check's deadline ends it.
        WORLD.host.serve(VERSION_PATH, b"3.0.8", drip_head=3.0)
        outcome, seconds, run_dir = self.run_client()
        print(f"\n  dripping headers: main window after {seconds:.1f} s", file=sys.stderr)
        self.assert_normal_start(outcome, seconds, run_dir)
        self.assertLess(seconds, 15)
        self.assertEqual([r.path for r in WORLD.host.requests], [VERSION_PATH])

    def test_host_trouble_does_not_hold_start_up(self):
        cases = {}
        # Silent: connections are accepted and never answered.
        WORLD.host.silent = True
        cases["silent"] = self.run_client()
        WORLD.host.silent = False
        # Silent only for the download.
        WORLD.host.serve(VERSION_PATH, b"3.0.8")
        WORLD.host.serve(UPDATER_PATH, silent=True)
        cases["silent download"] = self.run_client()
        # Refusing: nothing listens on port 80.
        WORLD.host.stop()
        try:
            cases["refusing"] = self.run_client()
            # Unreachable: the name resolves to an address without a route.
            sandbox.unmap_hosts()
            sandbox.map_host(UPDATE_HOST, "192.0.2.254")
            cases["no route"] = self.run_client()
            # Unknown: the name does not resolve at all.
            sandbox.unmap_hosts()
            cases["unresolved"] = self.run_client()
        finally:
            sandbox.unmap_hosts()
            sandbox.map_host(UPDATE_HOST, "127.0.0.1")
            WORLD.host = UpdateHost().start()
        for name, (outcome, seconds, run_dir) in cases.items():
            with self.subTest(host=name):
                print(f"\n  {name}: main window after {seconds:.1f} s", file=sys.stderr)
                self.assert_normal_start(outcome, seconds, run_dir)


if __name__ == "__main__":
    unittest.main(verbosity=2)
