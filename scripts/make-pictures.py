#!/usr/bin/env python3
"""Draws the program's 16-colour pictures into resources/pictures/:
side.bmp (the wizard's 119 x 246 side picture), the 32 x 32 page icons
ready.ico, folder.ico and group.ico, and setup.ico, the program's own icon.
Run it after changing a drawing; the results are committed."""
import os
import struct
import sys

# The 16 colours of the standard VGA palette, as (r, g, b).
PAL = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER, GREY, RED, LIME, YELLOW, BLUE, \
    FUCHSIA, AQUA, WHITE = range(16)
NONE = -1  # transparent (icons only)


class Canvas:
    def __init__(self, w, h, fill):
        self.w, self.h = w, h
        self.px = [[fill] * w for _ in range(h)]

    def rect(self, x0, y0, x1, y1, c):
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                self.px[y][x] = c

    def frame(self, x0, y0, x1, y1, c):
        self.rect(x0, y0, x1, y0 + 1, c)
        self.rect(x0, y1 - 1, x1, y1, c)
        self.rect(x0, y0, x0 + 1, y1, c)
        self.rect(x1 - 1, y0, x1, y1, c)


def rows_4bpp(c, transparent_as):
    out = b""
    for y in range(c.h - 1, -1, -1):  # bottom-up
        row = [transparent_as if p == NONE else p for p in c.px[y]]
        if len(row) % 2:
            row.append(0)
        data = bytes((row[i] << 4) | row[i + 1] for i in range(0, len(row), 2))
        out += data + b"\0" * ((-len(data)) % 4)
    return out


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PAL)


def write_bmp(path, c):
    bits = rows_4bpp(c, 0)
    info = struct.pack("<IiiHHIIiiII", 40, c.w, c.h, 1, 4, 0, len(bits), 0, 0, 16, 16)
    off = 14 + len(info) + 64
    head = struct.pack("<2sIHHI", b"BM", off + len(bits), 0, 0, off)
    with open(path, "wb") as f:
        f.write(head + info + palette_bytes() + bits)


def write_ico(path, c):
    xor = rows_4bpp(c, 0)
    mask = b""
    for y in range(c.h - 1, -1, -1):
        bits = 0
        row = b""
        for x in range(c.w):
            bits = (bits << 1) | (1 if c.px[y][x] == NONE else 0)
            if x % 8 == 7:
                row += bytes([bits])
                bits = 0
        mask += row + b"\0" * ((-len(row)) % 4)
    info = struct.pack("<IiiHHIIiiII", 40, c.w, c.h * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image = info + palette_bytes() + xor + mask
    head = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", c.w, c.h, 16, 0, 1, 4, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(head + entry + image)


def side_picture():
    c = Canvas(119, 246, NAVY)
    # A dithered fall from blue at the top to navy and black at the foot.
    for y in range(246):
        for x in range(119):
            t = y / 245.0
            d = ((x % 2) * 2 + (y % 2)) / 4.0
            c.px[y][x] = BLUE if t < 0.35 + d * 0.3 else (NAVY if t < 0.75 + d * 0.2 else BLACK)
    # A stack of three disks.
    for i, top in enumerate((70, 100, 130)):
        x0 = 24 + i * 6
        c.rect(x0, top, x0 + 64, top + 64, GREY)
        c.frame(x0, top, x0 + 64, top + 64, BLACK)
        c.rect(x0 + 14, top + 2, x0 + 50, top + 22, SILVER)
        c.rect(x0 + 38, top + 5, x0 + 45, top + 19, GREY)
        c.rect(x0 + 8, top + 32, x0 + 56, top + 62, WHITE)
        c.frame(x0 + 8, top + 32, x0 + 56, top + 62, BLACK)
        for line in range(38, 60, 6):
            c.rect(x0 + 12, top + line, x0 + 52, top + line + 1, TEAL)
    # A box that the disks go into.
    c.rect(14, 196, 106, 232, OLIVE)
    c.rect(14, 196, 106, 204, YELLOW)
    c.frame(14, 196, 106, 232, BLACK)
    return c


def icon_base():
    return Canvas(32, 32, NONE)


def ready_icon():  # a disk with an arrow into a computer
    c = icon_base()
    c.rect(2, 4, 20, 22, NAVY)
    c.rect(6, 4, 16, 10, SILVER)
    c.rect(5, 13, 17, 22, WHITE)
    c.frame(2, 4, 20, 22, BLACK)
    c.rect(14, 22, 30, 28, SILVER)
    c.frame(14, 22, 30, 28, BLACK)
    c.rect(18, 14, 22, 22, GREEN)
    c.rect(16, 18, 24, 20, GREEN)
    return c


def folder_icon():
    c = icon_base()
    c.rect(2, 8, 14, 12, OLIVE)
    c.rect(2, 11, 30, 27, YELLOW)
    c.frame(2, 11, 30, 27, BLACK)
    c.rect(3, 12, 29, 14, WHITE)
    return c


def group_icon():
    c = icon_base()
    c.rect(2, 4, 30, 28, WHITE)
    c.rect(2, 4, 30, 9, NAVY)
    c.frame(2, 4, 30, 28, BLACK)
    for x0 in (6, 18):
        for y0 in (12, 20):
            c.rect(x0, y0, x0 + 7, y0 + 5, TEAL)
            c.frame(x0, y0, x0 + 7, y0 + 5, BLACK)
    return c


def setup_icon():
    c = icon_base()
    c.rect(4, 2, 28, 20, SILVER)
    c.frame(4, 2, 28, 20, BLACK)
    c.rect(7, 5, 25, 17, TEAL)
    c.rect(10, 20, 22, 23, GREY)
    c.rect(3, 23, 29, 30, SILVER)
    c.frame(3, 23, 29, 30, BLACK)
    c.rect(17, 25, 26, 27, BLACK)
    return c


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "pictures")
    if len(sys.argv) > 1:
        root = sys.argv[1]
    os.makedirs(root, exist_ok=True)
    write_bmp(os.path.join(root, "side.bmp"), side_picture())
    write_ico(os.path.join(root, "ready.ico"), ready_icon())
    write_ico(os.path.join(root, "folder.ico"), folder_icon())
    write_ico(os.path.join(root, "group.ico"), group_icon())
    write_ico(os.path.join(root, "setup.ico"), setup_icon())


if __name__ == "__main__":
    main()
