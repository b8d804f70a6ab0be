#!/usr/bin/env python3
"""Draws the program's icon and bitmaps into app/art/: icon 100 (vorlux.ico, 32x32 and 16x16),
the settings pages' strip (strip.bmp, bitmap 109), the About picture (about.bmp, bitmap 1000,
373 x 217, 256 colours) and the status icon's four pictures (status-idle.ico,
status-recording.ico, status-paused.ico, status-failed.ico; icons 320 to 323, 32x32 and 16x16).
Pure Python, no imaging library. Run it again after changing a drawing."""

import math
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "art")

# 5x7 glyphs for the few letters the pictures use.
GLYPHS = {
    "V": ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "X": ["10001", "10001", "01010", "00100", "01010", "10001", "10001"],
    "3": ["11110", "00001", "00001", "01110", "00001", "00001", "11110"],
    "0": ["01110", "10001", "10011", "10101", "11001", "10001", "01110"],
    ".": ["00000", "00000", "00000", "00000", "00000", "01100", "01100"],
    " ": ["00000"] * 7,
}


class Canvas:
    def __init__(self, width, height, colour):
        self.w, self.h = width, height
        self.px = [[colour] * width for _ in range(height)]

    def put(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, c):
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                self.px[y][x] = c

    def disc(self, cx, cy, r, c):
        for y in range(int(cy - r) - 1, int(cy + r) + 2):
            for x in range(int(cx - r) - 1, int(cx + r) + 2):
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                    self.put(x, y, c)

    def text(self, x, y, s, scale, c):
        for ch in s:
            for row, bits in enumerate(GLYPHS[ch]):
                for col, bit in enumerate(bits):
                    if bit == "1":
                        self.rect(x + col * scale, y + row * scale, x + (col + 1) * scale, y + (row + 1) * scale, c)
            x += 6 * scale

    def vgradient(self, top, bottom):
        for y in range(self.h):
            t = y / max(1, self.h - 1)
            c = tuple(int(a + (b - a) * t) for a, b in zip(top, bottom))
            for x in range(self.w):
                self.px[y][x] = c


def quantise(c):
    """To the 6x6x6 colour cube plus a grey ramp: a fixed 256-colour palette."""
    return tuple(round(v / 51) * 51 for v in c)


def palette():
    cube = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    greys = [(v, v, v) for v in range(0, 256, 7)][: 256 - len(cube)]
    pal = cube + greys
    return pal + [(0, 0, 0)] * (256 - len(pal))


def write_bmp8(path, canvas):
    pal = palette()
    index = {c: i for i, c in enumerate(pal[:216])}
    stride = (canvas.w + 3) & ~3
    rows = b""
    for y in reversed(range(canvas.h)):  # bottom-up
        row = bytes(index[quantise(c)] for c in canvas.px[y])
        rows += row + b"\0" * (stride - canvas.w)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in pal)
    offset = 14 + 40 + len(colours)
    header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, canvas.w, canvas.h, 1, 8, 0, len(rows), 2835, 2835, 256, 0)
    with open(path, "wb") as f:
        f.write(header + info + colours + rows)


def lens(size):
    """The program's lens: a dark rim, a blue ring and a dark centre, on a clear background."""
    c = Canvas(size, size, None)
    r = size / 2 - 0.5
    c.disc(size / 2, size / 2, r, (20, 40, 90))
    c.disc(size / 2, size / 2, r * 0.72, (60, 110, 200))
    c.disc(size / 2, size / 2, r * 0.42, (10, 20, 40))
    return c, r


def app_icon(size):
    """The lens with a red record light."""
    c, r = lens(size)
    c.disc(size * 0.72, size * 0.28, r * 0.28, (230, 30, 30))
    return c


def triangle(c, a, b, d, colour):
    """Fills the pixels whose centres lie inside the triangle a, b, d."""
    def side(p, q, x, y):
        return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])

    for y in range(c.h):
        for x in range(c.w):
            px, py = x + 0.5, y + 0.5
            s1, s2, s3 = side(a, b, px, py), side(b, d, px, py), side(d, a, px, py)
            if (s1 >= 0 and s2 >= 0 and s3 >= 0) or (s1 <= 0 and s2 <= 0 and s3 <= 0):
                c.put(x, y, colour)


def status_picture(kind, size):
    """The status icon: the lens when idle, a red light filling it while recording, amber
    pause bars on it while paused, and a warning sign when a recording failed. Each reads at
    16 px, the size the notification area shows at 100 %."""
    if kind == "idle":
        c, r = lens(size)
        c.disc(size * 0.72, size * 0.28, r * 0.28, (150, 150, 150))  # the record light, off
        return c
    if kind == "recording":
        c = Canvas(size, size, None)
        r = size / 2 - 0.5
        c.disc(size / 2, size / 2, r, (110, 0, 0))
        c.disc(size / 2, size / 2, r * 0.78, (230, 30, 30))
        c.disc(size * 0.38, size * 0.38, r * 0.22, (255, 140, 140))  # a highlight
        return c
    if kind == "paused":
        c, r = lens(size)
        bar_w = max(2, round(size * 0.16))
        gap = max(2, round(size * 0.12))
        top, bottom = round(size * 0.25), size - round(size * 0.25)
        left = (size - 2 * bar_w - gap) // 2
        for x0 in (left, left + bar_w + gap):
            c.rect(x0 - 1, top - 1, x0 + bar_w + 1, bottom + 1, (60, 40, 0))
            c.rect(x0, top, x0 + bar_w, bottom, (255, 190, 0))
        return c
    if kind == "failed":
        c = Canvas(size, size, None)
        triangle(c, (size / 2, 0), (size, size - 0.5), (0, size - 0.5), (60, 40, 0))
        inset = size * 0.12
        triangle(c, (size / 2, inset * 1.9), (size - inset, size - inset * 0.8), (inset, size - inset * 0.8),
                 (255, 190, 0))
        w = max(2, round(size * 0.12))
        x0 = (size - w) // 2
        c.rect(x0, round(size * 0.38), x0 + w, round(size * 0.66), (10, 10, 10))  # the "!"
        c.rect(x0, round(size * 0.72), x0 + w, round(size * 0.72) + w, (10, 10, 10))
        return c
    raise ValueError(kind)


def icon_image(c):
    """A 32-bit image with its AND mask from a canvas whose clear pixels are None."""
    size = c.w
    xor = b""
    mask_stride = ((size + 31) // 32) * 4
    mask = b""
    for y in reversed(range(size)):
        row_mask = bytearray(mask_stride)
        for x in range(size):
            p = c.px[y][x]
            if p is None:
                xor += b"\0\0\0\0"
                row_mask[x // 8] |= 0x80 >> (x % 8)
            else:
                xor += struct.pack("<BBBB", p[2], p[1], p[0], 255)
        mask += bytes(row_mask)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + mask


def write_ico(path, draw, sizes):
    images = [icon_image(draw(s)) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, img in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


def film_strip(c, x0, x1, y0, y1):
    c.rect(x0, y0, x1, y1, (20, 20, 20))
    for x in range(x0 + 4, x1 - 6, 14):
        c.rect(x, y0 + 3, x + 7, y0 + 8, (230, 230, 230))
        c.rect(x, y1 - 8, x + 7, y1 - 3, (230, 230, 230))


def strip():
    c = Canvas(120, 260, (0, 0, 0))
    c.vgradient((40, 80, 170), (0, 0, 40))
    for y in range(10, 260, 22):  # perforations down both edges
        c.rect(6, y, 16, y + 10, (220, 220, 220))
        c.rect(104, y, 114, y + 10, (220, 220, 220))
    c.disc(60, 70, 26, (10, 20, 40))
    c.disc(60, 70, 18, (60, 110, 200))
    c.disc(72, 58, 7, (230, 30, 30))
    for i, ch in enumerate("VORLUX"):
        c.text(48, 120 + i * 22, ch, 3, (255, 255, 255))
    return c


def about():
    c = Canvas(373, 217, (0, 0, 0))
    c.vgradient((0, 51, 153), (0, 0, 51))
    film_strip(c, 0, 373, 8, 44)
    film_strip(c, 0, 373, 173, 209)
    c.disc(70, 108, 40, (10, 20, 40))
    c.disc(70, 108, 29, (60, 110, 200))
    c.disc(70, 108, 14, (10, 20, 40))
    c.disc(92, 82, 10, (230, 30, 30))
    c.text(130, 78, "VORLUX", 6, (255, 255, 255))
    c.text(200, 132, "3.0", 4, (255, 204, 0))
    for k in range(5):  # a sweep of motion lines
        y = 150 + k * 4
        c.rect(130, y, 130 + int(50 * math.cos(k / 3)), y + 2, (102, 153, 255))
    return c


def main():
    os.makedirs(HERE, exist_ok=True)
    write_ico(os.path.join(HERE, "vorlux.ico"), app_icon, [32, 16])
    for kind in ("idle", "recording", "paused", "failed"):
        write_ico(os.path.join(HERE, "status-%s.ico" % kind), lambda s, k=kind: status_picture(k, s), [32, 16])
    write_bmp8(os.path.join(HERE, "strip.bmp"), strip())
    write_bmp8(os.path.join(HERE, "about.bmp"), about())


if __name__ == "__main__":
    main()
