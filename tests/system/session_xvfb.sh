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
# skipped without them). The screenshots are read by screen.py.
set -u
source "$(dirname "$0")/system_common.bash"
xvfb_setup "$1" session

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

start_kestrane

# 1. boot to the desktop
desktop_up() { shot desktop && screen desktop "$work/desktop.xwd"; }
if until_ok 100 desktop_up; then
    pass "1 the boot screen gives way to the desktop"
else
    fail "1 no desktop: $got"
    keep desktop session-1-desktop.png
    finish
fi
sleep 0.3
park_pointer
shot desktop
keep desktop session-1-desktop.png

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
    keep focus session-2-terminal.png
    finish
fi
sleep 0.3
shot terminal
keep terminal session-2-terminal.png

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
keep ls session-3-ls.png

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
    keep cart-b session-4-shapes.png
else
    fail "4 no window for the shapes cartridge: $got"
    keep focus session-4-shapes.png
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
    keep editor session-5-editor.png
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
keep cat session-5-cat.png

# 6. still running, and no errors logged
sleep 0.5
shot end
keep end session-6-end.png
end_checks "6 "

finish
