#!/usr/bin/python3
"""End-to-end: the client's start-up, its single-instance guard, its main
dialog as the seven language variants build it, the skin on the screen, and
what closing the dialog leaves behind.

Everything runs in one sealed namespace with no echo responder, so every
server's start-up measurement fails. Most checks share one Wine world with
Wine's own fonts; the Chinese screenshots use a second world whose
"MS Sans Serif" has Chinese glyphs. kivo_startup_tool.exe (tests/e2e/tools)
plays the parts the client meets but does not own: a first copy that holds
the single-instance mutex before it has a window, a shell tray that refuses
every icon, and a reader of the dialog's system menu.
"""

import json
import os
import re
import shutil
import signal
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import DriverError, World, endpoints, procs, sandbox, wait_stable, wait_until  # noqa: E402
from harness.world import APP_TAG  # noqa: E402
from harness.driver import (IDCANCEL, IDOK, SC_CLOSE, WM_MOUSEMOVE, WM_SYSCOMMAND, WS_CAPTION,  # noqa: E402
                            WS_DISABLED)
from harness import resource_ids as rid  # noqa: E402
from harness.ras_double import ERROR_CANNOT_OPEN_PHONEBOOK, RasDouble  # noqa: E402

import startup_skin as skin  # noqa: E402

sandbox.enter()

BUILD = os.path.abspath(os.environ["KIVO_BUILD_DIR"])
TOOL = os.path.join(BUILD, "tests", "e2e", "tools", "kivo_startup_tool.exe")
TITLE = "Kivoline"
WINDOW_WAIT = 45

# Controls of the main dialog.
IDC_STATUS, IDC_USER_LABEL, IDC_PASSWORD_LABEL = rid.IDC_STATUS, rid.IDC_USER_LABEL, rid.IDC_PASSWORD_LABEL
IDC_INTELLIGENT, IDC_STATUS_LABEL, IDC_WEB_ADDRESS = rid.IDC_INTELLIGENT, rid.IDC_STATUS_LABEL, rid.IDC_WEB_ADDRESS
IDC_REGISTER, IDC_ACCOUNT, IDC_NETPERF, IDC_ABOUT = (rid.IDC_ACCOUNT_REGISTER, rid.IDC_ACCOUNT_STATUS, rid.IDC_NETPERF,
                                                     rid.IDC_ABOUT)
COMBOS = (rid.IDC_GROUP_CT, rid.IDC_GROUP_CNC, rid.IDC_GROUP_OTHER)
LABELS = (IDC_USER_LABEL, IDC_PASSWORD_LABEL, IDC_STATUS_LABEL, IDC_INTELLIGENT, IDC_WEB_ADDRESS, IDC_STATUS)

WS_EX_TOOLWINDOW = 0x00000080
WS_EX_APPWINDOW = 0x00040000
BS_TYPEMASK, BS_GROUPBOX, BS_OWNERDRAW = 0x0F, 0x07, 0x0B
WS_TABSTOP = 0x00010000
SS_TYPEMASK, SS_BITMAP = 0x1F, 0x0E
TRAY_CALLBACK = 1135
WM_GETICON, WM_QUERYDRAGICON, ICON_SMALL, ICON_BIG = 0x007F, 0x0037, 0, 1
IDM_ABOUTBOX = rid.IDM_ABOUTBOX
WM_NULL = 0x0000
ERROR_ALREADY_EXISTS = 183
NIM_ADD = 0
RAS_FLAVOUR = "en"


class TextSet:
    def __init__(self, **texts):
        self.__dict__.update(texts)


ENGLISH = TextSet(
    user="User :", password="Password :", status="Status :", intelligent="Intelligent",
    idle="Disconnection, idle", groups=("CT", "CNC", "Other"),
    servers=(("CT1", "CT2"), ("CNC1", "CNC2"), ("Other1", "Other2")), fail="(--Fail)", tray_menu=rid.IDR_TRAY_MENU_EN,
    about="About Velmar", about_item="&About KivoVpn...", already_running="Already Running",
    refused="Kivoline already running!",
    # Bitmap ids per button: normal, hover (and disabled for Connect).
    faces={IDOK: (rid.IDB_CONNECT_EN, rid.IDB_CONNECT_HOVER_EN, rid.IDB_CONNECT_DISABLED_EN),
           IDCANCEL: (rid.IDB_EXIT_EN, rid.IDB_EXIT_HOVER_EN),
           IDC_NETPERF: (rid.IDB_NETPERF_EN, rid.IDB_NETPERF_HOVER_EN),
           IDC_ABOUT: (rid.IDB_ABOUT_BTN_EN, rid.IDB_ABOUT_BTN_HOVER_EN),
           IDC_REGISTER: (rid.IDB_REGISTER_EN, rid.IDB_REGISTER_HOVER_EN),
           IDC_ACCOUNT: (rid.IDB_STATUS_EN, rid.IDB_STATUS_HOVER_EN)},
    # Window texts of the skinned buttons: the words on their faces.
    buttons={IDOK: "Connect", IDCANCEL: "Exit", IDC_NETPERF: "Network", IDC_ABOUT: "About",
             IDC_REGISTER: "Register", IDC_ACCOUNT: "Account"})
CHINESE = TextSet(
    user="用 户：", password="密 码：", status="状 态：", intelligent="智能检测",
    idle="未连接,空闲", groups=("电信", "网通", "其它"),
    servers=(("电信1", "电信2"), ("网通1", "网通2"), ("其它1", "其它2")), fail="(--失败)",
    tray_menu=rid.IDR_TRAY_MENU_ZH,
    about="关于Velmar", about_item="关于 KivoVpn(&A)...", already_running="已经运行", refused="Kivoline已经运行!",
    faces={IDOK: (rid.IDB_CONNECT_ZH, rid.IDB_CONNECT_HOVER_ZH, rid.IDB_CONNECT_DISABLED_ZH),
           IDCANCEL: (rid.IDB_EXIT_ZH, rid.IDB_EXIT_HOVER_ZH),
           IDC_NETPERF: (rid.IDB_NETPERF_ZH, rid.IDB_NETPERF_HOVER_ZH),
           IDC_ABOUT: (rid.IDB_ABOUT_BTN_ZH, rid.IDB_ABOUT_BTN_HOVER_ZH),
           IDC_REGISTER: (rid.IDB_REGISTER_ZH, rid.IDB_REGISTER_HOVER_ZH),
           IDC_ACCOUNT: (rid.IDB_STATUS_ZH, rid.IDB_STATUS_HOVER_ZH)},
    buttons={IDOK: "连 接", IDCANCEL: "退 出", IDC_NETPERF: "网络性能", IDC_ABOUT: "关 于",
             IDC_REGISTER: "帐号注册", IDC_ACCOUNT: "帐号查询"})
TRADITIONAL = TextSet(
    user="使用者：", password="密 碼：", status="狀 態：", intelligent="智慧偵測",
    idle="未連線，閒置", groups=("電信", "網通", "其他"),
    servers=(("電信1", "電信2"), ("網通1", "網通2"), ("其他1", "其他2")), fail="(--失敗)",
    tray_menu=rid.IDR_TRAY_MENU_TW,
    about="關於 Velmar", about_item="關於 KivoVpn(&A)...", already_running="已在執行", refused="Kivoline 已在執行！",
    faces={IDOK: (rid.IDB_CONNECT_TW, rid.IDB_CONNECT_HOVER_TW, rid.IDB_CONNECT_DISABLED_TW),
           IDCANCEL: (rid.IDB_EXIT_TW, rid.IDB_EXIT_HOVER_TW),
           IDC_NETPERF: (rid.IDB_NETPERF_TW, rid.IDB_NETPERF_HOVER_TW),
           IDC_ABOUT: (rid.IDB_ABOUT_BTN_TW, rid.IDB_ABOUT_BTN_HOVER_TW),
           IDC_REGISTER: (rid.IDB_REGISTER_TW, rid.IDB_REGISTER_HOVER_TW),
           IDC_ACCOUNT: (rid.IDB_STATUS_TW, rid.IDB_STATUS_HOVER_TW)},
    buttons={IDOK: "連 線", IDCANCEL: "結 束", IDC_NETPERF: "網路效能", IDC_ABOUT: "關 於",
             IDC_REGISTER: "帳號註冊", IDC_ACCOUNT: "帳號查詢"})
TRAY_MENUS = (rid.IDR_TRAY_MENU_ZH, rid.IDR_TRAY_MENU_TW, rid.IDR_TRAY_MENU_EN)

# Locale -> the system default language id Wine derives from it.
LOCALES = {"en_US.UTF-8": 1033, "zh_CN.UTF-8": 2052, "zh_HK.UTF-8": 3076, "zh_TW.UTF-8": 1028,
           "zh_MO.UTF-8": 5124, "zh_SG.UTF-8": 4100, "en_GB.UTF-8": 2057}


def text_set(locale):
    """The dialog's texts: Simplified Chinese for 2052 and 4100, Traditional
    for 1028, 3076 and 5124, English for every other."""
    lang_id = LOCALES[locale]
    if lang_id in (2052, 4100):
        return CHINESE
    return TRADITIONAL if lang_id in (1028, 3076, 5124) else ENGLISH


# --- worlds ---------------------------------------------------------------

_WORLDS = {}


def world(fonts="en"):
    """The script's world with this font set, started on first use."""
    if fonts not in _WORLDS:
        started = time.monotonic()
        _WORLDS[fonts] = World(fonts=fonts).__enter__()
        print(f"\n  world ({fonts}) ready in {time.monotonic() - started:.1f} s", file=sys.stderr)
    return _WORLDS[fonts]


def tearDownModule():
    for w in _WORLDS.values():
        w.__exit__(None, None, None)
    _WORLDS.clear()


def ras_of(w):
    """The RAS double's control directory that every client of `w` uses."""
    return RasDouble(os.path.join(w.run_dir, "ras"))


def leftover_path(w):
    return os.path.join(w.run_dir, "KivoUpdate.exe")


PARKING = (1000, 740)


def park_pointer(w):
    """The real pointer somewhere no window of the client can be."""
    # xdotool's synchronous move waits for a motion that never comes when
    # the pointer is there already.
    if w.screen.mouse_position() != PARKING:
        w.mouse_move(*PARKING)


def wait_for(condition, timeout=10, message=None):
    # A window may vanish while the driver describes it: that is "not yet".
    return wait_until(condition, timeout, message=message, ignore=(DriverError,))


# --- the client -------------------------------------------------------------

class Client:
    """One copy of the client and its main window."""

    def __init__(self, w, locale="en_US.UTF-8", exe=None):
        self.world = w
        self.d = w.driver
        self.app = w.start_app(locale=locale, ras=RAS_FLAVOUR, exe=exe)
        self.hwnd = self.app.wait_window(TITLE, visible=True, timeout=WINDOW_WAIT)
        self.controls = {c["id"]: c for c in self.d.children(self.hwnd)}

    def control(self, control_id):
        return self.controls[control_id]["hwnd"]

    def tray_window(self):
        return self.d.find_window("KIVO VPN", hidden=True, pid=self.app.win_pid)

    def exit(self):
        """Presses Exit and returns the exit code."""
        self.d.click(self.control(IDCANCEL))
        return self.app.wait_exit(20)

    def close(self):
        """Ends the copy at once where its own ending is not what a test
        looks at (each window Wine hides waits 2 s for a window manager
        that Xvfb does not have)."""
        self.app.kill()


class Tool:
    """kivo_startup_tool.exe started in a world; its JSON lines."""

    def __init__(self, w, *args):
        self.app = w.start_program(TOOL, args=args)

    def lines(self):
        out = []
        for line in self.app.log().splitlines():
            line = line.strip()
            if line.startswith("{"):
                try:
                    out.append(json.loads(line))
                except ValueError:
                    continue
        return out

    def wait_line(self, key, timeout=20):
        return wait_until(lambda: next((x for x in self.lines() if key in x), None) or self._check(), timeout,
                          message=f"{key!r} from kivo_startup_tool")

    def _check(self):
        if not self.app.running():
            raise AssertionError(f"kivo_startup_tool ended early: {self.app.log()}")
        return None

    def stop(self):
        self.app.kill()


def control_text(client, control_id):
    return client.d.text(client.control(control_id))


def send_inside(w, hwnd, msg, wparam=0, lparam=0):
    """A message sent from within the window's own process: Wine does not
    carry every message between processes."""
    tool = Tool(w, "send", hwnd, msg, wparam, lparam)
    code = tool.app.wait_exit(30)
    if code != 0:
        raise AssertionError(f"sending {msg} failed ({code}): {tool.app.log()}")
    return tool.lines()[-1]["result"]


def system_menu(w, hwnd):
    tool = Tool(w, "sysmenu", hwnd)
    code = tool.app.wait_exit(30)
    if code != 0:
        raise AssertionError(f"reading the system menu failed ({code}): {tool.app.log()}")
    return tool.lines()[-1]


# --- language variants ------------------------------------------------------

class LanguageVariants(unittest.TestCase):
    """Every system default language: the window, its texts, its lists, the
    tray icon's identifier and the About command, in the right set."""

    def test_each_language_builds_its_dialog(self):
        w = world()
        maker = endpoints.load(BUILD)["MakerUrl"]
        for locale, lang_id in LOCALES.items():
            texts = text_set(locale)
            with self.subTest(locale=locale, lang=lang_id):
                client = Client(w, locale)
                try:
                    self.check_window(client)
                    self.check_texts(client, texts, maker)
                    self.check_server_lists(client, texts)
                    self.check_tray_identifier(client, texts)
                    self.check_about_command(client, texts)
                finally:
                    client.close()

    def check_window(self, client):
        info = client.d.window_info(client.hwnd)
        self.assertEqual(info["title"], TITLE)
        self.assertEqual(info["style"] & WS_CAPTION, 0, "no caption bar")
        self.assertTrue(info["exstyle"] & WS_EX_TOOLWINDOW, "a tool window")
        self.assertFalse(info["exstyle"] & WS_EX_APPWINDOW, "no task-bar button")
        self.assertTrue(info["visible"])
        left, top, right, bottom = info["rect"]
        width, height = client.d.info()["screen"]
        self.assertLessEqual(abs((left + right) - width), 2, "centred across")
        self.assertLessEqual(abs((top + bottom) - height), 2, "centred down")

    def check_texts(self, client, texts, maker):
        got = {cid: client.controls[cid]["text"] for cid in LABELS}
        self.assertEqual(got, {IDC_USER_LABEL: texts.user, IDC_PASSWORD_LABEL: texts.password,
                               IDC_STATUS_LABEL: texts.status, IDC_INTELLIGENT: texts.intelligent,
                               IDC_WEB_ADDRESS: maker, IDC_STATUS: texts.idle})
        # What a screen reader says of each skinned button, and that the
        # keyboard reaches it.
        buttons = {cid: (client.controls[cid]["text"], client.controls[cid]["style"] & (BS_TYPEMASK | WS_TABSTOP))
                   for cid in texts.buttons}
        self.assertEqual(buttons, {cid: (text, BS_OWNERDRAW | WS_TABSTOP) for cid, text in texts.buttons.items()})
        connect = client.controls[IDOK]
        self.assertFalse(connect["enabled"], "Connect waits for a user name and a password")
        self.assertTrue(connect["style"] & WS_DISABLED)
        self.assertEqual(client.d.check(client.control(IDC_INTELLIGENT)), 1, "Intelligent is checked")

    def check_server_lists(self, client, texts):
        for combo, caption, names in zip(COMBOS, texts.groups, texts.servers):
            hwnd = client.control(combo)
            self.assertEqual(client.d.combo_items(hwnd), [caption] + [name + texts.fail for name in names])
            self.assertEqual(client.d.combo_sel(hwnd), 0)
            self.assertEqual(client.d.combo_text(hwnd), caption)

    def check_tray_identifier(self, client, texts):
        # The tray window answers the shell's callback only for its own icon.
        tray = client.tray_window()
        self.assertTrue(tray, "the tray's hidden window")
        answers = {menu: client.d.send(tray, TRAY_CALLBACK, menu, WM_MOUSEMOVE) for menu in TRAY_MENUS}
        self.assertEqual(answers, {menu: int(menu == texts.tray_menu) for menu in TRAY_MENUS})

    def check_about_command(self, client, texts):
        menu = system_menu(client.world, client.hwnd)
        if menu["count"] >= 0:
            # Where the window has a system menu, the About item ends it.
            items = menu["items"]
            self.assertGreaterEqual(len(items), 2, menu)
            self.assertTrue(items[-2]["separator"], menu)
            self.assertEqual((items[-1]["id"], items[-1]["text"]), (IDM_ABOUTBOX, texts.about_item))
        # Wine gives a window without a system-menu box no system menu; the
        # command itself still opens the About box in the dialog's language.
        about = open_about(client)
        self.assertEqual(about["caption"], texts.about)


def open_about(client):
    """Sends the About command the system menu would send; the About box."""
    client.d.post(client.hwnd, WM_SYSCOMMAND, IDM_ABOUTBOX)
    return wait_for(lambda: next((x for x in client.app.dialogs() if x["owner"] == client.hwnd), None),
                    message="the About box")


class AboutBox(unittest.TestCase):
    def test_about_box_is_modal_and_gives_the_window_back(self):
        client = Client(world(), "zh_HK.UTF-8")
        d = client.d
        try:
            about = open_about(client)
            self.assertEqual(about["caption"], TRADITIONAL.about)
            self.assertFalse(d.window_info(client.hwnd)["enabled"], "the dialog waits for the About box")
            d.click(about["buttons"][0]["hwnd"])
            wait_for(lambda: d.window_info(client.hwnd)["enabled"], message="the dialog enabled again")
            self.assertEqual([x for x in client.app.dialogs() if x["owner"] == client.hwnd], [])
            self.assertTrue(d.visible(client.hwnd))
            self.assertEqual(d.text(client.control(IDC_STATUS)), TRADITIONAL.idle)
        finally:
            client.close()


class WindowIcons(unittest.TestCase):
    def test_application_icon_is_the_window_and_drag_icon(self):
        w = world()
        client = Client(w, "zh_CN.UTF-8")
        try:
            big = send_inside(w, client.hwnd, WM_GETICON, ICON_BIG)
            small = send_inside(w, client.hwnd, WM_GETICON, ICON_SMALL)
            self.assertNotEqual(big, 0)
            self.assertNotIn(small, (0, big), "a 16x16 rendering of its own")
            self.assertEqual(send_inside(w, client.hwnd, WM_QUERYDRAGICON), big)
        finally:
            client.close()


# --- a system whose ANSI code page is UTF-8 -------------------------------------

# Wine takes a program's ANSI code page from the locale, or from this setting of
# its manifest, never from the registry's Nls\CodePage\ACP (which it writes).
ACTIVE_CODE_PAGE_UTF8 = (b'<activeCodePage xmlns="http://schemas.microsoft.com/SMI/2019/WindowsSettings">'
                         b'UTF-8</activeCodePage>')


def utf8_code_page_copy(exe, folder):
    """A copy of the program that runs with the ANSI code page 65001, as every
    program does on a system set to "Unicode UTF-8 for worldwide language
    support": its manifest's long comment gives way to the activeCodePage
    setting, padded to the same length, so nothing else in the file moves."""
    with open(exe, "rb") as f:
        data = f.read()
    comment = re.search(rb"<!-- Per-monitor v2.*?-->", data, re.S)
    assert comment and len(comment.group()) >= len(ACTIVE_CODE_PAGE_UTF8), "the manifest's comment"
    patched = data[:comment.start()] + ACTIVE_CODE_PAGE_UTF8.ljust(len(comment.group())) + data[comment.end():]
    path = os.path.join(folder, "KivoVpn.exe")
    with open(path, "wb") as f:
        f.write(patched)
    return path


class Utf8CodePage(unittest.TestCase):
    def test_simplified_texts_read_exactly_with_the_utf8_code_page(self):
        # GBK bytes read as UTF-8 would turn into replacement characters.
        w = world()
        with tempfile.TemporaryDirectory() as folder:
            client = Client(w, "zh_CN.UTF-8", exe=utf8_code_page_copy(w.client_exe(), folder))
            try:
                got = {cid: control_text(client, cid) for cid in LABELS if cid != IDC_WEB_ADDRESS}
                self.assertEqual(got, {IDC_USER_LABEL: CHINESE.user, IDC_PASSWORD_LABEL: CHINESE.password,
                                       IDC_STATUS_LABEL: CHINESE.status, IDC_INTELLIGENT: CHINESE.intelligent,
                                       IDC_STATUS: CHINESE.idle})
                self.assertEqual([client.d.combo_items(client.control(c)) for c in COMBOS],
                                 [[caption] + [name + CHINESE.fail for name in names]
                                  for caption, names in zip(CHINESE.groups, CHINESE.servers)])
            finally:
                client.close()


# --- one copy at a time -------------------------------------------------------

class SingleInstance(unittest.TestCase):
    def setUp(self):
        self.w = world()
        self.d = self.w.driver
        self.ras = ras_of(self.w)
        self.ras.reset()
        self.ras.clear_calls()

    def refused_start(self, locale, exe=None, close=True):
        """A start while the mutex is held and no window is titled
        Kivoline: its message box, and its exit code once the box is closed
        with OK (None when the copy is ended without closing it)."""
        app = self.w.start_app(locale=locale, ras=RAS_FLAVOUR, exe=exe)
        try:
            box = wait_for(lambda: next(iter(app.message_boxes()), None), 20, message=f"the message box ({locale})")
            self.assertEqual(self.d.find_window(TITLE, hidden=True, pid=app.win_pid), 0, "no main window")
            if not close:
                return box, None
            self.d.click(box["buttons"][0]["hwnd"])
            return box, app.wait_exit(20)
        finally:
            app.kill()

    def test_held_mutex_without_a_window_refuses_in_the_start_up_language(self):
        # The application's own rule: Simplified Chinese for 2052 and 4100,
        # Traditional for 1028, 3076 and 5124, English for every other.
        holder = Tool(self.w, "hold", TITLE, 120000)
        try:
            self.assertEqual(holder.wait_line("mutex"), {"mutex": TITLE, "existed": False})
            for locale, lang_id in LOCALES.items():
                with self.subTest(locale=locale, lang=lang_id):
                    box, _ = self.refused_start(locale, close=False)
                    self.assertEqual((box["caption"], box["message"]), ("KivoVpn", text_set(locale).refused))
                    self.assertEqual([b["id"] for b in box["buttons"]], [IDOK], "an OK button only")
            with tempfile.TemporaryDirectory() as folder:
                renamed = os.path.join(folder, "Kivo.Client.exe")
                shutil.copy(self.w.client_exe(), renamed)
                box, code = self.refused_start("zh_SG.UTF-8", exe=renamed)
                self.assertEqual((box["caption"], box["message"]), ("Kivo.Client", CHINESE.refused),
                                 "the caption is the program's file name without its extension")
                self.assertEqual(code, 0, "the copy ends once the box is closed")
        finally:
            holder.stop()
        # The refusal comes before anything else: no dialog ever existed to close.
        self.assertEqual(self.ras.calls(), [])

    def test_refused_start_leaves_the_leftover_updater(self):
        leftover = leftover_path(self.w)
        with open(leftover, "wb") as f:
            f.write(b"MZ an updater of an earlier run")
        holder = Tool(self.w, "hold", TITLE, 120000)
        try:
            holder.wait_line("mutex")
            box, code = self.refused_start("en_US.UTF-8")
            self.assertEqual((box["message"], code), (ENGLISH.refused, 0))
            self.assertTrue(os.path.exists(leftover), "a refused start deletes nothing")
        finally:
            holder.stop()
            os.remove(leftover)

    def test_second_start_ends_while_the_first_hangs(self):
        first = Client(self.w)
        stopped = procs.marked(first.app.tag, var=APP_TAG)
        try:
            for pid in stopped:
                os.kill(pid, signal.SIGSTOP)
            with self.assertRaises(DriverError, msg="the first copy answers nothing"):
                self.d.send(first.hwnd, WM_NULL, timeout=1000)
            second = self.w.start_app(locale="en_US.UTF-8", ras=RAS_FLAVOUR)
            # Its send to the first copy is bounded (5 s); then it ends as usual.
            self.assertEqual(second.wait_exit(30), 0)
        finally:
            for pid in stopped:
                os.kill(pid, signal.SIGCONT)
            first.close()

    def test_second_start_wakes_the_first_which_stays_as_it_was(self):
        for locale, hide in (("en_US.UTF-8", False), ("zh_CN.UTF-8", True)):
            texts = text_set(locale)
            with self.subTest(first=locale, hidden=hide):
                first = Client(self.w, locale)
                try:
                    if hide:
                        self.d.send(first.hwnd, WM_SYSCOMMAND, SC_CLOSE)
                        wait_for(lambda: not self.d.visible(first.hwnd), message="the first copy to hide")
                    before = self.d.window_info(first.hwnd)
                    self.ras.clear_calls()
                    second = self.w.start_app(locale="zh_TW.UTF-8", ras=RAS_FLAVOUR)
                    # Nothing of the second copy waits for the user: it ends by itself.
                    self.assertEqual(second.wait_exit(20), 0)
                    balloon = wait_for(lambda: next((b for b in self.d.tray()["balloons"]
                                                     if b["visible"] and b["heading"] == texts.already_running),
                                                    None), message=f"the balloon {texts.already_running!r}")
                    self.assertEqual(balloon["text"], "Kivoline")
                    after = self.d.window_info(first.hwnd)
                    self.assertEqual((after["visible"], after["rect"]), (before["visible"], before["rect"]))
                    self.assertEqual(after["visible"], not hide)
                    self.assertTrue(first.app.running())
                    self.assertEqual(self.ras.calls(), [], "the second copy never had a dialog to close")
                finally:
                    first.close()


# --- the leftover updater -------------------------------------------------------

class LeftoverUpdater(unittest.TestCase):
    def setUp(self):
        self.w = world()
        self.path = leftover_path(self.w)

    def tearDown(self):
        if os.path.isdir(self.path):
            os.rmdir(self.path)
        elif os.path.exists(self.path):
            os.remove(self.path)

    def test_leftover_is_deleted_before_the_window_shows(self):
        with open(self.path, "wb") as f:
            f.write(b"MZ" + bytes(4096))
        client = Client(self.w)
        try:
            self.assertFalse(os.path.exists(self.path))
        finally:
            client.close()

    def test_start_without_one_and_with_one_that_cannot_be_deleted(self):
        self.assertFalse(os.path.exists(self.path))
        client = Client(self.w)
        try:
            self.assertFalse(os.path.exists(self.path), "nothing is made in its place")
        finally:
            client.close()
        os.mkdir(self.path)  # a directory of that name is no file to delete
        client = Client(self.w)
        try:
            self.assertTrue(os.path.isdir(self.path))
            self.assertEqual(control_text(client, IDC_STATUS), ENGLISH.idle)
        finally:
            client.close()


# --- closing ---------------------------------------------------------------------

class PhonebookAtExit(unittest.TestCase):
    def setUp(self):
        self.w = world()
        self.ras = ras_of(self.w)
        self.ras.reset()
        self.ras.remove_entry()
        self.ras.clear_calls()

    def tearDown(self):
        self.ras.reset()
        self.ras.remove_entry()

    def run_and_exit(self):
        client = Client(self.w)
        try:
            self.assertIsNotNone(self.ras.entry_bytes(), "start-up leaves the entry alone")
            self.assertEqual(self.ras.calls(), [], "start-up makes no RAS call")
            self.assertEqual(client.exit(), 0)
        finally:
            client.close()
        return [(c.name, c.get("entry"), c.result) for c in self.ras.calls()]

    def test_exit_deletes_an_existing_entry(self):
        self.ras.plant_entry(szLocalPhoneNumber="203.0.113.31", dwType=2)
        calls = self.run_and_exit()
        self.assertEqual(calls, [("RasValidateEntryNameW", "Kivoline", ERROR_ALREADY_EXISTS),
                                 ("RasDeleteEntryW", "Kivoline", 0)])
        self.assertIsNone(self.ras.entry_bytes())

    def test_exit_deletes_nothing_when_validation_finds_no_entry(self):
        for validate in (0, ERROR_CANNOT_OPEN_PHONEBOOK):
            with self.subTest(validate=validate):
                self.ras.clear_calls()
                self.ras.plant_entry(szLocalPhoneNumber="203.0.113.31", dwType=2)
                self.ras.configure(validate=validate)
                self.assertEqual(self.run_and_exit(), [("RasValidateEntryNameW", "Kivoline", validate)])
                self.assertIsNotNone(self.ras.entry_bytes())

    def test_exit_ends_even_when_the_deletion_fails(self):
        self.ras.plant_entry(szLocalPhoneNumber="203.0.113.31", dwType=2)
        self.ras.configure(delete_fails=1)
        calls = self.run_and_exit()
        self.assertEqual([name for name, _, _ in calls], ["RasValidateEntryNameW", "RasDeleteEntryW"])
        self.assertNotEqual(calls[-1][2], 0)
        self.assertIsNotNone(self.ras.entry_bytes())


# --- a shell that refuses the tray icon --------------------------------------------

class RefusedTrayIcon(unittest.TestCase):
    def test_window_shows_and_paints_without_a_tray_icon(self):
        w = world()
        d = w.driver
        tray = Tool(w, "refuse-tray", 120000)
        client = None
        try:
            tray.wait_line("tray")
            icons_before = {i["hwnd"] for i in d.tray()["icons"]}
            client = Client(w)
            self.assertEqual([x["refused"] for x in tray.lines() if "refused" in x][:1], [NIM_ADD])
            self.assertEqual([i for i in d.tray()["icons"] if i["hwnd"] not in icons_before], [], "no icon")
            # Initialisation went on without the icon: texts, measured lists,
            # the checked choice, Connect waiting for a user and a password ...
            self.assertEqual(d.text(client.control(IDC_STATUS)), ENGLISH.idle)
            self.assertEqual(d.text(client.control(IDC_USER_LABEL)), ENGLISH.user)
            self.assertEqual([d.combo_items(client.control(c)) for c in COMBOS],
                             [[caption] + [name + ENGLISH.fail for name in names]
                              for caption, names in zip(ENGLISH.groups, ENGLISH.servers)])
            self.assertEqual(d.check(client.control(IDC_INTELLIGENT)), 1)
            self.assertFalse(d.enabled(client.control(IDOK)))
            # ... and the skin around the controls.
            rect = d.client_rect(client.hwnd)
            wait_stable(lambda: w.screenshot(rect=rect).tobytes(), duration=0.3)
            shot = w.screenshot(rect=rect)
            background = skin.artwork(skin.BACKGROUND)
            mask = skin.uncovered_mask(d.children(client.hwnd), rect[:2], background.size)
            result = skin.compare(shot, background, mask.image)
            self.assertTrue(result.equal, str(result))
            self.assertTrue(client.app.running())
            self.assertEqual(client.exit(), 0)
        finally:
            if client:
                client.close()
            tray.stop()


# --- the skin on the screen ------------------------------------------------------------

class FaceChecks:
    """Screenshots of a freshly started dialog's button faces against
    res/art: the faces of its text set. Subclasses say which world and
    locale."""

    FONTS = "en"
    LOCALE = "en_US.UTF-8"

    @classmethod
    def setUpClass(cls):
        cls.w = world(cls.FONTS)
        cls.d = cls.w.driver
        cls.texts = text_set(cls.LOCALE)
        park_pointer(cls.w)
        cls.client = Client(cls.w, cls.LOCALE)
        cls.client_rect = cls.d.client_rect(cls.client.hwnd)
        wait_stable(lambda: cls.w.screenshot(rect=cls.client_rect).tobytes(), duration=0.3)

    @classmethod
    def tearDownClass(cls):
        cls.client.close()

    def shot(self):
        return self.w.screenshot(rect=self.client_rect)

    def rect_of(self, control):
        return skin.relative(control["rect"], self.client_rect[:2])

    def face_on_screen(self, button_id):
        return self.w.screenshot(rect=self.client.controls[button_id]["rect"])

    def assert_face(self, button_id, bitmap_id, timeout=5):
        expected = skin.artwork(bitmap_id)
        try:
            wait_until(lambda: skin.compare(self.face_on_screen(button_id), expected).equal, timeout)
        except AssertionError:
            self.fail(f"button {button_id} does not show bitmap {bitmap_id}: "
                      f"{skin.compare(self.face_on_screen(button_id), expected)}")

    def point_at(self, control_id):
        left, top, right, bottom = self.client.controls[control_id]["rect"]
        self.w.mouse_move((left + right) // 2, (top + bottom) // 2)

    def normal_faces(self):
        faces = {button: ids[0] for button, ids in self.texts.faces.items()}
        faces[IDOK] = self.texts.faces[IDOK][2]  # disabled until there is a user and a password
        return faces

    def test_every_button_face_is_its_artwork(self):
        park_pointer(self.w)
        for button, bitmap in self.normal_faces().items():
            with self.subTest(button=button, bitmap=bitmap):
                left, top, right, bottom = self.client.controls[button]["rect"]
                self.assertEqual((right - left, bottom - top), skin.artwork(bitmap).size)
                self.assert_face(button, bitmap)

    def test_hover_face_follows_the_pointer(self):
        park_pointer(self.w)
        faces = self.texts.faces
        for button, bitmap in self.normal_faces().items():
            self.assert_face(button, bitmap)
        # Along the bottom row and then down the right column: the face under
        # the pointer turns to its hover image, the one left behind turns back.
        path = [IDCANCEL, IDC_NETPERF, IDC_ABOUT, IDC_REGISTER, IDC_ACCOUNT]
        for previous, button in zip([None] + path, path):
            with self.subTest(hover=button):
                self.point_at(button)
                self.assert_face(button, faces[button][1])
                if previous is not None:
                    self.assert_face(previous, faces[previous][0])
        # The disabled Connect button keeps its disabled face under the pointer.
        self.point_at(IDOK)
        self.assert_face(path[-1], faces[path[-1]][0])
        wait_stable(lambda: self.face_on_screen(IDOK).tobytes(), duration=0.3)
        self.assert_face(IDOK, faces[IDOK][2], timeout=0)
        park_pointer(self.w)
        for button, bitmap in self.normal_faces().items():
            self.assert_face(button, bitmap)


class SkinChecks(FaceChecks):
    """The faces, and the background, logo and labels around them."""

    def test_background_fills_the_client_area_around_the_controls(self):
        background = skin.artwork(skin.BACKGROUND)
        mask = skin.uncovered_mask(self.d.children(self.client.hwnd), self.client_rect[:2], background.size)
        shot = self.shot()
        self.assertGreaterEqual(shot.width, background.width - 4)
        result = skin.compare(shot, background, mask.image)
        self.assertTrue(result.equal, str(result))
        self.assertGreater(result.compared, background.width * background.height // 3)

    def test_logo_is_its_bitmap(self):
        [logo] = [c for c in self.client.controls.values() if c["class"] == "Static"
                  and c["style"] & SS_TYPEMASK == SS_BITMAP]
        result = skin.compare(self.w.screenshot(rect=logo["rect"]), skin.artwork(skin.LOGO))
        self.assertTrue(result.equal, str(result))

    def test_transparent_labels_show_the_skin_around_their_text(self):
        background = skin.artwork(skin.BACKGROUND)
        shot = self.shot()
        for label in LABELS:
            with self.subTest(label=label):
                rect = self.rect_of(self.client.controls[label])
                if label == IDC_STATUS:
                    rect = skin.inset(rect, 2)  # inside the sunken frame
                got, want = shot.crop(rect), background.crop(rect)
                result = skin.compare(got, want)
                self.assertLess(result.differing, result.compared // 2, f"mostly skin: {result}")
                self.assertGreaterEqual(result.differing, 15, "and the text over it")


class EnglishSkin(SkinChecks, unittest.TestCase):
    FONTS = "en"
    LOCALE = "en_US.UTF-8"


class ChineseSkin(SkinChecks, unittest.TestCase):
    FONTS = "cjk"
    LOCALE = "zh_CN.UTF-8"


class TraditionalSkin(FaceChecks, unittest.TestCase):
    FONTS = "cjk"
    LOCALE = "zh_TW.UTF-8"


if __name__ == "__main__":
    started = time.monotonic()
    result = unittest.main(exit=False, verbosity=2).result
    print(f"test_startup.py: {time.monotonic() - started:.1f} s", file=sys.stderr)
    sys.exit(0 if result.wasSuccessful() else 1)
