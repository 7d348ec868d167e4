#!/usr/bin/python3
"""End-to-end: a Chinese user on English Windows. The locale is en_US.UTF-8
(ANSI code page 1252) and the user's profile folder is C:\\users\\张伟, which
that code page cannot spell: the user's AppData and Local AppData lie there
(a Wine prefix of its own, harness.prefix profile=). An ANSI path call would
hand the client "C:\\users\\??\\...", a folder that does not exist.

- Connect writes the entry into the user's own phonebook below that AppData
  and dials it; every RAS call names that exact path.
- The client installed in that Local AppData folder saves the announced
  updater beside itself, the gate accepts it, and it is started with its
  own path and the client's quoted file name.

The sessions and the world are those of test_connect.py; the update host,
the stand-in updater and its signer are those of test_update.py.
"""

import json
import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import test_connect as tc  # noqa: E402  (enters the sandbox)
from harness import World, wait_until  # noqa: E402
from harness.ras_double import RASCS_CONNECTED  # noqa: E402
from harness.update_host import UpdateHost  # noqa: E402
from update_world import FIXTURES, UPDATE_HOST, UPDATER_PATH, VERSION_PATH, UpdateWorld  # noqa: E402

PROFILE = "张伟"
USER_FOLDER = "C:\\users\\" + PROFILE
NETWORK_FOLDER = USER_FOLDER + r"\AppData\Roaming\Microsoft\Network"
PBK_FOLDER = NETWORK_FOLDER + r"\Connections\Pbk"
PHONEBOOK = PBK_FOLDER + r"\rasphone.pbk"
PROGRAM_FOLDER = USER_FOLDER + r"\AppData\Local\Programs\Kivoline"
# The stand-in updater's signed version resource says 3.0.8.
ANNOUNCED = b"3.0.8"

HOST = None


def setUpModule():
    global HOST
    HOST = UpdateHost().start()
    tc.WORLD = World(profile=PROFILE).__enter__()
    tc.WORLD.map_host(UPDATE_HOST, "127.0.0.1")
    # The prefix outlives the run: nothing a client wrote before may count now.
    for folder in (NETWORK_FOLDER, PROGRAM_FOLDER):
        shutil.rmtree(unix_path(folder), ignore_errors=True)


def tearDownModule():
    if HOST:
        HOST.stop()
    tc.tearDownModule()


def unix_path(windows_path):
    """Where a C:\\ path of the world's prefix lies on this side."""
    drive, _, rest = windows_path.partition(":\\")
    assert drive.upper() == "C", windows_path
    return os.path.join(tc.WORLD.prefix, "drive_c", *rest.split("\\"))


class PhonebookOfTheUser(tc.Session):
    """English UI, English RAS library, the user's AppData under 张伟."""

    def test_1_connect_writes_and_dials_the_users_own_phonebook(self):
        self.ras.configure(states=tc.QUICK_CONNECT)
        self.fill(PROFILE, "密码")
        self.press_connect()
        [dial] = self.wait_calls("RasDialW")
        self.wait_calls("notify", handle=dial["handle"], state=RASCS_CONNECTED)
        self.wait_status(tc.STATE_TEXTS["en"][RASCS_CONNECTED])

        calls = self.ras.calls()
        names = [c.name for c in calls]
        written = names.index("RasSetEntryPropertiesW")
        self.assertLess(written, names.index("RasDialW"), names)
        self.assertEqual(calls[written].result, 0, "the entry was written")
        self.assertEqual(dial.result, 0)
        self.assertEqual((dial["user"], dial["password"]), (PROFILE, "密码"))
        # Every call that names a phonebook names the user's own, as it is spelt.
        named = [(c.name, c.get("phonebook")) for c in calls if "phonebook" in c.fields]
        self.assertIn(("RasSetEntryPropertiesW", PHONEBOOK), named)
        self.assertIn(("RasDialW", PHONEBOOK), named)
        self.assertEqual({path for _, path in named}, {PHONEBOOK}, named)
        # The client made the phonebook's folder, where the user's AppData is.
        self.assertTrue(os.path.isdir(unix_path(PBK_FOLDER)))


class UpdateBesideTheProgram(unittest.TestCase):
    """The client (the build that pins the test signer, named KivoVpn.exe)
    installed in the user's Local AppData."""

    def test_2_the_updater_is_saved_beside_the_program_and_started(self):
        w = tc.WORLD
        stage = os.path.join(w.tmpdir, "stage")
        os.makedirs(stage)
        signed = os.path.join(stage, "KivoUpdate.exe")
        UpdateWorld.sign(os.path.join(w.build_dir, "tests", "doubles", "stand_in_updater.exe"),
                         os.path.join(FIXTURES, "test_signer.pem"), os.path.join(FIXTURES, "test_signer.key"), signed)
        with open(signed, "rb") as f:
            updater = f.read()
        client = os.path.join(stage, "KivoVpn.exe")
        shutil.copy(os.path.join(w.build_dir, "KivoVpn_testsigner.exe"), client)
        HOST.clear()
        HOST.serve(VERSION_PATH, ANNOUNCED)
        HOST.serve(UPDATER_PATH, updater)

        folder = unix_path(PROGRAM_FOLDER)
        app = w.start_program(client, folder=folder)
        # Without an update it would show its window and run on.
        app.wait_exit(45)
        record_path = os.path.join(folder, "updater_record.json")
        wait_until(lambda: os.path.exists(record_path), 20, message="the updater's record")

        def record():
            try:
                with open(record_path, encoding="utf-8") as f:
                    return json.load(f)
            except ValueError:  # still being written
                return None

        started = wait_until(record, 5, message="a complete record")
        self.assertEqual([r.path for r in HOST.requests], [VERSION_PATH, UPDATER_PATH])
        with open(os.path.join(folder, "KivoUpdate.exe"), "rb") as f:
            self.assertEqual(f.read(), updater, "the download saved beside the program")
        updater_path = PROGRAM_FOLDER + "\\KivoUpdate.exe"
        self.assertEqual(started["exe"], updater_path)
        self.assertEqual(started["argv"], [updater_path, "KivoVpn.exe"])
        self.assertEqual(started["command_line"], f'"{updater_path}" "KivoVpn.exe"')
        self.assertEqual(started["cwd"].rstrip("\\"), PROGRAM_FOLDER, "the updater works in the program's folder")


if __name__ == "__main__":
    unittest.main(verbosity=2)
