#!/usr/bin/env python3
"""Turns the program's text pixel maps into the .ico and .bmp files that windres embeds.

A pixel map is a plain text file:

    # comments and blank lines are ignored
    kind icon            icon: 32x32, 8 bpp with a 1-bit mask ("." is transparent)
                         glyph: a 16x16 button picture, written as a 32x16 4-bpp bitmap
                                holding the normal image and, to its right, the disabled one
    colour K 0 0 0       one palette colour per character
    pixels
    KKKK....             one line per row, top row first, one character per pixel

A glyph's colours must be among the sixteen colours of the standard 16-colour palette; its
transparent colour is that of its bottom-left pixel. The disabled image is derived here, the way
picture buttons derive it: every pixel that is neither transparent nor light becomes grey, with a
white copy one pixel down and to the right underneath, so the drawing reads as embossed.

Usage: pixmap2res.py INPUT.txt OUTPUT.(ico|bmp)
"""

import struct
import sys

# The standard 16-colour palette, in its usual order.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
GREY = (128, 128, 128)
WHITE = (255, 255, 255)


class PixmapError(Exception):
    pass


def parse(path):
    kind, colours, rows, in_pixels = None, {}, [], False
    with open(path, encoding="ascii") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if in_pixels:
                if line.strip():
                    rows.append(line)
                continue
            words = line.split()
            if not words or words[0].startswith("#"):
                continue
            if words[0] == "kind" and len(words) == 2:
                kind = words[1]
            elif words[0] == "colour" and len(words) == 5 and len(words[1]) == 1:
                colours[words[1]] = tuple(int(w) for w in words[2:])
            elif words[0] == "pixels":
                in_pixels = True
            else:
                raise PixmapError(f"{path}:{number}: cannot read {line!r}")
    sizes = {"icon": (32, 32), "glyph": (16, 16)}
    if kind not in sizes:
        raise PixmapError(f"{path}: kind must be icon or glyph")
    width, height = sizes[kind]
    if len(rows) != height or any(len(r) != width for r in rows):
        raise PixmapError(f"{path}: expected {height} rows of {width} pixels")
    for y, row in enumerate(rows):
        for x, ch in enumerate(row):
            if ch not in colours and not (kind == "icon" and ch == "."):
                raise PixmapError(f"{path}: pixel {x},{y}: no colour for {ch!r}")
    return kind, colours, rows


def rgb_rows(colours, rows):
    return [[None if ch == "." else colours[ch] for ch in row] for row in rows]


def disabled(image, transparent):
    def light(c):
        return c is None or c == transparent or sum(c) >= 3 * 192

    h, w = len(image), len(image[0])
    out = [[transparent] * w for _ in range(h)]
    for y in range(h):
        for x in range(w):
            if not light(image[y][x]) and x + 1 < w and y + 1 < h:
                out[y + 1][x + 1] = WHITE
    for y in range(h):
        for x in range(w):
            if not light(image[y][x]):
                out[y][x] = GREY
    return out


def bitmap_info(width, height, bpp, palette, image_size):
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, 0, image_size, 0, 0,
                         len(palette), 0)
    return header + b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)


def glyph_bmp(colours, rows):
    normal = rgb_rows(colours, rows)
    for y, row in enumerate(normal):
        for x, c in enumerate(row):
            if c not in VGA16:
                raise PixmapError(f"pixel {x},{y}: {c} is not a colour of the 16-colour palette")
    transparent = normal[-1][0]
    both = [a + b for a, b in zip(normal, disabled(normal, transparent))]
    width, height = 32, 16
    stride = ((width * 4 + 31) // 32) * 4
    bits = bytearray()
    for row in reversed(both):  # bottom-up
        line = bytearray(stride)
        for x, c in enumerate(row):
            index = VGA16.index(c)
            line[x // 2] |= index << 4 if x % 2 == 0 else index
        bits += line
    info = bitmap_info(width, height, 4, VGA16, len(bits))
    offset = 14 + len(info)
    return struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset) + info + bits


def icon_ico(colours, rows):
    image = rgb_rows(colours, rows)
    palette = []
    for c in list(VGA16) + sorted(set(colours.values()) - set(VGA16)):
        if c not in palette:
            palette.append(c)
    if len(palette) > 256:
        raise PixmapError("more than 256 colours")
    palette += [(0, 0, 0)] * (256 - len(palette))
    xor, mask = bytearray(), bytearray()
    for row in reversed(image):  # bottom-up
        xor += bytes(0 if c is None else palette.index(c) for c in row)
        bits = 0
        for x, c in enumerate(row):
            if c is None:
                bits |= 1 << (31 - x)
        mask += struct.pack(">I", bits)
    # The icon's header counts the colour and the mask bitmaps together: height 64.
    info = bitmap_info(32, 64, 8, palette, len(xor) + len(mask))
    data = info + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", 32, 32, 0, 0, 1, 8, len(data), 6 + 16)
    return directory + entry + data


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        kind, colours, rows = parse(argv[1])
        data = icon_ico(colours, rows) if kind == "icon" else glyph_bmp(colours, rows)
    except PixmapError as e:
        print(f"pixmap2res: {e}", file=sys.stderr)
        return 1
    with open(argv[2], "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
