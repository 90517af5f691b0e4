#!/usr/bin/env bash
# Real input through a real X server (Xvfb, started here): keys, typed text,
# mouse motion, buttons and the wheel sent with xdotool reach process 3 as
# its event messages, mouse positions mapped into the 480x270 picture through
# the window's destination rectangle, and a held key shows in btn and btnp.
#
#   input_xvfb.sh BIN_DIR
#
# Needs Xvfb and xdotool; tools/setup.sh installs them.
set -u
bin="$1"
work="$(mktemp -d "${TMPDIR:-/tmp}/kestrane-input.XXXXXX")"
source "$(cd "$(dirname "$0")" && pwd)/xvfb_common.bash"
trap cleanup EXIT
# Software rendering without a GL surface: no GL driver is loaded into the
# kernel, which also keeps the sanitizer build's leak check about our code.
export SDL_RENDER_DRIVER=software SDL_FRAMEBUFFER_ACCELERATION=0
# stdbuf preloads a library ahead of the sanitizer runtime of that build.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"

finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}

for tool in Xvfb xdotool; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        fail "$tool is missing (tools/setup.sh installs it)"
        finish
    fi
done

# ---------------------------------------------------------------- the system

# Process 3 releases the boot screen and then, every frame, prints each
# message it received (fields sorted, strings quoted) and the state of
# button 4 (Z and C on the keyboard) as btn and btnp see it.
mkdir -p "$work/sys" "$work/run"
cat > "$work/sys/boot.lua" <<'LUA'
local function start(name, code)
	return _create_process_from_code(code, name, "/system/" .. name)
end
start("idle.lua", "while true do flip() end")
start("wm.lua", [[
local D = userdata("u8", 480, 270)
_map_ram(D, 0x10000)
_set_draw_target(D)
pal()
_signal(37)
local function show(v)
	if type(v) == "string" then return string.format("%q", v) end
	return tostring(v)
end
print("ready pid " .. pid())
local n = 0
while true do
	n = n + 1
	local m = _read_message()
	while m do
		local keys = {}
		for k in pairs(m) do keys[#keys + 1] = k end
		-- processes have no table.sort: insertion sort
		for i = 2, #keys do
			local k, j = keys[i], i - 1
			while j >= 1 and keys[j] > k do keys[j + 1] = keys[j]; j = j - 1 end
			keys[j + 1] = k
		end
		local parts = {}
		for _, k in ipairs(keys) do parts[#parts + 1] = k .. "=" .. show(m[k]) end
		print("frame " .. n .. " msg " .. table.concat(parts, " "))
		m = _read_message()
	end
	_update_buttons(true)
	print("frame " .. n .. " btn " .. tostring(btn(4)) .. " btnp " .. tostring(btnp(4)))
	cls(0)
	flip()
end
]])
while true do
	_run_process_slice(2, 0.3)
	_run_process_slice(3, 0.5)
	flip()
end
LUA
if ! "$bin/mkrom" "$work/sys" "$work/run/sysrom.dat" >/dev/null; then
    fail "mkrom"
    finish
fi
cp "$bin/kestrane" "$work/run/"

# ---------------------------------------------------------------- helpers


# wait_for_line PATTERN: until the system printed a line matching PATTERN
# (an extended regular expression), at most 15 s.
wait_for_line() {
    for _ in $(seq 150); do
        grep -Eq -- "$1" "$out" 2>/dev/null && return 0
        kill -0 "$kestrane_pid" 2>/dev/null || break
        sleep 0.1
    done
    return 1
}

# find_window W H: sets wid and the window's place and size wx, wy, ww, wh
# once it has that size.
find_window() {
    for _ in $(seq 100); do
        wid="$(xdotool search --onlyvisible --name "^kestrane" 2>/dev/null | tail -n 1)"
        if [ -n "$wid" ]; then
            window_geometry "$wid"
            [ "$ww" = "$1" ] && [ "$wh" = "$2" ] && return 0
        fi
        sleep 0.1
    done
    return 1
}

# The picture's rectangle in a full-screen window with integer scaling (the
# start settings): the largest whole multiple of 480x270, centred.
dest_rect() {
    local r=$((ww / 480 < wh / 270 ? ww / 480 : wh / 270))
    dw=$((480 * r)) dh=$((270 * r))
    dx=$(((ww - dw) / 2)) dy=$(((wh - dh) / 2))
}

# picture_x WX / picture_y WY: a window position in display pixels, with
# integer division as the kernel maps it.
picture_x() { echo $((($1 - dx) * 480 / dw)); }
picture_y() { echo $((($1 - dy) * 270 / dh)); }

# expect_msg NAME FIELDS: process 3 printed that exact message.
expect_msg() {
    if wait_for_line "^frame [0-9]+ msg $2\$"; then
        pass "$1: $2"
    else
        fail "$1: no message '$2' (messages seen: $(grep -c ' msg ' "$out"))"
    fi
}

# first_frame PATTERN: the frame number of the first line matching PATTERN.
first_frame() { grep -E -m1 -- "$1" "$out" | awk '{print $2}'; }

# ---------------------------------------------------------------- the run

start_x 1000x600 || finish
out="$work/run.out"
stdbuf -oL "$work/run/kestrane" -home "$work/home" >"$out" 2>"$work/run.err" &
kestrane_pid=$!
if ! wait_for_line "^ready pid 3$"; then
    fail "process 3 did not start: $(cat "$work/run.err")"
    finish
fi
if ! find_window 1000 600; then
    fail "no full-screen window of 1000x600"
    finish
fi
dest_rect
xdotool windowfocus --sync "$wid" 2>/dev/null || xdotool windowfocus "$wid"
# keys are ignored for 100 ms after the window becomes active
sleep 0.5

# Z held for a few frames: keydown and keyup by scancode (Z is 29), btn(4)
# non-zero while held and btnp(4) true on the first held frame only (the
# first repeat comes after 30 calls, longer than the hold).
mark=$(wc -l <"$out")
xdotool keydown z
sleep 0.3
xdotool keyup z
expect_msg "key press" 'event="keydown" scancode=29'
expect_msg "key release" 'event="keyup" scancode=29'
sleep 0.2
tail -n +"$((mark + 1))" "$out" >"$work/held.out"
down=$(grep -E -m1 'msg event="keydown" scancode=29$' "$work/held.out" | awk '{print $2}')
up=$(grep -E -m1 'msg event="keyup" scancode=29$' "$work/held.out" | awk '{print $2}')
if [ -n "$down" ] && [ -n "$up" ]; then
    held=$(awk -v a="$down" -v b="$up" '$3 == "btn" && $2 >= a && $2 < b' "$work/held.out")
    strong=$(grep -c '^frame [0-9]* btn 255 ' <<<"$held")
    frames=$(grep -c . <<<"$held")
    if [ "$frames" -gt 1 ] && [ "$strong" -eq "$frames" ]; then
        pass "btn(4) is 255 in all $frames frames Z was held"
    else
        fail "btn(4) while Z was held: $strong of $frames frames at 255"
    fi
    first=$(head -n 1 <<<"$held")
    presses=$(grep -c ' btnp true$' <<<"$held")
    if [ "$first" = "frame $down btn 255 btnp true" ] && [ "$presses" -eq 1 ]; then
        pass "btnp(4) true on the press frame only"
    else
        fail "btnp(4): first held frame '$first', $presses true frames"
    fi
    after=$(awk -v b="$up" '$3 == "btn" && $2 == b' "$work/held.out")
    if [ "$after" = "frame $up btn false btnp false" ]; then
        pass "btn(4) false after the release"
    else
        fail "btn(4) after the release: '$after'"
    fi
else
    fail "btn/btnp: the key messages are missing"
fi

# A key pressed and released with no pause (X is 27): both messages still
# come, the release in a later frame.
xdotool key --delay 0 x
expect_msg "quick key press" 'event="keydown" scancode=27'
expect_msg "quick key release" 'event="keyup" scancode=27'
down=$(first_frame 'msg event="keydown" scancode=27$')
up=$(first_frame 'msg event="keyup" scancode=27$')
if [ -n "$down" ] && [ -n "$up" ] && [ "$up" -gt "$down" ]; then
    pass "quick key: keyup (frame $up) after keydown (frame $down)"
else
    fail "quick key: keydown frame '$down', keyup frame '$up'"
fi

# Typed text arrives as text, one message per character; quote and
# backslash survive the trip through the message.
xdotool type --delay 50 'hi"\'
expect_msg "text" 'event="textinput" text="h"'
expect_msg "text" 'event="textinput" text="i"'
expect_msg "text quote" 'event="textinput" text="\\""'
expect_msg "text backslash" 'event="textinput" text="\\\\"'

# Mouse motion to known window places, mapped through the destination
# rectangle ($dx, $dy, $dw x $dh) into display pixels.
for place in "27 37" "733 451"; do
    set -- $place
    xdotool mousemove "$((wx + $1))" "$((wy + $2))"
    expect_msg "mouse at ($1, $2)" "event=\"mouse\" mb=0 mx=$(picture_x "$1") my=$(picture_y "$2")"
done
mx=$(picture_x 733) my=$(picture_y 451)

# A left click held over a few frames: button bit 0, then released.
xdotool mousedown 1
sleep 0.2
xdotool mouseup 1
expect_msg "left button down" "event=\"mouse\" mb=1 mx=$mx my=$my"
sleep 0.2
n_up=$(grep -cE "msg event=\"mouse\" mb=0 mx=$mx my=$my\$" "$out")
if [ "$n_up" -ge 2 ]; then
    pass "left button up: mb=0 again at ($mx, $my)"
else
    fail "left button up: no mb=0 message after the click"
fi
# The right button is bit 1.
xdotool mousedown 3
sleep 0.2
xdotool mouseup 3
expect_msg "right button down" "event=\"mouse\" mb=2 mx=$mx my=$my"

# One wheel step each way.
xdotool click 4
expect_msg "wheel up" 'event="mousewheel" wheel_x=0 wheel_y=1'
xdotool click 5
expect_msg "wheel down" 'event="mousewheel" wheel_x=0 wheel_y=-1'

# Outside the picture, full screen keeps the mouse at the picture's edge.
xdotool mousemove "$((wx + 5))" "$((wy + 5))"
expect_msg "mouse outside the picture" 'event="mouse" mb=0 mx=0 my=0'

kill -TERM "$kestrane_pid" 2>/dev/null
wait "$kestrane_pid" 2>/dev/null
kestrane_pid=""
finish
