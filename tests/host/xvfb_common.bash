# Shared by the tests that run the kernel in a window on a virtual X server
# (sourced, not run: the .bash name keeps it out of the test list).
# The sourcing script sets `work` (a temporary folder) and counts failures in
# `failed`.

xvfb_pid=""
kestrane_pid=""
passed=0
failed=0

pass() { passed=$((passed + 1)); echo "ok: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }

# Kills what is still running; keeps the folder when something failed.
cleanup() {
    [ -n "$kestrane_pid" ] && kill "$kestrane_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    if [ "$failed" -eq 0 ]; then rm -rf "$work"; else echo "kept for inspection: $work"; fi
}

# start_x WxH: a fresh X server with one screen of that size.
start_x() {
    local fdfile="$work/display"
    : >"$fdfile"
    # -noreset: the server would reset whenever its last client leaves, and
    # a client connecting meanwhile (the kernel, after a check here) fails
    Xvfb -displayfd 3 -screen 0 "${1}x24" -nolisten tcp -noreset 3>"$fdfile" 2>"$work/xvfb.err" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$fdfile" ] && break
        sleep 0.1
    done
    [ -s "$fdfile" ] || { fail "Xvfb did not start: $(cat "$work/xvfb.err")"; return 1; }
    export DISPLAY=":$(tr -d '\n' <"$fdfile")"
    # the number is written before the server takes connections on some
    # hosts: wait until a client gets through
    for _ in $(seq 50); do
        xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    fail "Xvfb on $DISPLAY takes no connections: $(cat "$work/xvfb.err")"
    return 1
}

# window_geometry WID: sets wx, wy, ww, wh of that window.
window_geometry() {
    eval "$(xdotool getwindowgeometry --shell "$1" | sed -n 's/^\(X\|Y\|WIDTH\|HEIGHT\)=/G_\1=/p')"
    wx=$G_X wy=$G_Y ww=$G_WIDTH wh=$G_HEIGHT
}
