"""The test rig itself: sealed namespace, Wine world, driver, screenshots,
pointer, language ids and clean-up, proven against the rig's sample window
(tests/driver/sample_window.cpp) instead of the client.

Prints the rig's timings (world start, program start, driver round trip).
"""

import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import textwrap
import time
import unittest

from harness import (AppExited, Driver, DriverError, DriverTimeout, WaitTimeout, World, arch, demo, endpoints,
                     locales, procs, sandbox, wait_stable, wait_until, wine)
from harness.driver import BM_CLICK, VK_ESCAPE, WM_GETTEXTLENGTH

sandbox.enter()

BUILD = os.environ["KIVO_BUILD_DIR"]
SAMPLE = os.path.join(BUILD, "tests", "driver", "kivo_sample_window.exe")
HARNESS_PARENT = os.path.dirname(os.path.abspath(__file__))

# Control ids of the sample window (tests/driver/sample_window.h).
IDC_USER, IDC_PASS, IDC_STATUS, IDC_COMBO, IDC_LIST, IDC_CHECK = 1001, 1002, 1003, 1017, 1020, 1021
IDC_MESSAGE, IDC_MENU, IDC_TRAY, IDC_HOVER, IDC_LANG, IDCANCEL = 1030, 1031, 1032, 1040, 1041, 2
BACKGROUND, PAD_IDLE, PAD_HOVER = (32, 96, 160), (200, 0, 0), (0, 200, 0)
EXIT_CODE = 0x89ABCDEF

TIMINGS = {}


def report(name, seconds):
    TIMINGS[name] = seconds
    print(f"rig timing: {name}: {seconds * 1000:.2f} ms", flush=True)


class SampleSession(unittest.TestCase):
    """One world and one sample window (zh_CN) for the driver's commands."""

    @classmethod
    def setUpClass(cls):
        started = time.monotonic()
        cls.world = World()
        cls.world.__enter__()
        report("world start (prefix check, Xvfb, wineserver, driver, session boot)", time.monotonic() - started)
        if cls.world.prefix_seconds is not None:
            report("prefix creation", cls.world.prefix_seconds)
        cls.d = cls.world.driver
        started = time.monotonic()
        cls.app = cls.world.start_program(SAMPLE, locale="zh_CN.UTF-8")
        cls.hwnd = cls.app.wait_window("Kivoline", visible=True, timeout=20)
        report("sample program start to visible window (warm wineserver)", time.monotonic() - started)
        cls.controls = {c["id"]: c for c in cls.d.children(cls.hwnd)}

    @classmethod
    def tearDownClass(cls):
        cls.world.__exit__(None, None, None)

    def control(self, control_id):
        return self.controls[control_id]["hwnd"]

    def status(self):
        return self.d.text(self.control(IDC_STATUS))

    def wait_status(self, expected, timeout=5):
        return wait_until(lambda: self.status() == expected, timeout, message=f"status {expected!r}")

    def wait_status_prefix(self, prefix, timeout=5):
        return wait_until(lambda: self.status().startswith(prefix) and self.status(), timeout,
                          message=f"status {prefix!r}...")


class Windows:
    def test_find_window_sees_hidden_windows_only_when_asked(self):
        self.assertEqual(self.d.find_window("Kivoline"), self.hwnd)
        self.assertEqual(self.d.find_window("KIVO VPN"), 0)
        hidden = self.d.find_window("KIVO VPN", hidden=True)
        self.assertNotEqual(hidden, 0)
        self.assertEqual(self.d.find_window("KIVO VPN", cls="KivoSampleHidden", hidden=True), hidden)
        self.assertEqual(self.d.find_window("KIVO VPN", cls="Other", hidden=True), 0)
        self.assertEqual(self.d.find_window("Kivoline", pid=self.app.win_pid + 4), 0)

    def test_window_info_describes_the_dialog(self):
        info = self.d.window_info(self.hwnd)
        self.assertEqual((info["title"], info["class"], info["pid"]), ("Kivoline", "#32770", self.app.win_pid))
        self.assertTrue(info["visible"] and info["enabled"])
        left, top, right, bottom = info["rect"]
        self.assertGreater(right - left, 100)
        self.assertGreater(bottom - top, 100)
        self.assertTrue(info["style"] & 0x10000000)  # WS_VISIBLE
        own = [w["hwnd"] for w in self.app.windows()]
        self.assertIn(self.hwnd, own)
        self.assertIn(self.d.find_window("KIVO VPN", hidden=True), own)

    def test_children_list_every_control_with_its_text(self):
        kids = self.d.children(self.hwnd)
        by_id = {c["id"]: c for c in kids}
        self.assertEqual(by_id[IDC_USER]["class"], "Edit")
        self.assertEqual(by_id[IDC_COMBO]["class"], "ComboBox")
        self.assertEqual(by_id[IDC_LIST]["class"], "SysListView32")
        self.assertEqual(by_id[IDC_CHECK]["text"], "Remember me")
        self.assertEqual(by_id[IDCANCEL]["text"], "Exit")
        self.assertEqual(by_id[IDC_LANG]["text"], "lang:2052")
        self.assertTrue(all(c["parent"] == self.hwnd for c in kids))
        self.assertGreater(len(self.d.children(self.hwnd, deep=True)), len(kids))  # the list's header

    def test_texts_of_any_language_cross_intact(self):
        edit = self.control(IDC_USER)
        for text in ["plain", "用户 ü 😀", 'q"uote\\back\tslash', ""]:
            self.assertTrue(self.d.set_text(edit, text))
            self.assertEqual(self.d.text(edit), text)
            # The dialog saw the change through its own EN_CHANGE handler.
            self.wait_status("user:" + text)
        self.assertEqual(self.d.send(edit, WM_GETTEXTLENGTH), 0)
        self.d.set_text(edit, "五个字符串")
        self.assertEqual(self.d.send(edit, WM_GETTEXTLENGTH), 5)

    def test_click_and_command_reach_the_dialog(self):
        check = self.control(IDC_CHECK)
        before = self.d.check(check)
        self.d.click(check)
        wait_until(lambda: self.d.check(check) == 1 - before, 5)
        self.wait_status(f"check:{1 - before}")
        self.d.post(check, BM_CLICK)
        wait_until(lambda: self.d.check(check) == before, 5)
        self.d.command(self.hwnd, 4242, 7)
        self.assertEqual(self.status(), "command:4242:7")

    def test_combo_box_items_and_selection(self):
        combo = self.control(IDC_COMBO)
        self.assertEqual(self.d.combo_items(combo), ["Intelligent", "CT1(--35ms)", "电信2(--失败)"])
        self.d.combo_select(combo, 2)
        self.assertEqual(self.d.combo_sel(combo), 2)
        self.assertEqual(self.d.combo_text(combo), "电信2(--失败)")
        self.assertEqual(self.status(), "combo:2")
        self.d.combo_select(combo, 0, notify=False)
        self.assertEqual(self.d.combo_sel(combo), 0)
        self.assertEqual(self.status(), "combo:2")

    def test_list_view_is_read_across_processes(self):
        lv = self.control(IDC_LIST)
        view = self.d.listview(lv)
        self.assertEqual(view["columns"], ["Server", "Delay", "Rate"])
        self.assertEqual(view["items"], [["CT1", "35ms", "100%"], ["网通1", "N/A", "0%"]])
        self.assertTrue(self.d.listview_select(lv, 1))
        self.wait_status("list:1")
        self.assertEqual(self.d.listview(lv)["selected"], [1])
        left, top, right, bottom = self.d.listview_item_rect(lv, 1)
        lv_rect = self.d.rect(lv)
        self.assertTrue(lv_rect[0] <= left < right <= lv_rect[2] and lv_rect[1] <= top < bottom <= lv_rect[3])

    def test_remote_send_patches_pointers_into_the_target(self):
        lv = self.control(IDC_LIST)
        # LVITEMW {mask, iItem, iSubItem, state, stateMask, pszText, cchTextMax, ...} with its
        # text buffer 64 bytes into the block: pszText holds that offset and is patched. The
        # pointer is aligned to its own size, so the record differs between the architectures.
        pointer = arch.current().pointer_bytes
        self.assertEqual(self.d.call("info")["pointer_bytes"], pointer)
        text_at = 20 if pointer == 4 else 24
        record = bytearray(64)
        for offset, value, size in ((4, 1, 4), (8, 0, 4), (text_at, 64, pointer), (text_at + pointer, 32, 4)):
            record[offset:offset + size] = value.to_bytes(size, "little")
        result, block = self.d.remote_send(lv, 0x1073, record, size=64 + 64, patch=[text_at],
                                           wparam=1)  # LVM_GETITEMTEXTW
        self.assertEqual(result, 3)
        self.assertEqual(block[64:70].decode("utf-16-le"), "网通1")
        with self.assertRaises(DriverError) as raised:
            self.d.remote_send(lv, 0x1073, record, size=64, patch=[64 - pointer + 2])
        self.assertEqual(raised.exception.code, "bad_request")

    def test_foreground_can_be_read_and_set(self):
        self.assertTrue(self.d.set_foreground(self.hwnd))
        wait_until(lambda: (self.d.foreground() or {}).get("hwnd") == self.hwnd, 5)


class Dialogs:
    def test_message_box_is_listed_with_texts_and_buttons(self):
        self.assertEqual(self.app.message_boxes(), [])
        self.assertEqual([d["hwnd"] for d in self.app.dialogs()], [self.hwnd])
        self.d.click(self.control(IDC_MESSAGE))
        box = self.app.wait_message_box(caption="拨号失败")
        self.assertEqual(box["message"], "Unable to connect.\n无法连接。")
        self.assertTrue(box["icon"])
        self.assertEqual(box["owner"], self.hwnd)
        # Wine's own button text, in the program's language.
        self.assertEqual([(b["id"], b["text"]) for b in box["buttons"]], [(1, "确定")])
        self.d.click(box["buttons"][0]["hwnd"])
        self.wait_status("message:1")
        wait_until(lambda: self.app.message_boxes() == [], 5)

    def test_popup_menu_of_another_process_is_read_and_chosen(self):
        self.d.click(self.control(IDC_MENU))
        menus = wait_until(lambda: self.d.popup_menus(), 5, message="the popup menu")
        menu = menus[0]
        self.assertEqual(menu["pid"], self.app.win_pid)
        self.assertTrue(menu["readable"], menu)
        items = [(i["id"], i["text"], i["grayed"]) for i in menu["items"]]
        self.assertEqual(items, [(32776, "Minimize...", False), (32773, "Disconnect...", True),
                                 (32775, "Exit...", False), (32774, "关于...", False)])
        self.d.menu_choose(3)
        self.wait_status("menu:32774")
        self.d.click(self.control(IDC_MENU))
        wait_until(lambda: self.d.popup_menus(), 5)
        self.d.menu_dismiss()
        self.wait_status("menu:0")
        self.assertEqual(self.d.popup_menus(), [])

    def test_tray_icon_tip_and_balloon_are_read_from_the_shell(self):
        self.d.click(self.control(IDC_TRAY))
        self.wait_status("tray:1")
        balloon = wait_until(lambda: [b for b in self.d.tray()["balloons"] if b["visible"]], 10,
                             message="the balloon")[0]
        self.assertEqual((balloon["heading"], balloon["text"]), ("Connected", "Sample balloon 气球"))
        icons = self.d.tray()["icons"]
        self.assertEqual([i["tip"] for i in icons], ["Kivoline 样例"])
        self.d.tray_click(icons[0]["hwnd"], "right")
        self.wait_status("tray-event:517")  # WM_RBUTTONUP reached the owner
        self.d.tray_click(icons[0]["hwnd"], "left", double=True)
        self.wait_status("tray-event:514")  # the last one: WM_LBUTTONUP


class Screen:
    def test_screenshot_shows_the_window_where_the_driver_says(self):
        image = self.world.screenshot(self.hwnd)
        left, top, right, bottom = self.d.rect(self.hwnd)
        self.assertEqual(image.size, (right - left, bottom - top))
        cl, ct, cr, cb = self.d.client_rect(self.hwnd)
        # The skin colour just inside the client area's lower right corner.
        self.assertEqual(image.getpixel((cr - left - 4, cb - top - 4)), BACKGROUND)

    def test_real_pointer_hovers_and_leaves(self):
        pad = self.controls[IDC_HOVER]
        rect = pad["rect"]
        self.assertEqual(self.world.screenshot(rect=rect).getpixel((3, 3)), PAD_IDLE)
        self.world.mouse_move((rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2)
        self.wait_status("hover:1")
        wait_until(lambda: self.world.screenshot(rect=rect).getpixel((3, 3)) == PAD_HOVER, 5)
        self.world.mouse_move(1000, 740)
        self.wait_status("hover:0")
        self.assertEqual(self.world.screen.mouse_position(), (1000, 740))


class DriverProtocol:
    def test_bad_requests_are_answered_and_survived(self):
        cases = {
            b"not json": "bad_request",
            b'{"cmd": "no_such_command"}': "bad_request",
            b'{"cmd": "text"}': "bad_request",
            b'{"cmd": "text", "hwnd": "12"}': "bad_request",
            b'{"cmd": "text", "hwnd": 4294967296}': "bad_request",
            b'{"cmd": "text", "hwnd": 1234567}': "no_window",
            b'{"cmd": "set_text", "hwnd": 1, "text": "\\ud800"}': "bad_request",
            b'{"cmd": "info"} trailing': "bad_request",
            b'{"cmd": "info", "x": "\xff\xfe"}': "bad_request",
            b"[" * 200 + b"]" * 200: "bad_request",
            b'{"cmd": "key", "hwnd": 1, "vk": 300}': "no_window",
            b'{"cmd": "send", "msg": 12}': "bad_request",
        }
        for line, code in cases.items():
            answer = self.d.raw(line)
            self.assertFalse(answer["ok"], line)
            self.assertEqual(answer["code"], code, (line, answer))
        self.assertEqual(self.d.raw(b'{"id": "x", "cmd": "info"}')["id"], "x")
        self.assertEqual(self.d.info()["screen"], [1024, 768])

    def test_overlong_request_is_refused_and_the_next_one_served(self):
        answer = self.d.raw(b'{"cmd": "info", "pad": "' + b"x" * (5 << 20) + b'"}', timeout=60)
        self.assertEqual((answer["ok"], answer["code"]), (False, "bad_request"))
        self.assertIn("too long", answer["error"])
        self.assertEqual(self.d.text(self.control(IDC_LANG)), "lang:2052")

    def test_round_trip_latency(self):
        started = time.monotonic()
        for _ in range(50):
            self.d.text(self.control(IDC_STATUS))
        report("driver round trip (WM_GETTEXT across processes), mean of 50", (time.monotonic() - started) / 50)
        self.assertIn("commands", self.d.call("commands"))


class ProgramEnd:
    def test_escape_ends_a_program_with_its_full_exit_code(self):
        app = self.world.start_program(SAMPLE, args=[f"/exit={EXIT_CODE}"])
        hwnd = app.wait_window("Kivoline")
        pid = app.win_pid
        self.d.key(self.d.child(hwnd, IDC_USER)["hwnd"], VK_ESCAPE)
        self.assertEqual(app.wait_exit(10), EXIT_CODE)
        self.assertEqual(app.process.returncode, EXIT_CODE & 0xFF)
        self.assertEqual(self.d.exit_code(pid), {"running": False, "code": EXIT_CODE})
        with self.assertRaises(AppExited):
            app.wait_window("Kivoline", timeout=2)


class SampleWindow(Windows, Dialogs, Screen, DriverProtocol, ProgramEnd, SampleSession):
    """The driver's commands against one sample window in one world (the
    groups above are mixed in so that they share its start-up)."""


class Sealing(unittest.TestCase):
    def test_only_loopback_and_no_way_out(self):
        self.assertTrue(sandbox.is_sealed())
        self.assertEqual({k: v for k, v in sandbox.interfaces().items() if v[0]}, {"lo": (True, "loopback")})
        with socket.socket() as s:
            s.settimeout(2)
            with self.assertRaises(OSError) as raised:
                s.connect(("192.0.2.11", 80))
            self.assertIn(raised.exception.errno, (101, 113))  # ENETUNREACH / EHOSTUNREACH

    def test_host_names_resolve_only_as_mapped(self):
        with self.assertRaises(OSError):
            socket.gethostbyname("update.kivoline.example")
        sandbox.map_host("update.kivoline.example", "127.0.0.1")
        try:
            self.assertEqual(socket.gethostbyname("update.kivoline.example"), "127.0.0.1")
        finally:
            sandbox.unmap_hosts()
        with self.assertRaises(OSError):
            socket.gethostbyname("update.kivoline.example")

    def test_wine_server_lives_in_this_namespace(self):
        with World() as w:
            self.assertEqual(sandbox.netns_inode(w.server.pid), sandbox.netns_inode())
            self.assertTrue(w.env()["TMPDIR"].startswith(w.tmpdir))


class Languages(unittest.TestCase):
    def test_each_program_takes_its_language_from_its_locale(self):
        with World() as w:
            seen = {}
            for locale, lang in locales.LANG_IDS.items():
                app = w.start_program(SAMPLE, locale=locale)
                hwnd = app.wait_window("Kivoline")
                seen[locale] = int(w.driver.text(w.driver.child(hwnd, IDC_LANG)["hwnd"]).split(":")[1])
                app.kill()
            self.assertEqual(seen, locales.LANG_IDS)
            # The driver itself runs in en_US all the while.
            self.assertEqual(w.driver.lang()["system_langid"], 1033)


class HarnessPieces(unittest.TestCase):
    """Parts of the harness that need no Wine."""

    def test_architecture_follows_the_probe_unless_forced(self):
        # The probe runs a real 32-bit program; the build under test is what it (or the forcing) chose.
        self.assertEqual(arch.current().name, arch.choose().name)
        for runs32, expected in ((True, "i686"), (False, "x86_64")):
            self.assertEqual(arch.choose({}, probe=lambda r=runs32: r).name, expected)
        self.assertEqual(arch.choose({arch.FORCE_VAR: "x86_64"}, probe=lambda: True).name, "x86_64")
        self.assertEqual(arch.choose({arch.FORCE_VAR: "i686"}, probe=lambda: True).name, "i686")
        with self.assertRaisesRegex(arch.ArchError, "cannot run 32-bit programs"):
            arch.choose({arch.FORCE_VAR: "i686"}, probe=lambda: False)
        # From the command line: one line on stderr, nothing on stdout, exit status 2.
        done = subprocess.run([sys.executable, "-m", "harness.arch"], cwd=HARNESS_PARENT, capture_output=True,
                              text=True, env=dict(os.environ, **{arch.FORCE_VAR: "arm64"}), timeout=30)
        self.assertEqual((done.returncode, done.stdout), (2, ""))
        self.assertRegex(done.stderr, r"^error: KIVO_TEST_ARCH=arm64 is not one of i686, x86_64\n$")

    def test_wait_until_returns_the_value_and_reports_timeouts(self):
        calls = []
        self.assertEqual(wait_until(lambda: calls.append(1) or (len(calls) >= 3 and "done"), 5, 0.01), "done")
        with self.assertRaises(WaitTimeout) as raised:
            wait_until(lambda: 0, 0.2, 0.01, message="never")
        self.assertIn("never", str(raised.exception))
        flaky = iter([KeyError("x"), None, 7])

        def step():
            value = next(flaky)
            if isinstance(value, Exception):
                raise value
            return value

        self.assertEqual(wait_until(step, 5, 0.01, ignore=(KeyError,)), 7)
        values = iter([1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2])
        self.assertEqual(wait_stable(lambda: next(values), duration=0.05, timeout=5, interval=0.01), 2)

    def test_only_marked_processes_are_killed(self):
        mark = "test-" + str(os.getpid())
        env = dict(os.environ, **{procs.MARK: mark})
        marked = subprocess.Popen(["sleep", "60"], env=env)
        other = subprocess.Popen(["sleep", "60"])
        try:
            wait_until(lambda: procs.marked(mark) == [marked.pid], 5)
            self.assertEqual(procs.kill_marked(mark), [marked.pid])
            self.assertEqual(marked.wait(5), -signal.SIGKILL)
            self.assertIsNone(other.poll())
            self.assertEqual(procs.marked(mark), [])
        finally:
            other.kill()
            other.wait()

    def test_world_refuses_a_namespace_with_a_way_out(self):
        # A TUN device reaches only a process here; a veth end (how a
        # namespace is usually wired to the outside) might reach beyond, and
        # then nothing may start.
        subprocess.run(["ip", "tuntap", "add", "dev", "rigtun0", "mode", "tun"], check=True)
        subprocess.run(["ip", "link", "add", "rigveth0", "type", "veth", "peer", "name", "rigveth1"], check=True)
        try:
            subprocess.run(["ip", "link", "set", "rigtun0", "up"], check=True)
            self.assertEqual(sandbox.interfaces()["rigtun0"][1], "tun")
            self.assertTrue(sandbox.is_sealed())
            subprocess.run(["ip", "link", "set", "rigveth0", "up"], check=True)
            self.assertEqual(sandbox.leaks(), ["rigveth0"])
            self.assertFalse(sandbox.is_sealed())
            with self.assertRaises(sandbox.SandboxError):
                World().start()
        finally:
            subprocess.run(["ip", "link", "del", "rigveth0"], check=False)
            subprocess.run(["ip", "link", "del", "rigtun0"], check=False)
        self.assertTrue(sandbox.is_sealed())

    def test_wine_environment_drops_the_callers_settings(self):
        saved = dict(os.environ)
        os.environ.update(LC_MESSAGES="de_DE.UTF-8", DISPLAY=":99", WINEPREFIX="/elsewhere", WINEDEBUG="+all")
        try:
            env = wine.wine_env("/p", "/t", "w1", display=":5", locale="zh_TW.UTF-8",
                                overrides=wine.merge_overrides(wine.DEFAULT_OVERRIDES, "rasapi32=n"),
                                extra={"KIVO_RAS_DIR": "/r", "HOME": None})
        finally:
            os.environ.clear()
            os.environ.update(saved)
        self.assertNotIn("LC_MESSAGES", env)
        self.assertNotIn("HOME", env)
        self.assertEqual((env["DISPLAY"], env["WINEPREFIX"], env["WINEDEBUG"], env["TMPDIR"]),
                         (":5", "/p", "-all", "/t"))
        self.assertEqual((env["LC_ALL"], env["LANG"]), ("zh_TW.UTF-8", "zh_TW.UTF-8"))
        self.assertTrue(env["WINEDLLOVERRIDES"].endswith(";rasapi32=n"))
        self.assertEqual((env[procs.MARK], env["KIVO_RAS_DIR"]), ("w1", "/r"))

    def test_endpoints_follow_the_generated_header(self):
        with tempfile.TemporaryDirectory() as build:
            os.makedirs(os.path.join(build, "generated"))
            header = os.path.join(build, "generated", "ServiceEndpoints.h")
            names = endpoints.SERVERS + ("IntelligentHost", "UpdateHost")
            with open(header, "w") as f:
                for i, name in enumerate(names):
                    f.write(f'inline constexpr const char* k{name} = "v{i}";\n')
            self.assertEqual(endpoints.servers(build), [f"v{i}" for i in range(6)])
            self.assertEqual(endpoints.load(build)["UpdateHost"], "v7")
            with open(header, "w") as f:
                f.write('inline constexpr const char* kServerCT1 = "x";\n')
            with self.assertRaises(RuntimeError):
                endpoints.load(build)

    def test_demo_runs_with_the_services_there_are(self):
        events = []

        def service(name, available=True):
            class Fake(demo.DemoService):
                def start(self, world, values):
                    if not available:
                        raise demo.ServiceUnavailable("not built")
                    events.append(("start", name))
                    return name

                def stop(self):
                    events.append(("stop", name))

            Fake.name = name
            return Fake

        class FakeWorld:
            build_dir = BUILD

        with demo.DemoServices(FakeWorld(), [service("a"), service("b", False), service("c")], log=events.append):
            events.append("running")
        self.assertEqual(events, [("start", "a"), "demo: a: a", "demo: b: not available yet (not built)",
                                  ("start", "c"), "demo: c: c", "running", ("stop", "c"), ("stop", "a")])
        self.assertEqual([demo.ras_for_locale(x) for x in ("zh_CN.UTF-8", "zh_SG.UTF-8", "zh_HK.UTF-8",
                                                           "zh_TW.UTF-8", "zh_MO.UTF-8", "en_GB.UTF-8")],
                         ["zhcn", "zhcn", "zhtw", "zhtw", "zhtw", "en"])

    def test_driver_client_pairs_answers_with_requests(self):
        # A stand-in driver: answers a stale id first, then the right one;
        # "slow" never gets an answer; "bye" ends it.
        script = textwrap.dedent("""
            import json, sys
            for line in sys.stdin:
                request = json.loads(line)
                if request["cmd"] == "bye":
                    break
                if request["cmd"] == "slow":
                    continue
                print(json.dumps({"id": -1, "ok": True, "result": "stale"}), flush=True)
                print(json.dumps({"id": request["id"], "ok": request["cmd"] != "bad",
                                  "result": request.get("x"), "code": "failed", "error": "no"}), flush=True)
        """)
        client = Driver(None, dict(os.environ), timeout=1, command=[sys.executable, "-c", script])
        try:
            self.assertEqual(client.call("echo", x="用"), "用")
            with self.assertRaises(DriverError) as raised:
                client.call("bad")
            self.assertEqual(raised.exception.code, "failed")
            with self.assertRaises(DriverTimeout):
                client.call("slow", wait=0.3)
            self.assertEqual(client.call("echo", x=5), 5)
            client.process.stdin.write(b'{"cmd": "bye"}\n')
            client.process.stdin.flush()
            with self.assertRaises(DriverError) as raised:
                client.call("echo", x=1)
            self.assertEqual(raised.exception.code, "gone")
        finally:
            client.close()


CHILD_WORLD = textwrap.dedent("""
    import sys, time
    sys.path.insert(0, {harness!r})
    from harness import World
    with World(name="rig-child") as w:
        app = w.start_program({sample!r})
        app.wait_window("Kivoline")
        print(w.id, w.tmpdir, flush=True)
        {ending}
""")


class Cleanup(unittest.TestCase):
    def run_child(self, ending):
        code = CHILD_WORLD.format(harness=HARNESS_PARENT, sample=SAMPLE, ending=ending)
        child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True)
        world_id, self.child_tmpdir = (child.stdout.readline().split() + [None, None])[:2]
        self.assertTrue(world_id, "the child world did not start")
        self.assertTrue(procs.marked(world_id), "the child world runs no processes")
        return child, world_id

    def finish(self, child):
        status = child.wait(30)
        child.stdout.close()
        return status

    def assert_nothing_left(self, world_id):
        wait_until(lambda: not procs.marked(world_id), 15,
                   message=f"the end of every process of world {world_id}")

    def test_normal_end_leaves_nothing(self):
        child, world_id = self.run_child("pass")
        self.assertEqual(self.finish(child), 0)
        self.assertEqual(procs.marked(world_id), [])
        self.assertFalse(os.path.exists(self.child_tmpdir))

    def test_failure_inside_the_world_cleans_up_and_keeps_a_screenshot(self):
        child, world_id = self.run_child("raise RuntimeError('boom')")
        self.assertNotEqual(self.finish(child), 0)
        self.assertEqual(procs.marked(world_id), [])
        self.assertTrue(os.path.exists(os.path.join(BUILD, "e2e-runs", "rig-child", "failure.png")))

    def test_ctrl_c_cleans_up(self):
        child, world_id = self.run_child("time.sleep(60)")
        child.send_signal(signal.SIGINT)
        self.assertNotEqual(self.finish(child), 0)
        self.assertEqual(procs.marked(world_id), [])

    def test_sigterm_cleans_up(self):
        child, world_id = self.run_child("time.sleep(60)")
        child.terminate()
        self.assertNotEqual(self.finish(child), 0)
        self.assertEqual(procs.marked(world_id), [])

    def test_killed_script_is_swept_by_the_reaper(self):
        child, world_id = self.run_child("time.sleep(60)")
        child.kill()
        self.finish(child)
        self.assert_nothing_left(world_id)
        wait_until(lambda: not os.path.exists(self.child_tmpdir), 10, message="removal of the world's TMPDIR")



if __name__ == "__main__":
    started = time.monotonic()
    result = unittest.main(exit=False, verbosity=2).result
    report("test_rig.py total", time.monotonic() - started)
    print("rig timings: " + json.dumps({k: round(v, 3) for k, v in TIMINGS.items()}))
    sys.exit(0 if result.wasSuccessful() else 1)
