#!/usr/bin/python3
"""End-to-end: the network performance dialog (810) against echo servers.

The client runs under Wine in this script's own namespace; the catalogue's
addresses lead into a TUN responder whose delay per server each test sets.
The dialog is opened with the real pointer on the main dialog's Network
performance button, and operated with the pointer, keys and the close
requests a window manager would send.

Covered: the Testing and Idle button states, the texts of the three text sets and
which language variants get which (the main dialog's set: Simplified
Chinese for variants 1 and 5, Traditional for 2, 3 and 4),
the rows and their figures for answering, partly measured and silent
servers, Stop, Test Again, every way of closing (refused while testing),
"Use select" with and without a row, and a quit message while testing.
"""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import sandbox, wait_until  # noqa: E402
from harness.driver import VK_ESCAPE  # noqa: E402

sandbox.enter()

from choice_world import (CNC1, CNC2, CT1, CT2, IDC_CNC, IDC_CT, IDC_INTELLIGENT, IDC_OTHER,  # noqa: E402
                          IDC_STOP_TEST, IDC_TEST_AGAIN, IDCANCEL, IDLE, IDOK, NAMES_EN, SC_CLOSE, SERVERS,
                          SILENT_SERVER_S, TESTING, WM_CLOSE, WM_QUIT, WM_SYSCOMMAND, EchoWorld, centre)
from harness.icmp_responder import reply  # noqa: E402

# An average round trip may read up to 1 ms short (whole milliseconds at
# both ends) and runs late by what Wine and the responder's thread add.
EARLY_MS, LATE_MS = 1.0, 6.0
# Stop ends the running echo at its reply or its one-second time-out.
STOP_BOUND_S = 3.0

ENGLISH = {
    "title": "Velmar network performance",
    "hint": "All network list, please select the suitable network connection",
    "buttons": {IDC_TEST_AGAIN: "Test Again", IDC_STOP_TEST: "Stop Test", IDOK: "Use select", IDCANCEL: "Cancel"},
    "columns": ["Network Name", "Network Delay(ms)", "Network Status(%)", "Performance Value"],
    "no_selection": "No selected network, please select!",
}
CHINESE = {
    "title": "Velmar网络性能",
    "hint": "所有网络列表,请选择合适的网络连接(推荐使用综合值小的网络)",
    "buttons": {IDC_TEST_AGAIN: "重新测试", IDC_STOP_TEST: "停止测试", IDOK: "使用所选", IDCANCEL: "返 回"},
    "columns": ["网络名称", "网络延时(ms)", "网络状态(%)", "综合值"],
    "no_selection": "没有选择网络,请选择!",
}
TRADITIONAL = {
    "title": "Velmar 網路效能",
    "hint": "所有網路列表，請選擇合適的網路連線（建議使用綜合值小的網路）",
    "buttons": {IDC_TEST_AGAIN: "重新測試", IDC_STOP_TEST: "停止測試", IDOK: "使用所選", IDCANCEL: "返 回"},
    "columns": ["網路名稱", "網路延遲(ms)", "網路狀態(%)", "綜合值"],
    "no_selection": "沒有選擇網路，請選擇！",
}
# The main dialog's Intelligent radio button shows which set the main dialog uses.
INTELLIGENT = {"en": "Intelligent", "zh": "智能检测", "tw": "智慧偵測"}

EW = None


def setUpModule():
    global EW
    EW = EchoWorld().__enter__()


def tearDownModule():
    if EW:
        EW.__exit__(None, None, None)


def performance_value(delay, percent):
    """The combined value in which smaller is better, from a row's own figures."""
    loss = 100 - percent
    if loss <= 1 and delay <= 50:
        return delay * 0.2
    if loss <= 5 and delay <= 100:
        return loss * 1.5 + delay * 0.075 + 10
    return loss * 0.6 + delay * 0.015 + 25


class DialogChecks(unittest.TestCase):
    def assertTexts(self, perf, texts):
        self.assertEqual(perf.title(), texts["title"])
        self.assertEqual(perf.hint(), texts["hint"])
        self.assertEqual(perf.captions(), texts["buttons"])
        self.assertEqual(perf.view()["columns"], texts["columns"])

    def assertAnswered(self, row, name, delay_ms):
        """A fully measured row of a server that answered every echo after delay_ms."""
        self.assertEqual((row[0], row[2]), (name, "100"), row)
        delay = float(row[1])
        self.assertGreaterEqual(delay, delay_ms - EARLY_MS, row)
        # On a busy machine the responder's own thread sends late: the
        # client then rightly measures that much more.
        replies = EW.responder.replies()
        held_ms = sum(r.sent - r.due for r in replies) * 1000.0 / len(replies) if replies else 0.0
        self.assertLessEqual(delay, delay_ms + LATE_MS + held_ms, (row, f"responder late by {held_ms:.1f} ms"))
        self.assertEqual(row[1], f"{delay:.2f}")
        self.assertAlmostEqual(float(row[3]), performance_value(delay, 100), delta=0.011, msg=row)

    def assertEmptyRows(self, rows, names):
        self.assertEqual(rows, [[name, "", "", ""] for name in names])


class EnglishDialog(DialogChecks):
    """One client in English (variant 0); the tests run in the order of their names."""

    @classmethod
    def setUpClass(cls):
        EW.answer_all(5)
        cls.client = EW.start_client("en_US.UTF-8")

    @classmethod
    def tearDownClass(cls):
        cls.client.app.kill()

    def setUp(self):
        EW.answer_all(5)
        EW.responder.clear()
        if not self.client.app.running():
            self.skipTest("the client ended in an earlier test")

    def main_choice(self):
        c = self.client
        return c.intelligent_checked(), c.lists()

    def test_1_opening_tests_at_once_and_stop_during_the_second_server(self):
        c = self.client
        EW.responder.set(CT1, reply(30))
        EW.responder.set(CT2, reply(30))
        choice = self.main_choice()

        perf = c.open_performance()
        self.assertEqual(perf.buttons(), TESTING)
        self.assertTexts(perf, ENGLISH)
        rows = perf.rows()
        self.assertEqual([row[0] for row in rows], list(NAMES_EN))
        self.assertTrue(all(row[1:] == ["", "", ""] for row in rows[1:]), rows)
        # While the main dialog's own window is disabled under the dialog.
        self.assertFalse(EW.driver.enabled(c.hwnd))

        # The first server complete, the second under way.
        wait_until(lambda: perf.rows()[0][3] != "", 10, message="the first row")
        self.assertAnswered(perf.rows()[0], "CT1", 30)
        wait_until(lambda: len(EW.responder.requests(CT2)) >= 10, 10, message="echoes to the second server")

        # Every way of closing, and "Use select" with a row selected, while
        # testing: all ignored. They are posted before the Stop click, so the
        # dialog has handled them by the time the buttons turn idle.
        perf.select_row(0)
        d = EW.driver
        d.post(perf.hwnd, WM_CLOSE)
        d.post(perf.hwnd, WM_SYSCOMMAND, SC_CLOSE)
        d.key(perf.list, VK_ESCAPE)
        d.command(perf.hwnd, IDCANCEL, sync=False)
        d.command(perf.hwnd, IDOK, sync=False)
        clicked = time.monotonic()
        perf.click(IDC_STOP_TEST)
        perf.wait_idle(timeout=STOP_BOUND_S, interval=0.01)
        print(f"\n  Stop to Idle (answering server): {(time.monotonic() - clicked) * 1000:.0f} ms", file=sys.stderr)
        self.assertTrue(perf.is_open())

        rows = perf.rows()
        self.assertAnswered(rows[0], "CT1", 30)
        # The second row: what it measured until the stop, counted against 50.
        echoes = len(EW.responder.requests(CT2))
        self.assertLess(echoes, 50)
        name, delay, status, value = rows[1]
        self.assertEqual((name, status), ("CT2", str(echoes * 100 // 50)), rows[1])
        self.assertGreaterEqual(float(delay), 30 - EARLY_MS)
        self.assertLessEqual(float(delay), 30 + LATE_MS)
        self.assertAlmostEqual(float(value), performance_value(float(delay), int(status)), delta=0.011)
        self.assertEmptyRows(rows[2:], NAMES_EN[2:])
        self.assertEqual(EW.responder.requests(CNC1), [])

        # Idle: Escape closes, and the choice stays as it was.
        d.key(perf.list, VK_ESCAPE)
        perf.wait_closed()
        self.assertTrue(d.enabled(c.hwnd))
        self.assertEqual(self.main_choice(), choice)

    def test_2_test_again_clears_the_rows_and_a_silent_server_costs_fifty_echoes(self):
        c = self.client
        perf = c.open_performance()
        perf.wait_idle(timeout=30)
        first = perf.rows()
        for index, row in enumerate(first):
            self.assertAnswered(row, NAMES_EN[index], 5)

        EW.silence(CT1)
        EW.responder.clear()
        perf.click(IDC_TEST_AGAIN)
        # The old figures are gone at once: the silent first server needs 50 s.
        self.assertEmptyRows(perf.rows(), NAMES_EN)
        self.assertEqual(perf.buttons(), TESTING)
        perf.wait_idle(timeout=SILENT_SERVER_S + 30, interval=0.2)

        rows = perf.rows()
        self.assertEqual(rows[0], ["CT1", "N/A", "0", "N/A"])
        self.assertEqual(len(EW.responder.requests(CT1)), 50)
        for index, row in enumerate(rows[1:], start=1):
            self.assertAnswered(row, NAMES_EN[index], 5)
            self.assertEqual(len(EW.responder.requests(SERVERS[index])), 50)
        # One server after another: every echo to a server came after the
        # last of the server before it.
        spans = [(min(r.time for r in EW.responder.requests(SERVERS[i])),
                  max(r.time for r in EW.responder.requests(SERVERS[i]))) for i in range(6)]
        self.assertTrue(all(spans[i][1] < spans[i + 1][0] for i in range(5)), spans)

        # Idle: a close request ends the dialog.
        EW.driver.post(perf.hwnd, WM_CLOSE)
        perf.wait_closed()

    def test_3_use_select_needs_a_row_and_makes_it_the_choice(self):
        c = self.client
        d = EW.driver
        perf = c.open_performance()
        perf.wait_idle(timeout=30)

        perf.click(IDOK)
        box = c.app.wait_message_box()
        self.assertEqual(box["message"], ENGLISH["no_selection"])
        self.assertEqual([b["id"] for b in box["buttons"]], [IDOK])
        self.assertEqual(box["owner"], perf.hwnd)
        EW.click_at(*centre(d.rect(box["buttons"][0]["hwnd"])))
        wait_until(lambda: c.app.message_boxes() == [], 5, message="the message box to close")
        self.assertTrue(perf.is_open())
        self.assertEqual(perf.buttons(), IDLE)

        perf.select_row(3)  # CNC2
        perf.click(IDOK)
        perf.wait_closed()
        self.assertFalse(c.intelligent_checked())
        self.assertEqual(c.items(IDC_CNC)[c.selected(IDC_CNC)].split("(")[0], "CNC2")
        self.assertEqual((c.names(IDC_CT), c.selected(IDC_CT)), (["CT", "CT1", "CT2"], 0))
        self.assertEqual((c.names(IDC_OTHER), c.selected(IDC_OTHER)), (["Other", "Other1", "Other2"], 0))
        self.assertEqual(c.dial(), CNC2)

    def test_4_a_quit_message_while_testing_stops_the_test_before_the_process_ends(self):
        c = self.client
        EW.silence(CT1)
        perf = c.open_performance()
        wait_until(lambda: len(EW.responder.requests(CT1)) >= 2, 10, message="echoes to the silent server")
        EW.driver.post(perf.hwnd, WM_QUIT)
        posted = time.monotonic()
        # The dialog's destructor stops the test and waits for its thread:
        # left running, the silent server would hold it for 50 s.
        code = c.app.wait_exit(timeout=30)
        print(f"\n  quit message to process end: {time.monotonic() - posted:.1f} s", file=sys.stderr)
        self.assertEqual(code, 0)
        sent = len(EW.responder.requests())
        self.assertLessEqual(sent, len(EW.responder.requests(CT1)))
        self.assertEqual(EW.responder.requests(CT2), [])
        time.sleep(1.5)  # nothing may follow the end of the process
        self.assertEqual(len(EW.responder.requests()), sent)


class LanguageRule(DialogChecks):
    """The main dialog's text set: Simplified Chinese for language variants
    1 and 5, Traditional Chinese for 2, 3 and 4 (Hong Kong, Taiwan, Macau),
    English for the others."""

    CASES = (  # locale, variant, text set of this dialog, main dialog's set
        ("en_GB.UTF-8", 6, ENGLISH, "en"),
        ("zh_CN.UTF-8", 1, CHINESE, "zh"),
        ("zh_HK.UTF-8", 2, TRADITIONAL, "tw"),
        ("zh_TW.UTF-8", 3, TRADITIONAL, "tw"),
        ("zh_MO.UTF-8", 4, TRADITIONAL, "tw"),
        ("zh_SG.UTF-8", 5, CHINESE, "zh"),
    )

    def test_text_set_by_language_variant(self):
        EW.answer_all(0)
        for locale, variant, texts, main in self.CASES:
            with self.subTest(locale=locale, variant=variant):
                client = EW.start_client(locale, ras="en")
                try:
                    self.assertEqual(EW.driver.text(client.control(IDC_INTELLIGENT)), INTELLIGENT[main])
                    perf = client.open_performance()
                    self.assertTexts(perf, texts)
                    if variant in (1, 3):
                        perf.wait_idle(timeout=30)
                        perf.click(IDOK)
                        box = client.app.wait_message_box()
                        self.assertEqual(box["message"], texts["no_selection"])
                finally:
                    client.app.kill()


if __name__ == "__main__":
    unittest.main(verbosity=2)
