#!/usr/bin/python3
"""Draws the Kivoline skin: main-dialog background, logo, button faces, About
pictures and the application icon.

Run with Debian's /usr/bin/python3 (python3-pil, fonts-wqy-zenhei and
fonts-dejavu-core installed):

    /usr/bin/python3 res/art/make_art.py            # writes next to this script
    /usr/bin/python3 res/art/make_art.py --out DIR  # writes into DIR instead

The 100% set is Windows 3.x BMPs (BITMAPINFOHEADER, 24 bits per pixel,
bottom-up, uncompressed), the 150% and 200% sets (folders 150 and 200) are
24-bit PNGs of the same pictures drawn at those scales. The icon holds a
classic 32x32 image in 16 colours and 256-colour images of 16, 20, 24, 32 and
48 pixels, each with its AND mask. The output is deterministic: the same
fonts and Pillow produce the same bytes on every run.
"""

import argparse
import collections
import math
import os
import struct
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

import check_art

HERE = os.path.dirname(os.path.abspath(__file__))
CJK_FONT = "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc"
LATIN_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
LATIN_COND_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed-Bold.ttf"
LATIN_REGULAR = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"

SS = 4  # supersampling factor for shapes; text is drawn at final size

# ---------------------------------------------------------------------------
# Geometry of dialog 809 in pixels. The dialog font gives 6x13-pixel base
# units, so one dialog unit is 6/4 px across and 13/8 px down; Windows rounds
# each coordinate half away from zero (MulDiv).

BASE_X, BASE_Y = 6, 13


def du_x(v):
    return (v * BASE_X * 2 + 4) // 8


def du_y(v):
    return (v * BASE_Y * 2 + 8) // 16


def du_rect(x, y, w, h):
    """Pixel rectangle (left, top, right, bottom) of a dialog-unit rectangle."""
    return (du_x(x), du_y(y), du_x(x + w), du_y(y + h))


# The art is drawn at three scales: 100% (96 DPI), 150% and 200%. At scale K
# the program puts every pixel coordinate v of the 100% layout at
# floor(v * K + 0.5) and makes every size w floor(w * K + 0.5) (MulDiv), so the
# art follows the same rule. SCALES maps each set to the folder it is written
# to, relative to this script's folder.
SCALES = {1: ".", 1.5: "150", 2: "200"}
ICON_SIZES = (16, 20, 24, 32, 48)
K = 1


def sc(v):
    """A pixel coordinate or size of the 100% layout at the current scale."""
    return int(math.floor(v * K + 0.5))


def fs(size):
    """A font size at the current scale, never rounded up (a caption must
    still fit its face)."""
    return int(size * K)


def sc_rect(r):
    """A 100% pixel rectangle at the current scale: corner and size scaled."""
    return (sc(r[0]), sc(r[1]), sc(r[0]) + sc(r[2] - r[0]), sc(r[1]) + sc(r[3] - r[1]))


BASE = {
    "bg": (356, 316),
    "logo": (186, 59),
    "button": (68, 26),
    "about": (270, 139),
    "logo_pos": (du_x(5), du_y(4)),
    "group_account": du_rect(7, 43, 218, 55),
    "group_server": du_rect(7, 104, 218, 61),
    "status_line": du_rect(51, 117, 164, 13),
    "header_bottom": 66,  # first row of the accent line under the header band
    "footer_top": 275,  # first row of the footer band
    # Top-left pixel of each button on the background (the faces are cut from
    # the background there so that their rounded corners blend in).
    "buttons": {
        "register": (du_x(162), du_y(54)),
        "status": (du_x(162), du_y(77)),
        "connect": (du_x(14), du_y(173)),
        "exit": (du_x(70), du_y(173)),
        "netperf": (du_x(123), du_y(173)),
        "about": (du_x(176), du_y(173)),
    },
}


def set_scale(k):
    """Sets the geometry below for the set drawn at scale k."""
    global K, BG_SIZE, LOGO_SIZE, BUTTON_SIZE, ABOUT_SIZE, LOGO_POS, GROUP_ACCOUNT, GROUP_SERVER
    global STATUS_LINE, HEADER_BOTTOM, FOOTER_TOP, BUTTON_POS
    K = k
    BG_SIZE, LOGO_SIZE, BUTTON_SIZE, ABOUT_SIZE = (
        (sc(BASE[key][0]), sc(BASE[key][1])) for key in ("bg", "logo", "button", "about")
    )
    LOGO_POS = (sc(BASE["logo_pos"][0]), sc(BASE["logo_pos"][1]))
    GROUP_ACCOUNT, GROUP_SERVER, STATUS_LINE = (
        sc_rect(BASE[key]) for key in ("group_account", "group_server", "status_line")
    )
    HEADER_BOTTOM, FOOTER_TOP = sc(BASE["header_bottom"]), sc(BASE["footer_top"])
    BUTTON_POS = {key: (sc(x), sc(y)) for key, (x, y) in BASE["buttons"].items()}


set_scale(1)

# The interface languages, in the order of the captions in BUTTONS: whether
# the texts are Chinese (CJK font and placement), the About picture's id, its
# two lines of text, and the words the preview's dialog mock writes into the
# controls the program draws itself (user, password and status labels, the
# status text, the radio button); the mock's words are only for the preview.
Language = collections.namedtuple("Language", "name cjk about_id about_line version mock")
LANGUAGES = (
    Language("Simplified Chinese", True, 630, "安全快速的VPN连接", "版本 3.0.7",
             ("用 户：", "密 码：", "状 态：", "已断开", "智能检测")),
    Language("English", False, 631, "Secure and fast VPN connection", "Version 3.0.7",
             ("User :", "Password :", "Status :", "Disconnected", "Intelligent")),
    Language("Traditional Chinese", True, 680, "安全快速的VPN連線", "版本 3.0.7",
             ("使用者：", "密 碼：", "狀 態：", "已中斷連線", "智慧偵測")),
)

# Button faces: place, colour, then for each language in LANGUAGES its caption
# and ids (normal, hover and, for Connect, disabled).
BUTTONS = [
    ("register", "blue", (("帐号注册", (647, 648)), ("Register", (663, 664)), ("帳號註冊", (683, 684)))),
    ("status", "blue", (("帐号查询", (649, 650)), ("Account", (665, 666)), ("帳號查詢", (685, 686)))),
    ("connect", "green", (("连 接", (651, 652, 653)), ("Connect", (667, 668, 669)), ("連 線", (687, 688, 689)))),
    ("exit", "blue", (("退 出", (654, 655)), ("Exit", (672, 673)), ("結 束", (690, 691)))),
    ("exit", "red", (("断 开", (656, 657)), ("Disconnect", (670, 671)), ("中斷連線", (692, 693)))),
    ("netperf", "blue", (("网络性能", (658, 659)), ("Network", (674, 675)), ("網路效能", (694, 695)))),
    ("about", "blue", (("关 于", (633, 634)), ("About", (676, 677)), ("關 於", (681, 682)))),
]
assert all(len(captions) == len(LANGUAGES) for _, _, captions in BUTTONS)

# ---------------------------------------------------------------------------
# Palette

INK = (23, 52, 104)  # dark navy of the word mark
ACCENT = (28, 132, 214)  # bright blue of the word mark's second half
TEAL = (24, 170, 186)
MID_BLUE = (36, 110, 210)  # middle of the accent lines
SHIELD_TOP = (72, 160, 250)
SHIELD_BOTTOM = (18, 70, 165)
SHIELD_EDGE = (12, 44, 110)
HOVER_EDGE = (255, 190, 46)
TAGLINE = "SECURE  VPN"  # under the word mark, the same in both languages
TAGLINE_INK = (96, 122, 160)

FACE_COLOURS = {
    # top, bottom, border, text shadow
    "blue": ((82, 146, 228), (28, 88, 176), (18, 58, 124), (12, 44, 98)),
    "green": ((70, 190, 120), (22, 132, 74), (14, 92, 50), (10, 70, 38)),
    "red": ((234, 110, 84), (184, 50, 34), (128, 30, 20), (96, 22, 14)),
}
FACE_HOVER = {
    "blue": ((140, 194, 255), (58, 132, 224)),
    "green": ((128, 226, 166), (44, 170, 102)),
    "red": ((255, 158, 128), (222, 84, 58)),
}
FACE_DISABLED = ((232, 235, 239), (203, 209, 217), (170, 178, 188), (150, 158, 168))


# ---------------------------------------------------------------------------
# Drawing helpers


def lerp(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def ramp(stops, t):
    """Colour at t (0..1) of a gradient given as [(t, colour), ...]."""
    t = min(max(t, 0.0), 1.0)
    for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
        if t <= t1:
            return lerp(c0, c1, 0.0 if t1 == t0 else (t - t0) / (t1 - t0))
    return stops[-1][1]


def _pixel(colour, mode):
    """A gradient colour as putdata wants it: a number for grey images."""
    return colour[0] if mode == "L" else colour


def vgradient(size, stops, mode="RGB"):
    w, h = size
    col = Image.new(mode, (1, h))
    col.putdata([_pixel(ramp(stops, y / max(h - 1, 1)), mode) for y in range(h)])
    return col.resize((w, h), Image.Resampling.NEAREST)


def hgradient(size, stops, mode="RGB"):
    w, h = size
    row = Image.new(mode, (w, 1))
    row.putdata([_pixel(ramp(stops, x / max(w - 1, 1)), mode) for x in range(w)])
    return row.resize((w, h), Image.Resampling.NEAREST)


def mask(size, draw):
    """Antialiased coverage mask: draw(ImageDraw, scale) paints at SS times the size."""
    w, h = size
    big = Image.new("L", (w * SS, h * SS), 0)
    draw(ImageDraw.Draw(big), SS)
    return big.resize((w, h), Image.Resampling.BOX)


def scaled(m, factor):
    return m.point(lambda v: int(round(v * factor)))


def rounded(box, radius, width=0):
    """A mask painter for a rounded rectangle (outline only when width > 0)."""

    def paint(d, s):
        x0, y0, x1, y1 = box
        d.rounded_rectangle(
            (x0 * s, y0 * s, x1 * s - 1, y1 * s - 1),
            radius=radius * s,
            fill=None if width else 255,
            outline=255 if width else None,
            width=int(round(width * s)),
        )

    return paint


def fill(img, colour_or_image, m, at=(0, 0)):
    """Paints a colour or an image of the mask's size through a mask."""
    if isinstance(colour_or_image, tuple):
        src = Image.new(img.mode, m.size, colour_or_image)
    else:
        src = colour_or_image
    img.paste(src, at, m)


def font(path, size):
    return ImageFont.truetype(path, size, layout_engine=ImageFont.Layout.BASIC)


def text_width(f, s):
    return f.getlength(s)


def check_glyphs(f, s):
    """Stops when the font has no glyph for a letter of s: such a letter
    would be drawn as the font's empty box (its .notdef glyph)."""
    notdef = f.getmask("\U0010FFFD")
    notdef = (notdef.size, bytes(notdef))
    for ch in s:
        if ch.isspace():
            continue
        m = f.getmask(ch)
        if (m.size, bytes(m)) == notdef or m.getbbox() is None:
            raise SystemExit("the font %s has no glyph for %r (in %r)" % (f.getname()[0], ch, s))


def draw_text(img, xy, s, f, colour, anchor="la"):
    ImageDraw.Draw(img).text(xy, s, font=f, fill=colour, anchor=anchor)


def spaced_text(img, xy, s, f, colour, spacing):
    """Text on a baseline with extra room between the letters."""
    x, y = xy
    for ch in s:
        draw_text(img, (x, y), ch, f, colour, anchor="ls")
        x += text_width(f, ch) + spacing


def shadow(img, m, offset, blur, strength, colour=(10, 30, 70)):
    """Soft drop shadow of a mask under whatever is painted next."""
    sh = Image.new("L", img.size, 0)
    sh.paste(m, offset)
    sh = sh.filter(ImageFilter.GaussianBlur(blur))
    fill(img, colour, scaled(sh, strength))


# ---------------------------------------------------------------------------
# Emblem: a shield split by a wave into a blue upper field and a teal lower
# field, with a keyhole in the upper field.


def bezier(p0, p1, p2, p3, n=24):
    out = []
    for i in range(n + 1):
        t = i / n
        a, b, c, d = (1 - t) ** 3, 3 * (1 - t) ** 2 * t, 3 * (1 - t) * t * t, t**3
        out.append(
            (
                a * p0[0] + b * p1[0] + c * p2[0] + d * p3[0],
                a * p0[1] + b * p1[1] + c * p2[1] + d * p3[1],
            )
        )
    return out


# outline in unit coordinates: the top edge rises to a peak in the middle,
# the sides bulge out and meet in a point at the bottom
SHIELD = (
    bezier((0.0, 0.13), (0.22, 0.11), (0.38, 0.07), (0.5, 0.0))
    + bezier((0.5, 0.0), (0.62, 0.07), (0.78, 0.11), (1.0, 0.13))[1:]
    + bezier((1.0, 0.13), (1.02, 0.50), (0.90, 0.78), (0.5, 1.0))[1:]
    + bezier((0.5, 1.0), (0.10, 0.78), (-0.02, 0.50), (0.0, 0.13))[1:]
)


def wave_y(u, base=0.65):
    """Height (unit coordinates) of the dividing wave at horizontal position u."""
    return base + 0.06 * math.sin((u - 0.08) * 2.0 * math.pi)


def emblem(size, detail=True):
    """RGBA emblem of size x size pixels.

    With detail the emblem is shaded and antialiased, for the logo and the
    About pictures. Without it the emblem is drawn for the icon: flat colours
    and hard edges at least two pixels wide, because Windows also shows the
    32x32 icon halved, combining each 2x2 block of pixels into one.
    """
    n = size
    img = Image.new("RGBA", (n, n), (0, 0, 0, 0))
    m = n * 0.04  # margin
    edge = max(1.0, n / 28) if detail else n / 16
    bx, by, bw, bh = (n - (n - 2 * m) * 0.86) / 2, m, (n - 2 * m) * 0.86, n - 2 * m

    def coverage(paint):
        cover = mask((n, n), paint)
        return cover if detail else cover.point(lambda v: 255 if v >= 128 else 0)

    def shield(inset):
        x0, y0 = bx + inset, by + inset * 1.15
        w, h = bw - 2 * inset, bh - 2.6 * inset
        return lambda d, s: d.polygon([((x0 + u * w) * s, (y0 + v * h) * s) for u, v in SHIELD], fill=255)

    inner = coverage(shield(edge))
    fill(img, SHIELD_EDGE + (255,), coverage(shield(0)))
    if detail:
        body = vgradient((n, n), [(0.0, SHIELD_TOP + (255,)), (0.65, SHIELD_BOTTOM + (255,))], "RGBA")
        fill(img, body, inner)
    else:
        fill(img, lerp(SHIELD_TOP, SHIELD_BOTTOM, 0.45) + (255,), inner)

    # lower field below the wave
    wave = 0.65 if detail else 0.60

    def below(offset):
        def paint(d, s):
            steps = [i / 64 for i in range(65)]
            pts = [((bx + bw * u) * s, (by + bh * wave_y(u, wave) + offset) * s) for u in steps]
            pts += [((bx + bw) * s, (by + bh) * s), (bx * s, (by + bh) * s)]
            d.polygon(pts, fill=255)

        return paint

    lower = ImageChops.multiply(coverage(below(edge * 0.6)), inner)
    if detail:
        # a white seam runs along the wave
        fill(img, (255, 255, 255, 255), ImageChops.multiply(coverage(below(-edge * 0.9)), inner))
        stops = [(0.0, (70, 214, 222, 255)), (0.55, TEAL + (255,)), (1.0, (12, 112, 150, 255))]
        fill(img, vgradient((n, n), stops, "RGBA"), lower)
        # the upper left of the shield catches the light
        light = (bx - bw * 0.6, by - bh * 0.8, bx + bw * 0.9, by + bh * 0.45)
        gloss = mask((n, n), lambda d, s: d.ellipse([v * s for v in light], fill=255))
        fill(img, (255, 255, 255, 255), scaled(ImageChops.multiply(gloss, inner), 0.20))
    else:
        fill(img, TEAL + (255,), lower)

    # keyhole in the upper field
    if detail:
        cx, cy, r, foot, neck, base = n * 0.5, by + bh * 0.31, bw * 0.12, by + bh * 0.52, 0.45, 0.75
    else:
        # on the pixel grid of a 32x32 icon: an 8-pixel ring over a flared stem
        cx, cy, r, foot, neck, base = n * 0.5, n * 10 / 32, n / 8, n * 17.5 / 32, 0.3, 0.75

    def keyhole(d, s):
        d.ellipse(((cx - r) * s, (cy - r) * s, (cx + r) * s, (cy + r) * s), fill=255)
        d.polygon(
            [
                ((cx - r * neck) * s, cy * s),
                ((cx + r * neck) * s, cy * s),
                ((cx + r * base) * s, foot * s),
                ((cx - r * base) * s, foot * s),
            ],
            fill=255,
        )

    fill(img, (255, 255, 255, 255), coverage(keyhole))
    return img


# ---------------------------------------------------------------------------
# Main dialog background


def background():
    w, h = BG_SIZE
    img = vgradient(BG_SIZE, [(0.0, (232, 239, 248)), (0.22, (228, 236, 246)), (1.0, (204, 218, 236))])

    # header band behind the logo and the web address: light, so that the
    # black web-address text reads on it
    hb = HEADER_BOTTOM
    header = vgradient((w, hb), [(0.0, (253, 254, 255)), (1.0, (233, 241, 251))])
    img.paste(header, (0, 0))
    # quiet arcs in the top right corner, away from the logo
    def arcs_painter(d, s):
        ox, oy = w + 40 * K, -60 * K
        for r in range(90, 240, 16):
            r *= K
            d.ellipse(((ox - r) * s, (oy - r) * s, (ox + r) * s, (oy + r) * s), outline=255, width=sc(s))

    arcs = mask((w, hb), arcs_painter)
    fade = hgradient((w, hb), [(0.0, (0,)), (0.58, (0,)), (1.0, (255,))], "L")
    fill(img, (70, 130, 210), scaled(ImageChops.multiply(arcs, fade), 0.22), (0, 0))
    # accent line under the header
    accent = hgradient((w, sc(2)), [(0.0, TEAL), (0.5, MID_BLUE), (1.0, INK)])
    img.paste(accent, (0, hb))
    img.paste(Image.new("RGB", (w, sc(1)), (250, 252, 255)), (0, hb + sc(2)))

    # panels where the group boxes sit
    for gx0, gy0, gx1, gy1 in (GROUP_ACCOUNT, GROUP_SERVER):
        box = (gx0 - 5 * K, gy0 + K, gx1 + 5 * K, min(gy1 + 3 * K, FOOTER_TOP - 3 * K))
        panel = mask(BG_SIZE, rounded(box, 7 * K))
        shadow(img, panel, (0, sc(1)), 1.6 * K, 0.16)
        tint = vgradient(BG_SIZE, [(box[1] / h, (251, 253, 255)), (box[3] / h, (238, 244, 251))])
        fill(img, tint, panel)
        fill(img, (170, 192, 220), mask(BG_SIZE, rounded(box, 7 * K, width=K)))

    # a soft well behind the status line, whose sunken edge the system draws
    sx0, sy0, sx1, sy1 = STATUS_LINE
    fill(img, (255, 255, 255), scaled(mask(BG_SIZE, rounded((sx0, sy0, sx1, sy1), 2 * K)), 0.75))

    # footer band behind the row of buttons
    ft = FOOTER_TOP
    footer = vgradient((w, h - ft), [(0.0, (222, 232, 244)), (1.0, (190, 207, 229))])
    img.paste(footer, (0, ft))
    img.paste(Image.new("RGB", (w, sc(1)), (160, 182, 212)), (0, ft))
    img.paste(Image.new("RGB", (w, sc(1)), (246, 249, 253)), (0, ft + sc(1)))
    return img


# ---------------------------------------------------------------------------
# Logo


def wordmark(img, x, y, size, parts=(("Kivo", INK), ("line", ACCENT))):
    f = font(LATIN_BOLD, size)
    for s, colour in parts:
        draw_text(img, (x, y), s, f, colour, anchor="ls")
        x += text_width(f, s)
    return x


def logo(bg):
    x0, y0 = LOGO_POS
    img = bg.crop((x0, y0, x0 + LOGO_SIZE[0], y0 + LOGO_SIZE[1]))
    e = emblem(sc(54))
    sh = e.getchannel("A").filter(ImageFilter.GaussianBlur(1.5 * K))
    fill(img, (20, 50, 110), scaled(sh, 0.25), (sc(3), sc(4)))
    img.paste(e, (sc(2), sc(2)), e)
    end = wordmark(img, 60 * K, 36 * K, fs(26))
    spaced_text(img, (61 * K, 50 * K), TAGLINE, font(LATIN_BOLD, fs(9)), TAGLINE_INK, 1.6 * K)
    assert end < LOGO_SIZE[0] - 2 * K, "word mark does not fit the logo"
    return img


# ---------------------------------------------------------------------------
# Button faces


def caption_style(caption, cjk):
    """Font and letter spacing for a caption: one size for all faces, and
    condensed, then tightened, for long words. Chinese captions (Simplified
    and Traditional) are set in the CJK font at one size: four characters
    fill the face, two are spaced apart by a blank."""
    room = BUTTON_SIZE[0] - 10 * K
    if cjk:
        f = font(CJK_FONT, fs(13))
        check_glyphs(f, caption)
        if text_width(f, caption) > room:
            raise SystemExit("caption %r does not fit a button face" % caption)
        return f, 0.0
    choices = ((LATIN_BOLD, fs(11), 0.0), (LATIN_COND_BOLD, fs(11), 0.0), (LATIN_COND_BOLD, fs(11), -0.5 * K))
    for path, size, tracking in choices:
        f = font(path, size)
        if text_width(f, caption) + tracking * (len(caption) - 1) <= room:
            return f, tracking
    raise SystemExit("caption %r does not fit a button face" % caption)


def draw_caption(img, centre, caption, f, tracking, colour):
    if not tracking:
        draw_text(img, centre, caption, f, colour, anchor="mm")
        return
    x = centre[0] - (text_width(f, caption) + tracking * (len(caption) - 1)) / 2
    for ch in caption:
        draw_text(img, (x, centre[1]), ch, f, colour, anchor="lm")
        x += text_width(f, ch) + tracking


def button_face(bg, pos, style, state, caption, cjk):
    w, h = BUTTON_SIZE
    img = bg.crop((pos[0], pos[1], pos[0] + w, pos[1] + h))
    body = (K, K, w - K, h - 2 * K)
    body_mask = mask((w, h), rounded(body, 5 * K))
    if state == "disabled":
        top, bottom, edge, _ = FACE_DISABLED
        text_colour, shadow_colour = (150, 158, 168), None
    else:
        top, bottom, edge, shadow_colour = FACE_COLOURS[style]
        text_colour = (255, 255, 255)
        if state == "hover":
            top, bottom = FACE_HOVER[style]
            edge = HOVER_EDGE
    if state != "disabled":
        shadow(img, body_mask, (0, sc(1)), 0.8 * K, 0.35)
    fill(img, vgradient((w, h), [(0.0, top), (1.0, bottom)]), body_mask)
    # gloss on the upper half
    gloss = mask((w, h), rounded((2 * K, 2 * K, w - 2 * K, h // 2), 4 * K))
    fill(img, (255, 255, 255), scaled(gloss, 0.10 if state == "disabled" else 0.20))
    if state == "hover":
        # a two-pixel bright rim so the hovered face stands out
        fill(img, edge, mask((w, h), rounded(body, 5 * K, width=2 * K)))
    else:
        fill(img, edge, mask((w, h), rounded(body, 5 * K, width=K)))

    f, tracking = caption_style(caption, cjk)
    cx, cy = w / 2, (h - K) / 2 + (K if cjk else 0.5 * K)
    if shadow_colour:
        draw_caption(img, (cx, cy + sc(1)), caption, f, tracking, shadow_colour)
    draw_caption(img, (cx, cy), caption, f, tracking, text_colour)
    return img


def button_faces(bg):
    faces = {}
    for key, style, captions in BUTTONS:
        pos = BUTTON_POS[key]
        for lang, (caption, ids) in zip(LANGUAGES, captions):
            for state, face_id in zip(("normal", "hover", "disabled"), ids):
                faces[face_id] = button_face(bg, pos, style, state, caption, lang.cjk)
    return faces


# ---------------------------------------------------------------------------
# About pictures


def about_picture(lang):
    w, h = ABOUT_SIZE
    img = vgradient(ABOUT_SIZE, [(0.0, (255, 255, 255)), (0.6, (240, 245, 252)), (1.0, (222, 233, 248))])
    # flowing bands along the bottom
    bands = ((TEAL, 0.18, 0.0, 121 * K), (MID_BLUE, 0.14, 1.4, 127 * K), (INK, 0.10, 2.6, 132 * K))
    for colour, strength, phase, base in bands:

        def band(d, s, phase=phase, base=base):
            pts = [(0, h * s)]
            for x in range(0, w + 1, 2):
                y = base + 4 * K * math.sin(x / (38.0 * K) + phase) + 2 * K * math.sin(x / (17.0 * K) + phase * 2)
                pts.append((x * s, y * s))
            pts.append((w * s, h * s))
            d.polygon(pts, fill=255)

        fill(img, colour, scaled(mask(ABOUT_SIZE, band), strength))

    e = emblem(sc(64))
    sh = e.getchannel("A").filter(ImageFilter.GaussianBlur(2 * K))
    fill(img, (20, 50, 110), scaled(sh, 0.22), (sc(15), sc(12)))
    img.paste(e, (sc(14), sc(10)), e)
    end = wordmark(img, 88 * K, 50 * K, fs(32))
    assert end <= w - 12 * K, "About word mark does not fit"
    spaced_text(img, (90 * K, 65 * K), TAGLINE, font(LATIN_BOLD, fs(9)), TAGLINE_INK, 1.6 * K)
    accent = hgradient((w - sc(28), sc(2)), [(0.0, TEAL), (0.5, MID_BLUE), (1.0, (226, 236, 249))])
    img.paste(accent, (sc(14), sc(80)))

    line, version = lang.about_line, lang.version
    if lang.cjk:
        body, small = font(CJK_FONT, fs(14)), font(CJK_FONT, fs(12))
    else:
        body, small = font(LATIN_REGULAR, fs(12)), font(LATIN_REGULAR, fs(11))
    check_glyphs(body, line)
    check_glyphs(small, version)
    assert text_width(body, line) <= w - 32 * K, "About line does not fit"
    draw_text(img, (16 * K, 94 * K), line, body, (36, 58, 96), anchor="lm")
    draw_text(img, (16 * K, 113 * K), version, small, (70, 88, 118), anchor="lm")
    draw_text(img, (w - 16 * K, 113 * K), "© Velmar", font(LATIN_REGULAR, fs(11)), (70, 88, 118), anchor="rm")
    return img


# ---------------------------------------------------------------------------
# Writers


def bmp24(img):
    """Bytes of a Windows 3.x BMP: BITMAPINFOHEADER, 24 bpp, bottom-up, BI_RGB."""
    img = img.convert("RGB")
    w, h = img.size
    stride = (w * 3 + 3) & ~3
    pad = b"\0" * (stride - w * 3)
    raw = img.tobytes("raw", "BGR")
    rows = [raw[y * w * 3 : (y + 1) * w * 3] + pad for y in range(h - 1, -1, -1)]
    pixels = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), 3780, 3780, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


def quantise(pixels, count):
    """Palette of count colours (black first) for a list of RGB triples."""
    unique = sorted(set(pixels))
    if len(unique) <= count - 1:
        colours = unique
    else:
        strip = Image.new("RGB", (len(pixels), 1))
        strip.putdata(pixels)
        q = strip.quantize(colors=count - 1, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
        flat = q.getpalette()[: 3 * (count - 1)]
        colours = sorted(set(tuple(flat[i : i + 3]) for i in range(0, len(flat), 3)))
    palette = [(0, 0, 0)] + [c for c in colours if c != (0, 0, 0)]
    palette += [(0, 0, 0)] * (count - len(palette))
    return palette[:count]


def nearest(palette, c):
    best, best_d = 1, None
    for i, p in enumerate(palette):
        if i == 0:
            continue  # index 0 is the transparent black
        d = (p[0] - c[0]) ** 2 * 3 + (p[1] - c[1]) ** 2 * 4 + (p[2] - c[2]) ** 2 * 2
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def icon_image(rgba, bits):
    """One classic icon image: BITMAPINFOHEADER, palette, XOR bits, AND mask."""
    w, h = rgba.size
    px = list(rgba.getdata())
    opaque = [p[3] >= 112 for p in px]
    palette = quantise([p[:3] for p, o in zip(px, opaque) if o], 1 << bits)
    index = [nearest(palette, p[:3]) if o else 0 for p, o in zip(px, opaque)]

    xor_stride = ((w * bits + 31) // 32) * 4
    and_stride = ((w + 31) // 32) * 4
    xor_rows, and_rows = [], []
    for y in range(h - 1, -1, -1):
        row = index[y * w : (y + 1) * w]
        if bits == 8:
            data = bytes(row)
        else:
            data = bytes((row[i] << 4) | row[i + 1] for i in range(0, w, 2))
        xor_rows.append(data + b"\0" * (xor_stride - len(data)))
        bits_row = 0
        for x in range(w):
            bits_row = (bits_row << 1) | (0 if opaque[y * w + x] else 1)
        bits_row <<= (-w) % 8  # the first pixel is the top bit of the first byte
        and_data = bits_row.to_bytes((w + 7) // 8, "big")
        and_rows.append(and_data + b"\0" * (and_stride - len(and_data)))
    pixels = b"".join(xor_rows) + b"".join(and_rows)
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, bits, 0, len(pixels), 0, 0, 0, 0)
    pal = b"".join(struct.pack("<BBBB", c[2], c[1], c[0], 0) for c in palette)
    return info + pal + pixels


def ico(images):
    """An .ico file from [(rgba image, bits per pixel), ...]."""
    blobs = [(im, bits, icon_image(im, bits)) for im, bits in images]
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for im, bits, blob in blobs:
        colours = (1 << bits) if bits < 8 else 0
        w, h = (v % 256 for v in im.size)  # 256 is written as 0
        out += struct.pack("<BBBBHHII", w, h, colours, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blob for _, _, blob in blobs)


# ---------------------------------------------------------------------------
# Preview montage (not used by the build)


def dialog_mock(bg, logo_img, faces, lang):
    """The background with the controls roughly as the program shows them."""
    img = bg.copy()
    img.paste(logo_img, LOGO_POS)
    d = ImageDraw.Draw(img)
    ui = font(CJK_FONT, 12) if lang.cjk else font(LATIN_REGULAR, 11)
    user, password, status, disconnected, radio = lang.mock
    check_glyphs(ui, "".join(lang.mock))

    def label(du, s, centre=False):
        r = du_rect(*du)
        if centre:
            d.text(((r[0] + r[2]) / 2, (r[1] + r[3]) / 2), s, font=ui, fill=(0, 0, 0), anchor="mm")
        else:
            d.text((r[0], (r[1] + r[3]) / 2), s, font=ui, fill=(0, 0, 0), anchor="lm")

    def etched(r):
        d.rectangle((r[0], r[1], r[2] - 1, r[3] - 1), outline=(160, 160, 160))
        d.rectangle((r[0] + 1, r[1] + 1, r[2], r[3]), outline=(255, 255, 255))
        d.rectangle((r[0], r[1], r[2] - 1, r[3] - 1), outline=(160, 160, 160))

    for g in (GROUP_ACCOUNT, GROUP_SERVER):
        etched((g[0], g[1] + 5, g[2], g[3]))
    for du in ((65, 55, 83, 14), (65, 78, 83, 14)):
        r = du_rect(*du)
        d.rectangle(r, fill=(255, 255, 255), outline=(122, 138, 153))
    for x in (19, 69, 121):
        r = du_rect(x, 143, 44, 13)
        d.rectangle(r, fill=(255, 255, 255), outline=(122, 138, 153))
        d.rectangle((r[2] - 16, r[1] + 1, r[2] - 1, r[3] - 1), fill=(220, 226, 234))
    s = STATUS_LINE
    d.line((s[0], s[1], s[2], s[1]), fill=(128, 128, 128))
    d.line((s[0], s[1], s[0], s[3]), fill=(128, 128, 128))
    d.line((s[0], s[3], s[2], s[3]), fill=(255, 255, 255))
    d.line((s[2], s[1], s[2], s[3]), fill=(255, 255, 255))
    label((26, 59, 36, 8), user)
    label((26, 80, 36, 8), password)
    label((16, 120, 32, 8), status)
    label((51, 117, 164, 13), disconnected, centre=True)
    r = du_rect(170, 145, 46, 8)
    d.ellipse((r[0], r[1], r[0] + 12, r[1] + 12), fill=(255, 255, 255), outline=(90, 100, 120))
    d.ellipse((r[0] + 4, r[1] + 4, r[0] + 8, r[1] + 8), fill=(0, 0, 0))
    d.text((r[0] + 16, r[1] + 6), radio, font=ui, fill=(0, 0, 0), anchor="lm")
    label((133, 19, 98, 12), "www.kivoline.example", centre=True)
    # the first face of each place in the language (Exit rather than Disconnect)
    i = LANGUAGES.index(lang)
    for key, _, captions in reversed(BUTTONS):
        img.paste(faces[captions[i][1][0]], BUTTON_POS[key])
    return img


def preview(bg, logo_img, faces, abouts, icon_images):
    mocks = []
    for i, lang in enumerate(LANGUAGES):
        mock = dialog_mock(bg, logo_img, faces, lang)
        # a variant that shows Connect enabled and hovered, and Disconnect
        second = mock.copy()
        for key, style, captions in BUTTONS:
            ids = captions[i][1]
            if key == "connect":
                second.paste(faces[ids[1]], BUTTON_POS[key])
            elif style == "red":
                second.paste(faces[ids[0]], BUTTON_POS[key])
        mocks += [mock, second]
    gap = 12
    pw = len(mocks) * BG_SIZE[0] + (len(mocks) + 1) * gap
    rows_h = (len(BUTTONS) * len(LANGUAGES)) * (BUTTON_SIZE[1] + 6)
    abouts_h = len(LANGUAGES) * (ABOUT_SIZE[1] + gap) - gap
    ph = BG_SIZE[1] + 2 * gap + max(rows_h, abouts_h) + gap
    out = Image.new("RGB", (pw, ph), (120, 124, 130))
    for i, im in enumerate(mocks):
        out.paste(im, (gap + i * (BG_SIZE[0] + gap), gap))
    y0 = BG_SIZE[1] + 2 * gap
    # button faces: one row per caption, normal / hover / disabled
    x = gap
    y = y0
    for key, style, captions in BUTTONS:
        for _, ids in captions:
            for j, face_id in enumerate(ids):
                out.paste(faces[face_id], (x + j * (BUTTON_SIZE[0] + 6), y))
            y += BUTTON_SIZE[1] + 6
    x = gap + 3 * (BUTTON_SIZE[0] + 6) + gap
    for i, lang in enumerate(LANGUAGES):
        out.paste(abouts[lang.about_id], (x, y0 + i * (ABOUT_SIZE[1] + gap)))
    # each icon image at 32 and halved, then both magnified, on light and dark ground
    x += ABOUT_SIZE[0] + gap * 2
    for k, im in enumerate(icon_images):
        small = halved(im)
        for row, ground in enumerate(((255, 255, 255), (58, 110, 165))):
            tile = Image.new("RGB", (180, 90), ground)
            tile.paste(im, (4, 4), im)
            tile.paste(small, (44, 12), small)
            for at, shown, size in (((70, 4), im, 64), ((140, 4), small, 32)):
                big = shown.resize((size, size), Image.Resampling.NEAREST)
                tile.paste(big, at, big)
            out.paste(tile, (x + k * 190, y0 + row * 100))
    return out


def halved(im):
    """A 32x32 icon image reduced to 16x16 the way GDI's default stretch does it:
    each 2x2 block is opaque when any pixel is, and its colour is the bitwise
    AND of the four (black where transparent)."""
    w, h = im.size
    out = Image.new("RGBA", (w // 2, h // 2))
    for y in range(0, h - 1, 2):
        for x in range(0, w - 1, 2):
            block = [im.getpixel((x + dx, y + dy)) for dy in (0, 1) for dx in (0, 1)]
            colour = [255, 255, 255]
            for p in block:
                rgb = p[:3] if p[3] else (0, 0, 0)
                colour = [c & v for c, v in zip(colour, rgb)]
            alpha = 255 if any(p[3] for p in block) else 0
            out.putpixel((x // 2, y // 2), tuple(colour) + (alpha,))
    return out


def decode_icon(data):
    """RGBA images of an icon file as Windows would show them (for the preview)."""
    _, _, count = struct.unpack_from("<HHH", data, 0)
    result = []
    for i in range(count):
        w, h, _, _, _, bits, _, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        pal_off = offset + 40
        palette = [struct.unpack_from("<BBB", data, pal_off + 4 * k)[::-1] for k in range(1 << bits)]
        xor_off = pal_off + 4 * (1 << bits)
        xor_stride = ((w * bits + 31) // 32) * 4
        and_off = xor_off + xor_stride * h
        and_stride = ((w + 31) // 32) * 4
        im = Image.new("RGBA", (w, h))
        for y in range(h):
            row = h - 1 - y
            for x in range(w):
                if bits == 8:
                    idx = data[xor_off + row * xor_stride + x]
                else:
                    b = data[xor_off + row * xor_stride + x // 2]
                    idx = (b >> 4) if x % 2 == 0 else (b & 15)
                transparent = (data[and_off + row * and_stride + x // 8] >> (7 - x % 8)) & 1
                im.putpixel((x, y), palette[idx] + ((0,) if transparent else (255,)))
        result.append(im)
    return result


# ---------------------------------------------------------------------------


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=HERE, help="output folder (default: next to this script)")
    parser.add_argument("--no-preview", action="store_true", help="skip preview.png")
    args = parser.parse_args(argv)
    os.makedirs(args.out, exist_ok=True)

    # The icon: the 32x32 picture in 16 colours for old displays, then every
    # size the shell asks for at 100% to 200% (the small-icon metric is 16,
    # 20, 24 or 32 pixels; 48 for large icons), each drawn for its own grid.
    icon_images = [(emblem(32, detail=False), 4)] + [(emblem(n, detail=False), 8) for n in ICON_SIZES]
    icon_data = ico(icon_images)

    count = 0
    for k, folder in SCALES.items():
        set_scale(k)
        bg = background()
        logo_img = logo(bg)
        faces = button_faces(bg)
        abouts = {lang.about_id: about_picture(lang) for lang in LANGUAGES}
        bitmaps = {642: (bg, BG_SIZE), 632: (logo_img, LOGO_SIZE)}
        bitmaps.update({key: (v, BUTTON_SIZE) for key, v in faces.items()})
        bitmaps.update({key: (v, ABOUT_SIZE) for key, v in abouts.items()})
        out = os.path.join(args.out, folder)
        os.makedirs(out, exist_ok=True)
        for bid, (im, size) in sorted(bitmaps.items()):
            assert im.size == size, "bitmap %d is %r" % (bid, im.size)
            if k == 1:
                with open(os.path.join(out, "%d.bmp" % bid), "wb") as f:
                    f.write(bmp24(im))
            else:
                # The larger sets are PNG, decoded by the program at load:
                # as bitmaps they would make the program four times larger.
                im.convert("RGB").save(os.path.join(out, "%d.png" % bid), optimize=True)
        count += len(bitmaps)
        if k == 1:
            preview_parts = (bg, logo_img, faces, abouts)
    set_scale(1)
    with open(os.path.join(args.out, "338.ico"), "wb") as f:
        f.write(icon_data)

    # read the files back as a loader would
    problems = check_art.check_folder(args.out)

    if not args.no_preview:
        icons = [im for im in decode_icon(icon_data) if im.size == (32, 32)]
        preview(*preview_parts, icons).save(
            os.path.join(args.out, "preview.png"), optimize=False
        )
    for p in problems:
        print("make_art: " + p, file=sys.stderr)
    print("make_art: wrote %d bitmaps and 338.ico to %s" % (count, args.out))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
