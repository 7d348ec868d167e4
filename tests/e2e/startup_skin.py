"""Screen against artwork: compares what the main dialog shows with the
bitmaps of res/art, for test_startup.py.

Rectangles are (left, top, right, bottom), right and bottom exclusive. A
comparison answers with a Difference: how many pixels differ and where the
first of them are, so that a failure says what it saw.
"""

import os
from dataclasses import dataclass, field

from PIL import Image, ImageDraw

from harness.resource_ids import IDB_BACKGROUND as BACKGROUND, IDB_LOGO as LOGO  # noqa: F401

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("KIVO_SOURCE_DIR") or os.path.abspath(os.path.join(HERE, "..", ".."))
ART = os.path.join(SOURCE, "res", "art")

_cache = {}


# The sets drawn at 150% and 200% (res/art/150, res/art/200) are PNG.
SETS = {96: "{}.bmp", 144: "150/{}.png", 192: "200/{}.png"}


def artwork(bitmap_id, dpi=96):
    """Picture `bitmap_id` of the set drawn for `dpi` (res/art) as an RGB image."""
    key = (bitmap_id, dpi)
    if key not in _cache:
        with Image.open(os.path.join(ART, SETS[dpi].format(bitmap_id))) as image:
            _cache[key] = image.convert("RGB")
    return _cache[key]


@dataclass
class Difference:
    compared: int = 0
    differing: int = 0
    first: list = field(default_factory=list)

    @property
    def equal(self):
        return self.compared > 0 and self.differing == 0

    def __str__(self):
        return f"{self.differing} of {self.compared} pixels differ, first at {self.first}"


def compare(shot, expected, mask=None):
    """Pixel by pixel over the area both images cover; `mask` (mode "L",
    same size as shot) leaves out the pixels where it is 0."""
    width = min(shot.width, expected.width)
    height = min(shot.height, expected.height)
    got = shot.convert("RGB").load()
    want = expected.load()
    keep = mask.load() if mask is not None else None
    result = Difference()
    for y in range(height):
        for x in range(width):
            if keep is not None and not keep[x, y]:
                continue
            result.compared += 1
            if got[x, y] != want[x, y]:
                result.differing += 1
                if len(result.first) < 8:
                    result.first.append((x, y, got[x, y], want[x, y]))
    return result


def relative(rect, origin):
    """A screen rectangle relative to the screen point `origin`."""
    return (rect[0] - origin[0], rect[1] - origin[1], rect[2] - origin[0], rect[3] - origin[1])


def inset(rect, by):
    return (rect[0] + by, rect[1] + by, rect[2] - by, rect[3] - by)


class Mask:
    """Which pixels of an area take part in a comparison: all of them at
    first; rectangles are then cut out or put back."""

    def __init__(self, size):
        self.image = Image.new("L", size, 255)
        self._draw = ImageDraw.Draw(self.image)

    def cut(self, rect):
        self._fill(rect, 0)
        return self

    def keep(self, rect):
        self._fill(rect, 255)
        return self

    def _fill(self, rect, value):
        left, top, right, bottom = rect
        if right > left and bottom > top:
            self._draw.rectangle([left, top, right - 1, bottom - 1], fill=value)

    def count(self):
        return sum(1 for value in self.image.getdata() if value)


_BS_TYPEMASK, _BS_GROUPBOX = 0x0F, 0x07


def uncovered_mask(kids, origin, size, frame=8):
    """The client-area pixels no control covers (inside a group box too,
    away from its frame), as a mask of `size`."""
    groups = [c for c in kids if c["class"] == "Button" and c["style"] & _BS_TYPEMASK == _BS_GROUPBOX]
    others = [c for c in kids if c not in groups]
    mask = Mask(size)
    for c in kids:
        mask.cut(relative(c["rect"], origin))
    for g in groups:
        mask.keep(inset(relative(g["rect"], origin), frame))
    for c in others:
        mask.cut(relative(c["rect"], origin))
    return mask


def colours(image, mask=None):
    """The set of colours of an image (where `mask` is not 0)."""
    pixels = image.convert("RGB").load()
    keep = mask.load() if mask is not None else None
    found = set()
    for y in range(image.height):
        for x in range(image.width):
            if keep is None or (x < mask.width and y < mask.height and keep[x, y]):
                found.add(pixels[x, y])
    return found
