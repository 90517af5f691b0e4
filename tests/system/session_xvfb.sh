#!/usr/bin/env bash
# A user's session in the real program under a virtual X server, driven
# with the mouse and the keyboard the way a person would: the desktop comes
# up after the boot screen; the menu opens a terminal; "ls /system" lists
# the system folder on screen; a demo cartridge runs in a window of its own
# and animates; the editor opens /hello.txt, takes a few typed lines and
# saves them with ctrl+s into the host folder; "cat /hello.txt" shows them
# in the terminal; the system is still running and logged no errors.
#
# What the terminal shows is read from screenshots by character cells: a
# cell is lit when any of its pixels differs from the background, so the
# lit cells of a row give the shape of its text (letters against spaces)
# and their colours tell output from error lines.
#
#   session_xvfb.sh BIN_DIR
#
# Screenshots of every step are kept as tests/artifacts/session-N-STEP.png
# beside the bin folder. Needs Xvfb, xdotool, xwd and python3 (the test is
# skipped without them).
set -u
bin="$(cd "$1" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
sys="$here/../../system"
host_tests="$here/../host"
artifacts="$bin/../artifacts"
work="$(mktemp -d "${TMPDIR:-/tmp}/kestrane-session.XXXXXX")"
source "$host_tests/xvfb_common.bash"
trap cleanup EXIT
export SDL_RENDER_DRIVER=software SDL_FRAMEBUFFER_ACCELERATION=0

for tool in Xvfb xdotool xwd python3; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "skipped: $tool is not installed (tools/setup.sh installs it)"
        echo "0 passed, 0 failed"
        exit 0
    fi
done

finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}

mkdir -p "$work/run" "$work/home/drive" "$artifacts"
if ! "$bin/mkrom" "$sys" "$work/run/sysrom.dat" >/dev/null; then
    fail "mkrom"
    finish
fi
cp "$bin/kestrane" "$work/run/"

# ---------------------------------------------------------------- screens

# screen.py COMMAND ...: reads xwd screenshots of the 960x540 screen, on
# which the 480x270 display shows at twice its size; coordinates are those
# of the display. Prints what it found; exits 1 when a check fails.
cat > "$work/screen.py" <<'EOF'
import struct, sys, zlib

W, H = 480, 270

# the desktop's colours (system/wm/theme.lua) at a few places
DESKTOP = [(200, 5, 0x1b1e2b), (7, 5, 0x5fd3a0), (60, 50, 0x243049),
           (60, 140, 0x2c3b5a), (100, 230, 0x35476b)]
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


def desktop(s):
    for x, y, rgb in DESKTOP:
        if s.at(x, y) != rgb:
            lit = sum(1 for v in s.px[::37] if v != 0)
            fail("%s: (%d, %d) is %06x, not %06x" % ("boot screen" if lit > 50 else "black",
                                                      x, y, s.at(x, y), rgb))
    print("desktop")


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
EOF

# shot NAME: a screenshot of the screen as $work/NAME.xwd
shot() { xwd -root -silent >"$work/$1.xwd" 2>/dev/null; }
screen() { python3 "$work/screen.py" "$@"; }
# keep NAME ARTIFACT: the screenshot NAME kept as session-ARTIFACT.png
keep() { screen png "$work/$1.xwd" "$artifacts/session-$2.png"; }

# until TRIES COMMAND...: runs the command every 0.2 s until it succeeds;
# its last output is left in $got.
got=""
until_ok() {
    local tries=$1
    shift
    for _ in $(seq "$tries"); do
        got="$("$@")" && return 0
        sleep 0.2
    done
    return 1
}

# click X Y: press and release over a few frames
click() {
    xdotool mousemove $((2 * $1 + 1)) $((2 * $2 + 1))
    sleep 0.1
    xdotool mousedown 1
    sleep 0.15
    xdotool mouseup 1
    sleep 0.2
}
# the pointer out of the way, over the desktop right of every window
park_pointer() { xdotool mousemove 945 300; sleep 0.1; }

# typeline TEXT: types a line and Return. The kernel posts key changes at
# the end of a frame but text as it comes, so the next line waits a little.
typeline() {
    xdotool type --delay 20 "$1"
    sleep 0.1
    xdotool key Return
    sleep 0.2
}

# wait_focus OLD: waits until the focused window is another than OLD
# ("x y w h"); sets $win, or leaves the last finding in $got.
wait_focus() {
    local old="$1" r
    win=""
    for _ in $(seq 30); do
        shot focus
        r="$(screen focused "$work/focus.xwd")" && [ "$r" != "$old" ] && { win="$r"; return 0; }
        got="$r"
        sleep 0.2
    done
    return 1
}

# command_check NAME TEXT MODE ITEMS...: types TEXT + Return in the focused
# terminal and checks what it prints (see output in screen.py).
command_check() {
    local name="$1" text="$2"
    shift 2
    park_pointer
    shot "$name-before"
    typeline "$text"
    check_output() {
        shot "$name"
        screen output "$work/$name-before.xwd" "$work/$name.xwd" "$term" "$text" "$@"
    }
    until_ok 15 check_output "$@"
}

# ---------------------------------------------------------------- session

start_x 960x540 || finish
"$work/run/kestrane" -home "$work/home" >"$work/out.txt" 2>"$work/err.txt" &
kestrane_pid=$!

# 1. boot to the desktop
desktop_up() { shot desktop && screen desktop "$work/desktop.xwd"; }
if until_ok 100 desktop_up; then
    pass "1 the boot screen gives way to the desktop"
else
    fail "1 no desktop: $got"
    keep desktop 1-desktop
    finish
fi
sleep 0.3
park_pointer
shot desktop
keep desktop 1-desktop

# 2. the terminal from the menu (it asks for a 320x180 window)
click 20 5
click 30 18
park_pointer
if wait_focus "none" && [ "${win#* * }" = "320 180" ]; then
    term="$win"
    pass "2 the menu opens a terminal window ($term)"
else
    fail "2 no terminal window: ${win:-$got}"
    shot focus
    keep focus 2-terminal
    finish
fi
sleep 0.3
shot terminal
keep terminal 2-terminal

# 3. ls /system: the names of the system folder, folders with a "/"
names=()
for f in "$sys"/*; do
    if [ -d "$f" ]; then names+=("$(basename "$f")/"); else names+=("$(basename "$f")"); fi
done
if command_check ls "ls /system" names "${names[@]}"; then
    pass "3 ls /system lists the ${#names[@]} names of the system folder ($got)"
else
    fail "3 ls /system: $got"
fi
keep ls 3-ls

# 4. a demo cartridge in a window of its own that animates
typeline "run /system/demos/shapes.k64"
park_pointer
if wait_focus "$term"; then
    cart="$win"
    sleep 0.5
    shot cart-a
    sleep 0.5
    shot cart-b
    if got="$(screen drawing "$work/cart-a.xwd" "$work/cart-b.xwd" "$cart")"; then
        pass "4 the shapes cartridge draws in its window $cart ($got)"
    else
        fail "4 the shapes cartridge does not draw: $got"
    fi
    keep cart-b 4-shapes
else
    fail "4 no window for the shapes cartridge: $got"
    keep focus 4-shapes
fi

# 5. the editor: typed lines saved into the host folder, shown by cat
lines=("hello from the session test" "second line: 1 + 2 = 3" "the end.")
expected="$(printf '%s\n' "${lines[@]}")"
read -r tx ty tw th <<<"$term"
# the terminal's left edge stays uncovered by the windows opened later
click $((tx + 4)) $((ty + th / 2))
typeline "edit /hello.txt"
park_pointer
if wait_focus "$term" && [ "$win" != "${cart:-}" ]; then
    editor="$win"
    sleep 0.3
    # Return between the lines, none after the last
    for i in "${!lines[@]}"; do
        [ "$i" -gt 0 ] && { xdotool key Return; sleep 0.2; }
        xdotool type --delay 20 "${lines[$i]}"
        sleep 0.1
    done
    xdotool key ctrl+s
    saved() { [ -f "$work/home/drive/hello.txt" ] && [ "$(cat "$work/home/drive/hello.txt"; echo .)" = "$expected." ]; }
    if until_ok 15 saved; then
        pass "5 the editor ($editor) saved the typed lines into drive/hello.txt"
    else
        fail "5 drive/hello.txt holds $(od -c "$work/home/drive/hello.txt" 2>&1 | head -5)"
    fi
    shot editor
    keep editor 5-editor
else
    fail "5 no editor window: ${win:-none}"
fi
click $((tx + 4)) $((ty + th / 2))
park_pointer
shot focus
now="$(screen focused "$work/focus.xwd")"
if [ "$now" != "$term" ]; then
    fail "5 a click did not bring the terminal back (focused: $now)"
elif command_check cat "cat /hello.txt" lines "${lines[@]}"; then
    pass "5 cat /hello.txt shows the ${#lines[@]} lines ($got)"
else
    fail "5 cat /hello.txt: $got"
fi
keep cat 5-cat

# 6. still running, and no errors logged
sleep 0.5
if kill -0 "$kestrane_pid" 2>/dev/null && xdotool search --onlyvisible --name "^kestrane" >/dev/null 2>&1; then
    pass "6 the system is still running"
else
    fail "6 the system ended: $(tail -5 "$work/out.txt")"
fi
shot end
keep end 6-end
kill -TERM "$kestrane_pid" 2>/dev/null
wait "$kestrane_pid" 2>/dev/null
kestrane_pid=""
bad="$(grep -hE '\*\* |RUNTIME|[Rr]untime error|[Ss]yntax error|SYSTEM ERROR|^wm: ' "$work/home/log.txt" "$work/out.txt")"
if [ -z "$bad" ]; then pass "6 no errors in log.txt"; else fail "6 errors logged: $bad"; fi

finish
