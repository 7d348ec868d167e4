"""What the server-choice tests and the performance benchmark share: echo
servers and a Wine world, the client's main dialog and its performance
dialog operated as a user operates them (the real pointer and keyboard
through xdotool), and what Connect dials as the RAS double records it.

    with EchoWorld() as ew:
        ew.answer_all(5)
        client = ew.start_client("en_US.UTF-8")
        client.drop_down(IDC_CNC)          # the list opens under the pointer
        client.choose_dropped(IDC_CNC, "CNC2")
        client.dial()                      # "198.51.100.22"
        perf = client.open_performance()   # dialog 810, testing at once
        perf.click(IDC_STOP_TEST)
        perf.wait_idle()

Must run sealed (harness.sandbox.enter() first): the responder changes the
namespace's routes.
"""

import os
import time

from harness import DriverError, World, endpoints, wait_until
from harness.icmp_responder import SILENT, IcmpResponder, reply
from harness.resource_ids import (IDC_GROUP_CNC as IDC_CNC, IDC_GROUP_CT as IDC_CT,
                                    IDC_GROUP_OTHER as IDC_OTHER, IDC_INTELLIGENT, IDC_NETPERF, IDC_PASSWORD,
                                    IDC_SERVER_LIST, IDC_STATUS, IDC_STOP_TEST, IDC_TEST_AGAIN, IDC_USER)

BUILD = os.environ["KIVO_BUILD_DIR"]
VALUES = endpoints.load(BUILD)
SERVERS = endpoints.servers(BUILD)
CT1, CT2, CNC1, CNC2, OTHER1, OTHER2 = SERVERS
INTELLIGENT_HOST = VALUES["IntelligentHost"]
NAMES_EN = ("CT1", "CT2", "CNC1", "CNC2", "Other1", "Other2")
NAMES_ZH = ("电信1", "电信2", "网通1", "网通2", "其它1", "其它2")
ADDRESS_OF = dict(zip(NAMES_EN, SERVERS)) | dict(zip(NAMES_ZH, SERVERS))

# Main dialog.
IDOK, IDCANCEL = 1, 2
GROUP_COMBOS = (IDC_CT, IDC_CNC, IDC_OTHER)
# Performance dialog.
TESTING = {IDC_TEST_AGAIN: False, IDC_STOP_TEST: True, IDOK: False, IDCANCEL: False}
IDLE = {key: not enabled for key, enabled in TESTING.items()}

WM_NULL, WM_CLOSE, WM_QUIT, WM_SYSCOMMAND, SC_CLOSE = 0x0000, 0x0010, 0x0012, 0x0112, 0xF060
LB_GETTOPINDEX, LB_GETITEMHEIGHT = 0x018E, 0x01A1
EM_GETSEL, EM_SETSEL = 0x00B0, 0x00B1
KEY_SETTLE_S = 0.3

# A test of fifty echoes per server: a silent server costs fifty receive
# time-outs of a second.
SILENT_SERVER_S = 50


def entry_name(text):
    """The server name of a list entry: its text before the first "("."""
    return text.split("(", 1)[0]


def centre(rect):
    left, top, right, bottom = rect
    return (left + right) // 2, (top + bottom) // 2


class EchoWorld:
    """The six catalogue addresses lead into a TUN responder; one Wine world."""

    def __init__(self, fonts="en"):
        self.fonts = fonts
        self.responder = None
        self.world = None

    def __enter__(self):
        self.responder = IcmpResponder().start()
        try:
            self.world = World(fonts=self.fonts).__enter__()
        except BaseException:
            self.responder.stop()
            raise
        return self

    def __exit__(self, *exc):
        try:
            if self.world:
                self.world.__exit__(*exc)
        finally:
            self.responder.stop()
        return False

    @property
    def driver(self):
        return self.world.driver

    def answer_all(self, delay_ms):
        for address in SERVERS:
            self.responder.set(address, reply(delay_ms))

    def silence(self, address):
        self.responder.set(address, SILENT)

    def click_at(self, x, y):
        """A real left click. xdotool's synchronous move never returns when
        the pointer already rests there, so step aside first."""
        if self.world.screen.mouse_position() == (x, y):
            self.world.mouse_move(x + 3, y + 3)
        self.world.mouse_click(x, y)

    def key(self, *keys):
        """Real key presses to the window that has the keyboard focus."""
        self.world.screen.key(*keys)

    def start_client(self, locale="en_US.UTF-8", ras="en"):
        app = self.world.start_app(locale=locale, ras=ras)
        return Client(self, app, app.wait_window("Kivoline", visible=True, timeout=60))


class Client:
    """The main dialog of one running client."""

    def __init__(self, ew, app, hwnd):
        self.ew = ew
        self.app = app
        self.hwnd = hwnd
        self.d = ew.driver
        self.controls = {c["id"]: c["hwnd"] for c in self.d.children(hwnd) if c["id"] > 0}
        self._dial_ready = False

    def control(self, control_id):
        return self.controls[control_id]

    def click(self, control_id):
        self.ew.click_at(*centre(self.d.rect(self.control(control_id))))

    # --- the four controls of the choice ----------------------------------
    def items(self, combo_id):
        return self.d.combo_items(self.control(combo_id))

    def names(self, combo_id):
        """The entries' names (captions whole), in list order."""
        return [entry_name(text) for text in self.items(combo_id)]

    def selected(self, combo_id):
        """Index of the selected entry, -1 for none."""
        return self.d.combo_sel(self.control(combo_id))

    def lists(self):
        """{combo id: (names, selected index)} of the three group lists."""
        return {combo: (self.names(combo), self.selected(combo)) for combo in GROUP_COMBOS}

    def intelligent_checked(self):
        return self.d.check(self.control(IDC_INTELLIGENT)) == 1

    def dropped_list(self):
        """The open drop-down list window (class ComboLBox), or None."""
        shown = [w for w in self.app.windows(hidden=False) if w["class"] == "ComboLBox" and w["visible"]]
        return shown[0] if shown else None

    def drop_down(self, combo_id):
        """Clicks the closed list open; returns the open list's window."""
        self.click(combo_id)
        return wait_until(self.dropped_list, 5, message="the drop-down list")

    def choose_dropped(self, combo_id, name):
        """Clicks the entry called `name` (the text before "(") in the open list."""
        box = wait_until(self.dropped_list, 5, message="the drop-down list")
        index = self.names(combo_id).index(name)
        height = self.d.send(box["hwnd"], LB_GETITEMHEIGHT)
        top = self.d.send(box["hwnd"], LB_GETTOPINDEX)
        left, upper = box["client"][0], box["client"][1]
        self.ew.click_at(left + 12, upper + (index - top) * height + height // 2)
        wait_until(lambda: self.dropped_list() is None, 5, message="the list to close")

    def close_list_without_choice(self):
        """Clicks the status line: the open list closes without a choice."""
        self.click(IDC_STATUS)
        wait_until(lambda: self.dropped_list() is None, 5, message="the list to close")

    def focus_first_list(self):
        """Click into the password box, then Tab: the CT list has the focus,
        closed. (A checked radio button is a tab stop on the way.)"""
        password = self.control(IDC_PASSWORD)
        self.d.send(password, EM_SETSEL, 0, -1)
        self.click(IDC_PASSWORD)

        def caret_only():  # the click leaves an empty selection at the caret
            selection = self.d.send(password, EM_GETSEL)
            return selection & 0xFFFF == selection >> 16

        wait_until(caret_only, 5, message="the click in the password box")
        self.key(*["Tab"] * (2 if self.intelligent_checked() else 1))

    def key(self, *keys):
        """Real key presses, then a pause: under Wine a key, a click or a
        Connect that follows another key too closely is sometimes lost, and
        nothing shows when a key's release has been taken in."""
        self.ew.key(*keys)
        time.sleep(KEY_SETTLE_S)

    # --- what Connect dials ------------------------------------------------
    def dial(self):
        """Presses Connect and returns the phone number of the entry it
        dialled (text), then hangs the dial up with Exit. The RAS double
        holds every dial in its first state, so nothing else changes."""
        ras = self.app.ras
        if not self._dial_ready:
            ras.configure(states=[(0, 600000)], hangup_confirm_ms=0)
            self.d.set_text(self.control(IDC_USER), "alice")
            self.d.set_text(self.control(IDC_PASSWORD), "secret")
            self._dial_ready = True
        dials, hangups = len(ras.calls("RasDialW")), len(ras.calls("RasHangUpW"))
        # Synchronous clicks: a button holds the mouse capture until its
        # handler has returned, and a real click meanwhile would go to it.
        self.d.click(self.control(IDOK), sync=True)
        ras.wait_call("RasDialW", count=dials + 1)
        record = ras.dials()[-1]
        self.d.click(self.control(IDCANCEL), sync=True)
        ras.wait_call("RasHangUpW", count=hangups + 1)
        inputs = [self.control(i) for i in (IDOK, IDC_USER, IDC_PASSWORD)]
        wait_until(lambda: all(self.d.enabled(h) for h in inputs), 10, message="Connect and the fields enabled")
        return record["entry_phone"]

    # --- the performance dialog -------------------------------------------
    def performance_dialog(self):
        """The open performance dialog, or None."""
        others = [box for box in self.app.dialogs() if box["hwnd"] != self.hwnd and not box["message_box"]]
        try:
            return PerfDialog(self, others[0]["hwnd"]) if others else None
        except DriverError as error:
            if error.code == "no_window":
                return None  # it closed between the two reads
            raise

    def open_performance(self):
        """Clicks Network performance; returns the dialog once it shows."""
        self.click(IDC_NETPERF)
        return wait_until(self.performance_dialog, 10, message="the performance dialog")


class PerfDialog:
    """Dialog 810 of a running client."""

    def __init__(self, client, hwnd):
        self.client = client
        self.hwnd = hwnd
        self.d = client.d
        self.controls = {c["id"]: c["hwnd"] for c in self.d.children(hwnd)}
        self.list = self.controls[IDC_SERVER_LIST]

    def is_open(self):
        return any(box["hwnd"] == self.hwnd for box in self.client.app.dialogs())

    def title(self):
        return self.d.text(self.hwnd)

    def hint(self):
        return self.d.text(self.controls[-1])

    def captions(self):
        return {i: self.d.text(self.controls[i]) for i in (IDC_TEST_AGAIN, IDC_STOP_TEST, IDOK, IDCANCEL)}

    def buttons(self):
        """{button id: enabled} of the four buttons."""
        return {i: self.d.enabled(self.controls[i]) for i in (IDC_TEST_AGAIN, IDC_STOP_TEST, IDOK, IDCANCEL)}

    def view(self):
        return self.d.listview(self.list)

    def rows(self):
        return self.view()["items"]

    def click(self, control_id):
        self.client.ew.click_at(*centre(self.d.rect(self.controls[control_id])))

    def select_row(self, index):
        """Clicks row `index` of the list."""
        left, top, right, bottom = self.d.listview_item_rect(self.list, index)
        self.client.ew.click_at(left + 20, (top + bottom) // 2)
        wait_until(lambda: self.view()["selected"] == [index], 5, message=f"row {index} selected")

    def wait_idle(self, timeout=15, interval=0.05):
        return wait_until(lambda: self.buttons() == IDLE, timeout, interval, message="the dialog to be idle")

    def wait_closed(self, timeout=10):
        wait_until(lambda: self.client.performance_dialog() is None, timeout, message="the dialog to close")
