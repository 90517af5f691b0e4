#!/usr/bin/env python3
"""Checks a screenshot of the kestrane window (an xwd dump of the X root).

The test system draws four quadrants of known colours over the whole
picture. Given where the window is and where the picture should be inside it
(the destination rectangle), this checks that the picture fills exactly that
rectangle, that the window around it is black, and that the quadrants meet
in its middle.

    window_check.py SHOT.xwd WX WY WW WH DX DY DW DH TL TR BL BR EXACT [PNG]

Colours are hex RGB. EXACT 1 means integer scaling with nearest filtering:
edges must be exact; 0 allows a pixel or two of filtering at the edges.
With PNG, the window's part of the screenshot is also written there.
Prints "ok" or the first problem found; the exit status says the same.
"""
import struct
import sys
import zlib


def read_xwd(path):
    data = open(path, "rb").read()
    h = struct.unpack(">25I", data[:100])
    header_size, width, height = h[0], h[4], h[5]
    byte_order, bits_per_pixel, bytes_per_line = h[7], h[11], h[12]
    masks = h[14:17]
    ncolors = h[19]
    if bits_per_pixel not in (24, 32):
        raise ValueError("unsupported xwd: %d bits per pixel" % bits_per_pixel)
    size = bits_per_pixel // 8
    start = header_size + ncolors * 12
    order = "little" if byte_order == 0 else "big"
    shifts = [(m & -m).bit_length() - 1 for m in masks]

    def pixel(x, y):
        off = start + y * bytes_per_line + x * size
        v = int.from_bytes(data[off:off + size], order)
        r, g, b = ((v & m) >> s for m, s in zip(masks, shifts))
        return (r << 16) | (g << 8) | b

    return width, height, pixel


def write_png(path, w, h, get):
    rows = b"".join(
        b"\0" + b"".join(get(x, y).to_bytes(3, "big") for x in range(w)) for y in range(h))

    def chunk(kind, body):
        c = kind + body
        return struct.pack(">I", len(body)) + c + struct.pack(">I", zlib.crc32(c))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(rows, 6)) + chunk(b"IEND", b"")
    open(path, "wb").write(png)


def check(args):
    shot = args[0]
    wx, wy, ww, wh, dx, dy, dw, dh = (int(a) for a in args[1:9])
    tl, tr, bl, br = (int(a, 16) for a in args[9:13])
    exact = args[13] == "1"
    sw, sh, root_pixel = read_xwd(shot)

    def px(x, y):  # window coordinates
        return root_pixel(wx + x, wy + y)

    if len(args) > 14:
        write_png(args[14], min(ww, sw - wx), min(wh, sh - wy), px)

    # The visible part of the picture.
    x0, y0 = max(dx, 0), max(dy, 0)
    x1, y1 = min(dx + dw, ww), min(dy + dh, wh)
    if x1 <= x0 or y1 <= y0:
        return "the destination rectangle is empty"
    mx, my = dx + dw // 2, dy + dh // 2     # where the quadrants meet
    slack = 0 if exact else 2

    # Inside each quadrant, away from its edges, the colour is exact.
    quads = [(x0, mx, y0, my, tl, "top left"), (mx, x1, y0, my, tr, "top right"),
             (x0, mx, my, y1, bl, "bottom left"), (mx, x1, my, y1, br, "bottom right")]
    for qx0, qx1, qy0, qy1, colour, name in quads:
        for i in range(1, 6):
            for j in range(1, 6):
                x = qx0 + slack + (qx1 - qx0 - 2 * slack - 1) * i // 6
                y = qy0 + slack + (qy1 - qy0 - 2 * slack - 1) * j // 6
                if px(x, y) != colour:
                    return "%s quadrant: pixel (%d, %d) is %06x, expected %06x" % (
                        name, x, y, px(x, y), colour)

    # The picture spans exactly the rectangle: its edge pixels are picture,
    # the pixels beyond them (inside the window) are black.
    ry, cx = (y0 + my) // 2, (x0 + mx) // 2
    for x, inside in ((x0, True), (x1 - 1, True), (dx - 1, False), (dx + dw, False)):
        if 0 <= x < ww:
            p = px(x, ry)
            if inside and p == 0 or not inside and p != 0:
                return "column %d at row %d is %06x: the picture should %s there" % (
                    x, ry, p, "start" if inside else "not reach")
    for y, inside in ((y0, True), (y1 - 1, True), (dy - 1, False), (dy + dh, False)):
        if 0 <= y < wh:
            p = px(cx, y)
            if inside and p == 0 or not inside and p != 0:
                return "row %d at column %d is %06x: the picture should %s there" % (
                    y, cx, p, "start" if inside else "not reach")

    # The quadrants meet in the middle of the rectangle.
    if px(mx - 1 - slack, ry) != tl or px(mx + slack, ry) != tr:
        return "the left and right halves do not meet at x = %d" % mx
    if px(cx, my - 1 - slack) != tl or px(cx, my + slack) != bl:
        return "the top and bottom halves do not meet at y = %d" % my
    return None


def main():
    if len(sys.argv) < 15:
        print(__doc__)
        return 2
    try:
        problem = check(sys.argv[1:])
    except (ValueError, OSError, struct.error) as e:
        problem = "cannot read the screenshot: %s" % e
    print(problem or "ok")
    return 1 if problem else 0


if __name__ == "__main__":
    sys.exit(main())
