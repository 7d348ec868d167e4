#!/usr/bin/python3
"""End-to-end: the notification-area icon and the main window's commands.

The unchanged client runs under Wine with the RAS double; the icon is driven
through its hidden window "KIVO VPN" (callback message 1135, wParam the icon
id, lParam the mouse message) and through Wine's own tray ("Wine System
Tray"), whose icon windows relay real mouse messages and whose tooltip and
balloon windows show what the shell received. One World serves every
client start; each group of checks starts a client of its own.

What cannot be seen from here:
- The account pages reach the browser through Wine's winebrowser, which runs
  the first browser it finds on PATH; a stand-in `xdg-open` records the URL.
  winebrowser passes no show command on, so SW_SHOWMAXIMIZED is not checked.
- The shell keeps no record of who asked to delete an icon, and Wine removes
  the icons of a window that is destroyed: that the dialog's own NIM_DELETE
  removes the icon is checked by the unit tests (tests/unit/tray_test.cpp);
  here only that the icon is gone once the dialog ends.
- Wine never broadcasts "TaskbarCreated". A small Win32 helper, compiled
  here with the project's cross compiler, plays the restarted shell: it
  deletes the icon from the tray and broadcasts the registered message.
"""

import collections
import os
import shutil
import subprocess
import sys
import tempfile
import textwrap
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from PIL import Image, ImageChops  # noqa: E402

from harness import DriverError, World, arch, sandbox, wait_stable, wait_until  # noqa: E402
from harness import resource_ids as rid  # noqa: E402
from harness.driver import (IDCANCEL, IDOK, SC_CLOSE, WM_LBUTTONDBLCLK, WM_LBUTTONDOWN, WM_LBUTTONUP,  # noqa: E402
                            WM_MOUSEMOVE, WM_RBUTTONDOWN, WM_RBUTTONUP, WM_SYSCOMMAND)
from harness.ras_double import RASCS_AUTHENTICATE, RASCS_CONNECTED, RASCS_OPEN_PORT  # noqa: E402

sandbox.enter()

SOURCE_DIR = os.environ.get("KIVO_SOURCE_DIR") or os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
ART = os.path.join(SOURCE_DIR, "res", "art")

WM_NULL = 0
WM_TRAYNOTIFY = 1135
IDM_ABOUTBOX = rid.IDM_ABOUTBOX
SS_TYPEMASK, SS_BITMAP = 0x1F, 0x0E
SC_CONTEXTHELP = 0xF180
ID_MINIMIZE, ID_DISCONNECT, ID_EXIT, ID_DETAILS, ID_ABOUT = (rid.ID_TRAY_MINIMIZE, rid.ID_TRAY_DISCONNECT,
                                                             rid.ID_TRAY_EXIT, rid.ID_TRAY_DETAILS, rid.ID_TRAY_ABOUT)
IDC_USER, IDC_PASSWORD, IDC_STATUS = rid.IDC_USER, rid.IDC_PASSWORD, rid.IDC_STATUS
IDC_USER_LABEL, IDC_PASSWORD_LABEL, IDC_STATUS_LABEL = rid.IDC_USER_LABEL, rid.IDC_PASSWORD_LABEL, rid.IDC_STATUS_LABEL
IDC_INTELLIGENT, IDC_WEB_ADDRESS = rid.IDC_INTELLIGENT, rid.IDC_WEB_ADDRESS
IDC_ACCOUNT_REGISTER, IDC_ACCOUNT_STATUS, IDC_ABOUT = rid.IDC_ACCOUNT_REGISTER, rid.IDC_ACCOUNT_STATUS, rid.IDC_ABOUT
REGISTER_URL = "http://www.kivoline.example/account/register"
STATUS_URL = "http://www.kivoline.example/account/status"
TRAY_WINDOW = ("Wine System Tray", "__winex11_standalone_tray")

# A dial that connects at once, and the counters the double reports.
QUICK_DIAL = [(RASCS_OPEN_PORT, 30), (RASCS_CONNECTED, 60)]
COUNTERS = dict(stats_bps=54000000, stats_sent=1234, stats_received=5678, projection_ip="10.8.0.6")

ENGLISH = {
    "locale": "en_US.UTF-8", "ras": "en", "icon_id": rid.IDR_TRAY_MENU_EN, "idle": "Disconnection, idle",
    "about": ("About Velmar", "OK", "631"),
    "tip": "Kivoline Connection\nSpeed: 54.00 Mbps\nSend: 1234 byte\nReceive: 5678 byte\nIP:   10.8.0.6\n",
}
CHINESE = {
    "locale": "zh_CN.UTF-8", "ras": "zhcn", "icon_id": rid.IDR_TRAY_MENU_ZH, "idle": "未连接,空闲",
    "about": ("关于Velmar", "确定", "630"),
    "tip": "Kivoline 连接\n速度: 54.00 Mbps\n发送: 1234 字节\n收到: 5678 字节\nIP:   10.8.0.6\n",
    # Tray menu: Minimize, Show (its first item while hidden), Disconnect, Exit, Connection details, About.
    "menu": ("最小化...", "显示窗口...", "挂断...", "退出...", "连接详情...", "关于..."),
    "connected": "连接成功", "already_running": "已经运行",
}
TRADITIONAL = {
    "locale": "zh_HK.UTF-8", "ras": "zhtw", "icon_id": rid.IDR_TRAY_MENU_TW, "idle": "未連線，閒置",
    "about": ("關於 Velmar", "確定", "680"),
    "tip": "Kivoline 連線\n速度: 54.00 Mbps\n傳送: 1234 位元組\n接收: 5678 位元組\nIP:   10.8.0.6\n",
    "menu": ("最小化...", "顯示視窗...", "中斷連線...", "結束...", "連線詳細資料...", "關於..."),
    "connected": "連線成功", "already_running": "已在執行",
}

# The About boxes' pictures: Simplified, English, Traditional.
ABOUT_PICTURES = ("630", "631", "680")

WORLD = None
# Set by the account-page group: where the stand-in browser writes.
BROWSER_LOG = None


def setUpModule():
    global WORLD
    WORLD = World()
    WORLD.__enter__()


def tearDownModule():
    if WORLD is not None:
        WORLD.__exit__(None, None, None)


def xdotool(*args):
    subprocess.run(["xdotool", *map(str, args)], check=True, timeout=15, env=WORLD.screen.env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def settled(read):
    """read(), again when a window that it was listing went away meanwhile
    (menus, balloons and dialog boxes come and go while tests look)."""
    for _ in range(20):
        try:
            return read()
        except DriverError as error:
            if error.code != "no_window":
                raise
    return read()


def menus():
    return settled(WORLD.driver.popup_menus)


def menu_shown():
    """Whether a popup menu window is shown. Unlike menus(), this reads no
    menu: reading one runs a thread in the client, which a client busy with
    the chosen command may leave waiting."""
    return bool(WORLD.driver.find_windows(cls="#32768"))


def tray():
    return settled(WORLD.driver.tray)


def skin_match(shot, reference):
    """(share of pixels equal to the reference, colours of the others)."""
    diff = ImageChops.difference(shot, reference).getdata()
    others = collections.Counter(p for p, q in zip(shot.getdata(), diff) if max(q))
    equal = sum(1 for q in diff if not max(q))
    return equal / len(diff), others


def picture_distance(shot, bitmap_id):
    """Mean channel difference and share of clearly different pixels between
    a screenshot and a bitmap of res/art scaled to its size (the static
    control stretches its bitmap into the client area inside its edge)."""
    reference = Image.open(os.path.join(ART, f"{bitmap_id}.bmp")).convert("RGB").resize(shot.size, Image.NEAREST)
    diff = [max(p) for p in ImageChops.difference(shot, reference).getdata()]
    return sum(diff) / len(diff), sum(1 for x in diff if x > 24) / len(diff)


class Client:
    """One running copy of the client and the ways a test reaches it."""

    def __init__(self, texts, env=None):
        self.texts = texts
        self.d = WORLD.driver
        # A RAS double of its own, so that its calls are this client's alone.
        env = dict(env or {}, KIVO_RAS_DIR=tempfile.mkdtemp(prefix="ras-", dir=WORLD.run_dir))
        self.app = WORLD.start_app(locale=texts["locale"], ras=texts["ras"], env=env)
        self.hwnd = self.app.wait_window("Kivoline", visible=True, timeout=45)
        self.controls = {c["id"]: c["hwnd"] for c in self.d.children(self.hwnd)}
        self.tray_window = self.d.find_window("KIVO VPN", cls=None, hidden=True, pid=self.app.win_pid)
        self.ras = self.app.ras
        self.icon_id = texts["icon_id"]

    def control(self, control_id):
        return self.controls[control_id]

    # --- state ----------------------------------------------------------------
    def status(self):
        return self.d.text(self.control(IDC_STATUS))

    def visible(self):
        return self.d.visible(self.hwnd)

    def idle(self):
        return self.status() == self.texts["idle"]

    def foreground(self):
        return (self.d.foreground() or {}).get("hwnd")

    def inputs_enabled(self):
        return [self.d.enabled(self.control(i)) for i in (IDOK, IDC_USER, IDC_PASSWORD)]

    def hangups(self):
        """Hang-ups of the latest dial's handle."""
        dials = self.ras.dials()
        return len(dials[-1]["hangups"]) if dials else 0

    # --- the tray -------------------------------------------------------------
    def notify(self, mouse_message, icon_id=None):
        """The shell's callback, sent: returns the tray window's answer."""
        return self.d.send(self.tray_window, WM_TRAYNOTIFY, self.icon_id if icon_id is None else icon_id,
                           mouse_message)

    def icon(self):
        icons = tray()["icons"]
        assert len(icons) == 1, f"expected the client's icon alone in the tray: {icons}"
        return icons[0]

    def hover_tip(self, expected):
        """Moves over the icon and waits for the tooltip to read `expected`."""
        self.d.tray_hover(self.icon()["hwnd"])
        return wait_until(lambda: self.icon()["tip"] == expected, 5, message=f"tooltip {expected!r}")

    def open_menu(self):
        """Right button released over the icon: the popup menu, as read from its window."""
        self.d.post(self.tray_window, WM_TRAYNOTIFY, self.icon_id, WM_RBUTTONUP)
        return wait_until(lambda: menus(), 5, message="the tray's popup menu")[0]

    def choose(self, command_id, ends_client=False):
        menu = self.open_menu()
        ids = [item["id"] for item in menu["items"]]
        self.d.menu_choose(ids.index(command_id))
        # Reading menus means a call inside the client; one that is ending
        # may never answer it, so an item that ends the client is not
        # followed by that check (its end is the check).
        if not ends_client:
            wait_until(lambda: not menu_shown(), 5, message="the menu to close")

    def balloons(self):
        return tray()["balloons"]

    def wait_balloon(self, heading, text, old=()):
        """A visible balloon that was not among `old` (hwnds), with this heading and text."""
        def find():
            fresh = [b for b in self.balloons() if b["visible"] and b["hwnd"] not in old]
            return fresh[0] if fresh else None
        balloon = wait_until(find, 10, message=f"a balloon {heading!r}")
        return balloon["heading"], balloon["text"]

    # --- the window -----------------------------------------------------------
    def hide(self):
        self.d.send(self.hwnd, WM_SYSCOMMAND, SC_CLOSE)
        wait_until(lambda: not self.visible(), 5, message="the window to hide")
        self.assert_alive()

    def assert_alive(self):
        """The dialog still exists: a message sent now is answered by the
        dialog's thread after everything it was handling (a dialog that
        had ended would be destroyed first)."""
        self.d.send(self.hwnd, WM_NULL)
        assert self.d.window_info(self.hwnd)["title"] == "Kivoline", "the dialog has gone"

    def show(self):
        self.notify(WM_LBUTTONUP)
        wait_until(self.visible, 5, message="the window to show")

    def give_foreground_away(self):
        """Makes Wine's tray window the foreground window."""
        other = self.d.find_window(TRAY_WINDOW[0], TRAY_WINDOW[1], hidden=True)
        self.d.set_foreground(other)
        wait_until(lambda: self.foreground() == other, 5, message="another foreground window")
        return other

    def type_credentials(self, user="alice", password="secret"):
        self.d.set_text(self.control(IDC_USER), user)
        self.d.set_text(self.control(IDC_PASSWORD), password)
        wait_until(lambda: self.d.enabled(self.control(IDOK)), 5, message="Connect enabled")

    def connect(self, states=QUICK_DIAL, wait=True):
        """Types credentials and clicks Connect; waits for the link unless told not to."""
        self.ras.configure(states=states)
        self.type_credentials()
        self.d.click(self.control(IDOK))
        if wait:
            wait_until(lambda: not self.visible(), 10, message="the window to hide on connect")

    def disconnect(self):
        """Hangs up (the Exit button's command while a handle is held)."""
        self.d.command(self.hwnd, IDCANCEL, lparam=0)
        wait_until(self.idle, 8, message="the idle status")

    def about_boxes(self):
        return [box for box in settled(self.app.dialogs) if box["hwnd"] != self.hwnd]

    def wait_about(self):
        return wait_until(self.about_boxes, 5, message="the About box")[0]

    def close_about(self, box):
        self.d.click(box["buttons"][0]["hwnd"])
        wait_until(lambda: not self.about_boxes(), 5, message="the About box to close")

    def end(self):
        """Ends the client without waiting for its shutdown (ProgramEnd
        checks the real one)."""
        self.app.kill()


class ClientCase(unittest.TestCase):
    """A group of checks that share one client; each check starts from an
    idle, visible window with a quick dial script and fixed counters."""

    TEXTS = ENGLISH
    ENV = None

    @classmethod
    def setUpClass(cls):
        cls.client = Client(cls.TEXTS, env=cls.ENV)
        cls.d = WORLD.driver

    @classmethod
    def tearDownClass(cls):
        cls.client.end()

    def setUp(self):
        c = self.client
        self.assertTrue(c.app.running(), "the client has ended")
        for menu in menus():
            self.d.menu_dismiss(menu["hwnd"])
        for box in c.about_boxes():
            c.close_about(box)
        if not c.idle():
            c.disconnect()
        c.ras.reset()
        c.ras.configure(states=QUICK_DIAL, **COUNTERS)
        if not c.visible():
            c.show()


class Tooltip(ClientCase):
    def test_tip_is_the_name_while_idle_and_the_statistics_while_connected(self):
        c = self.client
        self.assertEqual(c.icon()["tip"], "Kivoline")
        self.assertEqual(c.notify(WM_MOUSEMOVE), 1)
        c.hover_tip("Kivoline")
        c.connect()
        # The connection tells the tray its statistics at each link check.
        wait_until(lambda: c.icon()["tip"] == ENGLISH["tip"], 5, message="the statistics in the tip")
        c.hover_tip(ENGLISH["tip"])
        # The counters of the moment, unsigned, from the next check on.
        c.ras.configure(stats_bps=1234567, stats_sent=99, stats_received=4294967295, projection_ip="10.8.0.6")
        c.hover_tip("Kivoline Connection\nSpeed: 1.23 Mbps\nSend: 99 byte\nReceive: 4294967295 byte\n"
                    "IP:   10.8.0.6\n")
        # Statistics that cannot be read leave the plain name.
        c.ras.configure(stats_result=5)
        c.hover_tip("Kivoline")
        c.ras.configure(stats_result=None)
        c.disconnect()
        c.hover_tip("Kivoline")


class Balloons(ClientCase):
    def second_start(self):
        other = WORLD.start_app(locale=self.TEXTS["locale"], ras=self.TEXTS["ras"],
                                env={"KIVO_RAS_DIR": tempfile.mkdtemp(prefix="ras-", dir=WORLD.run_dir)})
        self.assertEqual(other.wait_exit(20), 0)

    def test_connect_balloon_carries_the_statistics(self):
        c = self.client
        old = {b["hwnd"] for b in c.balloons()}
        c.connect()
        self.assertEqual(c.wait_balloon("Connected", ENGLISH["tip"], old), ("Connected", ENGLISH["tip"]))

    def test_second_start_raises_a_balloon_and_leaves_the_window_as_it_was(self):
        c = self.client
        # Visible, but not in front: it stays so.
        other = c.give_foreground_away()
        old = {b["hwnd"] for b in c.balloons()}
        self.second_start()
        self.assertEqual(c.wait_balloon("Already Running", "Kivoline", old), ("Already Running", "Kivoline"))
        self.assertTrue(c.visible())
        self.assertEqual(c.foreground(), other)
        # Connected, hidden: it stays hidden, and the balloon carries the
        # statistics of the moment. (The Chinese group starts a second copy
        # while hidden and idle.)
        c.connect()
        c.ras.configure(stats_sent=777)
        old = {b["hwnd"] for b in c.balloons()}
        self.second_start()
        expected = ENGLISH["tip"].replace("Send: 1234", "Send: 777")
        self.assertEqual(c.wait_balloon("Already Running", expected, old), ("Already Running", expected))
        self.assertFalse(c.visible())
        self.assertEqual(c.hangups(), 0)


def menu_items(menu):
    return [(i["id"], i["text"], i["grayed"]) for i in menu["items"]]


def english_menu(first="Minimize...", connected=False):
    """The English menu's items: (id, text, greyed)."""
    return [(ID_MINIMIZE, first, False), (ID_DISCONNECT, "Disconnect...", not connected),
            (ID_EXIT, "Exit...", connected), (ID_DETAILS, "Connection details...", False),
            (ID_ABOUT, "About...", False)]


class TrayMenu(ClientCase):

    def test_idle_menu_offers_exit_and_greys_disconnect(self):
        c = self.client
        menu = c.open_menu()
        self.assertEqual(menu["count"], 5)
        self.assertFalse(any(i["separator"] or i["checked"] for i in menu["items"]))
        self.assertEqual(menu_items(menu), english_menu())
        self.d.menu_dismiss()
        wait_until(lambda: not menu_shown(), 5)
        self.assertTrue(c.visible() and c.idle() and c.app.running())

    def test_menu_takes_the_foreground_and_reads_show_while_hidden(self):
        c = self.client
        c.hide()
        c.give_foreground_away()
        menu = c.open_menu()
        # The owner comes to the front first, or the menu would not close on an outside click.
        self.assertEqual(c.foreground(), c.hwnd)
        self.assertEqual(menu_items(menu), english_menu("Show..."))
        self.d.menu_choose(0)
        wait_until(c.visible, 5, message="Show to show the window")
        # Every right click loads the menu afresh: visible again, it reads Minimize.
        self.assertEqual(menu_items(c.open_menu()), english_menu())
        self.d.menu_choose(0)
        wait_until(lambda: not c.visible(), 5, message="Minimize to hide the window")
        c.assert_alive()

    def test_while_dialling_disconnect_cancels_the_dial(self):
        c = self.client
        c.connect(states=[(RASCS_OPEN_PORT, 30), (RASCS_AUTHENTICATE, 30), (RASCS_CONNECTED, 60000)], wait=False)
        wait_until(lambda: c.status() == "The authentication process is starting", 5, message="the dial under way")
        self.assertEqual(c.inputs_enabled(), [False, False, False])
        menu = c.open_menu()
        self.assertEqual(menu_items(menu), english_menu(connected=True))
        self.d.menu_choose(1)
        dial = c.ras.dials()[-1]
        c.ras.wait_call("RasHangUpW", handle=dial["handle"], timeout=5)
        wait_until(c.idle, 8, message="the idle status")
        self.assertEqual(c.inputs_enabled(), [True, True, True])
        self.assertTrue(c.visible())
        self.assertEqual([state for _, state, _ in c.ras.dials()[-1]["notifications"]],
                         [RASCS_OPEN_PORT, RASCS_AUTHENTICATE])

    def test_connection_details_of_a_failed_dial_show_its_states_and_code_and_no_password(self):
        c = self.client
        c.ras.configure(states=[(RASCS_OPEN_PORT, 30), (RASCS_AUTHENTICATE, 30)], error_state=RASCS_AUTHENTICATE,
                        error_code=691)
        c.type_credentials(user="zhang.wei", password="Pw-7Qx!zeta")
        self.d.click(c.control(IDOK))
        box = wait_until(lambda: [b for b in c.about_boxes() if b["caption"] == "Dial failed"], 10,
                         message="the failure box")[0]
        self.d.click(box["buttons"][0]["hwnd"])
        wait_until(lambda: not c.about_boxes(), 5, message="the failure box to close")
        c.choose(ID_DETAILS)
        window = wait_until(lambda: [b for b in c.about_boxes() if b["caption"] == "Connection details"], 5,
                            message="the connection details")[0]
        self.assertEqual([b["text"] for b in window["buttons"]], ["Close", "Copy"])
        [edit] = [w for w in self.d.children(window["hwnd"]) if w["class"] == "Edit"]
        text = self.d.text(edit["hwnd"])
        # This run's events (the log itself is checked in the unit tests).
        self.assertIn("dial state: RASCS_Authenticate", text)
        self.assertIn("failure box for error 691", text)
        self.assertNotIn("Pw-7Qx!zeta", text)
        self.assertNotIn("zhang.wei", text)
        c.close_about(window)

    def test_while_connected_minimize_keeps_the_link_and_disconnect_hangs_up(self):
        c = self.client
        c.connect()
        menu = c.open_menu()
        self.assertEqual(menu_items(menu), english_menu("Show...", connected=True))
        self.d.menu_choose(0)
        wait_until(c.visible, 5, message="Show to show the window")
        c.choose(ID_MINIMIZE)
        wait_until(lambda: not c.visible(), 5, message="Minimize to hide the window")
        c.assert_alive()
        # The link check goes on and nothing hung up.
        checks = len(c.ras.calls("RasGetConnectStatusW"))
        wait_until(lambda: len(c.ras.calls("RasGetConnectStatusW")) > checks, 5, message="the next link check")
        self.assertEqual(c.hangups(), 0)
        self.assertNotEqual(c.status(), ENGLISH["idle"])
        c.choose(ID_DISCONNECT)
        c.ras.wait_call("RasHangUpW", handle=c.ras.dials()[-1]["handle"], timeout=5)
        wait_until(c.idle, 8, message="the idle status")
        self.assertEqual(c.inputs_enabled(), [True, True, True])
        self.assertFalse(c.visible())
        self.assertTrue(c.app.running())


class TrayClicks(ClientCase):
    def test_left_release_and_double_click_show_and_raise_the_window(self):
        c = self.client
        # A click on Wine's icon (press and release), and a double click's callback alone.
        clicks = {"release": lambda: self.d.tray_click(c.icon()["hwnd"], "left"),
                  "double click": lambda: self.assertEqual(c.notify(WM_LBUTTONDBLCLK), 1)}
        for name, click in clicks.items():
            with self.subTest(click=name):
                c.hide()
                c.give_foreground_away()
                click()
                wait_until(c.visible, 5, message="the window to show")
                wait_until(lambda: c.foreground() == c.hwnd, 5, message="the window in front")
        # Shown already but behind another window: showing alone would not bring it to the front.
        c.give_foreground_away()
        self.assertEqual(c.notify(WM_LBUTTONUP), 1)
        wait_until(lambda: c.foreground() == c.hwnd, 5, message="the window in front")

    def test_presses_alone_and_other_icons_do_nothing(self):
        c = self.client
        c.hide()
        other_id = rid.IDR_TRAY_MENU_ZH if c.icon_id == rid.IDR_TRAY_MENU_EN else rid.IDR_TRAY_MENU_EN
        for message in (WM_LBUTTONDOWN, WM_RBUTTONDOWN, 0x0207):  # and a middle button press
            with self.subTest(message=hex(message)):
                self.assertEqual(c.notify(message), 1)
        for message in (WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONUP, WM_MOUSEMOVE):
            with self.subTest(message=hex(message), icon=other_id):
                self.assertEqual(c.notify(message, icon_id=other_id), 0)
        # The callbacks were sent: whatever they did is done.
        self.assertFalse(c.visible())
        self.assertEqual(menus(), [])
        # Real presses on Wine's icon, without their releases; Wine relays
        # them without waiting, so give them a moment to arrive.
        icon = c.icon()["hwnd"]
        self.d.post(icon, WM_LBUTTONDOWN)
        self.d.post(icon, WM_RBUTTONDOWN)
        time.sleep(0.5)
        self.assertFalse(c.visible())
        self.assertEqual(menus(), [])


class HidingAndDragging(ClientCase):
    def test_escape_and_close_hide_and_keep_the_typed_text(self):
        c = self.client
        user = c.control(IDC_USER)
        left, top, right, bottom = self.d.rect(user)
        WORLD.mouse_click((left + right) // 2, (top + bottom) // 2)
        wait_until(lambda: c.foreground() == c.hwnd, 5)
        WORLD.screen.type("bob")
        wait_until(lambda: self.d.text(user) == "bob", 5, message="the typed user name")
        self.d.set_text(c.control(IDC_PASSWORD), "pw")
        WORLD.screen.key("Escape")
        wait_until(lambda: not c.visible(), 5, message="Escape to hide the window")
        c.assert_alive()
        c.show()
        self.assertEqual((self.d.text(user), self.d.text(c.control(IDC_PASSWORD))), ("bob", "pw"))
        self.assertEqual(self.d.send(c.hwnd, WM_SYSCOMMAND, SC_CLOSE), 0)
        wait_until(lambda: not c.visible(), 5, message="Close to hide the window")
        c.assert_alive()
        # Hidden, it keeps its title: a second copy finds it.
        self.assertEqual(self.d.find_window("Kivoline", hidden=True, pid=c.app.win_pid), c.hwnd)
        c.show()
        self.assertEqual((self.d.text(user), self.d.text(c.control(IDC_PASSWORD))), ("bob", "pw"))
        self.assertTrue(c.inputs_enabled()[0])

    def drag(self, x, y, dx, dy):
        xdotool("mousemove", "--sync", x, y)
        xdotool("mousedown", 1)
        # The press reaches the client as a posted caption press, whose move
        # loop follows the pointer only from when it starts.
        hwnd = self.client.hwnd
        wait_until(lambda: self.d.window_info(hwnd)["moving"], 5, message="the move loop")
        for step in range(1, 5):
            xdotool("mousemove", "--sync", x + dx * step // 4, y + dy * step // 4)
        xdotool("mouseup", 1)

    def test_dragging_the_background_or_a_label_moves_the_window(self):
        c = self.client
        start = self.d.rect(c.hwnd)
        label = self.d.rect(c.control(IDC_USER_LABEL))
        cases = [("background", start[0] + 20, start[3] - 40, 40, -30),
                 ("label", (label[0] + label[2]) // 2, (label[1] + label[3]) // 2, -40, 30)]
        for name, x, y, dx, dy in cases:
            with self.subTest(where=name):
                before = self.d.rect(c.hwnd)
                self.drag(x, y, dx, dy)
                expected = (before[0] + dx, before[1] + dy, before[2] + dx, before[3] + dy)
                wait_until(lambda: self.d.rect(c.hwnd) == expected, 5, message=f"the window at {expected}")
        self.assertTrue(c.visible())


class Screenshots(ClientCase):
    # Control: the part of it that shows text (left, top, right, bottom insets).
    LABELS = {IDC_USER_LABEL: (0, 0, 0, 0), IDC_PASSWORD_LABEL: (0, 0, 0, 0), IDC_STATUS_LABEL: (0, 0, 0, 0),
              IDC_WEB_ADDRESS: (0, 0, 0, 0), IDC_STATUS: (2, 2, 2, 2), IDC_INTELLIGENT: (16, 0, 0, 0)}

    def test_labels_show_the_skin_around_their_text(self):
        c = self.client
        skin = Image.open(os.path.join(ART, "642.bmp")).convert("RGB")
        client = self.d.client_rect(c.hwnd)
        shot = wait_stable(lambda: WORLD.screenshot(rect=client).tobytes(), duration=0.3)
        shot = Image.frombytes("RGB", (client[2] - client[0], client[3] - client[1]), shot)
        for control_id, (il, it, ir, ib) in self.LABELS.items():
            with self.subTest(control=control_id, text=self.d.text(c.control(control_id))):
                left, top, right, bottom = self.d.rect(c.control(control_id))
                box = (left - client[0] + il, top - client[1] + it, right - client[0] - ir, bottom - client[1] - ib)
                equal, others = skin_match(shot.crop(box), skin.crop(box))
                # The skin there is not a plain colour a dialog would paint anyway.
                self.assertGreater(len(set(skin.crop(box).getdata())), 1)
                self.assertGreater(equal, 0.6, others.most_common(4))
                # What is not skin is the black text.
                self.assertEqual(set(others), {(0, 0, 0)})

    def test_about_boxes_of_every_route(self):
        c = self.client
        check_about_routes(self, c, ENGLISH["about"], low_bits=0, hidden=False)


def check_about_routes(case, client, expected, low_bits, hidden):
    """The same box from the About button, the system command 16 and the
    context-help command (with `low_bits` in the command's low four bits,
    which do not count), and the tray menu's About item (with the window
    hidden if told so)."""
    d = client.d
    def from_tray():
        if hidden:
            client.hide()
        client.choose(ID_ABOUT)

    routes = [("About button", lambda: d.click(client.control(IDC_ABOUT))),
              ("system command 16", lambda: d.post(client.hwnd, WM_SYSCOMMAND, IDM_ABOUTBOX | low_bits)),
              ("context help", lambda: d.post(client.hwnd, WM_SYSCOMMAND, SC_CONTEXTHELP | low_bits)),
              ("tray menu", from_tray)]
    for name, open_box in routes:
        with case.subTest(route=name):
            open_box()
            check_about_box(case, client, expected)


def check_about_box(case, client, expected):
    """The About box that is open: caption, button, picture, modal on the window."""
    caption, button, bitmap = expected
    d = client.d
    box = client.wait_about()
    case.assertEqual((box["caption"], [(b["id"], b["text"]) for b in box["buttons"]]), (caption, [(IDOK, button)]))
    case.assertEqual(box["owner"], client.hwnd)
    case.assertFalse(d.enabled(client.hwnd))
    # The picture, not the version line beneath it.
    pictures = [c for c in d.children(box["hwnd"]) if c["class"] == "Static" and c["style"] & SS_TYPEMASK == SS_BITMAP]
    case.assertEqual(len(pictures), 1)
    shot = WORLD.screenshot(rect=tuple(pictures[0]["client"]))
    mean, share = picture_distance(shot, bitmap)
    case.assertLess((mean, share), (1.5, 0.01), f"picture against {bitmap}.bmp")
    # The Simplified and Traditional pictures differ in a few characters
    # only: the shown one is nearer to its own picture than to any other.
    for other in sorted(set(ABOUT_PICTURES) - {bitmap}):
        case.assertGreater(picture_distance(shot, other)[1], share, f"picture also like {other}.bmp")
    client.close_about(box)
    wait_until(lambda: d.enabled(client.hwnd), 5, message="the window enabled again")


class AccountPages(ClientCase):
    """The stand-in browser (first on PATH, so winebrowser runs it) records
    its arguments, one line per start."""

    @classmethod
    def setUpClass(cls):
        global BROWSER_LOG
        bin_dir = os.path.join(WORLD.run_dir, "browser")
        os.makedirs(bin_dir, exist_ok=True)
        BROWSER_LOG = os.path.join(WORLD.run_dir, "browser.log")
        script = os.path.join(bin_dir, "xdg-open")
        with open(script, "w") as f:
            f.write(f'#!/bin/sh\nprintf "%s\\n" "$#:$*" >> "{BROWSER_LOG}"\n')
        os.chmod(script, 0o755)
        cls.ENV = {"PATH": bin_dir + os.pathsep + os.environ.get("PATH", "/usr/bin:/bin")}
        super().setUpClass()

    def opened(self):
        try:
            with open(BROWSER_LOG) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def test_register_and_status_open_their_own_pages(self):
        c = self.client
        for control_id, url in ((IDC_ACCOUNT_REGISTER, REGISTER_URL), (IDC_ACCOUNT_STATUS, STATUS_URL)):
            with self.subTest(button=control_id):
                count = len(self.opened())
                self.d.click(c.control(control_id))
                wait_until(lambda: len(self.opened()) > count, 15, message="the browser to start")
                time.sleep(0.3)
                self.assertEqual(self.opened()[count:], [f"1:{url}"])
        self.assertTrue(c.visible() and c.idle())


HELPER_SOURCE = textwrap.dedent(r"""
    /* Plays a restarted shell: "delete <hwnd> <id>" drops an icon from the
       tray, "broadcast" sends the registered "TaskbarCreated" message to
       every top-level window and waits until each has handled it. */
    #include <windows.h>
    #include <shellapi.h>
    #include <stdio.h>
    #include <stdlib.h>
    #include <string.h>

    int main(int argc, char** argv) {
      UINT msg = RegisterWindowMessageA("TaskbarCreated");
      if (argc == 4 && strcmp(argv[1], "delete") == 0) {
        NOTIFYICONDATAA nid;
        memset(&nid, 0, sizeof(nid));
        nid.cbSize = NOTIFYICONDATAA_V2_SIZE;
        nid.hWnd = (HWND)(ULONG_PTR)strtoul(argv[2], NULL, 0);
        nid.uID = (UINT)strtoul(argv[3], NULL, 0);
        printf("%d\n", Shell_NotifyIconA(NIM_DELETE, &nid) ? 1 : 0);
      } else if (argc == 2 && strcmp(argv[1], "broadcast") == 0) {
        DWORD_PTR answer = 0;
        printf("%d\n", SendMessageTimeoutA(HWND_BROADCAST, msg, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer) ? 1 : 0);
      } else {
        return 2;
      }
      return 0;
    }
""")


def build_shell_helper():
    """Compiles the helper with the cross compiler; None when there is none."""
    triplet = arch.current().mingw
    compiler = next((shutil.which(c) for c in (f"{triplet}-gcc", f"{triplet}-gcc-posix") if shutil.which(c)), None)
    if compiler is None:
        return None
    exe = os.path.join(WORLD.run_dir, "kivo_shell_helper.exe")
    with tempfile.TemporaryDirectory() as scratch:
        source = os.path.join(scratch, "shell_helper.c")
        with open(source, "w") as f:
            f.write(HELPER_SOURCE)
        subprocess.run([compiler, "-O1", "-Wall", "-Werror", "-mconsole", "-o", exe, source], check=True,
                       timeout=120)
    return exe


class ShellRestart(ClientCase):
    def helper(self, *args):
        program = WORLD.start_program(self.helper_exe, args=args, copy=False)
        self.assertEqual(program.wait_exit(20), 0)
        return program.log().strip()

    def test_taskbar_created_adds_the_icon_again_with_its_tip(self):
        self.helper_exe = build_shell_helper()
        if self.helper_exe is None:
            self.skipTest(f"no {arch.current().mingw}-gcc to build the shell helper")
        c = self.client
        c.connect()
        c.hover_tip(ENGLISH["tip"])
        self.assertEqual(self.helper("delete", c.tray_window, c.icon_id), "1")
        wait_until(lambda: tray()["icons"] == [], 5, message="the icon to leave the tray")
        self.assertEqual(self.helper("broadcast"), "1")
        icon = wait_until(lambda: tray()["icons"], 5, message="the icon back in the tray")
        self.assertEqual([i["tip"] for i in icon], [ENGLISH["tip"]])
        # The same id and callback: Wine's icon reaches the tray window, which
        # answers only its own id.
        self.d.tray_click(icon[0]["hwnd"], "right")
        menu = wait_until(menus, 5, message="the menu of the icon added again")[0]
        self.assertEqual(menu_items(menu), english_menu("Show...", connected=True))
        self.d.menu_dismiss()
        self.assertEqual(c.hangups(), 0)


class ProgramEnd(unittest.TestCase):
    def test_exit_item_ends_the_idle_client_and_its_icon(self):
        client = Client(ENGLISH)
        try:
            self.assertEqual(len(tray()["icons"]), 1)
            client.choose(ID_EXIT, ends_client=True)
            self.assertEqual(client.app.wait_exit(15), 0)
            wait_until(lambda: tray()["icons"] == [], 5, message="the icon to leave the tray")
            # Nothing dialled, nothing hung up, no phonebook entry left.
            self.assertEqual((client.ras.dials(), client.hangups(), client.ras.entry()), ([], 0, None))
        finally:
            client.end()


class ChineseTexts:
    """The tray's texts in a Chinese set: the menu idle and connected, the
    connect balloon, the tip, and the balloon of a second start while hidden
    and idle. Subclasses say which set."""

    def test_menu_tooltip_and_balloons_in_its_set(self):
        c = self.client
        texts = self.TEXTS
        minimize, show, disconnect, exit_, details, about = texts["menu"]
        menu = c.open_menu()
        self.assertEqual(menu_items(menu), [(ID_MINIMIZE, minimize, False), (ID_DISCONNECT, disconnect, True),
                                            (ID_EXIT, exit_, False), (ID_DETAILS, details, False),
                                            (ID_ABOUT, about, False)])
        self.d.menu_dismiss()
        old = {b["hwnd"] for b in c.balloons()}
        c.connect()
        self.assertEqual(c.wait_balloon(texts["connected"], texts["tip"], old), (texts["connected"], texts["tip"]))
        c.hover_tip(texts["tip"])
        menu = c.open_menu()
        self.assertEqual(menu_items(menu), [(ID_MINIMIZE, show, False), (ID_DISCONNECT, disconnect, False),
                                            (ID_EXIT, exit_, True), (ID_DETAILS, details, False),
                                            (ID_ABOUT, about, False)])
        self.d.menu_dismiss()
        c.disconnect()
        old = {b["hwnd"] for b in c.balloons()}
        other = WORLD.start_app(locale=texts["locale"], ras=texts["ras"],
                                env={"KIVO_RAS_DIR": tempfile.mkdtemp(prefix="ras-", dir=WORLD.run_dir)})
        self.assertEqual(other.wait_exit(20), 0)
        self.assertEqual(c.wait_balloon(texts["already_running"], "Kivoline", old),
                         (texts["already_running"], "Kivoline"))
        self.assertFalse(c.visible())


class Chinese(ChineseTexts, ClientCase):
    TEXTS = CHINESE

    def test_about_box_808_from_every_route(self):
        c = self.client
        check_about_routes(self, c, CHINESE["about"], low_bits=5, hidden=True)


class Traditional(ChineseTexts, ClientCase):
    TEXTS = TRADITIONAL


class LanguageVariants(unittest.TestCase):
    """The About box follows the language variant: Simplified Chinese (808)
    for 2052 and 4100, Traditional (812) for 1028, 3076 and 5124."""

    CASES = [("zh_SG.UTF-8", "zhcn", CHINESE), ("zh_TW.UTF-8", "zhtw", TRADITIONAL)]

    def test_about_box_of_each_variant(self):
        for locale, ras, texts in self.CASES:
            with self.subTest(locale=locale):
                client = Client(dict(texts, locale=locale, ras=ras))
                try:
                    client.d.click(client.control(IDC_ABOUT))
                    check_about_box(self, client, texts["about"])
                finally:
                    client.end()


class TimedResult(unittest.TextTestResult):
    """Prints how long each check took (client starts are in setUpClass)."""

    def startTest(self, test):
        self._started = time.monotonic()
        super().startTest(test)

    def stopTest(self, test):
        super().stopTest(test)
        self.stream.write(f"    {time.monotonic() - self._started:5.1f} s  {test.id()}\n")


if __name__ == "__main__":
    started = time.monotonic()
    runner = unittest.TextTestRunner(resultclass=TimedResult, verbosity=2)
    result = unittest.main(exit=False, testRunner=runner).result
    print(f"test_tray_commands.py: {time.monotonic() - started:.1f} s")
    sys.exit(0 if result.wasSuccessful() else 1)
