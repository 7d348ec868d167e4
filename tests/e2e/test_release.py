#!/usr/bin/python3
"""End-to-end: a release, from the operator's build to the user's installed,
self-updating client, on the architecture of the build tree under test.

A code-signing certificate is made now, its key also put into a SoftHSM
token made now. In a sealed namespace with a time-stamping service of the
test's own, releases 3.0.7 (key file, certificate 1) and 3.0.9 (token,
PKCS#11, certificate 2: a renewal for the same key) of these sources are
built with it (the `publish` target, in a build tree of this test with the
toolchain of the tree under test), so both pin its key, beside a backup key
made now. Then:

1. 3.0.7 is installed silently with its installer.
2. The older, signed 3.0.7 announced as 3.0.9 is refused: the client shows
   its window and the download is gone.
3. 3.0.9 is published to the update host as `publish/` lays it out.
4. The installed client downloads and verifies the update (signed with the
   renewed certificate), starts the updater and ends; the updater replaces the program and starts 3.0.9,
   which finds nothing newer and shows its window. Its About box and its
   version resource say 3.0.9.
5. The uninstaller, started while 3.0.9 runs, waits for it to end, then
   removes every file, the shortcut and every key.
"""

import glob
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import prefix, sandbox  # noqa: E402
from harness.driver import IDCANCEL, WM_COMMAND, WM_SYSCOMMAND  # noqa: E402
from harness.resource_ids import IDC_ABOUT_VERSION, IDM_ABOUTBOX  # noqa: E402
from harness.tsa import TimeStampAuthority  # noqa: E402
from harness.update_host import UpdateHost  # noqa: E402
from harness.wait import wait_until  # noqa: E402
from harness.world import World  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("KIVO_SOURCE_DIR") or os.path.abspath(os.path.join(HERE, "..", ".."))
BUILD = prefix.build_dir()
# The releases' own build tree, kept between runs so that only what changed
# is built again.
RELEASE_TREE = os.path.join(BUILD, "e2e-release")
UPDATE_HOST = "update.kivoline.example"
VERSION_PATH = "/Velmar/lastver.html"
UPDATER_PATH = "/Velmar/KivoUpdate.exe"
OLD, NEW = "3.0.7", "3.0.9"
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kivoline"
WINDOW_WAIT = 60

WORLD = None
HOST = None
TSA = None
RELEASES = {}
SIGNER = {}
SOFTHSM_MODULE = "/usr/lib/softhsm/libsofthsm2.so"
TOKEN, PIN = "kivo-release-test", "4711"


def toolchain_of(build):
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        return re.search(r"^CMAKE_TOOLCHAIN_FILE:\w+=(.*)$", f.read(), re.M).group(1)


def configure_release(tree, version, signing):
    """Configures `version` in `tree` with the -D options in `signing`."""
    return subprocess.run(["cmake", "-S", SOURCE, "-B", tree, "-G", "Ninja",
                           f"-DCMAKE_TOOLCHAIN_FILE={toolchain_of(BUILD)}", "-DCMAKE_BUILD_TYPE=Release",
                           "-DBUILD_TESTING=OFF", f"-DKIVO_VERSION={version}", "-DKIVO_UPDATER_PINS=",
                           "-DKIVO_SIGN_SINGLE_KEY=OFF",
                           *signing], capture_output=True, text=True)


def build_release(version, signing, target_dir):
    """Builds and publishes `version` signed as `signing` says; copies
    publish/ to target_dir and returns it."""
    configured = configure_release(RELEASE_TREE, version, signing)
    if configured.returncode != 0:
        raise RuntimeError(f"configuring {version} failed:\n{configured.stdout}\n{configured.stderr}")
    subprocess.run(["cmake", "--build", RELEASE_TREE, "--target", "publish"], check=True, stdout=subprocess.DEVNULL)
    shutil.copytree(os.path.join(RELEASE_TREE, "publish"), target_dir)
    return target_dir


def make_token(work, key):
    """A SoftHSM token holding `key`; returns its private key's pkcs11: URI."""
    os.makedirs(os.path.join(work, "tokens"))
    os.environ["SOFTHSM2_CONF"] = os.path.join(work, "softhsm2.conf")
    with open(os.environ["SOFTHSM2_CONF"], "w") as f:
        f.write(f"directories.tokendir = {work}/tokens\nobjectstore.backend = file\n")
    subprocess.run(["softhsm2-util", "--init-token", "--free", "--label", TOKEN, "--so-pin", "0000", "--pin", PIN],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["softhsm2-util", "--import", key, "--token", TOKEN, "--label", "signer", "--id", "01",
                    "--pin", PIN], check=True, stdout=subprocess.DEVNULL)
    return f"pkcs11:token={TOKEN};object=signer;type=private;pin-value={PIN}"


def key_pin(private_key):
    """The pin of a key: SHA-256 of its SubjectPublicKeyInfo, upper-case hex."""
    der = subprocess.run(["openssl", "pkey", "-in", private_key, "-pubout", "-outform", "DER"], check=True,
                         capture_output=True).stdout
    return hashlib.sha256(der).hexdigest().upper()


def certificate_serial(cert):
    out = subprocess.run(["openssl", "x509", "-in", cert, "-noout", "-serial"], check=True, capture_output=True,
                         text=True).stdout
    return out.strip().split("=", 1)[1].upper().lstrip("0")


def signer_serial(path):
    text = subprocess.run(["osslsigncode", "verify", "-in", path], capture_output=True, text=True).stdout
    return re.search(r"Signer #0:.*?Serial\s*:\s*([0-9A-Fa-f]+)", text, re.S).group(1).upper().lstrip("0")


def setUpModule():
    global WORLD, HOST, TSA
    work = os.path.join(BUILD, "e2e-release-files")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    # The time-stamping service must be inside the namespace the builds run in.
    sandbox.enter()
    try:
        TSA = TimeStampAuthority(work).start()
        cert, key = os.path.join(work, "signer.pem"), os.path.join(work, "signer.key")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=Kivoline release test signer (made by the test)",
                        "-addext", "extendedKeyUsage=codeSigning", "-keyout", key, "-out", cert],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # The renewal: a new certificate for the same key, as a certificate
        # authority issues it when the old one runs out.
        renewed = os.path.join(work, "signer-renewed.pem")
        subprocess.run(["openssl", "req", "-x509", "-new", "-key", key, "-days", "3",
                        "-subj", "/CN=Kivoline release test signer (made by the test)",
                        "-addext", "extendedKeyUsage=codeSigning", "-out", renewed],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # The backup key, kept offline: only its pin goes into the builds.
        backup = os.path.join(work, "backup.key")
        subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048",
                        "-out", backup], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        SIGNER.update(cert=cert, key=key, renewed=renewed, backup_pin=key_pin(backup))
        common = [f"-DKIVO_SIGN_TIMESTAMP_URL={TSA.url}", f"-DKIVO_UPDATER_PINS={SIGNER['backup_pin']}"]
        signings = {
            OLD: common + [f"-DKIVO_SIGN_CERT={cert}", f"-DKIVO_SIGN_KEY={key}", "-DKIVO_SIGN_PKCS11_MODULE="],
            NEW: common + [f"-DKIVO_SIGN_CERT={renewed}", f"-DKIVO_SIGN_KEY={make_token(work, key)}",
                           f"-DKIVO_SIGN_PKCS11_MODULE={SOFTHSM_MODULE}"],
        }
        for version in (OLD, NEW):
            start = time.monotonic()
            RELEASES[version] = build_release(version, signings[version], os.path.join(work, f"publish-{version}"))
            print(f"\n  release {version} built and published in {time.monotonic() - start:.0f} s", file=sys.stderr)

        WORLD = World().__enter__()
        HOST = UpdateHost().start()
        sandbox.map_host(UPDATE_HOST, "127.0.0.1")
    except BaseException:
        tearDownModule()
        raise


def tearDownModule():
    if HOST:
        HOST.stop()
    if WORLD:
        WORLD.__exit__(None, None, None)
    if TSA:
        TSA.stop()


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


class Release(unittest.TestCase):
    def setUp(self):
        users = [d for d in glob.glob(os.path.join(WORLD.prefix, "drive_c", "users", "*"))
                 if os.path.basename(d) != "Public"]
        self.assertEqual(len(users), 1, users)
        self.install_dir = os.path.join(users[0], "AppData", "Local", "Programs", "Kivoline")
        self.client = os.path.join(self.install_dir, "KivoVpn.exe")
        self.shortcut = os.path.join(users[0], "AppData", "Roaming", "Microsoft", "Windows", "Start Menu",
                                     "Programs", "Kivoline.lnk")
        # Whatever an earlier test or a failed run left behind.
        HOST.clear()
        shutil.rmtree(self.install_dir, ignore_errors=True)
        if os.path.exists(self.shortcut):
            os.remove(self.shortcut)
        self.reg("delete", UNINSTALL_KEY, "/f")

    # -- helpers ----------------------------------------------------------
    def run_program(self, exe, *args, timeout=60):
        app = WORLD.start_program(exe, args=args, copy=False)
        return app, app.wait_exit(timeout)

    def reg(self, *args):
        """reg.exe of the prefix; its exit code."""
        return self.run_program(os.path.join(WORLD.prefix, "drive_c", "windows", "system32", "reg.exe"), *args)[1]

    def reg_values(self):
        app, code = self.run_program(os.path.join(WORLD.prefix, "drive_c", "windows", "system32", "reg.exe"),
                                     "query", UNINSTALL_KEY)
        if code != 0:
            return None
        return dict(re.findall(r"^\s+(\w+)\s+REG_\w+\s+(.*?)\s*$", app.log(), re.M))

    def version_resource(self, path):
        tool = os.path.join(BUILD, "tests", "e2e", "tools", "kivo_update_tool.exe")
        app, code = self.run_program(tool, "version", windows_path(path))
        self.assertEqual(code, 0)
        return json.loads(app.log().strip().splitlines()[-1])["version"]

    def client_windows(self):
        """Visible "Kivoline" main windows: (hwnd, Windows pid, program path)."""
        paths = {p["pid"]: p["path"] for p in WORLD.driver.processes()}
        return [(box["hwnd"], box["pid"], paths.get(box["pid"], "")) for box in WORLD.driver.dialogs()
                if box["caption"] == "Kivoline" and not box["message_box"]]

    def update_failure_box(self):
        """The client's one message about an update it could not install."""
        box = wait_until(lambda: [b for b in WORLD.driver.message_boxes() if b["caption"] == "Kivoline"],
                         WINDOW_WAIT, message="the message about the failed update")[0]
        return box

    def close_box(self, box):
        WORLD.driver.click(box["buttons"][0]["hwnd"])
        wait_until(lambda: not WORLD.driver.message_boxes(), 10, message="the message box to close")

    def end_client(self, hwnd):
        WORLD.driver.post(hwnd, WM_COMMAND, IDCANCEL)
        wait_until(lambda: not self.client_windows(), 20, message="the client to end")

    def about_version(self, hwnd, pid):
        WORLD.driver.post(hwnd, WM_SYSCOMMAND, IDM_ABOUTBOX)
        box = wait_until(lambda: [b for b in WORLD.driver.dialogs(pid=pid) if b["hwnd"] != hwnd], 10,
                         message="the About box")[0]
        line = WORLD.driver.child(box["hwnd"], IDC_ABOUT_VERSION)
        WORLD.driver.click(box["buttons"][0]["hwnd"])
        return line and line["text"]

    def assert_signed_and_time_stamped(self, path):
        text = subprocess.run(["osslsigncode", "verify", "-in", path], capture_output=True, text=True).stdout
        self.assertIn("Subject: /CN=Kivoline release test signer (made by the test)", text, path)
        self.assertRegex(text, r"Countersignatures:\s*\n\s*Timestamp time:", path)
        self.assertIn("Issuer: /CN=Kivoline test time-stamping service (made by the test)", text, path)

    # -- the scenario -----------------------------------------------------
    def test_install_update_and_uninstall(self):
        old_setup = os.path.join(RELEASES[OLD], f"KivoSetup-{OLD}.exe")
        new_release = RELEASES[NEW]
        print(f"\n  installer: {os.path.getsize(old_setup)} bytes", file=sys.stderr)
        # Everything published carries its signature and time stamp, by the
        # file key (3.0.7) and through the token (3.0.9) alike.
        for release in RELEASES.values():
            for name in os.listdir(release) + [os.path.join("Velmar", "KivoUpdate.exe")]:
                if name.endswith(".exe"):
                    with self.subTest(published=os.path.join(release, name)):
                        self.assert_signed_and_time_stamped(os.path.join(release, name))

        # 3.0.9 is signed with the renewed certificate, 3.0.7 with the first.
        for version, cert in ((OLD, SIGNER["cert"]), (NEW, SIGNER["renewed"])):
            with self.subTest(signer_of=version):
                updater = os.path.join(RELEASES[version], "Velmar", "KivoUpdate.exe")
                self.assertEqual(signer_serial(updater), certificate_serial(cert))
        self.assertNotEqual(certificate_serial(SIGNER["cert"]), certificate_serial(SIGNER["renewed"]))

        # 1. Install 3.0.7 silently.
        _, code = self.run_program(old_setup, "/S")
        self.assertEqual(code, 0)
        self.assertEqual(self.version_resource(self.client), OLD)
        self.assertTrue(os.path.exists(self.shortcut))
        values = self.reg_values()
        self.assertIsNotNone(values, "no entry under Apps & features")
        self.assertEqual((values["DisplayName"], values["DisplayVersion"]), ("Kivoline", OLD))
        self.assertEqual(sorted(os.listdir(self.install_dir)), ["KivoVpn.exe", "Uninstall.exe"])
        for name in ("KivoVpn.exe", "Uninstall.exe"):
            with self.subTest(installed=name):
                self.assert_signed_and_time_stamped(os.path.join(self.install_dir, name))

        # 2. Our own older release, signed, announced as newer: refused.
        HOST.serve(VERSION_PATH, NEW.encode())
        with open(old_setup, "rb") as f:
            HOST.serve(UPDATER_PATH, f.read())
        app = WORLD.start_program(self.client, copy=False)
        hwnd = app.wait_window("Kivoline", visible=True, timeout=WINDOW_WAIT)
        self.assertEqual([r.path for r in HOST.requests], [VERSION_PATH, UPDATER_PATH])
        self.assertFalse(os.path.exists(os.path.join(self.install_dir, "KivoUpdate.exe")))
        self.end_client(hwnd)
        app.wait_exit(20)

        # 3. Publish 3.0.9 as publish/ lays it out.
        HOST.clear()
        with open(os.path.join(new_release, "Velmar", "lastver.html"), "rb") as f:
            page = f.read()
        self.assertEqual(page, NEW.encode())
        HOST.serve(VERSION_PATH, page)
        with open(os.path.join(new_release, "Velmar", "KivoUpdate.exe"), "rb") as f:
            HOST.serve(UPDATER_PATH, f.read())

        # 4. The installed client updates itself.
        start = time.monotonic()
        app = WORLD.start_program(self.client, copy=False)
        windows = wait_until(self.client_windows, WINDOW_WAIT, message="a client window after the update")
        seconds = time.monotonic() - start
        print(f"\n  from the client's start to the window of {NEW}: {seconds:.1f} s", file=sys.stderr)
        self.assertIsNotNone(app.process.poll(), "the old client must have ended")
        [(hwnd, pid, path)] = windows
        self.assertTrue(path.lower().endswith("\\kivoline\\kivovpn.exe"), path)
        self.assertEqual(self.version_resource(self.client), NEW)
        self.assertEqual(self.about_version(hwnd, pid), f"Version {NEW}")
        # A client that pins another key (here only the backup key) refuses
        # the same updater.
        tool = os.path.join(BUILD, "tests", "e2e", "tools", "kivo_update_tool.exe")
        foreign = os.path.join(self.install_dir, "KivoUpdate.exe")
        shutil.copy(os.path.join(new_release, "Velmar", "KivoUpdate.exe"), foreign)
        gate, _ = self.run_program(tool, "gate", windows_path(foreign), NEW, SIGNER["backup_pin"])
        self.assertEqual(json.loads(gate.log().strip().splitlines()[-1]), {"trusted": False, "exists": False})
        # 3.0.9 asked again and found nothing newer.
        self.assertEqual([r.path for r in HOST.requests], [VERSION_PATH, UPDATER_PATH, VERSION_PATH])
        self.assertEqual(self.reg_values()["DisplayVersion"], NEW)
        self.assertFalse([f for f in os.listdir(self.install_dir) if f.endswith((".new", ".old"))])

        # 5. Uninstall: silently it waits for the running client to end;
        # then nothing of it stays.
        self.run_program(os.path.join(self.install_dir, "Uninstall.exe"), "/S")
        time.sleep(2)
        self.assertTrue(os.path.exists(self.client), "removed while the client ran")
        self.end_client(hwnd)
        wait_until(lambda: not os.path.exists(self.install_dir), 30, message="the program folder to go")
        self.assertFalse(os.path.exists(self.shortcut))
        self.assertIsNone(self.reg_values(), "the entry under Apps & features stays")

    def test_update_mode_puts_back_a_lost_client(self):
        # An updater of an earlier release killed between its two renames
        # left the client only as .old; and this update fails too, since its
        # .new cannot be written (a folder holds the name).
        HOST.clear()
        _, code = self.run_program(os.path.join(RELEASES[OLD], f"KivoSetup-{OLD}.exe"), "/S")
        self.assertEqual(code, 0)
        os.rename(self.client, self.client + ".old")
        os.makedirs(self.client + ".new")
        updater = os.path.join(self.install_dir, "KivoUpdate.exe")
        shutil.copy(os.path.join(RELEASES[NEW], "Velmar", "KivoUpdate.exe"), updater)
        self.run_program(updater, "KivoVpn.exe")
        [(hwnd, _, path)] = wait_until(self.client_windows, WINDOW_WAIT, message="the client the updater starts")
        self.assertTrue(path.lower().endswith("\\kivoline\\kivovpn.exe"), path)
        self.assertEqual(self.version_resource(self.client), OLD)
        self.assertFalse(os.path.exists(self.client + ".old"))
        self.close_box(self.update_failure_box())
        self.end_client(hwnd)
        os.rmdir(self.client + ".new")
        # The uninstaller takes whatever such an update leaves, and the folder goes.
        for stray in (".old", ".new"):
            shutil.copy(self.client, self.client + stray)
        _, code = self.run_program(os.path.join(self.install_dir, "Uninstall.exe"), "/S")
        wait_until(lambda: not os.path.exists(self.install_dir), 30, message="the program folder to go")

    def test_a_swap_that_fails_for_good_shows_the_old_client_once(self):
        # The new client cannot be written (a folder holds .new's name) while
        # the host goes on offering it: the updater starts the old client
        # with the failure, which shows its window and the message and does
        # not fetch the updater again.
        HOST.clear()
        _, code = self.run_program(os.path.join(RELEASES[OLD], f"KivoSetup-{OLD}.exe"), "/S")
        self.assertEqual(code, 0)
        os.makedirs(self.client + ".new")
        HOST.serve(VERSION_PATH, NEW.encode())
        with open(os.path.join(RELEASES[NEW], "Velmar", "KivoUpdate.exe"), "rb") as f:
            HOST.serve(UPDATER_PATH, f.read())
        WORLD.start_program(self.client, copy=False)
        box = self.update_failure_box()
        [(hwnd, pid, path)] = self.client_windows()
        self.assertEqual(box["pid"], pid)
        self.assertTrue(path.lower().endswith("\\kivoline\\kivovpn.exe"), path)
        self.assertIn(f"update to Kivoline {NEW} could not be installed", box["message"])
        self.assertIn("could not be written", box["message"])
        self.assertEqual([r.path for r in HOST.requests], [VERSION_PATH, UPDATER_PATH, VERSION_PATH])
        self.assertEqual(self.version_resource(self.client), OLD)
        self.close_box(box)
        self.end_client(hwnd)
        os.rmdir(self.client + ".new")

    def test_signing_with_one_pinned_key_is_refused_at_configure(self):
        tree = os.path.join(BUILD, "e2e-release-one-key")
        shutil.rmtree(tree, ignore_errors=True)
        try:
            configured = configure_release(tree, NEW, [f"-DKIVO_SIGN_CERT={SIGNER['cert']}",
                                                       f"-DKIVO_SIGN_KEY={SIGNER['key']}",
                                                       f"-DKIVO_SIGN_TIMESTAMP_URL={TSA.url}"])
        finally:
            shutil.rmtree(tree, ignore_errors=True)
        self.assertNotEqual(configured.returncode, 0)
        # CMake wraps its messages.
        reason = " ".join(configured.stderr.split())
        self.assertIn("KIVO_UPDATER_PINS names 1 key", reason)
        self.assertIn("backup key kept offline", reason)
        self.assertIn("KIVO_SIGN_SINGLE_KEY=ON", reason)

    def test_signing_without_a_time_stamp_is_refused_at_configure(self):
        tree = os.path.join(BUILD, "e2e-release-no-timestamp")
        shutil.rmtree(tree, ignore_errors=True)
        try:
            configured = configure_release(tree, NEW, [f"-DKIVO_SIGN_CERT={SIGNER['cert']}",
                                                       f"-DKIVO_SIGN_KEY={SIGNER['key']}"])
        finally:
            shutil.rmtree(tree, ignore_errors=True)
        self.assertNotEqual(configured.returncode, 0)
        self.assertIn("KIVO_SIGN_TIMESTAMP_URL", configured.stderr)
        self.assertIn("KIVO_SIGN_NO_TIMESTAMP=ON", configured.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
