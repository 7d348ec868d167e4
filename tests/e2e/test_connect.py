#!/usr/bin/python3
"""End-to-end: Connect and the life of a connection.

The unchanged KivoVpn.exe runs under Wine with the RAS double
(tests/doubles/rasapi32) beside it and echo servers of this script's own
namespace for its start-up measurement. Each class below is one start of the
client, one per language of the RAS library (which start-up reads and which
picks the device name of the phonebook entry), and runs its checks in order:

- ConnectEnglish (English UI, English RAS library): the Connect precondition
  while the user types, a refused dial, a full dial through every state, the
  connected link, a hang-up while dialling, Exit.
- ConnectChinese (Chinese UI, Traditional Chinese RAS library): the Chinese
  texts of the same path, credentials outside every code page reaching RAS
  unchanged, the Traditional Chinese device name.
- PhonebookOnConnect (English UI, Simplified Chinese RAS library): the user's
  own phonebook in every call, a catalogue server, the entry's life, the
  phonebook boxes of a redial attempt after a drop.
- Redial (English UI, RAS library without string table): a drop, the redial
  cadence and its budget of ten, Disconnect between two attempts, a late
  notice of the dropped dial while a redial dials, Disconnect ending the
  series, logoff.

The connection's rules themselves (every transition, the redial budget, the
bounded hang-up, late notices, what a message box's own loop may bring) are
unit tests of kivo::vpn::Connection (tests/unit/connection_test.cpp); these
checks prove that the client wires them to the system and the window.

Under Xvfb without a window manager, Wine waits up to 2 s for a hidden
top-level window (the dialog going to the tray, a closed message box)
before the client's thread goes on; checks wait for conditions rather than
for fixed times, and the redial checks keep message boxes away from ticks.

What a check reads: the controls through the driver, the RAS calls the
client made from the double's calls.log (its clock is CLOCK_MONOTONIC_RAW,
harness.ras_double.clock_ms), the stored entry from the double's phonebook,
screenshots of the Exit button compared with the artwork in res/art.
"""

import os
import shutil
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from PIL import Image, ImageChops, ImageDraw  # noqa: E402

from harness import DriverError, World, endpoints, sandbox, wait_until  # noqa: E402
from harness.driver import IDCANCEL, IDOK, VK_RETURN  # noqa: E402
from harness.icmp_responder import SILENT, IcmpResponder, reply  # noqa: E402
from harness.ras_double import RASCS_CONNECTED, RasDouble, clock_ms, record_sizes  # noqa: E402
from harness.resource_ids import (IDB_DISCONNECT_EN, IDB_DISCONNECT_ZH, IDB_EXIT_EN, IDB_EXIT_ZH,  # noqa: E402
                                    ID_TRAY_DISCONNECT, ID_TRAY_EXIT, IDC_FAILURE_DETAILS, IDC_GROUP_CNC,
                                    IDC_INTELLIGENT, IDC_PASSWORD, IDC_STATUS, IDC_USER)

sandbox.enter()

BUILD = os.environ["KIVO_BUILD_DIR"]
SOURCE = os.environ.get("KIVO_SOURCE_DIR") or os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
ART = os.path.join(SOURCE, "res", "art")
ENDPOINTS = endpoints.load(BUILD)
SERVERS = endpoints.servers(BUILD)
CNC1 = ENDPOINTS["ServerCNC1"]
INTELLIGENT = ENDPOINTS["IntelligentHost"]
# Start-up measurement: CNC1 stays silent, so its list entry reads "(--Fail)".
ECHO_DELAYS_MS = (12, 15, None, 20, 25, 30)

WM_NULL = 0x0000
WM_QUERYENDSESSION = 0x0011
WM_ENDSESSION = 0x0016
# Exit button faces: Exit and Disconnect, Chinese and English, and the
# button's window text with each (what a screen reader says).
FACE_EXIT = {"zh": IDB_EXIT_ZH, "en": IDB_EXIT_EN}
FACE_DISCONNECT = {"zh": IDB_DISCONNECT_ZH, "en": IDB_DISCONNECT_EN}
FACE_TEXT = {IDB_EXIT_ZH: "退 出", IDB_EXIT_EN: "Exit", IDB_DISCONNECT_ZH: "断 开", IDB_DISCONNECT_EN: "Disconnect"}
# The user's own phonebook, below the client's application-data folder.
USER_PHONEBOOK = r"\Microsoft\Network\Connections\Pbk\rasphone.pbk"

APP_TITLE = "KivoVpn"
WINDOW_WAIT = 45
POINTER_AWAY = (1000, 740)

# Every state with a text of its own, in script order, and 18 (RASCS_Projected), which has none.
EVERY_STATE = list(range(18)) + [18, 0x1000, 0x1001, 0x1002, 0x1003]
STATE_TEXTS = {
    "en": {
        0: "The communication port is about to be opened",
        1: "The communication port has been opened successfully",
        2: "A device is about to be connected",
        3: "A device has connected successfully",
        4: "All devices in the device chain have successfully connected",
        5: "The authentication process is starting",
        6: "An authentication event has occurred",
        7: "Requested another validation attempt with a new user name/password/domain",
        8: "The remote access server has requested a callback number",
        9: "Requested to change the password on the account",
        10: "The projection phase is starting",
        11: "The link-speed calculation phase is starting",
        12: "An authentication request is being acknowledged",
        13: "Reauthentication (after callback) is starting",
        14: "Successfully completed authentication",
        15: "The line is about to disconnect in preparation for callback",
        16: "The client is delaying in order to give the modem time to reset itself in preparation for callback",
        17: "The client is waiting for an incoming call from the remote access server",
        0x1000: "This state has a value of RASCS_PAUSED and corresponds to the terminal state",
        0x1001: "corresponds to the retry authentication state",
        0x1002: "This state corresponds to the callback state",
        0x1003: "This state corresponds to the change password state",
        0x2000: "Successfully connected",
        0x2001: "Disconnection or failed connection",
    },
    "zh": {
        0: "正在打开端口", 1: "端口已经打开", 2: "连接设备", 3: "已经连接到设备", 4: "已经连接到所有设备",
        5: "验证用户名和口令", 6: "验证用户名和口令", 7: "重新验证用户名和口令", 8: "需要指定回拨号码",
        9: "需要更改用户口令", 10: "开始传输信息包", 11: "计算连接速度", 12: "验证已被认可",
        13: "重新验证用户名和口令", 14: "已通过验证", 15: "准备回拨", 16: "等待调制解调器复位", 17: "等待回拨",
        0x1000: "交互式的", 0x1001: "重新验证用户名和口令", 0x1002: "呼叫者需要应答", 0x1003: "口令过期",
        0x2000: "已经连接", 0x2001: "连接断开",
    },
}
IDLE = {"en": "Disconnection, idle", "zh": "未连接,空闲", "tw": "未連線，閒置"}
DIAL_FAILED = {"en": "Dial failed", "zh": "拨号失败", "tw": "撥號失敗"}
UNKNOWN_ERROR = {"en": "Unknown remote access error,", "zh": "未知的远程访问错误,"}
ERROR_CODE = {"en": "Error code: {}.", "zh": "错误代码为: {}.", "tw": "錯誤代碼為: {}."}
TIP_FORMAT = {
    "en": "Kivoline Connection\nSpeed: {}.{:02d} Mbps\nSend: {} byte\nReceive: {} byte\nIP:   {}\n",
    "zh": "Kivoline 连接\n速度: {}.{:02d} Mbps\n发送: {} 字节\n收到: {} 字节\nIP:   {}\n",
}
ERR_TEST_PHONEBOOK = "Test Kivoline RAS phone fail"
ERR_OPEN_PHONEBOOK = "Open Kivoline phone fail"
ERR_SET_PHONEBOOK = "Setting Kivoline RAS phone fail."

# The entry's fields as the client writes them, but for size, phone and device.
ENTRY_FIELDS = dict(dwfOptions=0x38001010, dwCountryID=86, dwCountryCode=86, dwfNetProtocols=4,
                    dwFramingProtocol=1, szDeviceType="vpn", dwType=2, dwVpnStrategy=2, dwEncryptionType=3)
# The device names, by language of the RAS library (UTF-16 in the record).
DEVICE_ZHTW = "WAN 迷你連接埠 (L2TP)"
DEVICE_ZHCN = "WAN 微型端口 (L2TP)"
DEVICE_ENGLISH = "WAN Miniport (L2TP)"
# The record the client writes (RASENTRYW), and a larger one a system may report.
ENTRY_SIZE = 5616
LARGER_ENTRY_SIZE = 5620
# An entry an earlier run (or another program) left, naming another server.
STALE = dict(szLocalPhoneNumber="203.0.113.250", szDeviceName="Stale device", dwType=2, dwfOptions=0x10)

STEP_MS = 200          # one state of a full dial: long enough for two agreeing reads of the status line
LONG_DIAL = [(0, 80), (1, 60000)]   # dials until hung up
QUICK_CONNECT = [(0, 50), (RASCS_CONNECTED, 50)]
QUICK_FAILURE = dict(states=[(0, 80), (5, 120)], error_state=5, error_code=678)
REDIAL_MS = 3000
CHECK_MS = 1000

WORLD = None
RESPONDER = None


def setUpModule():
    global WORLD, RESPONDER
    RESPONDER = IcmpResponder().start()
    for address, delay in zip(SERVERS, ECHO_DELAYS_MS):
        RESPONDER.set(address, SILENT if delay is None else reply(delay))
    WORLD = World().__enter__()


def tearDownModule():
    if WORLD:
        WORLD.__exit__(None, None, None)
    if RESPONDER:
        RESPONDER.stop()


def tip_text(lang, bps, sent, received, ip):
    # The speed is bits per second times 0.000001, with two decimals.
    hundredths = round(bps / 10000)
    return TIP_FORMAT[lang].format(hundredths // 100, hundredths % 100, sent, received, ip)


def collapse(values):
    out = []
    for value in values:
        if not out or out[-1] != value:
            out.append(value)
    return out


class StatusRecorder:
    """Reads the status line as fast as the driver answers, with the time of
    each reading on the clock of calls.log."""

    def __init__(self, driver, hwnd):
        self.driver = driver
        self.hwnd = hwnd
        self.samples = []
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, name="status-recorder", daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join(30)
        return False

    def _run(self):
        # A text read while the program changes it may come back cut to the
        # old text's length (the length and the text are two messages): a
        # reading counts once two reads in a row agree.
        previous = None
        while not self._stop.is_set():
            t = clock_ms()
            try:
                text = self.driver.text(self.hwnd)
            except DriverError:
                continue
            if previous is not None and text == previous[1]:
                self.samples.append(previous)
            previous = (t, text)

    def first_time_of(self, text, after=0.0):
        for t, value in self.samples:
            if t >= after and value == text:
                return t
        return None


class Session(unittest.TestCase):
    """One start of the client; subclasses name its locale and RAS library."""

    LOCALE = "en_US.UTF-8"
    FLAVOUR = "en"
    LANG = "en"
    RAS_SETUP = {}
    SHOWN = True  # each check begins with the dialog shown

    @classmethod
    def setUpClass(cls):
        cls.world = WORLD
        cls.d = WORLD.driver
        cls.ras = RasDouble(os.path.join(WORLD.run_dir, "ras"))
        cls.ras.reset()
        cls.ras.configure(**cls.RAS_SETUP)
        cls.ras.remove_entry()
        cls.ras.clear_calls()
        cls.app = WORLD.start_app(locale=cls.LOCALE, ras=cls.FLAVOUR)
        cls.hwnd = cls.app.wait_window("Kivoline", visible=True, timeout=WINDOW_WAIT)
        cls.ids = {c["id"]: c["hwnd"] for c in cls.d.children(cls.hwnd)}
        cls.phonebook = cls.d.process_env(cls.app.win_pid)["APPDATA"] + USER_PHONEBOOK

    @classmethod
    def tearDownClass(cls):
        # An idle client ends through Exit, so that it takes its tray icon along.
        try:
            if cls.app.running() and not cls.app.message_boxes() and cls.d.enabled(cls.ids[IDC_USER]):
                cls.d.command(cls.hwnd, IDCANCEL, sync=False)
                cls.app.wait_exit(15)
        except Exception as error:  # noqa: BLE001 - the kill below still cleans up
            print(f"closing the client: {error!r}", file=sys.stderr)
        cls.app.kill()

    def setUp(self):
        self.recover()
        self.ras.reset()
        self.ras.configure(**self.RAS_SETUP)
        self.ras.clear_calls()

    def recover(self):
        """After a failed check: no box, no connection, the dialog shown."""
        if not self.app.running():
            return
        for box in self.boxes():
            self.close_box(box)
        if not self.d.enabled(self.ctl(IDC_USER)):  # dialling or connected: hang up
            self.d.command(self.hwnd, IDCANCEL, sync=False)
            wait_until(lambda: self.d.enabled(self.ctl(IDC_USER)), 15, message="the hang-up")
        if self.SHOWN and not self.visible():
            self.show_from_tray()

    # --- controls ---------------------------------------------------------
    def ctl(self, control_id):
        return self.ids[control_id]

    def status(self):
        return self.d.text(self.ctl(IDC_STATUS))

    def wait_status(self, text, timeout=5):
        wait_until(lambda: self.status() == text, timeout, message=f"status {text!r}")

    def inputs(self):
        """Whether Connect, the user field and the password field are enabled."""
        return tuple(self.d.enabled(self.ctl(i)) for i in (IDOK, IDC_USER, IDC_PASSWORD))

    def wait_inputs(self, enabled, timeout=10):
        wait_until(lambda: self.inputs() == (enabled,) * 3, timeout, message=f"inputs enabled={enabled}")

    def fill(self, user="alice", password="secret"):
        self.d.set_text(self.ctl(IDC_USER), user)
        self.d.set_text(self.ctl(IDC_PASSWORD), password)

    def press_connect(self):
        self.d.click(self.ctl(IDOK))

    def press_exit(self):
        self.d.click(self.ctl(IDCANCEL))

    def round_trip(self):
        """Returns once the dialog's thread has handled everything it had
        started (a sent message waits for a handler that runs no message loop)."""
        self.d.send(self.hwnd, WM_NULL, timeout=15000)

    def visible(self):
        return self.d.visible(self.hwnd)

    # --- message boxes ------------------------------------------------------
    def boxes(self):
        # A window that closes while the driver describes it is no box any more.
        for _ in range(20):
            try:
                return self.app.message_boxes()
            except DriverError as error:
                if error.code != "no_window":
                    raise
        return self.app.message_boxes()

    def assert_no_box(self):
        boxes = self.boxes()
        self.assertEqual(boxes, [], "no message box expected")
        return True

    def wait_box(self, caption, message, icon=None, timeout=10):
        """The box with this caption, once it shows; checks its text, its
        buttons (OK; a dial failure's box adds Details) and (unless icon is
        None) whether it shows the error icon."""
        box = wait_until(lambda: [b for b in self.boxes() if b["caption"] == caption], timeout,
                         message=f"a message box {caption!r}")[0]
        self.assertEqual(box["message"], message)
        if icon is not None:
            self.assertEqual(self.red_icon(box), icon, "error icon" if icon else "no icon")
        buttons = [IDOK, IDC_FAILURE_DETAILS] if caption in DIAL_FAILED.values() else [IDOK]
        self.assertEqual([b["id"] for b in box["buttons"]], buttons, box["buttons"])
        return box

    def red_icon(self, box):
        """Whether the box shows the (red) error icon. Wine keeps the icon
        control of a box without icon, empty, so its pixels tell."""
        icons = [c for c in self.d.children(box["hwnd"]) if c["class"] == "Static" and c["style"] & 0x1F == 3]
        if not icons:
            return False
        shot = self.world.screenshot(rect=tuple(icons[0]["rect"]))
        red = sum(1 for r, g, b in shot.getdata() if r > 150 and g < 90 and b < 90)
        return red > shot.width * shot.height // 8

    def close_box(self, box):
        self.d.click(box["buttons"][0]["hwnd"])
        wait_until(lambda: all(b["hwnd"] != box["hwnd"] for b in self.boxes()), 10, message="the box to close")

    # --- RAS calls ----------------------------------------------------------
    def calls(self, name=None, after=0.0, **match):
        return [c for c in self.ras.calls(name) if c.t > after and all(c.get(k) == v for k, v in match.items())]

    def wait_calls(self, name, count=1, after=0.0, timeout=10, check=None, **match):
        """The first `count` calls named `name` after `after` (once there are
        that many); `check` runs on every poll (e.g. no message box)."""
        def ready():
            if check:
                check()
            found = self.calls(name, after, **match)
            return found[:count] if len(found) >= count else None
        return wait_until(ready, timeout, message=f"{count} x {name} {match or ''}")

    def dial(self):
        """The one RasDialW of this check."""
        dials = self.calls("RasDialW")
        self.assertEqual(len(dials), 1, [d.fields for d in dials])
        return dials[0]

    # --- screen ---------------------------------------------------------------
    def face_is(self, bitmap_id):
        """The Exit button shows this face: its artwork, but for the dotted
        focus mark three pixels in, drawn while the button has the focus."""
        shot = self.world.screenshot(rect=self.d.rect(self.ctl(IDCANCEL)))
        art = Image.open(os.path.join(ART, f"{bitmap_id}.bmp")).convert("RGB")
        if shot.size != art.size:
            return False
        difference = ImageChops.difference(shot, art).convert("L")
        ImageDraw.Draw(difference).rectangle((3, 3, art.width - 4, art.height - 4), outline=0)
        return difference.getbbox() is None

    def pointer_away(self):
        # Off the dialog, so that no button shows its hover face (xdotool
        # waits for a motion that never comes when the pointer is there).
        if self.world.screen.mouse_position() != POINTER_AWAY:
            self.world.mouse_move(*POINTER_AWAY)

    def assert_exit_face(self, bitmap_id):
        self.pointer_away()
        wait_until(lambda: self.face_is(bitmap_id), 5, message=f"the Exit button showing bitmap {bitmap_id}")
        self.assertEqual(self.d.text(self.ctl(IDCANCEL)), FACE_TEXT[bitmap_id], "the text of the face")

    # --- tray -------------------------------------------------------------------
    def tray_icon(self):
        icons = [i for i in self.d.tray()["icons"] if (i["tip"] or "").startswith("Kivoline")]
        self.assertEqual(len(icons), 1, icons)
        return icons[0]["hwnd"]

    def assert_tray_tip(self, expected):
        """The tip the tray shows once the pointer moves over the icon."""
        self.d.tray_hover(self.tray_icon())
        wait_until(lambda: self.tray_icon_tip() == expected, 5,
                   message=f"tray tip {expected!r} (last {self.tray_icon_tip()!r})")

    def tray_icon_tip(self):
        icons = [i for i in self.d.tray()["icons"] if (i["tip"] or "").startswith("Kivoline")]
        return icons[0]["tip"] if icons else None

    def show_from_tray(self):
        self.d.tray_click(self.tray_icon(), "left")
        wait_until(self.visible, 10, message="the dialog shown again")

    # --- shared paths -------------------------------------------------------
    def assert_entry(self, phone, device, size=ENTRY_SIZE, devinfo_size=0):
        """The stored entry is the tabled record and nothing else; its size is
        the one the size query reported."""
        size_query = [c for c in self.calls("RasGetEntryPropertiesW") if c.get("record") is None][-1]
        self.assertEqual(size_query.get("size_out"), size)
        entry = self.ras.entry()
        self.assertIsNotNone(entry, "the entry exists while dialling")
        self.assertEqual(entry, dict(ENTRY_FIELDS, dwSize=size, szLocalPhoneNumber=phone, szDeviceName=device))
        expected = RasDouble.build_entry(**dict(ENTRY_FIELDS, dwSize=size, szLocalPhoneNumber=phone,
                                                szDeviceName=device))
        self.assertEqual(self.ras.entry_bytes(), expected.ljust(size, b"\0"), "no other field is set")
        self.assertEqual(self.ras.devinfo(), b"\0" * devinfo_size)
        [written] = self.calls("RasSetEntryPropertiesW")
        self.assertEqual((written["entry"], written["size"], written["devinfo_size"]),
                         ("Kivoline", size, devinfo_size))
        self.assertEqual(written["devinfo"] is None, devinfo_size == 0)

    def assert_idle_after(self):
        self.wait_inputs(True)
        self.wait_status(IDLE[self.LANG])
        self.assertIsNone(self.ras.entry(), "no entry is left behind")

    def hang_up_with_exit(self, handle):
        self.press_exit()
        self.wait_calls("RasHangUpW", handle=handle)
        self.assert_idle_after()

    def full_dial(self, final_state, user, password, setup):
        """Connect with a script that reports every state STEP_MS apart and then
        `final_state`; returns the dial, its notifications and what the inputs
        and the phonebook held while it dialled. Checks that the status line
        showed each state's text, in order, each after its notification."""
        lang = self.LANG
        steps = [(state, STEP_MS) for state in EVERY_STATE + [final_state]]
        self.ras.configure(states=steps, **setup)
        self.fill(user, password)
        self.wait_inputs(True)
        with StatusRecorder(self.d, self.ctl(IDC_STATUS)) as recorder:
            self.press_connect()
            [dial] = self.wait_calls("RasDialW")
            while_dialling = {"inputs": self.inputs(), "entry": self.ras.entry()}
            notes = self.wait_calls("notify", count=len(steps), timeout=len(steps) * STEP_MS / 1000 + 15,
                                    handle=dial["handle"])
            wait_until(lambda: not self.visible(), 10, message="the dialog to hide")
            wait_until(lambda: recorder.samples and recorder.samples[-1][0] > notes[-1].t, 10)
        self.assertEqual([(n["state"], n["error"]) for n in notes], [(s, 0) for s, _ in steps])
        texts = STATE_TEXTS[lang]
        expected = [IDLE[lang]] + [texts.get(state, "") for state, _ in steps]
        seen = collapse(value for _, value in recorder.samples)
        self.assertEqual(seen, collapse(expected), "the status line followed the script")
        for note, text in zip(notes, expected[1:]):
            first = recorder.first_time_of(text, after=note.t - 1)
            self.assertIsNotNone(first, f"{text!r} after the notification of state {note['state']}")
        return dial, notes, while_dialling

    def assert_connected(self, dial, notes, projection_ip):
        """The connected path: IP read, entry deleted, dialog hidden, check timer."""
        connected = notes[-1]
        [projection] = self.calls("RasGetProjectionInfoW", after=connected.t - 1)
        self.assertEqual((projection["handle"], projection["projection"], projection["dwSize"], projection["size"]),
                         (dial["handle"], 0x8021, 80, 80))
        self.assertEqual((projection.result, projection["ip"]), (0, projection_ip))
        self.assertEqual([c.result for c in self.calls("RasDeleteEntryW", after=connected.t - 1)], [0])
        self.assertIsNone(self.ras.entry())
        self.assertFalse(self.visible())
        # The check: one status query a second on the connection's handle.
        ticks = self.wait_calls("RasGetConnectStatusW", count=4, after=connected.t, timeout=10,
                                handle=dial["handle"])
        gaps = [b.t - a.t for a, b in zip(ticks, ticks[1:])]
        self.assertTrue(all(0.8 * CHECK_MS <= g <= 1.25 * CHECK_MS for g in gaps), gaps)
        self.assertLess(abs(sum(gaps) / len(gaps) - CHECK_MS), 0.1 * CHECK_MS, gaps)
        self.assertTrue(all(t["dwSize"] == 564 and t.result == 0 for t in ticks))
        return ticks

    def assert_check_stopped(self, since):
        time.sleep(1.4 * CHECK_MS / 1000)
        self.assertEqual(self.calls("RasGetConnectStatusW", after=since), [], "the check timer has stopped")

    def assert_dial_params(self, dial, user, password):
        self.assertEqual((dial["dwSize"], dial["entry"], dial["phone"], dial["callback"], dial["domain"]),
                         (record_sizes()["RASDIALPARAMSW"], "Kivoline", "", "", ""))
        self.assertEqual((dial["user"], dial["password"]), (user, password))
        # A notifier of type 2, whose callback id is the window the notices go to.
        self.assertEqual((dial["subentry"], dial["callback_id"], dial["notifier_type"]), (0, self.hwnd, 2))
        self.assertIsNone(dial["extensions"])
        self.assertEqual(dial["phonebook"], self.phonebook, "the user's own phonebook")
        self.assertEqual(dial["handle_in"], 0)


class ConnectEnglish(Session):
    """English UI, English RAS library (1033)."""

    def test_01_connect_needs_both_fields_as_the_user_types(self):
        user, password, connect = self.ctl(IDC_USER), self.ctl(IDC_PASSWORD), self.ctl(IDOK)

        def typed(control, keys=(), text=None, expect=None):
            left, top, right, bottom = self.d.rect(control)
            centre = ((left + right) // 2, (top + bottom) // 2)
            if self.world.screen.mouse_position() == centre:
                self.world.mouse_move(centre[0] + 3, centre[1])  # a click needs a move first
            self.world.mouse_click(*centre)
            if keys:
                self.world.screen.key(*keys)
            if text:
                self.world.screen.type(text)
            wait_until(lambda: self.d.text(control) == expect, 5, message=f"field text {expect!r}")
            return self.d.enabled(connect)

        self.assertFalse(self.d.enabled(connect), "Connect starts disabled")
        self.assertFalse(typed(user, text="a", expect="a"), "password still empty")
        self.assertTrue(typed(password, text="k", expect="k"))
        self.assertFalse(typed(user, keys=("End", "BackSpace"), expect=""), "user cleared")
        self.assertTrue(typed(user, text=" ", expect=" "), "a single blank counts as filled")
        self.assertFalse(typed(password, keys=("End", "BackSpace"), expect=""), "password cleared")
        self.assertTrue(typed(password, text="k2", expect="k2"), "typed again")
        # The same through WM_SETTEXT, which makes the edits report a change too.
        for user_text, password_text, enabled in (("", "k2", False), ("bob", "k2", True), ("bob", "", False),
                                                  ("", "", False), (" ", " ", True)):
            self.d.set_text(user, user_text)
            self.d.set_text(password, password_text)
            self.assertEqual(self.d.enabled(connect), enabled, (user_text, password_text))

        # Enter in the user field with the password empty, and IDOK sent to
        # the dialog as the dialog manager would: no dial, nothing written.
        self.d.set_text(user, "bob")
        self.d.set_text(password, "")
        typed(user, keys=("End", "Return"), expect="bob")
        self.d.command(self.hwnd, IDOK)
        self.round_trip()
        time.sleep(0.3)
        self.assertEqual(self.ras.calls(), [], "Connect did nothing")
        self.assertIsNone(self.ras.entry())
        self.assertEqual(self.status(), IDLE["en"])

    def test_02_refused_dial_without_a_text(self):
        self.ras.configure(dial_result=1234)
        self.fill()
        self.press_connect()
        box = self.wait_box(DIAL_FAILED["en"], "Unknown remote access error,Error code: 1234.", icon=True)
        self.assertEqual(box["owner"], self.hwnd)
        self.assertEqual(self.inputs(), (False, False, False), "disabled until the box is closed")
        self.close_box(box)
        self.assert_idle_after()
        dial = self.dial()
        self.assertEqual((dial.result, dial.get("handle")), (1234, None))
        self.assertEqual(self.calls("RasHangUpW"), [], "no handle, no hang-up")
        self.assertEqual([c.result for c in self.calls("RasDeleteEntryW", after=dial.t)], [0], "entry deleted")
        self.assertTrue(self.visible())

    def test_04_full_dial_connects_and_hangs_up_from_the_disconnect_face(self):
        user = "".join(chr(ord("a") + i % 26) for i in range(300))
        password = "".join(str(i % 10) for i in range(300))
        setup = dict(projection_ip="10.77.3.9", stats_bps=1234567, stats_sent=4000000000, stats_received=17)
        dial, notes, during = self.full_dial(RASCS_CONNECTED, user, password, setup)
        self.assert_dial_params(dial, user[:255], password[:255])
        self.assertEqual(during["inputs"], (False, False, False), "inputs disabled while dialling")
        self.assertEqual(during["entry"], dict(ENTRY_FIELDS, dwSize=ENTRY_SIZE, szLocalPhoneNumber=INTELLIGENT,
                                               szDeviceName=DEVICE_ENGLISH))
        self.assert_connected(dial, notes, "10.77.3.9")
        self.assert_tray_tip(tip_text("en", 1234567, 4000000000, 17, "10.77.3.9"))

        self.show_from_tray()
        self.assertEqual(self.status(), STATE_TEXTS["en"][RASCS_CONNECTED])
        self.assertEqual(self.inputs(), (False, False, False))
        self.assert_exit_face(FACE_DISCONNECT["en"])
        self.press_exit()
        self.wait_calls("RasHangUpW", handle=dial["handle"])
        self.assert_idle_after()
        self.assert_exit_face(FACE_EXIT["en"])
        self.assertTrue(self.visible())
        self.assert_check_stopped(clock_ms())
        self.assert_tray_tip("Kivoline")  # no statistics without a connection

    def test_05_hang_up_while_dialling(self):
        self.ras.configure(states=LONG_DIAL)
        self.fill()
        self.press_connect()
        [dial] = self.wait_calls("RasDialW")
        self.wait_status(STATE_TEXTS["en"][0])
        self.assert_entry(INTELLIGENT, DEVICE_ENGLISH)
        self.assert_exit_face(FACE_DISCONNECT["en"])
        # Enter and IDOK while dialling do not dial a second time.
        self.d.key(self.ctl(IDC_USER), VK_RETURN)
        self.d.command(self.hwnd, IDOK)
        self.round_trip()
        self.assertEqual(len(self.calls("RasDialW")), 1)
        self.assertEqual(len(self.calls("RasSetEntryPropertiesW")), 1)

        self.hang_up_with_exit(dial["handle"])
        self.assertTrue(self.visible())
        self.assert_exit_face(FACE_EXIT["en"])

    def test_07_exit_without_a_handle_ends_the_program(self):
        # Follows the hang-up while dialling.
        self.assertEqual(self.inputs(), (True, True, True))
        self.press_exit()
        self.assertEqual(self.app.wait_exit(15), 0)
        self.assertEqual(self.calls("RasHangUpW"), [])
        self.assertIsNone(self.ras.entry())


class ConnectChinese(Session):
    """Chinese UI (2052), Traditional Chinese RAS library (1028): the device
    name follows the RAS library, not the UI."""

    LOCALE = "zh_CN.UTF-8"
    FLAVOUR = "zhtw"
    LANG = "zh"

    def test_01_full_dial_in_chinese(self):
        setup = dict(stats_bps=54000000, stats_sent=2048, stats_received=8192)
        # Credentials reach RAS unchanged: Latin, Pinyin and Han letters that
        # no single ANSI code page holds together.
        dial, notes, during = self.full_dial(RASCS_CONNECTED, "zhāng.张", "pässwörd密", setup)
        self.assert_dial_params(dial, "zhāng.张", "pässwörd密")
        self.assertEqual(during["entry"], dict(ENTRY_FIELDS, dwSize=ENTRY_SIZE, szLocalPhoneNumber=INTELLIGENT,
                                               szDeviceName=DEVICE_ZHTW))
        self.assert_connected(dial, notes, "10.8.0.6")
        self.assert_tray_tip(tip_text("zh", 54000000, 2048, 8192, "10.8.0.6"))
        self.show_from_tray()
        self.assertEqual(self.status(), "已经连接")
        self.assert_exit_face(FACE_DISCONNECT["zh"])

        # The tray menu's Disconnect item hangs up.
        self.d.tray_click(self.tray_icon(), "right")
        menu = wait_until(self.d.popup_menus, 10, message="the tray menu")[0]
        states = {item["id"]: item["grayed"] for item in menu["items"]}
        self.assertEqual((states[ID_TRAY_DISCONNECT], states[ID_TRAY_EXIT]), (False, True))
        self.d.menu_choose([item["id"] for item in menu["items"]].index(ID_TRAY_DISCONNECT))
        self.wait_calls("RasHangUpW", handle=dial["handle"])
        self.assert_idle_after()
        self.assert_exit_face(FACE_EXIT["zh"])
        self.assert_check_stopped(clock_ms())

    def test_02_refused_dial_in_chinese(self):
        self.ras.configure(dial_result=1234)
        self.fill()
        self.press_connect()
        box = self.wait_box("拨号失败", "未知的远程访问错误,错误代码为: 1234.", icon=True)
        self.close_box(box)
        self.assert_idle_after()

class PhonebookOnConnect(Session):
    """English UI, Simplified Chinese RAS library (2052), a record size and a
    device-info size other than the defaults, and CNC1 chosen in its list."""

    FLAVOUR = "zhcn"
    RAS_SETUP = dict(entry_size=LARGER_ENTRY_SIZE, devinfo_size=16)

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        combo = cls.ids[IDC_GROUP_CNC]
        items = cls.d.combo_items(combo)
        cls.d.combo_select(combo, [i for i, text in enumerate(items) if text.startswith("CNC1(")][0])
        cls.cnc1_item = cls.d.combo_text(combo)

    def setUp(self):
        super().setUp()
        self.ras.remove_entry()
        self.fill()

    def connect_and_hang_up(self, entry=None):
        """Connect, dial until hung up; returns the dial."""
        self.ras.configure(states=LONG_DIAL)
        self.press_connect()
        [dial] = self.wait_calls("RasDialW")
        self.wait_status(STATE_TEXTS["en"][0])
        if entry:
            entry()
        self.press_exit()
        self.wait_calls("RasHangUpW", handle=dial["handle"])
        self.wait_inputs(True)
        self.wait_status(IDLE["en"])
        return dial

    def test_00_every_call_names_the_users_own_phonebook(self):
        """Validation, the size query, the write, the dial and the deletion
        all name the user's phonebook (the default one, for all users, needs
        an administrator to write), whose missing folder the write makes."""
        prefix_path = self.phonebook[3:].replace("\\", "/")  # C:\users\... below drive_c
        folder = os.path.dirname(os.path.join(self.world.prefix, "drive_c", prefix_path))
        shutil.rmtree(os.path.dirname(os.path.dirname(folder)), ignore_errors=True)  # ...\Microsoft\Network
        self.connect_and_hang_up()
        calls = [c for c in self.ras.calls() if "phonebook" in c.fields]
        self.assertEqual({c.name for c in calls}, {"RasValidateEntryNameW", "RasGetEntryPropertiesW",
                                                   "RasSetEntryPropertiesW", "RasDialW", "RasDeleteEntryW"})
        self.assertEqual({c["phonebook"] for c in calls}, {self.phonebook})
        self.assertEqual(self.calls("RasSetEntryPropertiesW")[0].result, 0)
        self.assertTrue(os.path.isdir(folder), folder)

    def test_01_catalogue_server_entry(self):
        self.assertEqual(self.cnc1_item, "CNC1(--Fail)")
        dial = self.connect_and_hang_up(lambda: self.assert_entry(CNC1, DEVICE_ZHCN, size=LARGER_ENTRY_SIZE,
                                                                  devinfo_size=16))
        self.assertEqual((dial["entry_phone"], dial["entry_device"]), (CNC1, DEVICE_ZHCN))
        self.assertIsNone(self.ras.entry(), "deleted at the hang-up")

    def test_02_stale_entry_is_deleted_and_written_anew(self):
        self.ras.plant_entry(dwSize=LARGER_ENTRY_SIZE, **STALE)
        dial = self.connect_and_hang_up(lambda: self.assert_entry(CNC1, DEVICE_ZHCN, size=LARGER_ENTRY_SIZE,
                                                                  devinfo_size=16))
        before = [c for c in self.ras.calls() if c.t < dial.t]
        self.assertEqual([(c.name, c.result) for c in before][:3],
                         [("RasValidateEntryNameW", 183), ("RasDeleteEntryW", 0), ("RasValidateEntryNameW", 0)])
        self.assertEqual(dial["entry_phone"], CNC1)

    def test_03_entry_that_cannot_be_deleted_is_dialled_unchanged(self):
        self.ras.configure(delete_fails=1)
        self.ras.plant_entry(dwSize=LARGER_ENTRY_SIZE, **STALE)
        stale = self.ras.entry_bytes()
        dial = self.connect_and_hang_up()
        self.assertEqual(self.calls("RasSetEntryPropertiesW"), [], "not rewritten")
        [read] = [c for c in self.calls("RasGetEntryPropertiesW") if c.get("record") is not None]
        self.assertEqual((read["entry"], read["dwSize"], read["size"], read.result),
                         ("Kivoline", LARGER_ENTRY_SIZE, LARGER_ENTRY_SIZE, 0))
        self.assertEqual((dial["entry_phone"], dial["entry_device"]), ("203.0.113.250", "Stale device"))
        self.assertEqual(self.ras.entry_bytes(), stale)

    def test_05_phonebook_failures_when_redialling(self):
        """A redial attempt after a drop (the redial timer's tick) reports
        each phonebook failure, dials nothing while its box is open, and then
        dials all the same, with the server and credentials of the Connect
        that began the series."""

        def attempt(setup, plant, box_text):
            self.ras.remove_entry()
            self.ras.reset()
            self.ras.configure(**dict(self.RAS_SETUP, states=QUICK_CONNECT, drop_after_ms=300, drop_status=6))
            self.ras.clear_calls()
            self.fill()
            self.wait_inputs(True)
            self.d.command(self.hwnd, IDOK, sync=False)
            [connect_dial] = self.wait_calls("RasDialW")
            [connected] = self.wait_calls("notify", handle=connect_dial["handle"], state=RASCS_CONNECTED)
            self.wait_calls("RasDeleteEntryW", after=connected.t)  # the entry goes once connected
            self.fill("mallory", "other")  # other fields: the series keeps Connect's
            self.ras.configure(states=LONG_DIAL, **setup)
            if plant:
                self.ras.plant_entry(dwSize=LARGER_ENTRY_SIZE, **STALE)
            if box_text:
                box = self.wait_box(APP_TITLE, box_text, icon=False, timeout=REDIAL_MS / 1000 + 5)
                self.assertEqual(self.calls("RasDialW", after=connect_dial.t), [], "no dial while the box is open")
                self.close_box(box)
            [dial] = self.wait_calls("RasDialW", after=connect_dial.t, timeout=REDIAL_MS / 1000 + 5)
            self.assertEqual((dial["user"], dial["password"]), (connect_dial["user"], connect_dial["password"]))
            self.wait_inputs(False)
            self.wait_status(STATE_TEXTS["en"][0])
            self.d.command(self.hwnd, IDCANCEL, sync=False)  # Disconnect ends the series
            self.wait_calls("RasHangUpW", handle=dial["handle"])
            self.wait_inputs(True)
            self.wait_status(IDLE["en"])
            self.show_from_tray()
            return dial

        with self.subTest("no failure: the entry names the server Connect dialled"):
            attempt({}, False, None)
            self.assertEqual(self.calls("RasSetEntryPropertiesW")[-1]["phone"], CNC1)
        with self.subTest("entry still present, size query fails: box, dial anyway"):
            dial = attempt(dict(delete_fails=1, size_query_result=5), True, ERR_TEST_PHONEBOOK)
            self.assertEqual(dial["entry_phone"], "203.0.113.250")
        with self.subTest("entry still present, reading it fails: box, dial anyway"):
            dial = attempt(dict(delete_fails=1, get_result=5), True, ERR_OPEN_PHONEBOOK)
            self.assertEqual(dial["entry_phone"], "203.0.113.250")
        with self.subTest("writing fails: box, dial anyway"):
            dial = attempt(dict(set_result=5, dial_requires_entry=0), False, ERR_SET_PHONEBOOK)
            self.assertIsNone(dial.get("entry_phone"))

class Redial(Session):
    """English UI, RAS library without string table (language 0): drops and
    automatic redial. The dialog stays hidden after its first connection."""

    FLAVOUR = "none"
    SHOWN = False

    def connect(self, **setup):
        """Connect (IDOK posted: the dialog may be hidden) with a script that
        connects at once; returns the dial and its connected notification."""
        self.ras.configure(**setup)
        self.fill()
        self.wait_inputs(True)
        self.d.command(self.hwnd, IDOK, sync=False)
        [dial] = self.wait_calls("RasDialW")
        [connected] = self.wait_calls("notify", handle=dial["handle"], state=RASCS_CONNECTED)
        wait_until(lambda: not self.visible(), 10, message="the dialog to hide")
        return dial, connected

    def wait_drop(self, handle, **match):
        return self.wait_calls("RasGetConnectStatusW", handle=handle, timeout=15, **match)[0]

    def dials_after(self, t):
        return self.calls("RasDialW", after=t)

    def test_01_ten_redials_after_a_drop(self):
        dial, _ = self.connect(states=QUICK_CONNECT, drop_after_ms=300, drop_status=6)
        self.assertEqual(dial["entry_device"], DEVICE_ENGLISH)
        self.ras.configure(**QUICK_FAILURE)
        drop = self.wait_drop(dial["handle"], result=6)
        self.wait_calls("RasHangUpW", after=drop.t - 1, handle=dial["handle"])  # released, though gone
        self.wait_status(IDLE["en"])
        self.assertEqual(self.inputs(), (False, False, False))

        # Attempts 1 to 10, one per tick; the fifth still dials at the sixth
        # tick, which then only counts. No box until the tenth has failed.
        dials = []
        for n in range(1, 10):
            if n == 5:
                self.ras.configure(states=[(0, 80), (5, 4200)])
            if n == 6:
                self.ras.configure(**QUICK_FAILURE)
            after = dials[-1].t if dials else drop.t
            timeout = (2 if n == 6 else 1) * REDIAL_MS / 1000 + 3
            dials += self.wait_calls("RasDialW", after=after, timeout=timeout, check=self.assert_no_box)
        slow_failure = self.calls("notify", handle=dials[4]["handle"], error=678)
        self.assertTrue(slow_failure and slow_failure[0].t - dials[4].t > REDIAL_MS + 300,
                        "the fifth attempt was still dialling at the sixth tick")
        written = [c for c in self.calls("RasSetEntryPropertiesW", after=dials[4].t) if c.t < dials[5].t - 1000]
        self.assertEqual(written, [], "the sixth attempt wrote no entry")

        box = self.wait_box(DIAL_FAILED["en"], "The remote computer did not respond.Error code: 678.", icon=True,
                            timeout=REDIAL_MS / 1000 + 3)
        self.assertEqual(self.inputs(), (False, False, False))
        self.close_box(box)
        self.assert_idle_after()
        wait_until(lambda: clock_ms() > dials[-1].t + 1.5 * REDIAL_MS, 10)
        self.assertEqual(self.dials_after(dials[-1].t), [], "the timer stopped after the tenth attempt")
        self.assertEqual(len(dials), 9, "ten attempts, one of which only counted")
        self.assertFalse(self.visible(), "the dialog stayed hidden")

        gaps = [round(b.t - a.t) for a, b in zip(dials, dials[1:])]
        expected = [REDIAL_MS] * 4 + [2 * REDIAL_MS] + [REDIAL_MS] * 3
        first = dials[0].t - drop.t
        self.assertTrue(abs(first - REDIAL_MS) <= 0.1 * REDIAL_MS, f"first attempt {first:.0f} ms after the drop")
        for gap, want in zip(gaps, expected):
            self.assertTrue(abs(gap - want) <= 0.1 * REDIAL_MS, f"gaps {gaps}, expected {expected}")
        for d in dials:
            self.assertEqual((d["user"], d["password"], d["entry_phone"]), ("alice", "secret", INTELLIGENT))
        print(f"\n  redial gaps {gaps} ms, first {first:.0f} ms after the drop", file=sys.stderr)

    def test_02_disconnect_while_waiting_to_redial_leaves_the_client_idle(self):
        dial, _ = self.connect(states=QUICK_CONNECT, drop_after_ms=300, drop_status=6)
        drop = self.wait_drop(dial["handle"], result=6)
        self.wait_calls("RasHangUpW", after=drop.t - 1, handle=dial["handle"])
        self.wait_status(IDLE["en"])
        self.assertEqual(self.inputs(), (False, False, False), "waiting between redials")
        # Disconnect (the button's command, as the tray's item sends it)
        # before the first tick.
        self.d.command(self.hwnd, IDCANCEL, sync=False)
        self.wait_inputs(True)
        self.round_trip()
        self.assertEqual(self.dials_after(drop.t), [], "Disconnect came before the first tick")
        wait_until(lambda: clock_ms() > drop.t + 2 * REDIAL_MS, 10)
        self.round_trip()
        self.assertTrue(self.app.running(), "the client stays")
        self.assertEqual(self.status(), IDLE["en"])
        self.assertEqual(self.dials_after(drop.t), [], "no attempt after the user's Disconnect")
        self.tray_icon()

    def test_03_late_notice_while_a_redial_dials_and_disconnect_ending_the_series(self):
        # The dropped dial's script plays on and reports "connected" again
        # while the redial attempt dials: the notice is not the attempt's.
        late_ms = 8000
        dial, connected = self.connect(states=QUICK_CONNECT + [(RASCS_CONNECTED, late_ms)], drop_after_ms=300,
                                       drop_status=6)
        self.ras.configure(states=LONG_DIAL)
        drop = self.wait_drop(dial["handle"], result=6)
        [redial] = self.wait_calls("RasDialW", after=drop.t, timeout=REDIAL_MS / 1000 + 3)
        [late] = self.wait_calls("notify", after=redial.t, handle=dial["handle"], timeout=late_ms / 1000 + 5)
        self.round_trip()
        time.sleep(1.4 * CHECK_MS / 1000)
        self.assertEqual(self.calls("RasGetProjectionInfoW", after=late.t), [], "not taken for a connection")
        self.assertEqual(self.calls("RasGetConnectStatusW", after=late.t), [], "no check started")
        self.assertEqual(self.status(), STATE_TEXTS["en"][0])
        # Disconnect (the tray item's command) while the attempt dials ends the series.
        self.d.command(self.hwnd, IDCANCEL, sync=False)
        self.wait_calls("RasHangUpW", handle=redial["handle"])
        self.assert_idle_after()
        time.sleep(1.5 * REDIAL_MS / 1000)
        self.assertEqual(self.dials_after(redial.t), [], "no attempt after the user's Disconnect")

    def test_04_logoff_hangs_up_deletes_the_entry_and_takes_the_icon_away(self):
        """Windows may end the process any time after WM_ENDSESSION returns,
        and the destructor then never runs: by then the dial is hung up, the
        entry deleted and the tray icon gone."""
        self.ras.configure(states=LONG_DIAL)
        self.fill()
        self.wait_inputs(True)
        self.d.command(self.hwnd, IDOK, sync=False)
        [dial] = self.wait_calls("RasDialW")
        self.assertIsNotNone(self.ras.entry())
        self.tray_icon()
        self.assertNotEqual(self.d.send(self.hwnd, WM_QUERYENDSESSION), 0, "the session may end")
        self.assertEqual(self.calls("RasHangUpW"), [], "asking changes nothing")
        self.d.send(self.hwnd, WM_ENDSESSION, 1, timeout=15000)
        self.assertEqual([c["handle"] for c in self.calls("RasHangUpW")], [dial["handle"]])
        self.assertIsNone(self.ras.entry(), "the entry is deleted")
        self.assertEqual([i for i in self.d.tray()["icons"] if (i["tip"] or "").startswith("Kivoline")], [],
                         "the tray icon is gone")
        self.assertEqual(self.app.wait_exit(20), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
