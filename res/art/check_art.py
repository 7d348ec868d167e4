#!/usr/bin/python3
"""Checks the skin files in this folder the way the program and a screenshot
see them, then redraws them twice and compares the bytes.

    /usr/bin/python3 res/art/check_art.py          # exit status 0 when all is well

What is checked:
- the three sets (100% here, 150% in 150/, 200% in 200/) hold every picture
  at the size the dialogs expect at that scale: the 100% set as Windows 3.x
  BMPs (BITMAPINFOHEADER, 24 bpp, bottom-up, uncompressed), the others as
  24-bit PNGs; each set passes every check below;
- the icon holds a classic 32x32 image in 16 colours and 256-colour images of
  16, 20, 24, 32 and 48 pixels, each with an AND mask that leaves the corners
  transparent and the emblem opaque;
- all button faces of the three languages (Simplified Chinese, English,
  Traditional Chinese) differ from each other; hover faces are lighter than
  their normal faces with another rim colour; disabled faces are grey and flat;
- the three About pictures carry different text;
- the logo and the button faces continue the background at their places;
- the places where the program draws black text on the background are light;
- make_art.py writes the same bytes on every run, and the committed files are
  what it writes.
"""

import math
import os
import statistics
import struct
import subprocess
import sys
import tempfile

from PIL import Image, ImageChops

HERE = os.path.dirname(os.path.abspath(__file__))

# Dialog 809 at 96 DPI: base units 6x13 pixels, coordinates rounded as MulDiv
# does. At scale k the program puts a 100% coordinate or size v at
# floor(v * k + 0.5).
SETS = {1: ".", 1.5: "150", 2: "200"}
ICON_SIZES = (16, 20, 24, 32, 48)
K = 1


def sc(v):
    return int(math.floor(v * K + 0.5))


def px(x, y):
    return (sc((x * 12 + 4) // 8), sc((y * 26 + 8) // 16))


def px_rect(x, y, w, h):
    left, top = (x * 12 + 4) // 8, (y * 26 + 8) // 16
    right, bottom = ((x + w) * 12 + 4) // 8, ((y + h) * 26 + 8) // 16
    return (sc(left), sc(top), sc(left) + sc(right - left), sc(top) + sc(bottom - top))


BASE_SIZES = {"background": (356, 316), "logo": (186, 59), "face": (68, 26), "about": (270, 139)}
SIZES = dict(BASE_SIZES)


def set_scale(k):
    global K
    K = k
    SIZES.update({key: (sc(w), sc(h)) for key, (w, h) in BASE_SIZES.items()})

# caption: (normal, hover, disabled or None), position in dialog units;
# Simplified Chinese, English, then Traditional Chinese
FACES = {
    "帐号注册": ((647, 648, None), (162, 54)),
    "帐号查询": ((649, 650, None), (162, 77)),
    "连 接": ((651, 652, 653), (14, 173)),
    "退 出": ((654, 655, None), (70, 173)),
    "断 开": ((656, 657, None), (70, 173)),
    "网络性能": ((658, 659, None), (123, 173)),
    "关 于": ((633, 634, None), (176, 173)),
    "Register": ((663, 664, None), (162, 54)),
    "Account": ((665, 666, None), (162, 77)),
    "Connect": ((667, 668, 669), (14, 173)),
    "Exit": ((672, 673, None), (70, 173)),
    "Disconnect": ((670, 671, None), (70, 173)),
    "Network": ((674, 675, None), (123, 173)),
    "About": ((676, 677, None), (176, 173)),
    "帳號註冊": ((683, 684, None), (162, 54)),
    "帳號查詢": ((685, 686, None), (162, 77)),
    "連 線": ((687, 688, 689), (14, 173)),
    "結 束": ((690, 691, None), (70, 173)),
    "中斷連線": ((692, 693, None), (70, 173)),
    "網路效能": ((694, 695, None), (123, 173)),
    "關 於": ((681, 682, None), (176, 173)),
}

# About pictures, one for each language
ABOUTS = {630: "Simplified Chinese", 631: "English", 680: "Traditional Chinese"}

# Controls whose text the program draws in black straight onto the background.
TEXT_ON_SKIN = {
    "user label": (26, 59, 36, 8),
    "password label": (26, 80, 36, 8),
    "status label": (16, 120, 32, 8),
    "status line": (52, 118, 162, 11),
    "Intelligent text": (178, 145, 38, 8),
    "web address": (133, 19, 98, 12),
}


def bitmap_ids():
    ids = {642: SIZES["background"], 632: SIZES["logo"]}
    ids.update({about: SIZES["about"] for about in ABOUTS})
    for (normal, hover, disabled), _ in FACES.values():
        for face in (normal, hover, disabled):
            if face:
                ids[face] = SIZES["face"]
    return ids


def bmp_problems(data, size):
    if len(data) < 54:
        return ["too short for a bitmap"]
    magic, file_size, _, _, offset = struct.unpack_from("<2sIHHI", data, 0)
    hsize, w, h, planes, bpp, comp, image_size = struct.unpack_from("<IiiHHII", data, 14)
    stride = (size[0] * 3 + 3) & ~3
    problems = []
    if magic != b"BM" or file_size != len(data) or offset != 54:
        problems.append("bad file header")
    if hsize != 40:
        problems.append("info header of %d bytes, not BITMAPINFOHEADER" % hsize)
    if planes != 1 or bpp != 24 or comp != 0:
        problems.append("%d planes, %d bpp, compression %d" % (planes, bpp, comp))
    if h < 0:
        problems.append("top-down rows")
    if (w, abs(h)) != size:
        problems.append("%dx%d instead of %dx%d" % (w, abs(h), size[0], size[1]))
    if len(data) != 54 + stride * size[1] or image_size not in (0, stride * size[1]):
        problems.append("pixel data of the wrong length")
    return problems


def png_problems(path, size):
    with Image.open(path) as image:
        if image.format != "PNG" or image.mode != "RGB":
            return ["%s %s, not a 24-bit PNG" % (image.format, image.mode)]
        if image.size != size:
            return ["%dx%d instead of %dx%d" % (image.size + size)]
    return []


def decode_bmp(data):
    """Pixels of a bottom-up 24-bit BMP, decoded here rather than trusted to a library."""
    _, w, h = struct.unpack_from("<Iii", data, 14)
    stride = (w * 3 + 3) & ~3
    rows = []
    for y in range(h):
        start = 54 + (h - 1 - y) * stride
        rows.append(data[start : start + w * 3])
    return Image.frombytes("RGB", (w, h), b"".join(rows), "raw", "BGR")


def icon_problems(data):
    if len(data) < 6:
        return ["too short for an icon"]
    expected = [(32, 4)] + [(n, 8) for n in ICON_SIZES]
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if (reserved, kind, count) != (0, 1, len(expected)):
        return ["directory says type %d with %d images, expected one icon with %d" % (kind, count, len(expected))]
    problems, found = [], []
    for i in range(count):
        w, h, colours, _, planes, bits, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        tag = "image %d" % i
        found.append((w, bits))
        if offset + length > len(data) or length < 40:
            problems.append(tag + " lies outside the file")
            continue
        if data[offset : offset + 4] == b"\x89PNG":
            problems.append(tag + " is PNG")
            continue
        hsize, bw, bh, bplanes, bbits, comp = struct.unpack_from("<IiiHHI", data, offset)
        n = w
        if (h, bw, bh) != (n, n, 2 * n) or hsize != 40 or bplanes != 1 or comp != 0 or bbits != bits:
            problems.append(tag + " header")
            continue
        if bits not in (4, 8) or colours != (16 if bits == 4 else 0):
            problems.append(tag + " colour count")
            continue
        palette_at = offset + 40
        palette = [struct.unpack_from("<BBB", data, palette_at + 4 * k)[::-1] for k in range(1 << bits)]
        xor_at = palette_at + 4 * len(palette)
        xor_stride = ((n * bits + 31) // 32) * 4
        and_stride = ((n + 31) // 32) * 4
        and_at = xor_at + xor_stride * n
        if length != and_at + and_stride * n - offset:
            problems.append(tag + " length")
            continue
        opaque = 0
        for y in range(n):
            row = n - 1 - y
            for x in range(n):
                byte = data[xor_at + row * xor_stride + x * bits // 8]
                index = byte if bits == 8 else (byte >> 4 if x % 2 == 0 else byte & 15)
                transparent = (data[and_at + row * and_stride + x // 8] >> (7 - x % 8)) & 1
                if transparent and palette[index] != (0, 0, 0):
                    problems.append(tag + " has a coloured pixel under its mask at %d,%d" % (x, y))
                    break
                opaque += not transparent
                corner = x in (0, n - 1) and y in (0, n - 1)
                centre = 3 * n // 8 <= x < 5 * n // 8 and 3 * n // 8 <= y < 5 * n // 8
                if corner and not transparent:
                    problems.append(tag + " corner %d,%d is not transparent" % (x, y))
                if centre and transparent:
                    problems.append(tag + " centre %d,%d is transparent" % (x, y))
        if not 0.4 * n * n <= opaque <= 0.95 * n * n:
            problems.append(tag + " has %d opaque pixels" % opaque)
    if found != expected:
        problems.append("images %r, expected %r (size, bits)" % (found, expected))
    return problems


def luminance(img):
    return img.convert("L")


def body(face):
    """The inside of a face, clear of its rim and rounded corners."""
    return face.crop((sc(4), sc(4), sc(64), sc(21)))


def face_problems(images):
    problems = []
    ids = sorted(i for i in images if images[i].size == SIZES["face"])
    # every pair of faces: a screenshot must tell them apart
    for n, a in enumerate(ids):
        for b in ids[n + 1 :]:
            diff = ImageChops.difference(images[a], images[b]).convert("L")
            changed = sum(diff.point(lambda v: 255 if v > 12 else 0).histogram()[255:])
            if changed < 0.05 * SIZES["face"][0] * SIZES["face"][1]:
                problems.append("faces %d and %d differ in only %d pixels" % (a, b, changed))
    for caption, ((normal, hover, disabled), _) in FACES.items():
        n_img, h_img = images[normal], images[hover]
        rim = (sc(34), sc(1))
        rim_n, rim_h = n_img.getpixel(rim), h_img.getpixel(rim)
        if sum(abs(p - q) for p, q in zip(rim_n, rim_h)) < 90:
            problems.append("%s: hover rim %r too close to normal rim %r" % (caption, rim_h, rim_n))
        mean_n = statistics.fmean(luminance(body(n_img)).getdata())
        mean_h = statistics.fmean(luminance(body(h_img)).getdata())
        if mean_h < mean_n + 15:
            problems.append("%s: hover face not clearly lighter (%.0f vs %.0f)" % (caption, mean_h, mean_n))
        if disabled:
            d_img = body(images[disabled])
            grey = statistics.fmean(max(p) - min(p) for p in d_img.getdata())
            spread_d = statistics.pstdev(luminance(d_img).getdata())
            spread_n = statistics.pstdev(luminance(body(n_img)).getdata())
            if grey > 20:
                problems.append("%s: disabled face is not grey" % caption)
            if spread_d > 0.6 * spread_n:
                problems.append("%s: disabled face has as much contrast as the normal one" % caption)
    return problems


def close(a, b, tolerance):
    return all(abs(p - q) <= tolerance for p, q in zip(a, b))


def blend_problems(images):
    problems = []
    bg = images[642]
    lx, ly = px(5, 4)
    logo = images[632]
    lw, lh = logo.size
    edge = [(x, 0) for x in range(lw)] + [(lw - 1, y) for y in range(lh)]
    misses = sum(not close(logo.getpixel(p), bg.getpixel((lx + p[0], ly + p[1])), 3) for p in edge)
    if misses:
        problems.append("logo edge differs from the header at %d pixels" % misses)
    for caption, ((normal, hover, disabled), (x, y)) in FACES.items():
        fx, fy = px(x, y)
        for face in (normal, hover, disabled):
            if not face:
                continue
            for cx, cy in ((0, 0), (SIZES["face"][0] - 1, 0)):
                if not close(images[face].getpixel((cx, cy)), bg.getpixel((fx + cx, fy + cy)), 3):
                    problems.append("face %d corner %d,%d does not continue the background" % (face, cx, cy))
    return problems


def text_area_problems(bg):
    problems = []
    for name, rect in TEXT_ON_SKIN.items():
        area = luminance(bg.crop(px_rect(*rect)))
        values = list(area.getdata())
        if statistics.fmean(values) < 210 or min(values) < 170:
            problems.append(
                "%s: background too dark for black text (mean %.0f, min %d)"
                % (name, statistics.fmean(values), min(values))
            )
    return problems


def check_folder(folder):
    """All problems of the three sets of skin files under folder and of the
    icon, as readable lines."""
    problems = []
    for k, sub in SETS.items():
        set_scale(k)
        try:
            found = check_set(os.path.join(folder, sub))
        finally:
            set_scale(1)
        problems += [("%s: %s" % (sub, p)) if sub != "." else p for p in found]
    ico_path = os.path.join(folder, "338.ico")
    if os.path.exists(ico_path):
        with open(ico_path, "rb") as f:
            problems += ["338.ico: " + p for p in icon_problems(f.read())]
    else:
        problems.append("338.ico is missing")
    return problems


def check_set(folder):
    """All problems of one set of bitmaps, drawn at the current scale."""
    problems, images = [], {}
    extension = "bmp" if K == 1 else "png"
    for bid, size in sorted(bitmap_ids().items()):
        name = "%d.%s" % (bid, extension)
        path = os.path.join(folder, name)
        if not os.path.exists(path):
            problems.append("%s is missing" % name)
            continue
        with open(path, "rb") as f:
            data = f.read()
        found = bmp_problems(data, size) if K == 1 else png_problems(path, size)
        problems += ["%s: %s" % (name, p) for p in found]
        if not found:
            images[bid] = decode_bmp(data) if K == 1 else Image.open(path).convert("RGB")
    if problems:
        return problems
    problems += face_problems(images)
    problems += blend_problems(images)
    problems += text_area_problems(images[642])
    abouts = sorted(ABOUTS)
    for n, a in enumerate(abouts):
        for b in abouts[n + 1 :]:
            diff = ImageChops.difference(images[a], images[b]).convert("L").crop((0, sc(84), sc(270), sc(125)))
            if max(diff.getdata()) < 100:
                problems.append("the %s and %s About pictures carry the same text" % (ABOUTS[a], ABOUTS[b]))
    return problems


def generation_problems():
    """Runs make_art.py twice into fresh folders: same bytes each time, and the
    same bytes as the committed files."""
    problems = []
    with tempfile.TemporaryDirectory() as one, tempfile.TemporaryDirectory() as two:
        for out in (one, two):
            run = subprocess.run(
                [sys.executable, os.path.join(HERE, "make_art.py"), "--out", out],
                capture_output=True,
                text=True,
            )
            if run.returncode != 0:
                return ["make_art.py failed:\n" + run.stdout + run.stderr]
        names = sorted(os.path.relpath(os.path.join(d, f), one) for d, _, fs in os.walk(one) for f in fs)
        for name in names:
            with open(os.path.join(one, name), "rb") as f:
                first = f.read()
            with open(os.path.join(two, name), "rb") as f:
                second = f.read()
            if first != second:
                problems.append("%s differs between two runs" % name)
            committed = os.path.join(HERE, name)
            if not os.path.exists(committed):
                problems.append("%s is not in %s" % (name, HERE))
                continue
            with open(committed, "rb") as f:
                if f.read() != first:
                    problems.append("%s is out of date: rerun make_art.py" % name)
    return problems


def main():
    problems = check_folder(HERE) + generation_problems()
    for p in problems:
        print("FAIL " + p)
    print("check_art: %s" % ("%d problems" % len(problems) if problems else "all skin files pass"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
