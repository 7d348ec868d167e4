#!/usr/bin/python3
"""End-to-end: a connected client that sleeps and wakes without a network,
and a failure box's advice line in each language. The sessions and the world
are those of test_connect.py; the rules behind them are unit tests of
kivo::vpn::Connection."""

import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import test_connect as tc  # noqa: E402  (enters the sandbox)
from harness import wait_until  # noqa: E402
from harness.driver import IDOK  # noqa: E402
from harness.ras_double import RASCS_CONNECTED, clock_ms  # noqa: E402

setUpModule, tearDownModule = tc.setUpModule, tc.tearDownModule
WM_POWERBROADCAST, PBT_APMSUSPEND, PBT_APMRESUMEAUTOMATIC = 0x0218, 4, 0x12
WAITING = "Waiting for the network…"


def route(*args):
    subprocess.run(["ip", "route", *args], check=True)


class SleepAndWake(tc.Session):
    SHOWN = False

    def power(self, event):
        self.d.send(self.hwnd, WM_POWERBROADCAST, event, timeout=15000)

    def connect(self):
        self.fill()
        self.d.command(self.hwnd, IDOK, sync=False)

    def test_1_suspend_hangs_up_and_the_wake_dials_once_the_route_is_back(self):
        self.ras.configure(states=tc.QUICK_CONNECT)
        self.connect()
        [dial] = self.wait_calls("RasDialW")
        self.wait_calls("notify", handle=dial["handle"], state=RASCS_CONNECTED)
        icon = self.tray_icon()
        self.power(PBT_APMSUSPEND)
        self.assertEqual(len(self.calls("RasHangUpW", handle=dial["handle"])), 1)
        self.wait_status(tc.IDLE["en"])
        route("del", "default")
        try:
            time.sleep(4.5)  # a link check and a redial period: nothing dials while suspended
            self.power(PBT_APMRESUMEAUTOMATIC)
            self.wait_status(WAITING)
            self.d.tray_hover(icon)
            wait_until(lambda: [i["tip"] for i in self.d.tray()["icons"] if i["hwnd"] == icon] == [WAITING], 5,
                       message="the tray tip")
            time.sleep(2)  # two checks of the network
            self.assertEqual(self.calls("RasDialW", after=dial.t), [], "no dial without a route")
        finally:
            route("replace", "default", "dev", tc.RESPONDER.name)
        restored = clock_ms()
        [redial] = self.wait_calls("RasDialW", after=dial.t, timeout=10)
        self.assertLess(redial.t - restored, 3000, "the dial follows the route within 3 s")

    def test_2_failure_box_with_its_advice(self):
        self.ras.configure(dial_result=691, error_texts="691=Denied.")
        self.connect()
        self.close_box(self.wait_box("Dial failed", "Denied.Error code: 691.\nCheck your user name and password."))


class ChineseFailureBox(tc.Session):
    LOCALE, FLAVOUR, LANG = "zh_CN.UTF-8", "zhcn", "zh"

    def test_failure_box_with_its_advice(self):
        self.ras.configure(dial_result=800, error_texts="800=Unreachable.")
        self.fill()
        self.press_connect()
        self.close_box(self.wait_box("拨号失败", "Unreachable.错误代码为: 800.\n"
                                     "无法连接服务器，或防火墙、NAT 阻挡了 L2TP：请换一台服务器或换一个网络。"))


class TraditionalFailureBox(tc.Session):
    LOCALE, FLAVOUR, LANG = "zh_TW.UTF-8", "zhtw", "tw"

    def test_failure_box_with_its_advice(self):
        self.ras.configure(dial_result=800, error_texts="800=Unreachable.")
        self.fill()
        self.press_connect()
        self.close_box(self.wait_box(tc.DIAL_FAILED["tw"], "Unreachable." + tc.ERROR_CODE["tw"].format(800) + "\n"
                                     "無法連線到伺服器，或防火牆、NAT 阻擋了 L2TP：請換一台伺服器或換一個網路。"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
