#!/usr/bin/env bash
# The kestrane executable in a real X server (Xvfb, started here): the window
# opens at the size the settings give, a screenshot shows the system's
# picture scaled into the rectangle the scaling rules give, settings changed
# at run time recreate the window while the system keeps running, and the
# kernel ends cleanly on a termination signal.
#
#   window_xvfb.sh BIN_DIR
#
# Needs Xvfb, xdotool, xwd (x11-apps) and python3; tools/setup.sh installs
# them. When Xvfb is missing and cannot be installed the test is skipped.
set -u
bin="$1"
here="$(cd "$(dirname "$0")" && pwd)"
checker="$here/window_check.py"
work="$(mktemp -d "${TMPDIR:-/tmp}/kestrane-xvfb.XXXXXX")"
source "$here/xvfb_common.bash"
skipped=0
trap cleanup EXIT
# Software rendering without a GL surface: no GL driver is loaded into the
# kernel, which also keeps the sanitizer build's leak check about our code.
export SDL_RENDER_DRIVER=software SDL_FRAMEBUFFER_ACCELERATION=0
# stdbuf preloads a library ahead of the sanitizer runtime of that build.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"

skip() { skipped=$((skipped + 1)); echo "skipped: $*"; }

# ---------------------------------------------------------------- tools

install_x_tools() {
    [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1 || return 1
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        xvfb xauth xdotool x11-apps >/dev/null 2>&1
}

if ! command -v Xvfb >/dev/null 2>&1; then
    install_x_tools
fi
if ! command -v Xvfb >/dev/null 2>&1; then
    echo "skipped: Xvfb is not installed and could not be installed"
    echo "0 passed, 0 failed"
    exit 0
fi
for tool in xdotool xwd python3; do
    command -v "$tool" >/dev/null 2>&1 || install_x_tools
    if ! command -v "$tool" >/dev/null 2>&1; then
        fail "$tool is missing (tools/setup.sh installs it)"
        echo "$passed passed, $failed failed"
        exit 1
    fi
done

# ---------------------------------------------------------------- the system

# Process 3 draws four quadrants and reports its colours; it releases the
# boot screen at once. When step files appear in /host_data it applies the
# matching settings and reports its frame count, which must keep growing.
mkdir -p "$work/sys" "$work/run/data"
cat > "$work/sys/boot.lua" <<'LUA'
local function start(name, code)
	return _create_process_from_code(code, name, "/system/" .. name)
end
start("idle.lua", "while true do flip() end")
start("wm.lua", [[
-- a process starts with a bare draw state: a display bitmap over video
-- memory as the draw target, default colour tables, the four masks, and
-- RGB values for the four colours used
local D = userdata("u8", 480, 270)
_map_ram(D, 0x10000)
_set_draw_target(D)
pal()
poke4(0x5508, 0x3f3f3f3f)
poke4(0x5000 + 4 * 8, 0xff0044)
poke4(0x5000 + 4 * 12, 0x22aaff)
poke4(0x5000 + 4 * 11, 0x33dd55)
poke4(0x5000 + 4 * 10, 0xffee11)
local function rgb(c) return peek4(0x5000 + 4 * c) & 0xffffff end
print(string.format("rgb %06x %06x %06x %06x", rgb(8), rgb(12), rgb(11), rgb(10)))
print("api settings=" .. tostring(_apply_system_settings ~= nil) .. " title=" .. tostring(_set_host_window_title ~= nil))
if _set_host_window_title then _set_host_window_title("kestrane xvfb test") end
_signal(37)
local steps = {
	{fullscreen = false, pixel_perfect = false, stretch = false, pixel_scale = 2},
	{pixel_perfect = true, stretch = true},
}
local n, step = 0, 0
while true do
	n = n + 1
	cls(0)
	rectfill(0, 0, 239, 134, 8)
	rectfill(240, 0, 479, 134, 12)
	rectfill(0, 135, 239, 269, 11)
	rectfill(240, 135, 479, 269, 10)
	if _apply_system_settings and steps[step + 1] and fstat("/host_data/step" .. (step + 1)) then
		step = step + 1
		_apply_system_settings(steps[step])
		print("step " .. step .. " pid " .. pid() .. " frame " .. n)
	end
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
    exit 1
fi
cp "$bin/kestrane" "$work/run/"

# ---------------------------------------------------------------- helpers


stop_x() {
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=""
}

# start_kestrane NAME [ARGS]: runs the system with its own data folder;
# output is line-buffered into $work/NAME.out.
start_kestrane() {
    out="$work/$1.out"
    home="$work/$1.home"
    rm -f "$work"/run/data/step*
    stdbuf -oL "$work/run/kestrane" -home "$home" "${@:2}" >"$out" 2>"$work/$1.err" &
    kestrane_pid=$!
}

# stop_kestrane NAME: a termination signal must end it through the normal
# shutdown, with status 0.
stop_kestrane() {
    kill -TERM "$kestrane_pid" 2>/dev/null
    local status=0
    for _ in $(seq 100); do
        kill -0 "$kestrane_pid" 2>/dev/null || break
        sleep 0.1
    done
    wait "$kestrane_pid"
    status=$?
    kestrane_pid=""
    if [ "$status" -eq 0 ] && grep -q "\[kestrane_exit\] ok" "$home/log.txt"; then
        pass "$1: ends cleanly on SIGTERM"
    else
        fail "$1: exit status $status after SIGTERM"
    fi
}

# wait_for_line TEXT: until the system printed a line starting with TEXT.
wait_for_line() {
    for _ in $(seq 150); do
        grep -q "^$1" "$out" 2>/dev/null && return 0
        kill -0 "$kestrane_pid" 2>/dev/null || break
        sleep 0.1
    done
    return 1
}

# find_window: sets wid, wx, wy, ww, wh of the kernel's visible window.
find_window() {
    wid=""
    for _ in $(seq 100); do
        # xdotool matches names ignoring case: both the default title and
        # the one the test system sets match.
        wid="$(xdotool search --onlyvisible --name "^kestrane" 2>/dev/null | tail -n 1)"
        [ -n "$wid" ] && break
        sleep 0.1
    done
    [ -n "$wid" ] || return 1
    window_geometry "$wid"
}

# expect_size NAME W H: the window has that size (retried while it settles).
expect_size() {
    for _ in $(seq 50); do
        find_window && [ "$ww" = "$2" ] && [ "$wh" = "$3" ] && { pass "$1: window is $2x$3"; return 0; }
        sleep 0.1
    done
    fail "$1: window is ${ww:-?}x${wh:-?}, expected $2x$3"
    return 1
}

# expect_picture NAME DX DY DW DH EXACT: screenshots until the picture is
# where it should be (the boot screen comes first), at most 20 s.
expect_picture() {
    local name="$1" result=""
    for _ in $(seq 40); do
        find_window || break
        xwd -root -silent >"$work/shot.xwd" 2>/dev/null
        result="$(python3 "$checker" "$work/shot.xwd" "$wx" "$wy" "$ww" "$wh" "$2" "$3" "$4" "$5" \
            $colours "$6" "$work/$name.png")"
        [ "$result" = "ok" ] && { pass "$name: picture at ($2, $3) size $4x$5"; return 0; }
        sleep 0.5
    done
    fail "$name: picture at ($2, $3) size $4x$5: ${result:-no window} (see $work/$name.png)"
    return 1
}

# Waits for process 3 to report its colours; sets `colours`.
read_colours() {
    wait_for_line "api " || { fail "$1: the system did not start: $(cat "$work/$1.err")"; return 1; }
    colours="$(sed -n 's/^rgb //p' "$out" | head -n 1)"
}

# The window title, when the system can set it.
expect_title() {
    if ! grep -q "^api .*title=true" "$out"; then
        skip "$1: window title: this kernel has no _set_host_window_title yet"
        return
    fi
    local name
    name="$(xdotool getwindowname "$wid" 2>/dev/null)"
    if [ "$name" = "kestrane xvfb test" ]; then pass "$1: window title"; else fail "$1: window title is '$name'"; fi
}

# ---------------------------------------------------------------- cases

# Full screen (the start settings) with integer scaling: the window takes the
# screen, and the picture the largest whole multiple that fits.
run_full_screen_case() {
    local name="$1" screen="$2" dx="$3" dy="$4" dw="$5" dh="$6"
    start_x "$screen" || return
    start_kestrane "$name"
    if read_colours "$name"; then
        expect_size "$name" "${screen%x*}" "${screen#*x}" &&
            expect_picture "$name" "$dx" "$dy" "$dw" "$dh" 1 && expect_title "$name"
        stop_kestrane "$name"
    fi
    stop_x
}

run_full_screen_case full_1000x600 1000x600 20 30 960 540

# Headless: the system runs, but no window opens.
run_headless_case() {
    start_x 1000x600 || return
    start_kestrane headless -x
    if read_colours headless; then
        sleep 1
        if [ -z "$(xdotool search --name "^kestrane" 2>/dev/null)" ]; then
            pass "headless: no window"
        else
            fail "headless: a window opened"
        fi
        stop_kestrane headless
    fi
    stop_x
}

run_headless_case
run_full_screen_case full_1000x500 1000x500 260 115 480 270

# Settings changed by the system while it runs: windowed with linear scaling,
# the user resizing the window, then integer scaling per axis in a recreated
# window that keeps the user's size. The system keeps running throughout.
run_settings_case() {
    local name=settings
    start_x 1920x1080 || return
    start_kestrane "$name"
    read_colours "$name" || { stop_x; return; }
    if ! grep -q "^api settings=true" "$out"; then
        skip "run-time settings: this kernel has no _apply_system_settings yet"
        stop_kestrane "$name"
        stop_x
        return
    fi
    expect_picture "$name-start" 0 0 1920 1080 1
    touch "$work/run/data/step1"
    wait_for_line "step 1" || fail "$name: step 1 was not applied"
    expect_size "$name-windowed" 960 540 && expect_picture "$name-windowed" 0 0 960 540 0
    xdotool windowsize "$wid" 1000 500
    expect_size "$name-resized" 1000 500 && expect_picture "$name-resized" 56 0 888 500 0
    touch "$work/run/data/step2"
    wait_for_line "step 2" || fail "$name: step 2 was not applied"
    expect_size "$name-recreated" 1000 500 && expect_picture "$name-recreated" 20 115 960 270 1

    local f1 f2 windows boots
    f1="$(sed -n 's/^step 1 pid 3 frame //p' "$out")"
    f2="$(sed -n 's/^step 2 pid 3 frame //p' "$out")"
    windows="$(grep -c "creating SDL window" "$home/log.txt")"
    boots="$(grep -c "booting kestrane" "$home/log.txt")"
    if [ -n "$f1" ] && [ -n "$f2" ] && [ "$f2" -gt "$f1" ] && [ "$windows" -eq 3 ] && [ "$boots" -eq 1 ]; then
        pass "$name: the same process 3 kept counting (frames $f1, $f2) across 3 windows, one boot"
    else
        fail "$name: state across recreation: frames '$f1' '$f2', windows $windows, boots $boots"
    fi
    stop_kestrane "$name"
    stop_x
}

run_settings_case

# Without any display the kernel says so and stops.
no_display_out="$(env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "$work/run/kestrane" -home "$work/nodisplay.home" 2>/dev/null)"
status=$?
if [ "$status" -eq 1 ] && grep -q "could not open the display" <<<"$no_display_out"; then
    pass "no display: message and status 1"
else
    fail "no display: status $status, output: $no_display_out"
fi

if [ "$skipped" -gt 0 ]; then
    echo "$passed passed, $failed failed, $skipped skipped"
else
    echo "$passed passed, $failed failed"
fi
[ "$failed" -eq 0 ]
