#!/usr/bin/env bash
# A PNG cartridge written by the kernel is an ordinary picture: ImageMagick
# reads it as a 512x384 PNG without complaint, decodes all of its pixels, and
# a copy that ImageMagick encodes afresh still carries the cartridge, which
# the kernel reads back from it.
#
# The cartridge is made by a headless machine whose boot.lua creates it in
# the host folder "data" beside the executable (mounted as /host_data) and
# lists that folder, which writes dirty cartridges out.
set -u
bin="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

check() {   # check NAME CONDITION-TEXT: counts a result, prints failures
    if [ "$2" = ok ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $1: $2"
    fi
}
finish() { echo "$passed passed, $failed failed"; [ "$failed" -eq 0 ]; exit $?; }

# convert is taken from beside identify: another program of that name may
# come first on the PATH.
identify="$(command -v identify || true)"
convert="$(dirname "${identify:-/}")/convert"
if [ -z "$identify" ] || [ ! -x "$convert" ] ||
    ! "$identify" -version 2>/dev/null | grep -q ImageMagick; then
    check "image tool" "ImageMagick's identify and convert are not installed (the imagemagick package; run tools/setup.sh)"
    finish
fi
if [ ! -x "$bin/kestrane-headless" ]; then
    check "kernel" "$bin/kestrane-headless not found (build the kestrane-headless target)"
    finish
fi

# The headless tool looks for "data" beside its own executable.
mkdir -p "$work/machine/data"
cp "$bin/kestrane-headless" "$work/machine/"
data="$work/machine/data"

# Runs a boot.lua in the machine; its output in $out.
run_machine() {
    printf '%s\n' "$1" >"$work/boot.lua"
    out="$(cd "$work" && timeout 60 ./machine/kestrane-headless boot.lua 10 2>"$work/stderr")"
}

# Bytes of a file inside the cartridge that are not text, so that the
# cartridge holds more than a line.
lua_gfx='local t = {} for i = 0, 2047 do t[#t + 1] = string.char(i * 37 % 256) end local gfx = table.concat(t)'

run_machine "$lua_gfx
mkdir(\"/host_data/game.k64.png\")
store(\"/host_data/game.k64.png/main.lua\", \"print('hello from the cartridge')\n\", \"\")
store(\"/host_data/game.k64.png/gfx/0.gfx\", gfx, \"\")
ls(\"/host_data\")
print(fstat(\"/host_data/game.k64.png\", true))
_signal(33)
flip()"
cart="$data/game.k64.png"
if [ ! -s "$cart" ]; then
    check "kernel writes the cartridge" "no $cart (machine printed: $out; $(cat "$work/stderr"))"
    finish
fi
check "kernel writes the cartridge" ok

# identify: a PNG of the cartridge's size, with warnings (bad checksums,
# truncated data) counted as errors.
info="$("$identify" -regard-warnings -format '%m %w %h' "$cart" 2>&1)"
[ "$info" = "PNG 512 384" ] && r=ok || r="identify says: $info"
check "identify reads it" "$r"

# convert decodes every pixel: 512 x 384 RGBA samples of 8 bits.
bytes="$("$convert" -regard-warnings "$cart" -depth 8 RGBA:- 2>"$work/convert.err" | wc -c)"
[ "$bytes" -eq $((512 * 384 * 4)) ] && r=ok || r="$bytes bytes of pixels ($(cat "$work/convert.err"))"
check "convert decodes all pixels" "$r"

# A copy encoded by ImageMagick keeps every pixel, so the kernel finds the
# same files in it.
"$convert" "$cart" PNG32:"$data/copy.k64.png" 2>"$work/convert.err"
run_machine "$lua_gfx
local code = fetch(\"/host_data/copy.k64.png/main.lua\")
local got = fetch(\"/host_data/copy.k64.png/gfx/0.gfx\")
print(code == \"print('hello from the cartridge')\n\" and got == gfx and \"same\" or \"differs\")
_signal(33)
flip()"
[ "$out" = same ] && r=ok || r="the kernel read the copy as: $out ($(cat "$work/convert.err"))"
check "the copy carries the cartridge" "$r"

finish
