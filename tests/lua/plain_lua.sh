#!/usr/bin/env bash
# Runs every plain Lua program of tests/lua/programs under the stock
# interpreter (lua-stock) and under the kernel's core (kestrane-lua): the
# dialect must leave ordinary Lua untouched, so both must print the same
# bytes on stdout and stderr and exit with the same status. A program exits
# with status 0 unless it has a line "-- exit status: N"; the stock run
# must match that, so a program that is itself broken does not pass.
#
#   tests/lua/plain_lua.sh BIN_DIR [PROGRAM.lua...]
set -u
bin="${1:?usage: plain_lua.sh BIN_DIR [PROGRAM.lua...]}"
shift
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
progs="$here/programs"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

stock="$bin/lua-stock"
kestrane="$bin/kestrane-lua"
for exe in "$stock" "$kestrane"; do
    if [ ! -x "$exe" ]; then
        echo "FAIL: $exe not found"
        echo "0 passed, 1 failed"
        exit 1
    fi
done

# Runs interpreter $1 on program $2 into $work/$3.{out,err,status}. The
# interpreter always sees itself called "lua" and the program by its bare
# name, so messages that quote them are alike for both.
run() {
    local exe=$1 name=$2 tag=$3
    (cd "$progs" && env -u LUA_INIT -u LUA_INIT_5_4 -u LUA_PATH -u LUA_CPATH \
        timeout 60 bash -c 'exec -a lua "$0" "$1"' "$exe" "$name" \
        </dev/null >"$work/$tag.out" 2>"$work/$tag.err")
    echo $? >"$work/$tag.status"
}

if [ $# -gt 0 ]; then
    names=("$@")
else
    names=()
    for f in "$progs"/*.lua; do names+=("$(basename "$f")"); done
fi

passed=0
failed=0
for name in "${names[@]}"; do
    if [ ! -f "$progs/$name" ]; then
        echo "FAIL: $name: no such program"
        failed=$((failed + 1))
        continue
    fi
    expected="$(sed -n 's/^-- exit status: \([0-9]*\)$/\1/p' "$progs/$name" | head -n 1)"
    expected="${expected:-0}"
    run "$stock" "$name" stock
    run "$kestrane" "$name" kestrane
    s_status="$(cat "$work/stock.status")"
    k_status="$(cat "$work/kestrane.status")"
    problems=()
    if [ "$s_status" != "$expected" ]; then
        problems+=("lua-stock exited with status $s_status, expected $expected")
    fi
    if [ ! -s "$work/stock.out" ]; then
        problems+=("lua-stock printed nothing")
    fi
    if [ "$s_status" != "$k_status" ]; then
        problems+=("exit status: lua-stock $s_status, kestrane-lua $k_status")
    fi
    if ! cmp -s "$work/stock.out" "$work/kestrane.out"; then
        problems+=("stdout differs")
    fi
    if ! cmp -s "$work/stock.err" "$work/kestrane.err"; then
        problems+=("stderr differs")
    fi
    if [ ${#problems[@]} -eq 0 ]; then
        passed=$((passed + 1))
        continue
    fi
    failed=$((failed + 1))
    echo "FAIL: $name"
    for p in "${problems[@]}"; do echo "  $p"; done
    for stream in out err; do
        if ! cmp -s "$work/stock.$stream" "$work/kestrane.$stream"; then
            diff -a -u --label "lua-stock std$stream" --label "kestrane-lua std$stream" \
                "$work/stock.$stream" "$work/kestrane.$stream" | head -n 200
        fi
    done
    if [ "$s_status" != "$expected" ] && [ -s "$work/stock.err" ]; then
        echo "  lua-stock stderr:"
        head -n 20 "$work/stock.err" | sed 's/^/    /'
    fi
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
