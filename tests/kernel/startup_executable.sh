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
# mkrom's export name, exported cartridge and flags word: the data folder
# follows the export name and the cartridge runs as the video process
mkdir -p "$work/cart" "$work/c" "$work/xdg"
echo 'x = 1' > "$work/cart/main.lua"
cat > "$work/sys/boot.lua" <<'LUA'
print(stat(317), stat(335), fetch('/ram/expcart/main.lua', 2))
_signal(33)
flip()
LUA
"$bin/mkrom" -name demo -cart "$work/cart" -flags 1 "$work/sys" "$work/c/sysrom.dat" >/dev/null ||
    fail "mkrom with a cartridge"
cp "$bin/kestrane" "$work/c/"
out="$(XDG_DATA_HOME="$work/xdg" timeout 20 "$work/c/kestrane" -x 2>&1)"
[ "$out" = "$(printf '3\t1\tx = 1')" ] || fail "exported cartridge: $out"
[ -f "$work/xdg/Kestrane/exp/demo/log.txt" ] || fail "export name: no log in its data folder"
"$bin/mkrom" -flags 1 "$work/sys" "$work/c/x.dat" 2>/dev/null && fail "flags without a cartridge accepted"
echo "2 passed, 0 failed"
