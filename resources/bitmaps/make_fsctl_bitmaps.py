#!/usr/bin/env python3
"""Draws the sixteen drive and folder pictures of the file system controls
as 16-colour BMP files (16 pixels wide). The bottom-left pixel of each is the
transparent colour ('.', dark cyan, used nowhere else). Run from this
directory; the BMP files are committed and compiled into setup.exe."""
import struct

# The standard 16-colour palette; one letter per colour.
PALETTE = [
    ('k', (0, 0, 0)), ('r', (128, 0, 0)), ('G', (0, 128, 0)), ('o', (128, 128, 0)),
    ('n', (0, 0, 128)), ('p', (128, 0, 128)), ('.', (0, 128, 128)), ('g', (192, 192, 192)),
    ('d', (128, 128, 128)), ('R', (255, 0, 0)), ('L', (0, 255, 0)), ('y', (255, 255, 0)),
    ('b', (0, 0, 255)), ('m', (255, 0, 255)), ('c', (0, 255, 255)), ('w', (255, 255, 255)),
]
INDEX = {ch: i for i, (ch, _) in enumerate(PALETTE)}


def write_bmp(name, rows, width=16):
    if width == 16:
        assert 11 <= len(rows) <= 15, name
    for r in rows:
        assert len(r) == width, (name, r)
    assert rows[-1][0] == '.', name
    height = len(rows)
    pixels = b''
    for r in reversed(rows):  # bottom-up, rows padded to 4 bytes
        row = b''
        for i in range(0, width, 2):
            row += bytes([(INDEX[r[i]] << 4) | INDEX[r[i + 1]]])
        pixels += row + b'\0' * (-len(row) % 4)
    palette = b''.join(bytes([b, g, r, 0]) for _, (r, g, b) in PALETTE)
    offset = 14 + 40 + len(palette)
    header = b'BM' + struct.pack('<IHHI', offset + len(pixels), 0, 0, offset)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 4, 0, len(pixels), 0, 0, 16, 0)
    with open(name.lower() + '.bmp', 'wb') as f:
        f.write(header + info + palette + pixels)


def shade95(rows):
    """The Windows 95-style picture: black outlines become dark grey on
    the lower and right edges, giving the flatter 3-D look."""
    out = []
    for y, r in enumerate(rows):
        chars = list(r)
        for x, c in enumerate(chars):
            if c == 'k' and (y == len(rows) - 2 or x == 15 or (x + 1 < 16 and chars[x + 1] == '.' and x > 8)):
                chars[x] = 'd'
        out.append(''.join(chars))
    return out


FLOPPY = [
    '................',
    '................',
    '.kkkkkkkkkkkkkk.',
    'kwwwwwwwwwwwwwdk',
    'kwggggggggggggdk',
    'kwgkkkkkkkkkggdk',
    'kwggggggggggggdk',
    'kwgggggggggLggdk',
    'kddddddddddddddk',
    '.kkkkkkkkkkkkkk.',
    '................',
]
HARD = [
    '................',
    '................',
    '................',
    '.kkkkkkkkkkkkkk.',
    'kwwwwwwwwwwwwwdk',
    'kwggggggggggggdk',
    'kwgggggggggLggdk',
    'kddddddddddddddk',
    '.kkkkkkkkkkkkkk.',
    '................',
    '................',
]
NETWORK = [
    '................',
    '.kkkkkkkkkkkkkk.',
    'kwwwwwwwwwwwwwdk',
    'kwggggggggggggdk',
    'kwgggggggggLggdk',
    'kddddddddddddddk',
    '.kkkkkkkkkkkkkk.',
    '.......kk.......',
    '.......kk.......',
    'kkkkkkkkkkkkkkkk',
    '................',
]
CDROM = [
    '................',
    '.kkkkkkkkkkkkkk.',
    'kwwwwwwwwwwwwwdk',
    'kwgggggwwwggggdk',
    'kwggggwcbcwgggdk',
    'kwgggwcbkbcwggdk',
    'kwggggwcbcwgLgdk',
    'kwgggggwwwggggdk',
    'kddddddddddddddk',
    '.kkkkkkkkkkkkkk.',
    '................',
]
RAM = [
    '................',
    '..k.k.k.k.k.k...',
    '.kkkkkkkkkkkkk..',
    '.knnnnnnnnnnnk..',
    '.knwwnnnnnnnnk..',
    '.knnnnnnnnnnnk..',
    '.knnnnnnnnnnnk..',
    '.kkkkkkkkkkkkk..',
    '..k.k.k.k.k.k...',
    '................',
    '................',
]
CLOSED = [
    '................',
    '................',
    '..kkkkk.........',
    '.kwyyyyk........',
    'kkkkkkkkkkkkkk..',
    'kwyyyyyyyyyyyok.',
    'kyyyyyyyyyyyyok.',
    'kyyyyyyyyyyyyok.',
    'kyyyyyyyyyyyyok.',
    'kyyyyyyyyyyyyok.',
    'kooooooooooooooK'.replace('K', 'k'),
    '.kkkkkkkkkkkkkk.',
    '................',
]
OPEN = [
    '................',
    '................',
    '..kkkkk.........',
    '.kwyyyyk........',
    'kwyyyyykkkkkkk..',
    'kyyyyyyyyyyyyk..',
    'kyyykkkkkkkkkkkk',
    'kyykyyyyyyyyyyok',
    'kykyyyyyyyyyyok.',
    'kkyyyyyyyyyyyok.',
    'kkoooooooooooo k'.replace(' ', 'o'),
    '.kkkkkkkkkkkkkk.',
    '................',
]
CURRENT = [
    '................',
    '................',
    '..kkkkk.........',
    '.kwwwwwk........',
    'kwwwwwwkkkkkkk..',
    'kwggggggggggwk..',
    'kwggkkkkkkkkkkkk',
    'kwgkwwwwwwwwwwdk',
    'kwkwwwwwwwwwwdk.',
    'kkwwwwwwwwwwwdk.',
    'kkdddddddddddddk',
    '.kkkkkkkkkkkkkk.',
    '................',
]

for name, art in [('NFC_FLOPPY', FLOPPY), ('NFC_HARD', HARD), ('NFC_NETWORK', NETWORK), ('NFC_CDROM', CDROM),
                  ('NFC_RAM', RAM), ('NFC_CLOSEDFOLDER', CLOSED), ('NFC_OPENFOLDER', OPEN),
                  ('NFC_CURRENTFOLDER', CURRENT)]:
    write_bmp(name, art)
    write_bmp(name + '95', shade95(art))


def new_disk_picture():
    """The next-disk prompt's 48 x 48 picture: a 3.5-inch disk going into a
    drive."""
    grid = [['.'] * 48 for _ in range(48)]

    def box(x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                grid[y][x] = c

    # The drive, below.
    box(2, 32, 45, 45, 'k')
    box(3, 33, 44, 44, 'g')
    box(3, 33, 44, 33, 'w')
    box(3, 33, 3, 44, 'w')
    box(4, 44, 44, 44, 'd')
    box(44, 34, 44, 44, 'd')
    box(10, 37, 37, 38, 'k')
    box(38, 41, 40, 42, 'L')
    # The disk, entering the slot.
    box(12, 2, 35, 37, 'k')
    box(13, 3, 34, 36, 'n')
    box(17, 3, 30, 12, 'g')
    box(25, 4, 28, 11, 'k')
    box(16, 18, 31, 36, 'w')
    for y in (21, 24, 27):
        box(18, y, 29, y, 'd')
    box(13, 3, 14, 4, '.')
    # A red arrow pointing down beside the disk.
    for i in range(6):
        box(35 + i, 16 + i, 45 - i, 16 + i, "R")
    box(39, 6, 41, 16, 'R')
    return [''.join(r) for r in grid]


write_bmp('NEWDISK', new_disk_picture(), 48)
