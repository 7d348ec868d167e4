#!/usr/bin/python3
"""End-to-end: the main dialog at 100%, 150%, 200% and 125% display scale
(LogPixels 96, 144, 192 and 120, each in a Wine prefix of its own). At each
scale the window is the 100% window times the scale, the skin and the
button faces are the art drawn for the scale, and no label's text is cut
off. Wine has one DPI for all monitors, so a move to a monitor of another DPI
is a WM_DPICHANGED sent to the window, as Windows sends it.
"""

import os
import struct
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import World, resource_ids as ids, sandbox, wait_stable, wait_until  # noqa: E402
from harness.driver import IDCANCEL, IDOK, WM_SYSCOMMAND  # noqa: E402

import startup_skin as skin  # noqa: E402

sandbox.enter()

TITLE = "Kivoline"
WM_DPICHANGED = 0x02E0
# Normal faces of the English set; Connect is disabled at start.
FACES = {IDOK: ids.IDB_CONNECT_DISABLED_EN, IDCANCEL: ids.IDB_EXIT_EN, ids.IDC_NETPERF: ids.IDB_NETPERF_EN,
         ids.IDC_ABOUT: ids.IDB_ABOUT_BTN_EN, ids.IDC_ACCOUNT_REGISTER: ids.IDB_REGISTER_EN,
         ids.IDC_ACCOUNT_STATUS: ids.IDB_STATUS_EN}
FACE_SIZE = (68, 26)
# Labels whose black text the dialog draws straight onto the skin; the last
# two are centred.
LABELS = (ids.IDC_USER_LABEL, ids.IDC_PASSWORD_LABEL, ids.IDC_STATUS_LABEL, ids.IDC_INTELLIGENT,
          ids.IDC_WEB_ADDRESS, ids.IDC_STATUS)
CENTRED = (ids.IDC_WEB_ADDRESS, ids.IDC_STATUS)
SS_TYPEMASK, SS_BITMAP = 0x1F, 0x0E


def scaled(value, dpi):
    """A 100% length at `dpi`, rounded as the program rounds (half away from zero)."""
    return (value * dpi + 48) // 96


def size_of(rect):
    return rect[2] - rect[0], rect[3] - rect[1]


class Dialog:
    """The main dialog of a client started in `w`."""

    def __init__(self, w):
        self.w, self.d = w, w.driver
        self.app = w.start_app(locale="en_US.UTF-8", ras="en")
        self.hwnd = self.app.wait_window(TITLE, visible=True, timeout=45)
        self.settle()

    def settle(self):
        self.controls = {c["id"]: c for c in self.d.children(self.hwnd)}
        self.client_rect = self.d.client_rect(self.hwnd)
        wait_stable(lambda: self.w.screenshot(rect=self.client_rect).tobytes(), duration=0.3)
        self.shot = self.w.screenshot(rect=self.client_rect)

    def face(self, button):
        return self.w.screenshot(rect=self.controls[button]["rect"])


def ink_at_edges(shot, rect, inset=0, centred=False):
    """Dark text pixels of `rect` (relative to the shot), and those in its
    last column (and first, for centred text): a label whose text is cut off
    has ink where it ends."""
    left, top, right, bottom = skin.inset(rect, inset)
    area = shot.crop((left, top, right, bottom)).convert("L")
    width, height = area.size
    pixels = area.load()
    dark = [(x, y) for y in range(height) for x in range(width) if pixels[x, y] < 100]
    edges = [(x, y) for x, y in dark if x == width - 1 or (centred and x == 0)]
    return dark, edges


class DisplayScale(unittest.TestCase):
    base = None  # the 100% window: (window size, client size)
    about_base = None  # the 100% About box's client size

    def check_dialog(self, dialog, dpi):
        base_window, base_client = DisplayScale.base
        window = size_of(dialog.d.rect(dialog.hwnd))
        client = size_of(dialog.client_rect)
        print(f"\n  {dpi} DPI: window {window[0]}x{window[1]}, client {client[0]}x{client[1]}", file=sys.stderr)
        # The area inside the frame is the skin's, exactly scaled (so within
        # a pixel of base x scale); the frame around it is the system's at
        # that DPI, and Wine keeps its 3 pixels at every DPI.
        self.assertEqual(client, tuple(scaled(v, dpi) for v in base_client))
        frame = tuple(w - c for w, c in zip(base_window, base_client))
        self.assertEqual(window, tuple(c + f for c, f in zip(client, frame)))

        for button, bitmap in FACES.items():
            rect = dialog.controls[button]["rect"]
            self.assertEqual(size_of(rect), tuple(scaled(v, dpi) for v in FACE_SIZE), f"button {button}")
            if dpi in skin.SETS:
                expected = skin.artwork(bitmap, dpi)
                result = skin.compare(dialog.face(button), expected)
                self.assertTrue(result.equal, f"button {button} at {dpi} DPI: {result}")
        if dpi in skin.SETS:
            background = skin.artwork(skin.BACKGROUND, dpi)
            kids = dialog.d.children(dialog.hwnd)
            mask = skin.uncovered_mask(kids, dialog.client_rect[:2], background.size, frame=scaled(8, dpi))
            result = skin.compare(dialog.shot, background, mask.image)
            self.assertTrue(result.equal, f"background at {dpi} DPI: {result}")

        for label in LABELS:
            rect = skin.relative(dialog.controls[label]["rect"], dialog.client_rect[:2])
            dark, edges = ink_at_edges(dialog.shot, rect, inset=2 if label == ids.IDC_STATUS else 0,
                                       centred=label in CENTRED)
            self.assertGreater(len(dark), 10, f"label {label} shows its text at {dpi} DPI")
            self.assertEqual(edges[:5], [], f"label {label}'s text is cut off at {dpi} DPI")

    def test_main_dialog_at_each_scale(self):
        for dpi in (96, 144, 192, 120):
            with self.subTest(dpi=dpi), World(dpi=dpi) as w:
                dialog = Dialog(w)
                w.save_screenshot(f"main-{dpi}.png", dialog.hwnd)  # in the run directory
                if dpi == 96:
                    DisplayScale.base = (size_of(w.driver.rect(dialog.hwnd)), size_of(dialog.client_rect))
                self.assertIsNotNone(DisplayScale.base, "the 100% window comes first")
                self.check_dialog(dialog, dpi)
                if dpi in (96, 144):
                    self.check_about_box(dialog, dpi)
                if dpi == 96:
                    self.check_move_to_other_monitors(dialog)

    def check_about_box(self, dialog, dpi):
        """The About box is laid out at the scale too, its picture drawn for it."""
        d = dialog.d
        d.post(dialog.hwnd, WM_SYSCOMMAND, ids.IDM_ABOUTBOX)
        about = wait_until(lambda: next((x for x in dialog.app.dialogs() if x["owner"] == dialog.hwnd), None), 10,
                           message="the About box")
        hwnd = about["hwnd"]
        client = size_of(d.client_rect(hwnd))
        if dpi == 96:
            DisplayScale.about_base = client
        self.assertEqual(client, tuple(scaled(v, dpi) for v in DisplayScale.about_base))
        [picture] = [c for c in d.children(hwnd) if c["class"] == "Static" and c["style"] & SS_TYPEMASK == SS_BITMAP]
        wait_stable(lambda: dialog.w.screenshot(rect=picture["client"]).tobytes(), duration=0.3)
        dialog.w.save_screenshot(f"about-{dpi}.png", hwnd)
        expected = skin.artwork(ids.IDB_ABOUT_EN, dpi)
        self.assertEqual(size_of(picture["client"]), expected.size)
        result = skin.compare(dialog.w.screenshot(rect=picture["client"]), expected)
        self.assertTrue(result.equal, f"the About picture at {dpi} DPI: {result}")
        d.click(about["buttons"][0]["hwnd"])
        wait_until(lambda: d.window_info(dialog.hwnd)["enabled"], 10, message="the About box closed")

    def check_move_to_other_monitors(self, dialog):
        """To a 150% monitor and back, as Windows tells the window: the new
        DPI and the rectangle it suggests."""
        left, top, _, _ = dialog.d.rect(dialog.hwnd)
        for dpi in (144, 96):
            base_window, _ = DisplayScale.base
            width, height = (scaled(v, dpi) for v in base_window)
            suggested = (left + 10, top + 10, left + 10 + width, top + 10 + height)
            dialog.d.remote_send(dialog.hwnd, WM_DPICHANGED, data=struct.pack("<4i", *suggested),
                                 wparam=(dpi << 16) | dpi)
            wait_until(lambda: tuple(dialog.d.rect(dialog.hwnd)) == suggested, 10,
                       message=f"the suggested rectangle at {dpi} DPI")
            dialog.settle()
            for button, bitmap in FACES.items():
                self.assertEqual(size_of(dialog.controls[button]["rect"]),
                                 tuple(scaled(v, dpi) for v in FACE_SIZE))
                result = skin.compare(dialog.face(button), skin.artwork(bitmap, dpi))
                self.assertTrue(result.equal, f"button {button} after the move to {dpi} DPI: {result}")


if __name__ == "__main__":
    started = time.monotonic()
    result = unittest.main(exit=False, verbosity=2).result
    print(f"test_scale.py: {time.monotonic() - started:.1f} s", file=sys.stderr)
    sys.exit(0 if result.wasSuccessful() else 1)
