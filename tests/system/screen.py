#!/usr/bin/env python3
"""What the tests under a virtual X server see on the screen.

    screen.py COMMAND SHOT.xwd ...

Reads xwd screenshots of the 960x540 screen, on which the 480x270 display
shows at twice its size; coordinates are those of the display. Prints what
it found; exits 1 when a check fails.

    desktop SHOT               the desktop is on screen (else: boot screen
                               or black, and the first point that differs)
    points SHOT POINTS         each line "x y rrggbb name" of POINTS matches
    png SHOT OUT.png           the screenshot as a PNG
    focused SHOT               "x y w h" of the focused window's content
    output BEFORE AFTER RECT COMMAND names|lines ITEMS...
                               what a command typed in the terminal printed
    drawing FIRST SECOND RECT  the window at RECT ("x y w h") draws
"""
import struct, sys, zlib

W, H = 480, 270

# the desktop's colours (system/wm/theme.lua) at a few places
DESKTOP = [(200, 5, 0x1b1e2b, "top-bar"), (7, 5, 0x5fd3a0, "menu-mark"),
           (60, 50, 0x243049, "upper-band"), (60, 140, 0x2c3b5a, "middle-band"),
           (100, 230, 0x35476b, "lower-band")]
TITLE_ON, BORDER, TITLE_H = 0x3b6fd8, 0x10121a, 11
# the terminal's text cells (system/apps/terminal.lua)
PAD, CW, LH = 2, 5, 9


class Shot:
    def __init__(self, path):
        data = open(path, "rb").read()
        h = struct.unpack(">25I", data[:100])
        self.w, self.h, order, bpp, self.bpl = h[4], h[5], h[7], h[11], h[12]
        if bpp != 32 or (self.w, self.h) != (2 * W, 2 * H):
            sys.exit("unexpected screenshot: %dx%d, %d bits" % (self.w, self.h, bpp))
        self.data, self.start = data, h[0] + h[19] * 12
        self.offs = []
        for m in h[14:17]:
            byte = ((m & -m).bit_length() - 1) // 8
            self.offs.append(byte if order == 0 else 3 - byte)
        self.px = []
        for y in range(H):
            row = self.row(2 * y + 1)
            r, g, b = (row[4 + o::8][:W] for o in self.offs)
            self.px.extend((r[i] << 16) | (g[i] << 8) | b[i] for i in range(W))

    def row(self, y):
        a = self.start + y * self.bpl
        return self.data[a:a + self.bpl]

    def at(self, x, y):
        return self.px[y * W + x]

    def png(self, path):
        rows = []
        for y in range(self.h):
            row = self.row(y)
            rgb = bytearray(3 * self.w)
            for k, o in enumerate(self.offs):
                rgb[k::3] = row[o:4 * self.w:4]
            rows.append(b"\0" + bytes(rgb))

        def chunk(kind, body):
            c = kind + body
            return struct.pack(">I", len(body)) + c + struct.pack(">I", zlib.crc32(c))

        out = b"\x89PNG\r\n\x1a\n"
        out += chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, 2, 0, 0, 0))
        out += chunk(b"IDAT", zlib.compress(b"".join(rows), 6)) + chunk(b"IEND", b"")
        open(path, "wb").write(out)


def fail(text):
    print(text)
    sys.exit(1)


# The first of the points (x, y, rgb, name) that shows another colour, as
# a message; None when all match.
def differs(s, wanted):
    for x, y, rgb, name in wanted:
        if s.at(x, y) != rgb:
            return "%s at (%d, %d) is %06x, expected %06x" % (name, x, y, s.at(x, y), rgb)
    return None


# The desktop, or else whether something is drawn (the boot screen) or the
# screen is black: more than 100 lit pixels of every other row and column.
def desktop(s):
    bad = differs(s, DESKTOP)
    if bad:
        drawn = sum(1 for y in range(0, H, 2) for x in range(0, W, 2) if s.at(x, y) != 0)
        fail(("boot screen: " if drawn > 100 else "black: ") + bad)
    print("desktop")


def points(s, text):
    listed = []
    for line in text.strip().splitlines():
        x, y, rgb, name = line.split()
        listed.append((int(x), int(y), int(rgb, 16), name))
    bad = differs(s, listed)
    if bad:
        fail(bad)
    print("ok")


# The focused window: the top row of its title bar is the only long run of
# the focus colour below the top bar that starts at a border; the left
# border gives its height.
def focused(s):
    for y in range(TITLE_H, H - TITLE_H):
        x = 0
        while x < W:
            if s.at(x, y) != TITLE_ON:
                x += 1
                continue
            e = x
            while e < W and s.at(e, y) == TITLE_ON:
                e += 1
            if e - x >= 30 and s.at(x - 1, y) == BORDER:
                wy = y + TITLE_H
                b = wy
                while b + 1 < H and s.at(x - 1, b + 1) == BORDER:
                    b += 1
                return x, wy, e - x, b - wy
            x = e
    fail("no focused window")


def background(s, x, y, w, h):
    count = {}
    for yy in range(y, y + h, 3):
        for xx in range(x, x + w, 3):
            v = s.at(xx, yy)
            count[v] = count.get(v, 0) + 1
    return max(count, key=count.get)


# The terminal's rows of character cells: for each cell the set of its
# colours other than the background (empty: a blank cell). Glyphs start one
# pixel into their cell and the widest (m, w) reach the first column of the
# next cell, so that column is not looked at.
def cells(s, x, y, w, h):
    bg = background(s, x, y, w, h)
    cols, rows = (w - 2 * PAD) // CW, (h - 2 * PAD) // LH
    grid = []
    for r in range(rows):
        line = []
        for c in range(cols):
            x0, y0 = x + PAD + c * CW, y + PAD + r * LH
            line.append({s.at(xx, yy) for yy in range(y0, y0 + LH)
                         for xx in range(x0 + 1, x0 + CW)} - {bg})
        grid.append(line)
    return grid


def shape(text, cols):
    return "".join(" " if ch == " " else "#" for ch in text.ljust(cols)[:cols])


def lit(line):
    return "".join("#" if c else " " for c in line)


# A command typed at the prompt and its output: in BEFORE the prompt is the
# last row with text; in AFTER that row holds the prompt and the command,
# the output rows follow in the colour of the typed command, and a new
# prompt comes after them. "names" expects the words of the output to have
# the lengths of the given names (in any layout); "lines" expects one row
# shaped like each given line.
def output(before, after, rect, command, mode, items):
    gb, ga = cells(before, *rect), cells(after, *rect)
    cols = len(gb[0])
    rows_used = [r for r, line in enumerate(gb) if any(line)]
    if not rows_used:
        fail("the terminal shows nothing before the command")
    p = rows_used[-1]
    prompt_colours = gb[p][0]
    if len(prompt_colours) != 1:
        fail("no prompt at the start of row %d" % p)
    plen = max(c for c, cell in enumerate(gb[p]) if cell == prompt_colours) + 2
    echo = ga[p]
    if any(echo[c] != gb[p][c] for c in range(plen - 1)):
        fail("the prompt row changed: %r" % lit(echo))
    want = lit(gb[p])[:plen] + shape(command, cols - plen)
    if lit(echo) != want[:cols]:
        fail("row %d is %r, expected the prompt and %r" % (p, lit(echo), command))
    text_colours = set().union(*echo[plen:plen + len(command)])
    q = p + 1
    out = []
    while q < len(ga) and ga[q][0] != prompt_colours:
        out.append(ga[q])
        q += 1
    if q == len(ga):
        fail("no new prompt after the output")
    for i, line in enumerate(out):
        other = set().union(*line) - text_colours
        if other:
            fail("output row %d has colours %s, not those of the typed text (%s): %r"
                 % (i + 1, " ".join("%06x" % v for v in other),
                    " ".join("%06x" % v for v in text_colours), lit(line)))
    if mode == "names":
        words = sorted(len(w) for line in out for w in lit(line).split())
        want = sorted(len(n) for n in items)
        if words != want:
            fail("%d output rows with words of lengths %s, expected %s"
                 % (len(out), words, want))
    else:
        if len(out) != len(items):
            fail("%d output rows, expected %d: %r" % (len(out), len(items),
                                                      [lit(l).rstrip() for l in out]))
        for i, (line, text) in enumerate(zip(out, items)):
            if lit(line) != shape(text, cols):
                fail("output row %d is %r, expected the shape of %r"
                     % (i + 1, lit(line).rstrip(), text))
    print("%d output rows" % len(out))


# A window that draws: its content changes between two screenshots and
# shows several colours.
def drawing(first, second, rect):
    x, y, w, h = rect
    changed, colours = 0, set()
    for yy in range(y, y + h):
        for xx in range(x, x + w):
            a, b = first.at(xx, yy), second.at(xx, yy)
            changed += a != b
            colours.add(b)
    if changed < 100:
        fail("only %d pixels changed in the window" % changed)
    if len(colours) < 6:
        fail("only %d colours in the window" % len(colours))
    print("%d pixels changed, %d colours" % (changed, len(colours)))


def main(cmd, args):
    if cmd == "desktop":
        desktop(Shot(args[0]))
    elif cmd == "points":
        points(Shot(args[0]), args[1])
    elif cmd == "png":
        Shot(args[0]).png(args[1])
    elif cmd == "focused":
        print("%d %d %d %d" % focused(Shot(args[0])))
    elif cmd == "output":
        rect = tuple(int(v) for v in args[2].split())
        output(Shot(args[0]), Shot(args[1]), rect, args[3], args[4], args[5:])
    elif cmd == "drawing":
        drawing(Shot(args[0]), Shot(args[1]), tuple(int(v) for v in args[2].split()))
    else:
        sys.exit("unknown command " + cmd)


main(sys.argv[1], sys.argv[2:])
