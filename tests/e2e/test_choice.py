#!/usr/bin/python3
"""End-to-end: the four controls of the server choice as one choice.

The Intelligent radio button (1008) and the group lists CT (1017), CNC
(1018) and Other (1019) are driven as a user drives them: lists opened and
entries clicked with the real pointer, the radio button clicked, the arrow
keys pressed while a list is closed, and a server picked in the performance
dialog. What the client holds as its choice is read from what Connect
dials: the phone number of the entry that the RAS double receives (the
Intelligent host name, a server's address, or nothing while a group's
caption is selected).

The tests of a class share one client and run in the order of their names,
each starting from the state the one before left: together they walk every
row of the choice's state table.
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import sandbox, wait_until  # noqa: E402

sandbox.enter()

from choice_world import (CNC1, CNC2, CT1, CT2, IDC_CNC, IDC_CT, IDC_INTELLIGENT, IDC_OTHER,  # noqa: E402
                          IDC_STOP_TEST, IDCANCEL, IDOK, INTELLIGENT_HOST, OTHER1, OTHER2, EchoWorld)
from harness.icmp_responder import reply  # noqa: E402

EW = None


def setUpModule():
    global EW
    EW = EchoWorld().__enter__()


def tearDownModule():
    if EW:
        EW.__exit__(None, None, None)


class ChoiceSession(unittest.TestCase):
    LOCALE = "en_US.UTF-8"
    RAS = "en"

    @classmethod
    def setUpClass(cls):
        EW.answer_all(5)
        cls.before_start()
        cls.client = EW.start_client(cls.LOCALE, ras=cls.RAS)

    @classmethod
    def before_start(cls):
        """What the echo servers do while the client starts."""

    @classmethod
    def tearDownClass(cls):
        cls.client.app.kill()

    def setUp(self):
        if not self.client.app.running():
            self.skipTest("the client ended in an earlier test")

    def assertLists(self, ct=None, cnc=None, other=None):
        """Each given list as (names, selected index); captions are whole texts."""
        c = self.client
        for combo, expected in ((IDC_CT, ct), (IDC_CNC, cnc), (IDC_OTHER, other)):
            if expected is not None:
                self.assertEqual((c.names(combo), c.selected(combo)), expected, f"list {combo}")

    def assertChoice(self, intelligent, dialled):
        self.assertEqual(self.client.intelligent_checked(), intelligent)
        self.assertEqual(self.client.dial(), dialled)

    def pick_in_performance_dialog(self, row, confirm=True):
        """Opens the performance dialog, stops its test, clicks a row and
        then "Use select" (or Cancel)."""
        perf = self.client.open_performance()
        perf.click(IDC_STOP_TEST)
        perf.wait_idle(timeout=5)
        perf.select_row(row)
        perf.click(IDOK if confirm else IDCANCEL)
        perf.wait_closed()


class UserChoice(ChoiceSession):
    """English: every row of the state table, in a user's order."""

    CT_LIST = ["CT", "CT1", "CT2"]
    CNC_LIST = ["CNC", "CNC1", "CNC2"]
    OTHER_LIST = ["Other", "Other1", "Other2"]

    def test_01_intelligent_at_start_and_clicked_again(self):
        c = self.client
        self.assertLists(ct=(self.CT_LIST, 0), cnc=(self.CNC_LIST, 0), other=(self.OTHER_LIST, 0))
        self.assertChoice(True, INTELLIGENT_HOST)
        c.click(IDC_INTELLIGENT)
        self.assertLists(ct=(self.CT_LIST, 0), cnc=(self.CNC_LIST, 0), other=(self.OTHER_LIST, 0))
        self.assertChoice(True, INTELLIGENT_HOST)

    def test_02_open_list_offers_only_servers_and_closing_without_a_choice_puts_the_caption_last(self):
        c = self.client
        c.drop_down(IDC_CNC)
        self.assertLists(cnc=(["CNC1", "CNC2"], -1), ct=(self.CT_LIST, 0), other=(self.OTHER_LIST, 0))
        c.close_list_without_choice()
        self.assertLists(cnc=(["CNC1", "CNC2", "CNC"], 2), ct=(self.CT_LIST, 0), other=(self.OTHER_LIST, 0))
        self.assertChoice(True, INTELLIGENT_HOST)

    def test_03_a_server_chosen_while_intelligent(self):
        c = self.client
        c.drop_down(IDC_CNC)
        self.assertEqual(c.names(IDC_CNC), ["CNC1", "CNC2"])
        c.choose_dropped(IDC_CNC, "CNC2")
        self.assertLists(cnc=(["CNC1", "CNC2"], 1), ct=(self.CT_LIST, 0), other=(self.OTHER_LIST, 0))
        self.assertChoice(False, CNC2)

    def test_04_another_server_of_the_chosen_group_moves_only_the_selection(self):
        c = self.client
        c.drop_down(IDC_CNC)
        self.assertEqual(c.names(IDC_CNC), ["CNC1", "CNC2"])
        c.choose_dropped(IDC_CNC, "CNC1")
        self.assertLists(cnc=(["CNC1", "CNC2"], 0), ct=(self.CT_LIST, 0), other=(self.OTHER_LIST, 0))
        self.assertChoice(False, CNC1)

    def test_05_a_server_of_another_group_puts_the_left_groups_caption_back(self):
        c = self.client
        c.drop_down(IDC_OTHER)
        c.choose_dropped(IDC_OTHER, "Other2")
        self.assertLists(other=(["Other1", "Other2"], 1), cnc=(["CNC1", "CNC2", "CNC"], 2), ct=(self.CT_LIST, 0))
        self.assertChoice(False, OTHER2)

    def test_06_arrow_keys_on_a_closed_list_choose_and_keep_the_caption(self):
        c = self.client
        c.focus_first_list()
        c.key("Down")
        wait_until(lambda: c.selected(IDC_CT) == 1, 5, message="CT1 selected by the arrow key")
        self.assertLists(ct=(self.CT_LIST, 1), other=(["Other1", "Other2", "Other"], 2),
                         cnc=(["CNC1", "CNC2", "CNC"], 2))
        self.assertChoice(False, CT1)

        # The caption itself, chosen with the keys: nothing changes, the
        # group stays the choice and Connect finds no server in it.
        c.focus_first_list()
        c.key("Up")
        wait_until(lambda: c.selected(IDC_CT) == 0, 5, message="the caption selected by the arrow key")
        self.assertLists(ct=(self.CT_LIST, 0), other=(["Other1", "Other2", "Other"], 2),
                         cnc=(["CNC1", "CNC2", "CNC"], 2))
        self.assertChoice(False, "")

        c.focus_first_list()
        c.key("Down", "Down")
        wait_until(lambda: c.selected(IDC_CT) == 2, 5, message="CT2 selected by the arrow keys")
        self.assertLists(ct=(self.CT_LIST, 2), other=(["Other1", "Other2", "Other"], 2))
        self.assertChoice(False, CT2)

    def test_07_leaving_a_group_that_kept_its_caption_adds_a_second_copy(self):
        c = self.client
        c.click(IDC_INTELLIGENT)
        self.assertLists(ct=(["CT", "CT1", "CT2", "CT"], 3), cnc=(["CNC1", "CNC2", "CNC"], 2),
                         other=(["Other1", "Other2", "Other"], 2))
        self.assertChoice(True, INTELLIGENT_HOST)

        # Either copy of the caption, chosen with the keys while another
        # choice holds: nothing changes.
        for key, index in (("Home", 0), ("End", 3)):
            c.focus_first_list()
            c.key(key)
            wait_until(lambda: c.selected(IDC_CT) == index, 5, message=f"caption {index} selected by {key}")
            self.assertLists(ct=(["CT", "CT1", "CT2", "CT"], index), cnc=(["CNC1", "CNC2", "CNC"], 2),
                             other=(["Other1", "Other2", "Other"], 2))
            self.assertChoice(True, INTELLIGENT_HOST)

        # The next drop-down removes the first copy only; the selected second
        # copy stays selected, so closing the list adds nothing.
        c.drop_down(IDC_CT)
        self.assertLists(ct=(["CT1", "CT2", "CT"], 2))
        c.close_list_without_choice()
        self.assertLists(ct=(["CT1", "CT2", "CT"], 2))
        self.assertChoice(True, INTELLIGENT_HOST)

    def test_08_performance_pick_while_intelligent(self):
        # The pick does not take the caption out of the newly chosen list.
        self.pick_in_performance_dialog(1)  # CT2
        self.assertLists(ct=(["CT1", "CT2", "CT"], 1), cnc=(["CNC1", "CNC2", "CNC"], 2),
                         other=(["Other1", "Other2", "Other"], 2))
        self.assertChoice(False, CT2)

    def test_09_performance_pick_of_another_group(self):
        self.pick_in_performance_dialog(2)  # CNC1
        self.assertLists(ct=(["CT1", "CT2", "CT", "CT"], 3), cnc=(["CNC1", "CNC2", "CNC"], 0),
                         other=(["Other1", "Other2", "Other"], 2))
        self.assertChoice(False, CNC1)

    def test_10_performance_pick_in_the_chosen_group(self):
        self.pick_in_performance_dialog(3)  # CNC2
        self.assertLists(ct=(["CT1", "CT2", "CT", "CT"], 3), cnc=(["CNC1", "CNC2", "CNC"], 1),
                         other=(["Other1", "Other2", "Other"], 2))
        self.assertChoice(False, CNC2)

    def test_11_cancelled_performance_dialog_changes_nothing(self):
        c = self.client
        before = c.lists()
        self.pick_in_performance_dialog(4, confirm=False)  # Other1, then Cancel
        self.assertEqual(c.lists(), before)
        self.assertChoice(False, CNC2)


class ChineseChoice(ChoiceSession):
    """The Chinese text set: captions and names are GBK byte strings."""

    LOCALE = "zh_CN.UTF-8"
    RAS = "zhcn"

    def test_captions_and_names_compare_as_their_bytes(self):
        c = self.client
        self.assertLists(ct=(["电信", "电信1", "电信2"], 0), cnc=(["网通", "网通1", "网通2"], 0),
                         other=(["其它", "其它1", "其它2"], 0))
        c.drop_down(IDC_CT)
        self.assertLists(ct=(["电信1", "电信2"], -1))
        c.close_list_without_choice()
        self.assertLists(ct=(["电信1", "电信2", "电信"], 2))

        c.drop_down(IDC_CNC)
        c.choose_dropped(IDC_CNC, "网通2")
        self.assertLists(cnc=(["网通1", "网通2"], 1), ct=(["电信1", "电信2", "电信"], 2),
                         other=(["其它", "其它1", "其它2"], 0))
        self.assertChoice(False, CNC2)

        self.pick_in_performance_dialog(4)  # 其它1
        self.assertLists(cnc=(["网通1", "网通2", "网通"], 2), other=(["其它", "其它1", "其它2"], 1))
        self.assertChoice(False, OTHER1)


class ListsChangingUnderTheDialog(ChoiceSession):
    """The start-up measurement's second pass replaces an entry (in place,
    keeping its selection) while the performance dialog is open: the pick
    must find the server's entry with its new text."""

    @classmethod
    def before_start(cls):
        EW.silence(CT1)  # CT1 fails the first pass; the second pass retries it

    def test_pick_finds_an_entry_replaced_while_the_dialog_was_open(self):
        c = self.client
        self.assertEqual(c.items(IDC_CT)[1], "CT1(--Fail)")
        perf = c.open_performance()
        EW.responder.set(CT1, reply(5))  # the second pass's next attempt is answered
        wait_until(lambda: "Fail" not in c.items(IDC_CT)[1], 10, message="CT1's entry replaced in place")
        self.assertEqual(c.names(IDC_CT), ["CT", "CT1", "CT2"])
        self.assertTrue(perf.is_open())
        perf.click(IDC_STOP_TEST)
        perf.wait_idle(timeout=5)
        perf.select_row(0)  # CT1
        perf.click(IDOK)
        perf.wait_closed()
        self.assertLists(ct=(["CT", "CT1", "CT2"], 1))
        self.assertChoice(False, CT1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
