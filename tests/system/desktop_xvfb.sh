#!/usr/bin/env bash
# The shipped system in the real program under a virtual X server: the
# kernel's boot screen shows first (not a black window), then the window
# manager's desktop, checked pixel by pixel at a few places against the
# colours the desktop draws there; the menu opens with a click and starts
# the terminal in a focused window, which the title bar drags. A screenshot
# of the desktop is kept as tests/artifacts/desktop.png beside the bin
# folder.
#
#   desktop_xvfb.sh BIN_DIR
#
# Needs Xvfb, xdotool, xwd and python3 (tools/setup.sh installs them); the
# test is skipped without Xvfb.
set -u
bin="$(cd "$1" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
sys="$here/../../system"
host_tests="$here/../host"
artifacts="$bin/../artifacts"
work="$(mktemp -d "${TMPDIR:-/tmp}/kestrane-desktop.XXXXXX")"
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

mkdir -p "$work/run" "$artifacts"
if ! "$bin/mkrom" "$sys" "$work/run/sysrom.dat" >/dev/null; then
    fail "mkrom"
    echo "$passed passed, $failed failed"
    exit 1
fi
cp "$bin/kestrane" "$work/run/"

# Colours of the desktop (system/wm/theme.lua) at picture coordinates of the
# 480x270 display: "x y rrggbb name".
desktop_points="
200 5 1b1e2b top-bar
7 5 5fd3a0 menu-mark
60 50 243049 upper-band
60 140 2c3b5a middle-band
100 230 35476b lower-band
"

# classify SHOT: prints "desktop", "boot" (something drawn, not the
# desktop), "black", or "other" and the first point that differs. The
# screen is 960x540 and the display fills it at twice its size.
cat > "$work/classify.py" <<'EOF'
import sys
sys.path.insert(0, sys.argv[1])
from window_check import read_xwd, write_png
shot, points = sys.argv[2], sys.argv[3]
w, h, px = read_xwd(shot)
if len(sys.argv) > 4:
    write_png(sys.argv[4], 960, 540, px)
def at(x, y):
    return px(2 * x + 1, 2 * y + 1)
bad = None
for line in points.strip().splitlines():
    x, y, rgb, name = line.split()
    got = at(int(x), int(y))
    if got != int(rgb, 16):
        bad = "%s at (%s, %s) is %06x, expected %s" % (name, x, y, got, rgb)
        break
if bad is None:
    print("desktop")
    sys.exit(0)
lit = sum(1 for y in range(0, 540, 4) for x in range(0, 960, 4) if px(x, y) != 0)
print(("boot" if lit > 100 else "black") + " " + bad)
EOF
classify() {
    xwd -root -silent >"$work/shot.xwd" 2>/dev/null
    python3 "$work/classify.py" "$host_tests" "$work/shot.xwd" "$1" ${2:+"$2"}
}

start_x 960x540 || { echo "$passed passed, $failed failed"; exit 1; }
"$work/run/kestrane" -home "$work/home" >"$work/out.txt" 2>"$work/err.txt" &
kestrane_pid=$!

wid=""
for _ in $(seq 100); do
    wid="$(xdotool search --onlyvisible --name "^kestrane" 2>/dev/null | tail -n 1)"
    [ -n "$wid" ] && break
    sleep 0.1
done
if [ -z "$wid" ]; then
    fail "no window: $(cat "$work/err.txt")"
    echo "$passed passed, $failed failed"
    exit 1
fi

# The boot screen first, then the desktop.
seen_boot=0 seen_desktop=0 last=""
for _ in $(seq 80); do
    last="$(classify "$desktop_points")"
    case "$last" in
        boot*) [ "$seen_desktop" -eq 0 ] && seen_boot=1 ;;
        desktop) seen_desktop=1; break ;;
    esac
    sleep 0.15
done
if [ "$seen_boot" -eq 1 ]; then pass "the boot screen shows before the desktop"
else fail "no boot screen before the desktop"; fi
if [ "$seen_desktop" -eq 1 ]; then pass "the desktop is on screen"
else fail "no desktop: $last"; fi
sleep 0.5
classify "$desktop_points" "$artifacts/desktop.png" >/dev/null
[ -s "$artifacts/desktop.png" ] && pass "screenshot kept as $artifacts/desktop.png"

# click X Y (display coordinates): press and release over a few frames
click() {
    xdotool mousemove $((2 * $1 + 1)) $((2 * $2 + 1))
    sleep 0.1
    xdotool mousedown 1
    sleep 0.15
    xdotool mouseup 1
    sleep 0.2
}
# expect NAME POINTS: retries for a few seconds until the points match
expect() {
    local r=""
    for _ in $(seq 30); do
        r="$(classify "$2")"
        [ "$r" = "desktop" ] && { pass "$1"; return 0; }
        sleep 0.2
    done
    fail "$1: $r"
    return 1
}

# The menu opens under "Menu"; its first item starts the terminal, whose
# window is the first one placed (content at 24, 32) and has the focus:
# its title bar is drawn in the focus colour.
click 20 5
expect "the menu opens" "
37 9 3b6fd8 menu-title-highlight
30 30 f2f3f7 menu-background
"
click 30 18
expect "the terminal window opens with the focus" "
25 22 3b6fd8 focused-title-bar
23 40 10121a window-border
"
# Dragging the title bar by (100, 60) moves the window.
xdotool mousemove 61 45
sleep 0.1
xdotool mousedown 1
sleep 0.1
for step in 1 2 3 4 5; do
    xdotool mousemove $((61 + 40 * step)) $((45 + 24 * step))
    sleep 0.05
done
sleep 0.1
xdotool mouseup 1
sleep 0.2
expect "the title bar drags the window" "
125 82 3b6fd8 moved-title-bar
25 22 243049 desktop-where-it-was
"

if kill -0 "$kestrane_pid" 2>/dev/null; then pass "the system is still running"
else fail "the system ended: $(tail -5 "$work/out.txt")"; fi
kill -TERM "$kestrane_pid" 2>/dev/null
wait "$kestrane_pid" 2>/dev/null
kestrane_pid=""
bad="$(grep -E "RUNTIME|SYSTEM ERROR" "$work/home/log.txt")"
if [ -z "$bad" ]; then pass "no errors in log.txt"; else fail "log.txt: $bad"; fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
