#!/usr/bin/env python3
"""Draws the updater's skin bitmaps (title bar, borders, bottom bar, list header, progress
bar, and the four-frame button strips) as 24-bit BMP files, so the art lives as code and is
rebuilt with the program.

    make_skin.py OUT_DIR               writes OUT_DIR/skin_<id>.bmp for every skin bitmap
    make_skin.py OUT_DIR --preview P   also composes a mock-up of the dialog into PNG file P
"""
import math
import struct
import sys
import zlib

KEY = (255, 0, 255)  # pixels of this colour show what lies beneath

# The dialog's palette: row colours, header background and text.
ROW_ODD = (242, 243, 246)
ROW_EVEN = (220, 235, 246)
HEADER_BACK = (218, 221, 228)
HEADER_TEXT = (4, 73, 142)

# The frame: a deep blue that matches the header text, and the light face inside it.
FRAME_DARK = (14, 66, 124)
FRAME_EDGE = (22, 88, 160)
FACE = (236, 240, 246)

WHITE = (255, 255, 255)

# Button states, in the order of the frames of a strip.
NORMAL, HOVER, PRESSED, DISABLED = range(4)


class Image:
    def __init__(self, width, height, fill=(0, 0, 0)):
        self.width = width
        self.height = height
        self.px = [[fill] * width for _ in range(height)]

    def set(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.px[y][x] = colour

    def get(self, x, y):
        return self.px[y][x]

    def blend(self, x, y, colour, alpha):
        if alpha <= 0 or not (0 <= x < self.width and 0 <= y < self.height):
            return
        self.px[y][x] = mix(self.px[y][x], colour, min(1.0, alpha))

    def fill(self, x0, y0, x1, y1, colour):
        for y in range(max(0, y0), min(self.height, y1)):
            for x in range(max(0, x0), min(self.width, x1)):
                self.px[y][x] = colour

    def paste(self, other, dx, dy, key=None):
        for y in range(other.height):
            for x in range(other.width):
                c = other.px[y][x]
                if key is not None and c == key:
                    continue
                self.set(dx + x, dy + y, c)

    def crop(self, x0, y0, w, h):
        out = Image(w, h)
        for y in range(h):
            out.px[y] = self.px[y0 + y][x0:x0 + w]
        return out

    def stretch(self, w, h):
        out = Image(w, h)
        for y in range(h):
            sy = y * self.height // h
            for x in range(w):
                out.px[y][x] = self.px[sy][x * self.width // w]
        return out

    def bmp(self):
        """Uncompressed 24-bit BMP: bottom-up rows of B, G, R padded to four bytes."""
        stride = (self.width * 3 + 3) & ~3
        pad = b"\x00" * (stride - self.width * 3)
        rows = []
        for y in range(self.height - 1, -1, -1):
            rows.append(b"".join(struct.pack("BBB", b, g, r) for (r, g, b) in self.px[y]) + pad)
        data = b"".join(rows)
        info = struct.pack("<IiiHHIIiiII", 40, self.width, self.height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
        head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info))
        return head + info + data

    def png(self, scale=1):
        raw = b""
        for y in range(self.height * scale):
            row = self.px[y // scale]
            raw += b"\x00" + b"".join(struct.pack("BBB", *row[x // scale]) for x in range(self.width * scale))

        def chunk(kind, data):
            return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

        ihdr = struct.pack(">IIBBBBB", self.width * scale, self.height * scale, 8, 2, 0, 0, 0)
        return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def gradient(top, bottom, n, i):
    return mix(top, bottom, i / max(1, n - 1))


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / float(dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def draw_line(img, ax, ay, bx, by, width, colour, alpha=1.0):
    """An anti-aliased stroke: each pixel covered in proportion to its distance from the line."""
    x0, x1 = int(min(ax, bx) - width), int(max(ax, bx) + width) + 1
    y0, y1 = int(min(ay, by) - width), int(max(ay, by) + width) + 1
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            d = segment_distance(x + 0.5, y + 0.5, ax, ay, bx, by)
            img.blend(x, y, colour, alpha * max(0.0, min(1.0, width / 2.0 + 0.5 - d)))


def draw_cross(img, cx, cy, half, width, colour, alpha=1.0):
    draw_line(img, cx - half, cy - half, cx + half, cy + half, width, colour, alpha)
    draw_line(img, cx - half, cy + half, cx + half, cy - half, width, colour, alpha)


def rounded_box(img, x0, y0, x1, y1, border, top, bottom, corner=KEY):
    """A box with a one-pixel border, a vertical face gradient and cut corner pixels."""
    h = y1 - y0
    for y in range(y0, y1):
        for x in range(x0, x1):
            edge = x in (x0, x1 - 1) or y in (y0, y1 - 1)
            img.set(x, y, border if edge else gradient(top, bottom, h - 2, y - y0 - 1))
    # A highlight just inside the top edge gives the face some depth.
    for x in range(x0 + 1, x1 - 1):
        img.blend(x, y0 + 1, WHITE, 0.55)
    for (x, y) in ((x0, y0), (x1 - 1, y0), (x0, y1 - 1), (x1 - 1, y1 - 1)):
        img.set(x, y, corner)


# ---- Title bar and frame ------------------------------------------------------------------

TITLE_H = 35


def title_colour(y):
    """Title bar colour of row y: a glossy upper half over a deeper lower half."""
    if y == 0:
        return (120, 178, 232)  # light top edge
    if y == TITLE_H - 1:
        return FRAME_DARK  # separator above the list
    if y < 15:
        return gradient((78, 150, 218), (48, 122, 198), 14, y - 1)
    if y == 15:
        return (38, 112, 190)  # softens the edge of the gloss
    return gradient((30, 104, 182), (18, 82, 156), TITLE_H - 17, y - 16)


def title_bar():
    img = Image(537, TITLE_H)
    for y in range(TITLE_H):
        for x in range(img.width):
            img.set(x, y, title_colour(y))
    # A faint sheen across the right side of the glossy half, behind the window buttons.
    for y in range(1, 15):
        for x in range(300, 537):
            img.blend(x, y, WHITE, 0.10 * (x - 300) / 237.0 * (1 - y / 15.0))
    # Darker side edges continue the frame of the borders and the bottom bar.
    for y in range(1, TITLE_H - 1):
        img.set(0, y, FRAME_EDGE)
        img.set(img.width - 1, y, FRAME_EDGE)
    # The caption is drawn right-aligned so that it ends at x = 60: nothing else goes there.
    return img


def border(left):
    img = Image(3, 23)
    cols = [FRAME_EDGE, (168, 190, 216), FACE]
    if not left:
        cols.reverse()
    for y in range(23):
        for x in range(3):
            img.set(x, y, cols[x])
    return img


def bottom_bar():
    img = Image(537, 43)
    for y in range(43):
        for x in range(537):
            img.set(x, y, gradient(FACE, (208, 217, 230), 41, y))
    for x in range(537):
        img.set(x, 0, (178, 194, 214))  # line under the list
        img.set(x, 1, WHITE)
        img.set(x, 42, FRAME_EDGE)
    for y in range(43):
        img.set(0, y, FRAME_EDGE)
        img.set(1, y, mix(img.get(1, y), (168, 190, 216), 0.8))
        img.set(536, y, FRAME_EDGE)
        img.set(535, y, mix(img.get(535, y), (168, 190, 216), 0.8))
    # A quiet grip of dots at the bottom-right corner.
    for i in range(3):
        for j in range(i + 1):
            x, y = 530 - 4 * j, 38 - 4 * (2 - i)
            img.set(x, y, (150, 166, 188))
            img.set(x + 1, y + 1, WHITE)
    return img


# ---- Window buttons (close and minimise): frames lie on the title bar at y = 1 ------------

def window_button(frame_w, hover_top, hover_bottom, pressed_top, pressed_bottom, glyph):
    strip = Image(frame_w * 4, 26)
    for state in range(4):
        x0 = state * frame_w
        for y in range(26):
            for x in range(frame_w):
                strip.set(x0 + x, y, title_colour(y + 1))
        if state in (HOVER, PRESSED):
            top, bottom = (hover_top, hover_bottom) if state == HOVER else (pressed_top, pressed_bottom)
            for y in range(1, 25):
                for x in range(1, frame_w - 1):
                    strip.set(x0 + x, y, gradient(top, bottom, 24, y - 1))
            edge = mix(bottom, (0, 0, 0), 0.25)
            for x in range(1, frame_w - 1):
                strip.set(x0 + x, 0, edge)
                strip.set(x0 + x, 25, edge)
                if state == HOVER:
                    strip.blend(x0 + x, 1, WHITE, 0.45)
            for y in range(1, 25):
                strip.set(x0, y, edge)
                strip.set(x0 + frame_w - 1, y, edge)
        colour = (150, 176, 206) if state == DISABLED else WHITE
        shift = 1 if state == PRESSED else 0
        glyph(strip, x0 + frame_w / 2.0 + shift, 13.0 + shift, colour)
    return strip


def close_strip():
    def cross(img, cx, cy, colour):
        draw_cross(img, cx, cy, 4.0, 1.8, colour)

    strip = window_button(36, (236, 104, 88), (200, 48, 36), (168, 34, 24), (196, 52, 40), cross)
    for state in range(4):
        strip.set(state * 36 + 35, 0, KEY)  # the window's cut corner shows through here
    return strip


def minimise_strip():
    def dash(img, cx, cy, colour):
        draw_line(img, cx - 4.5, cy + 3.5, cx + 4.5, cy + 3.5, 2.0, colour)

    return window_button(28, (96, 168, 232), (54, 128, 204), (14, 70, 136), (26, 90, 160), dash)


# ---- List header ---------------------------------------------------------------------------

def header_back():
    img = Image(10, 23)
    for y in range(23):
        c = gradient((238, 240, 245), HEADER_BACK, 21, y - 1) if 0 < y < 22 else None
        for x in range(10):
            img.set(x, y, c if c else ((250, 251, 253) if y == 0 else (170, 180, 196)))
    return img


def header_divider():
    img = Image(2, 18)
    for y in range(18):
        # Fade the etched line out at both ends so it doesn't touch the header's edges.
        t = min(1.0, min(y + 1, 18 - y) / 4.0)
        img.set(0, y, mix(HEADER_BACK, (150, 162, 182), t))
        img.set(1, y, mix(HEADER_BACK, WHITE, t))
    return img


# ---- Progress bar --------------------------------------------------------------------------

BAR_BORDER = (112, 146, 186)
ROW_MID = mix(ROW_ODD, ROW_EVEN, 0.5)  # the bar's corners lie on either row colour


def progress_back():
    img = Image(135, 12)
    for y in range(12):
        for x in range(135):
            if x in (0, 134) or y in (0, 11):
                img.set(x, y, BAR_BORDER)
            else:
                img.set(x, y, gradient((228, 232, 239), (252, 253, 255), 10, y - 1))
    for (x, y) in ((0, 0), (134, 0), (0, 11), (134, 11)):
        img.set(x, y, mix(ROW_MID, BAR_BORDER, 0.35))
    return img


def progress_fill(top, middle, bottom):
    """A one-pixel column drawn along the bar; rows 0 and 11 carry the bar's border."""
    img = Image(1, 12)
    for y in range(12):
        if y in (0, 11):
            c = BAR_BORDER
        elif y < 5:
            c = gradient(top, middle, 4, y - 1)
        else:
            c = gradient(middle, bottom, 6, y - 5)
        img.set(0, y, c)
    return img


# ---- Row buttons (cancel, enter game): four frames of 15 x 13 -------------------------------

def row_button(glyph, hover_tint):
    strip = Image(60, 13)
    for state in range(4):
        x0 = state * 15
        if state == NORMAL:
            rounded_box(strip, x0, 0, x0 + 15, 13, (140, 158, 184), (252, 253, 255), (222, 228, 238))
        elif state == HOVER:
            rounded_box(strip, x0, 0, x0 + 15, 13, mix(hover_tint, (0, 0, 0), 0.2),
                        mix(WHITE, hover_tint, 0.12), mix(WHITE, hover_tint, 0.35))
        elif state == PRESSED:
            rounded_box(strip, x0, 0, x0 + 15, 13, mix(hover_tint, (0, 0, 0), 0.35),
                        mix(WHITE, hover_tint, 0.45), mix(WHITE, hover_tint, 0.25))
        else:
            rounded_box(strip, x0, 0, x0 + 15, 13, (190, 194, 202), (240, 241, 244), (230, 232, 236))
        shift = 1 if state == PRESSED else 0
        glyph(strip, x0 + 7.5 + shift * 0.5, 6.5 + shift * 0.5, state)
    return strip


def cancel_strip():
    red = (196, 52, 40)

    def cross(img, cx, cy, state):
        colour = (172, 176, 184) if state == DISABLED else (mix(red, (0, 0, 0), 0.2) if state != NORMAL else red)
        draw_cross(img, cx, cy, 2.6, 1.5, colour)

    return row_button(cross, (226, 96, 80))


def enter_strip():
    green = (40, 150, 64)

    def play(img, cx, cy, state):
        colour = (172, 176, 184) if state == DISABLED else (mix(green, (0, 0, 0), 0.2) if state != NORMAL else green)
        # A right-pointing triangle, filled, with soft edges from 4x4 supersampling.
        ax, ay, bx, by, tx, ty = cx - 2.5, cy - 3.5, cx - 2.5, cy + 3.5, cx + 3.5, cy
        for y in range(int(cy) - 5, int(cy) + 6):
            for x in range(int(cx) - 5, int(cx) + 6):
                inside = 0
                for sy in range(4):
                    for sx in range(4):
                        px, py = x + (sx + 0.5) / 4, y + (sy + 0.5) / 4
                        d1 = (bx - ax) * (py - ay) - (by - ay) * (px - ax)
                        d2 = (tx - bx) * (py - by) - (ty - by) * (px - bx)
                        d3 = (ax - tx) * (py - ty) - (ay - ty) * (px - tx)
                        if (d1 <= 0 and d2 <= 0 and d3 <= 0) or (d1 >= 0 and d2 >= 0 and d3 >= 0):
                            inside += 1
                img.blend(x, y, colour, inside / 16.0)

    return row_button(play, (70, 176, 96))


SKIN = {
    129: header_back,
    130: title_bar,
    133: close_strip,
    134: progress_back,
    135: lambda: progress_fill((150, 208, 250), (64, 150, 226), (26, 108, 190)),  # downloading
    136: minimise_strip,
    139: bottom_bar,
    140: header_divider,
    141: lambda: border(True),
    142: lambda: border(False),
    144: cancel_strip,
    146: lambda: progress_fill((164, 226, 150), (82, 180, 76), (44, 140, 48)),  # installing
    148: enter_strip,
}

SIZES = {129: (10, 23), 130: (537, 35), 133: (144, 26), 134: (135, 12), 135: (1, 12),
         136: (112, 26), 139: (537, 43), 140: (2, 18), 141: (3, 23), 142: (3, 23),
         144: (60, 13), 146: (1, 12), 148: (60, 13)}


def preview(images):
    """The dialog as it will be composed: title, buttons, header, three rows, bottom bar,
    and below it every button strip at double size."""
    w, h = 537, 182
    page = Image(w, h + 100, (255, 255, 255))
    page.paste(images[130], 0, 0)
    page.paste(images[136].crop(0, 0, 28, 26), 471, 1, KEY)
    page.paste(images[133].crop(0, 0, 36, 26), 500, 1, KEY)
    page.paste(images[141].stretch(3, 104), 0, 35)
    page.paste(images[142].stretch(3, 104), 534, 35)
    page.paste(images[139], 0, 139)
    list_x, list_y = 3, 35
    widths = [85, 60, 170, 80, 60, 76]
    page.paste(images[129].stretch(531, 23), list_x, list_y)
    x = list_x
    for wcol in widths:
        x += wcol
        page.paste(images[140].stretch(3, 19), x - 3, list_y + 1)
    for r, (phase, pct) in enumerate(((0, 62), (1, 100), (0, 0))):
        y = list_y + 23 + r * 23
        page.fill(list_x, y, list_x + 531, y + 23, ROW_ODD if r % 2 else ROW_EVEN)
        bx = list_x + 85 + 60
        by = y + (23 - 12) // 2
        page.paste(images[134], bx, by)
        tile = images[135] if phase == 0 else images[146]
        for i in range(int(pct / 100.0 * 135) - 2):
            page.paste(tile, bx + 1 + i, by)
        page.paste(images[148].crop(15 if r == 0 else 0, 0, 15, 13), list_x + 85 + 60 + 170 + 80 + 20, y + 5, KEY)
        page.paste(images[144].crop(0, 0, 15, 13), list_x + 455 + (76 - 15) // 2, y + 5, KEY)
    page.fill(list_x, list_y + 92, list_x + 531, 139, ROW_ODD)
    # Window region: cut corners (3 at the top, 4 at the bottom).
    for i in range(3):
        for j in range(3 - i):
            page.set(i, j, (255, 255, 255))
            page.set(w - 1 - i, j, (255, 255, 255))
    for i in range(4):
        for j in range(4 - i):
            page.set(i, h - 1 - j, (255, 255, 255))
            page.set(w - 1 - i, h - 1 - j, (255, 255, 255))
    # The strips, doubled, on a grey that shows their key-coloured pixels as they will look.
    page.fill(0, h, w, h + 100, (200, 200, 200))
    for sid, x, y in ((133, 4, h + 6), (136, 300, h + 6), (144, 4, h + 66), (148, 300, h + 66)):
        strip = images[sid].stretch(images[sid].width * 2, images[sid].height * 2)
        page.paste(strip, x, y, KEY)
    return page


def main(argv):
    if len(argv) < 2:
        sys.exit(__doc__)
    out_dir = argv[1]
    images = {}
    for sid, draw in SKIN.items():
        img = draw()
        assert (img.width, img.height) == SIZES[sid], sid
        images[sid] = img
        with open("%s/skin_%d.bmp" % (out_dir, sid), "wb") as f:
            f.write(img.bmp())
    if len(argv) >= 4 and argv[2] == "--preview":
        with open(argv[3], "wb") as f:
            f.write(preview(images).png(2))


if __name__ == "__main__":
    main(sys.argv)
