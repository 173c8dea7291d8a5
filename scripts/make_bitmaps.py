#!/usr/bin/env python3
"""Draws the launcher's bitmaps, its icon and the demo window background.

Writes res/bitmaps/<id>.bmp (24-bit), res/Login.ico (32x32 and 16x16, 32-bit)
and standins/site/download/LauncherDlg.bmp (1035x590). Pure green marks the
transparent pixels of the button bitmaps; RGB(64, 64, 64) marks the window's
see-through outside in the background. Standard library only.
"""
import os
import struct
import sys

GREEN = (0, 255, 0)
KEY = (64, 64, 64)


class Canvas:
    def __init__(self, w, h, fill):
        self.w, self.h = w, h
        self.px = [fill] * (w * h)

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y * self.w + x] = c

    def rect(self, x0, y0, x1, y1, c):
        for y in range(max(0, y0), min(self.h, y1)):
            row = y * self.w
            for x in range(max(0, x0), min(self.w, x1)):
                self.px[row + x] = c

    def round_rect(self, x0, y0, x1, y1, r, c):
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                cx = min(max(x, x0 + r), x1 - 1 - r)
                cy = min(max(y, y0 + r), y1 - 1 - r)
                if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                    self.px[y * self.w + x] = c

    def line(self, x0, y0, x1, y1, t, c):
        n = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(n + 1):
            x = x0 + (x1 - x0) * i / n
            y = y0 + (y1 - y0) * i / n
            for dy in range(-t // 2 + 1, t // 2 + 1):
                for dx in range(-t // 2 + 1, t // 2 + 1):
                    self.set(int(round(x)) + dx, int(round(y)) + dy, c)

    def frame(self, x0, y0, x1, y1, t, c):
        self.rect(x0, y0, x1, y0 + t, c)
        self.rect(x0, y1 - t, x1, y1, c)
        self.rect(x0, y0, x0 + t, y1, c)
        self.rect(x1 - t, y0, x1, y1, c)


def bmp_bytes(cv):
    stride = (cv.w * 3 + 3) & ~3
    data = bytearray()
    for y in range(cv.h - 1, -1, -1):
        row = bytearray()
        for x in range(cv.w):
            r, g, b = cv.px[y * cv.w + x]
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        data += row
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, cv.w, cv.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return header + info + bytes(data)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def shade(c, k):
    return tuple(min(255, int(v * k)) for v in c)


def small_button(glyph, bright):
    cv = Canvas(25, 26, GREEN)
    base = (46, 78, 128) if not bright else (70, 120, 196)
    cv.round_rect(1, 1, 24, 25, 5, shade(base, 0.7))
    cv.round_rect(2, 2, 23, 24, 4, base)
    ink = (220, 226, 236) if not bright else (255, 255, 255)
    if glyph == "x":
        cv.line(8, 8, 16, 17, 2, ink)
        cv.line(16, 8, 8, 17, 2, ink)
    else:
        cv.rect(7, 16, 18, 19, ink)
    return cv


def wide_button(w, h, glyph, bright):
    cv = Canvas(w, h, GREEN)
    base = (40, 70, 112) if not bright else (64, 112, 180)
    cv.round_rect(0, 0, w, h, 6, shade(base, 0.65))
    cv.round_rect(1, 1, w - 1, h - 1, 5, base)
    cv.rect(6, 2, w - 6, h // 2, shade(base, 1.15))
    ink = (214, 222, 234) if not bright else (255, 255, 255)
    cy = h // 2
    if glyph == "check":
        cv.line(w // 2 - 9, cy, w // 2 - 3, cy + 6, 3, ink)
        cv.line(w // 2 - 3, cy + 6, w // 2 + 9, cy - 6, 3, ink)
    elif glyph == "x":
        cv.line(w // 2 - 6, cy - 6, w // 2 + 6, cy + 6, 3, ink)
        cv.line(w // 2 + 6, cy - 6, w // 2 - 6, cy + 6, 3, ink)
    else:  # video: a small monitor and three bars
        cv.frame(12, 4, 34, h - 7, 2, ink)
        cv.rect(20, h - 7, 26, h - 4, ink)
        cv.rect(16, h - 4, 30, h - 2, ink)
        for i, bh in enumerate((5, 9, 13)):
            cv.rect(48 + i * 12, h - 5 - bh, 56 + i * 12, h - 5, ink)
    return cv


def level_tile(bright):
    cv = Canvas(172, 172, GREEN)
    edge = (210, 170, 60) if bright else (90, 100, 120)
    cv.round_rect(2, 2, 170, 170, 10, edge)
    cv.round_rect(7, 7, 165, 165, 7, (26, 34, 52) if not bright else (38, 52, 84))
    # a small landscape: sky, sun and a mountain
    cv.rect(16, 16, 156, 120, (40, 70, 120) if not bright else (70, 120, 200))
    sun = (200, 180, 90) if not bright else (255, 226, 110)
    for y in range(24, 56):
        for x in range(110, 142):
            if (x - 126) ** 2 + (y - 40) ** 2 <= 196:
                cv.set(x, y, sun)
    hill = (50, 96, 60) if not bright else (76, 160, 90)
    for y in range(50, 120):
        half = (y - 50) * 1.1
        cv.rect(int(70 - half), y, int(70 + half) + 1, y + 1, hill)
    cv.rect(16, 120, 156, 156, (30, 60, 40) if not bright else (50, 110, 66))
    return cv


def background():
    w, h = 1035, 590
    cv = Canvas(w, h, KEY)
    # body: dark blue gradient with rounded corners, a title plate on top
    top, bottom = 60, 580
    for y in range(top, bottom):
        k = (y - top) / (bottom - top)
        c = (int(18 + 10 * k), int(26 + 14 * k), int(44 + 26 * k))
        cv.round_rect(10, y, w - 10, y + 1, 0, c)
    # round the body's corners back into the key colour
    r = 22
    for (cx, cy) in ((10 + r, top + r), (w - 11 - r, top + r), (10 + r, bottom - 1 - r), (w - 11 - r, bottom - 1 - r)):
        for y in range(cy - r, cy + r + 1):
            for x in range(cx - r, cx + r + 1):
                outside_x = x < cx if cx < w // 2 else x > cx
                outside_y = y < cy if cy < h // 2 else y > cy
                if outside_x and outside_y and (x - cx) ** 2 + (y - cy) ** 2 > r * r:
                    cv.set(x, y, KEY)
    cv.round_rect(330, 20, 705, 72, 14, (30, 46, 80))
    cv.round_rect(334, 24, 701, 68, 11, (44, 66, 112))
    draw_word(cv, "KORVANE", 517, 46, 4, (230, 200, 110))
    # frame of the web view and the progress track
    cv.frame(34, 116, 972, 519, 4, (70, 96, 150))
    cv.rect(38, 120, 968, 515, (12, 16, 28))
    cv.frame(70, 550, 967, 567, 2, (70, 96, 150))
    return cv


FONT = {
    "K": ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "V": ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
}


def draw_word(cv, word, cx, cy, s, c):
    width = len(word) * 6 * s - s
    x0, y0 = cx - width // 2, cy - 7 * s // 2
    for i, ch in enumerate(word):
        for ry, bits in enumerate(FONT[ch]):
            for rx, b in enumerate(bits):
                if b == "1":
                    cv.rect(x0 + i * 6 * s + rx * s, y0 + ry * s, x0 + i * 6 * s + (rx + 1) * s, y0 + (ry + 1) * s, c)


def icon_image(size):
    cv = Canvas(size, size, None)
    m = size // 16
    cv.round_rect(m, m, size - m, size - m, size // 5, (44, 66, 112))
    cv.round_rect(2 * m, 2 * m, size - 2 * m, size - 2 * m, size // 6, (60, 96, 160))
    s = size // 16
    ink = (240, 206, 110)
    cv.rect(5 * s, 4 * s, 7 * s, 12 * s, ink)
    cv.line(7 * s, 8 * s, 11 * s, 4 * s, max(2, s * 2), ink)
    cv.line(7 * s, 8 * s, 11 * s, 12 * s - 1, max(2, s * 2), ink)
    # 32-bit BGRA bottom-up, then an all-zero AND mask
    xor = bytearray()
    for y in range(size - 1, -1, -1):
        for x in range(size):
            p = cv.px[y * size + x]
            xor += bytes((0, 0, 0, 0)) if p is None else bytes((p[2], p[1], p[0], 255))
    mask_stride = ((size + 31) // 32) * 4
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + mask_stride * size, 0, 0, 0, 0)
    return info + bytes(xor) + b"\0" * (mask_stride * size)


def ico_bytes(sizes):
    images = [icon_image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, img in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    return out + b"".join(images)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    bitmaps = {
        132: small_button("x", True), 133: small_button("x", False),
        134: small_button("_", True), 135: small_button("_", False),
        137: wide_button(106, 27, "x", False), 138: wide_button(106, 27, "x", True),
        139: wide_button(103, 23, "video", False), 140: wide_button(103, 23, "video", True),
        141: level_tile(True), 142: level_tile(False),
        143: wide_button(106, 27, "check", False), 144: wide_button(106, 27, "check", True),
    }
    for ident, cv in bitmaps.items():
        write(os.path.join(root, "res", "bitmaps", "%d.bmp" % ident), bmp_bytes(cv))
    write(os.path.join(root, "res", "Login.ico"), ico_bytes([32, 16]))
    write(os.path.join(root, "standins", "site", "download", "LauncherDlg.bmp"), bmp_bytes(background()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
