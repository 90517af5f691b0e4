# Shared by the tests of the system software in this folder (sourced, not
# run: the .bash name keeps it out of the test list). It sets
#   here  this folder        sys  the system folder
#   passed, failed           the counts that finish prints
# A headless test then calls headless_setup BIN_FOLDER; a test under a
# virtual X server calls xvfb_setup BIN_FOLDER NAME instead.

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
sys="$(cd "$here/../../system" && pwd)"
passed=0
failed=0

pass() { passed=$((passed + 1)); echo "PASS $*"; }
fail() { failed=$((failed + 1)); echo "FAIL $*"; }

# finish: the last line, "N passed, N failed", and the exit status.
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ] && exit 0
    exit 1
}

# install_system FOLDER: the real program with a ROM of the system folder
# beside it, as a build leaves them.
install_system() {
    mkdir -p "$1" &&
        "$bin/mkrom" "$sys" "$1/sysrom.dat" >/dev/null &&
        cp "$bin/kestrane" "$1/"
}

# ------------------------------------------------------------------ headless

# headless_setup BIN_FOLDER: sets bin and work, a temporary folder removed
# at exit (KEEP=1 keeps it).
headless_setup() {
    bin="$(cd "$1" && pwd)"
    work="$(mktemp -d)"
    trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
}

# copy_system DEST: a copy of the system folder for a test to change, with
# the drivers' library as /system/test/driver_lib.lua.
copy_system() {
    cp -r "$sys" "$1"
    mkdir -p "$1/test"
    cp "$here/driver_lib.lua" "$1/test/"
}

# count_results LOG: adds the PASS and FAIL lines of what a machine printed
# to the counts and shows the FAIL and NOTE lines. A log without a DONE line
# (the driver crashed or hung) is a failure too; after a failure the rest of
# the log and of LOG.err (if any) is shown.
count_results() {
    local log="$1" f
    grep '^FAIL\|^NOTE ' "$log"
    passed=$((passed + $(grep -c '^PASS ' "$log")))
    f=$(grep -c '^FAIL' "$log")
    failed=$((failed + f))
    if ! grep -q '^DONE$' "$log"; then
        fail "$(basename "$log"): the driver did not finish"
        f=$((f + 1))
    fi
    if [ "$f" -gt 0 ]; then
        echo "--- the rest of $(basename "$log"):"
        grep -v '^PASS \|^FAIL\|^NOTE ' "$log" | tail -n 20
        [ -s "$log.err" ] && tail -n 20 "$log.err"
    fi
}

# run_machine FOLDER FRAMES LOG: a headless machine with FOLDER as its
# system ROM runs FRAMES frames (a minute at most); its results are counted.
# What kestrane-headless itself says goes to LOG.err: written to the same
# file, its lines could land in the middle of the machine's.
run_machine() {
    timeout 60 "$bin/kestrane-headless" "$1" "$2" >"$3" 2>"$3.err"
    count_results "$3"
}

# ------------------------------------------------------ virtual X server

# xvfb_setup BIN_FOLDER NAME: for the tests of the real program on a virtual
# X server. Sets bin, work (kept when a check failed), artifacts (beside the
# bin folder, for screenshots); takes Xvfb, pass, fail and cleanup from
# tests/host/xvfb_common.bash; skips the test when a tool is missing; puts
# the program and its ROM in $work/run and makes $work/home/drive.
xvfb_setup() {
    bin="$(cd "$1" && pwd)"
    artifacts="$bin/../artifacts"
    work="$(mktemp -d "${TMPDIR:-/tmp}/kestrane-$2.XXXXXX")"
    source "$here/../host/xvfb_common.bash"
    trap cleanup EXIT
    export SDL_RENDER_DRIVER=software SDL_FRAMEBUFFER_ACCELERATION=0
    local tool
    for tool in Xvfb xdotool xwd python3; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "skipped: $tool is not installed (tools/setup.sh installs it)"
            finish
        fi
    done
    mkdir -p "$work/home/drive" "$artifacts"
    install_system "$work/run" || { fail "mkrom"; finish; }
}

# start_kestrane: the program on a fresh 960x540 screen, where its 480x270
# display shows at twice its size; sets kestrane_pid.
start_kestrane() {
    start_x 960x540 || finish
    "$work/run/kestrane" -home "$work/home" >"$work/out.txt" 2>"$work/err.txt" &
    kestrane_pid=$!
}

# Screenshots and what screen.py (beside this file) makes of them; its
# coordinates are those of the display.
# shot NAME: a screenshot of the screen as $work/NAME.xwd
shot() { xwd -root -silent >"$work/$1.xwd" 2>/dev/null; }
screen() { python3 "$here/screen.py" "$@"; }
# keep NAME FILE: the screenshot NAME kept as FILE in the artifacts folder
keep() { screen png "$work/$1.xwd" "$artifacts/$2"; }

# until_ok TRIES COMMAND...: runs the command every 0.2 s until it
# succeeds; its last output is left in $got.
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

# click X Y (display coordinates): press and release over a few frames
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

# end_checks PREFIX: the program still runs with its window shown, then
# stops; neither its log nor what it printed has an error line (runtime and
# syntax errors, error reports, the window manager's own complaints).
end_checks() {
    if kill -0 "$kestrane_pid" 2>/dev/null && xdotool search --onlyvisible --name "^kestrane" >/dev/null 2>&1; then
        pass "$1the system is still running"
    else
        fail "$1the system ended: $(tail -5 "$work/out.txt")"
    fi
    kill -TERM "$kestrane_pid" 2>/dev/null
    wait "$kestrane_pid" 2>/dev/null
    kestrane_pid=""
    local bad
    bad="$(grep -hE '\*\* |RUNTIME|[Rr]untime error|[Ss]yntax error|SYSTEM ERROR|^wm: ' "$work/home/log.txt" "$work/out.txt")"
    if [ -z "$bad" ]; then pass "$1no errors in log.txt"; else fail "$1errors logged: $bad"; fi
}
