#!/usr/bin/env bash
# Runs the benchmarks of a build; builds nothing.
#
#   bench/run.sh [BIN_DIR] [BENCHMARK_FLAGS...]
#
# BIN_DIR defaults to build/bin. First the Lua VM comparison: every case of
# bench_vm_stock and bench_vm_kestrane, the two run alternately case by
# case so that machine load drifts over both alike, three repetitions each,
# then a table of the medians with the kestrane/stock ratio per case and
# their geometric mean over the cases that run Lua code (the compiler case
# is listed but left out of it). BENCHMARK_FLAGS (for instance
# --benchmark_min_time=1, or --benchmark_filter=REGEX to compare only some
# cases) go to both VM benchmarks. Then kod against lua-cjson: kod_bench
# with its cases interleaved at random, five repetitions, and a table of the
# medians with the kod/cjson ratio for writing and reading (the flags other
# than the filter go to it too; without the lua-cjson package only the kod
# times are shown). Then drawing: gfx_bench, its cases interleaved at
# random, five repetitions, and a table of the medians giving cls and
# rectfill on a 480x270 target as a ratio to memset of the same bytes, and
# the time to compose one video frame (the flags other than the filter go to
# it too). Then every other bench_* or *_bench executable of BIN_DIR runs
# with its own output.
#
# Exits non-zero when a benchmark is missing or fails, or when the two
# cores compute different results; a ratio over the target is reported,
# not treated as a failure, since timings on a shared machine are noisy.
set -euo pipefail

bin=${1:-build/bin}
if [ $# -gt 0 ]; then shift; fi
# A --benchmark_filter chooses the VM cases to compare; the other flags
# are passed on.
filter=.
extra=()
for arg in "$@"; do
    case $arg in
        --benchmark_filter=*) filter=${arg#--benchmark_filter=} ;;
        *) extra+=("$arg") ;;
    esac
done

stock="$bin/bench_vm_stock"
kestrane="$bin/bench_vm_kestrane"
status=0

tmp=$(mktemp -d "${TMPDIR:-/tmp}/kestrane-bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

say() { printf '%s\n' "$*" >&2; }

# Runs one case of one VM benchmark into $tmp/<flavour>.<index>.json.
run_case() {
    local exe=$1 flavour=$2 index=$3 name=$4
    local out="$tmp/$flavour.$index.json"
    if ! "$exe" --benchmark_filter="^${name}\$" \
            --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
            --benchmark_format=json "${extra[@]}" >"$out" 2>"$tmp/stderr"; then
        say "bench: $flavour $name failed:"
        cat "$tmp/stderr" >&2
        return 1
    fi
}

# Runs $bin/NAME with its cases interleaved at random, five repetitions,
# into $tmp/NAME.json (the flags other than the filter go to it too).
run_interleaved() {
    local name=$1 exe="$bin/$1"
    if [ ! -x "$exe" ]; then
        say "bench: $exe not found (build the bench target first)"
        return 1
    fi
    say "bench: $name"
    if ! "$exe" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
            --benchmark_report_aggregates_only=true --benchmark_format=json \
            "${extra[@]}" >"$tmp/$name.json" 2>"$tmp/stderr"; then
        say "bench: $name failed:"
        cat "$tmp/stderr" >&2
        return 1
    fi
}

# The Python side reads the reports with bench/report.py.
report_dir=$(cd "$(dirname "$0")" && pwd)

vm_compare() {
    local exe
    for exe in "$stock" "$kestrane"; do
        if [ ! -x "$exe" ]; then
            say "bench: $exe not found (build the bench target first)"
            return 1
        fi
    done

    "$stock" --benchmark_list_tests --benchmark_filter="$filter" >"$tmp/stock.list"
    "$kestrane" --benchmark_list_tests --benchmark_filter="$filter" >"$tmp/kestrane.list"
    if ! cmp -s "$tmp/stock.list" "$tmp/kestrane.list"; then
        say "bench: bench_vm_stock and bench_vm_kestrane list different cases:"
        diff "$tmp/stock.list" "$tmp/kestrane.list" >&2 || true
        return 1
    fi
    local cases=()
    mapfile -t cases <"$tmp/stock.list"
    if [ ${#cases[@]} -eq 0 ]; then
        say "bench: no VM cases"
        return 1
    fi

    # Which of the two goes first alternates, so neither always runs on a
    # warmer (or more loaded) machine than the other.
    local i
    for i in "${!cases[@]}"; do
        say "bench: ${cases[$i]} ($((i + 1))/${#cases[@]})"
        if [ $((i % 2)) -eq 0 ]; then
            run_case "$stock" stock "$i" "${cases[$i]}" || return 1
            run_case "$kestrane" kestrane "$i" "${cases[$i]}" || return 1
        else
            run_case "$kestrane" kestrane "$i" "${cases[$i]}" || return 1
            run_case "$stock" stock "$i" "${cases[$i]}" || return 1
        fi
    done

    python3 - "$tmp" "${#cases[@]}" <<'EOF'
import json, math, sys

tmp, count = sys.argv[1], int(sys.argv[2])
TARGET = 1.03
TO_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}

def aggregates(path):
    """The aggregates of the one case in a JSON report, by aggregate name."""
    with open(path) as f:
        report = json.load(f)
    runs = report.get("benchmarks", [])
    errors = [r for r in runs if r.get("error_occurred")]
    if errors:
        raise SystemExit("bench: %s: %s" % (errors[0]["name"], errors[0].get("error_message", "error")))
    found = {r["aggregate_name"]: r for r in runs if r.get("run_type") == "aggregate"}
    if "median" not in found:
        raise SystemExit("bench: no median in %s" % path)
    return found

def ns(run):
    return run["cpu_time"] * TO_NS[run["time_unit"]]

rows, mismatches = [], []
for i in range(count):
    s = aggregates("%s/stock.%d.json" % (tmp, i))
    k = aggregates("%s/kestrane.%d.json" % (tmp, i))
    name = s["median"]["run_name"]
    s_ns, k_ns = ns(s["median"]), ns(k["median"])
    cv = max(a["cv"]["cpu_time"] if "cv" in a else 0.0 for a in (s, k))
    if s["median"].get("label") != k["median"].get("label"):
        mismatches.append("%s: stock %s, kestrane %s"
                          % (name, s["median"].get("label"), k["median"].get("label")))
    # Cases that run Lua code report the "insns" counter; the others (the
    # compiler case) do not execute instructions, so they are shown but
    # kept out of the mean that measures the preemption test.
    rows.append((name, s_ns, k_ns, k_ns / s_ns, cv, "insns" in s["median"]))

width = max(len("case"), max(len(r[0]) for r in rows))
print()
print("Lua VM: kestrane core vs stock Lua (CPU time per run, median of 3 repetitions)")
print("%-*s %15s %15s %7s %7s" % (width, "case", "stock ns", "kestrane ns", "ratio", "cv"))
for name, s_ns, k_ns, ratio, cv, runs in rows:
    flag = ("  over" if ratio > TARGET else "") if runs else "  (compile only, not in mean)"
    print("%-*s %15.0f %15.0f %7.3f %6.1f%%%s" % (width, name, s_ns, k_ns, ratio, cv * 100, flag))
ran = [r for r in rows if r[5]]
if ran:
    geo = math.exp(sum(math.log(r[3]) for r in ran) / len(ran))
    print("%-*s %15s %15s %7.3f" % (width, "geometric mean", "", "", geo))
    print("target: preemption test costs at most 3% (ratio <= 1.03)")
    print("result: %s" % ("within target" if geo <= TARGET else
                          "over target by %.1f%%" % ((geo - TARGET) * 100)))
print("(cv: the larger coefficient of variation of the two medians' repetitions)")
if mismatches:
    print("bench: the two cores computed different results:", file=sys.stderr)
    for m in mismatches:
        print("  " + m, file=sys.stderr)
    sys.exit(1)
EOF
}

if ! vm_compare; then
    status=1
fi

# kod writing and reading against lua-cjson on the same data.
kod_compare() {
    run_interleaved kod_bench || return 1

    python3 - "$tmp/kod_bench.json" "$report_dir" <<'EOF'
import sys
sys.path.insert(0, sys.argv[2])
from report import medians as read_medians, require, cpu

medians, errors = read_medians(sys.argv[1])

def ms(name):
    return cpu(medians[name], "ms")

def mbs(name):
    return medians[name].get("bytes_per_second", 0.0) / 1e6

rows = [("write, flags 0", "BM_kod_write/flags:0", "BM_cjson_encode"),
        ("write, flags 3", "BM_kod_write/flags:3", "BM_cjson_encode"),
        ("read, flags 0", "BM_kod_read/flags:0", "BM_cjson_decode"),
        ("read, flags 3", "BM_kod_read/flags:3", "BM_cjson_decode")]
require(medians, errors, [k for _, k, _ in rows])
have_cjson = all(c in medians for _, _, c in rows)

print()
print("kod vs lua-cjson, same data (CPU time per call, median of 5; lower is better)")
print("%-15s %9s %9s %9s %10s %10s" % ("case", "kod ms", "cjson ms", "kod/cjson", "kod MB/s", "cjson MB/s"))
over = []
for label, k, c in rows:
    if have_cjson:
        ratio = ms(k) / ms(c)
        if ratio > 1.0:
            over.append(label)
        print("%-15s %9.2f %9.2f %9.3f %10.1f %10.1f%s" % (label, ms(k), ms(c), ratio, mbs(k), mbs(c),
                                                          "  over" if ratio > 1.0 else ""))
    else:
        print("%-15s %9.2f %9s %9s %10.1f %10s" % (label, ms(k), "-", "-", mbs(k), "-"))
print("(MB/s: bytes of the encoded text; flags 0 as data files, flags 3 (kxu + lz4) as messages)")
if have_cjson:
    print("target: kod at least as fast as cjson (ratio <= 1.00)")
    print("result: %s" % ("within target" if not over else "over target: " + ", ".join(over)))
else:
    why = next((errors[c] for _, _, c in rows if c in errors), "no result")
    print("cjson cases skipped: %s" % why)
EOF
}

if ! kod_compare; then
    status=1
fi

# Drawing on a 480x270 target against memset of its bytes, and the video frame.
gfx_compare() {
    run_interleaved gfx_bench || return 1

    python3 - "$tmp/gfx_bench.json" "$report_dir" <<'EOF'
import sys
sys.path.insert(0, sys.argv[2])
from report import medians as read_medians, require, cpu

RECTFILL_TARGET = 2.0     # opaque rectfill at least half as fast as memset
FRAME_TARGET_US = 300.0   # one frame composed in under 0.3 ms
medians, errors = read_medians(sys.argv[1])

def us(name):
    return cpu(medians[name], "us")

base = "BM_memset_frame"
ratio_rows = [("cls", "BM_cls"),
              ("rectfill, opaque", "BM_rectfill_opaque"),
              ("rectfill, composed", "BM_rectfill_composed")]
time_rows = [("circfill r=100", "BM_circfill_r100"),
             ("line, 2 diagonals", "BM_line_diagonals"),
             ("video frame", "BM_video_frame")]
require(medians, errors, [base] + [k for _, k in ratio_rows + time_rows])

print()
print("drawing on 480x270 (CPU time per call, median of 5; lower is better)")
print("%-20s %10s %10s" % ("case", "us", "/ memset"))
print("%-20s %10.2f %10.3f" % ("memset 129600 B", us(base), 1.0))
for label, k in ratio_rows:
    print("%-20s %10.2f %10.3f" % (label, us(k), us(k) / us(base)))
for label, k in time_rows:
    print("%-20s %10.2f %10s" % (label, us(k), "-"))
opaque = us("BM_rectfill_opaque") / us(base)
frame = us("BM_video_frame")
print("targets: opaque rectfill / memset <= %.1f; video frame under %.0f us" % (RECTFILL_TARGET, FRAME_TARGET_US))
over = []
if opaque > RECTFILL_TARGET:
    over.append("rectfill %.2f" % opaque)
if frame >= FRAME_TARGET_US:
    over.append("frame %.0f us" % frame)
print("result: %s" % ("within target" if not over else "over target: " + ", ".join(over)))
EOF
}

if ! gfx_compare; then
    status=1
fi

# Every other benchmark in the folder, run as it is.
shopt -s nullglob
declare -A seen=()
for exe in "$bin"/bench_* "$bin"/*_bench; do
    name=$(basename "$exe")
    case $name in bench_vm_stock | bench_vm_kestrane | kod_bench | gfx_bench | fs_bench) continue ;; esac
    if [ ! -f "$exe" ] || [ ! -x "$exe" ]; then continue; fi
    [ -z "${seen[$name]:-}" ] || continue
    seen[$name]=1
    printf '\n=== %s\n' "$name"
    if ! "$exe"; then
        say "bench: $name failed"
        status=1
    fi
done

# The filesystem: mounting a 4 MB ROM cartridge of 1,000 files, ls of 10,000
# RAM files, store and fetch of a 1 MB kod value, and pfile lookups at
# 1,000, 10,000 and 100,000 files. fs_bench, its cases interleaved at random,
# five repetitions, then the medians (the flags other than the filter go to
# it too). Targets: the mount in under 50 ms; lookups that do not grow with
# the number of files (100 times the files must cost less than 10 times).
fs_compare() {
    run_interleaved fs_bench || return 1

    python3 - "$tmp/fs_bench.json" "$report_dir" <<'EOF'
import sys
sys.path.insert(0, sys.argv[2])
from report import medians as read_medians, require, cpu

MOUNT_TARGET_MS = 50.0
LOOKUP_TARGET = 10.0   # 100x the files: a linear lookup would cost 100x
SIZES = (1000, 10000, 100000)
medians, errors = read_medians(sys.argv[1])

def ms(name):
    return cpu(medians[name], "ms")

def lookup(kind, n):
    return "BM_lookup_%s/files:%d" % (kind, n)

timed = [("mount 4 MB ROM, 1000 files", "BM_mount_rom"),
         ("ls 10000 RAM files", "BM_ls"),
         ("store 1 MB kod value", "BM_store"),
         ("fetch 1 MB kod value", "BM_fetch")]
wanted = [k for _, k in timed] + [lookup(k, n) for k in ("present", "absent") for n in SIZES]
require(medians, errors, wanted)

print()
print("filesystem (CPU time per call, median of 5; lower is better)")
print("%-28s %9s" % ("case", "ms"))
for label, k in timed:
    note = ""
    if k == "BM_ls":
        note = "  (%d names)" % medians[k].get("names", 0)
    elif k in ("BM_store", "BM_fetch"):
        note = "  (%.0f kod bytes, %.0f in the file)" % (medians[k].get("kod_bytes", 0),
                                                      medians[k].get("file_bytes", 0))
    print("%-28s %9.2f%s" % (label, ms(k), note))
print("%-28s %9s %9s %9s %9s" % ("lookup, ns", "1000", "10000", "100000", "100k/1k"))
ratios = {}
for kind in ("present", "absent"):
    ns = [ms(lookup(kind, n)) * 1e6 for n in SIZES]
    ratios[kind] = ns[2] / ns[0]
    print("%-28s %9.0f %9.0f %9.0f %9.2f" % (kind, ns[0], ns[1], ns[2], ratios[kind]))
print("targets: mount under %.0f ms; lookup 100k/1k under %.0f (linear would be 100)"
      % (MOUNT_TARGET_MS, LOOKUP_TARGET))
over = []
if ms("BM_mount_rom") >= MOUNT_TARGET_MS:
    over.append("mount %.1f ms" % ms("BM_mount_rom"))
over += ["lookup %s %.1f" % (k, r) for k, r in ratios.items() if r >= LOOKUP_TARGET]
print("result: %s" % ("within target" if not over else "over target: " + ", ".join(over)))
EOF
}

if ! fs_compare; then
    status=1
fi

exit $status
