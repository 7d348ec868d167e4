#!/usr/bin/python3
"""Checks the skin files in this folder the way the program and a screenshot
see them, then redraws them twice and compares the bytes.

    /usr/bin/python3 res/art/check_art.py          # exit status 0 when all is well

What is checked:
- every bitmap is a Windows 3.x BMP (BITMAPINFOHEADER, 24 bpp, bottom-up,
  uncompressed) of the size the dialogs expect;
- the icon holds exactly two classic 32x32 images, 4 and 8 bpp, each with an
  AND mask that leaves the corners transparent and the emblem opaque;
- all button faces differ from each other; hover faces are lighter than their
  normal faces with another rim colour; disabled faces are grey and flat;
- the logo and the button faces continue the background at their places;
- the places where the program draws black text on the background are light;
- make_art.py writes the same bytes on every run, and the committed files are
  what it writes.
"""

import os
import statistics
import struct
import subprocess
import sys
import tempfile

from PIL import Image, ImageChops

HERE = os.path.dirname(os.path.abspath(__file__))

# Dialog 809 at 96 DPI: base units 6x13 pixels, coordinates rounded as MulDiv does.


def px(x, y):
    return ((x * 12 + 4) // 8, (y * 26 + 8) // 16)


def px_rect(x, y, w, h):
    return px(x, y) + px(x + w, y + h)


SIZES = {"background": (356, 316), "logo": (186, 59), "face": (68, 26), "about": (270, 139)}

# caption: (normal, hover, disabled or None), position in dialog units
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
}

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
    ids = {642: SIZES["background"], 632: SIZES["logo"], 630: SIZES["about"], 631: SIZES["about"]}
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
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if (reserved, kind, count) != (0, 1, 2):
        return ["directory says type %d with %d images, expected one icon with 2" % (kind, count)]
    problems, depths = [], []
    for i in range(count):
        w, h, colours, _, planes, bits, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        tag = "image %d" % i
        if offset + length > len(data) or length < 40:
            problems.append(tag + " lies outside the file")
            continue
        if data[offset : offset + 4] == b"\x89PNG":
            problems.append(tag + " is PNG")
            continue
        hsize, bw, bh, bplanes, bbits, comp = struct.unpack_from("<IiiHHI", data, offset)
        depths.append(bbits)
        if (w, h, bw, bh) != (32, 32, 32, 64) or hsize != 40 or bplanes != 1 or comp != 0 or bbits != bits:
            problems.append(tag + " header")
            continue
        if bits not in (4, 8) or colours != (16 if bits == 4 else 0):
            problems.append(tag + " colour count")
            continue
        palette_at = offset + 40
        palette = [struct.unpack_from("<BBB", data, palette_at + 4 * k)[::-1] for k in range(1 << bits)]
        xor_at = palette_at + 4 * len(palette)
        xor_stride = 32 * bits // 8
        and_at = xor_at + xor_stride * 32
        if length != and_at + 4 * 32 - offset:
            problems.append(tag + " length")
            continue
        opaque = 0
        for y in range(32):
            row = 31 - y
            for x in range(32):
                byte = data[xor_at + row * xor_stride + x * bits // 8]
                index = byte if bits == 8 else (byte >> 4 if x % 2 == 0 else byte & 15)
                transparent = (data[and_at + row * 4 + x // 8] >> (7 - x % 8)) & 1
                if transparent and palette[index] != (0, 0, 0):
                    problems.append(tag + " has a coloured pixel under its mask at %d,%d" % (x, y))
                    break
                opaque += not transparent
                corner = x in (0, 31) and y in (0, 31)
                centre = 12 <= x < 20 and 12 <= y < 20
                if corner and not transparent:
                    problems.append(tag + " corner %d,%d is not transparent" % (x, y))
                if centre and transparent:
                    problems.append(tag + " centre %d,%d is transparent" % (x, y))
        if not 0.4 * 1024 <= opaque <= 0.95 * 1024:
            problems.append(tag + " has %d opaque pixels" % opaque)
    if sorted(depths) != [4, 8]:
        problems.append("bit depths %r, expected 4 and 8" % depths)
    return problems


def luminance(img):
    return img.convert("L")


def body(face):
    """The inside of a face, clear of its rim and rounded corners."""
    return face.crop((4, 4, 64, 21))


def face_problems(images):
    problems = []
    ids = sorted(i for i in images if images[i].size == SIZES["face"])
    # every pair of faces: a screenshot must tell them apart
    for n, a in enumerate(ids):
        for b in ids[n + 1 :]:
            diff = ImageChops.difference(images[a], images[b]).convert("L")
            changed = sum(diff.point(lambda v: 255 if v > 12 else 0).histogram()[255:])
            if changed < 0.05 * 68 * 26:
                problems.append("faces %d and %d differ in only %d pixels" % (a, b, changed))
    for caption, ((normal, hover, disabled), _) in FACES.items():
        n_img, h_img = images[normal], images[hover]
        rim_n, rim_h = n_img.getpixel((34, 1)), h_img.getpixel((34, 1))
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
            for cx, cy in ((0, 0), (67, 0)):
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
    """All problems of the skin files in folder, as readable lines."""
    problems, images = [], {}
    for bid, size in sorted(bitmap_ids().items()):
        path = os.path.join(folder, "%d.bmp" % bid)
        if not os.path.exists(path):
            problems.append("%d.bmp is missing" % bid)
            continue
        with open(path, "rb") as f:
            data = f.read()
        found = bmp_problems(data, size)
        problems += ["%d.bmp: %s" % (bid, p) for p in found]
        if not found:
            images[bid] = decode_bmp(data)
    ico_path = os.path.join(folder, "338.ico")
    if os.path.exists(ico_path):
        with open(ico_path, "rb") as f:
            problems += ["338.ico: " + p for p in icon_problems(f.read())]
    else:
        problems.append("338.ico is missing")
    if problems:
        return problems
    problems += face_problems(images)
    problems += blend_problems(images)
    problems += text_area_problems(images[642])
    diff = ImageChops.difference(images[630], images[631]).convert("L").crop((0, 84, 270, 125))
    if max(diff.getdata()) < 100:
        problems.append("the Chinese and English About pictures carry the same text")
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
        for name in sorted(os.listdir(one)):
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
