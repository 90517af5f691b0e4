#!/usr/bin/env bash
# Starts the real kestrane executable from outside: it must find sysrom.dat
# beside itself, report a missing one with status 1, and exit cleanly when
# the system asks it to.
set -u
bin="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# no sysrom.dat beside the executable
mkdir -p "$work/a" "$work/home"
cp "$bin/kestrane" "$work/a/"
out="$(timeout 20 "$work/a/kestrane" -x -home "$work/home" 2>&1)"
status=$?
[ "$status" -eq 1 ] || fail "missing sysrom.dat: status $status"
grep -q "sysrom.dat not found" <<<"$out" || fail "missing sysrom.dat: message: $out"
grep -q "sysrom.dat not found" "$work/home/log.txt" || fail "missing sysrom.dat: not logged"

# a system whose boot.lua asks to exit after a few frames
mkdir -p "$work/sys" "$work/b"
cat > "$work/sys/boot.lua" <<'LUA'
for i = 1, 3 do print("frame " .. i) flip() end
_signal(33)
flip()
LUA
"$bin/mkrom" "$work/sys" "$work/b/sysrom.dat" >/dev/null || fail "mkrom"
cp "$bin/kestrane" "$work/b/"
out="$(timeout 20 "$work/b/kestrane" -x -home "$work/home2" 2>&1)"
status=$?
[ "$status" -eq 0 ] || fail "exit request: status $status ($out)"
[ "$out" = "$(printf 'frame 1\nframe 2\nframe 3')" ] || fail "exit request: output: $out"
grep -q "\[kestrane_exit\] ok" "$work/home2/log.txt" || fail "exit request: shutdown not logged"
grep -q "booting kestrane 0.3.0c" "$work/home2/log.txt" || fail "banner not logged"

# the system we ship boots and keeps running
out="$(timeout 3 "$bin/kestrane" -x -home "$work/home3" 2>&1)"
status=$?
[ "$status" -eq 124 ] || fail "shipped system stopped with status $status: $out"
echo "1 passed, 0 failed"
