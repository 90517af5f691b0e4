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
# test is skipped without them. The screenshots are read by screen.py.
set -u
source "$(dirname "$0")/system_common.bash"
xvfb_setup "$1" desktop
start_kestrane

if ! until_ok 50 xdotool search --onlyvisible --name "^kestrane"; then
    fail "no window: $(cat "$work/err.txt")"
    finish
fi

# The boot screen first, then the desktop.
seen_boot=0 seen_desktop=0 last=""
for _ in $(seq 80); do
    shot boot
    last="$(screen desktop "$work/boot.xwd")"
    case "$last" in
        "boot screen"*) [ "$seen_desktop" -eq 0 ] && seen_boot=1 ;;
        desktop) seen_desktop=1; break ;;
    esac
    sleep 0.15
done
if [ "$seen_boot" -eq 1 ]; then pass "the boot screen shows before the desktop"
else fail "no boot screen before the desktop"; fi
if [ "$seen_desktop" -eq 1 ]; then pass "the desktop is on screen"
else fail "no desktop: $last"; fi
sleep 0.5
shot desktop
keep desktop desktop.png
[ -s "$artifacts/desktop.png" ] && pass "screenshot kept as $artifacts/desktop.png"

# expect NAME POINTS: retries for a few seconds until each line
# "x y rrggbb name" of POINTS matches the screen
matches() { shot now && screen points "$work/now.xwd" "$1"; }
expect() {
    if until_ok 30 matches "$2"; then pass "$1"; else fail "$1: $got"; fi
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

end_checks ""
finish
